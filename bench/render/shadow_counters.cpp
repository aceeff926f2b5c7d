#include "shadow_counters.h"

#include "mini_scene.h"
#include "reference_tree.h"

#include "platform/gl.h"
#include "platform/window.h"
#include "store/store.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using namespace reference;

namespace {

template <typename T> std::vector<T> readDeviceBuffer(uint32_t glBuffer, size_t count) {
    std::vector<T> values(count);
    if (glBuffer == 0 || count == 0) return values;
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
    glBindBuffer(GL_COPY_READ_BUFFER, glBuffer);
    glGetBufferSubData(GL_COPY_READ_BUFFER, 0, static_cast<GLsizeiptr>(count * sizeof(T)), values.data());
    glBindBuffer(GL_COPY_READ_BUFFER, 0);
    return values;
}

// xyz of every texel of a G-buffer target, bottom row first.
std::vector<float> readTarget(const char* name, int width, int height) {
    std::vector<float> texels(static_cast<size_t>(width) * height * 3);
    glBindTexture(GL_TEXTURE_2D, mini::storeValue<TextureRecord>(name, 64)->glTexture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_FLOAT, texels.data());
    return texels;
}

void setSummary(benchmark::State& state, const char* prefix, const CountSummary& summary) {
    std::string name(prefix);
    state.counters[name + "_mean"] = summary.mean;
    state.counters[name + "_p99"] = summary.p99;
    state.counters[name + "_max"] = summary.max;
}

#ifdef NOVA31_TREE_STATS
// The shaders count while "treeStatsOn" is 1, into "treeStats", zeroed here.
void startShaderCounters() {
    *mini::storeValue<int32_t>("treeStatsOn", 4) = 1;
    glBindBuffer(GL_COPY_WRITE_BUFFER, mini::storeBuffer("treeStats")->glBuffer);
    glClearBufferData(GL_COPY_WRITE_BUFFER, GL_R32UI, GL_RED_INTEGER, GL_UNSIGNED_INT, nullptr);
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
}

// Reads the counters and turns them off; returns the mean nodes per ray.
double finishShaderCounters(benchmark::State& state) {
    TreeStats stats = readDeviceBuffer<TreeStats>(mini::storeBuffer("treeStats")->glBuffer, 1)[0];
    *mini::storeValue<int32_t>("treeStatsOn", 4) = 0;
    CountSummary nodes = summarize(stats.nodeHistogram, kTreeStatsBins, stats.overflowNodes, stats.maxNodes);
    setSummary(state, "nodes", nodes);
    setSummary(
        state, "tris",
        summarize(stats.triangleHistogram, kTreeStatsBins, stats.overflowTriangles, stats.maxTriangles));
    state.counters["shadow_rays"] = stats.shadowRays;
    state.counters["rays_at_limit"] = stats.raysAtLimit;
    return nodes.mean;
}
#endif

} // namespace

std::vector<Vec3> readCapturedCorners(int32_t triangleCount) {
    std::vector<FVert> vertices = readDeviceBuffer<FVert>(mini::storeBuffer("xfFeedback")->glBuffer,
                                                          3 * static_cast<size_t>(triangleCount));
    return capturedCorners(vertices, triangleCount);
}

void countShadowRays(benchmark::State& state, CachedGI& renderer, int width, int height,
                     const DrawGeometry& draw) {
    draw();
    int32_t* triangleCount = mini::storeValue<int32_t>("xfTriCount", 4);
    BufferRecord* feedback = mini::storeBuffer("xfFeedback");
    const int32_t triangles = std::min(*triangleCount, feedback->elementCount / 3);
    renderer.buildTriangleTree(triangles);
    *triangleCount = 0; // shade without building again
#ifdef NOVA31_TREE_STATS
    startShaderCounters();
#endif
    renderer.postRenderFrame();
    glFinish();
#ifdef NOVA31_TREE_STATS
    double nodesMean = finishShaderCounters(state);
#endif

    std::vector<Vec3> corners = readCapturedCorners(triangles);
    std::vector<float> positions = readTarget("gBufferPos", width, height);
    std::vector<float> normals = readTarget("gBufferNorm", width, height);
    BufferRecord* lightRecord = mini::storeBuffer("gpuLights");
    std::vector<GPULightEntry> lights(static_cast<size_t>(std::max(lightRecord->elementCount, 0)));
    if (!lights.empty())
        std::memcpy(lights.data(), lightRecord->hostData, lights.size() * sizeof(GPULightEntry));
    presentFrame();
    renderer.updateLightCache();

    SahTree tree = buildSahTree(corners);
    CountHistogram nodes, tested;
    std::vector<Segment> rays = shadowRays(positions, normals, lights);
    for (const Segment& ray : rays) {
        WalkCount count = walkAnyHit(tree, corners, ray);
        nodes.add(count.nodes);
        tested.add(count.triangles);
    }
    CountSummary referenceNodes = nodes.summary();
    state.counters["triangles"] = triangles;
    state.counters["ref_rays"] = static_cast<double>(rays.size());
    state.counters["ref_depth"] = tree.depth;
    setSummary(state, "ref_nodes", referenceNodes);
    setSummary(state, "ref_tris", tested.summary());
    // Node visits per shadow ray over log2 of the triangle count: across scenes that only grow,
    // a tree whose cost grows no faster than the logarithm keeps this from rising.
    const double levels = triangles > 1 ? std::log2(static_cast<double>(triangles)) : 1.0;
    state.counters["ref_nodes_per_log2t"] = referenceNodes.mean / levels;
#ifdef NOVA31_TREE_STATS
    if (referenceNodes.mean > 0) state.counters["nodes_ratio"] = nodesMean / referenceNodes.mean;
    state.counters["nodes_per_log2t"] = nodesMean / levels;
#endif
}
