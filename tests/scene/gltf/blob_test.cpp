// The blob reader refuses damaged blobs instead of reading outside them.
#include "gltf_test_document.h"
#include "scene/blob.h"
#include "scene/gltf_pack.h"
#include "tests/support/fatal_exit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

std::vector<uint8_t> packedOneNode() {
    const char* text = R"({"scenes":[{"nodes":[0]}],"nodes":[{"name":"node","translation":[1,2,3]}]})";
    int size = 0;
    void* blob = loadGLTF(text, std::strlen(text), &size, nullptr, nullptr);
    std::vector<uint8_t> bytes = blobBytes(blob, size);
    std::free(blob);
    return bytes;
}

TEST(BlobView, FindsChunksAndFollowsReferencesInEitherForm) {
    const std::vector<uint8_t> compact = packedOneNode();
    const std::vector<uint8_t> large = BlobView(compact.data(), compact.size()).largeForm();
    for (const std::vector<uint8_t>* bytes : {&compact, &large}) {
        BlobView v(bytes->data(), bytes->size());
        const bool isLarge = bytes == &large;
        SCOPED_TRACE(isLarge ? "large form" : "compact form");
        EXPECT_EQ(v.form(), isLarge ? BlobForm::large : BlobForm::compact);
        EXPECT_EQ(v.size(), bytes->size());
        EXPECT_EQ(v.entry(BlobChunk::Nodes).offset, isLarge ? 112u : 56u);
        ASSERT_EQ(v.nodes().size(), 1u);
        EXPECT_TRUE(v.primitives().empty());
        EXPECT_STREQ(v.text(&v.nodes()[0].name), "node");
        EXPECT_EQ(v.floats(&v.nodes()[0].matrix, 16), nullptr);
        EXPECT_EQ(v.targetOffset(&v.nodes()[0].matrix), -1);
        const float* t = v.floats(&v.nodes()[0].translation, 3);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t[1], 2.0f);
        // The blob size comes from the directory alone.
        EXPECT_EQ(BlobView(bytes->data()).size(), bytes->size());
    }
}

TEST(BlobView, CompactFloatBlockDecodesInSinglePrecision) {
    uint8_t block[8 + 6] = {};
    float lo = -2.0f, hi = 6.0f;
    std::memcpy(block, &lo, 4);
    std::memcpy(block + 4, &hi, 4);
    block[10] = 0xFF;
    block[11] = 0x7F; // 32767
    block[12] = 0xFF;
    block[13] = 0xFF;
    CompactFloatBlock b{lo, hi, block + 8, 3};
    EXPECT_EQ(b.value(0), -2.0f);
    EXPECT_EQ(b.value(1), 32767.0f * (8.0f / 65535.0f) + -2.0f);
    EXPECT_EQ(b.value(2), 6.0f);
}

TEST(BlobView, DamagedBlobsAreFatal) {
    std::vector<uint8_t> good = packedOneNode();
    std::vector<uint8_t> count = good;
    count[0] = 8;
    EXPECT_EXIT(BlobView(count.data(), count.size()), ::testing::ExitedWithCode(kFatalExitStatus),
                "does not list nine chunks");
    std::vector<uint8_t> offset = good;
    offset[2 + 6 * 2 + 2] += 4; // chunk "m" moved
    EXPECT_EXIT(BlobView(offset.data(), offset.size()), ::testing::ExitedWithCode(kFatalExitStatus),
                "directory entry 2 \\(chunk \"m\"\\) is damaged");
    EXPECT_EXIT(BlobView(good.data(), good.size() - 4), ::testing::ExitedWithCode(kFatalExitStatus),
                "only .+ are there");
    std::vector<uint8_t> reference = good;
    int32_t far = 100000;
    std::memcpy(reference.data() + 56 + 4, &far, 4); // the node's name reference
    BlobView v(reference.data(), reference.size());
    EXPECT_EXIT(v.text(&v.nodes()[0].name), ::testing::ExitedWithCode(kFatalExitStatus),
                "leads outside the blob");
    std::vector<uint8_t> text = good;
    BlobView t(text.data(), text.size());
    // A translation reference asked for more floats than the blob holds past it.
    EXPECT_EXIT(t.floats(&t.nodes()[0].translation, 1000), ::testing::ExitedWithCode(kFatalExitStatus),
                "leads outside the blob");
}

// A scene that does not fit 65535 bytes: 12000 vertices need 72000 bytes of position codes.
struct LargeScene {
    std::vector<float> positions;
    std::vector<uint8_t> bytes;

    LargeScene() : positions(3 * 12000) {
        for (size_t i = 0; i < positions.size(); ++i) positions[i] = static_cast<float>(i % 97) * 0.25f;
        TestDocument doc;
        int idx = doc.addShorts({0, 1, 2, 11999, 5000, 7});
        int pos = doc.addFloats(positions, "VEC3");
        int nrm = doc.addFloats(std::vector<float>(positions.size(), 0.5f), "VEC3");
        std::string text =
            doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":[{)" +
                     primitiveMembers(idx, pos, nrm) + "}]}]");
        int size = 0;
        void* blob = loadGLTF(text.data(), text.size(), &size, nullptr, nullptr);
        bytes = blobBytes(blob, size);
        std::free(blob);
    }
};

void putU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    std::memcpy(bytes.data() + at, &value, 4);
}
uint32_t getU32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}
// Where the offset of large-form directory entry i lies; its size follows.
size_t largeOffsetAt(int i) {
    return 4 + 12 * static_cast<size_t>(i) + 4;
}

} // namespace

TEST(BlobLargeForm, ScenesPastSixteenBitsGetTheLargeFormAndReadAsTheyWereWritten) {
    LargeScene scene;
    BlobView v(scene.bytes.data(), scene.bytes.size());
    EXPECT_EQ(v.form(), BlobForm::large);
    EXPECT_GT(v.size(), kMaxBlobBytes);
    EXPECT_EQ(v.size(), scene.bytes.size());
    EXPECT_EQ(v.entry(BlobChunk::Directory).size, static_cast<uint32_t>(kLargeDirectoryBytes));
    EXPECT_EQ(v.entry(BlobChunk::Nodes).offset, static_cast<uint32_t>(kLargeDirectoryBytes));
    EXPECT_EQ(BlobView(scene.bytes.data()).size(), scene.bytes.size()) << "the size from the directory alone";
    ASSERT_EQ(v.accessors().size(), 3u);
    IndexArray indices = v.indices(v.accessors()[0]);
    ASSERT_EQ(indices.count, 6);
    EXPECT_EQ(indices[3], 11999u);
    std::vector<float> decoded(scene.positions.size());
    for (int c = 0; c < 3; ++c) v.decodeComponent(v.accessors()[1], c, decoded.data(), 3);
    const float step = (96 * 0.25f) / 65535.0f;
    for (size_t i = 0; i < decoded.size(); i += 997) EXPECT_NEAR(decoded[i], scene.positions[i], step) << i;
    EXPECT_EQ(BlobView(packedOneNode().data()).form(), BlobForm::compact)
        << "a scene that fits stays compact";
}

TEST(BlobLargeForm, DirectoriesThatPointPastTheEndOrOverlapAreRefused) {
    const LargeScene scene;
    const uint32_t dataOffset = getU32(scene.bytes, largeOffsetAt(7));
    struct Case {
        const char* what;
        void (*damage)(std::vector<uint8_t>&, uint32_t dataOffset);
        const char* message;
    } cases[] = {
        {"chunk \"m\" moved back over \"n\"",
         [](std::vector<uint8_t>& b, uint32_t) {
             putU32(b, largeOffsetAt(2), getU32(b, largeOffsetAt(2)) - 4);
         },
         "directory entry 2 \\(chunk \"m\"\\) is damaged"},
        {"end marker far past the end",
         [](std::vector<uint8_t>& b, uint32_t) { putU32(b, largeOffsetAt(8), 0x7FFFFFF0u); },
         "directory entry 8 \\(chunk \"e\"\\) is damaged"},
        {"data chunk grown past the end, the end marker moved with it",
         [](std::vector<uint8_t>& b, uint32_t data) {
             putU32(b, largeOffsetAt(7) + 4, 0x10000000u);
             putU32(b, largeOffsetAt(8), data + 0x10000000u);
         },
         "chunk \"d\" ends at byte .+, only .+ are there"},
        {"data chunk size that wraps 32 bits",
         [](std::vector<uint8_t>& b, uint32_t data) {
             putU32(b, largeOffsetAt(7) + 4, 0xFFFFFFFCu);
             putU32(b, largeOffsetAt(8), data - 4);
         },
         "chunk \"d\" ends at byte .+, only .+ are there"},
        {"entry gap not zero", [](std::vector<uint8_t>& b, uint32_t) { b[4 + 12 * 3 + 2] = 1; },
         "directory entry 3 \\(chunk \"a\"\\) is damaged"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> damaged = scene.bytes;
        c.damage(damaged, dataOffset);
        EXPECT_EXIT(BlobView(damaged.data(), damaged.size()), ::testing::ExitedWithCode(kFatalExitStatus),
                    c.message)
            << c.what;
    }
    EXPECT_EXIT(BlobView(scene.bytes.data(), scene.bytes.size() - 4),
                ::testing::ExitedWithCode(kFatalExitStatus), "only .+ are there");
    EXPECT_EXIT(BlobView(scene.bytes.data(), 64), ::testing::ExitedWithCode(kFatalExitStatus),
                "shorter than its directory");
}
