/* window_shared.h — the parts of the demo window that do not depend on the window system:
   the typed-key queue, size changes, the GL set-up that follows context creation, and the rule
   that tells a run nobody watches. Both implementations of platform/window.h (SDL2 on Linux,
   Win32 on Windows) use it, and window_shared.cpp implements the generic functions of
   platform/window.h (pendingKeyCount, nextKey, presentFrame, setPresentFrameHook,
   installFatalErrorMessageBox) over the few primitives each window system provides, declared
   last here. Internal to platform/. */
#pragma once

// ---- Key queue ----

// Appends one typed character; a character arriving while the queue holds 300 is dropped.
void queueCharacter(unsigned char character);

// The number of queued characters.
int queuedCharacterCount();

// Removes the oldest queued character (the queue must not be empty) and returns it as a signed
// 8-bit value widened to int.
int takeOldestCharacter();

// ---- Size changes ----

// A new client size from the window system: windowWidth and windowHeight take it, with
// "!! Resize called: W H" and, once a context exists, the viewport; a size with a side of 0 (a
// minimised window) is not taken over.
void applyWindowSize(int width, int height, bool contextExists);

// ---- Context set-up ----

// Runs once the final context is current and loadGLEntryPoints has filled the table: ends the
// process through fatalError when the table lacks what the demo needs or the context has no
// compute shaders; registers glDebugOutput; sets the viewport to windowWidth x windowHeight;
// binds the one vertex array that stays bound for the whole run.
void finishContextSetup();

// ---- Attendance ----

// True when the variable is set to anything but "", "0" or "false".
bool environmentFlagSet(const char* name);

// True when the environment says nobody watches the run: CI or NOVA31_UNATTENDED is set
// (scripts/services.sh sets the latter for everything run on the test display).
bool unattendedByEnvironment();

// ---- Primitives each window system provides ----

// True while a window exists that can deliver typed characters (no window yet, or the headless
// context: none can ever arrive).
bool windowDeliversKeys();

// Shows the drawn frame: swaps the window's buffers, or hands a headless frame to the driver.
void swapFrameBuffers();

// Sleeps for about a millisecond while waiting on the window system.
void napOneMillisecond();

// Shows fatalError's text in a message box captioned "NOVA31", owned by the window if one exists.
void showFatalErrorBox(const char* text);
