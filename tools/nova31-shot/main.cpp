/* nova31-shot — renders frames of the demo at given music times into PNG files.

   Usage: nova31-shot [-data:FILE] [-camera:fit] [--size WxH] [--fps N] TIME...

   Runs the demo's start-up without the music (archive, scene, window, renderer, light cache),
   then plays the timeline from 0 s at N frames per second of music time (default 30), drawing
   every frame as the demo does, so the light cache warms up as it would while the demo runs.
   At each requested time (seconds, at most 20) the frame is also read back from the window and
   written to "shot_TIME.png" in the working directory, TIME as given on the command line.
   --fps 0 draws only the requested frames (a cold light cache: no indirect light yet).

   Without "-data:" the frames are those of the demo itself: the archive is read from the demo
   program "nova31" in the same folder as nova31-shot (found through nova31-shot's own path, so
   the working directory does not matter), or from nova31-shot itself when no such file is
   there (a copy with the archive appended). "-data:FILE" reads FILE instead, and "-camera:fit"
   frames the scene on its bounds, as the demo does.

   The window is an ordinary window of the given size (default 800x450) on the current X
   display; with no display (DISPLAY unset or empty) the frames are drawn without a window, on
   the headless GL context (EGL), and come out the same. For scene authors, captures, the tests
   and GPU machines without an X server. Exit status 0, or 2 for a bad command line; start-up
   failures end through the demo's own fatal errors. After the first frame it prints how long the
   start-up took, from reading the archive to that frame. */
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

namespace {

struct Shot {
    float time;       // music seconds
    std::string text; // the time as given, for the file name
};

struct Options {
    int width = 800;
    int height = 450;
    float framesPerSecond = 30.0f;
    std::vector<Shot> shots;
};

[[noreturn]] void usage(const char* problem) {
    std::fprintf(
        stderr,
        "nova31-shot: %s\nusage: nova31-shot [-data:FILE] [-camera:fit] [--size WxH] [--fps N] TIME...\n",
        problem);
    std::exit(2);
}

bool parseNumber(const char* text, float* value) {
    char* end = nullptr;
    *value = std::strtof(text, &end);
    return end != text && *end == '\0' && std::isfinite(*value);
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
        float time = 0;
        if (!parseNumber(argument, &time)) usage((std::string("not a time in seconds: ") + argument).c_str());
        if (time < 0 || time > kDemoEndTime)
            usage((std::string("time outside 0 to 20 s: ") + argument).c_str());
        options.shots.push_back({time, argument});
    }
    if (options.shots.empty()) usage("no time given");
    std::stable_sort(options.shots.begin(), options.shots.end(),
                     [](const Shot& a, const Shot& b) { return a.time < b.time; });
    return options;
}

// Reads the drawn frame from the back buffer (before the swap) and writes it top row first.
void writeShot(const Shot& shot) {
    const int width = windowWidth, height = windowHeight;
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    std::vector<unsigned char> flipped(pixels.size());
    const size_t row = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        unsigned char* destination = &flipped[row * y];
        std::memcpy(destination, &pixels[row * (height - 1 - y)], row);
        for (size_t x = 3; x < row; x += 4) destination[x] = 255; // the window's alpha means nothing
    }
    std::string name = "shot_" + shot.text + ".png";
    if (!stbi_write_png(name.c_str(), width, height, 4, flipped.data(), static_cast<int>(row))) {
        std::fprintf(stderr, "nova31-shot: cannot write %s\n", name.c_str());
        std::exit(1);
    }
    std::printf("nova31-shot: wrote %s (%d x %d, music time %.3f s)\n", name.c_str(), width, height,
                static_cast<double>(shot.time));
}

// Draws one frame at music time t; with a shot, reads it back before presenting.
void renderFrame(DemoRenderer& demo, float t, const Shot* shot) {
    if (!drawDemoFrame(demo, t)) return; // past the end: nothing was shaded
    if (shot != nullptr) writeShot(*shot);
    finishDemoFrame(demo);
}

// The demo program beside this tool ("nova31", with this tool's own extension), or this tool itself.
std::string demoArchivePath() {
    std::filesystem::path self = executablePath();
    std::filesystem::path demo = self;
    demo.replace_filename("nova31" + self.extension().string());
    std::error_code error;
    return std::filesystem::is_regular_file(demo, error) ? demo.string() : self.string();
}

} // namespace

int main(int argc, char** argv) {
    Options options = parseOptions(argc, argv);
    const auto start = std::chrono::steady_clock::now();
    std::string demoArchive = demoArchivePath();
    loadDemoArchive(argc, argv, demoArchive.c_str());
    const void* blob = packDemoScene();
    createDemoWindow(false, options.width, options.height);
    DemoRenderer demo = createDemoRenderer(blob, cameraFromArguments(argc, argv));
    writeInitialLightCache();

    // Frames at a steady rate from 0 s up to each requested time, which is drawn exactly.
    const double step = options.framesPerSecond > 0 ? 1.0 / options.framesPerSecond : 0.0;
    long frame = 0;
    // Start-up as the demo does it, up to the first frame presented (its pixels read back, so
    // the GPU has finished it): one line for scene authors who try large scenes.
    bool startReported = false;
    auto draw = [&](float t, const Shot* shot) {
        renderFrame(demo, t, shot);
        if (startReported) return;
        std::vector<unsigned char> pixel(4);
        glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
        std::printf("nova31-shot: archive to first frame %.3f s\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        startReported = true;
    };
    for (const Shot& shot : options.shots) {
        while (step > 0 && frame * step < shot.time - 1e-6) {
            draw(static_cast<float>(frame * step), nullptr);
            ++frame;
        }
        draw(shot.time, &shot);
    }

    return 0;
}
