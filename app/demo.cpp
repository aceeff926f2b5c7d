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

DemoRenderer createDemoRenderer(const void* sceneBlob) {
    // The renderer and the scene live until the process exits and are never freed; the copy
    // here keeps them where leak checkers see them after the caller's frame is gone.
    static DemoRenderer demo;
    NOVA31_DEMO_VARIABLES(NOVA31_CREATE_VARIABLE)
    demo.renderer = new CachedGI();
    demo.scene = new Scene();
    demo.scene->init(sceneBlob);
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

    DemoCamera matrices = demoCamera(readTime(), windowWidth, windowHeight);
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
    DemoRenderer demo = createDemoRenderer(sceneBlob);

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
