#include "tests/support/process.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

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

// Exit code of a waitpid status: the code, or -signal.
int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return -1000;
}

} // namespace

// ---- Spawning ----

pid_t spawnProcess(std::vector<std::string> arguments, const std::vector<std::string>& environment,
                   const std::vector<std::pair<int, int>>& redirections,
                   const std::string& workingDirectory) {
    std::vector<std::string> variables = mergedEnvironment(environment);
    std::vector<char*> argv = pointerList(arguments);
    std::vector<char*> envp = pointerList(variables);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (auto [source, target] : redirections) posix_spawn_file_actions_adddup2(&actions, source, target);
    if (!workingDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// ---- Running to the end ----

ProcessResult runProcess(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                         double timeoutSeconds, const WhileRunning& whileRunning) {
    ProcessResult result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]), close(outPipe[1]);
        return result;
    }
    pid_t pid = spawnProcess(arguments, {}, {{outPipe[1], 1}, {errPipe[1], 2}}, workingDirectory);
    close(outPipe[1]), close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]), close(errPipe[0]);
        result.err = "could not start " + arguments.at(0);
        return result;
    }
    Clock::time_point start = Clock::now();
    bool watching = static_cast<bool>(whileRunning);
    int readable[2] = {outPipe[0], errPipe[0]};
    while (readable[0] >= 0 || readable[1] >= 0) {
        pollfd fds[2] = {{readable[0], POLLIN, 0}, {readable[1], POLLIN, 0}};
        poll(fds, 2, 50);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                readable[i] = -1;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            }
        }
        if (readable[0] < 0 && readable[1] < 0) break;
        if (watching) watching = whileRunning(result.out, pid);
        if (secondsSince(start) > timeoutSeconds) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
    }
    for (int fd : readable)
        if (fd >= 0) close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = exitCodeOf(status);
    return result;
}

ProcessResult runForked(const std::function<int()>& body) {
    ProcessResult result;
    int ends[2];
    if (pipe(ends) != 0) return result;
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        dup2(ends[1], STDOUT_FILENO);
        close(ends[1]);
        int code = body();
        std::fflush(stdout);
        _exit(code);
    }
    close(ends[1]);
    char buffer[4096];
    ssize_t count;
    while ((count = read(ends[0], buffer, sizeof buffer)) > 0) result.out.append(buffer, count);
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = exitCodeOf(status);
    return result;
}

int runShell(const std::string& command, std::string* output) {
    // The parentheses keep the command's own redirections; only what it leaves on the terminal comes here.
    FILE* pipe = popen(("(" + command + ") 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string text;
    char buffer[4096];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, count);
    int status = pclose(pipe);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- ChildProcess ----

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    // Standard output and error both go into the pipe (dup2 clears close-on-exec on the copies).
    child = spawnProcess(arguments, environment, {{ends[1], 1}, {ends[1], 2}}, "");
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

// ---- ScopedEnvironment ----

void ScopedEnvironment::remember(const char* name) {
    for (const Saved& entry : saved)
        if (entry.name == name) return;
    const char* value = std::getenv(name);
    saved.push_back({name, value != nullptr, value != nullptr ? value : ""});
}

void ScopedEnvironment::set(const char* name, const std::string& value) {
    remember(name);
    setenv(name, value.c_str(), 1);
}

void ScopedEnvironment::unset(const char* name) {
    remember(name);
    unsetenv(name);
}

ScopedEnvironment::~ScopedEnvironment() {
    for (auto entry = saved.rbegin(); entry != saved.rend(); ++entry) {
        if (entry->present)
            setenv(entry->name.c_str(), entry->value.c_str(), 1);
        else
            unsetenv(entry->name.c_str());
    }
}
