/* headless_egl.h — an OpenGL context with no window and no display, through EGL.

   window.cpp asks for it when a program wants no window (tools, benchmarks, GL tests) or when
   no X display is there:

       std::string problem;
       if (!openHeadlessEGLContext(width, height, &problem)) fatalError(...problem...);
       ... the context is current; framebuffer 0 is a width x height RGBA8 + depth-24 surface ...
       presentHeadlessEGLFrame();   // the swap's place: hands the queued work to the driver

   The displays tried, best first: every device of EGL_EXT_device_enumeration (hardware devices,
   such as a GPU vendor's driver found through libglvnd's vendor files, before software ones such
   as Mesa's llvmpipe), then Mesa's surfaceless platform. On the first that offers one, the
   context is OpenGL 4.5 core with the debug flag (4.3 when 4.5 cannot be had), drawing into a
   pbuffer surface of the requested size: framebuffer 0 stays "the frame" for every caller, as
   a window's back buffer is.

   Internal to platform/. Does not load GL entry points, install debug output or keep window
   state (window.cpp does, the same way for both kinds of context); one context per process. */
#pragma once

#include <string>

// Creates the context and its surface on the first display that gives them, and makes it
// current. False when none did; `problem` then names what each display answered.
bool openHeadlessEGLContext(int width, int height, std::string* problem);

// Makes the headless context current again (after another context was).
void makeHeadlessEGLContextCurrent();

// The surface's size in pixels.
void headlessEGLSurfaceSize(int* width, int* height);

// Ends a frame on the surface (a pbuffer has nothing to show; the driver gets the queued work).
void presentHeadlessEGLFrame();

// A GL or EGL function by name through eglGetProcAddress, or null.
void* headlessEGLFunction(const char* name);

// The display's and the client's EGL extension strings, joined with a space.
const char* headlessEGLExtensions();

// The EGL display that gave the context, in words (for example "EGL device 0 (software)").
const char* headlessEGLDisplayName();
