// The parts of the GL layer that need no driver: extension tokens, the version gate, the debug
// callback's filter and type names, and when a fatal error may show a message box.
#include "app/console.h"
#include "attendance_environment.h"
#include "platform/gl.h"
#include "platform/window.h"
#include "tests/support/fatal_exit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

TEST(ExtensionToken, MatchesWholeTokensOnly) {
    const char* extensions = "WGL_ARB_pixel_format WGL_ARB_create_context WGL_EXT_swap_control";
    EXPECT_TRUE(hasExtensionToken(extensions, "WGL_ARB_pixel_format"));
    EXPECT_TRUE(hasExtensionToken(extensions, "WGL_ARB_create_context"));
    EXPECT_FALSE(hasExtensionToken(extensions, "WGL_ARB_pixel"));         // prefix of a token
    EXPECT_FALSE(hasExtensionToken(extensions, "ARB_pixel_format"));      // suffix of a token
    EXPECT_FALSE(hasExtensionToken(extensions, "WGL_ARB_pixel_format_")); // longer than any token
    EXPECT_FALSE(hasExtensionToken(extensions, "WGL_ARB_pixel_format WGL_ARB_create_context"));
    EXPECT_FALSE(hasExtensionToken(extensions, ""));
}

TEST(ExtensionToken, LastTokenCountsWithOrWithoutTrailingSpace) {
    EXPECT_TRUE(hasExtensionToken("GL_A GL_B GL_LAST", "GL_LAST"));
    EXPECT_TRUE(hasExtensionToken("GL_A GL_B GL_LAST ", "GL_LAST"));
    EXPECT_TRUE(hasExtensionToken("GL_ONLY", "GL_ONLY"));
    EXPECT_FALSE(hasExtensionToken("GL_LAST", "GL_LAS"));
    EXPECT_FALSE(hasExtensionToken("GL_LAS", "GL_LAST")); // the string ends inside the name
}

TEST(ExtensionToken, EmptyOrMissingStringsHoldNothing) {
    EXPECT_FALSE(hasExtensionToken(nullptr, "GL_A"));
    EXPECT_FALSE(hasExtensionToken("", "GL_A"));
    EXPECT_FALSE(hasExtensionToken(" ", "GL_A"));
    EXPECT_FALSE(hasExtensionToken("GL_A", nullptr));
    // Doubled spaces make an empty token, which never matches a name.
    EXPECT_TRUE(hasExtensionToken("GL_A  GL_B", "GL_B"));
}

TEST(VersionGate, AcceptsOpenGL43AndLater) {
    EXPECT_FALSE(passesGLVersionGate("4.2.0 NVIDIA 390.0"));
    EXPECT_FALSE(passesGLVersionGate("4.2 (Core Profile) Mesa 22.3.6"));
    EXPECT_TRUE(passesGLVersionGate("4.3 (Core Profile) Mesa 22.3.6"));
    EXPECT_TRUE(passesGLVersionGate("4.5 (Core Profile) Mesa 22.3.6"));
    EXPECT_TRUE(passesGLVersionGate("4.6.0 NVIDIA 535.0"));
    EXPECT_FALSE(passesGLVersionGate("3.3 (Core Profile) Mesa"));
    EXPECT_FALSE(passesGLVersionGate("1.4"));
}

TEST(VersionGate, MajorFiveAndUpPassWhateverTheMinor) {
    EXPECT_TRUE(passesGLVersionGate("5.0"));
    EXPECT_TRUE(passesGLVersionGate("5.2 future"));
    EXPECT_TRUE(passesGLVersionGate("9.0"));
}

TEST(VersionGate, MalformedStringsFail) {
    EXPECT_FALSE(passesGLVersionGate(nullptr));
    EXPECT_FALSE(passesGLVersionGate(""));
    EXPECT_FALSE(passesGLVersionGate("4"));
    EXPECT_FALSE(passesGLVersionGate("4."));
    EXPECT_FALSE(passesGLVersionGate("4x5"));
    EXPECT_FALSE(passesGLVersionGate("OpenGL ES 3.2 Mesa"));
}

std::string debugOutputOf(GLenum type, GLuint id, const char* message) {
    ::testing::internal::CaptureStdout();
    glDebugOutput(GL_DEBUG_SOURCE_API, type, id, GL_DEBUG_SEVERITY_HIGH, -1, message, nullptr);
    return ::testing::internal::GetCapturedStdout();
}

TEST(DebugOutput, PrintsTypeNameIdAndMessage) {
    EXPECT_EQ(debugOutputOf(0x824C, 1282, "invalid operation"),
              "GL GL_DEBUG_TYPE_ERROR MSG: 1282 :invalid operation\n");
    EXPECT_EQ(debugOutputOf(0x824D, 7, "old"), "GL GL_DEBUG_TYPE_DEPRECATED_BEHAVIOR MSG: 7 :old\n");
    EXPECT_EQ(debugOutputOf(0x824E, 8, "ub"), "GL GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR MSG: 8 :ub\n");
    EXPECT_EQ(debugOutputOf(0x824F, 9, "port"), "GL GL_DEBUG_TYPE_PORTABILITY MSG: 9 :port\n");
    EXPECT_EQ(debugOutputOf(0x8250, 10, "slow"), "GL GL_DEBUG_TYPE_PERFORMANCE MSG: 10 :slow\n");
    EXPECT_EQ(debugOutputOf(0x8251, 11, "other"), "GL GL_DEBUG_TYPE_OTHER MSG: 11 :other\n");
}

TEST(DebugOutput, UnknownTypesAreNamedAsSuch) {
    EXPECT_EQ(debugOutputOf(GL_DEBUG_TYPE_MARKER, 5, "marker"), "GL Unknown type MSG: 5 :marker\n");
    EXPECT_EQ(debugOutputOf(0, 6, "zero"), "GL Unknown type MSG: 6 :zero\n");
}

TEST(DebugOutput, FilteredIdsPrintNothing) {
    for (GLuint id : {131154u, 131185u, 131186u}) {
        EXPECT_EQ(debugOutputOf(0x8251, id, "buffer detailed info"), "") << id;
        EXPECT_EQ(debugOutputOf(0x824C, id, "even errors"), "") << id;
    }
    EXPECT_NE(debugOutputOf(0x8251, 131184, "neighbour id"), "");
}

TEST(DebugOutput, MissingMessageTextPrintsEmpty) {
    EXPECT_EQ(debugOutputOf(0x824C, 3, nullptr), "GL GL_DEBUG_TYPE_ERROR MSG: 3 :\n");
}

// ---- Who may see a message box ----

class Attendance : public ::testing::Test {
protected:
    AttendanceEnvironment environment;
};

TEST_F(Attendance, NoDisplayMeansNobody) {
    setenv("XDG_SESSION_TYPE", "x11", 1);
    EXPECT_FALSE(personIsPresent());
    setenv("DISPLAY", "", 1);
    EXPECT_FALSE(personIsPresent());
}

TEST_F(Attendance, UnreachableDisplayMeansNobody) {
    setenv("DISPLAY", ":4093", 1);
    setenv("XDG_SESSION_TYPE", "x11", 1);
    EXPECT_FALSE(personIsPresent());
}

TEST_F(Attendance, UnattendedFatalErrorExitsWithoutWaiting) {
    setenv("DISPLAY", ":0", 1);
    setenv("XDG_SESSION_TYPE", "x11", 1);
    setenv("CI", "true", 1);
    EXPECT_EXIT(
        {
            installFatalErrorMessageBox();
            fatalError("shader failed");
        },
        ::testing::ExitedWithCode(kFatalExitStatus), "shader failed");
}

} // namespace
