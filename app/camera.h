/* camera.h — the demo's orbit camera and projection, fixed by its timeline.

   demoCamera(t, width, height) gives the four matrices the entry function stores every frame
   ("proj", "camera", "invProj", "invCamera"); demoEyePosition(t) and demoProjection(width,
   height) reproduce the timeline bit for bit (mixed double/single precision as the timeline
   defines it). The matrices come from app/matrix.h. */
#pragma once

#include "app/matrix.h"

// Perspective with near plane 1, far 10001, half-extent 0.5 at distance 1 on the shorter side.
Mat4 demoProjection(int windowWidth, int windowHeight);

// The eye of the orbit camera at music time t (seconds); it looks at demoCameraTarget.
Vec3 demoEyePosition(float t);
constexpr Vec3 demoCameraTarget{0.0f, 0.72f, 0.0f};
constexpr Vec3 demoCameraUp{0.0f, 1.0f, 0.0f};

struct DemoCamera {
    Mat4 proj;      // view to clip
    Mat4 camera;    // world to view
    Mat4 invProj;   // clip to view
    Mat4 invCamera; // view to world
};

DemoCamera demoCamera(float t, int windowWidth, int windowHeight);
