#include "mini_scene.h"

#include "platform/gl.h"

#include <cmath>
#include <cstring>

namespace mini {

// ---- Matrices (column-major, element 4 * column + row) ----

Mat4 identity() {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

Mat4 perspective(float fovY, float aspect, float nearZ, float farZ) {
    float f = 1.0f / std::tan(fovY / 2);
    Mat4 m{};
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (farZ + nearZ) / (nearZ - farZ);
    m[11] = -1;
    m[14] = 2 * farZ * nearZ / (nearZ - farZ);
    return m;
}

Vec3 normalized(Vec3 v) {
    float l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return {v[0] / l, v[1] / l, v[2] / l};
}
Vec3 crossed(Vec3 a, Vec3 b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
float dotted(Vec3 a, Vec3 b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
Vec3 minus(Vec3 a, Vec3 b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

Camera lookAt(Vec3 eye, Vec3 target) {
    Camera c;
    c.eye = eye;
    c.back = normalized(minus(eye, target));
    c.side = normalized(crossed({0, 1, 0}, c.back));
    c.up = crossed(c.back, c.side);
    c.view = identity();
    c.inverseView = identity();
    for (int i = 0; i < 3; ++i) {
        c.view[4 * i + 0] = c.side[i];
        c.view[4 * i + 1] = c.up[i];
        c.view[4 * i + 2] = c.back[i];
        c.inverseView[0 + i] = c.side[i];
        c.inverseView[4 + i] = c.up[i];
        c.inverseView[8 + i] = c.back[i];
        c.inverseView[12 + i] = eye[i];
    }
    c.view[12] = -dotted(c.side, eye);
    c.view[13] = -dotted(c.up, eye);
    c.view[14] = -dotted(c.back, eye);
    return c;
}

void setMatrix(const char* name, const Mat4& m) {
    std::memcpy(storeValue<float>(name, 64), m.data(), 64);
}

// ---- Meshes ----

namespace {
BufferRecord arrayRecord(std::vector<float>& data, int components) {
    BufferRecord record{};
    record.elementSize = 4 * components;
    record.elementCount = record.hostCapacity = record.pending =
        static_cast<int32_t>(data.size()) / components;
    record.hostData = data.data();
    return record;
}

} // namespace

void addQuad(Mesh& mesh, Vec3 a, Vec3 b, Vec3 c, Vec3 d, Vec3 normal) {
    for (Vec3 corner : {a, b, c, a, c, d}) {
        mesh.pos.insert(mesh.pos.end(), corner.begin(), corner.end());
        mesh.normal.insert(mesh.normal.end(), normal.begin(), normal.end());
        mesh.uv.insert(mesh.uv.end(), {0.5f, 0.5f});
        mesh.corners.push_back(corner);
    }
    mesh.faceNormals.push_back(normal);
    mesh.faceNormals.push_back(normal);
}

void finish(Mesh& mesh) {
    mesh.posRecord = arrayRecord(mesh.pos, 3);
    mesh.normalRecord = arrayRecord(mesh.normal, 3);
    mesh.uvRecord = arrayRecord(mesh.uv, 2);
}

void addBox(Mesh& mesh, Vec3 lo, Vec3 hi) {
    const float x0 = lo[0], y0 = lo[1], z0 = lo[2], x1 = hi[0], y1 = hi[1], z1 = hi[2];
    addQuad(mesh, {x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}, {0, 1, 0});
    addQuad(mesh, {x0, y0, z0}, {x1, y0, z0}, {x1, y0, z1}, {x0, y0, z1}, {0, -1, 0});
    addQuad(mesh, {x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}, {0, 0, 1});
    addQuad(mesh, {x1, y0, z0}, {x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {0, 0, -1});
    addQuad(mesh, {x1, y0, z1}, {x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}, {1, 0, 0});
    addQuad(mesh, {x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, {x0, y1, z0}, {-1, 0, 0});
}

Mesh floorAndBox() {
    Mesh mesh;
    addQuad(mesh, {-4, 0, -4}, {-4, 0, 4}, {4, 0, 4}, {4, 0, -4}, {0, 1, 0});
    addBox(mesh, {-0.5f, 0.0f, -0.5f}, {0.5f, 1.0f, 0.5f});
    finish(mesh);
    return mesh;
}

TextureRecord* whiteTexture() {
    static TextureRecord texture = [] {
        TextureRecord t{};
        t.width = t.height = t.uploadWidth = t.uploadHeight = 2;
        t.pixels = new uint32_t[5];
        for (int i = 0; i < 5; ++i) t.pixels[i] = 0xFFFFFFFFu;
        t.dirty = 1;
        return t;
    }();
    return &texture;
}

// Lends the arrays and material to the named values, reserves capture room, draws, restores.
void drawMesh(ShaderProgram* program, Mesh& mesh, const Mat4& objXF, const Mat4& iobjXF, Vec4 baseColor) {
    setMatrix("objXF", objXF);
    setMatrix("iobjXF", iobjXF);
    std::memcpy(storeValue<float>("baseColor", 16), baseColor.data(), 16);
    struct Lend {
        const char* name;
        void* data;
    } lends[] = {{"pos", &mesh.posRecord},
                 {"normal", &mesh.normalRecord},
                 {"uv", &mesh.uvRecord},
                 {"baseColorTexture", whiteTexture()}};
    void* kept[4];
    for (int i = 0; i < 4; ++i) {
        Variable* v = currentVariable(getVariable(lends[i].name, i == 3 ? 64 : 32));
        kept[i] = v->externalData;
        v->externalData = lends[i].data;
    }
    auto vertexCount = static_cast<int32_t>(mesh.pos.size() / 3);
    if (captureTriangles != kCaptureOff) {
        BufferRecord* feedback = storeBuffer("xfFeedback");
        reserveDeviceBuffer(feedback, feedback->elementCount + vertexCount);
    }
    use(program);
    glDrawArrays(GL_TRIANGLES, 0, vertexCount);
    *storeValue<int32_t>("xfTriCount", 4) += vertexCount / 3;
    for (int i = 3; i >= 0; --i) currentVariable(getVariable(lends[i].name, 0))->externalData = kept[i];
}

} // namespace mini
