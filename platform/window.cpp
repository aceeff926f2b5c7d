// The demo window on SDL2: creation and full-screen placement, the GL context (or the headless
// one, on EGL), event pumping into the key queue, the present step and the fatal-error message
// box.
#include "platform/window.h"

#include "app/console.h"
#include "platform/gl.h"
#include "platform/headless_egl.h"
#include "platform/window_shared.h"
#include "platform/window_system.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

int windowWidth = 0;
int windowHeight = 0;

namespace {

SDL_Window* demoWindow = nullptr;
SDL_GLContext demoContext = nullptr;
bool headless = false; // the context is the headless one: no window, no SDL

// ---- Typed text ----

// Decodes the UTF-8 text of one text-input event into one byte per character: Latin-1 code
// points as themselves, anything beyond Latin-1 (or malformed) as '?'.
void queueText(const char* text) {
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(text);
    while (*cursor != 0) {
        unsigned lead = *cursor;
        int continuation = lead < 0x80             ? 0
                           : (lead & 0xE0) == 0xC0 ? 1
                           : (lead & 0xF0) == 0xE0 ? 2
                           : (lead & 0xF8) == 0xF0 ? 3
                                                   : -1;
        if (continuation < 0) {
            queueCharacter('?');
            ++cursor;
            continue;
        }
        unsigned codePoint = continuation == 0 ? lead : lead & (0x3Fu >> continuation);
        ++cursor;
        bool wellFormed = true;
        for (int index = 0; index < continuation; ++index) {
            if ((*cursor & 0xC0) != 0x80) {
                wellFormed = false;
                break;
            }
            codePoint = (codePoint << 6) | (*cursor & 0x3Fu);
            ++cursor;
        }
        queueCharacter(wellFormed && codePoint <= 0xFF ? static_cast<unsigned char>(codePoint) : '?');
    }
}

// Keys that Windows turns into control characters; SDL reports them only as key presses.
struct ControlKey {
    SDL_Keycode key;
    unsigned char character;
};
constexpr ControlKey controlKeys[] = {
    {SDLK_ESCAPE, 27}, {SDLK_RETURN, 13}, {SDLK_KP_ENTER, 13}, {SDLK_BACKSPACE, 8}, {SDLK_TAB, 9},
};

// ---- Events ----

void handleEvent(const SDL_Event& event) {
    switch (event.type) {
    case SDL_QUIT:
        queueCharacter(27);
        break;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
            applyWindowSize(event.window.data1, event.window.data2, demoContext != nullptr);
        } else if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
            queueCharacter(27);
        } else if (event.window.event == SDL_WINDOWEVENT_SHOWN) {
            SDL_ShowCursor(SDL_DISABLE);
        }
        break;
    case SDL_TEXTINPUT:
        queueText(event.text.text);
        break;
    case SDL_KEYDOWN:
        for (const ControlKey& control : controlKeys) {
            if (event.key.keysym.sym == control.key) queueCharacter(control.character);
        }
        break;
    default:
        break;
    }
}

// ---- Context creation ----

void setContextAttributes(int major, int minor, bool core) {
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    if (core) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, major);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, minor);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, SDL_GL_CONTEXT_DEBUG_FLAG);
    }
}

// The version string of whatever context the driver gives without version demands, for the
// message that explains why no 4.3 context could be had.
std::string probeDriverVersion() {
    setContextAttributes(0, 0, false);
    SDL_GLContext probe = SDL_GL_CreateContext(demoWindow);
    if (probe == nullptr) return std::string("no context at all: ") + SDL_GetError();
    std::string found = "(unknown)";
    auto getString = reinterpret_cast<glGetStringFunction>(SDL_GL_GetProcAddress("glGetString"));
    const GLubyte* version = getString != nullptr ? getString(GL_VERSION) : nullptr;
    if (version != nullptr) found = reinterpret_cast<const char*>(version);
    SDL_GL_MakeCurrent(demoWindow, nullptr);
    SDL_GL_DeleteContext(probe);
    return "version \"" + found + "\"";
}

void createContext() {
    setContextAttributes(4, 5, true);
    demoContext = SDL_GL_CreateContext(demoWindow);
    if (demoContext == nullptr) {
        setContextAttributes(4, 3, true);
        demoContext = SDL_GL_CreateContext(demoWindow);
    }
    if (demoContext == nullptr) {
        std::string reason = SDL_GetError();
        fatalErrorFormat("Error, could not initialize a GL context: OpenGL 4.3 core is needed (%s), found %s",
                         reason.c_str(), probeDriverVersion().c_str());
    }
    SDL_GL_MakeCurrent(demoWindow, demoContext);
    SDL_GL_GetDrawableSize(demoWindow, &windowWidth, &windowHeight);
}

// What both kinds of context get once current: the entry points, the compute check, debug
// output, the viewport over windowWidth x windowHeight and the vertex array of the run.
void setUpCurrentContext() {
    loadGLEntryPoints(); // false only for optional entries; what the demo needs is checked next
    finishContextSetup();
}

// Waits, pumping events, until the window reports the size it was given (the X server answers
// asynchronously), or a second has passed.
void settleWindowSize(int width, int height) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        pumpMessages();
        if (windowWidth == width && windowHeight == height) return;
        SDL_Delay(5);
    }
}

} // namespace

// ---- Sanitizer builds ----

// LeakSanitizer asks for this at exit: what SDL's D-Bus connection, Xlib and Mesa (LLVM's
// caches in the software rasteriser included) keep for the life of the process is not a leak
// of ours, and every program that opens the window would otherwise fail a sanitizer run.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n"
           "leak:libSDL2-2.0.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:libGLdispatch.so\n"
           "leak:swrast_dri.so\n"
           "leak:libgallium\n"
           "leak:libLLVM\n"
           "leak:libX11.so\n"
           "leak:libEGL_mesa.so\n"
           "leak:libEGL.so\n";
}

void createHeadlessContext(int width, int height) {
    if (headless || demoWindow != nullptr) {
        createDemoWindow(false, width, height); // shares what is there
        return;
    }
    std::string problem;
    if (!openHeadlessEGLContext(width, height, &problem)) {
        fatalErrorFormat("Error, could not initialize a headless GL context: %s", problem.c_str());
    }
    headless = true;
    headlessEGLSurfaceSize(&windowWidth, &windowHeight);
    consoleLog("KeyCount:%d\n", queuedCharacterCount());
    setUpCurrentContext();
}

void createDemoWindow(bool fullScreen, int width, int height) {
    if (demoWindow != nullptr || headless) {
        // One context per process: a later call (several test suites in one process) shares it.
        if (headless)
            makeHeadlessEGLContextCurrent();
        else
            SDL_GL_MakeCurrent(demoWindow, demoContext);
        return;
    }
    const char* displayVariable = std::getenv("DISPLAY");
    if (!fullScreen && (displayVariable == nullptr || displayVariable[0] == '\0')) {
        createHeadlessContext(width, height); // nowhere to show a window: tools and tests go on
        return;
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    // An X server that is resetting (its last client just left) refuses connections for a
    // moment: a set display gets a few more tries before it counts as unusable.
    bool videoReady = SDL_Init(SDL_INIT_VIDEO) == 0;
    for (int retry = 0; !videoReady && retry < 4 && std::getenv("DISPLAY") != nullptr; ++retry) {
        SDL_Delay(100);
        videoReady = SDL_Init(SDL_INIT_VIDEO) == 0;
    }
    if (!videoReady) {
        const char* display = std::getenv("DISPLAY");
        fatalErrorFormat("Error, could not open the demo window: no usable display (DISPLAY=\"%s\": %s)",
                         display != nullptr ? display : "", SDL_GetError());
    }
    windowWidth = width;
    windowHeight = height;
    if (fullScreen) consoleLog("Setting style to max!\n");

    setContextAttributes(4, 5, true);
    Uint32 flags =
        SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN | (fullScreen ? SDL_WINDOW_BORDERLESS : SDL_WINDOW_RESIZABLE);
    demoWindow = SDL_CreateWindow("DEMOWINDOW", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width,
                                  height, flags);
    if (demoWindow == nullptr) {
        fatalErrorFormat("Error, could not initialize a GL context du eto missing pixel fmt\n%s",
                         SDL_GetError());
    }

    if (fullScreen) {
        SDL_Rect screen{0, 0, width, height};
        SDL_GetDisplayBounds(0, &screen);
        SDL_SetWindowPosition(demoWindow, screen.x, screen.y);
        SDL_SetWindowSize(demoWindow, screen.w, screen.h);
        SDL_ShowCursor(SDL_DISABLE);
        settleWindowSize(screen.w, screen.h);
    }
    consoleLog("KeyCount:%d\n", queuedCharacterCount());
    pumpMessages();

    createContext();
    setUpCurrentContext();
}

void pumpMessages() {
    if (demoWindow == nullptr) return;
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) handleEvent(event);
}

// ---- Primitives of the generic window code ----

bool windowDeliversKeys() {
    return demoWindow != nullptr;
}

void swapFrameBuffers() {
    if (headless)
        presentHeadlessEGLFrame();
    else
        SDL_GL_SwapWindow(demoWindow);
}

void napOneMillisecond() {
    SDL_Delay(1);
}

void showFatalErrorBox(const char* text) {
    if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "NOVA31", text, demoWindow) != 0) {
        std::fprintf(stderr, "(the message box could not be shown: %s)\n", SDL_GetError());
    }
}

// ---- Attendance ----

bool personIsPresent() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') return false;
    if (unattendedByEnvironment()) return false;
    bool desktopSession = std::getenv("XDG_SESSION_TYPE") != nullptr ||
                          std::getenv("DESKTOP_SESSION") != nullptr ||
                          std::getenv("XDG_CURRENT_DESKTOP") != nullptr;
    if (!desktopSession && isatty(STDIN_FILENO) == 0) return false;
    // Scripts and tests run on virtual servers without a window manager, where nobody could
    // close the box.
    return windowManagerRunning();
}
