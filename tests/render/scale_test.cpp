// The GPU tree over a scene of the size scene authors bring: shadow rays through it give the same
// answers as brute force over every triangle.
#include "gl_support.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace reference;

namespace {

const std::string kAnyHitKernel =
    countedKernel({"util.glsl", "licache.glsl", "ray.glsl"}, "vec4 segments[]", "vec4 results[]", R"(
    results[i] = treeHitAny(segments[2 * i].xyz, segments[2 * i + 1].xyz, false);
)");

const Vec3 kCorner{2400.0f, 150.0f, -3100.0f}; // far from the origin

// A rolling terrain of 256 x 256 quads in 64 patches, the patches in shuffled order, and 1024
// boxes standing on it in shuffled order: 143360 triangles, past 2^17.
std::vector<Vec3> largeScene() {
    const int n = 256, patches = 8;
    auto height = [](int x, int z) { return 1.5f * std::sin(0.11f * x) * std::cos(0.07f * z); };
    auto corner = [&](int x, int z) {
        return Vec3{kCorner[0] + x, kCorner[1] + height(x, z), kCorner[2] + z};
    };
    std::vector<std::vector<Vec3>> pieces;
    for (int p = 0; p < patches * patches; ++p) {
        std::vector<Vec3> piece;
        const int x0 = p % patches * n / patches, z0 = p / patches * n / patches;
        for (int x = x0; x < x0 + n / patches; ++x)
            for (int z = z0; z < z0 + n / patches; ++z)
                piece.insert(piece.end(), {corner(x, z), corner(x, z + 1), corner(x + 1, z + 1), corner(x, z),
                                           corner(x + 1, z + 1), corner(x + 1, z)});
        pieces.push_back(std::move(piece));
    }
    for (int b = 0; b < 1024; ++b) {
        mini::Mesh box;
        float x = kCorner[0] + 4.0f + 8.0f * (b % 32), z = kCorner[2] + 4.0f + 8.0f * (b / 32);
        float y = kCorner[1] + height(static_cast<int>(x - kCorner[0]), static_cast<int>(z - kCorner[2]));
        mini::addBox(box, {x - 1, y - 0.5f, z - 1}, {x + 1, y + 1.0f + static_cast<float>(b % 7), z + 1});
        pieces.push_back(box.corners);
    }
    std::shuffle(pieces.begin(), pieces.end(), std::mt19937(23));
    std::vector<Vec3> corners;
    for (const auto& piece : pieces) corners.insert(corners.end(), piece.begin(), piece.end());
    return corners;
}

} // namespace

TEST(TreeAtScale, ShadowRaysMatchBruteForceOverAHundredThousandTriangles) {
    CachedGI& renderer = testRenderer();
    static ShaderProgram* program = buildProgram(0, kAnyHitKernel.c_str());
    std::vector<Vec3> corners = largeScene();
    const auto triangles = static_cast<int32_t>(corners.size() / 3);
    ASSERT_GE(triangles, 100000);
    std::vector<FVert> vertices = capturedVertices(corners);
    fillDeviceBuffer("xfFeedback", vertices);
    renderer.buildTriangleTree(triangles);

    // Shadow rays: from lights above the scene to points on its surface (triangle centres, as a
    // G-buffer would give), and long segments across it.
    std::mt19937 random(29);
    std::uniform_int_distribution<int32_t> pick(0, triangles - 1);
    std::uniform_real_distribution<float> across(0.0f, 256.0f), above(8.0f, 40.0f);
    std::vector<Vec4> segments;
    for (int k = 0; k < 2000; ++k) {
        Vec3 from{kCorner[0] + across(random), kCorner[1] + above(random), kCorner[2] + across(random)}, to;
        if (k % 5 == 4) {
            to = {kCorner[0] + across(random), kCorner[1] + 0.5f, kCorner[2] + across(random)};
        } else {
            const Vec3* t = &corners[3 * static_cast<size_t>(pick(random))];
            for (int c = 0; c < 3; ++c) to[c] = (t[0][c] + t[1][c] + t[2][c]) / 3.0f;
        }
        segments.push_back({from[0], from[1], from[2], 0});
        segments.push_back({to[0] - from[0], to[1] - from[1], to[2] - from[2], 0});
    }
    const auto count = static_cast<int32_t>(segments.size() / 2);
    std::vector<Vec4> results =
        runCountedKernel<Vec4>(program, segments, count, static_cast<size_t>(count), Vec4{-7, -7, -7, -7});

    int hits = 0;
    for (int32_t i = 0; i < count; ++i) {
        const Vec4& o = segments[2 * static_cast<size_t>(i)];
        const Vec4& d = segments[2 * static_cast<size_t>(i) + 1];
        bool expected = anyHit(vertices, triangles, {o[0], o[1], o[2]}, {d[0], d[1], d[2]});
        ASSERT_EQ(results[i][3] == 1.0f, expected) << "segment " << i;
        hits += expected;
    }
    // Both answers are common.
    EXPECT_GT(hits, count / 10);
    EXPECT_LT(hits, count - count / 10);
}
