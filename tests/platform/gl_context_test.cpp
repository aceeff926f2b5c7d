// The window and GL context inside the test process, against the real driver: the loaded
// entry-point table, extension tests, debug output, the key queue fed with window events,
// resizes and the present step.
#include "context_checks.h"
#include "platform/gl.h"
#include "platform/window.h"
#include "tests/support/process.h"
#include "tests/support/services.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

PrivateDisplay* display = nullptr;
std::string creationOutput; // what createDemoWindow printed

class GLContext : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        display = new PrivateDisplay(640, 480);
        ASSERT_TRUE(display->started());
        setenv("DISPLAY", display->displayName().c_str(), 1);
        ::testing::internal::CaptureStdout();
        createDemoWindow(false, 320, 200);
        creationOutput = ::testing::internal::GetCapturedStdout();
    }
    static void TearDownTestSuite() {
        delete display;
        display = nullptr;
    }
    void SetUp() override { ASSERT_NE(SDL_GL_GetCurrentContext(), nullptr); }

    static void pushText(const char* text) {
        SDL_Event event{};
        event.type = SDL_TEXTINPUT;
        event.text.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
        std::strncpy(event.text.text, text, sizeof event.text.text - 1);
        SDL_PushEvent(&event);
    }
    static void pushKey(SDL_Keycode key) {
        SDL_Event event{};
        event.type = SDL_KEYDOWN;
        event.key.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
        event.key.state = SDL_PRESSED;
        event.key.keysym.sym = key;
        SDL_PushEvent(&event);
    }
    static std::vector<int> takeAllKeys() {
        std::vector<int> keys;
        while (pendingKeyCount() != 0) keys.push_back(nextKey());
        return keys;
    }
};

TEST_F(GLContext, WindowedStartLogsKeyCountWithoutFullScreenStyle) {
    EXPECT_EQ(creationOutput.find("Setting style to max!"), std::string::npos) << creationOutput;
    EXPECT_NE(creationOutput.find("KeyCount:0\n"), std::string::npos) << creationOutput;
    EXPECT_EQ(windowWidth, 320);
    EXPECT_EQ(windowHeight, 200);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 320);
    EXPECT_EQ(viewport[3], 200);
}

TEST_F(GLContext, ALaterCallKeepsTheWindowAndContext) {
    SDL_Window* window = SDL_GL_GetCurrentWindow();
    SDL_GLContext context = SDL_GL_GetCurrentContext();
    int width = windowWidth;
    ::testing::internal::CaptureStdout();
    createDemoWindow(true, 100, 100);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(SDL_GL_GetCurrentWindow(), window);
    EXPECT_EQ(SDL_GL_GetCurrentContext(), context);
    EXPECT_EQ(windowWidth, width);
}

TEST_F(GLContext, IsA43CoreDebugContextWithAVertexArrayBound) {
    expectCoreDebugContextSetUp();
}

TEST_F(GLContext, EveryEntryPointIsLoadedExactlyWhenItsRequirementHolds) {
    expectEntryPointsFollowTheirRequirements();
}

TEST_F(GLContext, HasExtensionSearchesTheDriversAndTheWindowSystemsStrings) {
    // GLX's own string, and the Windows gates answered by their GLX counterparts.
    expectExtensionsFound("GLX_ARB_create_context", "EGL_KHR_create_context");
}

TEST_F(GLContext, DriverMessagesReachTheConsoleExceptFilteredIds) {
    expectDriverMessagesOnTheConsole();
}

TEST_F(GLContext, KeyQueueKeepsTypingOrderAndCase) {
    takeAllKeys();
    pushText("aB");
    pushText(",.p");
    pushKey(SDLK_ESCAPE);
    pushText("P");
    pushKey(SDLK_RETURN);
    pushKey(SDLK_LSHIFT); // no character
    EXPECT_EQ(takeAllKeys(), (std::vector<int>{'a', 'B', ',', '.', 'p', 27, 'P', 13}));
}

TEST_F(GLContext, CloseRequestsQueueEscape) {
    takeAllKeys();
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = SDL_WINDOWEVENT_CLOSE;
    event.window.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
    SDL_PushEvent(&event);
    event = SDL_Event{};
    event.type = SDL_QUIT;
    SDL_PushEvent(&event);
    EXPECT_EQ(takeAllKeys(), (std::vector<int>{27, 27}));
    EXPECT_NE(SDL_GL_GetCurrentWindow(), nullptr); // the window stays open
}

TEST_F(GLContext, NonAsciiCharactersArriveAsSignedLatin1Bytes) {
    takeAllKeys();
    pushText("\xC3\xA9");     // U+00E9, Latin-1 0xE9
    pushText("\xE2\x82\xAC"); // U+20AC has no Latin-1 byte
    pushText("\xC3(");        // malformed, then '('
    EXPECT_EQ(takeAllKeys(), (std::vector<int>{static_cast<signed char>(0xE9), '?', '?', '('}));
}

TEST_F(GLContext, FullQueueDropsTheExtraCharacters) {
    takeAllKeys();
    // 310 characters in events of 10, the alphabet repeating; the queue holds 300.
    std::string typed;
    for (int index = 0; index < 310; ++index) typed += static_cast<char>('a' + index % 26);
    for (size_t offset = 0; offset < typed.size(); offset += 10) pushText(typed.substr(offset, 10).c_str());
    EXPECT_EQ(pendingKeyCount(), 300);
    std::vector<int> keys = takeAllKeys();
    ASSERT_EQ(keys.size(), 300u);
    for (size_t index = 0; index < keys.size(); ++index) ASSERT_EQ(keys[index], typed[index]) << index;
    pushText("z"); // room again
    EXPECT_EQ(takeAllKeys(), std::vector<int>{'z'});
}

TEST_F(GLContext, ResizeUpdatesSizeAndViewport) {
    SDL_Window* window = SDL_GL_GetCurrentWindow();
    ::testing::internal::CaptureStdout();
    SDL_SetWindowSize(window, 300, 180);
    for (int attempt = 0; attempt < 200 && windowWidth != 300; ++attempt) {
        pumpMessages();
        SDL_Delay(5);
    }
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(windowWidth, 300);
    EXPECT_EQ(windowHeight, 180);
    EXPECT_NE(printed.find("!! Resize called: 300 180\n"), std::string::npos) << printed;
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 0);
    EXPECT_EQ(viewport[1], 0);
    EXPECT_EQ(viewport[2], 300);
    EXPECT_EQ(viewport[3], 180);
}

TEST_F(GLContext, ZeroSizeOfAMinimisedWindowIsNotTakenOver) {
    int width = windowWidth, height = windowHeight;
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
    event.window.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
    SDL_PushEvent(&event);
    ::testing::internal::CaptureStdout();
    pumpMessages();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(windowWidth, width);
    EXPECT_EQ(windowHeight, height);
}

TEST_F(GLContext, PresentRunsTheEndOfFrameStepThenSwaps) {
    expectPresentRunsTheEndOfFrameStep();
}

TEST_F(GLContext, ClearedBackBufferReadsBackTheRampColour) {
    for (float musicTime : {0.0f, 0.5f, 2.0f, 8.5f}) {
        float blue = static_cast<float>((1 + static_cast<int>(std::floor(30.0 * musicTime))) % 256 / 255.0);
        glClearColor(0.0f, 0.0f, blue, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        unsigned char pixel[4] = {1, 1, 1, 1};
        glReadPixels(windowWidth / 2, windowHeight / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
        int expectedBlue = (1 + static_cast<int>(std::floor(30.0 * musicTime))) % 256;
        EXPECT_EQ(pixel[0], 0) << musicTime;
        EXPECT_EQ(pixel[1], 0) << musicTime;
        EXPECT_EQ(pixel[2], expectedBlue) << musicTime;
        presentFrame();
    }
}

} // namespace
