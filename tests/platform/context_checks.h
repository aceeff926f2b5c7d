// Checks that hold for every kind of context the window layer makes (a window's on GLX, the
// headless one on EGL), shared by the window and headless test suites. Each needs the context
// current.
#pragma once

#include "platform/gl.h"
#include "platform/window.h"

#include <gtest/gtest.h>

#include <string>

// Core profile, debug flag, debug output enabled, a vertex array bound, no error pending.
inline void expectCoreDebugContextSetUp() {
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

// Every table entry is loaded exactly when its requirement holds, and reloading agrees.
inline void expectEntryPointsFollowTheirRequirements() {
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
    EXPECT_EQ(mainEntries, 71);
    // Reloading gives the same answer: true only when the bindless extension is there too.
    EXPECT_EQ(loadGLEntryPoints(), allMainEntries);
    EXPECT_EQ(allMainEntries, hasExtension("GL_ARB_bindless_texture") && hasExtension("GL_ARB_debug_output"));
}

// Every GL extension of the context is found, near misses are not, and the Windows gates are
// answered by the current window system's names (`createContext`, for example
// "GLX_ARB_create_context"), while `foreignCreateContext` (the other window system's) is absent.
inline void expectExtensionsFound(const char* createContext, const char* foreignCreateContext) {
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
    EXPECT_TRUE(hasExtension(createContext));
    EXPECT_FALSE(hasExtension(foreignCreateContext));
    EXPECT_FALSE(hasExtension(std::string(createContext).substr(0, 14).c_str()));
    EXPECT_TRUE(hasExtension("WGL_ARB_create_context"));
    EXPECT_TRUE(hasExtension("WGL_ARB_pixel_format"));
    EXPECT_TRUE(hasExtension("WGL_ARB_extensions_string"));
    EXPECT_FALSE(hasExtension("WGL_ARB_pixel"));
}

// presentFrame runs the installed end-of-frame step once per call, and nothing once it is
// removed; the frame's end leaves no GL error.
inline void expectPresentRunsTheEndOfFrameStep() {
    static int presentHookCalls = 0;
    setPresentFrameHook([] { ++presentHookCalls; });
    presentHookCalls = 0;
    presentFrame();
    presentFrame();
    EXPECT_EQ(presentHookCalls, 2);
    setPresentFrameHook(nullptr);
    presentFrame();
    EXPECT_EQ(presentHookCalls, 2);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// The driver's messages reach the console through the debug callback, except filtered ids.
inline void expectDriverMessagesOnTheConsole() {
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
