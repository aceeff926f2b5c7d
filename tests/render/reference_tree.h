// A reference for the quality of the renderer's triangle tree: a binned-SAH tree built on the CPU
// over a frame's captured triangles, walked by the deferred pass's own shadow rays with the same
// segment tests, counting node visits and triangle tests the way the shader's counters do.
//
//     std::vector<reference::Vec3> corners = reference::capturedCorners(vertices, T);
//     reference::SahTree tree = reference::buildSahTree(corners);
//     for (const reference::Segment& ray : reference::shadowRays(positions, normals, lights))
//         counts.add(reference::walkAnyHit(tree, corners, ray));
//
// The tree is a yardstick, not something the renderer uses: it favours quality over build speed
// and has no visit limit.
#pragma once

#include "reference.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace reference {

// ---- Tree ----

// Three corners per triangle, from the first `triangleCount` captured triangles.
std::vector<Vec3> capturedCorners(const std::vector<FVert>& vertices, int32_t triangleCount);

struct SahNode {
    Vec3 lo, hi;   // box
    int32_t first; // leaf: first slot of SahTree::triangles; inner: index of the lower child
    int32_t count; // leaf: 1 or 2 triangles; inner: 0 (children first and first + 1)
    int32_t axis;  // inner: split axis; the lower child holds the smaller centroids
};

struct SahTree {
    std::vector<SahNode> nodes;     // node 0 is the root
    std::vector<int32_t> triangles; // triangle indices in leaf order
    int32_t depth = 0;              // nodes on the longest root-to-leaf path
};

// Top down, 32 centroid bins per axis, the split of least surface-area cost (node and triangle
// tests costing the same); at most two triangles per leaf.
SahTree buildSahTree(const std::vector<Vec3>& corners);

// ---- Rays ----

struct Segment {
    Vec3 origo, dir; // from origo to origo + dir
};

// The shadow rays of the deferred pass over a G-buffer (xyz triples of "gBufferPos" and
// "gBufferNorm", one per texel): for every texel, every light up to the first with an intensity
// <= 0 (at most 100) whose unshadowed light there is not zero, the segment from the light to the
// point.
std::vector<Segment> shadowRays(const std::vector<float>& positions, const std::vector<float>& normals,
                                const std::vector<GPULightEntry>& lights);

// Counted as the shaders count. Its own record, not reference.h's Walk, so that the benchmark
// still builds over older trees (bench/render/ab.sh gives them this file).
struct WalkCount {
    uint32_t nodes = 0;     // boxes tested, the root's included
    uint32_t triangles = 0; // segment-triangle tests
    bool hit = false;       // a triangle with 0.001 < t < 0.999 was found
};

// Any-hit walk, nearer child first; stops at the first hit with 0.001 < t < 0.999, the only
// ones that occlude.
WalkCount walkAnyHit(const SahTree& tree, const std::vector<Vec3>& corners, const Segment& ray);

// ---- Count distributions ----

struct CountSummary {
    double mean = 0;  // per ray
    uint32_t p99 = 0; // the count that 99% of the rays do not exceed
    uint32_t max = 0;
};

// Rays by count: bin c holds the rays with count c, the last bin those with at least that many,
// whose counts add up to `overflowSum`.
CountSummary summarize(const uint32_t* histogram, size_t bins, uint64_t overflowSum, uint32_t max);

// Counts gathered one ray at a time.
struct CountHistogram {
    std::vector<uint32_t> rays; // rays by count
    uint32_t max = 0;
    void add(uint32_t count);
    uint64_t total() const;
    CountSummary summary() const { return summarize(rays.data(), rays.size(), 0, max); }
};

} // namespace reference
