/* console.h — the demo's two reporting functions.

   consoleLog(format, ...) prints printf-style to standard output and adds nothing: a message
   that ends a line carries its own "\n". Every subsystem's progress lines go through it.

   fatalError(text) writes the text to standard error, shows it in a message box captioned
   "NOVA31" when a person is there to close it, and ends the process with exit code -1. It
   never returns. The box itself belongs to the platform layer, which installs it with
   setFatalErrorPresenter; without a presenter (tools, tests, no display) nothing waits.

   This module does not buffer, filter or level messages. */
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

// mingw-w64's C++ runtime formats as C99 says (%zu, %lld), not as the Microsoft C library does;
// the format checks must know which of the two they check against.
#ifdef __MINGW_PRINTF_FORMAT
#define NOVA31_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define NOVA31_PRINTF_FORMAT printf
#endif

void consoleLog(const char* format, ...) __attribute__((format(NOVA31_PRINTF_FORMAT, 1, 2)));

[[noreturn]] void fatalError(const char* text);

// The printf-style text of `format` and its arguments, for messages built before they are shown.
std::string formatText(const char* format, va_list arguments);

// printf-style convenience over fatalError.
[[noreturn]] void fatalErrorFormat(const char* format, ...)
    __attribute__((format(NOVA31_PRINTF_FORMAT, 1, 2)));

// Shows `text` to a person and returns once it was dismissed; called by fatalError before it exits.
using FatalErrorPresenter = void (*)(const char* text);
void setFatalErrorPresenter(FatalErrorPresenter presenter);
