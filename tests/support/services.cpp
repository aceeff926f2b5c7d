#include "tests/support/services.h"

#include "tests/support/process.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void stop(pid_t server) {
    if (server <= 0) return;
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
}

} // namespace

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
    server = spawnProcess(arguments, {}, {{ends[1], 3}, {quiet, 1}, {quiet, 2}}, "");
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
    stop(server);
}

int PrivateDisplay::run(const std::string& command, std::string* output) const {
    return runShell("DISPLAY=" + name + "; export DISPLAY; " + command, output);
}

// ---- PrivateAudioServer ----

PrivateAudioServer::PrivateAudioServer(int sampleRate, int framesPerPeriod) {
    static int made = 0;
    name = "nova31-test-" + std::to_string(getpid()) + "-" + std::to_string(made++);
    int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    server = spawnProcess({"/usr/bin/jackd", "--name=" + name, "--no-realtime", "-d", "dummy", "-r",
                           std::to_string(sampleRate), "-p", std::to_string(framesPerPeriod)},
                          {"JACK_NO_AUDIO_RESERVATION=1"}, {{quiet, 1}, {quiet, 2}}, "");
    close(quiet);
    if (server <= 0) return;
    std::string probe = "JACK_NO_START_SERVER=1 jack_lsp -s " + name + " >/dev/null";
    for (int attempt = 0; attempt < 100 && !up; ++attempt) {
        up = runShell(probe) == 0;
        if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

PrivateAudioServer::~PrivateAudioServer() {
    stop(server);
}
