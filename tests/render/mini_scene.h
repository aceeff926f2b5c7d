// A small scene drawn the way the scene runtime draws: meshes lent to "pos", "normal" and "uv",
// capture room reserved in "xfFeedback", "xfTriCount" advanced. Shared by the renderer's tests
// and its benchmark.
#pragma once

#include "reference.h"

#include "render/cached_gi.h"
#include "shader/shader.h"
#include "store/store.h"

#include <array>
#include <vector>

namespace mini {

using reference::Vec3;
using reference::Vec4;

template <typename T> T* storeValue(const char* name, uint32_t size) {
    return static_cast<T*>(variableData(currentVariable(getVariable(name, size))));
}
inline BufferRecord* storeBuffer(const char* name) {
    return storeValue<BufferRecord>(name, 32);
}

// ---- Matrices (column-major, element 4 * column + row) ----

using Mat4 = std::array<float, 16>;

Mat4 identity();
Mat4 perspective(float fovY, float aspect, float nearZ, float farZ);
Vec3 normalized(Vec3 v);
Vec3 crossed(Vec3 a, Vec3 b);
float dotted(Vec3 a, Vec3 b);
Vec3 minus(Vec3 a, Vec3 b);

struct Camera {
    Vec3 eye, side, up, back; // view basis in world space
    Mat4 view, inverseView;
};
Camera lookAt(Vec3 eye, Vec3 target);
void setMatrix(const char* name, const Mat4& m);

// ---- Meshes ----

struct Mesh {
    std::vector<float> pos, normal, uv;
    std::vector<Vec3> corners;     // world-space corners, three per triangle
    std::vector<Vec3> faceNormals; // one per triangle
    BufferRecord posRecord{}, normalRecord{}, uvRecord{};
};

// Two triangles a b c, a c d with one normal.
void addQuad(Mesh& mesh, Vec3 a, Vec3 b, Vec3 c, Vec3 d, Vec3 normal);
// An axis-aligned box from lo to hi with outward faces.
void addBox(Mesh& mesh, Vec3 lo, Vec3 hi);
// Points the buffer records at the arrays; call once the mesh is complete.
void finish(Mesh& mesh);
// A floor of 8 x 8 units at y = 0 with a unit box standing in its middle.
Mesh floorAndBox();

// A 2 x 2 white texture.
TextureRecord* whiteTexture();

// Lends the arrays and material to the named values, reserves capture room while capture is on,
// draws with `program`, advances "xfTriCount" and restores the named values.
void drawMesh(ShaderProgram* program, Mesh& mesh, const Mat4& objXF, const Mat4& iobjXF, Vec4 baseColor);

} // namespace mini
