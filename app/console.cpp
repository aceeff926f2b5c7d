#include "app/console.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
FatalErrorPresenter fatalErrorPresenter = nullptr;
}

void consoleLog(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    // Progress lines must reach a pipe in order with standard error and survive a fatal exit.
    std::fflush(stdout);
}

void setFatalErrorPresenter(FatalErrorPresenter presenter) {
    fatalErrorPresenter = presenter;
}

void fatalError(const char* text) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    if (fatalErrorPresenter != nullptr) {
        FatalErrorPresenter presenter = fatalErrorPresenter;
        fatalErrorPresenter = nullptr; // a failure inside the box must not recurse
        presenter(text);
    }
    std::_Exit(-1);
}

std::string formatText(const char* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    return text;
}

void fatalErrorFormat(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatText(format, arguments);
    va_end(arguments);
    fatalError(text.c_str());
}
