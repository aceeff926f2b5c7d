// Clears the environment variables that decide whether a person is there to see a message
// box, and puts them back when it goes out of scope.
#pragma once

#include "tests/support/process.h"

class AttendanceEnvironment {
public:
    AttendanceEnvironment() {
        for (const char* name : {"DISPLAY", "CI", "NOVA31_UNATTENDED", "XDG_SESSION_TYPE",
                                 "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION"})
            environment.unset(name);
    }

private:
    ScopedEnvironment environment;
};
