// GPU time of the renderer's passes on a fixed scene, measured with timestamp queries:
// geometry (G-buffer and capture), tree build, deferred shading, light-cache update, whole frame.
// With a display it draws in a 1920 x 1080 window (Xvfb started at least that size will do) and
// skips larger sizes; with none (DISPLAY unset) in a 3840 x 2160 headless frame, so every size
// runs. The context's GL vendor, renderer, version and bindless support head the output.
//
//     build/bench/render_bench                    all sizes, 64-invocation work groups
//     build/bench/render_bench --benchmark_filter=Single   1 x 1 x 1 groups for comparison
//     env -u DISPLAY build/bench/render_bench --benchmark_filter='BM_Frame/800/'   one size
#include "mini_scene.h"

#include "platform/gl.h"
#include "platform/window.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

using namespace mini;

namespace {

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

void setFrameValues(int width, int height, int frame) {
    glViewport(0, 0, width, height);
    float resolution[2] = {static_cast<float>(width), static_cast<float>(height)};
    std::memcpy(storeValue<float>("iResolution", 8), resolution, 8);
    *storeValue<float>("iGlobalTime", 4) = frame / 60.0f;
    // Only the drawn corner: a frame larger than the size measured (the headless one is
    // 3840 x 2160) must not add its own clearing to the figures.
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, width, height);
    glClearColor(0.1f, 0.1f, 0.2f, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
}

void setCameraAndLights(int width, int height, int frame) {
    float angle = frame * 0.01f;
    Camera camera = lookAt({9 * std::cos(angle), 4.0f, 9 * std::sin(angle)}, {0, 0.5f, 0});
    setMatrix("proj", perspective(1.0f, float(width) / height, 0.1f, 100.0f));
    setMatrix("camera", camera.view);
    setMatrix("invProj", identity());
    setMatrix("invCamera", camera.inverseView);
    std::vector<GPULightEntry> lights(100, GPULightEntry{});
    lights[0] = {{4, 3, 2, 1}, {1, 0.8f, 0.6f, 20000}};
    lights[1] = {{-5, 2.5f, -3, 1}, {0.5f, 0.7f, 1, 15000}};
    lights[2] = {{0, 4, -6, 1}, {1, 1, 1, 10000}};
    lights[3] = {{-2, 1.5f, 5, 1}, {1, 0.3f, 0.3f, 8000}};
    BufferRecord* record = storeBuffer("gpuLights");
    if (record->hostCapacity < 100) {
        record->hostData = new GPULightEntry[100];
        record->hostCapacity = 100;
    }
    std::memcpy(record->hostData, lights.data(), sizeof(GPULightEntry) * 100);
    record->elementSize = 32;
    record->elementCount = record->pending = 100;
}

// Swaps in programs whose work groups hold one invocation, as the dispatch layout is defined.
void useSingleInvocationGroups(CachedGI& renderer) {
    auto single = [](const char* name) {
        std::string text = assetText(name);
        size_t at = text.find("local_size_x = 64");
        if (at != std::string::npos) text.replace(at, 17, "local_size_x = 1");
        return buildProgram(0, text.c_str());
    };
    renderer.leavesProgram = single("bvh_leaves.glsl");
    renderer.nodesProgram = single("bvh_nodes.glsl");
    renderer.updateProgram = single("licupdate.glsl");
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

enum Stamp { frameStart, geometryDone, treeDone, shadingDone, updateDone, stampCount };

void renderFrame(benchmark::State& state, bool singleInvocation) {
    openWindow();
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    if (windowWidth < width || windowHeight < height) {
        state.SkipWithError("needs a frame of at least this size (run it without a display)");
        return;
    }
    CachedGI& renderer = *rendererFor(width, height, singleInvocation);
    GLuint queries[stampCount];
    glGenQueries(stampCount, queries);
    double totals[stampCount] = {};
    int frame = 0;
    for (auto _ : state) {
        setFrameValues(width, height, frame);
        glQueryCounter(queries[frameStart], GL_TIMESTAMP);
        renderer.beginFrame();
        setCameraAndLights(width, height, frame);
        drawMesh(renderer.geometryPrograms()[0], hall(), identity(), identity(), {0.8f, 0.8f, 0.8f, 1});
        glQueryCounter(queries[geometryDone], GL_TIMESTAMP);
        // The frame's tree build, then the shading pass alone (no triangles left to build over).
        int32_t* triangles = storeValue<int32_t>("xfTriCount", 4);
        renderer.buildTriangleTree(*triangles);
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
        ++frame;
    }
    glDeleteQueries(stampCount, queries);
    auto perFrameMs = [&](int s) { return benchmark::Counter(totals[s] * 1e3 / frame); };
    state.counters["geometry_ms"] = perFrameMs(geometryDone);
    state.counters["bvh_ms"] = perFrameMs(treeDone);
    state.counters["deferred_ms"] = perFrameMs(shadingDone);
    state.counters["licupdate_ms"] = perFrameMs(updateDone);
    state.counters["triangles"] = static_cast<double>(hall().corners.size() / 3);
}

void BM_Frame(benchmark::State& state) {
    renderFrame(state, false);
}
void BM_FrameSingleInvocationGroups(benchmark::State& state) {
    renderFrame(state, true);
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

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    addGLContextLines();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
