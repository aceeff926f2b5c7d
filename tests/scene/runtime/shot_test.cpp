// nova31-shot on the demo program's own archive: the frames it writes show the lit scene (not
// black, not the clear colour), and indirect light from the warmed-up light cache brightens the
// picture beyond what a cold cache (direct light only) gives. With no "-data:" the tool finds the
// demo's archive by itself, from any working directory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <stb/stb_image.h>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

constexpr int kWidth = 160, kHeight = 90;

struct Frame {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;

    double mean(int channel) const {
        double sum = 0;
        for (size_t i = channel; i < rgba.size(); i += 4) sum += rgba[i];
        return sum / (rgba.size() / 4);
    }
    double luminance() const { return 0.3 * mean(0) + 0.59 * mean(1) + 0.11 * mean(2); }
};

// Runs nova31-shot in a fresh folder and loads the frame it wrote for `time`; `data` is a
// "-data:..." argument or empty (the demo's own archive).
Frame shoot(const std::string& fps, const std::string& time, const std::string& data) {
    ScratchFolder folder("shot-" + fps);
    std::vector<std::string> arguments = {NOVA31_BINARY_DIR "/nova31-shot"};
    if (!data.empty()) arguments.push_back(data);
    for (const std::string& argument :
         {std::string("--size"), std::to_string(kWidth) + "x" + std::to_string(kHeight), std::string("--fps"),
          fps, time})
        arguments.push_back(argument);
    ProcessResult run = runProcess(arguments, folder.string(), 200);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    Frame frame;
    std::string file = folder.file("shot_" + time + ".png");
    int channels = 0;
    unsigned char* pixels = stbi_load(file.c_str(), &frame.width, &frame.height, &channels, 4);
    EXPECT_NE(pixels, nullptr) << file;
    if (pixels != nullptr) {
        frame.rgba.assign(pixels, pixels + static_cast<size_t>(frame.width) * frame.height * 4);
        stbi_image_free(pixels);
    }
    return frame;
}

} // namespace

TEST(Nova31Shot, FramesShowTheLitSceneAndIndirectLightBrightensIt) {
    Frame cold = shoot("0", "2.0", "-data:" NOVA31_BINARY_DIR "/nova31");
    Frame warm = shoot("8", "2.0", ""); // as the README shows it: the demo's own archive
    ASSERT_EQ(warm.width, kWidth);
    ASSERT_EQ(warm.height, kHeight);
    ASSERT_EQ(cold.width, kWidth);

    // The clear colour at 2.0 s is (0, 0, 61/255): pixels covered by the scene differ from it.
    int clearPixels = 0, darkPixels = 0;
    for (size_t i = 0; i < warm.rgba.size(); i += 4) {
        const unsigned char* p = &warm.rgba[i];
        if (p[0] == 0 && p[1] == 0 && std::abs(p[2] - 61) <= 1) ++clearPixels;
        if (p[0] + p[1] + p[2] < 12) ++darkPixels;
    }
    const int pixels = kWidth * kHeight;
    EXPECT_LT(clearPixels, pixels / 100) << "the hall surrounds the camera";
    EXPECT_LT(darkPixels, pixels / 10) << "most of the picture is lit";
    EXPECT_GT(warm.luminance(), 40.0);
    // Colour: the red and blue walls and the coloured lights make the channels differ.
    EXPECT_GT(std::fabs(warm.mean(0) - warm.mean(2)), 3.0);

    // Sixteen frames of warming fill the light cache; the first frame has direct light only. The
    // animation is the same in both, so indirect light shows as pixels that got brighter.
    int brighter = 0, darker = 0;
    for (size_t i = 0; i < warm.rgba.size(); i += 4) {
        int difference = 0;
        for (int c = 0; c < 3; ++c) difference += warm.rgba[i + c] - cold.rgba[i + c];
        if (difference >= 15) ++brighter;
        if (difference <= -15) ++darker;
    }
    std::printf("warm frame: luminance %.1f, mean rgb %.1f %.1f %.1f; cold frame: luminance %.1f; "
                "%d of %d pixels brighter by 5 levels or more, %d darker\n",
                warm.luminance(), warm.mean(0), warm.mean(1), warm.mean(2), cold.luminance(), brighter,
                pixels, darker);
    EXPECT_GT(brighter, pixels / 5) << "indirect light must brighten a fair part of the picture";
    EXPECT_LT(darker, pixels / 50);
    EXPECT_GT(warm.luminance(), cold.luminance());
}

TEST(Nova31Shot, BadCommandLinesAreRefusedBeforeAnythingStarts) {
    for (const char* arguments :
         {"", "abc", "25", "-1", "1.0 nan", "--size 10x10 1", "--size 320 1", "--fps -2 1", "--fps"}) {
        EXPECT_EQ(runShell(std::string("'" NOVA31_BINARY_DIR "/nova31-shot' ") + arguments), 2)
            << "nova31-shot " << arguments;
    }
}
