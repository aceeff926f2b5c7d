// The CPU reference tree the benchmark measures the renderer's tree against: well formed, as
// right as brute force, good whatever the order of the triangles, and counted as the shaders count.
#include "reference_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace reference;

namespace {

Vec3 add(Vec3 a, Vec3 b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}

// Small triangles of one quad each (two triangles), on a grid of n x n cells far from the origin,
// the quads in shuffled order; and a few large triangles across the grid.
std::vector<Vec3> shuffledGrid(int n, int largeTriangles) {
    std::vector<int> cells(static_cast<size_t>(n) * n);
    for (size_t i = 0; i < cells.size(); ++i) cells[i] = static_cast<int>(i);
    std::shuffle(cells.begin(), cells.end(), std::mt19937(5));
    const Vec3 origin{700, -30, 900};
    std::vector<Vec3> corners;
    for (int cell : cells) {
        Vec3 a = add(origin, {float(cell % n), 0.1f * float(cell % 3), float(cell / n)});
        Vec3 b = add(a, {0.5f, 0, 0}), c = add(a, {0.5f, 0, 0.5f}), d = add(a, {0, 0, 0.5f});
        corners.insert(corners.end(), {a, b, c, a, c, d});
    }
    for (int k = 0; k < largeTriangles; ++k) {
        float y = 2.0f + k;
        corners.insert(corners.end(), {add(origin, {0, y, 0}), add(origin, {float(n), y, 0}),
                                       add(origin, {0, y, float(n)})});
    }
    return corners;
}

// Boxes that are the union of what they hold, leaves of one or two triangles, each triangle once.
void expectWellFormed(const SahTree& tree, const std::vector<Vec3>& corners) {
    std::vector<int> seen(corners.size() / 3, 0);
    for (const SahNode& node : tree.nodes) {
        Vec3 lo{INFINITY, INFINITY, INFINITY}, hi{-INFINITY, -INFINITY, -INFINITY};
        auto grow = [&](Vec3 l, Vec3 h) {
            for (int c = 0; c < 3; ++c) lo[c] = std::min(lo[c], l[c]), hi[c] = std::max(hi[c], h[c]);
        };
        if (node.count == 0) {
            grow(tree.nodes[node.first].lo, tree.nodes[node.first].hi);
            grow(tree.nodes[node.first + 1].lo, tree.nodes[node.first + 1].hi);
        } else {
            ASSERT_LE(node.count, 2);
            for (int32_t s = node.first; s < node.first + node.count; ++s) {
                seen[tree.triangles[s]] += 1;
                for (int v = 0; v < 3; ++v)
                    grow(corners[3 * tree.triangles[s] + v], corners[3 * tree.triangles[s] + v]);
            }
        }
        ASSERT_EQ(node.lo, lo);
        ASSERT_EQ(node.hi, hi);
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), static_cast<long>(seen.size()));
}

} // namespace

TEST(ReferenceTree, WellFormedAndAsRightAsBruteForce) {
    std::vector<Vec3> corners = shuffledGrid(24, 3);
    SahTree tree = buildSahTree(corners);
    expectWellFormed(tree, corners);
    std::vector<FVert> vertices = capturedVertices(corners);
    const auto triangles = static_cast<int32_t>(corners.size() / 3);
    ASSERT_EQ(capturedCorners(vertices, triangles), corners);

    std::mt19937 random(3);
    std::uniform_real_distribution<float> across(-2.0f, 26.0f), height(-1.0f, 6.0f);
    int hits = 0;
    for (int k = 0; k < 3000; ++k) {
        Segment ray{add({700, -30, 900}, {across(random), height(random), across(random)}),
                    {across(random) / 4, height(random), across(random) / 4}};
        WalkCount count = walkAnyHit(tree, corners, ray);
        ASSERT_EQ(count.hit, anyHit(vertices, triangles, ray.origo, ray.dir)) << k;
        ASSERT_GE(count.nodes, 1u);
        hits += count.hit;
    }
    EXPECT_GT(hits, 300);
    EXPECT_LT(hits, 2700);
}

TEST(ReferenceTree, RaysVisitFewNodesWhateverTheOrder) {
    // 1152 quads in shuffled order, on three heights. Segments from a light above down to points
    // between the lowest two (shadow rays) meet only the boxes along their way: a dozen on average
    // here, hundreds through a tree that follows the order or whose boxes are too large.
    std::vector<Vec3> corners = shuffledGrid(24, 0);
    SahTree tree = buildSahTree(corners);
    EXPECT_LE(tree.depth, 13);
    std::mt19937 random(1);
    std::uniform_real_distribution<float> across(0.0f, 24.0f);
    CountHistogram nodes;
    for (int k = 0; k < 2000; ++k) {
        Vec3 light = add({700, -25, 900}, {across(random), 0, across(random)});
        Vec3 end = add({700, -29.95f, 900}, {across(random), 0, across(random)});
        WalkCount count =
            walkAnyHit(tree, corners, {light, {end[0] - light[0], end[1] - light[1], end[2] - light[2]}});
        nodes.add(count.nodes);
    }
    EXPECT_LT(nodes.summary().mean, 20.0);
    EXPECT_LT(nodes.max, 40u);
    // A segment that misses the scene's box tests the root alone.
    WalkCount miss = walkAnyHit(tree, corners, {{0, 0, 0}, {1, 1, 1}});
    EXPECT_EQ(miss.nodes, 1u);
    EXPECT_EQ(miss.triangles, 0u);
}

TEST(ReferenceTree, ShadowRaysOfTheLitTexelsFromEachLightUpToTheListsEnd) {
    // Texels: facing the lights, facing away, no surface (zero normal).
    std::vector<float> positions = {0, 0, 0, 1, 0, 0, 2, 0, 0};
    std::vector<float> normals = {0, 1, 0, 0, -1, 0, 0, 0, 0};
    std::vector<GPULightEntry> lights = {{{0, 4, 0, 1}, {1, 1, 1, 100}},
                                         {{3, 2, 0, 1}, {0, 1, 0, 50}},
                                         {{9, 9, 9, 1}, {1, 1, 1, 0}},
                                         {{0, 5, 0, 1}, {1, 1, 1, 100}}};
    std::vector<Segment> rays = shadowRays(positions, normals, lights);
    ASSERT_EQ(rays.size(), 2u);
    EXPECT_EQ(rays[0].origo, (Vec3{0, 4, 0}));
    EXPECT_EQ(rays[0].dir, (Vec3{0, -4, 0}));
    EXPECT_EQ(rays[1].origo, (Vec3{3, 2, 0}));
    EXPECT_EQ(rays[1].dir, (Vec3{-3, -2, 0}));
}

TEST(ReferenceTree, SummariesOfHistogramsWithAnOverflowBin) {
    struct Case {
        std::vector<uint32_t> rays;
        uint64_t overflowSum;
        uint32_t max;
        double mean;
        uint32_t p99;
    } cases[] = {
        {{0, 2, 0, 1}, 10, 10, 4.0, 10},        // the last ray is in the overflow bin: p99 is the max
        {{0, 100, 0, 1}, 7, 7, 107.0 / 101, 1}, // 99% lie at 1
        {{5}, 0, 0, 0.0, 0},
        {{0, 0, 0}, 0, 0, 0.0, 0}, // no rays
    };
    for (const Case& c : cases) {
        CountSummary summary = summarize(c.rays.data(), c.rays.size(), c.overflowSum, c.max);
        EXPECT_DOUBLE_EQ(summary.mean, c.mean);
        EXPECT_EQ(summary.p99, c.p99);
        EXPECT_EQ(summary.max, c.max);
    }
    CountHistogram exact;
    for (uint32_t count : {3u, 1u, 3u, 8u}) exact.add(count);
    EXPECT_EQ(exact.total(), 15u);
    EXPECT_EQ(exact.summary().p99, 8u);
    EXPECT_DOUBLE_EQ(exact.summary().mean, 3.75);
}
