// GPU time of the renderer's passes, measured with timestamp queries: geometry (G-buffer and
// capture), tree build, deferred shading, light-cache update, whole frame; and the shadow rays'
// counters of one more frame (see shadow_counters.h).
//   BM_Frame           a hall of boxes drawn by the benchmark, at several sizes;
//   BM_LightCacheIdle  the light-cache update alone over a cache with no entry in use;
//   BM_DemoFrame       the demo's own frame: assets/ through the scene runtime at music time
//                      10 s, 800 x 450, after a few frames that warm the light cache;
//   BM_Scale/N         about N triangles at 800 x 450, far from the origin: copies of the demo's
//                      hall (without its ceiling) on a grid over a finely subdivided terrain,
//                      each about half the triangles, every mesh drawn in shuffled order.
// With a display it draws in a 1920 x 1080 window (Xvfb started at least that size will do) and
// skips larger sizes; with none (DISPLAY unset) in a 3840 x 2160 headless frame, so every size
// runs. The context's GL vendor, renderer, version and bindless support head the output.
//
//     build/bench/render_bench                    all sizes, 64-invocation work groups
//     build/bench/render_bench --benchmark_filter=Single   1 x 1 x 1 groups for comparison
//     env -u DISPLAY build/bench/render_bench --benchmark_filter='BM_Frame/800/'   one size
//     env -u DISPLAY build/bench/render_bench --benchmark_filter='BM_DemoFrame|BM_Scale'
#include "mini_scene.h"
#include "shadow_counters.h"

#include "app/camera.h"
#include "app/timeline.h"
#include "platform/gl.h"
#include "platform/window.h"
#include "scene/gltf_pack.h"
#include "scene/image.h"
#include "scene/scene.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>

using namespace mini;

namespace {

using Vec3 = mini::Vec3; // not the timeline's

const char* const kShaderFiles[] = {"util.glsl",      "ray.glsl",        "licache.glsl",
                                    "licupdate.glsl", "bvh_leaves.glsl", "bvh_nodes.glsl",
                                    "texm.glsl",      "flat.glsl",       "deferred.glsl"};

std::string assetText(const char* name) {
    std::ifstream file(std::string(NOVA31_SOURCE_DIR) + "/assets/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The window (or headless frame) and the shader files, once; afterwards the GL context's
// identity for the benchmark's context lines.
void openWindow() {
    static bool opened = [] {
        const char* display = std::getenv("DISPLAY");
        bool windowed = display != nullptr && display[0] != '\0';
        createDemoWindow(false, windowed ? 1920 : 3840, windowed ? 1080 : 2160);
        for (const char* name : kShaderFiles) {
            std::string text = assetText(name);
            putFileVariable(name, static_cast<uint32_t>(text.size()), text.data());
        }
        return true;
    }();
    (void)opened;
}

void addGLContextLines() {
    openWindow();
    for (auto [key, name] :
         {std::pair{"gl_vendor", GL_VENDOR}, {"gl_renderer", GL_RENDERER}, {"gl_version", GL_VERSION}}) {
        const GLubyte* text = glGetString(name);
        benchmark::AddCustomContext(key, text != nullptr ? reinterpret_cast<const char*>(text) : "(null)");
    }
    benchmark::AddCustomContext("gl_bindless_texture",
                                hasExtension("GL_ARB_bindless_texture") ? "yes" : "no");
    benchmark::AddCustomContext("gl_frame", std::to_string(windowWidth) + "x" + std::to_string(windowHeight));
}

// A hall of 12 x 12 boxes of varying height on a 24 x 24 floor: 1730 triangles.
Mesh& hall() {
    static Mesh mesh = [] {
        Mesh m;
        addQuad(m, {-12, 0, -12}, {-12, 0, 12}, {12, 0, 12}, {12, 0, -12}, {0, 1, 0});
        for (int i = 0; i < 12; ++i)
            for (int j = 0; j < 12; ++j) {
                float x = -11.0f + 2.0f * i, z = -11.0f + 2.0f * j, h = 0.3f + 0.15f * ((i * 7 + j * 3) % 11);
                addBox(m, {x - 0.4f, 0, z - 0.4f}, {x + 0.4f, h, z + 0.4f});
            }
        finish(m);
        return m;
    }();
    return mesh;
}

struct ClearColor {
    float r, g, b;
};
constexpr ClearColor kHallClear{0.1f, 0.1f, 0.2f};

// The frame's named values, the cleared window corner, and the state the demo's frame starts with.
void setFrameValues(int width, int height, float time, ClearColor clear) {
    glViewport(0, 0, width, height);
    float resolution[2] = {static_cast<float>(width), static_cast<float>(height)};
    std::memcpy(storeValue<float>("iResolution", 8), resolution, 8);
    *storeValue<float>("iGlobalTime", 4) = time;
    // Only the drawn corner: a frame larger than the size measured (the headless one is
    // 3840 x 2160) must not add its own clearing to the figures. The G-buffer is cleared with
    // the same colour by beginFrame.
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, width, height);
    glClearColor(clear.r, clear.g, clear.b, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
}

void setLights(const std::vector<GPULightEntry>& lights) {
    BufferRecord* record = storeBuffer("gpuLights");
    if (record->hostCapacity < 100) {
        record->hostData = new GPULightEntry[100];
        record->hostCapacity = 100;
    }
    std::memset(record->hostData, 0, sizeof(GPULightEntry) * 100);
    std::memcpy(record->hostData, lights.data(),
                sizeof(GPULightEntry) * std::min<size_t>(lights.size(), 100));
    record->elementSize = 32;
    record->elementCount = record->pending = 100;
}

void setCamera(const Camera& camera, int width, int height, float farZ) {
    setMatrix("proj", perspective(1.0f, float(width) / height, 0.1f, farZ));
    setMatrix("camera", camera.view);
    setMatrix("invProj", identity());
    setMatrix("invCamera", camera.inverseView);
}

void setCameraAndLights(int width, int height, int frame) {
    float angle = frame * 0.01f;
    setCamera(lookAt({9 * std::cos(angle), 4.0f, 9 * std::sin(angle)}, {0, 0.5f, 0}), width, height, 100.0f);
    setLights({{{4, 3, 2, 1}, {1, 0.8f, 0.6f, 20000}},
               {{-5, 2.5f, -3, 1}, {0.5f, 0.7f, 1, 15000}},
               {{0, 4, -6, 1}, {1, 1, 1, 10000}},
               {{-2, 1.5f, 5, 1}, {1, 0.3f, 0.3f, 8000}}});
}

// Swaps in programs whose work groups hold one invocation, as the dispatch layout is defined.
void useSingleInvocationGroups(CachedGI& renderer) {
    auto single = [](const char* name) {
        std::string text = assetText(name);
        size_t at = text.find("local_size_x = 64");
        if (at != std::string::npos) text.replace(at, 17, "local_size_x = 1");
        return text;
    };
#ifdef NOVA31_TREE_PROGRAMS
    renderer.treePrograms =
        buildTreePrograms(single("bvh_leaves.glsl").c_str(), single("bvh_nodes.glsl").c_str());
#else
    renderer.leavesProgram = buildProgram(0, single("bvh_leaves.glsl").c_str());
    renderer.nodesProgram = buildProgram(0, single("bvh_nodes.glsl").c_str());
#endif
    renderer.updateProgram = buildProgram(0, single("licupdate.glsl").c_str());
}

// One renderer per G-buffer size; a new one takes over the shared G-buffer Variables.
CachedGI* rendererFor(int width, int height, bool singleInvocation) {
    static std::unique_ptr<CachedGI> current;
    static int currentWidth = 0, currentHeight = 0;
    static bool currentSingle = false;
    if (!current || currentWidth != width || currentHeight != height || currentSingle != singleInvocation) {
        int keptWidth = windowWidth, keptHeight = windowHeight;
        windowWidth = width;
        windowHeight = height;
        current.reset(new CachedGI());
        windowWidth = keptWidth;
        windowHeight = keptHeight;
        if (singleInvocation) useSingleInvocationGroups(*current);
        writeInitialLightCache();
        currentWidth = width;
        currentHeight = height;
        currentSingle = singleInvocation;
    }
    return current.get();
}

// ---- Timed frames ----

enum Stamp { frameStart, geometryDone, treeDone, shadingDone, updateDone, stampCount };

// Times `frames` frames drawn by `draw` (which also sets the frame's values and begins the
// frame), each pass between timestamp queries, into the state's per-pass counters.
void timeFrames(benchmark::State& state, CachedGI& renderer, const DrawGeometry& draw) {
    GLuint queries[stampCount];
    glGenQueries(stampCount, queries);
    double totals[stampCount] = {};
    int frames = 0;
    for (auto _ : state) {
        glQueryCounter(queries[frameStart], GL_TIMESTAMP);
        draw();
        glQueryCounter(queries[geometryDone], GL_TIMESTAMP);
        // The frame's tree build, then the shading pass alone (no triangles left to build over).
        int32_t* triangles = storeValue<int32_t>("xfTriCount", 4);
        renderer.buildTriangleTree(std::min(*triangles, storeBuffer("xfFeedback")->elementCount / 3));
        glQueryCounter(queries[treeDone], GL_TIMESTAMP);
        *triangles = 0;
        renderer.postRenderFrame();
        glQueryCounter(queries[shadingDone], GL_TIMESTAMP);
        presentFrame();
        renderer.updateLightCache();
        glQueryCounter(queries[updateDone], GL_TIMESTAMP);
        GLuint64 stamps[stampCount];
        for (int s = 0; s < stampCount; ++s) glGetQueryObjectui64v(queries[s], GL_QUERY_RESULT, &stamps[s]);
        for (int s = 1; s < stampCount; ++s)
            totals[s] += static_cast<double>(stamps[s] - stamps[s - 1]) * 1e-9;
        state.SetIterationTime(static_cast<double>(stamps[updateDone] - stamps[frameStart]) * 1e-9);
        ++frames;
    }
    glDeleteQueries(stampCount, queries);
    auto perFrameMs = [&](int s) { return benchmark::Counter(totals[s] * 1e3 / std::max(frames, 1)); };
    state.counters["geometry_ms"] = perFrameMs(geometryDone);
    state.counters["bvh_ms"] = perFrameMs(treeDone);
    state.counters["deferred_ms"] = perFrameMs(shadingDone);
    state.counters["licupdate_ms"] = perFrameMs(updateDone);
}

// Frames drawn and finished untimed, so that the light cache holds what a running demo has.
void warmLightCache(CachedGI& renderer, const DrawGeometry& draw, int frames) {
    for (int f = 0; f < frames; ++f) {
        draw();
        renderer.postRenderFrame();
        presentFrame();
        renderer.updateLightCache();
    }
    glFinish();
}

bool frameFits(benchmark::State& state, int width, int height) {
    openWindow();
    if (windowWidth >= width && windowHeight >= height) return true;
    state.SkipWithError("needs a frame of at least this size (run it without a display)");
    return false;
}

// ---- The hall of boxes ----

void renderFrame(benchmark::State& state, bool singleInvocation) {
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    if (!frameFits(state, width, height)) return;
    CachedGI& renderer = *rendererFor(width, height, singleInvocation);
    int frame = 0;
    DrawGeometry draw = [&] {
        setFrameValues(width, height, frame / 60.0f, kHallClear);
        renderer.beginFrame();
        setCameraAndLights(width, height, frame);
        drawMesh(renderer.geometryPrograms()[0], hall(), identity(), identity(), {0.8f, 0.8f, 0.8f, 1});
        ++frame;
    };
    timeFrames(state, renderer, draw);
    if (singleInvocation) {
        state.counters["triangles"] = static_cast<double>(hall().corners.size() / 3);
        return;
    }
    countShadowRays(state, renderer, width, height, draw);
}

void BM_Frame(benchmark::State& state) {
    renderFrame(state, false);
}
void BM_FrameSingleInvocationGroups(benchmark::State& state) {
    renderFrame(state, true);
}

constexpr int kDemoWidth = 800, kDemoHeight = 450; // the demo's window

// ---- The light cache with no entry in use ----

// The update pass alone over a cache as writeInitialLightCache leaves it: every entry returns
// at its first test, so this is the pass's floor.
void BM_LightCacheIdle(benchmark::State& state) {
    if (!frameFits(state, kDemoWidth, kDemoHeight)) return;
    CachedGI& renderer = *rendererFor(kDemoWidth, kDemoHeight, false);
    setCameraAndLights(kDemoWidth, kDemoHeight, 0); // the update reads the lights even when idle
    writeInitialLightCache();
    renderer.updateLightCache(); // the upload of the initial contents, untimed
    GLuint queries[2];
    glGenQueries(2, queries);
    for (auto _ : state) {
        glQueryCounter(queries[0], GL_TIMESTAMP);
        renderer.updateLightCache();
        glQueryCounter(queries[1], GL_TIMESTAMP);
        GLuint64 stamps[2];
        for (int s = 0; s < 2; ++s) glGetQueryObjectui64v(queries[s], GL_QUERY_RESULT, &stamps[s]);
        state.SetIterationTime(static_cast<double>(stamps[1] - stamps[0]) * 1e-9);
    }
    glDeleteQueries(2, queries);
}

// ---- The demo's frame ----

constexpr float kDemoTime = 10.0f; // music seconds
constexpr int kWarmFrames = 6;     // frames before the measured ones

const char* const kSceneFiles[] = {"scene1.gltf", "scene1.bin", "tex1.png", "tex2.png", "tex3.png"};

// The demo's scene from assets/, decoded by the scene runtime once the renderer exists.
Scene& demoScene() {
    static Scene* scene = [] {
        installImageHook();
        for (const char* name : kSceneFiles) {
            std::string bytes = assetText(name);
            putFileVariable(name, static_cast<uint32_t>(bytes.size()), bytes.data());
        }
        auto* s = new Scene();
        s->init(loadGLTFVariable(getVariable("scene1.gltf", 0)));
        return s;
    }();
    return *scene;
}

// The demo's frame at music time t, as the demo draws it: its clear colour, orbit camera and
// animated scene.
void drawDemoGeometry(CachedGI& renderer, float t) {
    setFrameValues(kDemoWidth, kDemoHeight, t, {0, 0, clearColorBlue(t)});
    renderer.beginFrame();
    DemoCamera matrices = demoCamera(t, kDemoWidth, kDemoHeight);
    setMatrix("proj", matrices.proj);
    setMatrix("camera", matrices.camera);
    setMatrix("invProj", matrices.invProj);
    setMatrix("invCamera", matrices.invCamera);
    Scene& scene = demoScene();
    std::strcpy(scene.cameraName, "Camera");
    scene.updateAndDraw(t, renderer.geometryPrograms());
}

CachedGI& demoRenderer() {
    openWindow();
    CachedGI& renderer = *rendererFor(kDemoWidth, kDemoHeight, false);
    demoScene();
    return renderer;
}

void BM_DemoFrame(benchmark::State& state) {
    if (!frameFits(state, kDemoWidth, kDemoHeight)) return;
    CachedGI& renderer = demoRenderer();
    DrawGeometry draw = [&] { drawDemoGeometry(renderer, kDemoTime); };
    warmLightCache(renderer, draw, kWarmFrames);
    timeFrames(state, renderer, draw);
    countShadowRays(state, renderer, kDemoWidth, kDemoHeight, draw);
}

// ---- Scenes that grow ----

// The demo's captured triangles at music time 10 s (world space, three corners each).
const std::vector<Vec3>& demoTriangles() {
    static std::vector<Vec3> corners = [] {
        CachedGI& renderer = demoRenderer();
        drawDemoGeometry(renderer, kDemoTime);
        renderer.postRenderFrame();
        return readCapturedCorners(
            std::min(*storeValue<int32_t>("xfTriCount", 4), storeBuffer("xfFeedback")->elementCount / 3));
    }();
    return corners;
}

void addTriangle(Mesh& mesh, Vec3 a, Vec3 b, Vec3 c) {
    Vec3 normal = normalized(crossed(minus(b, a), minus(c, a)));
    if (!(normal[0] == normal[0])) normal = {0, 1, 0};
    for (Vec3 corner : {a, b, c}) {
        mesh.pos.insert(mesh.pos.end(), corner.begin(), corner.end());
        mesh.normal.insert(mesh.normal.end(), normal.begin(), normal.end());
        mesh.uv.insert(mesh.uv.end(), {0.5f, 0.5f});
        mesh.corners.push_back(corner);
    }
    mesh.faceNormals.push_back(normal);
}

// The scene of about `target` triangles, its meshes in drawing order.
struct GrownScene {
    std::vector<std::unique_ptr<Mesh>> meshes;
    Vec3 centre;  // of the grid, on the ground
    float extent; // the grid's edge length
    int32_t triangles = 0;
};

constexpr Vec3 kFarAway{1500.0f, 40.0f, -2500.0f}; // where the grid's corner lies

GrownScene growScene(int32_t target) {
    const std::vector<Vec3>& hallCorners = demoTriangles();
    Vec3 lo{INFINITY, INFINITY, INFINITY}, hi{-INFINITY, -INFINITY, -INFINITY};
    for (const Vec3& p : hallCorners)
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], p[c]);
            hi[c] = std::max(hi[c], p[c]);
        }
    const auto hallTriangles = static_cast<int32_t>(hallCorners.size() / 3);
    // Every size is the same scene grown: halls on a g x g grid hold about half the triangles and a
    // terrain under them, subdivided the finer the larger the scene, the other half.
    const int grid = std::max(1, static_cast<int>(std::lround(std::sqrt(target / 2.0 / hallTriangles))));
    const float spacing = 1.15f * std::max(hi[0] - lo[0], hi[2] - lo[2]);
    GrownScene scene;
    scene.extent = grid * spacing;
    scene.centre = {kFarAway[0] + scene.extent / 2, kFarAway[1], kFarAway[2] + scene.extent / 2};
    for (int i = 0; i < grid; ++i)
        for (int j = 0; j < grid; ++j) {
            auto mesh = std::make_unique<Mesh>();
            Vec3 shift{kFarAway[0] + (i + 0.5f) * spacing - 0.5f * (lo[0] + hi[0]), kFarAway[1] - lo[1],
                       kFarAway[2] + (j + 0.5f) * spacing - 0.5f * (lo[2] + hi[2])};
            for (size_t v = 0; v < hallCorners.size(); v += 3) {
                // Without its ceiling, so that the camera and the lights above see into the hall.
                if (std::min({hallCorners[v][1], hallCorners[v + 1][1], hallCorners[v + 2][1]}) >
                    hi[1] - 0.01f)
                    continue;
                Vec3 t[3];
                for (int k = 0; k < 3; ++k)
                    for (int c = 0; c < 3; ++c) t[k][c] = hallCorners[v + k][c] + shift[c];
                addTriangle(*mesh, t[0], t[1], t[2]);
            }
            scene.triangles += static_cast<int32_t>(mesh->corners.size() / 3);
            scene.meshes.push_back(std::move(mesh));
        }
    // The terrain: a rolling height field of n x n quads in 8 x 8 patches, each patch in row order.
    {
        const int patches = 8;
        const int n = std::max(static_cast<int>(std::sqrt(target / 4.0)) / patches, 1) * patches;
        const float cell = scene.extent / n;
        auto height = [&](int x, int z) {
            return kFarAway[1] - 0.5f + 0.6f * std::sin(0.37f * x) * std::cos(0.23f * z);
        };
        for (int pi = 0; pi < patches; ++pi)
            for (int pj = 0; pj < patches; ++pj) {
                auto mesh = std::make_unique<Mesh>();
                for (int x = pi * n / patches; x < (pi + 1) * n / patches; ++x)
                    for (int z = pj * n / patches; z < (pj + 1) * n / patches; ++z) {
                        auto corner = [&](int cx, int cz) {
                            return Vec3{kFarAway[0] + cx * cell, height(cx, cz), kFarAway[2] + cz * cell};
                        };
                        addTriangle(*mesh, corner(x, z), corner(x, z + 1), corner(x + 1, z + 1));
                        addTriangle(*mesh, corner(x, z), corner(x + 1, z + 1), corner(x + 1, z));
                    }
                scene.meshes.push_back(std::move(mesh));
            }
        scene.triangles += 2 * n * n;
    }
    std::shuffle(scene.meshes.begin(), scene.meshes.end(), std::mt19937(19));
    for (auto& mesh : scene.meshes) finish(*mesh);
    return scene;
}

void drawGrownScene(CachedGI& renderer, GrownScene& scene) {
    setFrameValues(kDemoWidth, kDemoHeight, kDemoTime, {0, 0, 0});
    renderer.beginFrame();
    const Vec3& c = scene.centre;
    const float e = scene.extent;
    setCamera(lookAt({c[0] - 0.5f * e, c[1] + 0.32f * e + 4, c[2] - 0.5f * e}, {c[0], c[1], c[2]}),
              kDemoWidth, kDemoHeight, 4.0f * e + 100);
    const float h = c[1] + 0.25f * e + 6;
    setLights({{{c[0] - 0.3f * e, h, c[2] - 0.2f * e, 1}, {1, 0.8f, 0.6f, 2000 * e * e}},
               {{c[0] + 0.3f * e, h, c[2] - 0.3f * e, 1}, {0.5f, 0.7f, 1, 1500 * e * e}},
               {{c[0], h, c[2] + 0.3f * e, 1}, {1, 1, 1, 1000 * e * e}},
               {{c[0] + 0.1f * e, 0.5f * h + 0.5f * c[1], c[2], 1}, {1, 0.3f, 0.3f, 800 * e * e}}});
    for (auto& mesh : scene.meshes)
        drawMesh(renderer.geometryPrograms()[0], *mesh, identity(), identity(), {0.8f, 0.8f, 0.8f, 1});
}

void BM_Scale(benchmark::State& state) {
    if (!frameFits(state, kDemoWidth, kDemoHeight)) return;
    CachedGI& renderer = demoRenderer();
    GrownScene scene = growScene(static_cast<int32_t>(state.range(0)));
    DrawGeometry draw = [&] { drawGrownScene(renderer, scene); };
    warmLightCache(renderer, draw, 1);
    timeFrames(state, renderer, draw);
    countShadowRays(state, renderer, kDemoWidth, kDemoHeight, draw);
}

} // namespace

BENCHMARK(BM_Frame)->Args({800, 450})->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame)->Args({1920, 1080})->Iterations(4)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Frame)->Args({3840, 2160})->Iterations(4)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameSingleInvocationGroups)
    ->Args({800, 450})
    ->Iterations(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LightCacheIdle)->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DemoFrame)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scale)->Arg(2000)->Arg(20000)->Arg(200000)->Arg(1000000)->Iterations(2)->UseManualTime()->Unit(
    benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    addGLContextLines();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
