// Child processes for the window tests: a private Xvfb display, and programs whose merged
// standard output and error are read line by line with deadlines.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A program running in the background, its output collected as it arrives.
class ChildProcess {
public:
    // Starts `arguments[0]` (a path) with the current environment plus `environment`
    // ("NAME=value" sets, "NAME" alone removes).
    ChildProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment);
    ~ChildProcess(); // kills the child if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads output until a line equal to `line` arrived (true) or `seconds` passed (false).
    bool waitForLine(const std::string& line, double seconds);
    // Reads output until the child exits; returns its exit status, or -1 after `seconds`
    // (the child is then killed).
    int waitForExit(double seconds);
    // Every complete line so far, without its newline.
    const std::vector<std::string>& lines() const { return completeLines; }
    // All output so far, for failure messages.
    std::string output() const;
    pid_t pid() const { return child; }

private:
    bool readFor(double seconds); // false once the pipe is closed
    pid_t child = -1;
    int outputPipe = -1;
    std::string partialLine;
    std::vector<std::string> completeLines;
    int exitStatus = -1;
};

// An Xvfb server of its own, so that focus, screen size and screenshots belong to one test.
class PrivateDisplay {
public:
    // `serverOptions` go to Xvfb as they are (for example {"-extension", "GLX"}).
    PrivateDisplay(int width, int height, const std::vector<std::string>& serverOptions = {});
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    bool started() const { return !name.empty(); }
    const std::string& displayName() const { return name; } // ":N"
    std::string environment() const { return "DISPLAY=" + name; }

private:
    pid_t server = -1;
    std::string name;
};

// Runs a shell command with DISPLAY set to `display`; returns its exit status and output.
int runCommand(const std::string& display, const std::string& command, std::string* output);
