/* services.h — a display and an audio server of the test's own.

       PrivateDisplay display(320, 180);               // Xvfb on a free display number
       ChildProcess loop({program}, {display.environment()});

       PrivateAudioServer jack(44100, 441);            // JACK dummy backend, its own name
       if (jack.started()) ... JACK_DEFAULT_SERVER=jack.name() ...

   Both stop their server when they go out of scope. Tests that only need "a display" or "the
   audio device" use the ones test.sh starts (DISPLAY, the machine's JACK server); these are for
   tests whose screen size, focus, screenshots or sample rate must belong to them alone. */
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

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
    // Runs a shell command line on this display (runShell with DISPLAY set).
    int run(const std::string& command, std::string* output = nullptr) const;

private:
    pid_t server = -1;
    std::string name;
};

// A JACK server with the dummy backend at its own sample rate and period, under a name no other
// test uses; started() once it answers.
class PrivateAudioServer {
public:
    PrivateAudioServer(int sampleRate, int framesPerPeriod);
    ~PrivateAudioServer();
    PrivateAudioServer(const PrivateAudioServer&) = delete;
    PrivateAudioServer& operator=(const PrivateAudioServer&) = delete;

    bool started() const { return up; }
    const std::string& serverName() const { return name; }

private:
    pid_t server = -1;
    std::string name;
    bool up = false;
};
