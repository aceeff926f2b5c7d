// The renderer's frame: G-buffer, tree build dispatches, deferred quad, light-cache refresh.
#include "render/cached_gi.h"

#include "app/console.h"
#include "platform/gl.h"
#include "platform/window.h"
#include "shader/shader.h"
#include "store/store.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

BufferRecord* storeBuffer(const char* name) {
    return currentData<BufferRecord>(getVariable(name, 32));
}

TextureRecord* storeTexture(const char* name) {
    return currentData<TextureRecord>(getVariable(name, 64));
}

// Handles to the Variables every frame touches, looked up once (lookups are linear scans); their
// data is still read through currentVariable at each use, since the scene may re-point them.
struct FrameVariables {
    Variable* tree = getVariable(kTreeVariable, 32);
    Variable* feedback = getVariable(kFeedbackVariable, 32);
    Variable* scratch = getVariable(kTreeScratchVariable, 32);
    Variable* triangleCount = getVariable(kTriangleCountVariable, 4);
    Variable* quad = getVariable(kQuadVariable, 32);
    Variable* info = getVariable(kLightCacheInfoVariable, 32);
    Variable* list = getVariable(kLightCacheListVariable, 32);
};

FrameVariables& frameVariables() {
    static FrameVariables variables;
    return variables;
}

// The source text of a shader file in the store, or null.
const char* shaderSource(const char* name) {
    Variable* file = getVariable(name, 0);
    return file != nullptr ? currentData<const char>(file) : nullptr;
}

const char* requiredSource(const char* name) {
    const char* source = shaderSource(name);
    if (source == nullptr) fatalErrorFormat("Shader source %s is missing", name);
    return source;
}

ShaderProgram* buildRequiredProgram(const char* name) {
    return buildProgram(0, requiredSource(name));
}

// Grows a buffer that only the GPU fills to `count` elements and zeroes its whole store.
void reserveZeroedDeviceBuffer(BufferRecord* buffer, int32_t count) {
    reserveDeviceBuffer(buffer, count);
    glBindBuffer(GL_COPY_WRITE_BUFFER, buffer->glBuffer);
    glClearBufferData(GL_COPY_WRITE_BUFFER, GL_R32UI, GL_RED_INTEGER, GL_UNSIGNED_INT, nullptr);
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
}

void dispatch(const ComputeDispatch& layout) {
    if (layout.groupsX != 0 && layout.groupsY != 0) glDispatchCompute(layout.groupsX, layout.groupsY, 1);
}

// ---- Render targets ----

struct RenderTargetFormat {
    GLenum internalFormat;
    GLenum format;
    GLenum type;
};

constexpr RenderTargetFormat kRenderTargetFormats[] = {
    {GL_RGB, GL_RGB, GL_UNSIGNED_BYTE},
    {GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE},
    {GL_RGBA32F, GL_RGBA, GL_FLOAT},
    {GL_RGBA16F, GL_RGBA, GL_FLOAT},
    {GL_RGB16F, GL_RGB, GL_FLOAT},
    {GL_RGB32F, GL_RGB, GL_FLOAT},
    {GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8},
    {GL_DEPTH_COMPONENT, GL_DEPTH_COMPONENT, GL_FLOAT},
    {GL_DEPTH_COMPONENT32F, GL_DEPTH_COMPONENT, GL_FLOAT},
};

// The G-buffer: Variable, internal format, attachment point.
struct GBufferTarget {
    const char* name;
    GLenum internalFormat;
    GLenum attachment;
};

constexpr GBufferTarget kGBufferTargets[] = {
    {.name = kGBufferAlbedoVariable, .internalFormat = GL_RGBA, .attachment = GL_COLOR_ATTACHMENT0},
    {.name = kGBufferNormalVariable, .internalFormat = GL_RGB16F, .attachment = GL_COLOR_ATTACHMENT1},
    {.name = kGBufferPositionVariable, .internalFormat = GL_RGB32F, .attachment = GL_COLOR_ATTACHMENT2},
    {.name = kGBufferDepthVariable,
     .internalFormat = GL_DEPTH_COMPONENT32F,
     .attachment = GL_DEPTH_ATTACHMENT},
};

constexpr int32_t kLightCacheInvocations = 32768 * 5;
constexpr int32_t kDispatchRow = 32768;

} // namespace

void createRenderTarget(TextureRecord* texture, uint32_t internalFormat, int width, int height) {
    const RenderTargetFormat* entry = nullptr;
    for (const RenderTargetFormat& candidate : kRenderTargetFormats)
        if (candidate.internalFormat == internalFormat) entry = &candidate;
    if (entry == nullptr) fatalErrorFormat("Render target format %x has no pixel format", internalFormat);

    glGenTextures(1, &texture->glTexture);
    glBindTexture(GL_TEXTURE_2D, texture->glTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internalFormat), width, height, 0, entry->format,
                 entry->type, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    if (internalFormat == GL_DEPTH_COMPONENT || internalFormat == GL_DEPTH_COMPONENT32F) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_NONE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    texture->internalFormat = internalFormat;
    texture->width = texture->uploadWidth = width;
    texture->height = texture->uploadHeight = height;
    texture->pixels = nullptr;
    texture->dirty = 0;
}

// ---- Tree shape and dispatch layout ----

TreeShape treeShape(int32_t triangleCount) {
    int32_t triangles = std::max(triangleCount, 1);
    // The sort's counts (two words per block of kTreeBlock in the rounds), then two arrays of chunk sums.
    int32_t blockWords =
        kTreeSortBuckets * (triangles / kTreeSortBlock + 1) + 2 * (triangles / kTreeScanChunk + 2);
    int32_t records = kTreeScratchHeaderWords + kTreeScratchWordsPerTriangle * triangles + blockWords;
    TreeRounds rounds = treeRounds(triangles);
    return {2 * triangles, records + kTreeRoundRecordWords * (rounds.searched + rounds.forced), records};
}

TreeRounds treeRounds(int32_t triangleCount) {
    int32_t levels = 0;
    while ((int64_t{1} << levels) < triangleCount) ++levels;
    return {3 * levels + 8, levels + 1};
}

ComputeDispatch rowDispatch(int32_t invocations, int32_t groupSize) {
    if (invocations <= 0) return {0, 0, kDispatchRow};
    int32_t rowWidth = std::min(invocations, kDispatchRow);
    auto groupsX = static_cast<uint32_t>((rowWidth + groupSize - 1) / groupSize);
    auto rows = static_cast<uint32_t>((invocations + kDispatchRow - 1) / kDispatchRow);
    return {groupsX, rows, kDispatchRow};
}

int32_t computeGroupSize(const ShaderProgram* program) {
    GLint size[3] = {1, 1, 1};
    glGetProgramiv(program->program, GL_COMPUTE_WORK_GROUP_SIZE, size);
    return std::max(size[0], 1);
}

TreePrograms buildTreePrograms(const char* leavesSource, const char* nodesSource) {
    auto variant = [](const char* source, int32_t pass) {
        std::string text = "#define TREE_PASS " + std::to_string(pass) + "\n" + source;
        return buildProgram(0, text.c_str());
    };
    TreePrograms programs;
    for (int32_t pass = 0; pass < kTreeLeafPasses; ++pass)
        programs.leaves[pass] = variant(leavesSource, pass);
    for (int32_t pass = 0; pass < kTreeNodePasses; ++pass) programs.nodes[pass] = variant(nodesSource, pass);
    return programs;
}

// ---- Construction ----

void createRendererVariables() {
    NOVA31_RENDER_VARIABLES(NOVA31_CREATE_VARIABLE)
}

void resetFeedbackCapture() {
    static Variable* feedback = getVariable(kFeedbackVariable, 32);
    reserveDeviceBuffer(currentData<BufferRecord>(feedback), 0);
}

CachedGI::CachedGI() {
    createRendererVariables();
    // Every frame ends with an empty capture buffer.
    setPresentFrameHook(resetFeedbackCapture);
    glGenFramebuffers(1, &gBufferFbo);
    glBindFramebuffer(GL_FRAMEBUFFER, gBufferFbo);
    for (const GBufferTarget& target : kGBufferTargets) {
        TextureRecord* texture = storeTexture(target.name);
        createRenderTarget(texture, target.internalFormat, windowWidth, windowHeight);
        if (target.attachment == GL_DEPTH_ATTACHMENT) std::strcpy(texture->label, "gBufD");
        glFramebufferTexture2D(GL_FRAMEBUFFER, target.attachment, GL_TEXTURE_2D, texture->glTexture, 0);
    }
    const GLenum drawBuffers[] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1, GL_COLOR_ATTACHMENT2};
    glDrawBuffers(3, drawBuffers);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    const char* texmSource = shaderSource("texm.glsl");
    const char* flatSource = shaderSource("flat.glsl");
    if (texmSource != nullptr) {
        consoleLog("Compiling texm\n");
        texmProgram = buildProgram(0, texmSource);
    }
    if (flatSource != nullptr) {
        consoleLog("Compiling scene\n");
        flatProgram = buildProgram(0, flatSource);
    }
    deferredProgram = buildRequiredProgram("deferred.glsl");
    updateProgram = buildRequiredProgram("licupdate.glsl");
    treePrograms = buildTreePrograms(requiredSource("bvh_leaves.glsl"), requiredSource("bvh_nodes.glsl"));

    // Storage the programs read before the first frame has written it: an empty tree (a root
    // without children) and an empty capture buffer, so no program meets an unbound block.
    BufferRecord* tree = storeBuffer(kTreeVariable);
    if (tree->glBuffer == 0) reserveZeroedDeviceBuffer(tree, 2);
    // The traversal counters, off, with one zeroed record for the programs to bind.
    BufferRecord* stats = storeBuffer(kTreeStatsVariable);
    if (stats->glBuffer == 0) {
        stats->elementSize = sizeof(TreeStats);
        reserveZeroedDeviceBuffer(stats, 1);
    }
    // The update's list of entries: the indirect dispatch's three group counts, the count, then
    // at most one index per entry (see "licupdate.glsl").
    BufferRecord* list = storeBuffer(kLightCacheListVariable);
    if (list->glBuffer == 0) {
        list->elementSize = 4;
        reserveZeroedDeviceBuffer(list, kLightCacheListHeaderWords + kLightCacheEntryCount);
    }
    BufferRecord* feedback = storeBuffer(kFeedbackVariable);
    if (feedback->glBuffer == 0) {
        int32_t count = feedback->elementCount;
        reserveDeviceBuffer(feedback, 1);
        reserveDeviceBuffer(feedback, count);
    }
}

// ---- The frame ----

void CachedGI::beginFrame() {
    glBindFramebuffer(GL_FRAMEBUFFER, gBufferFbo);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    *currentData<int32_t>(frameVariables().triangleCount) = 0;
    captureTriangles = kCaptureOn;
    glEnable(GL_DEPTH_TEST);
}

void CachedGI::buildTriangleTree(int32_t triangleCount) {
    BufferRecord* tree = currentData<BufferRecord>(frameVariables().tree);
    BufferRecord* feedback = currentData<BufferRecord>(frameVariables().feedback);
    BufferRecord* scratch = currentData<BufferRecord>(frameVariables().scratch);
    TreeShape shape = treeShape(triangleCount);
    ComputeDispatch perTriangle = rowDispatch(triangleCount, computeGroupSize(treePrograms.leaves[0]));
    int32_t nodesGroup = computeGroupSize(treePrograms.nodes[0]);
    ComputeDispatch perNode = rowDispatch(shape.nodeCount, nodesGroup);
    const ComputeDispatch oneGroup{1, 1, 0};

    if (tree->elementSize == 0) tree->elementSize = sizeof(BIVH);
    reserveDeviceBuffer(tree, shape.nodeCount);
    scratch->elementSize = 4;
    reserveDeviceBuffer(scratch, shape.scratchWords);
    // The header: an empty centroid box (minima all ones, maxima zero) and no primitives.
    static const uint32_t kEmptyHeader[kTreeScratchHeaderWords] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    glBindBuffer(GL_COPY_WRITE_BUFFER, scratch->glBuffer);
    glBufferSubData(GL_COPY_WRITE_BUFFER, 0, sizeof(kEmptyHeader), kEmptyHeader);
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
    glBindBuffer(GL_DISPATCH_INDIRECT_BUFFER, scratch->glBuffer);

    // Each pass reads what the ones before it wrote; see "bvh_leaves.glsl" and "bvh_nodes.glsl".
    auto runLeaves = [&](int32_t pass) {
        int32_t arguments[4] = {triangleCount, 0, pass, 0};
        glMemoryBarrier(GL_ALL_BARRIER_BITS);
        use(treePrograms.leaves[pass], arguments, tree, feedback, scratch);
    };
    auto run = [&](int32_t round, int32_t pass, int32_t forced) {
        int32_t arguments[4] = {triangleCount, round, pass, forced};
        glMemoryBarrier(GL_ALL_BARRIER_BITS);
        use(treePrograms.nodes[pass], arguments, tree, scratch);
    };
    auto indirect = [](uint32_t word) { glDispatchComputeIndirect(static_cast<GLintptr>(4 * word)); };
    for (int32_t pass = 0; pass < 3; ++pass) {
        runLeaves(pass); // edges and boxes, roles and centroid box, keys
        dispatch(perTriangle);
    }
    int32_t sortBlocks = (triangleCount + kTreeSortBlock - 1) / kTreeSortBlock;
    ComputeDispatch perSortBlock = rowDispatch(sortBlocks, nodesGroup);
    ComputeDispatch perSortChunk =
        rowDispatch((kTreeSortBuckets * sortBlocks + kTreeScanChunk - 1) / kTreeScanChunk, nodesGroup);
    int32_t blocks = (triangleCount + kTreeBlock - 1) / kTreeBlock;
    ComputeDispatch perRoundChunk = rowDispatch((blocks + kTreeScanChunk - 1) / kTreeScanChunk, nodesGroup);
    // A small tree's serial passes run in one invocation each (see "bvh_nodes.glsl", pass 13):
    // on software rasterisers each dispatch costs more than such a pass's work.
    const bool small = triangleCount <= kTreeSmall;
    if (triangleCount <= kTreeSerialSort) {
        run(0, 16, 0);
        dispatch(oneGroup);
    }
    for (int32_t digit = 0; triangleCount > kTreeSerialSort && digit < kTreeSortDigits; ++digit) {
        const int32_t passes[] = {6, 9, 7, 10, 8}; // counts, their prefix sums (three), scatter
        const ComputeDispatch* layouts[] = {&perSortBlock, &perSortChunk, &oneGroup, &perSortChunk,
                                            &perSortBlock};
        for (int k = 0; k < 5; ++k) {
            if (small && (k == 1 || k == 3)) continue;
            int32_t pass = small && k == 2 ? 14 : passes[k];
            run(digit, pass == 8 && digit == kTreeSortDigits - 1 ? 17 : pass, 0); // 17: the last scatter
            dispatch(*layouts[k]);
        }
    }
    run(0, 0, 0); // the first round
    dispatch(oneGroup);
    TreeRounds rounds = treeRounds(triangleCount);
    for (int32_t round = 0; round < rounds.searched + rounds.forced; ++round) {
        uint32_t slot = static_cast<uint32_t>(round & 1);
        int32_t forced = round >= rounds.searched ? 1 : 0;
        run(round, 1, forced); // nearest neighbours
        indirect(kTreeClusterArgsWord + 3 * slot);
        if (small) {
            run(round, 13, forced); // the rest of the round
            indirect(kTreeRoundArgsWord + 3 * slot);
            continue;
        }
        run(round, 2, forced); // merges per block
        indirect(kTreeBlockArgsWord + 3 * slot);
        for (int32_t pass : {11, 3, 12}) { // their prefix sums, and the next round
            run(round, pass, forced);
            dispatch(pass == 3 ? oneGroup : perRoundChunk);
        }
        run(round, 4, forced); // the next round's clusters
        indirect(kTreeBlockArgsWord + 3 * slot);
        run(round, 18, forced); // the round's nodes
        indirect(static_cast<uint32_t>(shape.roundRecordWord + kTreeRoundRecordWords * round));
    }
    if (small) {
        run(0, 5, 0); // links
        dispatch(perNode);
    } else {
        // The links top down, a round's nodes after those of the rounds that came later.
        for (int32_t round = rounds.searched + rounds.forced - 1; round >= 0; --round) {
            run(round, 15, 0);
            indirect(static_cast<uint32_t>(shape.roundRecordWord + kTreeRoundRecordWords * round));
        }
    }
    glBindBuffer(GL_DISPATCH_INDIRECT_BUFFER, 0);
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
}

void CachedGI::postRenderFrame() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    captureTriangles = kCaptureOff;
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
    consoleLog("Post-render-frame!\n");

    // Only triangles whose vertices were captured can be boxed: draws made while capture was off
    // advance the count without room in the buffer.
    int32_t triangleCount = *currentData<int32_t>(frameVariables().triangleCount);
    triangleCount =
        std::min(triangleCount, currentData<BufferRecord>(frameVariables().feedback)->elementCount / 3);
    if (triangleCount > 0) buildTriangleTree(triangleCount);

    static const float kQuad[12] = {-1, -1, -1, 1, 1, -1, -1, 1, 1, -1, 1, 1};
    BufferRecord* quad = currentData<BufferRecord>(frameVariables().quad);
    growHostArray(quad, 6, 8);
    std::memcpy(quad->hostData, kQuad, sizeof(kQuad));
    use(deferredProgram);
    glDisable(GL_DEPTH_TEST);
    glDrawArrays(GL_TRIANGLES, 0, 6);
}

void CachedGI::updateLightCache() {
    // Two passes: one invocation per entry lists those this frame refreshes (in use in the last
    // four frames, and due to gather or blend), then one per listed entry refreshes it. On
    // software rasterisers every invocation pays for the whole masked body of its program, so
    // the refresh runs over the listed entries only, not over the table.
    BufferRecord* list = currentData<BufferRecord>(frameVariables().list);
    static const uint32_t kEmptyList[kLightCacheListHeaderWords] = {0, 1, 1, 0};
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
    glBindBuffer(GL_COPY_WRITE_BUFFER, list->glBuffer);
    glBufferSubData(GL_COPY_WRITE_BUFFER, 0, sizeof(kEmptyList), kEmptyList);
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
    int32_t pass = 0;
    use(updateProgram, &pass);
    dispatch(rowDispatch(kLightCacheInvocations, computeGroupSize(updateProgram)));
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
    pass = 1;
    use(updateProgram, &pass);
    glBindBuffer(GL_DISPATCH_INDIRECT_BUFFER, list->glBuffer);
    glDispatchComputeIndirect(0);
    glBindBuffer(GL_DISPATCH_INDIRECT_BUFFER, 0);
    glMemoryBarrier(GL_ALL_BARRIER_BITS);

    BufferRecord* info = currentData<BufferRecord>(frameVariables().info);
    growHostArray(info, 1, sizeof(LICInfo));
    if (info->glBuffer != 0) {
        info->pending = 0;
        glBindBuffer(GL_COPY_READ_BUFFER, info->glBuffer);
        glGetBufferSubData(GL_COPY_READ_BUFFER, 0, sizeof(LICInfo), info->hostData);
        glBindBuffer(GL_COPY_READ_BUFFER, 0);
    }
    static_cast<LICInfo*>(info->hostData)->licFrameNr += 1;
    info->elementCount = 1;
    info->pending = 1;
}

ShaderProgram** CachedGI::geometryPrograms() {
    programList[0] = texmProgram;
    programList[1] = flatProgram;
    programList[2] = nullptr;
    return programList;
}

// ---- Light cache contents ----

void writeInitialLightCache() {
    BufferRecord* info = storeBuffer(kLightCacheInfoVariable);
    growHostArray(info, 1, sizeof(LICInfo));
    auto* record = static_cast<LICInfo*>(info->hostData);
    record->licFrameNr = kLightCacheFirstFrame;
    record->liEntryCount = kLightCacheEntryCount;

    BufferRecord* cache = storeBuffer(kLightCacheVariable);
    growHostArray(cache, kLightCacheEntryCount, sizeof(LICEntry));
    auto* entries = static_cast<LICEntry*>(cache->hostData);
    for (int32_t k = 0; k < kLightCacheEntryCount; ++k) {
        LICEntry& entry = entries[k];
        entry.lfHI = k % 3 == 0 ? 0u : static_cast<uint32_t>(k) * 0x7A000000u;
        entry.dax = 0;
        for (int c = 0; c < 4; ++c) {
            entry.posS[c] = 0.0f;
            entry.diLight[c] = entry.inLight[c] = c == 3 ? 1.0f : 0.0f;
        }
    }
}
