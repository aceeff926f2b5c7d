// Whole frames of a small scene: the G-buffer contents of both geometry programs, the shaded
// window against a CPU ray cast of the same scene, GL debug output, and missing sources.
#include "gl_support.h"
#include "mini_scene.h"
#include "reference.h"
#include "tests/support/fatal_exit.h"

#include "platform/gl.h"
#include "platform/window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace reference;
using namespace mini;

namespace {

// ---- Debug output ----

constexpr GLuint kProbeId = 31;
int debugErrors = 0;
void APIENTRY countErrors(GLenum, GLenum type, GLuint id, GLenum, GLsizei, const GLchar* message,
                          const void*) {
    if (type != GL_DEBUG_TYPE_ERROR) return;
    ++debugErrors;
    if (id != kProbeId) ADD_FAILURE() << "GL error: " << message;
}

// ---- Frame ----

const Camera kCamera = lookAt({0.3f, 3.2f, 4.5f}, {0, 0.3f, 0});
constexpr float kFovY = 1.0f;
const GPULightEntry kLights[2] = {{{2.2f, 2.6f, 0.8f, 1}, {1, 0.9f, 0.8f, 5000}},
                                  {{-1.6f, 2.2f, -1.5f, 1}, {0.6f, 0.8f, 1, 4000}}};

void beginTestFrame() {
    glViewport(0, 0, kTestWidth, kTestHeight);
    float resolution[2] = {kTestWidth, kTestHeight};
    std::memcpy(storeValue<float>("iResolution", 8), resolution, 8);
    *storeValue<float>("iGlobalTime", 4) = 0.0f;
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
}

void setCamera() {
    setMatrix("proj", perspective(kFovY, float(kTestWidth) / kTestHeight, 0.1f, 100.0f));
    setMatrix("camera", kCamera.view);
    setMatrix("invProj", identity());
    setMatrix("invCamera", kCamera.inverseView);
}

void setLights(int count) {
    std::vector<GPULightEntry> lights(100, GPULightEntry{});
    for (int i = 0; i < count; ++i) lights[i] = kLights[i];
    setHostBuffer("gpuLights", lights);
}

// What the CPU sees through a pixel centre: the surface point and normal, and per light whether it
// is visible and what it would give unshadowed.
struct PixelView {
    bool surface = false;
    int face = -1;
    Vec3 point{}, normal{};
    bool visible[2] = {};
    float light = 0;   // direct light with shadows, green channel
    float blocked = 0; // the light that shadows take away, green channel
};

PixelView castPixel(const Mesh& mesh, const std::vector<FVert>& vertices, int px, int py) {
    PixelView view;
    float ndcX = (px + 0.5f) / kTestWidth * 2 - 1, ndcY = (py + 0.5f) / kTestHeight * 2 - 1;
    float h = std::tan(kFovY / 2);
    Vec3 local{ndcX * h * kTestWidth / kTestHeight, ndcY * h, -1};
    Vec3 dir;
    for (int i = 0; i < 3; ++i)
        dir[i] = 50.0f * (local[0] * kCamera.side[i] + local[1] * kCamera.up[i] + local[2] * kCamera.back[i]);
    auto triangles = static_cast<int32_t>(mesh.corners.size() / 3);
    Vec4 hit = closestHit(vertices, triangles, kCamera.eye, dir);
    if (hit[3] < 0) return view;
    view.surface = true;
    view.face = static_cast<int>(hit[3]) / 3;
    for (int i = 0; i < 3; ++i) view.point[i] = kCamera.eye[i] + hit[0] * dir[i];
    view.normal = mesh.faceNormals[static_cast<size_t>(view.face)];
    for (int l = 0; l < 2; ++l) {
        const GPULightEntry& light = kLights[l];
        Vec3 toLight = minus({light.pos[0], light.pos[1], light.pos[2]}, view.point);
        float d2 = dotted(toLight, toLight);
        float cosine = std::max(0.0f, dotted(normalized(toLight), view.normal));
        float unshadowed = light.color[3] * 0.001f * light.color[1] / d2 * cosine;
        view.visible[l] = !anyHit(vertices, triangles, {light.pos[0], light.pos[1], light.pos[2]},
                                  {-toLight[0], -toLight[1], -toLight[2]});
        (view.visible[l] ? view.light : view.blocked) += unshadowed;
    }
    return view;
}

bool sameView(const PixelView& a, const PixelView& b) {
    return a.surface == b.surface && a.face == b.face && a.visible[0] == b.visible[0] &&
           a.visible[1] == b.visible[1];
}

} // namespace

TEST(Frame, ShadedWindowMatchesACpuRayCast) {
    CachedGI& renderer = testRenderer();
    writeInitialLightCache();
    ASSERT_NE(glDebugMessageCallback, nullptr);
    glEnable(GL_DEBUG_OUTPUT);
    glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
    glDebugMessageCallback(countErrors, nullptr);
    // The callback sees errors: one inserted by hand counts.
    glDebugMessageInsert(GL_DEBUG_SOURCE_APPLICATION, GL_DEBUG_TYPE_ERROR, kProbeId, GL_DEBUG_SEVERITY_HIGH,
                         -1, "probe");
    ASSERT_EQ(debugErrors, 1);
    debugErrors = 0;

    Mesh scene = floorAndBox();
    const float albedo = 0.8f;
    std::vector<unsigned char> pixels(static_cast<size_t>(kTestWidth) * kTestHeight * 4);
    for (int frame = 0; frame < 3; ++frame) {
        beginTestFrame();
        renderer.beginFrame();
        EXPECT_EQ(captureTriangles, kCaptureOn);
        setCamera();
        setLights(2);
        ShaderProgram** programs = renderer.geometryPrograms();
        ASSERT_EQ(programs[0], renderer.texmProgram);
        ASSERT_EQ(programs[1], renderer.flatProgram);
        ASSERT_EQ(programs[2], nullptr);
        drawMesh(programs[0], scene, identity(), identity(), {albedo, albedo, albedo, 1});
        renderer.postRenderFrame();
        EXPECT_EQ(captureTriangles, kCaptureOff);
        if (frame == 0) {
            glFinish();
            glReadPixels(0, 0, kTestWidth, kTestHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        }
        presentFrame();
        EXPECT_EQ(storeBuffer("xfFeedback")->elementCount, 0);
        renderer.updateLightCache();
    }
    glFinish();
    EXPECT_EQ(debugErrors, 0);
    glDebugMessageCallback(glDebugOutput, nullptr);

    std::vector<FVert> vertices = capturedVertices(scene.corners);
    int compared = 0, shadowed = 0, lit = 0;
    for (int py = 1; py + 1 < kTestHeight; py += 2)
        for (int px = 1; px + 1 < kTestWidth; px += 2) {
            PixelView view = castPixel(scene, vertices, px, py);
            if (!view.surface) continue;
            // Only pixels well inside a face and a shadow region: neighbours see the same.
            bool interior = true;
            for (auto [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}})
                interior = interior && sameView(view, castPixel(scene, vertices, px + dx, py + dy));
            if (!interior || view.light > 1.3f) continue;
            float green = pixels[(static_cast<size_t>(py) * kTestWidth + px) * 4 + 1] / 255.0f;
            float measured = (green / albedo) * (green / albedo);
            // Direct light plus at most the first frame's small indirect share.
            EXPECT_GT(measured, view.light - 0.02f) << px << "," << py;
            EXPECT_LT(measured, view.light + 0.05f) << px << "," << py << " blocked " << view.blocked;
            ++compared;
            shadowed += view.blocked > 0.1f;
            lit += view.light > 0.2f;
        }
    EXPECT_GT(compared, 500);
    EXPECT_GT(shadowed, 20);
    EXPECT_GT(lit, 200);
}

// The shadow-ray counters of one frame against a CPU walk of the same tree by the same rays: the
// rays the G-buffer's points send to each light that reaches them.
TEST(Frame, ShadowRayCountersMatchACpuWalkOfTheTree) {
    CachedGI& renderer = testRenderer();
    writeInitialLightCache();
    Mesh scene = floorAndBox();
    BufferRecord* stats = storeBuffer("treeStats");
    auto clearStats = [&] {
        glBindBuffer(GL_COPY_WRITE_BUFFER, stats->glBuffer);
        glClearBufferData(GL_COPY_WRITE_BUFFER, GL_R32UI, GL_RED_INTEGER, GL_UNSIGNED_INT, nullptr);
        glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
    };
    auto frame = [&](int32_t countersOn) {
        beginTestFrame();
        renderer.beginFrame();
        setCamera();
        setLights(2);
        drawMesh(renderer.texmProgram, scene, identity(), identity(), {0.8f, 0.8f, 0.8f, 1});
        *storeValue<int32_t>("treeStatsOn", 4) = countersOn;
        clearStats();
        renderer.postRenderFrame();
        *storeValue<int32_t>("treeStatsOn", 4) = 0;
        presentFrame();
        return readBuffer<TreeStats>(stats->glBuffer, 1)[0];
    };
    TreeStats off = frame(0);
    EXPECT_EQ(off.shadowRays, 0u);
    TreeStats on = frame(1);
    renderer.updateLightCache();

    auto triangles = static_cast<int32_t>(scene.corners.size() / 3);
    std::vector<FVert> vertices = capturedVertices(scene.corners);
    std::vector<BIVH> tree = readBuffer<BIVH>(storeBuffer("bivhTree")->glBuffer,
                                              static_cast<size_t>(treeShape(triangles).nodeCount));
    std::vector<float> positions = readTarget("gBufferPos", 3), normals = readTarget("gBufferNorm", 3);
    int64_t rays = 0, nodes = 0, tested = 0;
    int32_t mostNodes = 0;
    for (size_t at = 0; at < positions.size() / 3; ++at) {
        Vec3 p{positions[3 * at], positions[3 * at + 1], positions[3 * at + 2]};
        Vec3 n{normals[3 * at], normals[3 * at + 1], normals[3 * at + 2]};
        for (const GPULightEntry& light : kLights) {
            Vec3 toLight = minus({light.pos[0], light.pos[1], light.pos[2]}, p);
            if (!(dotted(toLight, n) > 0.0f)) continue; // no light, no shadow ray
            Walk walk = walkAnyHit(tree, vertices, {light.pos[0], light.pos[1], light.pos[2]},
                                   {-toLight[0], -toLight[1], -toLight[2]});
            ++rays;
            nodes += walk.nodes;
            tested += walk.triangles;
            mostNodes = std::max(mostNodes, walk.nodes);
        }
    }
    int64_t histogramRays = 0, histogramNodes = 0, histogramTriangleRays = 0, histogramTriangles = 0;
    for (int32_t bin = 0; bin < kTreeStatsBins; ++bin) {
        histogramRays += on.nodeHistogram[bin];
        histogramNodes += int64_t{bin} * on.nodeHistogram[bin];
        histogramTriangleRays += on.triangleHistogram[bin];
        histogramTriangles += int64_t{bin} * on.triangleHistogram[bin];
    }
    ASSERT_GT(rays, 10000);
    EXPECT_EQ(histogramRays, on.shadowRays);
    EXPECT_EQ(histogramTriangleRays, on.shadowRays);
    EXPECT_EQ(on.raysAtLimit, 0u);
    // Points on a face's edge may turn either way between the CPU and the GPU.
    EXPECT_NEAR(static_cast<double>(on.shadowRays), static_cast<double>(rays), 0.002 * rays);
    EXPECT_NEAR(static_cast<double>(histogramNodes), static_cast<double>(nodes), 0.005 * nodes);
    EXPECT_NEAR(static_cast<double>(histogramTriangles), static_cast<double>(tested), 0.005 * tested);
    EXPECT_EQ(on.maxNodes, static_cast<uint32_t>(mostNodes));
    EXPECT_GT(on.maxTriangles, 0u);
}

namespace {

// One large triangle in view, given in world space, drawn through a node turned 90 degrees about z.
struct TurnedTriangle {
    Mat4 objXF{0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0.25f, 0, 1}; // turn about z, lift by 0.25
    Mat4 iobjXF{0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0.25f, 0, 0, 1};
    std::vector<Vec3> world{{-2, -0.5f, 1.5f}, {2, -0.5f, 1.5f}, {0, 2.5f, -1.5f}};
    Mesh mesh;

    explicit TurnedTriangle(bool withNormals) {
        for (Vec3 w : world) {
            Vec3 object{w[1] - 0.25f, -w[0], w[2]};
            mesh.pos.insert(mesh.pos.end(), object.begin(), object.end());
            if (withNormals) mesh.normal.insert(mesh.normal.end(), {1, 0, 0}); // +y once turned
            mesh.uv.insert(mesh.uv.end(), {0.5f, 0.5f});
            mesh.corners.push_back(w);
        }
        Vec3 face = normalized(crossed(minus(world[1], world[0]), minus(world[2], world[0])));
        mesh.faceNormals.push_back(face);
        finish(mesh);
    }
};

const Vec4 kBaseColor = {0.5f, 0.25f, 0.75f, 1};

// Draws one program's triangle and checks the captured vertices and the G-buffer at a pixel the
// CPU sees the triangle through.
void checkGeometryProgram(ShaderProgram* program, bool withNormals) {
    CachedGI& renderer = testRenderer();
    ASSERT_NE(program, nullptr);
    TurnedTriangle triangle(withNormals);
    beginTestFrame();
    renderer.beginFrame();
    setCamera();
    setLights(0);
    // Five triangles of earlier draws come first.
    *storeValue<int32_t>("xfTriCount", 4) = 5;
    reserveDeviceBuffer(storeBuffer("xfFeedback"), 15);
    drawMesh(program, triangle.mesh, triangle.objXF, triangle.iobjXF, kBaseColor);
    renderer.postRenderFrame();
    std::vector<FVert> captured = readBuffer<FVert>(storeBuffer("xfFeedback")->glBuffer, 18);
    Vec3 face = triangle.mesh.faceNormals[0];
    Vec3 expectedNormal = withNormals ? Vec3{0, 1, 0} : face;
    for (int v = 0; v < 3; ++v) {
        const FVert& vertex = captured[15 + v];
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(bitsFloat(vertex.uposn[c]), triangle.world[v][c], 1e-5f) << v << " " << c;
        EXPECT_EQ(vertex.uposn[3], packSnorm4x8({expectedNormal[0], expectedNormal[1], expectedNormal[2], 0}))
            << v;
        EXPECT_EQ(vertex.uvTI[0], floatBits(withNormals ? 0.5f : 0.0f));
        // The first vertex carries the texture handle, the others the base colour's complement.
        if (v > 0 || !withNormals) {
            uint32_t expected = v > 0 ? ~packUnorm4x8(kBaseColor) : 0u;
            EXPECT_EQ(vertex.uvTI[2], expected) << v;
        }
    }
    presentFrame();

    std::vector<float> normals = readTarget("gBufferNorm", 3);
    std::vector<float> positions = readTarget("gBufferPos", 3);
    std::vector<float> albedo = readTarget("gBufferAlb", 4);
    std::vector<FVert> vertices = capturedVertices(triangle.mesh.corners);
    int covered = 0;
    for (int py = 10; py < kTestHeight; py += 20)
        for (int px = 10; px < kTestWidth; px += 20) {
            PixelView view = castPixel(triangle.mesh, vertices, px, py);
            if (!view.surface) continue;
            ++covered;
            size_t at = static_cast<size_t>(py) * kTestWidth + px;
            Vec3 gNormal = withNormals ? Vec3{0, 1, 0} : face;
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(normals[3 * at + c], gNormal[c], 2e-3f) << px << "," << py;
                EXPECT_NEAR(positions[3 * at + c], view.point[c], 2e-3f) << px << "," << py;
            }
            // Both programs write the material's base colour (the texture is white).
            for (int c = 0; c < 4; ++c) EXPECT_NEAR(albedo[4 * at + c], kBaseColor[c], 1.0f / 255) << c;
        }
    EXPECT_GT(covered, 8);
}

} // namespace

TEST(GeometryPrograms, TexturedDrawsTurnNormalsIntoWorldSpace) {
    checkGeometryProgram(testRenderer().texmProgram, true);
}

TEST(GeometryPrograms, UntexturedDrawsStandWhereTheNodePutsThemAndAreLit) {
    checkGeometryProgram(testRenderer().flatProgram, false);
}

// The renderer installs the capture reset as the present step when it is made.
TEST(Frame, PresentFrameEmptiesTheCaptureBufferAndKeepsItsStore) {
    testRenderer();
    BufferRecord* feedback = storeBuffer("xfFeedback");
    reserveDeviceBuffer(feedback, 300);
    GLuint buffer = feedback->glBuffer;
    int32_t capacity = feedback->glCapacity;
    presentFrame();
    EXPECT_EQ(feedback->elementCount, 0);
    EXPECT_EQ(feedback->glBuffer, buffer);
    EXPECT_EQ(feedback->glCapacity, capacity);
}

// ---- Indirect light takes the colour of the surface it comes from ----

namespace {

// The mean indirect light of the claimed cache cells on the floor (normal +y), after a few
// frames of a white floor lit beside an untextured wall of `wallColour`.
Vec3 floorBounce(Vec4 wallColour) {
    CachedGI& renderer = testRenderer();
    writeInitialLightCache();
    Mesh floor, wall;
    addQuad(floor, {-4, 0, -4}, {-4, 0, 4}, {4, 0, 4}, {4, 0, -4}, {0, 1, 0});
    addQuad(wall, {-4, 0, -1.5f}, {4, 0, -1.5f}, {4, 3, -1.5f}, {-4, 3, -1.5f}, {0, 0, 1});
    finish(floor);
    finish(wall);
    // A light close in front of the wall: the wall is lit far more than the floor.
    const GPULightEntry light{{0, 1.5f, -0.9f, 1}, {1, 1, 1, 3000}};
    for (int frame = 0; frame < 8; ++frame) {
        beginTestFrame();
        renderer.beginFrame();
        setCamera();
        std::vector<GPULightEntry> lights(100, GPULightEntry{});
        lights[0] = light;
        setHostBuffer("gpuLights", lights);
        drawMesh(renderer.texmProgram, floor, identity(), identity(), {1, 1, 1, 1});
        drawMesh(renderer.flatProgram, wall, identity(), identity(), wallColour);
        renderer.postRenderFrame();
        presentFrame();
        renderer.updateLightCache();
    }
    Vec3 sum{0, 0, 0};
    int cells = 0;
    for (const LICEntry& entry :
         readBuffer<LICEntry>(storeBuffer("liCache")->glBuffer, kLightCacheEntryCount)) {
        Vec4 normal = unpackSnorm4x8(entry.normal);
        if (entry.dax == 0 || normal[1] < 0.9f || !(entry.inLight[3] > 0)) continue;
        for (int c = 0; c < 3; ++c) sum[c] += entry.inLight[c] / entry.inLight[3];
        ++cells;
    }
    EXPECT_GT(cells, 20);
    for (float& c : sum) c /= static_cast<float>(std::max(cells, 1));
    return sum;
}

} // namespace

TEST(Bounce, AWhiteFloorBesideARedWallGathersRedLight) {
    Vec3 red = floorBounce({1, 0.1f, 0.1f, 1});
    EXPECT_GT(red[0], 0.02f) << "the floor gathers light from the wall";
    EXPECT_GT(red[0], 1.6f * red[1]) << red[0] << " " << red[1] << " " << red[2];
    EXPECT_GT(red[0], 1.6f * red[2]);
    // The same wall in white bounces white light, about as much red as before.
    Vec3 white = floorBounce({1, 1, 1, 1});
    EXPECT_NEAR(white[1], white[0], 0.05f * white[0]) << white[0] << " " << white[1];
    EXPECT_NEAR(white[0], red[0], 0.2f * white[0]);
}

TEST(RendererSources, MissingRequiredSourceNamesTheFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            createHeadlessContext(800, 450);
            for (const char* name :
                 {"util.glsl", "ray.glsl", "licache.glsl", "deferred.glsl", "bvh_nodes.glsl"})
                loadAsset(name);
            new CachedGI();
        },
        ::testing::ExitedWithCode(kFatalExitStatus), "Shader source licupdate.glsl is missing");
}

TEST(RendererSources, MissingGeometrySourcesLeaveTheirProgramsOut) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            createHeadlessContext(800, 450);
            for (const char* name : {"util.glsl", "ray.glsl", "licache.glsl", "deferred.glsl",
                                     "licupdate.glsl", "bvh_leaves.glsl", "bvh_nodes.glsl"})
                loadAsset(name);
            CachedGI* renderer = new CachedGI();
            ShaderProgram** programs = renderer->geometryPrograms();
            std::_Exit(programs[0] == nullptr && programs[1] == nullptr && programs[2] == nullptr ? 3 : 4);
        },
        ::testing::ExitedWithCode(3), "");
}

// ---- Gathering: the hemisphere above the surface, as far as the scene reaches ----

TEST(Gather, TheMeanOfTheRaysIsTheIrradianceFromAboveOnly) {
    // A floor (y = 0) under a white ceiling 3 units up, lit by a light just below it, and a lit
    // plate under the floor that only rays into the floor could see. The gathering entries of one
    // update stand on the floor; the mean of their light must be the ceiling's irradiance there:
    // E(p) = integral over the ceiling of B(x) cos(at p) cos(at x) / (pi r^2) dA, with B the
    // ceiling's albedo times its direct light (the renderer's light has no 1 / pi).
    CachedGI& renderer = testRenderer();
    writeInitialLightCache();
    Mesh floor, ceiling, plate;
    addQuad(floor, {-4, 0, -4}, {-4, 0, 4}, {4, 0, 4}, {4, 0, -4}, {0, 1, 0});
    addQuad(ceiling, {-4, 3, -4}, {4, 3, -4}, {4, 3, 4}, {-4, 3, 4}, {0, -1, 0});
    addQuad(plate, {-4, -0.5f, -4}, {-4, -0.5f, 4}, {4, -0.5f, 4}, {4, -0.5f, -4}, {0, 1, 0});
    for (Mesh* mesh : {&floor, &ceiling, &plate}) finish(*mesh);
    const GPULightEntry above{{0, 2.5f, 0, 1}, {1, 1, 1, 5000}}, below{{0, -0.25f, 0, 1}, {1, 1, 1, 5000}};
    beginTestFrame();
    renderer.beginFrame();
    setCamera();
    std::vector<GPULightEntry> lights(100, GPULightEntry{});
    lights[0] = above;
    lights[1] = below;
    setHostBuffer("gpuLights", lights);
    for (Mesh* mesh : {&floor, &ceiling, &plate})
        drawMesh(renderer.texmProgram, *mesh, identity(), identity(), {1, 1, 1, 1});
    renderer.postRenderFrame();
    presentFrame();

    // Every entry the update gathers for this frame stands on the floor, with no light yet.
    const auto* initial = static_cast<const LICEntry*>(storeBuffer("liCache")->hostData);
    LightCache cache{{initial, initial + kLightCacheEntryCount}};
    std::mt19937 random(17);
    std::uniform_real_distribution<float> across(-3.5f, 3.5f);
    std::vector<uint32_t> gathering;
    std::vector<Vec3> points;
    for (uint32_t i = 0; i < cache.entries.size(); ++i) {
        LICEntry entry{};
        entry.lfHI = (i & 0x1FFFFFFu) + (static_cast<uint32_t>(cache.frame) << 25);
        entry.dax = 0x7F00u;
        if (updateStep(entry, i, cache.frame) != UpdateStep::gather) continue;
        entry.normal = packSnorm4x8({0, 1, 0, 0});
        Vec3 p{across(random), 0, across(random)};
        float cell[4] = {0.5f * std::floor(2 * p[0]), 0, 0.5f * std::floor(2 * p[2]), 0.5f};
        std::memcpy(entry.posS, cell, sizeof(cell));
        entry.tracePos = packUnorm4x8({(p[0] - cell[0]) / 0.5f, 0, (p[2] - cell[2]) / 0.5f, 0});
        for (int c : {0, 2})
            p[c] = cell[c] + 0.5f * static_cast<float>((entry.tracePos >> (8 * c)) & 255u) / 255.0f;
        entry.inLight[3] = 0.001f;
        cache.entries[i] = entry;
        gathering.push_back(i);
        points.push_back(p);
    }
    setHostBuffer("liCache", cache.entries);
    setHostBuffer("licInfo", std::vector<LICInfo>{{0, 0, cache.frame, kLightCacheEntryCount}});
    renderer.updateLightCache();
    std::vector<LICEntry> gpu = readBuffer<LICEntry>(storeBuffer("liCache")->glBuffer, kLightCacheEntryCount);

    double measured = 0, expected = 0;
    const int steps = 48;
    for (size_t k = 0; k < gathering.size(); ++k) {
        const LICEntry& entry = gpu[gathering[k]];
        ASSERT_GT(entry.inLight[3], 19.0f) << "one unit of weight per ray";
        measured += entry.inLight[1] / entry.inLight[3];
        for (int a = 0; a < steps; ++a)
            for (int b = 0; b < steps; ++b) {
                Vec3 x{-4 + 8 * (a + 0.5f) / steps, 3, -4 + 8 * (b + 0.5f) / steps};
                Vec3 toLight = minus({0, 2.5f, 0}, x), toX = minus(x, points[k]);
                double dL2 = dotted(toLight, toLight), r2 = dotted(toX, toX);
                double radiosity =
                    5000 * 0.001 / dL2 * (0.5 / std::sqrt(dL2)); // white, cosine at the ceiling
                double cosine = 3 / std::sqrt(r2);               // the same at both ends
                expected += radiosity * cosine * cosine / (3.14159265 * r2) * (64.0 / (steps * steps));
            }
    }
    measured /= static_cast<double>(gathering.size());
    expected /= static_cast<double>(gathering.size());
    EXPECT_GT(gathering.size(), 8000u);
    EXPECT_NEAR(measured, expected, 0.03 * expected) << "measured " << measured << ", expected " << expected;
}
