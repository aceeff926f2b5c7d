#include "platform/window_system.h"

#include <GL/glx.h>
#include <SDL.h>
#include <dlfcn.h>

void* systemGLFunction(const char* name) {
    return dlsym(RTLD_DEFAULT, name);
}

void* lookupGLFunction(const char* name) {
    return SDL_GL_GetProcAddress(name);
}

bool glContextIsCurrent() {
    return SDL_GL_GetCurrentContext() != nullptr;
}

const char* windowSystemExtensions() {
    Display* display = glXGetCurrentDisplay();
    if (display == nullptr) return nullptr;
    return glXQueryExtensionsString(display, DefaultScreen(display));
}
