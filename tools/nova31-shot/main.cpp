/* nova31-shot — renders frames of the demo at given music times into PNG files, or a span of
   the timeline into a video file with the demo's music.

   Usage: nova31-shot [-data:FILE] [-camera:fit] [--size WxH] [--fps N] [--export] [--direct-only]
                      [--flat-textures] TIME...
          nova31-shot [-data:FILE] [-camera:fit] [--size WxH] [--fps N] --video FILE [--from S] [--to S]
                      [--quality Q]

   Runs the demo's start-up without the music (archive, scene, window, renderer, light cache),
   then plays the timeline from 0 s at N frames per second of music time (frame n at n / N
   seconds; default 30, or 60 for a video), drawing every frame as the demo does, so the light
   cache warms up as it would while the demo runs at that rate.

   PNG files: at each requested time (seconds, at most 20) the frame is also read back from the
   window and written to "shot_TIME.png" in the working directory, TIME as given on the command
   line. A time that falls on a frame is that frame (drawn once); --fps 0 draws only the
   requested frames (a cold light cache: no indirect light yet).

   --export also writes each shot's frame as data for an offline renderer: "shot_TIME.json",
   "shot_TIME.triangles" and the textures "shot_TIME.textureK.png" (frame_export.h describes
   them). --direct-only draws without the light cache (no indirect light: every cache lookup
   finds no entry), --flat-textures with every texture replaced by its mean texel; both are for
   comparing the direct light with a reference, and both change the PNG too.

   Video: every frame from --from (default 0) up to --to (default 20, the demo's end) goes to
   ffmpeg, which encodes it into FILE with "tune.ogg" cut to the same span (see video.h for the
   containers by extension; --quality Q is the video encoder's constant rate factor, lower is
   better). The frames before --from are drawn but not kept. Progress goes to standard error;
   Ctrl-C ends the video at the frame drawn last, a finished file holding what was drawn (exit
   status 130). The size must be even; any size up to 8192x8192 (3840x2160 is a usual one).

   Without "-data:" the frames are those of the demo itself: the archive is read from the demo
   program "nova31" in the same folder as nova31-shot (found through nova31-shot's own path, so
   the working directory does not matter), or from nova31-shot itself when no such file is
   there (a copy with the archive appended). "-data:FILE" reads FILE instead, and "-camera:fit"
   frames the scene on its bounds, as the demo does.

   The window is an ordinary window of the given size (default 800x450) on the current X
   display; with no display (DISPLAY unset or empty) the frames are drawn without a window, on
   the headless GL context (EGL), and come out the same. For scene authors, captures, the tests
   and GPU machines without an X server. Exit status 0, 1 when the video could not be made, 2 for
   a bad command line, 130 after a Ctrl-C; start-up failures end through the demo's own fatal
   errors. After the first frame it prints how long the start-up took, from reading the archive
   to that frame. */
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <stb/stb_image_write.h>

#include "app/command_line.h"
#include "app/demo.h"
#include "app/timeline.h"
#include "platform/gl.h"
#include "platform/window.h"
#include "render/cached_gi.h"
#include "store/store.h"
#include "tools/nova31-shot/frame_export.h"
#include "tools/nova31-shot/progress.h"
#include "tools/nova31-shot/video.h"

namespace {

struct Shot {
    float time;       // music seconds
    std::string text; // the time as given, for the file name
};

struct Options {
    int width = 800;
    int height = 450;
    float framesPerSecond = -1; // -1: not given (30 for shots, 60 for a video)
    std::vector<Shot> shots;
    std::string video;         // output file, or empty for PNG shots
    float from = -1, to = -1;  // the video's span in music seconds; -1: not given
    int quality = -1;          // the video encoder's constant rate factor; -1: its default
    bool exportFrames = false; // shots also write the frame's data (frame_export.h)
    bool directOnly = false;   // no light cache: direct light only
    bool flatTextures = false; // every texture its mean texel
};

constexpr const char* kUsage =
    "usage: nova31-shot [-data:FILE] [-camera:fit] [--size WxH] [--fps N] [--export] [--direct-only] "
    "[--flat-textures] TIME...\n"
    "       nova31-shot [-data:FILE] [-camera:fit] [--size WxH] [--fps N] --video FILE.mp4|.mkv|.webm "
    "[--from S] [--to S] [--quality Q]\n";

[[noreturn]] void usage(const std::string& problem) {
    std::fprintf(stderr, "nova31-shot: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

[[noreturn]] void fail(const std::string& problem, int status = 1) {
    std::fprintf(stderr, "nova31-shot: %s\n", problem.c_str());
    std::exit(status);
}

bool parseNumber(const char* text, float* value) {
    char* end = nullptr;
    *value = std::strtof(text, &end);
    return end != text && *end == '\0' && std::isfinite(*value);
}

// The value after option argv[*i], or a usage error naming what it needs.
const char* optionValue(int argc, char** argv, int* i, const char* needs) {
    if (++*i >= argc) usage(std::string(argv[*i - 1]) + " needs " + needs);
    return argv[*i];
}

float secondsOption(int argc, char** argv, int* i) {
    float seconds = 0;
    const char* text = optionValue(argc, argv, i, "a time from 0 to 20 s");
    if (!parseNumber(text, &seconds) || seconds < 0 || seconds > kDemoEndTime)
        usage(std::string(argv[*i - 1]) + " needs a time from 0 to 20 s, not " + text);
    return seconds;
}

// The video's checks, once every option is known.
void checkVideoOptions(Options& options) {
    if (!options.shots.empty()) usage("--video takes its span from --from and --to, not from times");
    if (!knownVideoExtension(options.video))
        usage(options.video + ": a video file ends in .mp4, .mkv or .webm");
    if (options.width % 2 != 0 || options.height % 2 != 0)
        usage("a video's --size needs an even width and height (its colours are stored per 2x2 pixels)");
    if (options.framesPerSecond < 0) options.framesPerSecond = 60;
    if (options.framesPerSecond == 0) usage("a video needs a rate above 0 frames per second");
    if (options.from < 0) options.from = 0;
    if (options.to < 0) options.to = kDemoEndTime;
    if (options.to <= options.from) usage("--to must come after --from");
    int highest = highestVideoQuality(options.video);
    if (options.quality > highest)
        usage("--quality for " + std::filesystem::path(options.video).extension().string() +
              " goes from 0 to " + std::to_string(highest));
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strncmp(argument, "-data:", 6) == 0) continue;   // read by the demo's start-up
        if (std::strncmp(argument, "-camera:", 8) == 0) continue; // the demo's camera options
        if (std::strcmp(argument, "--size") == 0) {
            if (++i >= argc || std::sscanf(argv[i], "%dx%d", &options.width, &options.height) != 2 ||
                options.width < 16 || options.height < 16 || options.width > 8192 || options.height > 8192)
                usage("--size needs WIDTHxHEIGHT, each from 16 to 8192");
            continue;
        }
        if (std::strcmp(argument, "--fps") == 0) {
            if (++i >= argc || !parseNumber(argv[i], &options.framesPerSecond) ||
                options.framesPerSecond < 0 || options.framesPerSecond > 1000)
                usage("--fps needs a rate from 0 to 1000");
            continue;
        }
        if (std::strcmp(argument, "--export") == 0) {
            options.exportFrames = true;
            continue;
        }
        if (std::strcmp(argument, "--direct-only") == 0) {
            options.directOnly = true;
            continue;
        }
        if (std::strcmp(argument, "--flat-textures") == 0) {
            options.flatTextures = true;
            continue;
        }
        if (std::strcmp(argument, "--video") == 0) {
            options.video = optionValue(argc, argv, &i, "a file name");
            if (options.video.empty()) usage("--video needs a file name");
            continue;
        }
        if (std::strcmp(argument, "--from") == 0) {
            options.from = secondsOption(argc, argv, &i);
            continue;
        }
        if (std::strcmp(argument, "--to") == 0) {
            options.to = secondsOption(argc, argv, &i);
            continue;
        }
        if (std::strcmp(argument, "--quality") == 0) {
            const char* text = optionValue(argc, argv, &i, "a number");
            char* end = nullptr;
            long quality = std::strtol(text, &end, 10);
            if (end == text || *end != '\0' || quality < 0 || quality > 63)
                usage(std::string("--quality needs a whole number from 0 (best) up, not ") + text);
            options.quality = static_cast<int>(quality);
            continue;
        }
        float time = 0;
        if (!parseNumber(argument, &time)) usage(std::string("not a time in seconds: ") + argument);
        if (time < 0 || time > kDemoEndTime) usage(std::string("time outside 0 to 20 s: ") + argument);
        options.shots.push_back({time, argument});
    }
    if (!options.video.empty()) {
        if (options.exportFrames) usage("--export goes with shots, not with --video");
        checkVideoOptions(options);
        return options;
    }
    if (options.from >= 0 || options.to >= 0 || options.quality >= 0)
        usage("--from, --to and --quality go with --video");
    if (options.shots.empty()) usage("no time given");
    if (options.framesPerSecond < 0) options.framesPerSecond = 30;
    std::stable_sort(options.shots.begin(), options.shots.end(),
                     [](const Shot& a, const Shot& b) { return a.time < b.time; });
    return options;
}

// ---- Frames ----

// Music time of frame n at `rate` frames per second: the same float in shots and videos.
float frameTime(long frame, double rate) {
    return static_cast<float>(static_cast<double>(frame) / rate);
}

// Reads the drawn frame from the back buffer (before the swap), top row first, opaque.
void readFrame(std::vector<unsigned char>& rgba) {
    const int width = windowWidth, height = windowHeight;
    const size_t row = static_cast<size_t>(width) * 4;
    static std::vector<unsigned char> bottomUp; // kept: a 3840x2160 frame is 33 MB
    bottomUp.resize(row * height);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    rgba.resize(bottomUp.size());
    for (int y = 0; y < height; ++y) {
        unsigned char* destination = &rgba[row * y];
        std::memcpy(destination, &bottomUp[row * (height - 1 - y)], row);
        for (size_t x = 3; x < row; x += 4) destination[x] = 255; // the window's alpha means nothing
    }
}

void writeShot(const Shot& shot, const std::vector<unsigned char>& rgba) {
    std::string name = "shot_" + shot.text + ".png";
    if (!stbi_write_png(name.c_str(), windowWidth, windowHeight, 4, rgba.data(), windowWidth * 4))
        fail("cannot write " + name);
    std::printf("nova31-shot: wrote %s (%d x %d, music time %.3f s)\n", name.c_str(), windowWidth,
                windowHeight, static_cast<double>(shot.time));
}

// Counts the frames drawn and says how fast they came, for comparing runs.
struct FrameClock {
    long frames = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    void report() const {
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("nova31-shot: drew %ld frames in %.2f s (%.2f frames/s)\n", frames, seconds,
                    seconds > 0 ? frames / seconds : 0.0);
    }
};

// The demo program beside this tool ("nova31", with this tool's own extension), or this tool itself.
std::string demoArchivePath() {
    std::filesystem::path self = executablePath();
    std::filesystem::path demo = self;
    demo.replace_filename("nova31" + self.extension().string());
    std::error_code error;
    return std::filesystem::is_regular_file(demo, error) ? demo.string() : self.string();
}

// When the start-up began: the first frame presented reports how long it took.
std::chrono::steady_clock::time_point startupBegan;
bool startupReported = false;

DemoRenderer startDemo(const Options& options, int argc, char** argv) {
    startupBegan = std::chrono::steady_clock::now();
    std::string demoArchive = demoArchivePath();
    loadDemoArchive(argc, argv, demoArchive.c_str());
    const void* blob = packDemoScene();
    createDemoWindow(false, options.width, options.height);
    DemoRenderer demo = createDemoRenderer(blob, cameraFromArguments(argc, argv));
    writeInitialLightCache();
    if (options.directOnly) turnOffLightCache();
    if (options.flatTextures) flattenSceneTextures(*demo.scene);
    return demo;
}

// Presents the frame; after the first one, the start-up as the demo does it up to that frame
// (its pixels read back, so the GPU has finished it): one line for scene authors who try large
// scenes.
void finishFrame(DemoRenderer& demo) {
    finishDemoFrame(demo);
    if (startupReported) return;
    unsigned char pixel[4];
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    std::printf("nova31-shot: archive to first frame %.3f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - startupBegan).count());
    startupReported = true;
}

// ---- PNG shots ----

// The frame just drawn as data beside each of its PNG files.
void exportShots(const Options& options, size_t first, size_t last, DemoRenderer& demo) {
    FrameExportSettings settings;
    settings.time = options.shots[first].time;
    settings.indirectLight = !options.directOnly;
    settings.background[2] = clearColorBlue(settings.time);
    FrameExport frame;
    std::string error;
    if (!captureFrameExport(*demo.scene, settings, &frame, &error)) fail("cannot export the frame: " + error);
    for (size_t i = first; i < last; ++i) {
        const std::string name = "shot_" + options.shots[i].text;
        if (!writeFrameExport(frame, name, &error)) fail(error);
        std::printf("nova31-shot: wrote %s.json (%d triangles, %zu lights, %zu materials)\n", name.c_str(),
                    frame.file.triangleCount, frame.file.lights.size(), frame.file.materials.size());
    }
}

int writeShots(const Options& options, int argc, char** argv) {
    DemoRenderer demo = startDemo(options, argc, argv);
    // Frames at a steady rate from 0 s up to each requested time, which is drawn exactly; shots
    // at the same time come from one frame.
    const double rate = options.framesPerSecond;
    long frame = 0;
    FrameClock clock;
    std::vector<unsigned char> rgba;
    for (size_t first = 0, last = 0; first < options.shots.size(); first = last) {
        const float time = options.shots[first].time;
        for (last = first; last < options.shots.size() && options.shots[last].time == time;) ++last;
        float drawn = time;
        if (rate > 0) {
            // Within 10 us (more than a float's rounding of a time written with 6 decimals, far
            // less than a frame) a time is on the frame grid: that frame, so later ones stay on it.
            constexpr double kOnGrid = 1e-5;
            for (; frame / rate < time - kOnGrid; ++frame, ++clock.frames) {
                if (drawDemoFrame(demo, frameTime(frame, rate))) finishFrame(demo);
            }
            if (std::fabs(frame / rate - time) <= kOnGrid) drawn = frameTime(frame++, rate);
        }
        ++clock.frames;
        if (!drawDemoFrame(demo, drawn)) continue; // past the end: nothing was shaded
        readFrame(rgba);
        for (size_t i = first; i < last; ++i) writeShot(options.shots[i], rgba);
        if (options.exportFrames) exportShots(options, first, last, demo);
        finishFrame(demo);
    }
    clock.report();
    return 0;
}

// ---- Video ----

int writeVideo(const Options& options, int argc, char** argv) {
    const double rate = options.framesPerSecond;
    // Frames n with from <= n / rate < to.
    const long first = static_cast<long>(std::ceil(options.from * rate - 1e-6));
    const long end = static_cast<long>(std::ceil(options.to * rate - 1e-6));
    if (end <= first) usage("the span from --from to --to holds no frame at this rate");

    VideoSettings settings;
    settings.file = options.video;
    settings.width = options.width;
    settings.height = options.height;
    settings.rate = rate;
    settings.audioStart = first / rate;
    settings.duration = (end - first) / rate;
    settings.quality = options.quality;
    VideoEncoder video;
    std::string error;
    if (!video.prepare(settings, &error)) fail(error);
    installVideoStopSignals();

    DemoRenderer demo = startDemo(options, argc, argv);
    if (windowWidth != options.width || windowHeight != options.height)
        fail("the window came out " + std::to_string(windowWidth) + "x" + std::to_string(windowHeight) +
             ", not the size asked for; without a display (DISPLAY unset) the frames are drawn at any size");
    Variable* tune = requireDemoFile("tune.ogg");
    if (!video.start(currentData<const unsigned char>(tune), tune->dataSize, &error)) fail(error);
    if (first > 0)
        std::printf("nova31-shot: drawing the %ld frames before %.3f s first, as the demo plays them\n",
                    first, first / rate);

    FrameClock clock;
    long frame = 0;
    for (; frame < first && !videoStopRequested(); ++frame, ++clock.frames) {
        if (drawDemoFrame(demo, frameTime(frame, rate))) finishFrame(demo);
    }
    Progress progress(end - first);
    std::vector<unsigned char> rgba;
    bool ffmpegReads = true;
    for (; frame < end && ffmpegReads && !videoStopRequested(); ++frame, ++clock.frames) {
        if (!drawDemoFrame(demo, frameTime(frame, rate))) break;
        readFrame(rgba);
        ffmpegReads = video.writeFrame(rgba.data());
        if (ffmpegReads) progress.frameDone();
        finishFrame(demo);
    }
    progress.end();
    clock.report();
    const bool stopped = videoStopRequested();
    if (video.finish(&error) != VideoOutcome::Written) fail(error, stopped ? 130 : 1);
    const int frames = video.framesWritten();
    std::printf("nova31-shot: wrote %s (%d frames, %d x %d at %g frames/s, music %.3f s to %.3f s)\n",
                options.video.c_str(), frames, options.width, options.height, rate, first / rate,
                (first + frames) / rate);
    if (stopped) fail("interrupted; " + options.video + " holds the frames drawn so far", 130);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options = parseOptions(argc, argv);
    return options.video.empty() ? writeShots(options, argc, argv) : writeVideo(options, argc, argv);
}
