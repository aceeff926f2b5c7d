// The demo window on Win32 and WGL: DPI awareness, the window class and the full-screen popup
// window, the pixel format and the two contexts, the window procedure and the message pump, and
// the primitives the generic window code (window_shared.cpp) runs on.
#include "platform/window.h"

// <windows.h> first: it defines APIENTRY, which the GL headers otherwise define empty.
#include <windows.h>

#include "app/console.h"
#include "platform/gl.h"
#include "platform/window_shared.h"
#include "platform/window_system.h"

// After platform/gl.h, which declares the GL types it uses.
#include <GL/wglext.h>

#include <cstdio>
#include <initializer_list>

int windowWidth = 0;
int windowHeight = 0;

namespace {

HWND demoWindow = nullptr;
HDC demoDeviceContext = nullptr;
HGLRC demoContext = nullptr;
HMODULE dpiLibrary = nullptr;  // "shcore.dll", loaded at most once
char windowClassName[16] = {}; // "X_FRAME\n", newline included
PIXELFORMATDESCRIPTOR pixelFormat = {};

// A function of a loaded library in its own type (through void*, which any function pointer
// type converts from without a cast-function-type warning).
template <typename Function> Function libraryFunction(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// ---- DPI awareness ----

// Makes the process system-DPI aware (1), so that the window covers the screen in real pixels.
// Windows before 8.1 have no shcore.dll: that is accepted, and the next call tries again.
void makeDpiAware() {
    if (dpiLibrary != nullptr) return;
    dpiLibrary = LoadLibraryA("shcore.dll");
    if (dpiLibrary == nullptr) return;
    using SetAwarenessFunction = HRESULT(WINAPI*)(int awareness);
    auto setAwareness = libraryFunction<SetAwarenessFunction>(dpiLibrary, "SetProcessDpiAwareness");
    if (setAwareness != nullptr) setAwareness(1);
}

// ---- Window procedure ----

void showNoCursor() {
    while (ShowCursor(FALSE) >= 0) {
    }
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        applyWindowSize(LOWORD(lParam), HIWORD(lParam), demoContext != nullptr);
        break;
    case WM_CLOSE:
        queueCharacter(27); // the demo ends itself; the window is not destroyed here
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SHOWWINDOW:
        showNoCursor();
        break;
    case WM_CHAR:
        queueCharacter(static_cast<unsigned char>(wParam & 0xFF)); // ANSI code page
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---- Context creation ----

void choosePixelFormat() {
    for (int colourBits = 32; colourBits >= 24; colourBits -= 8) {
        pixelFormat = {};
        pixelFormat.nSize = sizeof pixelFormat;
        pixelFormat.nVersion = 1;
        pixelFormat.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
        pixelFormat.iPixelType = PFD_TYPE_RGBA;
        pixelFormat.cColorBits = static_cast<BYTE>(colourBits);
        pixelFormat.cDepthBits = 24;
        pixelFormat.iLayerType = PFD_MAIN_PLANE;
        int chosen = ChoosePixelFormat(demoDeviceContext, &pixelFormat);
        if (chosen != 0) {
            SetPixelFormat(demoDeviceContext, chosen, &pixelFormat);
            return;
        }
    }
    fatalError("Error, could not initialize a GL context du eto missing pixel fmt");
}

void discardGLError() {
    if (glGetError != nullptr) glGetError();
}

// The 4.5 core debug context through wglCreateContextAttribsARB (4.3 is accepted when 4.5 cannot
// be had), or null.
HGLRC createCoreContext(PFNWGLCREATECONTEXTATTRIBSARBPROC createContextAttribs) {
    for (int minor : {5, 3}) {
        const int attributes[] = {WGL_CONTEXT_MAJOR_VERSION_ARB,
                                  4,
                                  WGL_CONTEXT_MINOR_VERSION_ARB,
                                  minor,
                                  WGL_CONTEXT_FLAGS_ARB,
                                  WGL_CONTEXT_DEBUG_BIT_ARB,
                                  WGL_CONTEXT_PROFILE_MASK_ARB,
                                  WGL_CONTEXT_CORE_PROFILE_BIT_ARB,
                                  0};
        HGLRC context = createContextAttribs(demoDeviceContext, nullptr, attributes);
        if (context != nullptr) return context;
    }
    return nullptr;
}

void createContext() {
    makeDpiAware();
    demoDeviceContext = GetDC(demoWindow);
    RECT client = {};
    GetClientRect(demoWindow, &client);
    windowWidth = client.right - client.left;
    windowHeight = client.bottom - client.top;
    choosePixelFormat();

    HGLRC legacy = wglCreateContext(demoDeviceContext);
    if (legacy == nullptr) fatalError("fmtmessage failed");
    wglMakeCurrent(demoDeviceContext, legacy);
    loadGLEntryPoints(); // what the demo needs is checked once the final context is current
    discardGLError();

    auto createContextAttribs =
        reinterpret_cast<PFNWGLCREATECONTEXTATTRIBSARBPROC>(lookupGLFunction("wglCreateContextAttribsARB"));
    demoContext = legacy;
    if (createContextAttribs != nullptr) {
        HGLRC core = createCoreContext(createContextAttribs);
        discardGLError();
        if (core == nullptr) {
            const char* version =
                glGetString != nullptr ? reinterpret_cast<const char*>(glGetString(GL_VERSION)) : nullptr;
            fatalErrorFormat("Error, could not initialize a GL context: OpenGL 4.3 core is needed, found "
                             "version \"%s\"",
                             version != nullptr ? version : "(none)");
        }
        wglMakeCurrent(demoDeviceContext, core);
        discardGLError();
        wglDeleteContext(legacy);
        discardGLError();
        demoContext = core;
    }
    // A driver whose legacy context reports an older version than 4.3 left the table unloaded
    // at its version gate; the final context gets its own try.
    if (glEntryPointProblem() != nullptr) loadGLEntryPoints();
    finishContextSetup();
}

} // namespace

void createDemoWindow(bool fullScreen, int width, int height) {
    if (demoWindow != nullptr) {
        // One window per process: a later call shares it.
        wglMakeCurrent(demoDeviceContext, demoContext);
        return;
    }
    makeDpiAware();
    windowWidth = width;
    windowHeight = height;
    DWORD style = WS_OVERLAPPEDWINDOW;
    if (fullScreen) {
        consoleLog("Setting style to max!\n");
        style = WS_POPUP | WS_MAXIMIZE;
    }

    HINSTANCE instance = GetModuleHandleA(nullptr);
    std::snprintf(windowClassName, sizeof windowClassName, "X_FRAME\n");
    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = windowClassName;
    RegisterClassA(&windowClass);

    RECT frame = {0, 0, width, height};
    AdjustWindowRect(&frame, style, FALSE);
    demoWindow = CreateWindowExA(0, windowClassName, "DEMOWINDOW", style | WS_VISIBLE, CW_USEDEFAULT,
                                 CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                 nullptr, instance, nullptr);
    if (demoWindow == nullptr) {
        fatalErrorFormat("Error, could not open the demo window (Windows error %lu)", GetLastError());
    }

    if (fullScreen) {
        SetWindowPos(demoWindow, nullptr, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                     SWP_FRAMECHANGED);
        showNoCursor();
    }
    consoleLog("KeyCount:%d\n", queuedCharacterCount());
    pumpMessages();

    createContext();
}

void pumpMessages() {
    if (demoWindow == nullptr) return;
    MSG message;
    while (PeekMessageA(&message, demoWindow, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// ---- Primitives of the generic window code ----

bool windowDeliversKeys() {
    return demoWindow != nullptr;
}

void swapFrameBuffers() {
    SwapBuffers(demoDeviceContext);
}

void napOneMillisecond() {
    Sleep(1);
}

void showFatalErrorBox(const char* text) {
    while (ShowCursor(TRUE) < 0) {
    }
    MessageBoxA(demoWindow, text, "NOVA31", MB_OK | MB_ICONERROR);
}

// ---- Attendance ----

bool personIsPresent() {
    if (unattendedByEnvironment()) return false;
    // Services and scheduled tasks run on a window station that no one sees.
    USEROBJECTFLAGS flags = {};
    HWINSTA station = GetProcessWindowStation();
    if (station == nullptr || !GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}
