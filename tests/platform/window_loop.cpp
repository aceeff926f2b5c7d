// A main loop shaped like the demo's, for driving the window from outside: it opens the
// full-screen window, clears it with the colour ramp at the music time, presents, and takes
// one typed key per pass. Escape (or a close request) ends it with exit code 0.
//
//   platform_window_loop [--time SECONDS]
//
// With --time the ramp is held at that time, so a screenshot has a known colour; otherwise the
// time runs with the wall clock. Lines it writes besides the window's own:
//   "Window W H"              once the window is open
//   "Key:N"                   every character taken from the queue
//   "Paused" / "Resumed"      for 'p' (upper-case 'P' is not a command)
//   "Viewport X Y W H"        whenever the window size changed, with the GL viewport
//   "Loop end"                before exiting
#include "app/console.h"
#include "platform/gl.h"
#include "platform/window.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

// The demo's clear colour: n = t * -30 truncated, blue = the low 8 bits of (1 - n) over 255.
float rampBlue(float t) {
    int n = static_cast<int>(t * -30.0f);
    return static_cast<float>((static_cast<unsigned>(1 - n) & 0xFFu) / 255.0);
}

int main(int argc, char** argv) {
    bool fixedTime = false;
    float heldTime = 0.0f;
    for (int index = 1; index + 1 < argc; ++index) {
        if (std::strcmp(argv[index], "--time") == 0) {
            fixedTime = true;
            heldTime = std::strtof(argv[index + 1], nullptr);
        }
    }

    installFatalErrorMessageBox();
    createDemoWindow(true, 800, 450);
    consoleLog("Window %d %d\n", windowWidth, windowHeight);

    bool paused = false;
    int reportedWidth = windowWidth;
    int reportedHeight = windowHeight;
    Uint64 start = SDL_GetTicks64();
    while (true) {
        if (pendingKeyCount() != 0) {
            int key = nextKey();
            consoleLog("Key:%d\n", key);
            if (key == 27) break;
            if (key == 'p') {
                paused = !paused;
                consoleLog(paused ? "Paused\n" : "Resumed\n");
            }
        }
        if (windowWidth != reportedWidth || windowHeight != reportedHeight) {
            reportedWidth = windowWidth;
            reportedHeight = windowHeight;
            GLint viewport[4] = {};
            glGetIntegerv(GL_VIEWPORT, viewport);
            consoleLog("Viewport %d %d %d %d\n", viewport[0], viewport[1], viewport[2], viewport[3]);
        }
        float t = fixedTime ? heldTime : static_cast<float>(SDL_GetTicks64() - start) / 1000.0f;
        glClearColor(0.0f, 0.0f, rampBlue(t), 0.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        presentFrame();
        SDL_Delay(paused ? 100 : 10); // the demo has no limiter; the test machine is shared
    }
    consoleLog("Loop end\n");
    return 0;
}
