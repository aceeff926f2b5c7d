#include "scene_documents.h"

#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include <stb/stb_image_write.h>

#include "scene/gltf_pack.h"
#include "store/store.h"

std::string uniqueName(const std::string& stem, const std::string& extension) {
    static int counter = 0;
    return "scene_test_" + stem + "_" + std::to_string(++counter) + extension;
}

void* packScene(const GltfBuilder& gltf) {
    std::string binaryName = uniqueName("buffer", ".bin");
    const std::vector<unsigned char>& binary = gltf.binary();
    putFileVariable(binaryName.c_str(), static_cast<uint32_t>(binary.size()), binary.data());
    std::string json = gltf.json(binaryName);
    int size = 0;
    void* blob = loadGLTF(json.data(), json.size(), &size, nullptr, nullptr);
    EXPECT_NE(blob, nullptr);
    EXPECT_GT(size, 0);
    // Blobs live for the run, as the demo's does; kept here so the leak check at exit finds them.
    static std::vector<std::unique_ptr<void, decltype(&std::free)>> packed;
    packed.emplace_back(blob, &std::free);
    return blob;
}

MeshData cubeMesh() {
    MeshData mesh;
    addBox(mesh, {-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}, 1.0f);
    return mesh;
}

MeshData screenQuad() {
    MeshData mesh;
    const Point3 corners[4] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
    const float uv[8] = {0, 0, 1, 0, 1, 1, 0, 1};
    addQuad(mesh, corners, {0, 0, 1}, uv);
    return mesh;
}

namespace {
void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<unsigned char>*>(context);
    out->insert(out->end(), static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
}
} // namespace

void storeSolidPng(const std::string& name, int width, int height, unsigned char r, unsigned char g,
                   unsigned char b, unsigned char a) {
    std::vector<unsigned char> texels;
    for (int i = 0; i < width * height; ++i) texels.insert(texels.end(), {r, g, b, a});
    std::vector<unsigned char> png;
    ASSERT_TRUE(stbi_write_png_to_func(appendBytes, &png, width, height, 4, texels.data(), width * 4));
    putFileVariable(name.c_str(), static_cast<uint32_t>(png.size()), png.data());
}

NodeSpec node(const std::string& name, int mesh) {
    NodeSpec spec;
    spec.name = name;
    spec.mesh = mesh;
    return spec;
}

NodeSpec node(const std::string& name, int mesh, std::array<float, 3> translation) {
    NodeSpec spec = node(name, mesh);
    spec.translation = translation;
    return spec;
}
