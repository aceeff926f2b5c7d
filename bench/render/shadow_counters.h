// Counters of the shadow rays of one frame that do not depend on the machine: nodes visited and
// triangles tested per ray by the renderer's own tree (from the shaders' counters, where this
// tree's shaders have them), and the same rays walked through a binned-SAH reference tree built
// on the CPU over the frame's captured triangles.
#pragma once

#include "render/cached_gi.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

// Draws a frame's geometry into the renderer's G-buffer: the frame's values, beginFrame, the
// camera, lights and draws; it neither builds the tree nor shades.
using DrawGeometry = std::function<void()>;

// The first `triangleCount` captured triangles of "xfFeedback", three corners each.
std::vector<std::array<float, 3>> readCapturedCorners(int32_t triangleCount);

// Draws one more frame through `draw`, shades it with the shaders' counters on, refreshes the
// light cache, and sets the counters of `state`:
//   triangles, shadow_rays, rays_at_limit, nodes_mean, nodes_p99, nodes_max, tris_mean, tris_p99,
//   tris_max (the renderer's tree; absent without shader counters),
//   ref_rays, ref_nodes_mean, ref_nodes_p99, ref_nodes_max, ref_tris_mean, ref_tris_p99,
//   ref_tris_max, ref_depth (the reference tree), nodes_ratio (nodes_mean / ref_nodes_mean),
//   nodes_per_log2t and ref_nodes_per_log2t (the means over log2 of the triangle count).
// The G-buffer is read back at width x height.
void countShadowRays(benchmark::State& state, CachedGI& renderer, int width, int height,
                     const DrawGeometry& draw);
