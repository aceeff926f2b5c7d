// The demo program itself, run as a child process: its archive, its start-up lines, its end.

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/services.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The command that starts the demo with `arguments`: build/nova31, or the build of the demo that
// NOVA31_DEMO_PROGRAM names (the Windows build's nova31.exe), started through the program that
// NOVA31_DEMO_LAUNCHER names when that is set (scripts/wine-run.sh).
std::vector<std::string> demoCommand(const std::vector<std::string>& arguments = {}) {
    std::vector<std::string> command;
    const char* launcher = std::getenv("NOVA31_DEMO_LAUNCHER");
    if (launcher != nullptr && launcher[0] != '\0') command.push_back(launcher);
    const char* program = std::getenv("NOVA31_DEMO_PROGRAM");
    command.push_back(program != nullptr && program[0] != '\0' ? program
                                                               : std::string(NOVA31_BINARY_DIR) + "/nova31");
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

// Text as the Linux program writes it: a Windows program ends its lines with "\r\n".
std::string unixLines(std::string text) {
    size_t to = 0;
    for (size_t from = 0; from < text.size(); ++from) {
        if (text[from] == '\r' && from + 1 < text.size() && text[from + 1] == '\n') continue;
        text[to++] = text[from];
    }
    text.resize(to);
    return text;
}

// runProcess on demoCommand(arguments), with Unix line ends in what the watcher and the result see.
ProcessResult runDemo(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                      double timeoutSeconds, const WhileRunning& whileRunning = nullptr) {
    WhileRunning watcher;
    if (whileRunning)
        watcher = [&](const std::string& out, pid_t pid) { return whileRunning(unixLines(out), pid); };
    ProcessResult run = runProcess(demoCommand(arguments), workingDirectory, timeoutSeconds, watcher);
    run.out = unixLines(std::move(run.out));
    run.err = unixLines(std::move(run.err));
    return run;
}

// The scratch folders of this test process; they go when it ends.
ScratchFolder& scratchRoot() {
    static ScratchFolder root("demo");
    return root;
}

std::string scratchFolder(const std::string& name) {
    fs::path dir = scratchRoot().path() / name;
    fs::create_directories(dir);
    return dir.string();
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

// Positions of `lines` in `text`, which must appear in this order.
void expectInOrder(const std::string& text, const std::vector<std::string>& lines) {
    size_t from = 0;
    for (const std::string& line : lines) {
        size_t at = text.find(line, from);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: \"" << line << "\"\n"
                                         << text.substr(0, 3000);
        from = at + line.size();
    }
}

} // namespace

TEST(DemoProgram, DataArgumentReadsThatArchiveAndTheLastOneWins) {
    std::string dir = scratchFolder("data-argument");
    writeFile(dir + "/a.txt", "first member");
    writeFile(dir + "/b.txt", "second");
    ASSERT_EQ(runShell("cd '" + dir + "' && rm -f x.zip && zip -q x.zip a.txt b.txt && rm a.txt b.txt"), 0);
    ProcessResult run = runDemo({"-data:nowhere.zip", "-data:", "-data:x.zip"}, dir, 60);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(
        run.out.rfind("Demo start\nfile:a.txt found\nput to system!file:b.txt found\nput to system!", 0), 0u)
        << run.out;
    // The archive holds no music and the folder no tune.ogg: a fatal error names the file.
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_NE(run.err.find("tune.ogg"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("COULD NOT OPEN"), std::string::npos) << "the earlier -data: must be ignored";
}

TEST(DemoProgram, MissingArchiveFileIsReportedAndFilesAreLookedForOnDisk) {
    std::string dir = scratchFolder("missing-archive");
    ProcessResult run = runDemo({"-data:absent.zip"}, dir, 60);
    EXPECT_NE(run.err.find("COULD NOT OPEN:absent.zip\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_NE(run.err.find("tune.ogg"), std::string::npos) << run.err;
}

namespace {

// The demo's own assets, changed by `change` and zipped by Info-ZIP into `dir`/assets.zip.
void writeChangedAssets(const std::string& dir, const std::function<void(const fs::path&)>& change) {
    fs::path copy = fs::path(dir) / "assets";
    fs::copy(fs::path(NOVA31_SOURCE_DIR) / "assets", copy, fs::copy_options::recursive);
    change(copy);
    ASSERT_EQ(runShell("cd '" + copy.string() + "' && zip -q -r ../assets.zip ."), 0);
}

} // namespace

TEST(DemoProgram, ABrokenTuneEndsTheRunWithTheMusicPlayersFatalError) {
    std::string dir = scratchFolder("broken-tune");
    writeChangedAssets(dir, [](const fs::path& assets) { writeFile(assets / "tune.ogg", "no Ogg"); });
    ProcessResult run = runDemo({"-data:assets.zip"}, dir, 60);
    ASSERT_FALSE(run.timedOut) << run.out;
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_NE(run.out.find("Fatal Error:OGG not seekable\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Tune done"), std::string::npos) << run.out;
}

namespace {

bool haveDisplayAndAudio() {
    return std::getenv("DISPLAY") != nullptr;
}

// A small X display of the test's own, so that the full-screen demo renders few pixels on a
// software GL driver. DISPLAY points at it while it lives. With NOVA31_DEMO_SHARED_DISPLAY set
// the display of the environment serves instead: Wine binds its desktop to the display of its
// server's first program, so every Windows run of one Wine server shares one small display.
class SmallDisplay {
public:
    SmallDisplay() {
        if (std::getenv("NOVA31_DEMO_SHARED_DISPLAY") != nullptr) return;
        display.emplace(320, 180);
        if (display->started()) environment.set("DISPLAY", display->displayName());
    }
    bool ready() const { return display ? display->started() : std::getenv("DISPLAY") != nullptr; }

private:
    std::optional<PrivateDisplay> display;
    ScopedEnvironment environment;
};

// Members the demo's own archive must list, in the order the build packs them.
const std::vector<std::string> shippedMembers = {"deferred.glsl", "scene1.gltf", "texm.glsl", "tune.ogg",
                                                 "util.glsl"};

} // namespace

TEST(DemoProgram, PlaysToTheTwentySecondEndByItself) {
    if (!haveDisplayAndAudio()) GTEST_SKIP() << "needs a display (Xvfb) and an audio device (JACK dummy)";
    SmallDisplay display;
    ASSERT_TRUE(display.ready()) << "could not start Xvfb";
    std::string folder = scratchFolder("full-run");
    std::string screenshot = folder + "/screen.png";
    bool captured = false;
    auto started = std::chrono::steady_clock::now();
    auto photograph = [&](const std::string& out, pid_t) {
        // Once a few frames were shown, photograph the screen from outside the program.
        if (countOf(out, "Post-render-frame!\n") < 4) return true;
        captured = runShell("import -window root '" + screenshot + "'") == 0;
        return false;
    };
    ProcessResult run = runDemo({}, folder, 150, photograph);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_FALSE(run.timedOut) << run.out.substr(0, 2000) << run.err;
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The music clock runs in real time on the paced device: twenty seconds of music take about that long.
    EXPECT_GE(seconds, 19.0);

    expectInOrder(run.out,
                  {"Demo start\n", "file:", "put to system!", "Tune done\n", "Setting style to max!\n",
                   "!! Resize called: ", "KeyCount:", "Post blob init!\n", "Post-play"});
    for (const std::string& member : shippedMembers)
        EXPECT_NE(run.out.find("file:" + member + " found\nput to system!"), std::string::npos) << member;
    size_t frames = countOf(run.out, "Post-render-frame!\n");
    size_t fpsLines = 0;
    std::regex fpsLine("[0-9]+\\.[0-9]{4} FPS\n");
    for (auto it = std::sregex_iterator(run.out.begin(), run.out.end(), fpsLine);
         it != std::sregex_iterator(); ++it)
        ++fpsLines;
    EXPECT_GE(frames, 5u) << "a rendered frame every pass";
    EXPECT_GE(fpsLines, 1u);
    // Every tenth pass prints the estimate and each pass renders at most one frame.
    EXPECT_LE(fpsLines, frames / 10 + 1);
    EXPECT_EQ(run.out.find("GL_DEBUG_TYPE_ERROR"), std::string::npos) << "the driver reported a GL error";

    // The screen shows the lit scene: many colours and a real brightness, not the clear colour (one
    // colour, blue only) and not black.
    ASSERT_TRUE(captured) << "no screenshot could be taken";
    std::string statisticsFile = folder + "/statistics.txt";
    ASSERT_EQ(runShell("convert '" + screenshot +
                       "' -format '%k %[fx:mean.r] %[fx:mean.g] %[fx:mean.b]' info: > '" + statisticsFile +
                       "'"),
              0);
    std::ifstream statistics(statisticsFile);
    int colours = 0;
    double red = 0, green = 0, blue = 0;
    statistics >> colours >> red >> green >> blue;
    EXPECT_GT(colours, 1000) << "the screen holds only " << colours << " colours";
    EXPECT_GT(red, 0.05) << "too dark: mean red " << red;
    EXPECT_GT(green, 0.05) << "too dark: mean green " << green;
}

TEST(DemoProgram, EscapeTypedMidRunEndsItWithExitCodeZero) {
    if (!haveDisplayAndAudio()) GTEST_SKIP() << "needs a display (Xvfb) and an audio device (JACK dummy)";
    if (runShell("command -v xdotool") != 0) GTEST_SKIP() << "xdotool is not installed";
    SmallDisplay display;
    ASSERT_TRUE(display.ready()) << "could not start Xvfb";
    bool typed = false;
    auto typeEscape = [&](const std::string& out, pid_t) {
        // Wait for a few rendered frames, then type Escape into the demo window from outside.
        if (countOf(out, "Post-render-frame!\n") < 3) return true;
        typed = runShell("xdotool search --name DEMOWINDOW windowfocus --sync key Escape") == 0;
        return false;
    };
    ProcessResult run = runDemo({}, scratchFolder("escape"), 120, typeEscape);
    ASSERT_TRUE(typed) << run.out.substr(0, 2000);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // Escape, not the music, ended the run: the last frame's music time is short of 20 s. (The
    // wall time says little on a loaded machine, where start-up alone may take that long.)
    size_t last = run.out.rfind("AnimTime:");
    ASSERT_NE(last, std::string::npos) << run.out.substr(0, 2000);
    EXPECT_LT(std::strtod(run.out.c_str() + last + 9, nullptr), 19.0) << "Escape must end the demo first";
}

TEST(DemoProgram, ABrokenShaderEndsTheRunWithTheCompilerLogAndWaitsForNobody) {
    if (!haveDisplayAndAudio()) GTEST_SKIP() << "needs a display (Xvfb) and an audio device (JACK dummy)";
    SmallDisplay display;
    ASSERT_TRUE(display.ready()) << "could not start Xvfb";
    std::string dir = scratchFolder("broken-shader");
    writeChangedAssets(dir, [](const fs::path& assets) {
        std::ofstream(assets / "texm.glsl", std::ios::app) << "\nthis is no GLSL\n";
    });
    ProcessResult run = runDemo({"-data:assets.zip"}, dir, 90);
    ASSERT_FALSE(run.timedOut) << "the fatal error must not wait on anything\n" << run.out;
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_NE(run.err.find("SHADER:"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("Post-play"), std::string::npos) << run.out;
}
