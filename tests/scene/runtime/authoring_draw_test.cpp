// Authors' documents drawn by the scene runtime with the demo's renderer on the real driver: a
// primitive without normals shows its face normal in the G-buffer, one without texture
// coordinates its material's base colour, and a scene without lights is lit by the light that
// follows the camera.
#include "scene/scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gl_support.h"
#include "gltf_test_document.h"
#include "platform/gl.h"
#include "platform/window.h"
#include "scene/gltf_pack.h"

using namespace mini;
using Floats = std::vector<float>;

namespace {

// A quad tilted back about x, facing the camera: its face normal is (0, -1, 2) / sqrt(5).
const std::vector<float> kCorners = {-1, -1, -0.5f, 1, -1, -0.5f, 1, 1, 0.5f, -1, 1, 0.5f};
const mini::Vec3 kFaceNormal = {0, -0.4472136f, 0.8944272f};
const Vec4 kBaseColor = {0.8f, 0.4f, 0.2f, 1};
const mini::Vec3 kEye = {0, 0, 4};
// A light of the document, at distance 3 with the strength the default light has at distance 4.
const char* const kLightNode = R"({"name":"Lamp","translation":[0,0,3],)"
                               R"("extensions":{"KHR_lights_punctual":{"light":0}}})";
const char* const kLights = R"(,"extensions":{"KHR_lights_punctual":{"lights":[)"
                            R"({"type":"point","color":[1,1,1],"intensity":9000}]}})";

struct DrawCase {
    const char* what;
    bool normals, texcoords, ownLight;
};

const DrawCase kDrawCases[] = {
    {"normals and texture coordinates, no lights", true, true, false},
    {"no normals", false, true, false},
    {"no texture coordinates", true, false, false},
    {"neither normals nor texture coordinates", false, false, false},
    {"a light of its own", true, true, true},
};

std::string quadDocument(const DrawCase& c) {
    TestDocument doc;
    int idx = doc.addIndices({0, 1, 2, 0, 2, 3}, 5121);
    int pos = doc.addFloats(kCorners, "VEC3");
    std::vector<float> normals;
    for (int v = 0; v < 4; ++v) normals.insert(normals.end(), kFaceNormal.begin(), kFaceNormal.end());
    int nrm = c.normals ? doc.addFloats(normals, "VEC3") : -1;
    int uv = c.texcoords ? doc.addFloats({0, 0, 1, 0, 1, 1, 0, 1}, "VEC2") : -1;
    std::string members = primitiveMembers(idx, pos, nrm, uv);
    if (nrm < 0) members.erase(members.find(",\"NORMAL\""), std::strlen(",\"NORMAL\":-1"));
    char material[128];
    std::snprintf(material, sizeof material,
                  R"(,"materials":[{"pbrMetallicRoughness":{"baseColorFactor":[%g,%g,%g,%g]}}])",
                  kBaseColor[0], kBaseColor[1], kBaseColor[2], kBaseColor[3]);
    std::string nodes = R"(,"scenes":[{"nodes":[0)" + std::string(c.ownLight ? ",1" : "") +
                        R"(]}],"nodes":[{"name":"Quad","mesh":0})" +
                        (c.ownLight ? "," + std::string(kLightNode) : "") + "]";
    return doc.json(nodes + R"(,"meshes":[{"primitives":[{)" + members + R"(,"material":0}]}])" + material +
                    (c.ownLight ? kLights : ""));
}

struct Frame {
    std::vector<unsigned char> window; // rgba, bottom row first
    std::vector<float> albedo, normals, positions;
    GPULightEntry light{}; // entry 0 of "gpuLights"
    float secondIntensity = 0;
    std::string log;
    Mat4 camera{}, proj{}; // as the scene left them
};

const float kTestAspect = float(kTestWidth) / kTestHeight;

// Packs and draws the document at music time t as the demo draws a frame, from kEye looking at
// the origin unless the document brings a camera.
Frame drawDocument(const std::string& json, float t = 0.0f) {
    CachedGI& renderer = testRenderer();
    int size = 0;
    void* blob = loadGLTF(json.data(), json.size(), &size, nullptr, nullptr);
    Frame frame;
    {
        Scene scene;
        testing::internal::CaptureStdout();
        scene.init(blob);
        frame.log = testing::internal::GetCapturedStdout();
        std::strcpy(scene.cameraName, "Camera");

        glViewport(0, 0, kTestWidth, kTestHeight);
        float resolution[2] = {kTestWidth, kTestHeight};
        std::memcpy(storeValue<float>("iResolution", 8), resolution, 8);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        renderer.beginFrame();
        Camera camera = lookAt(kEye, {0, 0, 0});
        setMatrix("proj", perspective(1.0f, kTestAspect, 0.1f, 100.0f));
        setMatrix("camera", camera.view);
        setMatrix("invProj", identity());
        setMatrix("invCamera", camera.inverseView);
        scene.updateAndDraw(t, renderer.geometryPrograms());
        std::memcpy(frame.camera.data(), storeValue<float>("camera", 64), 64);
        std::memcpy(frame.proj.data(), storeValue<float>("proj", 64), 64);
        renderer.postRenderFrame();
        glFinish();
        frame.window.resize(static_cast<size_t>(kTestWidth) * kTestHeight * 4);
        glReadPixels(0, 0, kTestWidth, kTestHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.window.data());
        presentFrame();
        renderer.updateLightCache();
        frame.albedo = readTarget("gBufferAlb", 4);
        frame.normals = readTarget("gBufferNorm", 3);
        frame.positions = readTarget("gBufferPos", 3);
        const auto* lights = static_cast<const GPULightEntry*>(storeBuffer("gpuLights")->hostData);
        frame.light = lights[0];
        frame.secondIntensity = lights[1].color[3];
    }
    std::free(blob);
    return frame;
}

} // namespace

TEST(SceneAuthoringDraw, NormalsBaseColourAndLightReachThePicture) {
    for (const DrawCase& c : kDrawCases) {
        SCOPED_TRACE(c.what);
        Frame frame = drawDocument(quadDocument(c));

        bool defaultLight = frame.log.find("a white light follows the camera") != std::string::npos;
        EXPECT_EQ(defaultLight, !c.ownLight) << frame.log;
        mini::Vec3 lightAt = c.ownLight ? mini::Vec3{0, 0, 3} : kEye;
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(frame.light.pos[i], lightAt[i], 1e-5f) << i;
            EXPECT_EQ(frame.light.color[i], 1.0f) << i;
        }
        // The quad's bounds are centred on the origin, 4 from the eye: 1000 * 4^2.
        EXPECT_NEAR(frame.light.color[3], c.ownLight ? 9000.0f : 16000.0f, 1.0f);
        EXPECT_EQ(frame.secondIntensity, 0.0f);

        // Pixels well inside the quad around the centre of the picture.
        int covered = 0;
        for (int py = kTestHeight / 2 - 15; py <= kTestHeight / 2 + 15; py += 5)
            for (int px = kTestWidth / 2 - 20; px <= kTestWidth / 2 + 20; px += 5) {
                size_t at = static_cast<size_t>(py) * kTestWidth + px;
                ++covered;
                for (int i = 0; i < 3; ++i) {
                    EXPECT_NEAR(frame.albedo[4 * at + i], kBaseColor[i], 1.5f / 255) << px << "," << py;
                    EXPECT_NEAR(frame.normals[3 * at + i], kFaceNormal[i], 2e-3f) << px << "," << py;
                }
                // The direct light of entry 0 at the surface seen there (as ray.glsl computes it),
                // times the albedo, under the square root, at least: the light cache adds to it.
                mini::Vec3 toLight;
                for (int i = 0; i < 3; ++i) toLight[i] = frame.light.pos[i] - frame.positions[3 * at + i];
                float d2 = dotted(toLight, toLight);
                float direct = frame.light.color[3] * 0.001f / d2 *
                               std::max(0.0f, dotted(normalized(toLight), kFaceNormal));
                for (int i = 0; i < 3; ++i) {
                    float expected = std::min(255.0f, std::sqrt(direct) * kBaseColor[i] * 255.0f);
                    EXPECT_GE(frame.window[4 * at + i], expected * 0.95f - 2)
                        << px << "," << py << " channel " << i;
                }
                EXPECT_GT(direct, 0.5f) << "lit well, not black";
            }
        EXPECT_EQ(covered, 63);
    }
}

namespace {

// The quad and a perspective camera 4 in front of it that slides from x = -1 to x = 1 over 10 s;
// with `named`, also a node named "Camera" at z = 6.
std::string cameraDocument(bool named) {
    TestDocument doc;
    int idx = doc.addIndices({0, 1, 2, 0, 2, 3}, 5121);
    int pos = doc.addFloats(kCorners, "VEC3");
    Floats normals;
    for (int v = 0; v < 4; ++v) normals.insert(normals.end(), kFaceNormal.begin(), kFaceNormal.end());
    int nrm = doc.addFloats(normals, "VEC3");
    int times = doc.addFloats({0, 10}, "SCALAR"), values = doc.addFloats({-1, 0, 4, 1, 0, 4}, "VEC3");
    return doc.json(std::string(R"(,"scenes":[{"nodes":)") + (named ? "[0,1,2]" : "[0,1]") +
                    R"(}],"nodes":[{"mesh":0},{"camera":0,"translation":[-1,0,4]},)"
                    R"({"name":"Camera","translation":[0,0,6]}],"meshes":[{"primitives":[{)" +
                    primitiveMembers(idx, pos, nrm) + R"(}]}],"animations":[{"samplers":[{"input":)" +
                    std::to_string(times) + R"(,"output":)" + std::to_string(values) +
                    R"(}],"channels":[{"sampler":0,"target":{"node":1,"path":"translation"}}]}],)"
                    R"("cameras":[{"type":"perspective","perspective":{"yfov":0.8,"znear":0.1,"zfar":50}}])");
}

} // namespace

TEST(SceneAuthoringDraw, AnAnimatedGltfCameraGivesTheView) {
    Frame early = drawDocument(cameraDocument(false), 2.0f), late = drawDocument(cameraDocument(false), 8.0f);
    // The view is the inverse of the camera node's translation at each time.
    EXPECT_NEAR(early.camera[12], 0.6f, 1e-3f);
    EXPECT_NEAR(late.camera[12], -0.6f, 1e-3f);
    EXPECT_NEAR(early.camera[14], -4.0f, 1e-3f);
    // glTF's perspective with the window's aspect ratio and a finite far plane.
    const float f = 1.0f / std::tan(0.4f), n = 0.1f, far = 50.0f;
    Mat4 expected{f / kTestAspect,         0, 0, 0, 0, f, 0, 0, 0, 0, (far + n) / (n - far), -1, 0, 0,
                  2 * far * n / (n - far), 0};
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(early.proj[i], expected[i], 1e-5f) << i;
    // The centre of the picture looks down the camera's -z: on the quad it sees the camera's x.
    size_t centre = static_cast<size_t>(kTestHeight / 2) * kTestWidth + kTestWidth / 2;
    EXPECT_NEAR(early.positions[3 * centre], -0.6f, 0.03f);
    EXPECT_NEAR(late.positions[3 * centre], 0.6f, 0.03f);
    int differing = 0;
    for (size_t i = 0; i < early.window.size(); ++i)
        differing += std::abs(early.window[i] - late.window[i]) > 8;
    EXPECT_GT(differing, 1000) << "the two frames differ as the camera moves";

    // A node named "Camera" keeps precedence, and the projection stays the entry function's.
    Frame named = drawDocument(cameraDocument(true), 2.0f);
    EXPECT_NEAR(named.camera[14], -6.0f, 1e-5f);
    EXPECT_EQ(named.proj, perspective(1.0f, kTestAspect, 0.1f, 100.0f));
}
