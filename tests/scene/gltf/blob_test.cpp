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

TEST(BlobView, FindsChunksAndFollowsReferences) {
    std::vector<uint8_t> bytes = packedOneNode();
    BlobView v(bytes.data(), bytes.size());
    EXPECT_EQ(v.size(), bytes.size());
    EXPECT_EQ(v.entry(BlobChunk::Nodes).offset, 56);
    ASSERT_EQ(v.nodes().size(), 1u);
    EXPECT_TRUE(v.primitives().empty());
    EXPECT_STREQ(v.text(&v.nodes()[0].name), "node");
    EXPECT_EQ(v.floats(&v.nodes()[0].matrix, 16), nullptr);
    EXPECT_EQ(v.targetOffset(&v.nodes()[0].matrix), -1);
    const float* t = v.floats(&v.nodes()[0].translation, 3);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t[1], 2.0f);
    // The blob size comes from the directory alone.
    EXPECT_EQ(BlobView(bytes.data()).size(), bytes.size());
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

} // namespace
