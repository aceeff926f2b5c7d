// Clears the environment variables that decide whether a person is there to see a message
// box, and puts them back when it goes out of scope.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class AttendanceEnvironment {
public:
    AttendanceEnvironment() {
        for (const char* name : {"DISPLAY", "CI", "NOVA31_UNATTENDED", "XDG_SESSION_TYPE",
                                 "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
    }
    ~AttendanceEnvironment() {
        for (auto& [name, value] : saved) {
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
        }
    }
    AttendanceEnvironment(const AttendanceEnvironment&) = delete;
    AttendanceEnvironment& operator=(const AttendanceEnvironment&) = delete;

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
};
