/* gpu_layout.h — the records and Variables the host and the renderer's shaders share, and the
   capture switch.

   Every structure here is std430 and mirrored field for field by a GLSL include file ("util.glsl",
   "licache.glsl", "ray.glsl"); sizes are pinned by static_assert. The scene runtime includes this header to
   publish lights and to feed triangle capture without linking the renderer:

       auto* entries = static_cast<GPULightEntry*>(lights->hostData);   // "gpuLights"
       if (captureTriangles != kCaptureOff) reserveDeviceBuffer(feedback, count + vertices);

   Only plain records and constants live here: no functions, no GL calls. */
#pragma once

#include "store/store.h"

#include <cstdint>

// ---- The renderer's Variables ----

// What the renderer's programs read by name besides the scene's values (scene/scene.h) and the
// image-shader wrapper's (shader/shader_source.h); the renderer creates them when it is made
// (createRendererVariables). The demo writes the camera matrices every frame; the scene may
// replace "camera" and "invCamera" and grows the capture buffer.
#define NOVA31_RENDER_VARIABLES(X)                                                                           \
    X(kCameraVariable, "camera", 64)              /* mat4, world to view */                                  \
    X(kInverseCameraVariable, "invCamera", 64)    /* mat4 */                                                 \
    X(kProjectionVariable, "proj", 64)            /* mat4 */                                                 \
    X(kInverseProjectionVariable, "invProj", 64)  /* mat4 */                                                 \
    X(kFeedbackVariable, "xfFeedback", 32)        /* BufferRecord of FVert, grown on the device */           \
    X(kTriangleCountVariable, "xfTriCount", 4)    /* int, triangles captured this frame */                   \
    X(kTreeVariable, "bivhTree", 32)              /* BufferRecord of BIVH, grown on the device */            \
    X(kTreeScratchVariable, "bivhScratch", 32)    /* BufferRecord, the tree build's scratch words */         \
    X(kTreeStatsVariable, "treeStats", 32)        /* BufferRecord of one TreeStats */                        \
    X(kTreeStatsOnVariable, "treeStatsOn", 4)     /* int, 1: shadow rays count into "treeStats" */           \
    X(kQuadVariable, "pos2", 32)                  /* BufferRecord, the deferred pass's quad */               \
    X(kLightCacheVariable, "liCache", 32)         /* BufferRecord of LICEntry */                             \
    X(kLightCacheInfoVariable, "licInfo", 32)     /* BufferRecord of one LICInfo */                          \
    X(kLightCacheListVariable, "licList", 32)     /* BufferRecord, the entries one update refreshes */       \
    X(kGBufferAlbedoVariable, "gBufferAlb", 64)   /* TextureRecord, render target */                         \
    X(kGBufferNormalVariable, "gBufferNorm", 64)  /* TextureRecord, render target */                         \
    X(kGBufferPositionVariable, "gBufferPos", 64) /* TextureRecord, render target */                         \
    X(kGBufferDepthVariable, "gBufferD", 64)      /* TextureRecord, render target */                         \
    X(kGBuffer3Variable, "gBuffer3", 64)          /* TextureRecord, unused */
NOVA31_RENDER_VARIABLES(NOVA31_DECLARE_VARIABLE)

// ---- Triangle capture switch ----

// Scene draws reserve room in "xfFeedback" while this holds kCaptureOn.
constexpr int kCaptureOn = 4;
constexpr int kCaptureOff = 1280;
// Process-wide; defined here so that the scene runtime can read it without linking the renderer.
inline int captureTriangles = kCaptureOff;

// ---- GPU records (std430, mirrored by "util.glsl" and "licache.glsl") ----

// A captured vertex: world position bits and packed normal, texture coordinate bits and handle.
struct FVert {
    uint32_t uposn[4]; // x, y, z float bits; w: packSnorm4x8(normal, 0)
    uint32_t uvTI[4];  // u, v float bits; z, w: first vertex of a triangle: the texture handle
                       // words; others: ~packUnorm4x8(base colour), 0
};
static_assert(sizeof(FVert) == 32);

// A node of the triangle tree: box corners as float bits, and two links in the w words. Node 0
// heads the tree (mi[3]: the root, ma[3]: the number of nodes after it); see "util.glsl".
struct BIVH {
    int32_t mi[4]; // minimum x, y, z; w: inner node: its first child (> 0); leaf: bivhLeafLink (< 0)
    int32_t ma[4]; // maximum x, y, z; w: the node the walk goes on with past this subtree (0: none)
};
static_assert(sizeof(BIVH) == 32);

// A leaf's link: its first triangle, and a second one captured right after it when count is 2.
constexpr int32_t bivhLeafLink(int32_t firstTriangle, int32_t count) {
    return -1 - (2 * firstTriangle + (count - 1));
}

// The tree build's scratch buffer "bivhScratch" ("util.glsl"): a header of 32 words (with the
// indirect dispatch arguments of the clustering rounds at the words below), then 17 words per
// triangle (roles, two key and value arrays for the sort, child and parent links per node, boxes)
// and kTreeSortBuckets words per block of kTreeSortBlock triangles (the sort's digit counts, then
// two words per block of kTreeBlock clusters), then the prefix sums' chunk sums, then a record per
// clustering round.
constexpr int32_t kTreeScratchHeaderWords = 32;
constexpr int32_t kTreeScratchWordsPerTriangle = 17;
constexpr int32_t kTreeBlock = 32;         // clusters per block of a clustering round's counts
constexpr int32_t kTreeSortDigits = 3;     // 10-bit digits of the 30-bit Morton keys
constexpr int32_t kTreeSortBuckets = 1024; // values of a digit
constexpr int32_t kTreeSortBlock = 2048;   // keys per block of the sort's counts
constexpr int32_t kTreeScanChunk = 1024;   // entries per invocation of the build's prefix sums
// Up to this many triangles one invocation does a clustering round's or a sort digit's serial passes.
constexpr int32_t kTreeSmall = 16384;
// Up to this many triangles one invocation sorts them all.
constexpr int32_t kTreeSerialSort = 4096;
constexpr uint32_t kTreeClusterArgsWord = 12; // 2 x 3 words, by round parity
constexpr uint32_t kTreeBlockArgsWord = 18;   // 2 x 3 words
// Per clustering round, after the chunk sums: the dispatch of one invocation per node it made
// (3 words), its first node and their count.
constexpr int32_t kTreeRoundRecordWords = 5;
constexpr uint32_t kTreeRoundArgsWord = 26; // 2 x 3 words
// Passes of "bvh_leaves.glsl" and "bvh_nodes.glsl" (arg0.z, or TREE_PASS where it is defined).
constexpr int32_t kTreeLeafPasses = 3;
constexpr int32_t kTreeNodePasses = 19;

// A point light as the scene publishes it in "gpuLights".
struct GPULightEntry {
    float pos[4];   // world position (w unused)
    float color[4]; // rgb, intensity; an intensity <= 0 ends the list
};
static_assert(sizeof(GPULightEntry) == 32);

// One light-cache cell.
struct LICEntry {
    uint32_t lfHI;     // bits 25-31: frame tag; bits 0-24: low bits of the cell hash
    uint32_t tracePos; // packUnorm4x8 of the traced point, as fractions of the cell
    uint32_t normal;   // packSnorm4x8 of the surface normal
    uint32_t dax;      // packSnorm4x8 of the dominant axis; 0: never claimed (or zero normal)
    float posS[4];     // cell minimum corner xyz, edge length w (world units)
    float diLight[4];  // direct light sum and weight at the claim
    float inLight[4];  // indirect light: rgb sum, w total weight
};
static_assert(sizeof(LICEntry) == 64);

// The light cache's control record, "licInfo".
struct LICInfo {
    uint32_t reserveCount; // reserved, unused
    int32_t repeatCount;   // reserved, unused
    int32_t licFrameNr;    // frame number; its low 7 bits are the frame tag
    int32_t liEntryCount;  // entries in "liCache"
};
static_assert(sizeof(LICInfo) == 16);

// ---- Traversal counters (std430, mirrored by "ray.glsl") ----

// Bins of the per-ray histograms; the last bin collects every count at or above it.
constexpr int32_t kTreeStatsBins = 1024;

// "treeStats": counters of the shadow rays traced while the int "treeStatsOn" is 1. A node
// visited is a node whose box was tested against the ray (the root included); a triangle tested
// is one segment-triangle test.
struct TreeStats {
    uint32_t shadowRays;                    // shadow rays traced
    uint32_t raysAtLimit;                   // rays stopped by the visit limit before their walk ended
    uint32_t maxNodes;                      // most nodes one ray visited
    uint32_t maxTriangles;                  // most triangles one ray tested
    uint32_t overflowNodes;                 // sum of node visits of the rays that fell in the last node bin
    uint32_t overflowTriangles;             // likewise for triangles
    uint32_t reserved[2];                   //
    uint32_t nodeHistogram[kTreeStatsBins]; // rays by nodes visited (bin min(count, kTreeStatsBins - 1))
    uint32_t triangleHistogram[kTreeStatsBins]; // rays by triangles tested
};
static_assert(sizeof(TreeStats) == 32 + 8 * kTreeStatsBins);

constexpr int32_t kLightCacheEntryCount = 140057;
constexpr int32_t kLightCacheListHeaderWords = 4; // "licList": dispatch group counts x, y, z, then the count
constexpr int32_t kLightCacheFirstFrame = 80;
