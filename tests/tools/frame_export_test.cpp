// The frame export checked against the frame the demo drew: the demo's own archive at music time
// 10 s, 160 x 90, headless, with direct light only. The exported camera must project every
// G-buffer position back onto its pixel, the exported lights must give the frame's direct light
// by the documented formula, the triangles must be all the scene draws, and the files must read
// back as captured, the textures as the scene's images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <stb/stb_image.h>

#include "app/demo.h"
#include "app/timeline.h"
#include "platform/gl.h"
#include "platform/window.h"
#include "refl/json/json.h"
#include "render/cached_gi.h"
#include "scene/gltf.h"
#include "shader/shader_source.h"
#include "tests/support/files.h"
#include "tools/nova31-shot/frame_export.h"

namespace {

constexpr int kWidth = 160, kHeight = 90;
constexpr float kTime = 10.0f;

struct Pixel {
    int x, y; // window pixel, bottom row 0
    float position[3], normal[3];
    float albedo[3]; // G-buffer albedo, 0-1, not linearised
    float shown[3];  // the frame's pixel, 0-1
};

// The frame drawn once for the suite, with the G-buffer's covered pixels read back.
struct DrawnFrame {
    FrameExport frame;
    bool captured = false;
    std::string error;
    int32_t capturedTriangles = 0;
    std::vector<Pixel> pixels;
};

std::vector<float> readTarget(const char* name, GLenum format, GLenum type, int channels) {
    const auto* texture = currentData<TextureRecord>(getVariable(name, 0));
    std::vector<float> texels(static_cast<size_t>(kWidth) * kHeight * channels);
    std::vector<unsigned char> bytes(texels.size());
    glBindTexture(GL_TEXTURE_2D, texture->glTexture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (type == GL_FLOAT) {
        glGetTexImage(GL_TEXTURE_2D, 0, format, type, texels.data());
    } else {
        glGetTexImage(GL_TEXTURE_2D, 0, format, type, bytes.data());
        for (size_t i = 0; i < texels.size(); ++i) texels[i] = bytes[i] / 255.0f;
    }
    return texels;
}

const DrawnFrame& drawnFrame() {
    static const DrawnFrame drawn = [] {
        DrawnFrame d;
        char program[] = "frame_export_test";
        char* argv[] = {program, nullptr};
        loadDemoArchive(1, argv, NOVA31_BINARY_DIR "/nova31");
        const void* blob = packDemoScene();
        createDemoWindow(false, kWidth, kHeight);
        DemoRenderer demo = createDemoRenderer(blob);
        writeInitialLightCache();
        turnOffLightCache();
        if (!drawDemoFrame(demo, kTime)) return d;
        d.capturedTriangles = *currentData<int32_t>(getVariable(kTriangleCountVariable, 0));
        d.captured = captureFrameExport(*demo.scene, {kTime, false, {}}, &d.frame, &d.error);
        std::vector<float> position = readTarget(kGBufferPositionVariable, GL_RGB, GL_FLOAT, 3);
        std::vector<float> normal = readTarget(kGBufferNormalVariable, GL_RGB, GL_FLOAT, 3);
        std::vector<float> albedo = readTarget(kGBufferAlbedoVariable, GL_RGB, GL_UNSIGNED_BYTE, 3);
        std::vector<unsigned char> shown(static_cast<size_t>(kWidth) * kHeight * 3);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, shown.data());
        const float background = clearColorBlue(kTime);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const size_t i = 3 * (static_cast<size_t>(y) * kWidth + x);
                // Pixels no triangle covers hold the clear colour in every target.
                if (position[i] == 0 && position[i + 1] == 0 && position[i + 2] == background) continue;
                Pixel p{x, y, {}, {}, {}, {}};
                for (int c = 0; c < 3; ++c) {
                    p.position[c] = position[i + c];
                    p.normal[c] = normal[i + c];
                    p.albedo[c] = albedo[i + c];
                    p.shown[c] = shown[i + c] / 255.0f;
                }
                d.pixels.push_back(p);
            }
        }
        return d;
    }();
    return drawn;
}

float dot(const float* a, const std::vector<float>& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

class FrameExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(drawnFrame().captured) << drawnFrame().error;
        ASSERT_GT(drawnFrame().pixels.size(), static_cast<size_t>(kWidth * kHeight / 2));
    }
    const FrameExportFile& file() { return drawnFrame().frame.file; }
};

} // namespace

TEST_F(FrameExportTest, TrianglesAreAllTheSceneDraws) {
    // Every triangle of every node with a mesh, counted from the glTF document itself.
    std::ifstream in(NOVA31_SOURCE_DIR "/assets/scene1.gltf");
    GLTFMain document;
    ASSERT_TRUE(refl::json::parse(in, document, false, true));
    int triangles = 0;
    for (const GLTFNode& node : document.nodes) {
        if (node.mesh < 0) continue;
        for (const GLTFMeshPrimitive& primitive : document.meshes[node.mesh].primitives) {
            const int accessor =
                primitive.indices >= 0 ? primitive.indices : primitive.attributes.at("POSITION");
            triangles += document.accessors[accessor].count / 3;
        }
    }
    EXPECT_EQ(file().triangleCount, triangles);
    EXPECT_EQ(file().triangleCount, drawnFrame().capturedTriangles);
    ASSERT_EQ(drawnFrame().frame.triangles.size(), static_cast<size_t>(triangles));
    for (const FrameExportTriangle& t : drawnFrame().frame.triangles) {
        ASSERT_GE(t.material, 0);
        ASSERT_LT(t.material, static_cast<int>(file().materials.size()));
        for (const auto& vertex : t.vertices) {
            const float normalLength =
                std::sqrt(vertex[3] * vertex[3] + vertex[4] * vertex[4] + vertex[5] * vertex[5]);
            ASSERT_NEAR(normalLength, 1.0f, 0.02f) << "the scene's normals are unit vectors";
        }
    }
}

TEST_F(FrameExportTest, CameraProjectsEveryPositionOntoItsPixel) {
    const FrameExportCamera& c = file().camera;
    EXPECT_EQ(file().width, kWidth);
    EXPECT_NEAR(c.aspect, static_cast<float>(kWidth) / kHeight, 1e-5f);
    const float halfHeight = std::tan(c.yfov / 2);
    float worst = 0;
    for (const Pixel& p : drawnFrame().pixels) {
        const float v[3] = {p.position[0] - c.position[0], p.position[1] - c.position[1],
                            p.position[2] - c.position[2]};
        const float depth = dot(v, c.forward);
        ASSERT_GE(depth, c.near * 0.999f);
        const float x = (dot(v, c.right) / (depth * halfHeight * c.aspect) + 1) / 2 * kWidth;
        const float y = (dot(v, c.up) / (depth * halfHeight) + 1) / 2 * kHeight;
        worst = std::max({worst, std::fabs(x - (p.x + 0.5f)), std::fabs(y - (p.y + 0.5f))});
    }
    EXPECT_LT(worst, 0.02f) << "pixels off their G-buffer positions";
}

TEST_F(FrameExportTest, LightsGiveTheFramesDirectLight) {
    std::ifstream in(NOVA31_SOURCE_DIR "/assets/scene1.gltf");
    GLTFMain document;
    ASSERT_TRUE(refl::json::parse(in, document, false, true));
    ASSERT_TRUE(document.extensions && document.extensions->KHR_lights_punctual);
    const auto& lights = document.extensions->KHR_lights_punctual->lights;
    ASSERT_EQ(file().lights.size(), lights.size());
    for (size_t i = 0; i < lights.size(); ++i)
        EXPECT_NEAR(file().lights[i].intensity, lights[i].intensity, lights[i].intensity * 1e-3) << i;

    // Shadows only take light away: no pixel is brighter than all lights unshadowed give, and a
    // pixel that every light reaches shows exactly that.
    int exact = 0;
    for (const Pixel& p : drawnFrame().pixels) {
        float light[3] = {};
        for (const FrameExportLight& l : file().lights) {
            float toLight[3] = {l.position[0] - p.position[0], l.position[1] - p.position[1],
                                l.position[2] - p.position[2]};
            const float d =
                std::sqrt(toLight[0] * toLight[0] + toLight[1] * toLight[1] + toLight[2] * toLight[2]);
            const float cosine = std::max(
                0.0f, (toLight[0] * p.normal[0] + toLight[1] * p.normal[1] + toLight[2] * p.normal[2]) / d);
            for (int c = 0; c < 3; ++c)
                light[c] += l.intensity * file().lightScale * l.color[c] * cosine / (d * d);
        }
        bool same = true;
        for (int c = 0; c < 3; ++c) {
            const float expected = std::min(1.0f, std::sqrt(light[c] * p.albedo[c] * p.albedo[c]));
            ASSERT_LE(p.shown[c], expected + 1.5f / 255) << "pixel " << p.x << ", " << p.y;
            same = same && std::fabs(p.shown[c] - expected) <= 1.5f / 255;
        }
        exact += same;
    }
    EXPECT_GT(exact, static_cast<int>(drawnFrame().pixels.size() / 2)) << "of " << drawnFrame().pixels.size();
}

TEST_F(FrameExportTest, FilesReadBackAsCaptured) {
    ScratchFolder folder("export");
    FrameExport frame = drawnFrame().frame;
    std::string error;
    ASSERT_TRUE(writeFrameExport(frame, folder.file("shot_10"), &error)) << error;

    std::istringstream json(readFile(folder.path() / "shot_10.json"));
    FrameExportFile back;
    ASSERT_TRUE(refl::json::parse(json, back, false, true));
    EXPECT_EQ(back.format, "nova31-frame");
    EXPECT_EQ(back.version, 1);
    EXPECT_FALSE(back.indirectLight);
    EXPECT_EQ(back.triangleCount, file().triangleCount);
    EXPECT_EQ(back.camera.invCamera, file().camera.invCamera);
    EXPECT_EQ(back.camera.proj, file().camera.proj);
    ASSERT_EQ(back.lights.size(), file().lights.size());
    EXPECT_EQ(back.lights[0].position, file().lights[0].position);
    ASSERT_EQ(back.materials.size(), file().materials.size());
    EXPECT_EQ(back.materials.back().baseColor, file().materials.back().baseColor);
    EXPECT_EQ(readFile(folder.path() / back.triangles).size(),
              static_cast<size_t>(back.triangleCount) * kFrameExportTriangleBytes);

    // Every texture is one of the scene's images, texel for texel.
    ASSERT_EQ(back.textures.size(), 3u);
    std::vector<std::string> images;
    for (const char* name : {"tex1.png", "tex2.png", "tex3.png"}) {
        int w = 0, h = 0, n = 0;
        unsigned char* rgba =
            stbi_load((std::string(NOVA31_SOURCE_DIR "/assets/") + name).c_str(), &w, &h, &n, 4);
        ASSERT_NE(rgba, nullptr) << name;
        images.emplace_back(reinterpret_cast<char*>(rgba), static_cast<size_t>(w) * h * 4);
        stbi_image_free(rgba);
    }
    for (const FrameExportTexture& t : back.textures) {
        int w = 0, h = 0, n = 0;
        unsigned char* rgba = stbi_load(folder.file(t.file).c_str(), &w, &h, &n, 4);
        ASSERT_NE(rgba, nullptr) << t.file;
        EXPECT_EQ(w, t.width);
        EXPECT_EQ(h, t.height);
        std::string texels(reinterpret_cast<char*>(rgba), static_cast<size_t>(w) * h * 4);
        stbi_image_free(rgba);
        EXPECT_NE(std::find(images.begin(), images.end(), texels), images.end()) << t.file;
    }
}
