// The window-system services of the GL table on Windows: opengl32.dll's own exports for the
// OpenGL 1.1 names, wglGetProcAddress for the rest, and the WGL extension string.
#include "platform/window_system.h"

#include <windows.h>

#include <cstdint>

namespace {

using GetExtensionsStringFunction = const char*(WINAPI*)(HDC dc);

HMODULE systemGLLibrary() {
    static HMODULE library = LoadLibraryA("opengl32.dll");
    return library;
}

} // namespace

void* systemGLFunction(const char* name) {
    HMODULE library = systemGLLibrary();
    return library != nullptr ? reinterpret_cast<void*>(GetProcAddress(library, name)) : nullptr;
}

void* lookupGLFunction(const char* name) {
    void* pointer = reinterpret_cast<void*>(wglGetProcAddress(name));
    // Some drivers answer an unknown name with a small integer or -1 instead of null.
    auto value = reinterpret_cast<intptr_t>(pointer);
    if (value >= -1 && value <= 3) pointer = nullptr;
    // wglGetProcAddress never hands out OpenGL 1.1 functions: those are opengl32.dll's exports.
    return pointer != nullptr ? pointer : systemGLFunction(name);
}

bool glContextIsCurrent() {
    return wglGetCurrentContext() != nullptr;
}

const char* windowSystemExtensions() {
    HDC dc = wglGetCurrentDC();
    if (dc == nullptr) return nullptr;
    auto getExtensions =
        reinterpret_cast<GetExtensionsStringFunction>(lookupGLFunction("wglGetExtensionsStringARB"));
    return getExtensions != nullptr ? getExtensions(dc) : nullptr;
}
