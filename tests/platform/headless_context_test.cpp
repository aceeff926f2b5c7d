// The headless context inside the test process, with no display at all, against the real
// driver: the requested version with the debug flag and driver messages, the entry-point table
// and EGL's extension names, framebuffer 0 as the frame of the requested size, the present step,
// a key queue that never fills, and the start-up failures.
#include "context_checks.h"
#include "tests/support/fatal_exit.h"

#include "platform/gl.h"
#include "platform/window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 200, kHeight = 120;
std::string creationOutput; // what createHeadlessContext printed

class HeadlessContext : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        unsetenv("DISPLAY"); // nothing may reach for an X server
        ::testing::internal::CaptureStdout();
        createHeadlessContext(kWidth, kHeight);
        creationOutput = ::testing::internal::GetCapturedStdout();
    }
};

std::string glText(GLenum name) {
    const GLubyte* text = glGetString(name);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "(null)";
}

TEST_F(HeadlessContext, IsTheRequested45CoreDebugContext) {
    // 4.5 was asked for; a driver may hand out a later, compatible version (4.6), never less.
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    EXPECT_TRUE(major > 4 || (major == 4 && minor >= 5))
        << glText(GL_VERSION) << " on " << glText(GL_RENDERER);
    expectCoreDebugContextSetUp();
    EXPECT_EQ(std::getenv("DISPLAY"), nullptr);
}

TEST_F(HeadlessContext, DriverMessagesReachTheConsole) {
    expectDriverMessagesOnTheConsole();
}

TEST_F(HeadlessContext, EveryEntryPointIsLoadedExactlyWhenItsRequirementHolds) {
    expectEntryPointsFollowTheirRequirements();
}

TEST_F(HeadlessContext, WindowSystemGatesAreAnsweredByEGL) {
    expectExtensionsFound("EGL_KHR_create_context", "GLX_ARB_create_context");
}

TEST_F(HeadlessContext, FrameIsFramebufferZeroOfTheRequestedSize) {
    EXPECT_EQ(creationOutput, "KeyCount:0\n");
    EXPECT_EQ(windowWidth, kWidth);
    EXPECT_EQ(windowHeight, kHeight);
    GLint viewport[4] = {}, framebuffer = -1;
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
    EXPECT_EQ(viewport[2], kWidth);
    EXPECT_EQ(viewport[3], kHeight);
    EXPECT_EQ(framebuffer, 0);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));

    // A clear, then a draw into the left half; the corners read back from GL_BACK as a shot does.
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, kWidth / 2, kHeight);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glReadBuffer(GL_BACK);
    std::vector<unsigned char> pixels(static_cast<size_t>(kWidth) * kHeight * 4, 7);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    auto pixel = [&](int x, int y) {
        const unsigned char* at = &pixels[(static_cast<size_t>(y) * kWidth + x) * 4];
        return std::vector<int>{at[0], at[1], at[2]};
    };
    EXPECT_EQ(pixel(0, 0), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(pixel(kWidth / 2 - 1, kHeight - 1), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(pixel(kWidth / 2, 0), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(pixel(kWidth - 1, kHeight - 1), (std::vector<int>{0, 0, 255}));
}

TEST_F(HeadlessContext, PresentRunsTheEndOfFrameStep) {
    expectPresentRunsTheEndOfFrameStep();
}

TEST_F(HeadlessContext, NoKeyEverArrivesAndWaitingForOneQuits) {
    EXPECT_EQ(pendingKeyCount(), 0);
    EXPECT_EQ(nextKey(), 27);
}

TEST_F(HeadlessContext, LaterRequestsKeepTheContextAndItsSize) {
    ::testing::internal::CaptureStdout();
    createHeadlessContext(64, 64);
    createDemoWindow(false, 64, 64);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(windowWidth, kWidth);
    EXPECT_TRUE(hasExtension("EGL_KHR_create_context"));
}

// ---- Start-up without a display ----

TEST(HeadlessStart, AWindowedRequestWithoutADisplayGetsTheHeadlessContext) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("DISPLAY", "", 1);
            createDemoWindow(false, 96, 48);
            bool headless = hasExtension("EGL_KHR_create_context") && windowWidth == 96 && windowHeight == 48;
            std::_Exit(headless ? 3 : 4);
        },
        ::testing::ExitedWithCode(3), "");
}

TEST(HeadlessStart, AFullScreenRequestStillNeedsADisplay) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            createDemoWindow(true, 96, 48);
        },
        ::testing::ExitedWithCode(kFatalExitStatus), "no usable display");
}

// True when the headless context comes from Mesa; probed in a child, so that this process
// stays without a context.
bool headlessDriverIsMesa() {
    pid_t child = fork();
    if (child == 0) {
        createHeadlessContext(32, 32);
        std::_Exit(glText(GL_VERSION).find("Mesa") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Mesa's version override stands in for an old driver; other drivers ignore it.
TEST(HeadlessStart, ADriverBelow43EndsNamingTheVersionFound) {
    unsetenv("DISPLAY");
    if (!headlessDriverIsMesa()) GTEST_SKIP() << "the headless context does not come from Mesa";
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a fresh process, without a context
    EXPECT_EXIT(
        {
            setenv("MESA_GL_VERSION_OVERRIDE", "4.2", 1);
            createHeadlessContext(32, 32);
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(kFatalExitStatus),
        "could not initialize a headless GL context: .*OpenGL 4.3 core is needed .*found version \"4.2");
}

} // namespace
