// CPU references of the renderer's GPU algorithms, written from their definitions, for the tests
// to compare the GPU's results with.
#pragma once

#include "render/cached_gi.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace reference {

using Vec3 = std::array<float, 3>;
using Vec4 = std::array<float, 4>;

uint32_t floatBits(float value);
float bitsFloat(uint32_t bits);
uint32_t packSnorm4x8(Vec4 value);
Vec4 unpackSnorm4x8(uint32_t packed);
uint32_t packUnorm4x8(Vec4 value);
uint32_t bitfieldReverse(uint32_t value);

// ---- Triangle tree ----

// Captured vertices of triangles given by their corner positions (normal +z, no texture).
std::vector<FVert> capturedVertices(const std::vector<Vec3>& corners);
// Walls of quads (two triangles sharing an edge each), as meshes are captured: nx x ny quads per
// wall, four walls 10 units wide and 4 high around a room, moved by `offset`; with `shuffled` the
// quads come in a random order.
std::vector<Vec3> quadWalls(int nx, int ny, Vec3 offset, bool shuffled);
// Do two captured triangles have two corners at the same positions?
bool sharesEdge(const std::vector<FVert>& vertices, int32_t first, int32_t second);

// A built tree checked from its header: every node reached once through the links, every
// triangle in exactly one leaf (two only when they share an edge), leaf boxes exactly their
// triangles' bounds, inner boxes exactly their children's union, skip links in walk order.
struct TreeCheck {
    std::string error; // empty when the tree is sound
    int32_t nodes = 0, leaves = 0, depth = 0;
    double cost = 0; // surface-area cost: inner nodes' areas plus leaf areas times triangles, over the root's
};
TreeCheck checkTree(const std::vector<BIVH>& tree, const std::vector<FVert>& vertices, int32_t triangleCount);

// ---- Segments ----

bool boxHitBound(Vec3 mi, Vec3 ma, Vec3 origo, Vec3 iRayDir);
Vec4 triHit(Vec3 origo, Vec3 dir, Vec3 v1, Vec3 v2, Vec3 v3);
// Brute force over every triangle: any hit in (0.001, 0.999), and the closest hit
// (t, u, v, first vertex) above 0.00001, or (10.001, 0, 1, -1).
bool anyHit(const std::vector<FVert>& vertices, int32_t triangleCount, Vec3 origo, Vec3 dir);
Vec4 closestHit(const std::vector<FVert>& vertices, int32_t triangleCount, Vec3 origo, Vec3 dir);

// An any-hit walk of the tree in the shader's order, counted as the shader counts it: boxes
// tested (the root included) and segment-triangle tests.
struct Walk {
    bool hit = false;
    int32_t nodes = 0;
    int32_t triangles = 0;
};
Walk walkAnyHit(const std::vector<BIVH>& tree, const std::vector<FVert>& vertices, Vec3 origo, Vec3 dir);

// ---- Light cache ----

Vec4 fragBox(Vec3 pos, Vec3 cam, float density);
uint32_t fragBoxToHash(Vec4 fb);
Vec3 dominantAxis(Vec3 v);
uint32_t daxOf(Vec3 normal);
// The key hash of a lookup (cell hash plus axis term).
uint32_t lookupHash(Vec3 cam, Vec3 point, Vec3 normal);

struct LightCache {
    std::vector<LICEntry> entries;
    int32_t frame = kLightCacheFirstFrame;
};

uint32_t liGetNAEntry(const LightCache& cache, Vec3 cam, Vec3 point, Vec3 normal);
// Sequential look-up or claim, as one invocation alone would do it.
uint32_t liGetEntry(LightCache& cache, Vec3 cam, Vec3 point, Vec3 normal);

// The shading pass's smooth read of the cached light at a point whose own entry is `own`.
Vec3 smoothLight(const LightCache& cache, Vec3 cam, Vec3 point, Vec3 normal, uint32_t own);
// The update's choice for entry i in a frame.
enum class UpdateStep { skip, blend, leave, gather };
UpdateStep updateStep(const LICEntry& entry, uint32_t index, int32_t frame);
// Rays traced by a gather for an entry of that weight.
int gatherRayCount(float weight);
// One update of every entry against a scene with no triangles (every ray misses).
void updateWithoutGeometry(LightCache& cache, Vec3 cam);

} // namespace reference
