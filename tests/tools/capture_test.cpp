// nova31-shot --video: short captures, small and headless, read back with ffprobe and ffmpeg. The
// video holds the frames of the span with the music cut to it, the frame at the span's start is
// the one nova31-shot writes as a PNG at that time, and every way a capture can fail (no ffmpeg,
// an output that cannot be written, ffmpeg ending early, Ctrl-C) leaves no broken file, no
// "FILE.part" and no ffmpeg running.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <stb/stb_image.h>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

const std::string kShot = NOVA31_BINARY_DIR "/nova31-shot";
const std::vector<std::string> kSmall = {"--size", "64x36", "--fps", "10"};

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

// One line per stream, "codec_type,codec_name,..." as ffprobe prints them, then the duration.
std::string probe(const std::string& file) {
    std::string output;
    runShell("ffprobe -v error -count_frames -show_entries "
             "stream=codec_type,codec_name,width,height,pix_fmt,nb_read_frames:format=duration -of csv=p=0 " +
                 quoted(file),
             &output);
    return output;
}

// Whether a process whose command line mentions `text` still runs (ffmpeg names its output).
bool processMentions(const std::string& text) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string commandLine = readFile(entry.path() / "cmdline");
        for (char& c : commandLine) c = c == '\0' ? ' ' : c;
        if (commandLine.find(text) != std::string::npos) return true;
    }
    return false;
}

std::vector<unsigned char> loadRgba(const std::string& file, int width, int height) {
    int w = 0, h = 0, channels = 0;
    unsigned char* pixels = stbi_load(file.c_str(), &w, &h, &channels, 4);
    std::vector<unsigned char> rgba;
    if (pixels != nullptr && w == width && h == height) rgba.assign(pixels, pixels + w * h * 4);
    stbi_image_free(pixels);
    return rgba;
}

struct Capture : ::testing::Test {
    ScratchFolder folder{"capture"};

    // Runs nova31-shot with `arguments` after the small size and rate; merged output in `output`.
    int run(std::vector<std::string> arguments, const std::vector<std::string>& environment,
            std::string* output) {
        arguments.insert(arguments.begin(), kSmall.begin(), kSmall.end());
        arguments.insert(arguments.begin(), kShot);
        ChildProcess shot(arguments, environment);
        int status = shot.waitForExit(120);
        *output = shot.output();
        return status;
    }

    void expectNothingLeft(const std::string& file) {
        EXPECT_FALSE(std::filesystem::exists(file + ".part")) << file;
        EXPECT_FALSE(processMentions(folder.string())) << "ffmpeg still runs";
    }
};

} // namespace

TEST_F(Capture, ContainersHoldTheSpanAndItsMusic) {
    struct Case {
        const char* extension;
        const char* video; // codec_name,codec_type,width,height,pix_fmt,frames as ffprobe lists them
        const char* audio;
    } cases[] = {
        {".mp4", "h264,video,64,36,yuv420p,7\n", "aac,audio,"},
        {".mkv", "h264,video,64,36,yuv420p,7\n", "vorbis,audio,"},
        {".webm", "vp9,video,64,36,yuv420p,7\n", "opus,audio,"},
    };
    for (const Case& c : cases) {
        std::string file = folder.file(std::string("span") + c.extension), output;
        ASSERT_EQ(run({"--video", file, "--from", "0.5", "--to", "1.2"}, {}, &output), 0) << output;
        std::string streams = probe(file);
        EXPECT_NE(streams.find(c.video), std::string::npos) << streams;
        EXPECT_NE(streams.find(c.audio), std::string::npos) << streams;
        // The audio is cut to the span: the file lasts as long as its 7 frames.
        double duration =
            std::atof(streams.substr(streams.find_last_of('\n', streams.size() - 2) + 1).c_str());
        EXPECT_NEAR(duration, 0.7, 0.03) << streams;
        // Five frames before 0.5 s drawn and not kept; progress lines without a terminal.
        EXPECT_NE(output.find("drew 12 frames"), std::string::npos) << output;
        EXPECT_NE(output.find("nova31-shot: 7/7 frames (100%)"), std::string::npos) << output;
        expectNothingLeft(file);
    }
}

TEST_F(Capture, TheFirstFrameIsTheShotOfItsTime) {
    std::string file = folder.file("frame.mp4"), output;
    ASSERT_EQ(run({"--size", "128x72", "--video", file, "--from", "0.5", "--to", "0.7", "--quality", "0"}, {},
                  &output),
              0)
        << output;
    ASSERT_EQ(runShell("cd " + quoted(folder.string()) + " && " + quoted(kShot) +
                       " --size 128x72 --fps 10 0.5 0 >/dev/null && ffmpeg -v error -i frame.mp4 -frames:v 1 "
                       "frame.png"),
              0);
    std::vector<unsigned char> video = loadRgba(folder.file("frame.png"), 128, 72);
    std::vector<unsigned char> shot = loadRgba(folder.file("shot_0.5.png"), 128, 72);
    std::vector<unsigned char> first = loadRgba(folder.file("shot_0.png"), 128, 72);
    ASSERT_FALSE(video.empty());
    ASSERT_FALSE(shot.empty());
    ASSERT_FALSE(first.empty());
    auto meanDifference = [](const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
        double sum = 0;
        for (size_t i = 0; i < a.size(); ++i) sum += i % 4 == 3 ? 0 : std::abs(a[i] - b[i]);
        return sum / (a.size() / 4 * 3);
    };
    // The codec's loss (colours at half resolution) and the light cache's run-to-run noise stay
    // far below the change of the picture over half a second.
    double toShot = meanDifference(video, shot), toFirst = meanDifference(video, first);
    std::printf("mean difference per channel: %.2f to the shot at 0.5 s, %.2f to the one at 0 s\n", toShot,
                toFirst);
    EXPECT_LT(toShot, 6.0);
    EXPECT_GT(toFirst, 2 * toShot);
}

TEST_F(Capture, FailuresLeaveNothingBehind) {
    std::filesystem::create_directories(folder.path() / "fake");
    ASSERT_TRUE(writeFile(folder.path() / "fake" / "ffmpeg",
                          "#!/bin/sh\nhead -c 20000 >/dev/null\n"
                          "echo 'x264 [error]: the encoder broke down' >&2\n"
                          "exit 3\n"));
    std::filesystem::permissions(folder.path() / "fake" / "ffmpeg", std::filesystem::perms::owner_all);
    std::filesystem::create_directories(folder.path() / "taken.mp4");
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
    struct Case {
        std::string output;
        std::string path; // PATH for nova31-shot
        std::vector<std::string> messages;
    } cases[] = {
        {"out.mp4", "/nonexistent", {"ffmpeg was not found on PATH", "install Debian's package \"ffmpeg\""}},
        {"missing/out.mp4", path, {"cannot write " + folder.file("missing/out.mp4") + ": No such file"}},
        {"taken.mp4", path, {"cannot write " + folder.file("taken.mp4") + ": it is a folder"}},
        // It reads two frames and a bit, then fails: its messages close the report.
        {"out.mp4",
         folder.file("fake") + ":" + path,
         {"ffmpeg ended with exit status 3 after ", "; nothing was written. Its last messages:\n"
                                                    "  ffmpeg: x264 [error]: the encoder broke down\n"}},
    };
    for (const Case& c : cases) {
        std::string file = folder.file(c.output), output;
        EXPECT_EQ(run({"--video", file, "--to", "2"}, {"PATH=" + c.path}, &output), 1) << output;
        for (const std::string& message : c.messages)
            EXPECT_NE(output.find(message), std::string::npos) << output;
        EXPECT_EQ(std::filesystem::is_regular_file(file), false) << file;
        expectNothingLeft(file);
    }
}

TEST_F(Capture, CtrlCEndsTheVideoAtTheLastFrame) {
    std::string file = folder.file("stopped.mkv");
    std::vector<std::string> arguments = {kShot, "--video", file};
    arguments.insert(arguments.begin() + 1, kSmall.begin(), kSmall.end());
    ChildProcess shot(arguments, {});
    bool started = false;
    for (int tries = 0; tries < 240 && !started; ++tries) {
        shot.waitForLine("\x01", 0.25); // no such line: reads for a quarter second
        for (const std::string& line : shot.lines())
            started = started || line.find("(10%)") != std::string::npos;
    }
    ASSERT_TRUE(started) << shot.output();
    ASSERT_EQ(kill(shot.pid(), SIGINT), 0);
    EXPECT_EQ(shot.waitForExit(60), 130) << shot.output();
    EXPECT_NE(shot.output().find("interrupted; " + file + " holds the frames drawn so far"),
              std::string::npos)
        << shot.output();
    // A whole file of the frames so far, with the music, ended by ffmpeg itself.
    std::string streams = probe(file);
    int frames = 0;
    EXPECT_EQ(std::sscanf(streams.c_str(), "h264,video,64,36,yuv420p,%d", &frames), 1) << streams;
    EXPECT_GE(frames, 20);
    EXPECT_LT(frames, 200);
    EXPECT_NE(streams.find("vorbis,audio"), std::string::npos) << streams;
    expectNothingLeft(file);
}

TEST_F(Capture, BadVideoCommandLinesAreRefused) {
    for (const char* arguments :
         {"--video", "--video out.avi", "--video out.mp4 5", "--video out.mp4 --size 65x36",
          "--video out.mp4 --from 5 --to 3", "--video out.mp4 --from 20", "--video out.mp4 --fps 0",
          "--video out.mp4 --quality 52", "--video out.webm --quality 64", "--from 2 5", "--quality 20 5"}) {
        EXPECT_EQ(runShell("cd " + quoted(folder.string()) + " && " + quoted(kShot) + " " + arguments), 2)
            << "nova31-shot " << arguments;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}
