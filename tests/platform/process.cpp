#include "process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) result.emplace_back(*entry);
    for (const std::string& change : changes) {
        std::string name = change.substr(0, change.find('='));
        std::erase_if(result, [&](const std::string& entry) {
            return entry.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (change.find('=') != std::string::npos) result.push_back(change);
    }
    return result;
}

std::vector<char*> pointerList(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// A descriptor of ours that the child gets as its descriptor `target`.
struct Redirection {
    int source;
    int target;
};

pid_t spawn(std::vector<std::string> arguments, const std::vector<std::string>& environment,
            const std::vector<Redirection>& redirections) {
    std::vector<std::string> variables = mergedEnvironment(environment);
    std::vector<char*> argv = pointerList(arguments);
    std::vector<char*> envp = pointerList(variables);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const Redirection& redirection : redirections) {
        posix_spawn_file_actions_adddup2(&actions, redirection.source, redirection.target);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

// ---- ChildProcess ----

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    // Standard output and error both go into the pipe (dup2 clears close-on-exec on the copies).
    child = spawn(arguments, environment, {{ends[1], 1}, {ends[1], 2}});
    close(ends[1]);
    outputPipe = ends[0];
}

ChildProcess::~ChildProcess() {
    if (child > 0 && exitStatus == -1) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    if (outputPipe != -1) close(outputPipe);
}

bool ChildProcess::readFor(double seconds) {
    if (outputPipe == -1) return false;
    pollfd descriptor{outputPipe, POLLIN, 0};
    int ready = poll(&descriptor, 1, static_cast<int>(seconds * 1000.0));
    if (ready <= 0) return true;
    char buffer[4096];
    ssize_t count = read(outputPipe, buffer, sizeof buffer);
    if (count <= 0) {
        close(outputPipe);
        outputPipe = -1;
        if (!partialLine.empty()) completeLines.push_back(partialLine);
        partialLine.clear();
        return false;
    }
    for (ssize_t index = 0; index < count; ++index) {
        if (buffer[index] == '\n') {
            completeLines.push_back(partialLine);
            partialLine.clear();
        } else {
            partialLine += buffer[index];
        }
    }
    return true;
}

bool ChildProcess::waitForLine(const std::string& line, double seconds) {
    Clock::time_point start = Clock::now();
    size_t checked = 0;
    while (true) {
        for (; checked < completeLines.size(); ++checked) {
            if (completeLines[checked] == line) return true;
        }
        double left = seconds - secondsSince(start);
        if (left <= 0) return false;
        if (!readFor(left)) {
            for (; checked < completeLines.size(); ++checked) {
                if (completeLines[checked] == line) return true;
            }
            return false;
        }
    }
}

int ChildProcess::waitForExit(double seconds) {
    if (child <= 0) return -1;
    Clock::time_point start = Clock::now();
    while (readFor(seconds - secondsSince(start)) && secondsSince(start) < seconds) {
    }
    while (secondsSince(start) < seconds) {
        int status = 0;
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return exitStatus;
        }
        usleep(10000);
    }
    return -1;
}

std::string ChildProcess::output() const {
    std::string text;
    for (const std::string& line : completeLines) text += line + "\n";
    return text + partialLine;
}

// ---- PrivateDisplay ----

PrivateDisplay::PrivateDisplay(int width, int height, const std::vector<std::string>& serverOptions) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    // -displayfd makes the server pick a free display number and write it to descriptor 3.
    int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::vector<std::string> arguments = {"/usr/bin/Xvfb", "-displayfd", "3",   "-screen", "0",
                                          screen,          "-nolisten",  "tcp", "-noreset"};
    arguments.insert(arguments.end(), serverOptions.begin(), serverOptions.end());
    server = spawn(arguments, {}, {{ends[1], 3}, {quiet, 1}, {quiet, 2}});
    close(ends[1]);
    close(quiet);
    std::string number;
    Clock::time_point start = Clock::now();
    while (server > 0 && secondsSince(start) < 10.0) {
        pollfd descriptor{ends[0], POLLIN, 0};
        if (poll(&descriptor, 1, 100) <= 0) continue;
        char character = 0;
        if (read(ends[0], &character, 1) != 1) break;
        if (character == '\n') break;
        number += character;
    }
    close(ends[0]);
    if (!number.empty()) name = ":" + number;
}

PrivateDisplay::~PrivateDisplay() {
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
}

int runCommand(const std::string& display, const std::string& command, std::string* output) {
    std::string line = "DISPLAY=" + display + " " + command + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string text;
    char buffer[4096];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, count);
    int status = pclose(pipe);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
