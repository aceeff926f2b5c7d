/* cached_gi.h — the renderer: G-buffer, GPU-built triangle tree, deferred shading with shadow
   rays, and a world-space light cache refreshed every frame.

   The entry function creates one CachedGI once the GL context is current and the shader sources
   are in the variable store, gives the light cache its first contents, and then drives a frame:

       CachedGI* renderer = new CachedGI();      // G-buffer at windowWidth x windowHeight
       writeInitialLightCache();                 // "licInfo" and "liCache" host copies
       ...
       renderer->beginFrame();                   // G-buffer bound, triangle capture on
       scene.updateAndDraw(t, renderer->geometryPrograms());
       renderer->postRenderFrame();              // tree over the captured triangles, shading
       presentFrame();
       renderer->updateLightCache();             // cache refresh, next frame number

   Everything the GPU programs read comes from Variables of the same name (camera, proj,
   invCamera, objXF, iobjXF, gpuLights, xfFeedback, xfTriCount, ...); the renderer holds only
   its programs and its framebuffer. While `captureTriangles` is on, every scene draw must grow
   "xfFeedback" by its vertex count before drawing and add its triangle count to "xfTriCount".

   The triangle tree is rebuilt from scratch in every frame with captured triangles, by compute
   passes only ("bvh_leaves.glsl", "bvh_nodes.glsl"; no read-back, sizes only the GPU knows go
   through indirect dispatches): edge-sharing pairs of consecutive triangles share a leaf, leaves
   are sorted by the Morton codes of their centroids in the frame's centroid box and clustered
   bottom up by surface area, so the tree is as good whatever order the triangles come in and
   wherever the scene lies. Node 0 heads it; a walk follows the links of "util.glsl", visits
   each node at most once and so never needs more than the tree's node count. The same
   triangles give the same tree, whatever the work-group size and whichever passes build it:
   up to kTreeSmall triangles one invocation does a round's serial work (fewer dispatches),
   beyond it those passes run in chunks and the links are written top down round by round. Each
   pass is its own program (TreePrograms), so a dispatch runs only that pass's code.

   Traversal counters: while the int "treeStatsOn" is 1, every shadow ray of the direct light
   adds its node visits and triangle tests to the TreeStats record "treeStats" (created zeroed
   here). A benchmark sets it, clears the record, runs postRenderFrame, reads it back and sets
   it to 0 again before updateLightCache.

   The light-cache refresh ("licupdate.glsl") runs in two passes: one invocation per table entry
   lists the entries due this frame into "licList", then an indirect dispatch sized by that list
   refreshes them, so the cost follows the entries in use rather than the table's size.
   Compute programs declare their own work-group size; the host reads it back from the linked
   program and lays the dispatch out for it (see ComputeDispatch), so a program written for
   1 x 1 x 1 groups gets exactly the one-invocation-per-group layout.

   A missing "deferred.glsl", "licupdate.glsl", "bvh_leaves.glsl" or "bvh_nodes.glsl" ends the
   process through fatalError naming the file; a missing "texm.glsl" or "flat.glsl" only leaves
   that program out. The renderer never frees anything and never reallocates its G-buffer. */
#pragma once

#include "render/gpu_layout.h"

#include <cstdint>

struct ShaderProgram;
struct TextureRecord;

// ---- Renderer ----

// The tree build's programs, one per pass of each file, built with TREE_PASS defined to the
// pass: software rasterisers run every branch of a program under lane masks, so a program that
// held every pass would make each invocation pay for all of them.
struct TreePrograms {
    ShaderProgram* leaves[kTreeLeafPasses] = {};
    ShaderProgram* nodes[kTreeNodePasses] = {};
};

// Builds every pass of the two sources (whose compute work-group sizes the dispatches follow).
TreePrograms buildTreePrograms(const char* leavesSource, const char* nodesSource);

class LightSys {
public:
    virtual void beginFrame() = 0;
    virtual void postRenderFrame() = 0;
    virtual void updateLightCache() = 0;
    // The programs the scene draws with, in order of preference, ended by a null entry.
    virtual ShaderProgram** geometryPrograms() = 0;

protected:
    ~LightSys() = default; // lives for the run; never deleted through this interface
};

class CachedGI final : public LightSys {
public:
    CachedGI();
    void beginFrame() override;
    void postRenderFrame() override;
    void updateLightCache() override;
    ShaderProgram** geometryPrograms() override;

    ShaderProgram* flatProgram = nullptr;     // "flat.glsl", null when absent
    ShaderProgram* texmProgram = nullptr;     // "texm.glsl", null when absent
    ShaderProgram* programList[3] = {};       // texm, flat, null
    TreePrograms treePrograms;                // "bvh_leaves.glsl" and "bvh_nodes.glsl", per pass
    ShaderProgram* updateProgram = nullptr;   // "licupdate.glsl"
    ShaderProgram* deferredProgram = nullptr; // "deferred.glsl"
    uint32_t gBufferFbo = 0;                  // the G-buffer framebuffer object

    // Runs the tree build over the first `triangleCount` captured triangles (postRenderFrame
    // does this for "xfTriCount"); exposed for tests and benchmarks.
    void buildTriangleTree(int32_t triangleCount);
};

// Creates the Variables of NOVA31_RENDER_VARIABLES (gpu_layout.h); the constructor calls it.
void createRendererVariables();

// The end-of-frame step: sets the element count of "xfFeedback" to 0, keeping its store. The
// constructor installs it as presentFrame's hook (platform/window.h).
void resetFeedbackCapture();

// Makes `texture` an empty render target of that format and size (nearest filtering, one level).
// A format without a known pixel format and type is fatal.
void createRenderTarget(TextureRecord* texture, uint32_t internalFormat, int width, int height);

// The light cache's first contents, written into the host copies of "licInfo" and "liCache" and
// marked pending: frame 80, 140057 entries, frame tags spread so early claims spread out.
void writeInitialLightCache();

// ---- Tree shape and dispatch layout ----

// Room for the tree over T triangles: nodes (node 0 heads the tree, then at most 2T - 1 nodes)
// and the build's scratch words ("bivhScratch").
struct TreeShape {
    int32_t nodeCount;       // elements of "bivhTree"
    int32_t scratchWords;    // 32-bit words of "bivhScratch"
    int32_t roundRecordWord; // where the rounds' records start (kTreeRoundRecordWords words each)
};
TreeShape treeShape(int32_t triangleCount);

// Rounds of the clustering build: searched rounds merge clusters that choose each other; forced
// rounds then pair clusters in order, each halving them, so the build ends whatever the scene.
// Rounds with nothing left to merge cost an empty indirect dispatch.
struct TreeRounds {
    int32_t searched; // 3 log2(T) + 8: most scenes finish within them (2.6k to 963k triangles of
                      // the scaling benchmark take about 3 log2(T))
    int32_t forced;   // log2(T) + 1: enough to finish any that are left
};
TreeRounds treeRounds(int32_t triangleCount);

// Work groups of a compute dispatch, and the invocations from one row (y) to the next, which
// the program receives to turn its global id into a flat index (x + rowStride * y).
struct ComputeDispatch {
    uint32_t groupsX;
    uint32_t groupsY;
    int32_t rowStride;
};

// Rows of at most 32768 invocations: for groups of one invocation, min(n, 32768) x n / 32768.
ComputeDispatch rowDispatch(int32_t invocations, int32_t groupSize);
// The work-group size (x) a linked compute program declares.
int32_t computeGroupSize(const ShaderProgram* program);
