// The image hook: PNG/JPEG through stb_image, the TGA decoder, texture Variables and the
// placeholder for files that cannot be decoded.
#include "scene/image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <stb/stb_image_write.h>

#include "shader/shader.h"
#include "store/store.h"

namespace {

std::string uniqueName(const std::string& stem, const std::string& extension) {
    static int counter = 0;
    return "image_test_" + stem + "_" + std::to_string(++counter) + extension;
}

struct Rgba {
    uint8_t r, g, b, a;
};

uint32_t argb(Rgba c) {
    return static_cast<uint32_t>(c.a) << 24 | static_cast<uint32_t>(c.r) << 16 |
           static_cast<uint32_t>(c.g) << 8 | c.b;
}

void appendToVector(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

std::vector<uint8_t> encodePng(int width, int height, const std::vector<Rgba>& texels) {
    std::vector<uint8_t> png;
    EXPECT_TRUE(stbi_write_png_to_func(appendToVector, &png, width, height, 4, texels.data(), width * 4));
    return png;
}

// A TGA file: 18-byte header, optional image ID and colour map, then the rows as given.
std::vector<uint8_t> makeTga(uint8_t type, int width, int height, uint8_t bits, uint8_t descriptor,
                             const std::vector<uint8_t>& pixelBytes, uint8_t idLength = 0,
                             uint16_t mapEntries = 0) {
    std::vector<uint8_t> file(18, 0);
    file[0] = idLength;
    file[1] = mapEntries ? 1 : 0;
    file[2] = type;
    file[5] = mapEntries & 0xff;
    file[6] = mapEntries >> 8;
    file[7] = mapEntries ? 24 : 0;
    file[12] = width & 0xff;
    file[13] = (width >> 8) & 0xff;
    file[14] = height & 0xff;
    file[15] = (height >> 8) & 0xff;
    file[16] = bits;
    file[17] = descriptor;
    file.insert(file.end(), idLength, 0xEE);       // image ID: junk that must not be read as pixels
    file.insert(file.end(), mapEntries * 3, 0xDD); // colour map entries, 24 bits each
    file.insert(file.end(), pixelBytes.begin(), pixelBytes.end());
    return file;
}

TextureRecord* textureOf(Variable* file) {
    Variable* current = currentVariable(file);
    EXPECT_NE(current, file) << "the image hook did not link a texture";
    return static_cast<TextureRecord*>(variableData(current));
}

Variable* store(const std::string& name, const std::vector<uint8_t>& bytes) {
    return putFileVariable(name.c_str(), static_cast<uint32_t>(bytes.size()), bytes.data());
}

void expectPlaceholder(const TextureRecord* texture) {
    ASSERT_EQ(texture->width, kPlaceholderSize);
    ASSERT_EQ(texture->height, kPlaceholderSize);
    ASSERT_NE(texture->pixels, nullptr);
    for (int y = 0; y < kPlaceholderSize; ++y)
        for (int x = 0; x < kPlaceholderSize; ++x)
            ASSERT_EQ(texture->pixels[y * kPlaceholderSize + x], placeholderTexel(x, y)) << x << "," << y;
}

class ImageDecoding : public ::testing::Test {
protected:
    static void SetUpTestSuite() { installImageHook(); }
};

} // namespace

// ---- Mip chain storage ----

TEST(MipChain, CountsEveryLevelDownToTheLastOneTheUploadBuilds) {
    EXPECT_EQ(mipChainTexelCount(256, 256), 87381u); // 256^2 + 128^2 + ... + 1
    // 256 x 128 ends with 2 x 1: the next level would have height 0.
    EXPECT_EQ(mipChainTexelCount(256, 128), 32768u + 8192 + 2048 + 512 + 128 + 32 + 8 + 2);
    // 128 x 256 ends with 1 x 2: a level of width 1 is the last.
    EXPECT_EQ(mipChainTexelCount(128, 256), 32768u + 8192 + 2048 + 512 + 128 + 32 + 8 + 2);
    EXPECT_EQ(mipChainTexelCount(3, 5), 15u + 2);
    EXPECT_EQ(mipChainTexelCount(4, 1), 4u);
    EXPECT_EQ(mipChainTexelCount(1, 1), 1u);
}

// ---- PNG and JPEG ----

TEST_F(ImageDecoding, PngBecomesALinkedTextureWithArgbTexelsTopRowFirst) {
    const std::vector<Rgba> texels = {{255, 0, 0, 255},  {0, 255, 0, 255},    {0, 0, 255, 255},
                                      {10, 20, 30, 255}, {200, 100, 50, 255}, {1, 2, 3, 255}};
    std::string name = uniqueName("rgb", ".png");
    Variable* file = store(name, encodePng(3, 2, texels));

    Variable* texture = currentVariable(file);
    ASSERT_NE(texture, file);
    EXPECT_EQ(std::string(texture->name), name + "_loadedimage");
    EXPECT_EQ(texture->dataSize, 64u);
    EXPECT_EQ(getVariable((name + "_loadedimage").c_str(), 0), texture)
        << "the texture must be found by name";

    auto* record = static_cast<TextureRecord*>(variableData(texture));
    EXPECT_EQ(record->width, 3);
    EXPECT_EQ(record->height, 2);
    EXPECT_EQ(record->uploadWidth, 3);
    EXPECT_EQ(record->uploadHeight, 2);
    EXPECT_EQ(record->glTexture, 0u);
    EXPECT_EQ(record->dirty, 0);
    EXPECT_EQ(record->hasTransparency, 0);
    ASSERT_NE(record->pixels, nullptr);
    for (size_t i = 0; i < texels.size(); ++i) EXPECT_EQ(record->pixels[i], argb(texels[i])) << "texel " << i;
    // The second mip level's storage follows level 0 and starts zeroed.
    EXPECT_EQ(record->pixels[6], 0u);
}

TEST_F(ImageDecoding, TransparencyThresholdIsAlphaBelow254) {
    Variable* opaque = store(uniqueName("a254", ".png"), encodePng(2, 1, {{9, 9, 9, 254}, {9, 9, 9, 255}}));
    EXPECT_EQ(textureOf(opaque)->hasTransparency, 0);
    Variable* seeThrough =
        store(uniqueName("a253", ".png"), encodePng(2, 1, {{9, 9, 9, 255}, {9, 9, 9, 253}}));
    EXPECT_NE(textureOf(seeThrough)->hasTransparency, 0);
}

TEST_F(ImageDecoding, NameThatMerelyContainsPngIsDecoded) {
    Variable* file = store(uniqueName("notes", ".png.txt"), encodePng(1, 1, {{1, 2, 3, 255}}));
    const TextureRecord* record = textureOf(file);
    EXPECT_EQ(record->width, 1);
    EXPECT_EQ(record->pixels[0], argb({1, 2, 3, 255}));
}

TEST_F(ImageDecoding, OtherNamesPassThroughUntouched) {
    std::vector<uint8_t> png = encodePng(1, 1, {{1, 2, 3, 255}});
    for (const char* extension : {".txt", ".PNG", ".pn", ".glsl"}) {
        Variable* file = store(uniqueName("plain", extension), png);
        EXPECT_EQ(file->replacement, nullptr) << extension;
    }
}

TEST_F(ImageDecoding, JpegIsDecoded) {
    std::vector<uint8_t> rgb(16 * 16 * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = 200;
        rgb[i + 1] = 120;
        rgb[i + 2] = 40;
    }
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(stbi_write_jpg_to_func(appendToVector, &jpeg, 16, 16, 3, rgb.data(), 95));
    for (const char* extension : {".jpg", ".jpeg"}) {
        const TextureRecord* record = textureOf(store(uniqueName("photo", extension), jpeg));
        ASSERT_EQ(record->width, 16);
        ASSERT_EQ(record->height, 16);
        uint32_t texel = record->pixels[8 * 16 + 8];
        EXPECT_EQ(texel >> 24, 255u);
        EXPECT_NEAR(static_cast<int>((texel >> 16) & 255), 200, 4);
        EXPECT_NEAR(static_cast<int>((texel >> 8) & 255), 120, 4);
        EXPECT_NEAR(static_cast<int>(texel & 255), 40, 4);
    }
}

TEST_F(ImageDecoding, RunningTheHookAgainReusesTheTextureVariable) {
    Variable* file =
        store(uniqueName("again", ".png"), encodePng(2, 2, std::vector<Rgba>(4, {5, 6, 7, 255})));
    Variable* texture = file->replacement;
    ASSERT_NE(texture, nullptr);
    size_t used = storeBytesUsed();
    EXPECT_EQ(imageHookDecode(file, nullptr), file);
    EXPECT_EQ(file->replacement, texture);
    EXPECT_EQ(storeBytesUsed(), used) << "no second texture Variable";
    EXPECT_EQ(static_cast<TextureRecord*>(variableData(texture))->pixels[3], argb({5, 6, 7, 255}));
}

TEST_F(ImageDecoding, CorruptPngGivesThePlaceholderAndAConsoleLineNamingTheFile) {
    std::vector<uint8_t> png = encodePng(4, 4, std::vector<Rgba>(16, {50, 60, 70, 255}));
    std::vector<uint8_t> corrupt = png;
    for (size_t i = 40; i < corrupt.size(); ++i) corrupt[i] ^= 0x5A;
    std::vector<uint8_t> truncated(png.begin(), png.begin() + png.size() / 2);
    std::vector<uint8_t> notAnImage = {'h', 'e', 'l', 'l', 'o'};

    for (const auto& bytes : {corrupt, truncated, notAnImage, std::vector<uint8_t>{}}) {
        std::string name = uniqueName("broken", ".png");
        testing::internal::CaptureStdout();
        Variable* file = store(name, bytes);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find("Image " + name + ": "), std::string::npos) << log;
        EXPECT_NE(log.find("placeholder"), std::string::npos) << log;
        expectPlaceholder(textureOf(file));
    }
}

// ---- TGA ----

TEST_F(ImageDecoding, Tga32BottomUpRowsAreFlippedAndAlphaBelow255IsTransparency) {
    // Two rows of two texels, stored bottom row first, bytes B, G, R, A.
    std::vector<uint8_t> pixels = {
        1, 2, 3, 255, 4,  5,  6,  255, // bottom row
        7, 8, 9, 254, 10, 11, 12, 255, // top row
    };
    const TextureRecord* record =
        textureOf(store(uniqueName("bottomup", ".tga"), makeTga(2, 2, 2, 32, 0x08, pixels)));
    ASSERT_EQ(record->width, 2);
    ASSERT_EQ(record->height, 2);
    EXPECT_EQ(record->uploadWidth, 2);
    EXPECT_EQ(record->pixels[0], argb({9, 8, 7, 254}));
    EXPECT_EQ(record->pixels[1], argb({12, 11, 10, 255}));
    EXPECT_EQ(record->pixels[2], argb({3, 2, 1, 255}));
    EXPECT_EQ(record->pixels[3], argb({6, 5, 4, 255}));
    EXPECT_NE(record->hasTransparency, 0);
}

TEST_F(ImageDecoding, Tga32TopLeftOriginKeepsRowOrder) {
    std::vector<uint8_t> pixels = {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255};
    const TextureRecord* record =
        textureOf(store(uniqueName("topdown", ".tga"), makeTga(2, 2, 2, 32, 0x28, pixels)));
    EXPECT_EQ(record->pixels[0], argb({3, 2, 1, 255}));
    EXPECT_EQ(record->pixels[3], argb({12, 11, 10, 255}));
    EXPECT_EQ(record->hasTransparency, 0);
}

TEST_F(ImageDecoding, Tga24IsConvertedWithOpaqueAlpha) {
    std::vector<uint8_t> pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9}; // one row of three B, G, R texels
    const TextureRecord* record =
        textureOf(store(uniqueName("rgb24", ".tga"), makeTga(2, 3, 1, 24, 0x20, pixels)));
    ASSERT_EQ(record->width, 3);
    EXPECT_EQ(record->pixels[0], argb({3, 2, 1, 255}));
    EXPECT_EQ(record->pixels[1], argb({6, 5, 4, 255}));
    EXPECT_EQ(record->pixels[2], argb({9, 8, 7, 255}));
    EXPECT_EQ(record->hasTransparency, 0);
}

TEST_F(ImageDecoding, TgaImageIdAndColourMapAreSkipped) {
    std::vector<uint8_t> pixels = {40, 50, 60, 255};
    const TextureRecord* record =
        textureOf(store(uniqueName("withid", ".tga"), makeTga(2, 1, 1, 32, 0x20, pixels, 7, 2)));
    EXPECT_EQ(record->pixels[0], argb({60, 50, 40, 255}));
}

TEST_F(ImageDecoding, UnsupportedOrTruncatedTgaGivesThePlaceholder) {
    std::vector<uint8_t> fourTexels(16, 0x80);
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    } cases[] = {
        {"RLE image type", makeTga(10, 2, 2, 32, 0x20, fourTexels)},
        {"colour-mapped type", makeTga(1, 2, 2, 32, 0x20, fourTexels)},
        {"16 bits per pixel", makeTga(2, 2, 2, 16, 0x20, fourTexels)},
        {"pixel data one byte short", makeTga(2, 2, 2, 32, 0x20, std::vector<uint8_t>(15, 0x80))},
        {"header only", makeTga(2, 2, 2, 32, 0x20, {})},
        {"header cut short", std::vector<uint8_t>(17, 0)},
        {"negative width", makeTga(2, 0xFFFF, 2, 32, 0x20, fourTexels)},
        {"zero height", makeTga(2, 2, 0, 32, 0x20, fourTexels)},
        {"image ID leaves no room for pixels", makeTga(2, 1, 1, 32, 0x20, {}, 200)},
    };
    for (const Case& c : cases) {
        std::string name = uniqueName("badtga", ".tga");
        testing::internal::CaptureStdout();
        Variable* file = store(name, c.file);
        std::string log = testing::internal::GetCapturedStdout();
        SCOPED_TRACE(c.what);
        EXPECT_NE(log.find("Image " + name + ": "), std::string::npos) << log;
        expectPlaceholder(textureOf(file));
    }
}

TEST_F(ImageDecoding, DecodeImageReportsTheProblem) {
    TextureRecord record{};
    std::string problem;
    EXPECT_FALSE(decodeImage("x.tga", nullptr, 0, &record, &problem));
    EXPECT_NE(problem.find("truncated TGA header"), std::string::npos) << problem;
    expectPlaceholder(&record);
    std::free(record.pixels);
    std::vector<uint8_t> tga = makeTga(2, 1, 1, 32, 0x20, {1, 2, 3, 4});
    problem.clear();
    EXPECT_TRUE(decodeImage("x.tga", tga.data(), tga.size(), &record, &problem));
    EXPECT_EQ(record.pixels[0], argb({3, 2, 1, 4}));
    std::free(record.pixels);
}

TEST_F(ImageDecoding, OverlongNameIsLeftUndecodedWithAConsoleLine) {
    std::string name = std::string(96, 'n') + ".png"; // 100 characters; + "_loadedimage" would not fit
    testing::internal::CaptureStdout();
    Variable* file = store(name, encodePng(1, 1, {{1, 2, 3, 255}}));
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(file->replacement, nullptr);
    EXPECT_NE(log.find("name too long"), std::string::npos) << log;
}

TEST_F(ImageDecoding, EveryTruncationOfAValidFileEndsInATextureOrThePlaceholder) {
    std::vector<Rgba> texels(6 * 5);
    for (size_t i = 0; i < texels.size(); ++i)
        texels[i] = {static_cast<uint8_t>(i * 7), static_cast<uint8_t>(i * 3), 200, 255};
    std::vector<uint8_t> png = encodePng(6, 5, texels);
    std::vector<uint8_t> tga = makeTga(2, 6, 5, 32, 0x20, std::vector<uint8_t>(6 * 5 * 4, 0x42), 3);
    for (const auto& [name, file] : {std::pair{"cut.png", png}, std::pair{"cut.tga", tga}}) {
        for (size_t length = 0; length < file.size(); ++length) {
            TextureRecord record{};
            std::string problem;
            bool decoded = decodeImage(name, file.data(), length, &record, &problem);
            ASSERT_NE(record.pixels, nullptr) << name << " cut to " << length;
            if (!decoded) {
                ASSERT_EQ(record.width, kPlaceholderSize) << name << " cut to " << length;
                ASSERT_FALSE(problem.empty());
            } else {
                ASSERT_EQ(record.width, 6) << name << " cut to " << length;
                ASSERT_EQ(record.height, 5);
            }
            std::free(record.pixels);
        }
        // The complete file decodes.
        TextureRecord record{};
        std::string problem;
        EXPECT_TRUE(decodeImage(name, file.data(), file.size(), &record, &problem))
            << name << ": " << problem;
        std::free(record.pixels);
    }
}

namespace {

// A copy of `file` whose big-endian width and height (`bytes` each) at `at` say otherwise.
std::vector<uint8_t> withBigEndianSize(std::vector<uint8_t> file, size_t at, uint32_t width, uint32_t height,
                                       int bytes) {
    for (int i = 0; i < bytes; ++i) {
        file[at + i] = static_cast<uint8_t>(width >> (8 * (bytes - 1 - i)));
        file[at + bytes + i] = static_cast<uint8_t>(height >> (8 * (bytes - 1 - i)));
    }
    return file;
}

} // namespace

TEST_F(ImageDecoding, FilesThatClaimMoreThanTheyHoldOrOtherFormatsGiveThePlaceholder) {
    std::vector<uint8_t> png = encodePng(2, 2, std::vector<Rgba>(4, {9, 9, 9, 255}));
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(stbi_write_jpg_to_func(appendToVector, &jpeg, 16, 16, 3,
                                       std::vector<uint8_t>(16 * 16 * 3, 90).data(), 90));
    size_t sof = 0; // the JPEG frame header: FF C0, length, precision, then height and width
    while (sof + 1 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0)) ++sof;
    ASSERT_LT(sof + 9, jpeg.size());
    // Found by fuzzing: a Huffman table whose 16 code counts add up to more than 256 symbols makes
    // stb_image 2.27 write past its table.
    std::vector<uint8_t> jpegBadTable = jpeg;
    size_t dht = 0;
    while (dht + 1 < jpeg.size() && !(jpeg[dht] == 0xFF && jpeg[dht + 1] == 0xC4)) ++dht;
    ASSERT_LT(dht + 21, jpeg.size());
    for (size_t i = 0; i < 16; ++i) jpegBadTable[dht + 5 + i] = 0x11; // 16 x 17 = 272 codes
    // Found by fuzzing: a PNG data chunk declaring 2 GiB that stb_image allocated before reading.
    std::vector<uint8_t> pngLongChunk = withBigEndianSize(png, 33, 0x80000000u, 0x49444154u, 4);
    std::vector<uint8_t> jpegHuge = jpeg;
    jpegHuge[sof + 5] = 0x20, jpegHuge[sof + 6] = 0x00, jpegHuge[sof + 7] = 0x20, jpegHuge[sof + 8] = 0x00;
    // Found by fuzzing: 21 bytes of a 16-bit TGA header claiming 12654 x 9738, named .jpg.
    const std::vector<uint8_t> tgaAsJpeg = {0x00, 0x00, 0x02, 0x00, 0x00, 0x0a, 0x26, 0x6e, 0x10, 0x0a, 0x50,
                                            0x7a, 0x6e, 0x31, 0x0a, 0x26, 0x10, 0x0a, 0x50, 0x7a, 0x02};
    struct Case {
        const char* what;
        const char* name;
        std::vector<uint8_t> file;
        const char* problem;
    } cases[] = {
        {"TGA named .jpg", "claim.jpg", tgaAsJpeg, "not a PNG or JPEG file"},
        {"TGA named .png", "claim.png", makeTga(2, 2, 2, 32, 0x20, std::vector<uint8_t>(16, 1)),
         "not a PNG or JPEG file"},
        {"PNG claiming 8192 x 4096", "claim.png", withBigEndianSize(png, 16, 8192, 4096, 4),
         "image is too large (8192 x 4096)"},
        {"PNG claiming 20000 x 1", "claim.png", withBigEndianSize(png, 16, 20000, 1, 4),
         "image is too large (20000 x 1)"},
        {"JPEG claiming 8192 x 8192", "claim.jpg", jpegHuge, "image is too large (8192 x 8192)"},
        {"PNG data chunk of 2 GiB", "claim.png", pngLongChunk,
         "corrupt PNG: a chunk runs past the end of the file"},
        {"JPEG Huffman table of 272 codes", "claim.jpg", jpegBadTable,
         "corrupt JPEG: a Huffman table of more than 256 codes"},
    };
    for (const Case& c : cases) {
        TextureRecord record{};
        std::string problem;
        EXPECT_FALSE(decodeImage(c.name, c.file.data(), c.file.size(), &record, &problem)) << c.what;
        EXPECT_EQ(problem, c.problem) << c.what;
        expectPlaceholder(&record);
        std::free(record.pixels);
    }
}
