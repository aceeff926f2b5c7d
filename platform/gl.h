/* gl.h — the process-wide table of OpenGL entry points, the extension test and the driver's
   debug-message callback.

   Every GL call of the program goes through this table. createDemoWindow (platform/window.h)
   fills it once, right after the GL context is made current, by calling loadGLEntryPoints;
   from then on any code on the main thread calls GL by its usual name:

       #include "platform/gl.h"
       glClearColor(0.0f, 0.0f, 0.5f, 0.0f);
       glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

   Types and enums come from <GL/glcorearb.h>, included here WITHOUT GL_GLEXT_PROTOTYPES, so no
   GL function is declared except through this table. Do not include <GL/gl.h>, <GL/glext.h>,
   <GL/glx.h> or <SDL_opengl.h> next to this header: their prototypes would clash with the
   table's names.

   The table is written out from two X-macro lists of (source, requirement, return type, name,
   parameters):
   - NOVA31_GL_ENTRY_POINTS: the demo's own entry points, in load order. The first thirteen are
     OpenGL 1.1 functions taken from the exports of the system GL library (libGL); the others
     come through the window system's lookup by name (SDL_GL_GetProcAddress).
   - NOVA31_GL_ADDITIONAL_ENTRY_POINTS: exactly the other functions that the shader system, the
     renderer, the tests and the benchmarks call (GL 1.x state and read-back functions included,
     so nothing is called from libGL directly). Append one line per function when code starts to
     call one more, and drop its line when the last call goes.

   The pointers live in namespace `gltable` (so they never collide with libGL's own exported
   symbols) and a using-directive brings them into the global namespace.

   Mesa hands out a pointer for any name at all, so a pointer alone does not prove a function
   exists: an entry is loaded only when its requirement holds (GL version of the current context
   or an extension in its extension string) and is null otherwise. In particular
   glGetTextureHandleARB and the other bindless functions are null without
   GL_ARB_bindless_texture (llvmpipe has none); callers test the pointer before such calls.

   This module does not create contexts (platform/window.h does), check GL errors after calls,
   or support more than one context. */
#pragma once

#include <GL/glcorearb.h>

// Where an entry point is taken from.
enum class GLEntrySource {
    systemLibrary, // exported by libGL itself (OpenGL 1.1)
    lookup,        // the window system's lookup by name
};

// What a context must offer for an entry point to count as present.
struct GLRequirement {
    int major;             // lowest GL version of the context ...
    int minor;             // ... that provides the function
    const char* extension; // or, when not null, the extension that provides it
};

namespace glrequirement {
inline constexpr GLRequirement gl43{4, 3, nullptr};
inline constexpr GLRequirement bindlessTexture{0, 0, "GL_ARB_bindless_texture"};
inline constexpr GLRequirement debugOutput{0, 0, "GL_ARB_debug_output"};
} // namespace glrequirement

// clang-format off
#define NOVA31_GL_ENTRY_POINTS(X) \
    X(systemLibrary, gl43, void, glTexParameteri, (GLenum target, GLenum pname, GLint param)) \
    X(systemLibrary, gl43, void, glTexImage2D, (GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height, GLint border, GLenum format, GLenum type, const void* pixels)) \
    X(systemLibrary, gl43, void, glClear, (GLbitfield mask)) \
    X(systemLibrary, gl43, void, glClearColor, (GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha)) \
    X(systemLibrary, gl43, void, glDisable, (GLenum cap)) \
    X(systemLibrary, gl43, void, glEnable, (GLenum cap)) \
    X(systemLibrary, gl43, GLenum, glGetError, (void)) \
    X(systemLibrary, gl43, const GLubyte*, glGetString, (GLenum name)) \
    X(systemLibrary, gl43, void, glViewport, (GLint x, GLint y, GLsizei width, GLsizei height)) \
    X(systemLibrary, gl43, void, glScissor, (GLint x, GLint y, GLsizei width, GLsizei height)) \
    X(systemLibrary, gl43, void, glDrawArrays, (GLenum mode, GLint first, GLsizei count)) \
    X(systemLibrary, gl43, void, glDrawElements, (GLenum mode, GLsizei count, GLenum type, const void* indices)) \
    X(systemLibrary, gl43, void, glBindTexture, (GLenum target, GLuint texture)) \
    X(systemLibrary, gl43, void, glGenTextures, (GLsizei n, GLuint* textures)) \
    X(lookup, gl43, void, glActiveTexture, (GLenum texture)) \
    X(lookup, gl43, void, glBindBuffer, (GLenum target, GLuint buffer)) \
    X(lookup, gl43, void, glDeleteBuffers, (GLsizei n, const GLuint* buffers)) \
    X(lookup, gl43, void, glGenBuffers, (GLsizei n, GLuint* buffers)) \
    X(lookup, gl43, void, glBufferData, (GLenum target, GLsizeiptr size, const void* data, GLenum usage)) \
    X(lookup, gl43, void, glBufferSubData, (GLenum target, GLintptr offset, GLsizeiptr size, const void* data)) \
    X(lookup, gl43, void, glGetBufferSubData, (GLenum target, GLintptr offset, GLsizeiptr size, void* data)) \
    X(lookup, gl43, void, glDrawBuffers, (GLsizei n, const GLenum* bufs)) \
    X(lookup, gl43, void, glAttachShader, (GLuint program, GLuint shader)) \
    X(lookup, gl43, void, glCompileShader, (GLuint shader)) \
    X(lookup, gl43, GLuint, glCreateProgram, (void)) \
    X(lookup, gl43, GLuint, glCreateShader, (GLenum type)) \
    X(lookup, gl43, void, glDeleteProgram, (GLuint program)) \
    X(lookup, gl43, void, glDeleteShader, (GLuint shader)) \
    X(lookup, gl43, void, glEnableVertexAttribArray, (GLuint index)) \
    X(lookup, gl43, void, glGetProgramiv, (GLuint program, GLenum pname, GLint* params)) \
    X(lookup, gl43, void, glGetProgramInfoLog, (GLuint program, GLsizei bufSize, GLsizei* length, GLchar* infoLog)) \
    X(lookup, gl43, void, glGetShaderiv, (GLuint shader, GLenum pname, GLint* params)) \
    X(lookup, gl43, void, glGetShaderInfoLog, (GLuint shader, GLsizei bufSize, GLsizei* length, GLchar* infoLog)) \
    X(lookup, gl43, void, glLinkProgram, (GLuint program)) \
    X(lookup, gl43, void, glShaderSource, (GLuint shader, GLsizei count, const GLchar* const* string, const GLint* length)) \
    X(lookup, gl43, void, glUseProgram, (GLuint program)) \
    X(lookup, gl43, void, glUniform1i, (GLint location, GLint v0)) \
    X(lookup, gl43, void, glUniform1fv, (GLint location, GLsizei count, const GLfloat* value)) \
    X(lookup, gl43, void, glUniform2fv, (GLint location, GLsizei count, const GLfloat* value)) \
    X(lookup, gl43, void, glUniform4fv, (GLint location, GLsizei count, const GLfloat* value)) \
    X(lookup, gl43, void, glUniform1iv, (GLint location, GLsizei count, const GLint* value)) \
    X(lookup, gl43, void, glUniform2iv, (GLint location, GLsizei count, const GLint* value)) \
    X(lookup, gl43, void, glUniform3iv, (GLint location, GLsizei count, const GLint* value)) \
    X(lookup, gl43, void, glUniform4iv, (GLint location, GLsizei count, const GLint* value)) \
    X(lookup, gl43, void, glUniformMatrix2fv, (GLint location, GLsizei count, GLboolean transpose, const GLfloat* value)) \
    X(lookup, gl43, void, glUniformMatrix4fv, (GLint location, GLsizei count, GLboolean transpose, const GLfloat* value)) \
    X(lookup, gl43, void, glVertexAttribPointer, (GLuint index, GLint size, GLenum type, GLboolean normalized, GLsizei stride, const void* pointer)) \
    X(lookup, gl43, void, glBeginTransformFeedback, (GLenum primitiveMode)) \
    X(lookup, gl43, void, glEndTransformFeedback, (void)) \
    X(lookup, gl43, void, glBindBufferRange, (GLenum target, GLuint index, GLuint buffer, GLintptr offset, GLsizeiptr size)) \
    X(lookup, gl43, void, glBindBufferBase, (GLenum target, GLuint index, GLuint buffer)) \
    X(lookup, gl43, void, glTransformFeedbackVaryings, (GLuint program, GLsizei count, const GLchar* const* varyings, GLenum bufferMode)) \
    X(lookup, gl43, void, glUniform2uiv, (GLint location, GLsizei count, const GLuint* value)) \
    X(lookup, gl43, void, glBindFramebuffer, (GLenum target, GLuint framebuffer)) \
    X(lookup, gl43, void, glGenFramebuffers, (GLsizei n, GLuint* framebuffers)) \
    X(lookup, gl43, GLenum, glCheckFramebufferStatus, (GLenum target)) \
    X(lookup, gl43, void, glFramebufferTexture2D, (GLenum target, GLenum attachment, GLenum textarget, GLuint texture, GLint level)) \
    X(lookup, gl43, void, glBindVertexArray, (GLuint array)) \
    X(lookup, gl43, void, glGenVertexArrays, (GLsizei n, GLuint* arrays)) \
    X(lookup, gl43, void, glCopyBufferSubData, (GLenum readTarget, GLenum writeTarget, GLintptr readOffset, GLintptr writeOffset, GLsizeiptr size)) \
    X(lookup, gl43, void, glBindImageTexture, (GLuint unit, GLuint texture, GLint level, GLboolean layered, GLint layer, GLenum access, GLenum format)) \
    X(lookup, gl43, void, glMemoryBarrier, (GLbitfield barriers)) \
    X(lookup, gl43, void, glDispatchCompute, (GLuint num_groups_x, GLuint num_groups_y, GLuint num_groups_z)) \
    X(lookup, gl43, void, glDispatchComputeIndirect, (GLintptr indirect)) \
    X(lookup, gl43, void, glGetProgramInterfaceiv, (GLuint program, GLenum programInterface, GLenum pname, GLint* params)) \
    X(lookup, gl43, void, glGetProgramResourceName, (GLuint program, GLenum programInterface, GLuint index, GLsizei bufSize, GLsizei* length, GLchar* name)) \
    X(lookup, gl43, void, glGetProgramResourceiv, (GLuint program, GLenum programInterface, GLuint index, GLsizei propCount, const GLenum* props, GLsizei count, GLsizei* length, GLint* params)) \
    X(lookup, gl43, void, glShaderStorageBlockBinding, (GLuint program, GLuint storageBlockIndex, GLuint storageBlockBinding)) \
    X(lookup, bindlessTexture, GLuint64, glGetTextureHandleARB, (GLuint texture)) \
    X(lookup, bindlessTexture, void, glMakeTextureHandleResidentARB, (GLuint64 handle)) \
    X(lookup, debugOutput, void, glDebugMessageCallbackARB, (GLDEBUGPROCARB callback, const void* userParam))


// Append here, one line each: X(lookup, requirement, return type, name, (parameters)).
#define NOVA31_GL_ADDITIONAL_ENTRY_POINTS(X) \
    X(lookup, gl43, void, glGetIntegerv, (GLenum pname, GLint* data)) \
    X(lookup, gl43, void, glGetIntegeri_v, (GLenum target, GLuint index, GLint* data)) \
    X(lookup, gl43, const GLubyte*, glGetStringi, (GLenum name, GLuint index)) \
    X(lookup, gl43, GLboolean, glIsEnabled, (GLenum cap)) \
    X(lookup, gl43, void, glFinish, (void)) \
    X(lookup, gl43, void, glPixelStorei, (GLenum pname, GLint param)) \
    X(lookup, gl43, void, glReadPixels, (GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type, void* pixels)) \
    X(lookup, gl43, void, glReadBuffer, (GLenum src)) \
    X(lookup, gl43, void, glGetTexImage, (GLenum target, GLint level, GLenum format, GLenum type, void* pixels)) \
    X(lookup, gl43, void, glGetTexLevelParameteriv, (GLenum target, GLint level, GLenum pname, GLint* params)) \
    X(lookup, gl43, void, glClearBufferData, (GLenum target, GLenum internalformat, GLenum format, GLenum type, const void* data)) \
    X(lookup, gl43, GLint, glGetUniformLocation, (GLuint program, const GLchar* name)) \
    X(lookup, gl43, void, glGetUniformfv, (GLuint program, GLint location, GLfloat* params)) \
    X(lookup, gl43, void, glGetUniformiv, (GLuint program, GLint location, GLint* params)) \
    X(lookup, gl43, GLuint, glGetProgramResourceIndex, (GLuint program, GLenum programInterface, const GLchar* name)) \
    X(lookup, gl43, void, glGetTransformFeedbackVarying, (GLuint program, GLuint index, GLsizei bufSize, GLsizei* length, GLsizei* size, GLenum* type, GLchar* name)) \
    X(lookup, gl43, void, glGenQueries, (GLsizei n, GLuint* ids)) \
    X(lookup, gl43, void, glDeleteQueries, (GLsizei n, const GLuint* ids)) \
    X(lookup, gl43, void, glQueryCounter, (GLuint id, GLenum target)) \
    X(lookup, gl43, void, glGetQueryObjectui64v, (GLuint id, GLenum pname, GLuint64* params)) \
    X(lookup, gl43, void, glDebugMessageCallback, (GLDEBUGPROC callback, const void* userParam)) \
    X(lookup, gl43, void, glDebugMessageInsert, (GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei length, const GLchar* buf)) \
    X(lookup, bindlessTexture, GLboolean, glIsTextureHandleResidentARB, (GLuint64 handle)) \
    X(lookup, gl43, void, glGetTexParameteriv, (GLenum target, GLenum pname, GLint* params)) \
    X(lookup, gl43, void, glGetVertexAttribiv, (GLuint index, GLenum pname, GLint* params))

// clang-format on

// ---- The table ----

namespace gltable {
#define NOVA31_GL_DECLARE_ENTRY(source, requirement, returnType, name, parameters)                           \
    typedef returnType(APIENTRY* name##Function) parameters;                                                 \
    extern name##Function name;
NOVA31_GL_ENTRY_POINTS(NOVA31_GL_DECLARE_ENTRY)
NOVA31_GL_ADDITIONAL_ENTRY_POINTS(NOVA31_GL_DECLARE_ENTRY)
#undef NOVA31_GL_DECLARE_ENTRY
} // namespace gltable
using namespace gltable;

// ---- Loading ----

// Fills the table from the current context. Returns true when every entry of
// NOVA31_GL_ENTRY_POINTS was found. Fails at once, loading nothing more, when the context's
// version is below 4.3 or the window system lacks the context-creation extensions; otherwise
// every entry whose requirement holds is loaded, and one whose requirement fails stays null
// (so a missing bindless extension does not keep the debug callback from loading). Prints nothing.
bool loadGLEntryPoints();

// Why the table is unusable for the demo, naming what was missing and what was found (a
// version below 4.3, a missing window-system extension, a missing 4.3 entry point), or null when
// everything a 4.3 context must provide was loaded. Optional entries (bindless, the ARB debug
// callback) never count. Meaningful after loadGLEntryPoints.
const char* glEntryPointProblem();

// True when `version` (a GL_VERSION string, "M.m..." with single digits) names OpenGL 4.3 or
// later: major 4 with minor at least 3, or major 5 and up. A malformed string fails.
bool passesGLVersionGate(const char* version);

// ---- Extensions ----

// True when `name` is a whole token of the context's GL extensions or of the window system's
// own extension string (GLX on X11). The Windows names WGL_ARB_pixel_format,
// WGL_ARB_create_context and WGL_ARB_extensions_string are answered by their GLX equivalents.
// The strings are read on the first call that has a current context, then kept.
bool hasExtension(const char* name);

// True when `name` is one of the tokens of `extensions`, a list split at single spaces: same
// characters and same length, never a prefix of a longer token; the last token counts whether
// or not a space follows it. A null or empty string holds no token.
bool hasExtensionToken(const char* extensions, const char* name);

// ---- Debug output ----

// The debug-message callback: prints "GL <type name> MSG: <id> :<message>" and a newline
// through consoleLog, except for the driver's chatty ids 131154, 131185 and 131186. May be
// called on a driver thread; it only formats and prints.
void APIENTRY glDebugOutput(GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei length,
                            const GLchar* message, const void* userParam);
