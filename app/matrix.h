/* matrix.h — the demo's 4x4 matrix helpers and its camera.

   Matrices are 16 single-precision floats, column-major (row r, column c at index 4*c + r),
   vectors multiplied on the right: the layout GL's mat4 uniforms take unchanged.

       Mat4 view = lookAt(eye, target, up);
       Mat4 back = invertMatrix(view);          // identity when the determinant is exactly 0

   The orbit camera and projection are the demo's fixed timeline: demoEyePosition(t) and
   demoProjection(width, height) reproduce it bit for bit (mixed double/single precision as
   the timeline defines it). Nothing here is SIMD-optimised or general-purpose. */
#pragma once

#include <array>

using Mat4 = std::array<float, 16>;

struct Vec3 {
    float x, y, z;
};

Mat4 identityMatrix();

// Right-handed view matrix; vectors with squared length below 1e-25 stay unnormalised.
Mat4 lookAt(Vec3 eye, Vec3 target, Vec3 up);

// Inverse by cofactors; a matrix whose determinant is exactly 0 gives the identity.
Mat4 invertMatrix(const Mat4& m);

// Product a * b (apply b first).
Mat4 multiplyMatrix(const Mat4& a, const Mat4& b);

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
