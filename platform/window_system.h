/* window_system.h — the few window-system services the GL table needs, kept apart from
   platform/gl.h because <GL/glx.h> declares GL prototypes that would clash with the table.
   Internal to platform/. */
#pragma once

// A function exported by the system GL library (libGL), or null.
void* systemGLFunction(const char* name);

// A GL function through the window system's lookup by name (EGL's while the headless context is
// current, SDL's otherwise), or null. Needs a current context.
void* lookupGLFunction(const char* name);

// True while a GL context is current on the calling thread.
bool glContextIsCurrent();

// The window system's own extension string (GLX's for the current display, or EGL's display and
// client strings while the headless context is current), or null when neither is current.
const char* windowSystemExtensions();

// True while the headless context (EGL, no window) is the current one.
bool headlessContextIsCurrent();

// True when a window manager that follows the desktop conventions runs on the display named by
// DISPLAY (it announces itself through _NET_SUPPORTING_WM_CHECK on the root window). A bare
// virtual server such as Xvfb has none.
bool windowManagerRunning();
