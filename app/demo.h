/* demo.h — the demo's start-up sequence and its frame, shared by nova31 and nova31-shot.

   runDemo is the whole program: start-up, main loop, shutdown. The steps are also offered one
   by one so that tools run the same start-up (for example without music) and draw single frames:

       loadDemoArchive(argc, argv);           // "Demo start", the archive into the store
       TimeSource* music = startDemoMusic();  // "tune.ogg", paused
       const void* blob = packDemoScene();    // "scene1.gltf"
       createDemoWindow(true, 800, 450);      // platform/window.h
       DemoRenderer demo = createDemoRenderer(blob, cameraFromArguments(argc, argv));
       writeInitialLightCache();
       if (drawDemoFrame(demo, t)) { ...read the frame back...; finishDemoFrame(demo); }

   A file the demo cannot do without ("tune.ogg", "scene1.gltf") that is neither in the archive
   nor in the working directory ends the program through fatalError naming it. */
#pragma once

#include "app/camera.h"
#include "app/command_line.h"
#include "store/store.h"

#include <vector>

class TimeSource;
class CachedGI;
class Scene;

// The program's own Variables, which no program reads (spare room kept for experiments);
// createDemoRenderer creates them.
#define NOVA31_DEMO_VARIABLES(X)                                                                             \
    X(kDummyVariable, "dummy", 4)                                                                            \
    X(kDummy2Variable, "dummy2", 1600)
NOVA31_DEMO_VARIABLES(NOVA31_DECLARE_VARIABLE)

// The renderer and the scene, created once after the window and living for the run.
struct DemoRenderer {
    CachedGI* renderer = nullptr;
    Scene* scene = nullptr;
    CameraChoice camera = CameraChoice::orbit;
    SceneBounds bounds{};       // the scene's world bounds over the run, framed by CameraChoice::fit
    std::vector<float> outline; // a sample of its vertices over the run (x, y, z each), the same
};

// Start-up steps 1-3: "Demo start", the archive path ("-data:", else `defaultArchive`, else the
// executable), every member into the variable store.
void loadDemoArchive(int argc, char** argv, const char* defaultArchive = nullptr);

// getVariable(name, 0), or fatalError naming the file when it is nowhere.
Variable* requireDemoFile(const char* name);

// Start-up steps 4-5: the music player on "tune.ogg", paused; "Tune done".
TimeSource* startDemoMusic();

// Start-up step 6: "scene1.gltf" packed into the scene blob (fatalError when it is rejected).
const void* packDemoScene();

// Start-up steps 8-10: the renderer, then the scene decoded from the blob; "Post blob init!".
// With CameraChoice::fit the scene's bounds over the run (every 0.25 s) are measured for the
// framing camera.
DemoRenderer createDemoRenderer(const void* sceneBlob, CameraChoice camera = CameraChoice::orbit);

// Steps 5-14 of a rendered loop pass up to the shading: the named values, the clear, the camera,
// the scene draw and the renderer's passes at music time t. Returns false, having shaded
// nothing, when the music time after the scene update is past the end of the demo.
bool drawDemoFrame(DemoRenderer& demo, float t);

// The rest of a rendered pass: present the frame and refresh the light cache.
void finishDemoFrame(DemoRenderer& demo);

// The whole demo; returns the process exit code (0 at a normal end).
int runDemo(int argc, char** argv);
