#include "app/demo.h"

#include "app/camera.h"
#include "app/command_line.h"
#include "app/console.h"
#include "app/timeline.h"
#include "archive/archive.h"
#include "audio/music.h"
#include "platform/gl.h"
#include "platform/window.h"
#include "render/cached_gi.h"
#include "scene/gltf_pack.h"
#include "scene/image.h"
#include "scene/scene.h"
#include "shader/shader_source.h"
#include "store/store.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

// Milliseconds modulo 2^32; the timeline subtracts two of them as unsigned values.
uint32_t millisecondClock() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The framing camera measures the scene's bounds at this step of music time (seconds), and
// samples about this many of its vertices over the run.
constexpr float kFitBoundsStep = 0.25f;
constexpr size_t kFitOutlinePoints = 16384;

// Handles to the named values the entry function writes every frame.
struct FrameValues {
    Variable* resolution = getVariable(kResolutionVariable, 8);
    Variable* time = getVariable(kTimeVariable, 4);
    Variable* proj = getVariable(kProjectionVariable, 64);
    Variable* camera = getVariable(kCameraVariable, 64);
    Variable* invProj = getVariable(kInverseProjectionVariable, 64);
    Variable* invCamera = getVariable(kInverseCameraVariable, 64);
};

FrameValues& frameValues() {
    static FrameValues values;
    return values;
}

void storeMatrix(Variable* v, const Mat4& m) {
    std::memcpy(currentData<float>(v), m.data(), sizeof m);
}

float readTime() {
    return *currentData<float>(frameValues().time);
}

} // namespace

// ---- Start-up ----

Variable* requireDemoFile(const char* name) {
    Variable* file = getVariable(name, 0);
    if (file == nullptr) {
        fatalErrorFormat("%s was found neither in the asset archive nor in the working directory", name);
    }
    return file;
}

void loadDemoArchive(int argc, char** argv, const char* defaultArchive) {
    consoleLog("Demo start\n");
    // Images are decoded into textures as the archive's members enter the store.
    installImageHook();
    // The executable itself holds the archive unless "-data:" (or a tool) names another file.
    std::string fallback = defaultArchive != nullptr ? std::string(defaultArchive) : executablePath();
    const char* dataPath = dataPathFromArguments(argc, argv, fallback.c_str());
    loadArchive(dataPath, [](const char* name, uint32_t size, const void* bytes) {
        putFileVariable(name, size, bytes);
    });
}

TimeSource* startDemoMusic() {
    Variable* tune = requireDemoFile("tune.ogg");
    const auto* bytes = currentData<const unsigned char>(tune);
    TimeSource* player = createOggPlayer(bytes, static_cast<uint32_t>(tune->dataSize));
    player->setPlaying(false);
    consoleLog("Tune done\n");
    return player;
}

const void* packDemoScene() {
    int blobSize = 0;
    return loadGLTFVariable(requireDemoFile("scene1.gltf"), &blobSize);
}

DemoRenderer createDemoRenderer(const void* sceneBlob, CameraChoice camera) {
    // The renderer and the scene live until the process exits and are never freed; the copy
    // here keeps them where leak checkers see them after the caller's frame is gone.
    static DemoRenderer demo;
    NOVA31_DEMO_VARIABLES(NOVA31_CREATE_VARIABLE)
    demo.renderer = new CachedGI();
    demo.scene = new Scene();
    demo.scene->init(sceneBlob);
    demo.camera = camera;
    if (camera == CameraChoice::fit) {
        // Everything the scene draws over the demo's run, its animations included.
        demo.bounds = demo.scene->worldBounds(0.0f);
        const bool animated = demo.scene->animated();
        const int samples = animated ? static_cast<int>(kDemoEndTime / kFitBoundsStep) + 1 : 1;
        demo.outline.clear();
        for (int i = 0; i < samples; ++i) {
            const float t = static_cast<float>(i) * kFitBoundsStep;
            SceneBounds at = demo.scene->worldBounds(t);
            for (int c = 0; c < 3; ++c) {
                demo.bounds[c] = std::min(demo.bounds[c], at[c]);
                demo.bounds[3 + c] = std::max(demo.bounds[3 + c], at[3 + c]);
            }
            demo.scene->worldPoints(t, kFitOutlinePoints / static_cast<size_t>(samples), demo.outline);
        }
        const SceneBounds& b = demo.bounds;
        if (b[0] <= b[3])
            consoleLog("Framing camera: scene bounds (%g, %g, %g) to (%g, %g, %g)\n", b[0], b[1], b[2], b[3],
                       b[4], b[5]);
        else
            consoleLog("Framing camera: the scene draws nothing; the demo's orbit stays\n");
    }
    consoleLog("Post blob init!\n");
    return demo;
}

// ---- One frame ----

void writeFrameValues(float t) {
    FrameValues& values = frameValues();
    float* resolution = currentData<float>(values.resolution);
    resolution[0] = static_cast<float>(windowWidth);
    resolution[1] = static_cast<float>(windowHeight);
    *currentData<float>(values.time) = t;
}

bool drawDemoFrame(DemoRenderer& demo, float t) {
    writeFrameValues(t);
    glClearColor(0.0f, 0.0f, clearColorBlue(t), 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    demo.renderer->beginFrame();

    DemoCamera matrices = demo.camera == CameraChoice::fit
                              ? fitCamera(readTime(), windowWidth, windowHeight, demo.bounds, demo.outline)
                              : demoCamera(readTime(), windowWidth, windowHeight);
    FrameValues& values = frameValues();
    storeMatrix(values.proj, matrices.proj);
    storeMatrix(values.camera, matrices.camera);
    storeMatrix(values.invProj, matrices.invProj);
    storeMatrix(values.invCamera, matrices.invCamera);

    ShaderProgram** programs = demo.renderer->geometryPrograms();
    std::strcpy(demo.scene->cameraName, "Camera");
    demo.scene->updateAndDraw(readTime(), programs);

    // The pass whose music time has passed the end is neither shaded nor presented.
    if (readTime() > kDemoEndTime) return false;
    demo.renderer->postRenderFrame();
    return true;
}

void finishDemoFrame(DemoRenderer& demo) {
    presentFrame();
    demo.renderer->updateLightCache();
}

// ---- The whole demo ----

int runDemo(int argc, char** argv) {
    installFatalErrorMessageBox();
    loadDemoArchive(argc, argv);
    TimeSource* music = startDemoMusic();
    const void* sceneBlob = packDemoScene();
    createDemoWindow(true, 800, 450);
    DemoRenderer demo = createDemoRenderer(sceneBlob, cameraFromArguments(argc, argv));

    TimelineState timeline = startTimeline(millisecondClock());
    writeInitialLightCache();
    music->seek(0.0f);
    music->setPlaying(true);
    consoleLog("Post-play");

    while (timeline.demoRunning != 0) {
        int key = pendingKeyCount() != 0 ? nextKey() : kNoKey;
        PassOutcome outcome = beginLoopPass(timeline, millisecondClock(), key, *music);
        if (outcome == PassOutcome::Quit) break;
        if (outcome == PassOutcome::KeyDone) continue;
        if (outcome == PassOutcome::Paused) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        if (!drawDemoFrame(demo, music->currentTime())) break;
        finishDemoFrame(demo);
    }
    music->setPlaying(false);
    return 0;
}
