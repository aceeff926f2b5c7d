// Runs a program as a child process with a deadline, collecting its output as it goes.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ChildResult {
    int exitCode = -1000;  // exit status, or -signal when killed by a signal
    bool timedOut = false; // the deadline passed and the child was killed
    std::string out;       // standard output
    std::string err;       // standard error
};

// `whileRunning` is called about every 50 ms with the output so far; returning false stops calling it.
ChildResult runChild(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                     double timeoutSeconds,
                     const std::function<bool(const std::string& out, int pid)>& whileRunning = nullptr);
