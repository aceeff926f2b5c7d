// Shared by the fuzz targets whose code under test ends bad input through fatalError.
//
// fatalError ends the process; inside a fuzz target its presenter throws instead, so a
// rejection unwinds back to the target's entry and the next input runs. The demo itself
// installs no such presenter. fatalError clears the presenter before calling it, so
// `expectRejections` is called again for every input.
#pragma once

#include "app/console.h"

struct FuzzRejected {};

[[noreturn]] inline void throwFuzzRejection(const char*) {
    throw FuzzRejected{};
}

inline void expectRejections() {
    setFatalErrorPresenter(throwFuzzRejection);
}
