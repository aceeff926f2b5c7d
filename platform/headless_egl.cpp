// The headless GL context on EGL: choosing a display (EGL devices, then Mesa's surfaceless
// platform), the 4.5/4.3 core debug context, its pbuffer surface and the driver-version probe
// for the error message.
#include "platform/headless_egl.h"

#include "platform/gl.h"
#include "platform/window_system.h"

#define EGL_NO_X11 // the headers must not drag Xlib's types in: nothing here talks to X
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// ---- State ----

struct HeadlessContext {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    EGLSurface surface = EGL_NO_SURFACE;
    std::string displayName; // in words, for messages
    std::string extensions;  // display and client extension strings
};

HeadlessContext headless;

std::string eglErrorText() {
    char text[32];
    std::snprintf(text, sizeof text, "EGL error 0x%04X", static_cast<unsigned>(eglGetError()));
    return text;
}

template <typename Function> Function eglExtensionFunction(const char* name) {
    return reinterpret_cast<Function>(eglGetProcAddress(name));
}

// ---- Displays ----

struct CandidateDisplay {
    EGLenum platform;
    void* nativeDisplay;
    std::string name;
};

// EGL devices (hardware before software, each group in the order EGL lists them, which follows
// libglvnd's vendor priorities), then the surfaceless platform.
std::vector<CandidateDisplay> candidateDisplays(std::string* problem) {
    std::vector<CandidateDisplay> candidates;
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!hasExtensionToken(client, "EGL_EXT_platform_base")) {
        *problem = std::string("EGL lacks EGL_EXT_platform_base (client extensions \"") +
                   (client != nullptr ? client : "") + "\")";
        return candidates;
    }
    if (hasExtensionToken(client, "EGL_EXT_device_enumeration") &&
        hasExtensionToken(client, "EGL_EXT_platform_device")) {
        auto queryDevices = eglExtensionFunction<PFNEGLQUERYDEVICESEXTPROC>("eglQueryDevicesEXT");
        auto queryDeviceString =
            eglExtensionFunction<PFNEGLQUERYDEVICESTRINGEXTPROC>("eglQueryDeviceStringEXT");
        EGLDeviceEXT devices[16];
        EGLint count = 0;
        if (queryDevices != nullptr && queryDeviceString != nullptr && queryDevices(16, devices, &count)) {
            std::vector<CandidateDisplay> software;
            for (EGLint index = 0; index < count; ++index) {
                const char* deviceExtensions = queryDeviceString(devices[index], EGL_EXTENSIONS);
                bool isSoftware = hasExtensionToken(deviceExtensions, "EGL_MESA_device_software");
                const char* file = hasExtensionToken(deviceExtensions, "EGL_EXT_device_drm")
                                       ? queryDeviceString(devices[index], EGL_DRM_DEVICE_FILE_EXT)
                                       : nullptr;
                std::string name = "EGL device " + std::to_string(index) + " (" +
                                   (isSoftware        ? "software"
                                    : file != nullptr ? file
                                                      : "hardware") +
                                   ")";
                CandidateDisplay candidate{EGL_PLATFORM_DEVICE_EXT, devices[index], name};
                (isSoftware ? software : candidates).push_back(candidate);
            }
            candidates.insert(candidates.end(), software.begin(), software.end());
        }
    }
    if (hasExtensionToken(client, "EGL_MESA_platform_surfaceless")) {
        candidates.push_back({EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, "surfaceless platform"});
    }
    if (candidates.empty()) *problem = "EGL lists no device and has no surfaceless platform";
    return candidates;
}

// ---- Context ----

EGLContext createCoreContext(EGLDisplay display, EGLConfig config, int major, int minor) {
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                 major,
                                 EGL_CONTEXT_MINOR_VERSION,
                                 minor,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                 EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                 EGL_CONTEXT_OPENGL_DEBUG,
                                 EGL_TRUE,
                                 EGL_NONE};
    return eglCreateContext(display, config, EGL_NO_CONTEXT, attributes);
}

// The version string of the context the driver gives without version demands, for the message
// that explains why no 4.3 context could be had.
std::string probeDriverVersion(EGLDisplay display, EGLConfig config, EGLSurface surface) {
    EGLContext probe = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (probe == EGL_NO_CONTEXT) return "no context at all: " + eglErrorText();
    std::string found = "(unknown)";
    if (eglMakeCurrent(display, surface, surface, probe)) {
        auto getString = eglExtensionFunction<PFNGLGETSTRINGPROC>("glGetString");
        const GLubyte* version = getString != nullptr ? getString(GL_VERSION) : nullptr;
        if (version != nullptr) found = reinterpret_cast<const char*>(version);
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    eglDestroyContext(display, probe);
    return "version \"" + found + "\"";
}

// One display: initialised, a config with a pbuffer, the context, the surface, current.
bool openOn(const CandidateDisplay& candidate, int width, int height, std::string* problem) {
    auto getPlatformDisplay =
        eglExtensionFunction<PFNEGLGETPLATFORMDISPLAYEXTPROC>("eglGetPlatformDisplayEXT");
    EGLDisplay display = getPlatformDisplay != nullptr
                             ? getPlatformDisplay(candidate.platform, candidate.nativeDisplay, nullptr)
                             : EGL_NO_DISPLAY;
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
        *problem = candidate.name + ": cannot be initialised (" + eglErrorText() + ")";
        return false;
    }
    auto fail = [&](const std::string& text) {
        *problem = candidate.name + ": " + text;
        eglTerminate(display);
        return false;
    };
    if (!eglBindAPI(EGL_OPENGL_API)) return fail("no desktop OpenGL (" + eglErrorText() + ")");
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                       EGL_PBUFFER_BIT,
                                       EGL_RENDERABLE_TYPE,
                                       EGL_OPENGL_BIT,
                                       EGL_RED_SIZE,
                                       8,
                                       EGL_GREEN_SIZE,
                                       8,
                                       EGL_BLUE_SIZE,
                                       8,
                                       EGL_ALPHA_SIZE,
                                       8,
                                       EGL_DEPTH_SIZE,
                                       24,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configCount) || configCount == 0) {
        return fail("no RGBA8 + depth-24 OpenGL config with pbuffers");
    }
    const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
    if (surface == EGL_NO_SURFACE) {
        return fail("no " + std::to_string(width) + " x " + std::to_string(height) + " pbuffer (" +
                    eglErrorText() + ")");
    }
    EGLContext context = createCoreContext(display, config, 4, 5);
    if (context == EGL_NO_CONTEXT) context = createCoreContext(display, config, 4, 3);
    if (context == EGL_NO_CONTEXT) {
        std::string reason = eglErrorText();
        std::string found = probeDriverVersion(display, config, surface);
        eglDestroySurface(display, surface);
        return fail("OpenGL 4.3 core is needed (" + reason + "), found " + found);
    }
    if (!eglMakeCurrent(display, surface, surface, context)) {
        std::string reason = eglErrorText();
        eglDestroyContext(display, context);
        eglDestroySurface(display, surface);
        return fail("the context cannot be made current (" + reason + ")");
    }
    headless.display = display;
    headless.context = context;
    headless.surface = surface;
    headless.displayName = candidate.name;
    const char* displayExtensions = eglQueryString(display, EGL_EXTENSIONS);
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    headless.extensions = std::string(displayExtensions != nullptr ? displayExtensions : "") + " " +
                          (clientExtensions != nullptr ? clientExtensions : "");
    return true;
}

} // namespace

bool openHeadlessEGLContext(int width, int height, std::string* problem) {
    std::string problems;
    std::vector<CandidateDisplay> candidates = candidateDisplays(&problems);
    for (const CandidateDisplay& candidate : candidates) {
        std::string reason;
        if (openOn(candidate, width, height, &reason)) return true;
        problems += (problems.empty() ? "" : "; ") + reason;
    }
    *problem = problems;
    return false;
}

void makeHeadlessEGLContextCurrent() {
    eglMakeCurrent(headless.display, headless.surface, headless.surface, headless.context);
}

void headlessEGLSurfaceSize(int* width, int* height) {
    EGLint queried[2] = {0, 0};
    eglQuerySurface(headless.display, headless.surface, EGL_WIDTH, &queried[0]);
    eglQuerySurface(headless.display, headless.surface, EGL_HEIGHT, &queried[1]);
    *width = queried[0];
    *height = queried[1];
}

void presentHeadlessEGLFrame() {
    eglSwapBuffers(headless.display, headless.surface);
}

void* headlessEGLFunction(const char* name) {
    return reinterpret_cast<void*>(eglGetProcAddress(name));
}

const char* headlessEGLExtensions() {
    return headless.extensions.c_str();
}

const char* headlessEGLDisplayName() {
    return headless.displayName.c_str();
}

bool headlessContextIsCurrent() {
    return headless.context != EGL_NO_CONTEXT && eglGetCurrentContext() == headless.context;
}
