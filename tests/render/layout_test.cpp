// Host-side shapes and contents without a GPU: tree shapes, dispatch layouts, the light cache's
// first contents, and the CPU references checked against the renderer's worked numbers.
#include "reference.h"

#include "render/cached_gi.h"
#include "shader/shader.h"
#include "store/store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace reference;

TEST(TreeShape, TwoNodesAndTheScratchLayoutPerTriangle) {
    for (int32_t triangles : {0, 1, 2, 432, 65537}) {
        TreeShape shape = treeShape(triangles);
        int32_t counted = std::max(triangles, 1);
        EXPECT_EQ(shape.nodeCount, 2 * counted) << triangles; // the header and at most 2T - 1 nodes
        int32_t records = 32 + 17 * counted + 1024 * (counted / 2048 + 1) + 2 * (counted / 1024 + 2);
        TreeRounds rounds = treeRounds(counted);
        EXPECT_EQ(shape.roundRecordWord, records) << triangles;
        EXPECT_EQ(shape.scratchWords, records + 5 * (rounds.searched + rounds.forced)) << triangles;
    }
}

// Row passes: groups of one invocation use rows of 32768; larger groups cover the same invocations.
TEST(DispatchLayout, RowsOf32768InvocationsForEveryGroupSize) {
    struct Case {
        int32_t invocations, groupSize;
        uint32_t groupsX, groupsY;
    } cases[] = {
        {32768, 1, 32768, 1},    {65536, 1, 32768, 2}, {128, 1, 128, 1}, {32768 * 5, 1, 32768, 5},
        {32768 * 5, 64, 512, 5}, {65536, 64, 512, 2},  {3, 64, 1, 1},
    };
    for (const Case& c : cases) {
        ComputeDispatch d = rowDispatch(c.invocations, c.groupSize);
        EXPECT_EQ(d.groupsX, c.groupsX) << c.invocations << " in groups of " << c.groupSize;
        EXPECT_EQ(d.groupsY, c.groupsY) << c.invocations << " in groups of " << c.groupSize;
        EXPECT_EQ(d.rowStride, 32768) << c.invocations;
    }
    ComputeDispatch none = rowDispatch(0, 64);
    EXPECT_EQ(none.groupsX * none.groupsY, 0u);
}

TEST(LightCacheContents, FirstFrameAndSpreadTags) {
    writeInitialLightCache();
    auto* info = static_cast<BufferRecord*>(variableData(currentVariable(getVariable("licInfo", 32))));
    ASSERT_EQ(info->elementCount, 1);
    EXPECT_EQ(info->elementSize, 16);
    EXPECT_EQ(info->pending, 1);
    const auto* record = static_cast<const LICInfo*>(info->hostData);
    EXPECT_EQ(record->licFrameNr, 80);
    EXPECT_EQ(record->liEntryCount, 140057);

    auto* cache = static_cast<BufferRecord*>(variableData(currentVariable(getVariable("liCache", 32))));
    ASSERT_EQ(cache->elementCount, 140057);
    EXPECT_EQ(cache->elementSize, 64);
    EXPECT_EQ(cache->pending, 140057);
    ASSERT_GE(cache->hostCapacity, 140057);
    const auto* entries = static_cast<const LICEntry*>(cache->hostData);
    int freeAtStart = 0;
    for (uint32_t k = 0; k < 140057; ++k) {
        const LICEntry& entry = entries[k];
        uint32_t tag = (61u * k) % 128u;
        ASSERT_EQ(entry.lfHI, k % 3 == 0 ? 0u : tag << 25) << k;
        ASSERT_EQ(entry.dax, 0u);
        ASSERT_EQ(entry.posS[3], 0.0f);
        ASSERT_EQ(entry.inLight[3], 1.0f);
        ASSERT_EQ(entry.diLight[3], 1.0f);
        if (static_cast<int32_t>((80u << 25) - (entry.lfHI & 0xFE000000u)) < 0) ++freeAtStart;
    }
    // A third (tag 0) plus the tags 81 ... 127 and 0 ... 16 of the rest.
    EXPECT_GT(freeAtStart, 140057 / 3 + 140057 * 2 / 3 * 60 / 128 - 200);
    EXPECT_LT(freeAtStart, 140057 / 3 + 140057 * 2 / 3 * 64 / 128 + 200);
}

TEST(Reference, WorkedLookupKey) {
    Vec4 fb = fragBox({10, 0, 0}, {0, 0, 0}, 11.0f);
    EXPECT_EQ(fb, (Vec4{10, 0, 0, 0.5f}));
    EXPECT_EQ(fragBoxToHash(fb), 148886334u);
    EXPECT_EQ(daxOf({1, 0, 0}), 0x7Fu);
    uint32_t h = lookupHash({0, 0, 0}, {10, 0, 0}, {1, 0, 0});
    EXPECT_EQ(h, 0x08DFD3BDu);
    EXPECT_EQ(h & 0x1FFFFFFu, 0x0DFD3BDu);
    EXPECT_EQ(h % 140057u, 5870u);
}

TEST(Reference, DominantAxisTiesAndSigns) {
    EXPECT_EQ(daxOf({-2, 1, 1}), 0x81u);
    EXPECT_EQ(daxOf({0, 3, -1}), 0x7F00u);
    EXPECT_EQ(daxOf({0, -3, 1}), 0x8100u);
    EXPECT_EQ(daxOf({0, 0, 1}), 0x7F0000u);
    EXPECT_EQ(daxOf({0, 0, -1}), 0x810000u);
    EXPECT_EQ(daxOf({1, 1, 0}), 0x7F00u);   // y wins a tie with x
    EXPECT_EQ(daxOf({1, 1, 1}), 0x7F0000u); // z wins a tie with both
    EXPECT_EQ(daxOf({0, 0, 0}), 0u);
}

TEST(Reference, UpdateScheduleAtFrame80) {
    LICEntry used{};
    used.dax = 0x7F;
    used.lfHI = 80u << 25;
    EXPECT_EQ(0u * 117977u + 80u * 75389u, 6031120u);
    EXPECT_EQ(updateStep(used, 0, 80), UpdateStep::blend);
    EXPECT_EQ(1u * 117977u + 80u * 75389u, 6149097u);
    EXPECT_EQ(updateStep(used, 1, 80), UpdateStep::leave);
    int gathers = 0;
    for (uint32_t i = 0; i < 140057; ++i) gathers += updateStep(used, i, 80) == UpdateStep::gather;
    EXPECT_EQ(gathers, 8238);

    LICEntry old = used;
    old.lfHI = 76u << 25;
    EXPECT_EQ(updateStep(old, 0, 80), UpdateStep::skip);
    old.lfHI = 77u << 25;
    EXPECT_EQ(updateStep(old, 0, 80), UpdateStep::blend);
    LICEntry unclaimed{};
    unclaimed.lfHI = 80u << 25;
    EXPECT_EQ(updateStep(unclaimed, 0, 80), UpdateStep::skip);

    EXPECT_EQ(gatherRayCount(0.001f), 19);
    EXPECT_EQ(gatherRayCount(0.0f), 20);
    EXPECT_EQ(gatherRayCount(108.5f), 1);
    EXPECT_EQ(gatherRayCount(200.0f), 1);
}

TEST(Reference, TriangleSegmentCases) {
    Vec3 a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0};
    Vec4 through = triHit({0.25f, 0.25f, 1}, {0, 0, -2}, a, b, c);
    EXPECT_EQ(through[3], 1.0f);
    EXPECT_FLOAT_EQ(through[0], 0.5f);
    Vec4 endsOn = triHit({0.25f, 0.25f, 1}, {0, 0, -1}, a, b, c);
    EXPECT_EQ(endsOn[3], 1.0f);
    EXPECT_EQ(endsOn[0], 1.0f);
    Vec4 short_ = triHit({0.25f, 0.25f, 1}, {0, 0, -0.5f}, a, b, c);
    EXPECT_EQ(short_[3], 0.0f);
    EXPECT_FLOAT_EQ(short_[0], 2.0f);
    EXPECT_EQ(triHit({0.25f, 0.25f, 0}, {1, 0, 0}, a, b, c), (Vec4{0, 0, 0, 0}));
    EXPECT_EQ(triHit({2, 2, 1}, {0, 0, -2}, a, b, c), (Vec4{0, 0, 0, 0}));
}
