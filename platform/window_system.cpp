#include "platform/window_system.h"

#include "platform/headless_egl.h"

#include <GL/glx.h>
#include <SDL.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dlfcn.h>

void* systemGLFunction(const char* name) {
    return dlsym(RTLD_DEFAULT, name);
}

void* lookupGLFunction(const char* name) {
    if (headlessContextIsCurrent()) return headlessEGLFunction(name);
    return SDL_GL_GetProcAddress(name);
}

bool glContextIsCurrent() {
    return SDL_GL_GetCurrentContext() != nullptr || headlessContextIsCurrent();
}

const char* windowSystemExtensions() {
    if (headlessContextIsCurrent()) return headlessEGLExtensions();
    Display* display = glXGetCurrentDisplay();
    if (display == nullptr) return nullptr;
    return glXQueryExtensionsString(display, DefaultScreen(display));
}

namespace {

// The window that the property `check` on `window` names, or None.
Window checkWindowOf(Display* display, Window window, Atom check) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    Window named = None;
    if (XGetWindowProperty(display, window, check, 0, 1, False, XA_WINDOW, &type, &format, &count, &remaining,
                           &data) == Success &&
        type == XA_WINDOW && format == 32 && count == 1 && data != nullptr) {
        named = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data != nullptr) XFree(data);
    return named;
}

int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

bool windowManagerRunning() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    // A stale property can name a window that is gone; its error must not end the process.
    int (*previousHandler)(Display*, XErrorEvent*) = XSetErrorHandler(ignoreXError);
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Window announced = checkWindowOf(display, DefaultRootWindow(display), check);
    // The convention: the named window carries the same property, naming itself.
    bool running = announced != None && checkWindowOf(display, announced, check) == announced;
    XSync(display, False);
    XSetErrorHandler(previousHandler);
    XCloseDisplay(display);
    return running;
}
