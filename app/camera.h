/* camera.h — the demo's orbit camera and projection, fixed by its timeline.

   demoCamera(t, width, height) gives the four matrices the entry function stores every frame
   ("proj", "camera", "invProj", "invCamera"); demoEyePosition(t) and demoProjection(width,
   height) reproduce the timeline bit for bit (mixed double/single precision as the timeline
   defines it). The matrices come from app/matrix.h.

   fitCamera is the same orbit framed on a scene's world bounds instead of the demo's hall
   (the "-camera:fit" option): the eye circles and bobs like the orbit's, 45 degrees further
   round (towards +z) and from some 30 degrees higher, about the centre of the bounds, at the distance where the bounds' corners fill 95 %
   of the view along its tighter axis, with near and far planes around them. */
#pragma once

#include "app/matrix.h"

#include <span>

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

// The demo's field of view (half-extent 0.5 at distance 1 on the shorter side) with the given
// near and far planes (0 < nearPlane < farPlane).
Mat4 perspectiveProjection(int windowWidth, int windowHeight, float nearPlane, float farPlane);

// World-space bounds: minimum x, y, z, then maximum x, y, z.
using SceneBounds = std::array<float, 6>;

// The orbit at music time t framed on `bounds` (empty bounds, minimum above maximum, give
// the demo's own camera): centred on them, far enough that `points` (x, y, z each), or the
// corners of the bounds when there are none, fill 95 % of the view.
DemoCamera fitCamera(float t, int windowWidth, int windowHeight, const SceneBounds& bounds,
                     std::span<const float> points = {});
