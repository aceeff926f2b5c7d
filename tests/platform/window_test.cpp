// The demo window seen from outside: a demo-like loop (platform_window_loop) runs full-screen
// on a private Xvfb screen while real X clients type into it, resize it, ask it to close and
// take screenshots of the root window.
#include "attendance_environment.h"
#include "platform/window.h"
#include "tests/support/process.h"
#include "tests/support/services.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <unistd.h>
#include <utility>

namespace {

constexpr int screenWidth = 1000; // neither the requested 800 x 450 nor a common size
constexpr int screenHeight = 600;
const std::string loopProgram = NOVA31_BINARY_DIR "/platform_window_loop";

// What a window manager sends when the user closes a window.
void requestClose(const std::string& displayName, const std::string& window) {
    Display* connection = XOpenDisplay(displayName.c_str());
    ASSERT_NE(connection, nullptr);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = std::stoul(window);
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(connection, event.xclient.window, False, NoEventMask, &event);
    XFlush(connection);
    XCloseDisplay(connection);
}

class WindowLoop : public ::testing::Test {
protected:
    static void SetUpTestSuite() { display = new PrivateDisplay(screenWidth, screenHeight); }
    static void TearDownTestSuite() {
        delete display;
        display = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(display->started()) << "Xvfb did not start"; }

    // Starts the loop and waits until its window is open.
    std::unique_ptr<ChildProcess> startLoop(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), loopProgram);
        auto loop = std::make_unique<ChildProcess>(
            arguments, std::vector<std::string>{display->environment(), "NOVA31_UNATTENDED=1"});
        EXPECT_TRUE(loop->waitForLine(
            "Window " + std::to_string(screenWidth) + " " + std::to_string(screenHeight), 20.0))
            << loop->output();
        return loop;
    }

    // The X window id of the loop's window, found by its process id.
    std::string windowOf(const ChildProcess& loop) {
        std::string found;
        EXPECT_EQ(display->run("xdotool search --pid " + std::to_string(loop.pid()) + " 2>/dev/null", &found),
                  0);
        return found.substr(0, found.find('\n'));
    }

    void xdotool(const std::string& arguments) {
        std::string output;
        EXPECT_EQ(display->run("xdotool " + arguments, &output), 0) << output;
    }

    // Keys taken by the loop so far, in order.
    static std::vector<int> keysTaken(const ChildProcess& loop) {
        std::vector<int> keys;
        for (const std::string& line : loop.lines()) {
            if (line.rfind("Key:", 0) == 0) keys.push_back(std::stoi(line.substr(4)));
        }
        return keys;
    }

    static PrivateDisplay* display;
};

PrivateDisplay* WindowLoop::display = nullptr;

TEST_F(WindowLoop, FullScreenStartFillsTheScreenAndLogsInOrder) {
    Display* connection = XOpenDisplay(display->displayName().c_str());
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(DisplayWidth(connection, DefaultScreen(connection)), screenWidth);
    EXPECT_EQ(DisplayHeight(connection, DefaultScreen(connection)), screenHeight);
    XCloseDisplay(connection);

    auto loop = startLoop();
    std::vector<std::string> expected = {
        "Setting style to max!",
        "!! Resize called: " + std::to_string(screenWidth) + " " + std::to_string(screenHeight), "KeyCount:0",
        "Window " + std::to_string(screenWidth) + " " + std::to_string(screenHeight)};
    EXPECT_EQ(loop->lines(), expected) << loop->output();

    std::string geometry;
    display->run("xdotool getwindowgeometry " + windowOf(*loop) + " 2>/dev/null", &geometry);
    EXPECT_NE(geometry.find("Position: 0,0"), std::string::npos) << geometry;
    EXPECT_NE(geometry.find("Geometry: 1000x600"), std::string::npos) << geometry;
    std::string title;
    display->run("xdotool getwindowname " + windowOf(*loop) + " 2>/dev/null", &title);
    EXPECT_EQ(title, "DEMOWINDOW\n");

    xdotool("key Escape");
    EXPECT_EQ(loop->waitForExit(10.0), 0) << loop->output();
    // The loop's last words (a sanitizer build may print its report after them).
    auto escape = std::find(loop->lines().begin(), loop->lines().end(), "Key:27");
    ASSERT_NE(escape, loop->lines().end()) << loop->output();
    ASSERT_NE(escape + 1, loop->lines().end()) << loop->output();
    EXPECT_EQ(*(escape + 1), "Loop end");
}

TEST_F(WindowLoop, TypedCharactersArriveInOrderAndCase) {
    auto loop = startLoop();
    xdotool("type --delay 15 'aBpP,.z9'");
    ASSERT_TRUE(loop->waitForLine("Key:57", 10.0)) << loop->output();
    xdotool("key Escape");
    EXPECT_EQ(loop->waitForExit(10.0), 0) << loop->output();
    EXPECT_EQ(keysTaken(*loop), (std::vector<int>{'a', 'B', 'p', 'P', ',', '.', 'z', '9', 27}));
    // 'p' toggles the pause; upper-case 'P' is no command.
    EXPECT_EQ(std::count(loop->lines().begin(), loop->lines().end(), "Paused"), 1) << loop->output();
    EXPECT_EQ(std::count(loop->lines().begin(), loop->lines().end(), "Resumed"), 0) << loop->output();
}

TEST_F(WindowLoop, ResizeIsReportedAndApplied) {
    auto loop = startLoop();
    xdotool("windowsize " + windowOf(*loop) + " 640 360");
    EXPECT_TRUE(loop->waitForLine("!! Resize called: 640 360", 10.0)) << loop->output();
    EXPECT_TRUE(loop->waitForLine("Viewport 0 0 640 360", 10.0)) << loop->output();
    xdotool("key Escape");
    EXPECT_EQ(loop->waitForExit(10.0), 0) << loop->output();
}

TEST_F(WindowLoop, CloseRequestEndsTheLoopLikeEscape) {
    auto loop = startLoop();
    std::string window = windowOf(*loop);
    ASSERT_FALSE(window.empty());

    requestClose(display->displayName(), window);

    EXPECT_EQ(loop->waitForExit(10.0), 0) << loop->output();
    EXPECT_EQ(keysTaken(*loop), std::vector<int>{27});
}

TEST_F(WindowLoop, ScreenshotShowsTheClearColourOfTheRamp) {
    constexpr float musicTime = 2.0f;
    auto loop = startLoop({"--time", "2.0"});
    // The ramp at t >= 0 is ((1 + floor(30 t)) mod 256) / 255: 61/255 at 2 s, on every pixel.
    const int expectedBlue = (1 + static_cast<int>(std::floor(30.0 * musicTime))) % 256;

    // The loop presents the same colour every frame; on a loaded machine the first frames may
    // take a while, so shots are taken until one shows it (or five seconds have passed).
    std::string shot =
        std::string(NOVA31_BINARY_DIR) + "/tests/platform_screenshot_" + std::to_string(getpid()) + ".rgb";
    int wrong = -1;
    std::string firstPixel;
    for (int attempt = 0; attempt < 25 && wrong != 0; ++attempt) {
        usleep(200000);
        std::string output;
        ASSERT_EQ(display->run("import -window root -depth 8 rgb:" + shot, &output), 0) << output;
        std::ifstream file(shot, std::ios::binary);
        std::vector<unsigned char> pixels((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
        unlink(shot.c_str());
        ASSERT_EQ(pixels.size(), static_cast<size_t>(screenWidth * screenHeight * 3));
        wrong = 0;
        for (size_t index = 0; index < pixels.size(); index += 3) {
            if (pixels[index] != 0 || pixels[index + 1] != 0 || pixels[index + 2] != expectedBlue) ++wrong;
        }
        firstPixel =
            std::to_string(pixels[0]) + "," + std::to_string(pixels[1]) + "," + std::to_string(pixels[2]);
    }
    EXPECT_EQ(wrong, 0) << "pixels off the ramp colour; the first is " << firstPixel;

    xdotool("key Escape");
    EXPECT_EQ(loop->waitForExit(10.0), 0) << loop->output();
}

// ---- Start-up failures: a fatal error that names what was missing, exit code -1 ----

struct FatalStart {
    const char* what;
    std::vector<std::string> environment;
    const char* message;
};

void PrintTo(const FatalStart& start, std::ostream* stream) {
    *stream << start.what;
}

class WindowStartFailure : public WindowLoop, public ::testing::WithParamInterface<FatalStart> {};

TEST_P(WindowStartFailure, EndsWithExitCodeMinusOneAndNamesTheProblem) {
    std::vector<std::string> environment = GetParam().environment;
    environment.push_back("NOVA31_UNATTENDED=1");
    if (std::find_if(environment.begin(), environment.end(), [](const std::string& entry) {
            return entry.rfind("DISPLAY", 0) == 0;
        }) == environment.end()) {
        environment.push_back(display->environment());
    }
    ChildProcess loop({loopProgram}, environment);
    EXPECT_EQ(loop.waitForExit(20.0), 255) << loop.output();
    EXPECT_NE(loop.output().find(GetParam().message), std::string::npos) << loop.output();
}

INSTANTIATE_TEST_SUITE_P(
    Platform, WindowStartFailure,
    ::testing::Values(
        FatalStart{"NoDisplay", {"DISPLAY"}, "no usable display"},
        FatalStart{"UnreachableDisplay", {"DISPLAY=:4094"}, "no usable display (DISPLAY=\":4094\""},
        FatalStart{"OpenGL42", {"MESA_GL_VERSION_OVERRIDE=4.2"}, "OpenGL 4.3 core is needed"},
        FatalStart{"OpenGL42Core", {"MESA_GL_VERSION_OVERRIDE=4.2FC"}, "found version \"4.2"},
        FatalStart{"NoComputeShaders",
                   {"MESA_GL_VERSION_OVERRIDE=4.5", "MESA_EXTENSION_OVERRIDE=-GL_ARB_compute_shader"},
                   "the GL context has no compute shaders (version \"4.5"}),
    [](const ::testing::TestParamInfo<FatalStart>& info) { return std::string(info.param.what); });

// ---- Who may see a fatal error's message box ----

// A display of its own, a desktop-like environment, and optionally a stand-in for a window
// manager: the announcement a conforming one makes on the root window.
class AttendanceOnADisplay : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.started());
        setenv("DISPLAY", server.displayName().c_str(), 1);
        setenv("XDG_SESSION_TYPE", "x11", 1);
    }
    void TearDown() override {
        if (windowManager != nullptr) XCloseDisplay(windowManager);
    }
    void announceWindowManager() {
        windowManager = XOpenDisplay(server.displayName().c_str());
        ASSERT_NE(windowManager, nullptr);
        Window root = DefaultRootWindow(windowManager);
        Window check = XCreateSimpleWindow(windowManager, root, 0, 0, 1, 1, 0, 0, 0);
        Atom property = XInternAtom(windowManager, "_NET_SUPPORTING_WM_CHECK", False);
        for (Window target : {root, check}) {
            XChangeProperty(windowManager, target, property, XA_WINDOW, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&check), 1);
        }
        XSync(windowManager, False);
    }
    PrivateDisplay server{320, 240};
    Display* windowManager = nullptr;
    AttendanceEnvironment environment; // restored after the test
};

TEST_F(AttendanceOnADisplay, DesktopSessionWithWindowManagerHasAPerson) {
    announceWindowManager();
    EXPECT_TRUE(personIsPresent());
}

TEST_F(AttendanceOnADisplay, BareVirtualServerHasNobody) {
    EXPECT_FALSE(personIsPresent());
}

TEST_F(AttendanceOnADisplay, ContinuousIntegrationAndUnattendedRunsHaveNobody) {
    announceWindowManager();
    setenv("CI", "true", 1);
    EXPECT_FALSE(personIsPresent());
    setenv("CI", "false", 1);
    EXPECT_TRUE(personIsPresent());
    setenv("NOVA31_UNATTENDED", "1", 1);
    EXPECT_FALSE(personIsPresent());
    setenv("NOVA31_UNATTENDED", "0", 1);
    EXPECT_TRUE(personIsPresent());
}

TEST_F(AttendanceOnADisplay, NoSessionAndNoTerminalHasNobody) {
    announceWindowManager();
    unsetenv("XDG_SESSION_TYPE");
    if (isatty(0)) GTEST_SKIP() << "standard input is a terminal";
    EXPECT_FALSE(personIsPresent());
}

// With a person there the fatal error goes to the box after standard error. Where the X server
// lacks the core fonts SDL's box draws with (a bare Xvfb), SDL reports that it could not show
// it; otherwise the box is there and the process ends once it is closed.
TEST_F(AttendanceOnADisplay, FatalErrorShowsTheBoxAndExitsOnceItIsClosed) {
    announceWindowManager();
    ChildProcess loop({loopProgram}, {"MESA_GL_VERSION_OVERRIDE=4.2"});
    const std::string boxFailed = "(the message box could not be shown: ";
    std::string box;
    bool failedToShow = false;
    for (int attempt = 0; attempt < 100 && box.empty() && !failedToShow; ++attempt) {
        loop.waitForLine("", 0.1);
        for (const std::string& line : loop.lines())
            failedToShow = failedToShow || line.rfind(boxFailed, 0) == 0;
        server.run("xdotool search --name '^NOVA31$' 2>/dev/null", &box);
    }
    ASSERT_TRUE(failedToShow || !box.empty()) << loop.output();
    EXPECT_NE(loop.output().find("found version \"4.2"), std::string::npos) << loop.output();
    if (!box.empty()) {
        EXPECT_EQ(loop.waitForExit(0.5), -1) << "did not wait for the box";
        requestClose(server.displayName(), box.substr(0, box.find('\n')));
    }
    EXPECT_EQ(loop.waitForExit(10.0), 255) << loop.output();
}

TEST(WindowStart, DisplayWithoutGLXEndsWithThePixelFormatError) {
    PrivateDisplay noGLX(640, 480, {"-extension", "GLX"});
    ASSERT_TRUE(noGLX.started());
    ChildProcess loop({loopProgram}, {noGLX.environment(), "NOVA31_UNATTENDED=1"});
    EXPECT_EQ(loop.waitForExit(20.0), 255) << loop.output();
    EXPECT_NE(loop.output().find("Error, could not initialize a GL context du eto missing pixel fmt"),
              std::string::npos)
        << loop.output();
}

} // namespace
