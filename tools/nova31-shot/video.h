/* video.h — nova31-shot's frames encoded into a video file by ffmpeg, with the demo's music.

       std::string error;
       VideoEncoder video;
       if (!video.prepare(settings, &error)) fail(error);  // ffmpeg on PATH, the file writable
       ... start-up of the demo ...
       if (!video.start(tuneBytes, tuneSize, &error)) fail(error);
       while (...) if (!video.writeFrame(pixels)) break;     // top row first, RGBA
       VideoOutcome outcome = video.finish(&error);

   ffmpeg (Debian's package "ffmpeg") runs as a child process in a process group of its own, so
   a Ctrl-C typed at the terminal reaches only nova31-shot, which then ends the video properly:
   it closes ffmpeg's input and waits for it. Raw frames go through a pipe to ffmpeg's standard
   input; the music ("tune.ogg" from the archive) through an unlinked temporary file that ffmpeg
   cuts to the span. ffmpeg writes "FILE.part" beside FILE, which becomes FILE only when ffmpeg ended
   well: a failed run leaves neither a broken file nor a half-overwritten old one. ffmpeg's own
   error output goes to a temporary file whose last lines are shown when it fails. A fatal error
   of the demo during a capture stops ffmpeg and removes "FILE.part" before the process ends.

   The extension picks the container and codecs: ".mp4" H.264 yuv420p with AAC (and the index
   at the front, for players that stream), ".mkv" and ".webm" ffmpeg's usual codecs for them,
   always in yuv420p. A quality setting goes to the video encoder as its constant rate factor.

   POSIX only: on Windows prepare() fails with a message saying so. */
#pragma once

#include <cstddef>
#include <string>

struct VideoSettings {
    std::string file;          // output path; its extension picks the container
    int width = 0, height = 0; // frame size in pixels (even: yuv420p halves the chroma)
    double rate = 60;          // frames per second
    double audioStart = 0;     // seconds into the music of the first frame
    double duration = 0;       // seconds of video (and of music)
    int quality = -1;          // constant rate factor for the video encoder, -1 for its default
};

enum class VideoOutcome {
    Written, // ffmpeg ended well; the file is in place
    Failed,  // ffmpeg or the pipe failed; nothing was left behind
};

// Whether `file` ends in an extension the encoder knows (".mp4", ".mkv", ".webm").
bool knownVideoExtension(const std::string& file);

// The highest quality value the extension's video encoder takes (51 for H.264, 63 for VP9).
int highestVideoQuality(const std::string& file);

// Called by signal handlers: the capture should stop after the current frame. Tested by the loop.
void requestVideoStop();
bool videoStopRequested();
// SIGINT, SIGTERM and SIGHUP call requestVideoStop instead of ending the process; SIGPIPE is
// ignored (a pipe ffmpeg closed shows as a failed write).
void installVideoStopSignals();

class VideoEncoder {
public:
    VideoEncoder() = default;
    ~VideoEncoder(); // a run never finished is abandoned: ffmpeg stopped, its files removed
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Finds ffmpeg on PATH and checks that the output can be written, before the slow start-up.
    bool prepare(const VideoSettings& settings, std::string* error);
    // Writes the music to a temporary file and starts ffmpeg.
    bool start(const void* tune, size_t tuneSize, std::string* error);
    // Sends one frame of width x height RGBA pixels, top row first. False once ffmpeg has
    // stopped reading (it ended early; finish() then says why).
    bool writeFrame(const unsigned char* rgba);
    // Closes ffmpeg's input, waits for it to end and puts the file in place (or removes it).
    VideoOutcome finish(std::string* error);

    // Stops ffmpeg and removes what it wrote; for runs that end before finish() (a fatal error too).
    void abandon();

    int framesWritten() const { return frames; }

private:
    void closeErrorLog();
    std::string ffmpegErrorTail() const;

    VideoSettings settings;
    std::string ffmpeg;   // full path of the program
    std::string partFile; // where ffmpeg writes until it has ended well
    int child = -1;       // ffmpeg's process id while it runs
    int framePipe = -1;   // write end of ffmpeg's standard input
    int errorLog = -1;    // ffmpeg's standard error (an unlinked temporary file)
    int frames = 0;       // frames written so far
};
