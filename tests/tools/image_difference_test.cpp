// The FLIP metric of nova31-diff against values worked out by hand from the published formulas,
// its properties, and the program's handling of its command line and of bad files.
#include <array>
#include <cmath>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tools/nova31-diff/flip.h"

namespace {

using Rgb8 = std::array<int, 3>;

DiffImage uniform(int width, int height, Rgb8 rgb) {
    DiffImage image{width, height, {}};
    for (int i = 0; i < width * height; ++i)
        for (int c : rgb) image.values.push_back(c / 255.0f);
    return image;
}

// `left` in the columns before `column`, `right` from it on: a vertical edge.
DiffImage split(int width, int height, int column, Rgb8 left, Rgb8 right) {
    DiffImage image = uniform(width, height, left);
    for (int y = 0; y < height; ++y)
        for (int x = column; x < width; ++x)
            for (int c = 0; c < 3; ++c) image.values[3 * (y * width + x) + c] = right[c] / 255.0f;
    return image;
}

DiffImage noise(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    DiffImage image{width, height, std::vector<float>(3 * width * height)};
    for (float& v : image.values) v = static_cast<float>(random() % 256) / 255.0f;
    return image;
}

FlipMaps whole(const DiffImage& reference, const DiffImage& test, double ppd = kDefaultPixelsPerDegree) {
    return computeFlip(reference, test, ppd, {0, 0, reference.width, reference.height});
}

// ---- The metric --------------------------------------------------------------------------------

// Flat colours: the CSF kernels sum to 1 and the detectors find nothing, so each pixel's error is
// the colour error of the two colours, worked out by hand:
//   linear = ((c/255 + 0.055) / 1.055)^2.4 (c/255 <= 0.04045: c/255/12.92); XYZ by the sRGB
//   matrix, white = XYZ of linear (1, 1, 1); L* = 116 f(Y/Yn) - 16, a* = 500 (f(X/Xn) - f(Y/Yn)),
//   b* = 200 (f(Y/Yn) - f(Z/Zn)), f(t) = cbrt(t); Hunt: a, b *= 0.01 L*.
//   HyAB = |dL| + |d(a, b)|. cmax = HyAB(green, blue): green (87.7347, -75.6122, 72.9771), blue
//   (32.2970, 25.5752, -34.8356), 55.4377 + sqrt(101.1873^2 + 107.8127^2) = 203.2973;
//   cmax^0.7 = 41.27548, p_c cmax^0.7 = 16.51019.
//   e = HyAB^0.7; e < 16.51019: 0.95 e / 16.51019; else 0.95 + (e - 16.51019) / 24.76529 * 0.05.
TEST(Flip, FlatColoursGiveTheColourErrorWorkedOutByHand) {
    EXPECT_NEAR(flipMaxColourDistance(), 203.2973, 1e-3);
    struct Case {
        const char* what;
        Rgb8 reference, test;
        double expected;
    };
    const Case cases[] = {
        // L* 0 against 100, no chroma: HyAB 100, e = 25.11886 -> 0.95 + 8.60867 / 24.76529 * 0.05.
        {"black against white", {0, 0, 0}, {255, 255, 255}, 0.967381},
        // The largest distance itself: e = cmax^0.7 -> exactly 1.
        {"green against blue", {0, 255, 0}, {0, 0, 255}, 1.0},
        // Greys: L* 53.5850 and 65.8678, HyAB 12.2828, e = 5.78773 -> 0.95 * 5.78773 / 16.51019.
        {"grey 128 against 160", {128, 128, 128}, {160, 160, 160}, 0.333027},
        // Red (53.2408, 80.0925, 67.2032) is Hunt-adjusted to (53.2408, 42.6419, 35.7795):
        // HyAB 53.2408 + 55.6642 = 108.9050, e = 26.66450 -> 0.95 + 10.15431 / 24.76529 * 0.05.
        {"red against black", {255, 0, 0}, {0, 0, 0}, 0.970501},
        // Hunt-adjusted (53.6295, 19.4706, 24.3368) and (55.1241, 22.1754, 26.1247): HyAB 1.4945 +
        // 3.2423 = 4.7368, e = 2.97056 -> 0.95 * 2.97056 / 16.51019.
        {"orange, red raised by 10", {200, 100, 50}, {210, 100, 50}, 0.170927},
    };
    for (const Case& c : cases) {
        const FlipMaps maps = whole(uniform(12, 10, c.reference), uniform(12, 10, c.test));
        for (size_t i = 0; i < maps.error.size(); ++i) {
            ASSERT_NEAR(maps.error[i], c.expected, 2e-5) << c.what << ", pixel " << i;
            ASSERT_EQ(maps.feature[i], 0.0f) << c.what << ", pixel " << i;
        }
    }
}

// Identical images differ by nothing, exactly; the error stays in [0, 1]; and since both images
// take the same path and every difference is taken as a size, swapping reference and test gives
// the same map (the metric is symmetric).
TEST(Flip, IdenticalIsZeroErrorsStayInRangeAndSwappingChangesNothing) {
    const DiffImage a = noise(40, 30, 1), b = noise(40, 30, 2);
    for (float e : whole(a, a).error) ASSERT_EQ(e, 0.0f);
    const FlipMaps forward = whole(a, b), backward = whole(b, a);
    for (size_t i = 0; i < forward.error.size(); ++i) {
        ASSERT_GE(forward.error[i], 0.0f);
        ASSERT_LE(forward.error[i], 1.0f);
        ASSERT_EQ(forward.error[i], backward.error[i]) << "pixel " << i;
    }
    EXPECT_GT(meanOf(forward.error), 0.3); // noise against other noise differs plainly
}

// A black-to-white step in the reference only. Beside the step the edge detector (positive
// weights summing to 1) answers exactly 1 and the point detector |w(0)| / 2 < 1, so the feature
// error is (1 / sqrt 2)^0.5 = 2^-0.25 = 0.840896 there, and the error exceeds the colour error.
// Beyond the detectors' reach (3 sigma = 3 * 0.5 * 0.082 * 67.02 -> 9 pixels) it is the colour
// error alone. An edge in both images, of opposite sign, is no feature difference at all.
TEST(Flip, AnEdgeInOneImageOnlyRaisesTheError) {
    const int width = 32, height = 6, step = 16;
    const DiffImage edge = split(width, height, step, {0, 0, 0}, {255, 255, 255});
    const FlipMaps maps = whole(edge, uniform(width, height, {128, 128, 128}));
    for (int y = 0; y < height; ++y) {
        for (int x : {step - 1, step}) {
            const size_t i = y * width + x;
            EXPECT_NEAR(maps.feature[i], 0.840896, 1e-5) << x << "," << y;
            EXPECT_GT(maps.error[i], maps.colour[i] + 0.05f) << x << "," << y;
        }
        for (int x : {0, step - 10, step + 9, width - 1}) {
            const size_t i = y * width + x;
            EXPECT_EQ(maps.feature[i], 0.0f) << x << "," << y;
            EXPECT_EQ(maps.error[i], maps.colour[i]) << x << "," << y;
        }
    }
    const FlipMaps inverted = whole(edge, split(width, height, step, {255, 255, 255}, {0, 0, 0}));
    for (float f : inverted.feature) ASSERT_EQ(f, 0.0f);
    EXPECT_GT(meanOf(inverted.colour), 0.9);
}

// A crop sees the pixels around it, so it equals that part of the whole image's map, also at a
// low and a high number of pixels per degree (small and large kernels).
TEST(Flip, ACropIsThatPartOfTheWholeMap) {
    const DiffImage a = noise(48, 40, 3), b = noise(48, 40, 4);
    for (double ppd : {5.0, kDefaultPixelsPerDegree, 150.0}) {
        const FlipMaps all = whole(a, b, ppd);
        const PixelRect crop{20, 3, 17, 30};
        const FlipMaps part = computeFlip(a, b, ppd, crop);
        ASSERT_EQ(part.error.size(), static_cast<size_t>(crop.width * crop.height));
        for (int y = 0; y < crop.height; ++y)
            for (int x = 0; x < crop.width; ++x)
                ASSERT_FLOAT_EQ(part.error[y * crop.width + x],
                                all.error[(y + crop.y) * all.width + x + crop.x])
                    << "ppd " << ppd << " at " << x << "," << y;
    }
}

TEST(Flip, RmsePercentilesAndTheMapColours) {
    const PixelRect all{0, 0, 4, 4};
    EXPECT_DOUBLE_EQ(rmseOf(uniform(4, 4, {0, 0, 0}), uniform(4, 4, {255, 255, 255}), all), 1.0);
    // One channel of three off by 0.2: sqrt(0.04 / 3).
    EXPECT_NEAR(rmseOf(uniform(4, 4, {0, 9, 9}), uniform(4, 4, {51, 9, 9}), all), 0.115470, 1e-6);
    EXPECT_DOUBLE_EQ(percentileOf({4, 0, 3, 1, 2}, 50), 2.0);
    EXPECT_DOUBLE_EQ(percentileOf({4, 0, 3, 1, 2}, 90), 3.6);
    // The ramp runs from magma's near black to its pale yellow, brighter at every step.
    EXPECT_EQ(magma(0.0f), (std::array<std::uint8_t, 3>{0, 0, 4}));
    EXPECT_EQ(magma(1.0f), (std::array<std::uint8_t, 3>{252, 253, 191}));
    EXPECT_EQ(magma(-1.0f), magma(0.0f));
    EXPECT_EQ(magma(7.0f), magma(1.0f));
    double previous = -1.0;
    for (int i = 0; i <= 20; ++i) {
        const auto c = magma(i / 20.0f);
        const double luma = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
        EXPECT_GT(luma, previous) << i / 20.0;
        previous = luma;
    }
}

// ---- The program -------------------------------------------------------------------------------

const std::string kProgram = NOVA31_BINARY_DIR "/nova31-diff";

void writePng(const std::string& path, const DiffImage& image) {
    std::vector<unsigned char> bytes;
    for (float v : image.values) bytes.push_back(static_cast<unsigned char>(std::lround(v * 255.0f)));
    ASSERT_TRUE(stbi_write_png(path.c_str(), image.width, image.height, 3, bytes.data(), 3 * image.width));
}

class DiffProgram : public ::testing::Test {
protected:
    void SetUp() override {
        writePng(file("black.png"), uniform(24, 16, {0, 0, 0}));
        writePng(file("white.png"), uniform(24, 16, {255, 255, 255}));
        writePng(file("small.png"), uniform(8, 8, {0, 0, 0}));
        writePng(file("noise.png"), noise(24, 16, 5));
        const std::string whole = readFile(file("noise.png"));
        writeFile(folder.path() / "cut.png", whole.substr(0, whole.size() / 2));
        writeFile(folder.path() / "no-end.png", whole.substr(0, whole.size() - 12)); // no IEND chunk
        std::string damaged = whole;
        damaged[damaged.size() - 20] ^= 0x10; // in the last IDAT chunk's data
        writeFile(folder.path() / "damaged.png", damaged);
        writeFile(folder.path() / "notes.png", "just some text\n");
        writeFile(folder.path() / "empty.png", "");
    }
    std::string file(const std::string& name) const { return folder.file(name); }
    ProcessResult diff(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), kProgram);
        return runProcess(arguments, folder.string(), 30);
    }
    ScratchFolder folder{"imgdiff"};
};

TEST_F(DiffProgram, BadInputIsNamedWithItsProblem) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"missing.png", "white.png"}, 1, "missing.png: cannot open"},
        {{"black.png", "notes.png"}, 1, "notes.png: not a PNG file"},
        {{"empty.png", "black.png"}, 1, "empty.png: empty file"},
        {{"black.png", "cut.png"}, 1, "cut.png: truncated: ends inside the IDAT chunk"},
        {{"black.png", "no-end.png"}, 1, "no-end.png: truncated: ends at byte"},
        {{"black.png", "damaged.png"},
         1,
         "damaged.png: damaged: the IDAT chunk at byte 33 fails its checksum"},
        {{"black.png", "small.png"}, 1, "small.png: 8x8, but the reference black.png is 24x16"},
        {{"black.png", "."}, 1, ".: is a folder"},
        {{"black.png", "white.png", "--map", "no-such-folder/map.png"},
         1,
         "no-such-folder/map.png: cannot write"},
        {{"black.png"}, 2, "needs two images"},
        {{"black.png", "white.png", "--ppd", "0.5"}, 2, "--ppd takes a number from 1 to 1000"},
        {{"black.png", "white.png", "--ppd", "67x"}, 2, "--ppd takes a number"},
        {{"black.png", "white.png", "--crop", "20,0,5,16"},
         2,
         "the crop 20,0,5,16 does not fit the 24x16 images"},
        {{"black.png", "white.png", "--crop", "0,0,0,4"}, 2, "--crop takes X,Y,W,H"},
        {{"black.png", "white.png", "--percentiles", "50,101"},
         2,
         "--percentiles takes numbers from 0 to 100"},
        {{"black.png", "white.png", "--fast"}, 2, "unknown option --fast"},
        {{"black.png", "white.png", "--map"}, 2, "--map needs a value"},
    };
    for (const Case& c : cases) {
        const ProcessResult run = diff(c.arguments);
        EXPECT_EQ(run.exitCode, c.status) << c.message << "\n" << run.err;
        EXPECT_NE(run.err.find("nova31-diff: " + c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << c.message;
    }
}

// Black against white: FLIP 0.967381 (worked out above), RMSE 1; the map of the crop is a PNG of
// the crop's size in the ramp's colour for that error.
TEST_F(DiffProgram, PrintsTheFiguresAndWritesTheMap) {
    const ProcessResult text = diff({"black.png", "white.png", "--percentiles", "50"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out, "FLIP mean: 0.967381\nRMSE: 1.000000\nFLIP p50: 0.967381\n");

    const ProcessResult json =
        diff({"--json", "--crop", "2,3,10,5", "--map", "map.png", "black.png", "white.png"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"crop\": [2, 3, 10, 5]"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"flip\": 0.967381, \"rmse\": 1.000000"), std::string::npos) << json.out;
    int width = 0, height = 0, channels = 0;
    unsigned char* map = stbi_load(file("map.png").c_str(), &width, &height, &channels, 3);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(width, 10);
    EXPECT_EQ(height, 5);
    const auto expected = magma(0.967381f);
    EXPECT_EQ((std::array<std::uint8_t, 3>{map[0], map[1], map[2]}), expected);
    stbi_image_free(map);
}

} // namespace
