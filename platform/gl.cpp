// The GL entry-point table, its loader with the version and window-system gates, the extension
// test and the debug-message callback.
#include "platform/gl.h"

#include "app/console.h"
#include "platform/window_system.h"

#include <cstdio>
#include <cstring>
#include <string>

// ---- The table ----

namespace gltable {
#define NOVA31_GL_DEFINE_ENTRY(source, requirement, returnType, name, parameters)                            \
    name##Function name = nullptr;
NOVA31_GL_ENTRY_POINTS(NOVA31_GL_DEFINE_ENTRY)
NOVA31_GL_ADDITIONAL_ENTRY_POINTS(NOVA31_GL_DEFINE_ENTRY)
#undef NOVA31_GL_DEFINE_ENTRY
} // namespace gltable

namespace {

// ---- Extension strings ----

struct ExtensionStrings {
    bool haveGL = false;           // `gl` was read from a current context
    std::string gl;                // the context's extensions, joined with single spaces
    bool haveWindowSystem = false; // `windowSystem` was read from a current display
    std::string windowSystem;      // GLX's extension string
};

ExtensionStrings extensionStrings;

// A core context has no GL_EXTENSIONS string, only the indexed list; it is joined into one
// string so that both kinds of context are searched the same way.
void readGLExtensions() {
    auto getIntegerv = reinterpret_cast<PFNGLGETINTEGERVPROC>(lookupGLFunction("glGetIntegerv"));
    auto getStringi = reinterpret_cast<PFNGLGETSTRINGIPROC>(lookupGLFunction("glGetStringi"));
    if (getIntegerv == nullptr || getStringi == nullptr) return;
    GLint count = 0;
    getIntegerv(GL_NUM_EXTENSIONS, &count);
    std::string joined;
    for (GLint index = 0; index < count; ++index) {
        const GLubyte* extension = getStringi(GL_EXTENSIONS, static_cast<GLuint>(index));
        if (extension == nullptr) continue;
        if (!joined.empty()) joined += ' ';
        joined += reinterpret_cast<const char*>(extension);
    }
    extensionStrings.gl = std::move(joined);
    extensionStrings.haveGL = true;
}

void readExtensionStrings() {
    if (!glContextIsCurrent()) return;
    if (!extensionStrings.haveGL) readGLExtensions();
    if (!extensionStrings.haveWindowSystem) {
        const char* windowSystem = windowSystemExtensions();
        if (windowSystem != nullptr) {
            extensionStrings.windowSystem = windowSystem;
            extensionStrings.haveWindowSystem = true;
        }
    }
}

// The Windows context-creation extensions the loader gates on, and the GLX and EGL extensions
// that provide the same service on X11 and without a window. The extension string itself is
// core GLX (1.1) and core EGL; what the loader relies on in its place is the lookup of functions
// by name (EGL's covers core functions only with EGL_KHR_get_all_proc_addresses).
// On Windows the names are WGL's own.
struct WindowSystemAlias {
    const char* windowsName;
    const char* glxName;
    const char* eglName;
};
#ifndef _WIN32
constexpr WindowSystemAlias windowSystemAliases[] = {
    {"WGL_ARB_pixel_format", "GLX_SGIX_fbconfig", "EGL_KHR_config_attribs"},
    {"WGL_ARB_create_context", "GLX_ARB_create_context", "EGL_KHR_create_context"},
    {"WGL_ARB_extensions_string", "GLX_ARB_get_proc_address", "EGL_KHR_get_all_proc_addresses"},
};
#endif

const char* windowSystemName(const char* name) {
#ifndef _WIN32
    for (const WindowSystemAlias& alias : windowSystemAliases) {
        if (std::strcmp(alias.windowsName, name) == 0) {
            return headlessContextIsCurrent() ? alias.eglName : alias.glxName;
        }
    }
#endif
    return name;
}

// ---- Loading ----

struct ContextVersion {
    int major = 0;
    int minor = 0;
};

ContextVersion loadedVersion;
std::string loadProblem; // empty when the table is usable
bool loadProblemSet = false;

void noteProblem(const std::string& text) {
    if (loadProblemSet) return; // the first problem is the one worth reporting
    loadProblem = text;
    loadProblemSet = true;
}

bool requirementHolds(const GLRequirement& requirement) {
    if (requirement.extension != nullptr) return hasExtension(requirement.extension);
    if (loadedVersion.major != requirement.major) return loadedVersion.major > requirement.major;
    return loadedVersion.minor >= requirement.minor;
}

bool isCoreRequirement(const GLRequirement& requirement) {
    return requirement.extension == nullptr && requirement.major == 4 && requirement.minor <= 3;
}

// One entry: present only when its requirement holds and the window system gives a pointer.
void* findEntry(GLEntrySource source, const GLRequirement& requirement, const char* name, bool* allFound) {
    void* pointer = nullptr;
    if (requirementHolds(requirement)) {
        pointer = source == GLEntrySource::systemLibrary ? systemGLFunction(name) : nullptr;
        if (pointer == nullptr) pointer = lookupGLFunction(name);
    }
    if (pointer == nullptr) {
        if (allFound != nullptr) *allFound = false;
        if (isCoreRequirement(requirement)) noteProblem(std::string("the GL driver lacks ") + name);
    }
    return pointer;
}

void clearTable() {
#define NOVA31_GL_CLEAR_ENTRY(source, requirement, returnType, name, parameters) name = nullptr;
    NOVA31_GL_ENTRY_POINTS(NOVA31_GL_CLEAR_ENTRY)
    NOVA31_GL_ADDITIONAL_ENTRY_POINTS(NOVA31_GL_CLEAR_ENTRY)
#undef NOVA31_GL_CLEAR_ENTRY
}

// ---- Debug output ----

struct DebugTypeName {
    GLenum type;
    const char* name;
};
constexpr DebugTypeName debugTypeNames[] = {
    {0x824C, "GL_DEBUG_TYPE_ERROR"},
    {0x824D, "GL_DEBUG_TYPE_DEPRECATED_BEHAVIOR"},
    {0x824E, "GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR"},
    {0x824F, "GL_DEBUG_TYPE_PORTABILITY"},
    {0x8250, "GL_DEBUG_TYPE_PERFORMANCE"},
    {0x8251, "GL_DEBUG_TYPE_OTHER"},
};

// Buffer usage hints and similar chatter that some drivers send for every buffer operation.
constexpr GLuint silencedDebugIds[] = {131154, 131185, 131186};

} // namespace

bool passesGLVersionGate(const char* version) {
    if (version == nullptr || std::strlen(version) < 3) return false;
    char major = version[0];
    char minor = version[2];
    if (major < '0' || major > '9' || version[1] != '.' || minor < '0' || minor > '9') return false;
    if (major != '4') return major > '4';
    return minor >= '3';
}

bool hasExtensionToken(const char* extensions, const char* name) {
    if (extensions == nullptr || name == nullptr) return false;
    size_t nameLength = std::strlen(name);
    if (nameLength == 0) return false;
    const char* token = extensions;
    while (true) {
        const char* end = std::strchr(token, ' ');
        size_t tokenLength = end != nullptr ? static_cast<size_t>(end - token) : std::strlen(token);
        if (tokenLength == nameLength && std::memcmp(token, name, nameLength) == 0) return true;
        if (end == nullptr) return false;
        token = end + 1;
    }
}

bool hasExtension(const char* name) {
    readExtensionStrings();
    if (hasExtensionToken(extensionStrings.gl.c_str(), name)) return true;
    return hasExtensionToken(extensionStrings.windowSystem.c_str(), windowSystemName(name));
}

bool loadGLEntryPoints() {
    clearTable();
    loadProblem.clear();
    loadProblemSet = false;
    loadedVersion = {};

    // The version gate: read through libGL's own export, before anything else is loaded.
    glGetString = reinterpret_cast<glGetStringFunction>(systemGLFunction("glGetString"));
    if (glGetString == nullptr)
        glGetString = reinterpret_cast<glGetStringFunction>(lookupGLFunction("glGetString"));
    const char* version =
        glGetString != nullptr ? reinterpret_cast<const char*>(glGetString(GL_VERSION)) : nullptr;
    if (!passesGLVersionGate(version)) {
        noteProblem(std::string("OpenGL 4.3 or later is needed, found version \"") +
                    (version != nullptr ? version : "(none)") + "\"");
        return false;
    }
    loadedVersion = {version[0] - '0', version[2] - '0'};

    for (const char* gate : {"WGL_ARB_pixel_format", "WGL_ARB_create_context", "WGL_ARB_extensions_string"}) {
        if (!hasExtension(gate)) {
            noteProblem(std::string("the window system lacks ") + windowSystemName(gate) + " (found \"" +
                        extensionStrings.windowSystem + "\")");
            return false;
        }
    }

    bool allFound = true;
#define NOVA31_GL_LOAD_ENTRY(source, requirement, returnType, name, parameters)                              \
    name = reinterpret_cast<name##Function>(                                                                 \
        findEntry(GLEntrySource::source, glrequirement::requirement, #name, allFoundTarget));
    bool* allFoundTarget = &allFound;
    NOVA31_GL_ENTRY_POINTS(NOVA31_GL_LOAD_ENTRY)
    allFoundTarget = nullptr; // the additional entries do not decide the result
    NOVA31_GL_ADDITIONAL_ENTRY_POINTS(NOVA31_GL_LOAD_ENTRY)
#undef NOVA31_GL_LOAD_ENTRY
    return allFound;
}

const char* glEntryPointProblem() {
    return loadProblemSet ? loadProblem.c_str() : nullptr;
}

void APIENTRY glDebugOutput(GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei length,
                            const GLchar* message, const void* userParam) {
    (void)source;
    (void)severity;
    (void)length;
    (void)userParam;
    for (GLuint silenced : silencedDebugIds) {
        if (id == silenced) return;
    }
    const char* typeName = "Unknown type";
    for (const DebugTypeName& entry : debugTypeNames) {
        if (entry.type == type) {
            typeName = entry.name;
            break;
        }
    }
    // One call, so that a message from a driver thread is not split by main-thread output.
    consoleLog("GL %s MSG: %d :%s\n", typeName, static_cast<int>(id), message != nullptr ? message : "");
}
