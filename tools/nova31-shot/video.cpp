#include "tools/nova31-shot/video.h"

#include "app/console.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

// ---- Containers ----

namespace {

// What ffmpeg is told for each extension: the muxer, and the codecs where its usual choice is not
// the one wanted. The last argument of each list is a null pointer.
struct Container {
    const char* extension;
    const char* muxer;
    int highestQuality;         // of the video encoder's constant rate factor
    const char* codecs[10];     // codec options, null-terminated
    const char* qualityOptions; // after "-crf N": what makes the rate factor the only limit, or ""
};

constexpr Container kContainers[] = {
    // H.264 and AAC in the profile every player takes; the index first, for streaming players.
    {".mp4",
     "mp4",
     51,
     {"-c:v", "libx264", "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", nullptr},
     ""},
    {".mkv", "matroska", 51, {nullptr}, ""},                  // H.264 and Vorbis
    {".webm", "webm", 63, {"-row-mt", "1", nullptr}, "-b:v"}, // VP9 and Opus; "-b:v 0": pure CRF
};

const Container* containerOf(const std::string& file) {
    std::string extension = std::filesystem::path(file).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const Container& container : kContainers)
        if (extension == container.extension) return &container;
    return nullptr;
}

volatile std::sig_atomic_t stopRequested = 0;

} // namespace

bool knownVideoExtension(const std::string& file) {
    return containerOf(file) != nullptr;
}

int highestVideoQuality(const std::string& file) {
    const Container* container = containerOf(file);
    return container != nullptr ? container->highestQuality : 0;
}

void requestVideoStop() {
    stopRequested = 1;
}

bool videoStopRequested() {
    return stopRequested != 0;
}

#ifdef _WIN32

// ---- Windows: no capture ----

void installVideoStopSignals() {}

VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::prepare(const VideoSettings&, std::string* error) {
    *error = "--video is not supported on Windows (it runs ffmpeg as a POSIX child process); "
             "capture on Linux, with or without a display";
    return false;
}

bool VideoEncoder::start(const void*, size_t, std::string* error) {
    *error = "--video is not supported on Windows";
    return false;
}

bool VideoEncoder::writeFrame(const unsigned char*) {
    return false;
}

VideoOutcome VideoEncoder::finish(std::string* error) {
    *error = "--video is not supported on Windows";
    return VideoOutcome::Failed;
}

void VideoEncoder::abandon() {}
void VideoEncoder::closeErrorLog() {}
std::string VideoEncoder::ffmpegErrorTail() const {
    return "";
}

#else

// ---- Signals ----

namespace {

extern "C" void onStopSignal(int) {
    requestVideoStop();
}

// The encoder whose ffmpeg runs: a fatal error of the demo ends the process at once, and what
// ffmpeg wrote until then is removed first rather than left as a half-made file.
VideoEncoder* runningEncoder = nullptr;

void abandonRunningEncoder(const char*) {
    if (runningEncoder != nullptr) runningEncoder->abandon();
}

// The full path of `program` in one of PATH's folders (an empty entry is the working directory),
// or "" when none has it as an executable file.
std::string findOnPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        size_t colon = folders.find(':');
        std::string folder(folders.substr(0, colon));
        std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + program;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos) return "";
        folders.remove_prefix(colon + 1);
    }
}

std::string formatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", seconds);
    return text;
}

// Writes all of `size` bytes, through interruptions by signals; false when the reader is gone.
bool writeAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// A temporary file with `suffix`, already open; its name in `name`. -1 when none can be made.
int makeTemporaryFile(const char* stem, const char* suffix, std::string* name) {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern =
        std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/" + stem + "-XXXXXX" + suffix;
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = mkostemps(buffer.data(), static_cast<int>(std::strlen(suffix)), O_CLOEXEC);
    if (fd >= 0) *name = buffer.data();
    return fd;
}

} // namespace

void installVideoStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked write returns, and the loop looks at the flag
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// ---- Before the start-up ----

VideoEncoder::~VideoEncoder() {
    abandon();
}

bool VideoEncoder::prepare(const VideoSettings& wanted, std::string* error) {
    settings = wanted;
    if (containerOf(settings.file) == nullptr) {
        *error = settings.file + ": the extension must be .mp4, .mkv or .webm";
        return false;
    }
    ffmpeg = findOnPath("ffmpeg");
    if (ffmpeg.empty()) {
        *error = "ffmpeg was not found on PATH; it encodes the video: install Debian's package \"ffmpeg\" "
                 "(apt-get install ffmpeg)";
        return false;
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(settings.file, ignored)) {
        *error = "cannot write " + settings.file + ": it is a folder";
        return false;
    }
    if (access(settings.file.c_str(), F_OK) == 0 && access(settings.file.c_str(), W_OK) != 0) {
        *error = "cannot write " + settings.file + ": " + std::strerror(errno);
        return false;
    }
    // Made and removed again: ffmpeg itself opens its file only once the first frame arrived.
    partFile = settings.file + ".part";
    bool existed = access(partFile.c_str(), F_OK) == 0;
    int fd = open(partFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot write " + settings.file + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    if (!existed) unlink(partFile.c_str());
    return true;
}

// ---- ffmpeg ----

bool VideoEncoder::start(const void* tune, size_t tuneSize, std::string* error) {
    // Both temporary files are unlinked at once: ffmpeg reads the music through a descriptor and
    // its messages are read back through one, so nothing is left behind whatever way this ends.
    std::string name;
    int tuneFd = makeTemporaryFile("nova31-tune", ".ogg", &name);
    if (tuneFd >= 0) unlink(name.c_str());
    bool tuneWritten = tuneFd >= 0 && writeAll(tuneFd, tune, tuneSize);
    if (!tuneWritten) {
        *error = "cannot write the music to a temporary file (TMPDIR or /tmp): " +
                 std::string(std::strerror(errno));
        if (tuneFd >= 0) close(tuneFd);
        return false;
    }
    errorLog = makeTemporaryFile("nova31-ffmpeg", ".log", &name);
    if (errorLog < 0) {
        *error = "cannot make a temporary file for ffmpeg's messages: " + std::string(std::strerror(errno));
        close(tuneFd);
        return false;
    }
    unlink(name.c_str());

    const Container& container = *containerOf(settings.file);
    char size[32], rate[32];
    std::snprintf(size, sizeof size, "%dx%d", settings.width, settings.height);
    std::snprintf(rate, sizeof rate, "%.9g", settings.rate);
    std::vector<std::string> arguments = {
        ffmpeg, "-hide_banner", "-loglevel", "error", "-y",
        // The frames, raw, from the pipe.
        "-f", "rawvideo", "-pix_fmt", "rgba", "-video_size", size, "-framerate", rate, "-i", "pipe:0",
        // The music, cut to the span.
        "-ss", formatSeconds(settings.audioStart), "-t", formatSeconds(settings.duration), "-i",
        "file:/dev/fd/3", // reopened from the descriptor, so that ffmpeg can seek in it
        "-map", "0:v:0", "-map", "1:a:0"};
    for (const char* const* option = container.codecs; *option != nullptr; ++option)
        arguments.push_back(*option);
    arguments.insert(arguments.end(), {"-pix_fmt", "yuv420p"});
    if (settings.quality >= 0) {
        arguments.insert(arguments.end(), {"-crf", std::to_string(settings.quality)});
        if (*container.qualityOptions != '\0')
            arguments.insert(arguments.end(), {container.qualityOptions, "0"});
    }
    // Silence after a short tune; the video's last frame ends the file (a Ctrl-C's too).
    arguments.insert(arguments.end(), {"-af", "apad", "-shortest", "-f", container.muxer, partFile});

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        close(tuneFd);
        *error = "cannot make a pipe for ffmpeg: " + std::string(std::strerror(errno));
        return false;
    }
    // A frame or more in flight, so that drawing the next frame overlaps ffmpeg's reading.
    fcntl(pipeEnds[1], F_SETPIPE_SZ, 1 << 20);

    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
    posix_spawn_file_actions_adddup2(&actions, errorLog, 2);
    posix_spawn_file_actions_adddup2(&actions, tuneFd, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own: Ctrl-C at the terminal reaches nova31-shot alone, which then ends the
    // video. The default signal actions, since nova31-shot ignores SIGPIPE.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int failure = posix_spawn(&pid, ffmpeg.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[0]);
    close(tuneFd);
    if (failure != 0) {
        close(pipeEnds[1]);
        *error = "cannot start " + ffmpeg + ": " + std::strerror(failure);
        return false;
    }
    child = pid;
    framePipe = pipeEnds[1];
    runningEncoder = this;
    setFatalErrorPresenter(abandonRunningEncoder); // tools show no message box of their own
    return true;
}

bool VideoEncoder::writeFrame(const unsigned char* rgba) {
    if (framePipe < 0) return false;
    if (!writeAll(framePipe, rgba, static_cast<size_t>(settings.width) * settings.height * 4)) return false;
    ++frames;
    return true;
}

VideoOutcome VideoEncoder::finish(std::string* error) {
    if (framePipe >= 0) close(framePipe); // end of input: ffmpeg finishes the file
    framePipe = -1;
    int status = -1;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    bool started = child > 0;
    child = -1;
    runningEncoder = nullptr;
    bool ended = started && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::error_code failure;
    if (ended && frames > 0) {
        std::filesystem::rename(partFile, settings.file, failure);
        if (!failure) {
            closeErrorLog();
            return VideoOutcome::Written;
        }
        *error = "cannot move " + partFile + " to " + settings.file + ": " + failure.message();
    } else if (started && !ended) {
        *error = "ffmpeg ended " +
                 (WIFSIGNALED(status) ? "through signal " + std::to_string(WTERMSIG(status))
                                      : "with exit status " + std::to_string(WEXITSTATUS(status))) +
                 " after " + std::to_string(frames) + " frames; nothing was written. Its last messages:\n" +
                 ffmpegErrorTail();
    } else {
        *error = "no frame was drawn; nothing was written";
    }
    if (started) std::filesystem::remove(partFile, failure);
    closeErrorLog();
    return VideoOutcome::Failed;
}

// ---- Cleaning up ----

// The last ten lines ffmpeg wrote to its standard error, each after "  ffmpeg: ".
std::string VideoEncoder::ffmpegErrorTail() const {
    std::string text;
    char buffer[4096];
    off_t end = lseek(errorLog, 0, SEEK_END);
    off_t from = end > static_cast<off_t>(sizeof buffer) ? end - static_cast<off_t>(sizeof buffer) : 0;
    ssize_t got = pread(errorLog, buffer, sizeof buffer, from);
    if (got > 0) text.assign(buffer, static_cast<size_t>(got));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t newline = text.find('\n', start);
        if (newline == std::string::npos) newline = text.size();
        if (newline > start) lines.push_back(text.substr(start, newline - start));
        start = newline + 1;
    }
    if (from > 0 && !lines.empty()) lines.erase(lines.begin()); // cut in the middle
    if (lines.empty()) return "  ffmpeg: (no messages)";
    std::string tail;
    for (size_t i = lines.size() > 10 ? lines.size() - 10 : 0; i < lines.size(); ++i)
        tail += (tail.empty() ? "  ffmpeg: " : "\n  ffmpeg: ") + lines[i];
    return tail;
}

void VideoEncoder::closeErrorLog() {
    if (errorLog >= 0) close(errorLog);
    errorLog = -1;
}

// A run that never reached finish() (an early return): ffmpeg told to stop and awaited, nothing kept.
void VideoEncoder::abandon() {
    if (framePipe >= 0) close(framePipe);
    framePipe = -1;
    if (child > 0) {
        kill(child, SIGTERM);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        child = -1;
        unlink(partFile.c_str());
    }
    runningEncoder = nullptr;
    closeErrorLog();
}

#endif
