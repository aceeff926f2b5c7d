/* matrix.h — the one 4x4 matrix module: the demo's camera and the scene's node transforms both
   use it.

   Matrices are 16 single-precision floats, column-major (row r, column c at index 4*c + r),
   vectors multiplied on the right: the layout GL's mat4 uniforms take unchanged. Mat4 is the
   value type; the pointer forms work in place on arrays of matrices (the scene's world matrices)
   and give the same bits as the Mat4 forms.

       Mat4 view = lookAt(eye, target, up);
       Mat4 back = invertMatrix(view);             // identity when the determinant is exactly 0
       multiplyMatrices(parentWorld, local, world); // world = parent x local, local applied first
       if (!invertMatrixIfRegular(world, inverse)) ...  // inverse left untouched when singular

   The library sits below every subsystem (it links nothing), like the console. Nothing here is
   SIMD-optimised or general-purpose: no decompositions, no double precision. */
#pragma once

#include <array>

using Mat4 = std::array<float, 16>;

struct Vec3 {
    float x, y, z;
};

Mat4 identityMatrix();

// Right-handed view matrix; vectors with squared length below 1e-25 stay unnormalised.
Mat4 lookAt(Vec3 eye, Vec3 target, Vec3 up);

// Inverse by cofactors (determinant by expansion along the first row, adjugate / determinant).
// Writes `out` and returns true only when the determinant is non-zero. `out` may alias `m`.
bool invertMatrixIfRegular(const float m[16], float out[16]);

// The same inverse; a matrix whose determinant is exactly 0 gives the identity.
Mat4 invertMatrix(const Mat4& m);

// out = a x b (b applied first). `out` may alias neither input.
void multiplyMatrices(const float a[16], const float b[16], float out[16]);

// Product a x b (b applied first).
Mat4 multiplyMatrix(const Mat4& a, const Mat4& b);

// glTF's projections (cameras of a scene). Perspective: vertical field of view in radians,
// width / height, near plane, far plane (0 for an infinite far plane). Orthographic: half the
// view's width and height, near and far planes.
Mat4 perspectiveMatrix(float yfov, float aspectRatio, float nearPlane, float farPlane);
Mat4 orthographicMatrix(float xmag, float ymag, float nearPlane, float farPlane);
