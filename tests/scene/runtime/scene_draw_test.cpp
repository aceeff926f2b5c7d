// Scene draws against the real driver: program choice by vertex inputs, what a draw lends and
// puts back, the capture reservation and the triangle count, and the pixels a draw produces.
#include "scene/scene.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/gl.h"
#include "platform/window.h"
#include "render/gpu_layout.h"
#include "scene/image.h"
#include "scene_documents.h"
#include "store/store.h"

namespace {

constexpr int kViewport = 32;

// Inputs pos, normal and uv; the colour is baseColor times the texture.
const char* kTexturedSource = R"(#version 450 core
//!!using:util.glsl
#ifdef VERTEX
uniform mat4 objXF;
in vec3 pos;
in vec3 normal;
in vec2 uv;
out vec2 vUV;
void main() {
    vUV = uv;
    gl_Position = objXF * vec4(pos + normal * 1e-7, 1.0);
}
#endif
#ifdef FRAGMENT
uniform vec4 baseColor;
uniform uvec2 baseColorTexture;
in vec2 vUV;
out vec4 frag0;
void main() { frag0 = baseColor * textureHandleSample(baseColorTexture, vUV); }
#endif
)";

// Input pos only; paints blue.
const char* kPositionsSource = R"(#version 450 core
#ifdef VERTEX
uniform mat4 objXF;
in vec3 pos;
void main() { gl_Position = objXF * vec4(pos, 1.0); }
#endif
#ifdef FRAGMENT
out vec4 frag0;
void main() { frag0 = vec4(0.0, 0.0, 1.0, 1.0); }
#endif
)";

// Also needs "tangent", which no primitive of the blob has; paints red.
const char* kTangentSource = R"(#version 450 core
#ifdef VERTEX
uniform mat4 objXF;
in vec3 pos;
in vec3 normal;
in vec3 tangent;
in vec2 uv;
void main() { gl_Position = objXF * vec4(pos + (normal + tangent) * 1e-7 + vec3(uv, 0.0) * 1e-7, 1.0); }
#endif
#ifdef FRAGMENT
out vec4 frag0;
void main() { frag0 = vec4(1.0, 0.0, 0.0, 1.0); }
#endif
)";

template <typename T> T* valueOf(const char* name) {
    return static_cast<T*>(variableData(currentVariable(getVariable(name, 0))));
}

void setIdentity(const char* name) {
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::memcpy(valueOf<float>(name), identity, sizeof identity);
}

std::array<int, 4> readCentre() {
    std::array<unsigned char, 4> pixel{};
    glReadPixels(kViewport / 2, kViewport / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
    return {pixel[0], pixel[1], pixel[2], pixel[3]};
}

void prepareTarget() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, kViewport, kViewport);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    setIdentity("objXF");
}

class SceneDraw : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool ready = false;
        if (ready) return;
        ready = true;
        installImageHook();
        createHeadlessContext(64, 64);
        std::ifstream util(NOVA31_SOURCE_DIR "/assets/util.glsl", std::ios::binary);
        std::stringstream text;
        text << util.rdbuf();
        std::string bytes = text.str();
        ASSERT_FALSE(bytes.empty()) << "assets/util.glsl";
        putFileVariable("util.glsl", static_cast<uint32_t>(bytes.size()), bytes.data());
        textured = buildProgram(0, kTexturedSource);
        positions = buildProgram(0, kPositionsSource);
        tangent = buildProgram(0, kTangentSource);
    }

    static ShaderProgram* textured;
    static ShaderProgram* positions;
    static ShaderProgram* tangent;
};

ShaderProgram* SceneDraw::textured = nullptr;
ShaderProgram* SceneDraw::positions = nullptr;
ShaderProgram* SceneDraw::tangent = nullptr;

} // namespace

TEST_F(SceneDraw, EachPrimitiveGetsTheFirstProgramWhoseInputsItSupplies) {
    std::string image = uniqueName("orange", ".png");
    storeSolidPng(image, 4, 4, 255, 128, 0, 255);
    GltfBuilder gltf;
    MeshData quad = screenQuad();
    int texturedMaterial = gltf.addMaterial("tinted", {1.0f, 1.0f, 0.0f, 1.0f}, gltf.addTexture(image));
    int plainMaterial = gltf.addMaterial("plain", {0.2f, 0.4f, 0.6f, 1.0f}, -1);
    int mesh = gltf.addMesh("Quads", {{&quad, texturedMaterial}, {&quad, plainMaterial, false}});
    gltf.addRootNode(gltf.addNode(node("Quads", mesh)));
    Scene scene;
    scene.init(packScene(gltf));
    ShaderProgram* const programs[] = {tangent, textured, positions, nullptr};

    prepareTarget();
    EXPECT_EQ(scene.drawPrimitive(0, programs), 6);
    // Texture (255, 128, 0) times baseColor (1, 1, 0): the texture and the colour were both lent.
    std::array<int, 4> pixel = readCentre();
    EXPECT_NEAR(pixel[0], 255, 2);
    EXPECT_NEAR(pixel[1], 128, 2);
    EXPECT_NEAR(pixel[2], 0, 2);

    prepareTarget();
    EXPECT_EQ(scene.drawPrimitive(1, programs), 6);
    EXPECT_EQ(readCentre(), (std::array<int, 4>{0, 0, 255, 255}))
        << "a primitive without uv takes the pos-only program";

    // The untextured material colour reaches the textured program's baseColor.
    GltfBuilder plain;
    int plainMesh =
        plain.addMesh("Quad", {{&quad, plain.addMaterial("plain", {0.2f, 0.4f, 0.6f, 1.0f}, -1)}});
    plain.addRootNode(plain.addNode(node("Quad", plainMesh)));
    Scene plainScene;
    plainScene.init(packScene(plain));
    // An untextured material keeps whatever "baseColorTexture" holds: here a white texture.
    std::string white = uniqueName("white", ".png");
    storeSolidPng(white, 2, 2, 255, 255, 255, 255);
    Variable* own = currentVariable(getVariable("baseColorTexture", 0));
    void* saved = own->externalData;
    own->externalData = variableData(currentVariable(getVariable(white.c_str(), 0)));
    prepareTarget();
    ShaderProgram* const texturedOnly[] = {textured, nullptr};
    EXPECT_EQ(plainScene.drawPrimitive(0, texturedOnly), 6);
    pixel = readCentre();
    EXPECT_NEAR(pixel[0], 51, 2);
    EXPECT_NEAR(pixel[1], 102, 2);
    EXPECT_NEAR(pixel[2], 153, 2);
    own->externalData = saved;
}

TEST_F(SceneDraw, AQuadBehindVertex65535IsDrawnThroughItsThirtyTwoBitIndexList) {
    // 70000 vertices far outside the view, then the screen quad's four: its indices are 70000 up.
    MeshData mesh;
    for (int i = 0; i < 70000; ++i) {
        mesh.positions.insert(mesh.positions.end(), {50.0f + static_cast<float>(i % 7), 50.0f, 0.0f});
        mesh.normals.insert(mesh.normals.end(), {0.0f, 0.0f, 1.0f});
        mesh.texcoords.insert(mesh.texcoords.end(), {0.0f, 0.0f});
    }
    MeshData quad = screenQuad();
    mesh.positions.insert(mesh.positions.end(), quad.positions.begin(), quad.positions.end());
    mesh.normals.insert(mesh.normals.end(), quad.normals.begin(), quad.normals.end());
    mesh.texcoords.insert(mesh.texcoords.end(), quad.texcoords.begin(), quad.texcoords.end());
    for (uint32_t index : quad.indices) mesh.indices.push_back(70000 + index);
    GltfBuilder gltf;
    int mesh0 = gltf.addMesh("Far", {{&mesh, gltf.addMaterial("plain", {1, 1, 1, 1}, -1), false}});
    gltf.addRootNode(gltf.addNode(node("Far", mesh0)));
    const void* blob = packScene(gltf);
    ASSERT_EQ(BlobView(blob).form(), BlobForm::large);
    Scene scene;
    scene.init(blob);
    ShaderProgram* const programs[] = {positions, nullptr};
    prepareTarget();
    EXPECT_EQ(scene.drawPrimitive(0, programs), 6);
    EXPECT_EQ(readCentre(), (std::array<int, 4>{0, 0, 255, 255}));
}

TEST_F(SceneDraw, EveryLentPointerIsBackAfterTheDraw) {
    std::string image = uniqueName("grey", ".png");
    storeSolidPng(image, 2, 2, 90, 90, 90, 255);
    GltfBuilder gltf;
    MeshData cube = cubeMesh();
    int material = gltf.addMaterial("textured", {1, 1, 1, 1}, gltf.addTexture(image));
    gltf.addRootNode(gltf.addNode(node("Cube", gltf.addMesh("Cube", {{&cube, material}}))));
    Scene scene;
    scene.init(packScene(gltf));

    const char* lent[] = {"pos", "normal", "uv", "baseColor", "baseColorTexture"};
    // Stand-ins that are valid data of the right kind, so the test can tell them apart.
    BufferRecord standInBuffer{};
    float standInColour[4] = {0, 0, 0, 0};
    TextureRecord standInTexture{};
    void* before[5] = {&standInBuffer, &standInBuffer, &standInBuffer, standInColour, &standInTexture};
    void* original[5];
    for (int i = 0; i < 5; ++i) {
        Variable* v = currentVariable(getVariable(lent[i], 0));
        ASSERT_NE(v, nullptr) << lent[i];
        original[i] = v->externalData;
        v->externalData = before[i];
    }
    ShaderProgram* const programs[] = {textured, nullptr};
    prepareTarget();
    EXPECT_EQ(scene.drawPrimitive(0, programs), 36);
    for (int i = 0; i < 5; ++i) {
        Variable* v = currentVariable(getVariable(lent[i], 0));
        EXPECT_EQ(v->externalData, before[i]) << lent[i];
        v->externalData = original[i];
    }
}

TEST_F(SceneDraw, CaptureReservesFeedbackRoomAndTheTriangleCountAlwaysGrows) {
    GltfBuilder gltf;
    MeshData cube = cubeMesh(), ragged = cubeMesh();
    ragged.indices.push_back(0); // 37 indices
    int material = gltf.addMaterial("white", {1, 1, 1, 1}, -1);
    int mesh = gltf.addMesh("Cubes", {{&cube, material}, {&ragged, material}});
    gltf.addRootNode(gltf.addNode(node("Cubes", mesh)));
    Scene scene;
    scene.init(packScene(gltf));
    ShaderProgram* const programs[] = {textured, nullptr};

    auto* feedback = valueOf<BufferRecord>("xfFeedback");
    int* triangles = valueOf<int>("xfTriCount");
    feedback->elementCount = 0;
    *triangles = 0;
    prepareTarget();
    captureTriangles = kCaptureOn;
    EXPECT_EQ(scene.drawPrimitive(0, programs), 36);
    EXPECT_EQ(feedback->elementCount, 36);
    EXPECT_EQ(feedback->elementSize, 32);
    EXPECT_GE(feedback->glCapacity, 36 * 32);
    EXPECT_EQ(*triangles, 12);
    EXPECT_EQ(scene.drawPrimitive(1, programs), 36) << "37 indices draw 36 vertices";
    EXPECT_EQ(feedback->elementCount, 72);
    EXPECT_EQ(*triangles, 24);

    captureTriangles = kCaptureOff;
    EXPECT_EQ(scene.drawPrimitive(0, programs), 36);
    EXPECT_EQ(feedback->elementCount, 72) << "no reservation while capture is off";
    EXPECT_EQ(*triangles, 36) << "but the triangles still count";
    feedback->elementCount = 0;
}

TEST_F(SceneDraw, UpdateAndDrawDrawsEveryPrimitiveOfEveryNode) {
    GltfBuilder gltf;
    MeshData cube = cubeMesh(), quad = screenQuad();
    int material = gltf.addMaterial("white", {1, 1, 1, 1}, -1);
    int cubeMeshIndex = gltf.addMesh("Cube", {{&cube, material}});
    int parent = gltf.addNode(node("Left", cubeMeshIndex, {-2, 0, 0}));
    gltf.addChild(parent, gltf.addNode(node("Right", cubeMeshIndex, {4, 0, 0}))); // shares the mesh
    gltf.addRootNode(parent);
    gltf.addRootNode(
        gltf.addNode(node("Quads", gltf.addMesh("Quads", {{&quad, material}, {&quad, material}}))));
    Scene scene;
    scene.init(packScene(gltf));
    EXPECT_EQ(scene.primitiveCount, 3) << "nodes sharing a mesh share its primitive records";

    int* triangles = valueOf<int>("xfTriCount");
    *triangles = 0;
    prepareTarget();
    ShaderProgram* const programs[] = {positions, nullptr};
    EXPECT_EQ(scene.updateAndDraw(0.25f, programs), 0);
    EXPECT_EQ(*triangles, 12 + 12 + 2 + 2);
    // The last node drawn is the full-screen quad with an identity transform: blue everywhere.
    EXPECT_EQ(readCentre(), (std::array<int, 4>{0, 0, 255, 255}));
}
