// The window and GL context inside the test process, against the real driver: the loaded
// entry-point table, extension tests, debug output, the key queue fed with window events,
// resizes and the present step.
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
    EXPECT_TRUE(passesGLVersionGate(reinterpret_cast<const char*>(glGetString(GL_VERSION))));
    GLint profile = 0, flags = 0, vertexArray = 0;
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    glGetIntegerv(GL_CONTEXT_FLAGS, &flags);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);
    EXPECT_TRUE(profile & GL_CONTEXT_CORE_PROFILE_BIT);
    EXPECT_TRUE(flags & GL_CONTEXT_FLAG_DEBUG_BIT);
    EXPECT_NE(vertexArray, 0);
    EXPECT_TRUE(glIsEnabled(GL_DEBUG_OUTPUT));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(GLContext, EveryEntryPointIsLoadedExactlyWhenItsRequirementHolds) {
    EXPECT_EQ(glEntryPointProblem(), nullptr);
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    auto expectedPresent = [&](const GLRequirement& requirement) {
        if (requirement.extension != nullptr) return hasExtension(requirement.extension);
        return major > requirement.major || (major == requirement.major && minor >= requirement.minor);
    };
    bool allMainEntries = true;
    int mainEntries = 0;
#define CHECK_ENTRY(source, requirement, returnType, name, parameters)                                       \
    EXPECT_EQ(name != nullptr, expectedPresent(glrequirement::requirement)) << #name;
#define CHECK_MAIN_ENTRY(source, requirement, returnType, name, parameters)                                  \
    CHECK_ENTRY(source, requirement, returnType, name, parameters)                                           \
    allMainEntries = allMainEntries && name != nullptr;                                                      \
    ++mainEntries;
    NOVA31_GL_ENTRY_POINTS(CHECK_MAIN_ENTRY)
    NOVA31_GL_ADDITIONAL_ENTRY_POINTS(CHECK_ENTRY)
#undef CHECK_MAIN_ENTRY
#undef CHECK_ENTRY
    EXPECT_EQ(mainEntries, 69);
    // Reloading gives the same answer: true only when the bindless extension is there too.
    EXPECT_EQ(loadGLEntryPoints(), allMainEntries);
    EXPECT_EQ(allMainEntries, hasExtension("GL_ARB_bindless_texture") && hasExtension("GL_ARB_debug_output"));
}

TEST_F(GLContext, HasExtensionSearchesTheDriversAndTheWindowSystemsStrings) {
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    ASSERT_GT(count, 0);
    for (GLint index = 0; index < count; ++index) {
        const char* name =
            reinterpret_cast<const char*>(glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(index)));
        EXPECT_TRUE(hasExtension(name)) << name;
    }
    EXPECT_TRUE(hasExtension("GL_ARB_compute_shader"));
    EXPECT_FALSE(hasExtension("GL_ARB_compute"));
    EXPECT_FALSE(hasExtension("GL_NOVA31_no_such_extension"));
    // GLX's own string, and the Windows gates answered by their GLX counterparts.
    EXPECT_TRUE(hasExtension("GLX_ARB_create_context"));
    EXPECT_TRUE(hasExtension("WGL_ARB_create_context"));
    EXPECT_TRUE(hasExtension("WGL_ARB_pixel_format"));
    EXPECT_TRUE(hasExtension("WGL_ARB_extensions_string"));
    EXPECT_FALSE(hasExtension("WGL_ARB_pixel"));
    EXPECT_FALSE(hasExtension("GLX_ARB_create"));
}

TEST_F(GLContext, DriverMessagesReachTheConsoleExceptFilteredIds) {
    glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS); // deliver on this thread, before the insert returns
    ::testing::internal::CaptureStdout();
    glDebugMessageInsert(GL_DEBUG_SOURCE_APPLICATION, GL_DEBUG_TYPE_ERROR, 4242, GL_DEBUG_SEVERITY_HIGH, -1,
                         "inserted by the test");
    glDebugMessageInsert(GL_DEBUG_SOURCE_APPLICATION, GL_DEBUG_TYPE_MARKER, 4343,
                         GL_DEBUG_SEVERITY_NOTIFICATION, -1, "a marker");
    glDebugMessageInsert(GL_DEBUG_SOURCE_APPLICATION, GL_DEBUG_TYPE_OTHER, 131185,
                         GL_DEBUG_SEVERITY_NOTIFICATION, -1, "filtered");
    std::string printed = ::testing::internal::GetCapturedStdout();
    glDisable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
    EXPECT_EQ(printed, "GL GL_DEBUG_TYPE_ERROR MSG: 4242 :inserted by the test\n"
                       "GL Unknown type MSG: 4343 :a marker\n");
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

int presentHookCalls = 0;

TEST_F(GLContext, PresentRunsTheEndOfFrameStepThenSwaps) {
    setPresentFrameHook([] { ++presentHookCalls; });
    presentHookCalls = 0;
    presentFrame();
    presentFrame();
    EXPECT_EQ(presentHookCalls, 2);
    setPresentFrameHook(nullptr);
    presentFrame();
    EXPECT_EQ(presentHookCalls, 2);
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
