/* window.h — the demo window, its GL context, the typed-key queue and the end of a frame.

   The entry function opens one window for the whole run and then, once per loop pass, reads at
   most one typed character and presents the frame it drew:

       installFatalErrorMessageBox();        // fatal errors show a box when a person is there
       createDemoWindow(true, 800, 450);     // full-screen; GL 4.5 core debug context current
       while (running) {
           if (pendingKeyCount() != 0) handleKey(nextKey());   // 27: Escape or close request
           ... draw at windowWidth x windowHeight ...
           presentFrame();
       }

   createDemoWindow writes "Setting style to max!\n" (full-screen only), "!! Resize called: W H\n"
   for every size change, then "KeyCount:%d\n". A full-screen window is a borderless window
   titled "DEMOWINDOW" placed over the whole primary screen, whatever size was asked for; the
   mouse cursor is hidden. The context is OpenGL 4.5 core with the debug flag (4.3 is accepted
   when 4.5 cannot be had); the GL entry points of platform/gl.h are loaded, driver messages go
   to the console through glDebugOutput, the viewport covers the window, and one vertex array
   stays bound for the whole run. No display, no 4.3 context or no compute shaders: fatalError
   naming what was missing and what was found.

   Keys: typed characters arrive in typing order and in their typed case (Latin-1, one byte
   each; other characters arrive as '?'); Escape and a close request of the window both queue
   character 27, Return 13, Backspace 8 and Tab 9. The queue holds 300 characters; characters
   typed while it is full are dropped. A close request does not close the window.

   Tools call createDemoWindow(false, width, height) to get a context: it works on any X display,
   Xvfb included, and never waits for a person. With no display (DISPLAY unset or empty) it gives
   the headless context instead, as createHeadlessContext does; a full-screen window still needs
   a display.

   Headless: createHeadlessContext(width, height) asks for no window at all (the GL tests do, and
   any program that only reads back what it draws). The context, OpenGL 4.5 core debug (4.3
   accepted) made through EGL on an EGL device or Mesa's surfaceless platform, draws into a
   width x height RGBA8 + depth-24 pbuffer that is framebuffer 0, so the frame is read back from
   GL_BACK as a window's would be. Everything else stays: the same entry points, gates, debug
   output, viewport, vertex array and log lines ("KeyCount:%d\n"); presentFrame runs its step and
   hands the frame's work to the driver; no key ever arrives (nextKey returns 27 rather than wait
   forever) and the size never changes. With no EGL display that gives such a context:
   fatalError naming what each display answered.

   Built on SDL2 (video only) with GLX, and EGL for the headless context, on Linux (window.cpp);
   on Win32 with WGL on Windows (win32_window.cpp: a popup window of class "X_FRAME\n" over the
   primary screen, system-DPI aware when shcore.dll offers it, a legacy context and then the 4.5
   core debug context through wglCreateContextAttribsARB; no headless context, and no
   createHeadlessContext declared). The build picks one by target; both run the generic functions
   (keys, present step, message box) of window_shared.cpp. It does not own audio, input devices other than the
   keyboard's characters, or more than one window. Everything runs on the main thread. */
#pragma once

// The window's client size in pixels; kept current across resizes (a size of 0, as a
// minimised window may report, is not taken over).
extern int windowWidth;
extern int windowHeight;

// Opens the window and its GL context and makes the context current. Called once by the demo;
// a later call keeps the existing window and context (and makes the context current again).
void createDemoWindow(bool fullScreen, int width, int height);

#ifndef _WIN32
// Makes the headless context (no window; see above) current, creating it on the first call. A
// later call, or one after createDemoWindow, keeps whatever context exists. Linux only.
void createHeadlessContext(int width, int height);
#endif

// Handles every waiting window event (size changes, typed characters, close requests).
// Never blocks.
void pumpMessages();

// pumpMessages(), then the number of queued characters.
int pendingKeyCount();

// Waits (pumping events, 1 ms naps) until a character is queued, then removes the oldest one
// and returns it as a signed 8-bit value widened to int. With no window (none opened yet, or the
// headless context) and nothing queued it returns 27 at once, on every system.
int nextKey();

// Ends a rendered frame: runs the installed end-of-frame step, then swaps the buffers.
void presentFrame();

// A step run by presentFrame before the swap (the shader system empties its triangle capture
// buffer there). Null, the default, runs nothing.
using PresentFrameHook = void (*)();
void setPresentFrameHook(PresentFrameHook hook);

// Makes fatalError show its text in a message box captioned "NOVA31", owned by the demo window
// once it exists, but only when a person can be there to close it. Neither CI nor
// NOVA31_UNATTENDED may be set (to anything but "", "0" or "false"), on every system. On X11: a
// display is set, the run is attended (standard input is a terminal or a desktop session is
// running) and a window manager runs on the display (a bare Xvfb has none). On Windows: the
// process runs on a visible window station (not a service's). Otherwise nothing is installed
// and fatalError only writes to standard error.
void installFatalErrorMessageBox();

// The decision installFatalErrorMessageBox makes, read from the environment now.
bool personIsPresent();
