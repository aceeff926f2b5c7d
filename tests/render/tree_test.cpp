// The tree build on the GPU against the CPU reference: every node's box, flags and index.
#include "gl_support.h"
#include "reference.h"

#include "platform/gl.h"
#include "store/store.h"

#include <gtest/gtest.h>

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

void expectSameTree(const std::vector<BIVH>& gpu, const std::vector<BIVH>& cpu, int32_t triangles) {
    ASSERT_EQ(gpu.size(), cpu.size());
    int mismatches = 0;
    for (size_t n = 1; n < cpu.size() && mismatches < 5; ++n) {
        bool same = true;
        for (int c = 0; c < 4; ++c)
            same = same && gpu[n].mi[c] == cpu[n].mi[c] && gpu[n].ma[c] == cpu[n].ma[c];
        if (!same) {
            ++mismatches;
            ADD_FAILURE() << "T=" << triangles << " node " << n << " flags " << gpu[n].mi[3] << " vs "
                          << cpu[n].mi[3] << " index " << gpu[n].ma[3] << " vs " << cpu[n].ma[3];
        }
    }
}

// The leaf and level programs with one invocation per work group, as the layout is defined.
void useSingleInvocationPrograms(CachedGI& renderer) {
    static ShaderProgram* leaves = nullptr;
    static ShaderProgram* nodes = nullptr;
    if (leaves == nullptr) {
        auto single = [](const char* name) {
            std::string text(static_cast<const char*>(variableData(currentVariable(getVariable(name, 0)))));
            size_t at = text.find("local_size_x = 64");
            EXPECT_NE(at, std::string::npos);
            text.replace(at, 17, "local_size_x = 1");
            return buildProgram(0, text.c_str());
        };
        leaves = single("bvh_leaves.glsl");
        nodes = single("bvh_nodes.glsl");
    }
    renderer.leavesProgram = leaves;
    renderer.nodesProgram = nodes;
}

} // namespace

TEST(TreeBuild, MatchesReferenceForEveryShape) {
    CachedGI& renderer = testRenderer();
    for (int32_t triangles : {2, 3, 4, 5, 432}) {
        std::vector<FVert> vertices = capturedVertices(randomCorners(triangles, 17u + triangles));
        expectSameTree(buildOnGpu(renderer, vertices, triangles), buildTree(vertices, triangles), triangles);
    }
}

TEST(TreeBuild, SmallShapesHaveTheirDocumentedNodes) {
    CachedGI& renderer = testRenderer();
    std::vector<FVert> vertices = capturedVertices(randomCorners(3, 5));
    std::vector<BIVH> two = buildOnGpu(renderer, vertices, 2);
    EXPECT_EQ(two[1].mi[3], 3); // the single leaf is the root
    EXPECT_EQ(two[1].ma[3], 0);
    std::vector<BIVH> three = buildOnGpu(renderer, vertices, 3);
    EXPECT_EQ(three[1].mi[3], 12);
    EXPECT_EQ(three[2].mi[3], 3);
    EXPECT_EQ(three[3].mi[3], 1); // only the first triangle of the second leaf
    EXPECT_EQ(three[3].ma[3], 6);
    for (int c = 0; c < 3; ++c) {
        float lo = std::min({bitsFloat(vertices[6].uposn[c]), bitsFloat(vertices[7].uposn[c]),
                             bitsFloat(vertices[8].uposn[c])});
        EXPECT_EQ(bitsFloat(static_cast<uint32_t>(three[3].mi[c])), lo);
    }
}

TEST(TreeBuild, OneTriangleGetsARootLeaf) {
    CachedGI& renderer = testRenderer();
    std::vector<FVert> vertices = capturedVertices({{1, 2, 3}, {4, -5, 6}, {-7, 8, 9}});
    std::vector<BIVH> tree = buildOnGpu(renderer, vertices, 1);
    ASSERT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree[1].mi[3], 1);
    EXPECT_EQ(bitsFloat(static_cast<uint32_t>(tree[1].mi[1])), -5.0f);
    EXPECT_EQ(bitsFloat(static_cast<uint32_t>(tree[1].ma[2])), 9.0f);
}

TEST(TreeBuild, EmptyLeavesPullParentsToTheOrigin) {
    CachedGI& renderer = testRenderer();
    // Three triangles far from the origin: the empty half of the tree reaches back to it.
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
    EXPECT_EQ(bitsFloat(static_cast<uint32_t>(tree[1].mi[0])), 5.0f);
    std::vector<BIVH> five = buildOnGpu(renderer, capturedVertices(randomCorners(5, 1)), 5);
    // Leaves 4..7: triangles 0-1, 2-3, 4, none; node 3 joins leaf 6 (one triangle) and empty leaf 7.
    EXPECT_EQ(five[7].mi[3], 0);
    EXPECT_EQ(five[3].mi[3], 4);
    for (int c = 0; c < 3; ++c) {
        EXPECT_LE(bitsFloat(static_cast<uint32_t>(five[3].mi[c])), 0.0f);
        EXPECT_GE(bitsFloat(static_cast<uint32_t>(five[3].ma[c])), 0.0f);
    }
}

TEST(TreeBuild, LargeCaptureAndOneInvocationLayoutAgree) {
    CachedGI& renderer = testRenderer();
    const int32_t triangles = 65537;
    std::vector<FVert> vertices = capturedVertices(randomCorners(triangles, 99));
    std::vector<BIVH> cpu = buildTree(vertices, triangles);
    expectSameTree(buildOnGpu(renderer, vertices, triangles), cpu, triangles);

    ShaderProgram* leaves = renderer.leavesProgram;
    ShaderProgram* nodes = renderer.nodesProgram;
    useSingleInvocationPrograms(renderer);
    EXPECT_EQ(computeGroupSize(renderer.leavesProgram), 1);
    ComputeDispatch layout = leafDispatch(treeShape(triangles).leafCount, 1);
    EXPECT_EQ(layout.groupsX, 2u);
    EXPECT_EQ(layout.groupsY, 32768u);
    BufferRecord* tree = storeBuffer("bivhTree");
    glBindBuffer(GL_COPY_WRITE_BUFFER, tree->glBuffer);
    glClearBufferData(GL_COPY_WRITE_BUFFER, GL_R32UI, GL_RED_INTEGER, GL_UNSIGNED_INT, nullptr);
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
    expectSameTree(buildOnGpu(renderer, vertices, triangles), cpu, triangles);
    renderer.leavesProgram = leaves;
    renderer.nodesProgram = nodes;
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
