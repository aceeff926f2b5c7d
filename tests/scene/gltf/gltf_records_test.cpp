// Reading glTF JSON into the document records.
#include "refl/json/json.h"
#include "scene/gltf.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

GLTFMain read(const std::string& text, bool* ok = nullptr) {
    GLTFMain document;
    std::istringstream in(text);
    bool result = refl::json::parse<GLTFMain>(in, document, false, true);
    if (ok != nullptr) *ok = result;
    return document;
}

template <class T> std::string registeredKeys() {
    refl::type_info& info = refl::type_info_of<T>();
    std::string keys;
    for (size_t i = 0; i < info.member_count(); ++i) {
        if (i > 0) keys += ", ";
        keys += info.member_at(i).name();
    }
    return keys;
}

TEST(GltfRecords, KeyListsAreRegisteredAsWritten) {
    EXPECT_EQ(registeredKeys<GLTFMain>(),
              "scene, scenes, nodes, cameras, materials, meshes, accessors, bufferViews, "
              "buffers, textures, images, samplers, extensions, animations");
    EXPECT_EQ(registeredKeys<GLTFNode>(),
              "name, children, mesh, camera, matrix, scale, rotation, translation, extensions, extras");
    EXPECT_EQ(
        registeredKeys<GLTFPBRMetallicRoughness>(),
        "baseColorTexture, baseColorFactor, metallicRoughnessTexcture, metallicFactor, roughnessFactor");
    EXPECT_EQ(registeredKeys<GLTFSampler>(), "minFilter, magFilter, wrapS, wrapT");
    EXPECT_EQ(registeredKeys<GLTFAccessor>(),
              "type, bufferView, byteOffset, componentType, count, min, max, normalized, sparse");
    EXPECT_EQ(registeredKeys<GLTFBufferView>(), "buffer, byteLength, byteOffset, byteStride");
    EXPECT_EQ(registeredKeys<GLTFMaterialTextureInfo>(), "index, texCoord, scale, strength, extensions");
    EXPECT_EQ(registeredKeys<GLTFImage>(), "mimeType, name, bufferView, uri");
    EXPECT_EQ(registeredKeys<GLTFAnimChannel>(), "sampler, target");
    EXPECT_EQ(registeredKeys<GLTFExtPunctualLight>(), "type, name, color, intensity");
    EXPECT_EQ(registeredKeys<GLTFCameraPerspective>(), "aspectRatio, yfov, znear, zfar");
    // Registration order differs from declaration order where the key list says so.
    refl::type_info& sampler = refl::type_info_of<GLTFSampler>();
    EXPECT_EQ(sampler.member_named("magFilter").offset(), 0);
}

TEST(GltfRecords, DefaultsAndAbsentKeys) {
    GLTFMain d = read(
        R"({"nodes":[{}],"accessors":[{}],"materials":[{"pbrMetallicRoughness":{"baseColorTexture":{}}}],)"
        R"("meshes":[{"primitives":[{}]}],"animations":[{"channels":[{}],"samplers":[{}]}]})");
    EXPECT_EQ(d.scene, 0); // no "scene": the first scene
    EXPECT_EQ(d.nodes[0].mesh, -1);
    EXPECT_TRUE(d.nodes[0].extras.is_null());
    EXPECT_EQ(d.accessors[0].componentType, -1);
    EXPECT_EQ(d.accessors[0].count, -1);
    EXPECT_EQ(d.accessors[0].bufferView, -1);
    EXPECT_EQ(d.meshes[0].primitives[0].indices, -1);
    EXPECT_EQ(d.meshes[0].primitives[0].material, -1);
    const GLTFPBRMetallicRoughness& pbr = *d.materials[0].pbrMetallicRoughness;
    EXPECT_EQ(pbr.metallicFactor, 0.0);
    EXPECT_EQ(pbr.baseColorTexture->index, -1);
    EXPECT_EQ(pbr.baseColorTexture->texCoord, -1);
    EXPECT_EQ(pbr.baseColorTexture->scale, 1.0);
    EXPECT_EQ(d.animations[0].channels[0].sampler, 0);
    EXPECT_EQ(d.animations[0].channels[0].target.node, 0);
    EXPECT_TRUE(d.animations[0].samplers[0].interpolation.empty());
}

TEST(GltfRecords, StandardMetallicRoughnessKeyIsNotRead) {
    GLTFMain d = read(R"({"materials":[{"pbrMetallicRoughness":{"metallicRoughnessTexture":{"index":1}}},)"
                      R"({"pbrMetallicRoughness":{"metallicRoughnessTexcture":{"index":2}}}]})");
    EXPECT_EQ(d.materials[0].pbrMetallicRoughness->metallicRoughnessTexcture, nullptr);
    ASSERT_NE(d.materials[1].pbrMetallicRoughness->metallicRoughnessTexcture, nullptr);
    EXPECT_EQ(d.materials[1].pbrMetallicRoughness->metallicRoughnessTexcture->index, 2);
}

TEST(GltfRecords, ExtrasOfAnyShapeAreKept) {
    bool ok = false;
    GLTFMain d =
        read(R"({"nodes":[{"extras":{"author":"x"}},{"extras":[1,{"a":null}]},{"extras":4.5}]})", &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(d.nodes.size(), 3u);
    ASSERT_NE(d.nodes[0].extras.object(), nullptr);
    EXPECT_EQ(*d.nodes[0].extras.object()->at("author").string(), "x");
    ASSERT_NE(d.nodes[1].extras.array(), nullptr);
    EXPECT_EQ(d.nodes[1].extras.array()->size(), 2u);
    EXPECT_EQ(*d.nodes[2].extras.number(), 4.5);
}

TEST(GltfRecords, UnknownKeysAreSkippedEverywhere) {
    bool ok = false;
    GLTFMain d = read(
        R"({"asset":{"version":"2.0","generator":["a",{"b":1}]},"extensionsUsed":["KHR_lights_punctual"],)"
        R"("nodes":[{"camera":0,"name":"n","weights":[1,2]}],"buffers":[{"byteLength":4,"name":"b"}]})",
        &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(d.nodes[0].name, "n");
    EXPECT_EQ(d.buffers[0].byteLength, 4);
}

TEST(GltfRecords, MatrixAndTranslationAreBothKept) {
    GLTFMain d =
        read(R"({"nodes":[{"matrix":[1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1],"translation":[1,2,3]}],)"
             R"("bufferViews":[{"byteStride":12}],"samplers":[{"minFilter":9987,"magFilter":9729}]})");
    EXPECT_EQ(d.nodes[0].matrix.size(), 16u);
    EXPECT_EQ(d.nodes[0].translation, (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(d.bufferViews[0].byteStride, 12);
    EXPECT_EQ(d.samplers[0].minFilter, 9987);
    EXPECT_EQ(d.samplers[0].magFilter, 9729);
}

TEST(GltfRecords, LightsAndNodeLightReferences) {
    GLTFMain d = read(
        R"({"nodes":[{"extensions":{"KHR_lights_punctual":{"light":2}}}],)"
        R"("extensions":{"KHR_lights_punctual":{"lights":[{"type":"point","color":[1,0.5,0],"intensity":7}]}}})");
    ASSERT_NE(d.nodes[0].extensions, nullptr);
    EXPECT_EQ(d.nodes[0].extensions->KHR_lights_punctual->light, 2);
    const GLTFExtPunctualLight& light = d.extensions->KHR_lights_punctual->lights[0];
    EXPECT_EQ(light.type, "point");
    EXPECT_EQ(light.color[1], 0.5f);
    EXPECT_EQ(light.intensity, 7.0);
}

} // namespace
