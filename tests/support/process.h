/* process.h — child processes for the tests: run one to its end, or watch one line by line.

       ProcessResult run = runProcess({program, "-data:x.zip"}, folder);
       EXPECT_EQ(run.exitCode, 0) << run.err;

       ChildProcess loop({program}, {"DISPLAY=:5"});       // merged output, read as it comes
       ASSERT_TRUE(loop.waitForLine("ready", 10));

       std::string output;
       int status = runShell("zip -q x.zip a.txt", &output); // through /bin/sh, errors merged

       ProcessResult forked = runForked([] { return createThenExit(); }); // body in a fork

   Programs are started by path (no PATH search) with the test's environment plus changes;
   standard input is /dev/null. Deadlines kill the child with SIGKILL. Nothing here needs a
   display or an audio device (see services.h for those). */
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct ProcessResult {
    int exitCode = -1000;  // exit status, or -signal when killed by a signal
    bool timedOut = false; // the deadline passed and the child was killed
    std::string out;       // standard output
    std::string err;       // standard error
};

// Starts `arguments[0]` with the environment changes, standard input from /dev/null, each of our
// descriptors `first` dup'ed to the child's `second`, in `workingDirectory` unless empty.
// Returns the child's pid, or -1. The caller waits for it.
pid_t spawnProcess(std::vector<std::string> arguments, const std::vector<std::string>& environment,
                   const std::vector<std::pair<int, int>>& redirections, const std::string& workingDirectory);

// Called about every 50 ms with the output so far; returning false stops calling it.
using WhileRunning = std::function<bool(const std::string& out, pid_t pid)>;

// Runs `arguments[0]` to its end (or `timeoutSeconds`), in `workingDirectory` unless empty,
// collecting both output streams.
ProcessResult runProcess(const std::vector<std::string>& arguments, const std::string& workingDirectory = "",
                         double timeoutSeconds = 60, const WhileRunning& whileRunning = nullptr);

// Runs `body` in a forked copy of the test with standard output captured (into `out`); its
// return value is the exit code. For code that ends the process on purpose.
ProcessResult runForked(const std::function<int()>& body);

// Runs a shell command line; returns its exit status (-1 when it did not exit normally) and,
// when `output` is given, its standard output and error together.
int runShell(const std::string& command, std::string* output = nullptr);

// A program running in the background, its merged standard output and error collected as they
// arrive, line by line.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment);
    ~ChildProcess(); // kills the child if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads output until a line equal to `line` arrived (true) or `seconds` passed (false).
    bool waitForLine(const std::string& line, double seconds);
    // Reads output until the child exits; returns its exit status (128 + signal when killed by
    // one), or -1 after `seconds` (the child is then killed by the destructor).
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

// Sets environment variables for the test process itself and puts the old values back when it
// goes out of scope.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const char* name, const std::string& value);
    void unset(const char* name);

private:
    void remember(const char* name);
    struct Saved {
        std::string name;
        bool present;
        std::string value;
    };
    std::vector<Saved> saved;
};
