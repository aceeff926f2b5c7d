// The tree build on the GPU, checked on the CPU: links, boxes, triangles, and the tree's quality
// whatever the capture order and wherever the scene lies.
#include "gl_support.h"
#include "reference.h"

#include "platform/gl.h"
#include "store/store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>

using namespace reference;

namespace {

// Random triangles with a share of degenerate ones: repeated corners, a point, a line.
std::vector<Vec3> randomCorners(int32_t triangles, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> coordinate(-20.0f, 20.0f);
    std::vector<Vec3> corners;
    for (int32_t k = 0; k < triangles; ++k) {
        Vec3 a{coordinate(random), coordinate(random), coordinate(random)};
        Vec3 b{coordinate(random), coordinate(random), coordinate(random)};
        Vec3 c{coordinate(random), coordinate(random), coordinate(random)};
        switch (k % 7) {
        case 3:
            b = a;
            break;
        case 5:
            b = c = a;
            break;
        case 6:
            c = {2 * b[0] - a[0], 2 * b[1] - a[1], 2 * b[2] - a[2]};
            break;
        default:
            break;
        }
        corners.push_back(a);
        corners.push_back(b);
        corners.push_back(c);
    }
    return corners;
}

std::vector<BIVH> buildOnGpu(CachedGI& renderer, const std::vector<FVert>& vertices, int32_t triangles) {
    fillDeviceBuffer("xfFeedback", vertices);
    renderer.buildTriangleTree(triangles);
    BufferRecord* tree = storeBuffer("bivhTree");
    EXPECT_EQ(tree->elementCount, treeShape(triangles).nodeCount);
    EXPECT_EQ(tree->elementSize, 32);
    return readBuffer<BIVH>(tree->glBuffer, static_cast<size_t>(treeShape(triangles).nodeCount));
}

// The leaf and node programs with one invocation per work group.
void useSingleInvocationPrograms(CachedGI& renderer) {
    static TreePrograms programs = [] {
        auto single = [](const char* name) {
            std::string text(static_cast<const char*>(variableData(currentVariable(getVariable(name, 0)))));
            size_t at = text.find("local_size_x = 64");
            EXPECT_NE(at, std::string::npos);
            text.replace(at, 17, "local_size_x = 1");
            return text;
        };
        return buildTreePrograms(single("bvh_leaves.glsl").c_str(), single("bvh_nodes.glsl").c_str());
    }();
    renderer.treePrograms = programs;
}

} // namespace

TEST(TreeBuild, EveryShapeIsASoundTree) {
    CachedGI& renderer = testRenderer();
    struct Case {
        const char* name;
        std::vector<Vec3> corners;
        int32_t leaves; // 0: not checked
    } cases[] = {
        {"one triangle", randomCorners(1, 3), 1},
        {"two", randomCorners(2, 4), 2},
        {"three", randomCorners(3, 5), 3},
        {"random with degenerates", randomCorners(1000, 6), 0},
        {"quads", quadWalls(6, 5, {0, 0, 0}, false), 4 * 6 * 5},
        // Between the one-invocation sort and the chunked rounds.
        {"8000 triangles", quadWalls(40, 50, {10, 0, -30}, false), 4 * 40 * 50},
        // More keys than one invocation may count through in a loop on a software rasteriser.
        {"140450 triangles far away", quadWalls(265, 66, {-4000, 50, 7000}, true), 265 * 66 * 4},
        {"one quad after a triangle",
         [] {
             std::vector<Vec3> corners = randomCorners(1, 9);
             for (Vec3 p : {Vec3{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 0}, {1, 1, 0}, {0, 1, 0}})
                 corners.push_back(p);
             return corners;
         }(),
         2},
    };
    for (const Case& c : cases) {
        auto triangles = static_cast<int32_t>(c.corners.size() / 3);
        std::vector<FVert> vertices = capturedVertices(c.corners);
        TreeCheck check = checkTree(buildOnGpu(renderer, vertices, triangles), vertices, triangles);
        EXPECT_EQ(check.error, "") << c.name;
        EXPECT_EQ(check.nodes, 2 * check.leaves - 1) << c.name;
        if (c.leaves != 0) {
            EXPECT_EQ(check.leaves, c.leaves) << c.name;
        }
    }
}

// The same walls captured in order, in random order and far from the origin give trees of the
// same surface-area cost; the tree of the old build (capture order) was far worse when shuffled.
TEST(TreeBuild, QualityDoesNotDependOnOrderOrPlace) {
    CachedGI& renderer = testRenderer();
    double costs[3] = {};
    const std::vector<Vec3> scenes[3] = {quadWalls(24, 10, {0, 0, 0}, false),
                                         quadWalls(24, 10, {0, 0, 0}, true),
                                         quadWalls(24, 10, {3000, -200, 1000}, true)};
    for (int k = 0; k < 3; ++k) {
        auto triangles = static_cast<int32_t>(scenes[k].size() / 3);
        std::vector<FVert> vertices = capturedVertices(scenes[k]);
        TreeCheck check = checkTree(buildOnGpu(renderer, vertices, triangles), vertices, triangles);
        ASSERT_EQ(check.error, "") << k;
        EXPECT_EQ(check.leaves, triangles / 2) << k; // every quad one leaf
        EXPECT_LE(check.depth, 40) << k;
        costs[k] = check.cost;
    }
    EXPECT_NEAR(costs[1], costs[0], 0.1 * costs[0]);
    EXPECT_NEAR(costs[2], costs[0], 0.1 * costs[0]);
}

TEST(TreeBuild, FarFromTheOriginTheRootHugsTheTriangles) {
    CachedGI& renderer = testRenderer();
    std::vector<FVert> vertices = capturedVertices({{5, 5, 5},
                                                    {6, 5, 5},
                                                    {5, 6, 5},
                                                    {7, 7, 7},
                                                    {8, 7, 7},
                                                    {7, 8, 7},
                                                    {9, 9, 9},
                                                    {9, 9, 10},
                                                    {9, 10, 9}});
    std::vector<BIVH> tree = buildOnGpu(renderer, vertices, 3);
    ASSERT_EQ(checkTree(tree, vertices, 3).error, "");
    const BIVH& root = tree[static_cast<size_t>(tree[0].mi[3])];
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(bitsFloat(static_cast<uint32_t>(root.mi[c])), 5.0f);
        EXPECT_EQ(bitsFloat(static_cast<uint32_t>(root.ma[c])), c == 0 ? 9.0f : 10.0f);
    }
}

// The leaves in node order follow the Morton codes of their centroids in cubic cells of the
// scene's centroid box: the sort on the GPU is right.
void expectLeavesInKeyOrder(const std::vector<BIVH>& tree) {
    std::vector<uint32_t> header = readBuffer<uint32_t>(storeBuffer("bivhScratch")->glBuffer, 8);
    auto ordered = [](uint32_t u) { return bitsFloat(u & 0x80000000u ? u & 0x7FFFFFFFu : ~u); };
    auto spread = [](uint32_t x) {
        x = (x | (x << 16)) & 0x030000FFu;
        x = (x | (x << 8)) & 0x0300F00Fu;
        x = (x | (x << 4)) & 0x030C30C3u;
        return (x | (x << 2)) & 0x09249249u;
    };
    uint32_t previous = 0;
    int32_t unordered = 0;
    for (int32_t n = 1; n < static_cast<int32_t>(tree.size()) && tree[static_cast<size_t>(n)].mi[3] < 0;
         ++n) {
        uint32_t key = 0;
        float edge = 1e-30f; // cubic cells: the centroid box's longest edge
        for (int c = 0; c < 3; ++c) edge = std::max(edge, ordered(header[4 + c]) - ordered(header[c]));
        for (int c = 0; c < 3; ++c) {
            float lo = ordered(header[c]);
            float centre = 0.5f * (bitsFloat(static_cast<uint32_t>(tree[static_cast<size_t>(n)].mi[c])) +
                                   bitsFloat(static_cast<uint32_t>(tree[static_cast<size_t>(n)].ma[c])));
            float cell = (centre - lo) / edge * 1024.0f;
            key |= spread(cell > 0 ? static_cast<uint32_t>(std::min(cell, 1023.0f)) : 0u) << (2 - c);
        }
        unordered += key < previous;
        previous = key;
    }
    EXPECT_EQ(unordered, 0);
}

// Work groups of one invocation build the same tree as the usual groups, over a capture larger
// than one dispatch row.
TEST(TreeBuild, LargeCaptureAndOneInvocationGroupsAgree) {
    CachedGI& renderer = testRenderer();
    const int32_t triangles = 20000; // 40000 nodes: two dispatch rows
    std::vector<FVert> vertices = capturedVertices(randomCorners(triangles, 99));
    std::vector<BIVH> usual = buildOnGpu(renderer, vertices, triangles);
    ASSERT_EQ(checkTree(usual, vertices, triangles).error, "");
    expectLeavesInKeyOrder(usual);

    TreePrograms usualPrograms = renderer.treePrograms;
    useSingleInvocationPrograms(renderer);
    EXPECT_EQ(computeGroupSize(renderer.treePrograms.leaves[0]), 1);
    BufferRecord* tree = storeBuffer("bivhTree");
    glBindBuffer(GL_COPY_WRITE_BUFFER, tree->glBuffer);
    glClearBufferData(GL_COPY_WRITE_BUFFER, GL_R32UI, GL_RED_INTEGER, GL_UNSIGNED_INT, nullptr);
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
    std::vector<BIVH> single = buildOnGpu(renderer, vertices, triangles);
    renderer.treePrograms = usualPrograms;
    expectLeavesInKeyOrder(single);
    EXPECT_EQ(std::memcmp(single.data(), usual.data(), usual.size() * sizeof(BIVH)), 0);
}

TEST(TreeBuild, UntexturedTrianglesGetTheirFaceNormal) {
    CachedGI& renderer = testRenderer();
    std::vector<FVert> vertices =
        capturedVertices({{0, 0, 0}, {1, 0, 0}, {0, 0, -1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    for (int v = 0; v < 3; ++v) vertices[v].uposn[3] = 0; // captured without a normal
    fillDeviceBuffer("xfFeedback", vertices);
    renderer.buildTriangleTree(2);
    std::vector<FVert> after = readBuffer<FVert>(storeBuffer("xfFeedback")->glBuffer, 6);
    for (int v = 0; v < 3; ++v) EXPECT_EQ(after[v].uposn[3], packSnorm4x8({0, 1, 0, 0})) << v;
    for (int v = 3; v < 6; ++v) EXPECT_EQ(after[v].uposn[3], vertices[v].uposn[3]) << v;
}
