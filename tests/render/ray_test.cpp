// Segment tests and the tree traversal on the GPU against the CPU reference and brute force.
#include "gl_support.h"
#include "reference.h"

#include "platform/gl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace reference;

namespace {

const std::string kSegmentKernel = countedKernel({"util.glsl"}, "vec4 caseData[]", "vec4 results[]", R"(
    vec3 o = caseData[7 * i].xyz;
    vec3 d = caseData[7 * i + 1].xyz;
    results[2 * i] = triHit(o, d, caseData[7 * i + 2].xyz, caseData[7 * i + 3].xyz, caseData[7 * i + 4].xyz);
    bool box = boxHitBound(caseData[7 * i + 5].xyz, caseData[7 * i + 6].xyz, o, 1.0 / d);
    results[2 * i + 1] = vec4(box ? 1.0 : 0.0);
)");

const std::string kTraversalKernel =
    countedKernel({"util.glsl", "licache.glsl", "ray.glsl"}, "vec4 segments[]", "vec4 results[]", R"(
    results[2 * i] = treeHitAny(segments[2 * i].xyz, segments[2 * i + 1].xyz, false);
    results[2 * i + 1] = treeHitAny(segments[2 * i].xyz, segments[2 * i + 1].xyz, true);
)");

using Vec4List = std::vector<Vec4>;

Vec4List runKernel(ShaderProgram* program, Vec4List& input, int32_t count, size_t resultsPerCase) {
    return runCountedKernel<Vec4>(program, input, count, static_cast<size_t>(count) * resultsPerCase,
                                  Vec4{-7, -7, -7, -7});
}

Vec3 xyz(const Vec4& v) {
    return {v[0], v[1], v[2]};
}
Vec4 point(Vec3 v) {
    return {v[0], v[1], v[2], 0};
}

} // namespace

TEST(Segments, TriangleAndBoxTestsMatchTheReference) {
    testRenderer();
    static ShaderProgram* program = buildProgram(0, kSegmentKernel.c_str());
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    auto randomVec = [&](float scale) {
        return Vec3{scale * unit(random), scale * unit(random), scale * unit(random)};
    };

    Vec4List cases;
    auto addCase = [&](Vec3 o, Vec3 d, Vec3 a, Vec3 b, Vec3 c, Vec3 mi, Vec3 ma) {
        for (Vec3 v : {o, d, a, b, c, mi, ma}) cases.push_back(point(v));
    };
    Vec3 a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0};
    addCase({0.25f, 0.25f, 1}, {0, 0, -1}, a, b, c, {0, 0, 0}, {1, 1, 1});            // ends exactly on it
    addCase({0.25f, 0.25f, 0}, {1, 0.5f, 0}, a, b, c, {2, 2, 2}, {3, 3, 3});          // in the plane
    addCase({0.25f, 0.25f, 1e-3f}, {1, 0.5f, 1e-20f}, a, b, c, {0, 0, 0}, {1, 1, 1}); // nearly parallel
    addCase({0.25f, 0.25f, 1}, {0, 0, -0.5f}, a, b, c, {0, 0, -1}, {1, 1, 0.4f});     // stops short
    addCase({0.25f, 0.25f, -1}, {0, 0, -1}, a, b, c, {0, 0, 1.5f}, {1, 1, 2});        // plane behind
    addCase({3, 3, 1}, {0, 0, -2}, a, b, c, {2, 2, -1}, {4, 4, 1});                   // beside it
    const int32_t specialCases = 6;
    for (int k = 0; k < 4000; ++k) {
        Vec3 mi = randomVec(2.0f), size = randomVec(1.5f);
        Vec3 ma;
        // Aimed near the triangle's centre and the box, reaching short of it or beyond.
        Vec3 v1 = randomVec(1.0f), v2 = randomVec(1.0f), v3 = randomVec(1.0f), o = randomVec(2.0f);
        Vec3 target = randomVec(0.4f);
        float reach = 1.0f + 0.7f * unit(random);
        for (int axis = 0; axis < 3; ++axis) target[axis] += (v1[axis] + v2[axis] + v3[axis]) / 3.0f;
        Vec3 d{(target[0] - o[0]) * reach, (target[1] - o[1]) * reach, (target[2] - o[2]) * reach};
        if (k % 2 == 0)
            for (int axis = 0; axis < 3; ++axis) mi[axis] = target[axis] - 0.5f * std::fabs(size[axis]);
        ma = {mi[0] + std::fabs(size[0]), mi[1] + std::fabs(size[1]), mi[2] + std::fabs(size[2])};
        addCase(o, d, v1, v2, v3, mi, ma);
    }
    int32_t count = static_cast<int32_t>(cases.size() / 7);
    Vec4List results = runKernel(program, cases, count, 2);

    int hits = 0, boxHits = 0, outside = 0;
    for (int32_t i = 0; i < count; ++i) {
        const Vec4* in = &cases[7 * static_cast<size_t>(i)];
        Vec4 expected = triHit(xyz(in[0]), xyz(in[1]), xyz(in[2]), xyz(in[3]), xyz(in[4]));
        Vec4 gpu = results[2 * static_cast<size_t>(i)];
        ASSERT_EQ(gpu[3], expected[3]) << "case " << i;
        for (int k = 0; k < 3; ++k)
            ASSERT_NEAR(gpu[k], expected[k], 1e-4f * (1 + std::fabs(expected[k]))) << i;
        Vec3 inverse{1 / in[1][0], 1 / in[1][1], 1 / in[1][2]};
        bool box = boxHitBound(xyz(in[5]), xyz(in[6]), xyz(in[0]), inverse);
        ASSERT_EQ(results[2 * static_cast<size_t>(i) + 1][0], box ? 1.0f : 0.0f) << "box case " << i;
        hits += expected[3] == 1.0f;
        outside += expected[3] == 0.0f && expected[0] != 0.0f;
        boxHits += box;
    }
    EXPECT_EQ(results[0], (Vec4{1, 0.25f, 0.25f, 1})); // t exactly 1 still hits
    EXPECT_EQ(results[2], (Vec4{0, 0, 0, 0}));
    EXPECT_EQ(results[4], (Vec4{0, 0, 0, 0}));
    EXPECT_EQ(results[6][3], 0.0f);
    EXPECT_FLOAT_EQ(results[6][0], 2.0f);
    EXPECT_EQ(results[3][0], 0.0f); // box beyond the segment's end
    EXPECT_EQ(results[7][0], 0.0f); // box the segment stops short of
    EXPECT_EQ(results[11][0], 1.0f);
    // The random cases exercise every outcome.
    EXPECT_GT(hits - 1, 100);
    EXPECT_GT(outside, 100);
    EXPECT_GT(boxHits, 500);
    EXPECT_LT(boxHits, 4000 + specialCases - 500);
}

// Any-hit and closest-hit walks equal brute force on scenes of every kind: small triangles in
// clusters, and rooms of quads in random order, at the origin and far from it.
TEST(Traversal, BothModesAgreeWithBruteForce) {
    CachedGI& renderer = testRenderer();
    static ShaderProgram* program = buildProgram(0, kTraversalKernel.c_str());
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    auto randomVec = [&](float scale) {
        return Vec3{scale * unit(random), scale * unit(random), scale * unit(random)};
    };
    std::vector<Vec3> clusters;
    for (int k = 0; k < 432; ++k) {
        Vec3 centre = randomVec(3.0f);
        for (int v = 0; v < 3; ++v) {
            Vec3 offset = randomVec(0.6f);
            clusters.push_back({centre[0] + offset[0], centre[1] + offset[1], centre[2] + offset[2]});
        }
    }
    struct Scene {
        const char* name;
        std::vector<Vec3> corners;
        Vec3 centre;
        float reach; // segment ends within this distance of the centre
    } scenes[] = {
        {"clusters", clusters, {0, 0, 0}, 4.5f},
        {"shuffled room", quadWalls(12, 6, {0, 0, 0}, true), {0, 2, 0}, 6.5f},
        {"room far away", quadWalls(12, 6, {3000, -200, 1000}, true), {3000, -198, 1000}, 6.5f},
    };
    for (const Scene& scene : scenes) {
        auto triangles = static_cast<int32_t>(scene.corners.size() / 3);
        std::vector<FVert> vertices = capturedVertices(scene.corners);
        fillDeviceBuffer("xfFeedback", vertices);
        renderer.buildTriangleTree(triangles);

        Vec4List segments;
        for (int k = 0; k < 3000; ++k) {
            Vec3 from = randomVec(scene.reach), to = randomVec(scene.reach);
            segments.push_back(
                {scene.centre[0] + from[0], scene.centre[1] + from[1], scene.centre[2] + from[2], 0});
            segments.push_back(point({to[0] - from[0], to[1] - from[1], to[2] - from[2]}));
        }
        int32_t count = static_cast<int32_t>(segments.size() / 2);
        Vec4List results = runKernel(program, segments, count, 2);

        int anyHits = 0, closestHits = 0;
        for (int32_t i = 0; i < count; ++i) {
            Vec3 o = xyz(segments[2 * static_cast<size_t>(i)]),
                 d = xyz(segments[2 * static_cast<size_t>(i) + 1]);
            Vec4 any = results[2 * static_cast<size_t>(i)];
            Vec4 closest = results[2 * static_cast<size_t>(i) + 1];
            bool expectedAny = anyHit(vertices, triangles, o, d);
            ASSERT_EQ(any[3] == 1.0f, expectedAny) << scene.name << " segment " << i;
            if (expectedAny)
                EXPECT_TRUE(any[0] > 0.001f && any[0] < 0.999f) << i;
            else
                EXPECT_EQ(any, (Vec4{10.001f, 0, 1, -1})) << i;
            Vec4 expected = closestHit(vertices, triangles, o, d);
            ASSERT_EQ(closest[3], expected[3]) << scene.name << " segment " << i;
            ASSERT_NEAR(closest[0], expected[0], 1e-5f) << i;
            anyHits += expectedAny;
            closestHits += expected[3] >= 0.0f;
        }
        EXPECT_GT(anyHits, 500) << scene.name;
        EXPECT_GE(closestHits, anyHits) << scene.name;
    }
}

// A shadow segment that meets a triangle in its last thousandth and another one nearer the light
// is blocked whatever the order the walk meets them in; the one in the last thousandth alone
// does not block it.
TEST(Traversal, AnOccluderIsNeverHiddenByATriangleAtTheSegmentsEnd) {
    CachedGI& renderer = testRenderer();
    static ShaderProgram* program = buildProgram(0, kTraversalKernel.c_str());
    const std::vector<Vec3> nearEnd = {{-1, -1, 0.9995f}, {1, -1, 0.9995f}, {0, 1, 0.9995f}};
    const std::vector<Vec3> halfway = {{-1, -1, 0.5f}, {1, -1, 0.5f}, {0, 1, 0.5f}};
    struct Case {
        std::vector<std::vector<Vec3>> triangles;
        float t; // the any-hit result's t; 10.001: no hit
    } cases[] = {{{nearEnd, halfway}, 0.5f}, {{halfway, nearEnd}, 0.5f}, {{nearEnd}, 10.001f}};
    for (const Case& c : cases) {
        std::vector<Vec3> corners;
        for (const auto& triangle : c.triangles)
            corners.insert(corners.end(), triangle.begin(), triangle.end());
        fillDeviceBuffer("xfFeedback", capturedVertices(corners));
        renderer.buildTriangleTree(static_cast<int32_t>(c.triangles.size()));
        Vec4List segment = {{0, 0, 0, 0}, {0, 0, 1, 0}};
        Vec4List results = runKernel(program, segment, 1, 2);
        EXPECT_FLOAT_EQ(results[0][0], c.t) << c.triangles.size() << " triangles";
    }
}
