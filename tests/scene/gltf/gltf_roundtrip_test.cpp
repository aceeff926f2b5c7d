// Packing and decoding again gives every vertex attribute, key time and key value back within
// one quantisation step of its component.
#include "gltf_test_document.h"
#include "refl/json/json.h"
#include "scene/blob.h"
#include "scene/gltf.h"
#include "scene/gltf_pack.h"
#include "store/store.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace {

// Compares a packed float accessor with its source values (element by element, `components` each).
void expectWithinOneStep(const BlobView& v, const PackedAccessor& a, const std::vector<float>& source,
                         int components, const std::string& what) {
    ASSERT_EQ(a.componentType, kComponentTypeFloat) << what;
    ASSERT_EQ(a.componentCount(), components) << what;
    ASSERT_EQ(static_cast<size_t>(a.count) * static_cast<size_t>(components), source.size()) << what;
    std::vector<float> decoded(source.size());
    for (int c = 0; c < components; ++c) v.decodeComponent(a, c, decoded.data(), components);
    for (int c = 0; c < components; ++c) {
        float lo = INFINITY, hi = -INFINITY;
        for (size_t i = static_cast<size_t>(c); i < source.size(); i += static_cast<size_t>(components)) {
            lo = std::min(lo, source[i]);
            hi = std::max(hi, source[i]);
        }
        float step = (hi - lo) / 65535.0f;
        for (size_t i = static_cast<size_t>(c); i < source.size(); i += static_cast<size_t>(components)) {
            float tolerance = step * 1.0001f + 1e-6f * std::max(std::abs(lo), std::abs(hi));
            ASSERT_NEAR(decoded[i], source[i], tolerance)
                << what << " element " << i / components << " component " << c;
        }
    }
}

std::vector<float> randomValues(std::mt19937& random, size_t count, float lo, float hi) {
    std::uniform_real_distribution<float> value(lo, hi);
    std::vector<float> values(count);
    for (float& x : values) x = value(random);
    return values;
}

TEST(GltfRoundTrip, GeneratedMeshesAndAnimations) {
    std::mt19937 random(31);
    TestDocument doc;
    const int vertices = 60;
    std::vector<float> pos0 = randomValues(random, 3 * vertices, -7.5f, 12.25f);
    std::vector<float> nrm0 = randomValues(random, 3 * vertices, -1, 1);
    std::vector<float> uv0 = randomValues(random, 2 * vertices, 0, 1);
    std::vector<float> pos1 = randomValues(random, 3 * vertices, 100, 100.5f);
    std::vector<float> nrm1 = randomValues(random, 3 * vertices, -1, 1);
    std::vector<uint16_t> indices(90);
    for (uint16_t& i : indices) i = static_cast<uint16_t>(random() % vertices);
    int idx = doc.addShorts(indices);
    int p0 = doc.addFloats(pos0, "VEC3"), n0 = doc.addFloats(nrm0, "VEC3"), t0 = doc.addFloats(uv0, "VEC2");
    std::vector<int> interleaved = doc.addInterleaved({pos1, nrm1}, {3, 3});
    std::vector<float> times = {0, 0.5f, 1.25f, 2, 4};
    std::vector<float> translations = randomValues(random, 3 * 5, -3, 3);
    std::vector<float> rotations = randomValues(random, 4 * 3 * 5, -1, 1);
    std::vector<float> scales = randomValues(random, 3 * 5, 0.5f, 2);
    int kt = doc.addFloats(times, "SCALAR");
    int kv0 = doc.addFloats(translations, "VEC3"), kv1 = doc.addFloats(rotations, "VEC4"),
        kv2 = doc.addFloats(scales, "VEC3");
    auto n = [](int i) { return std::to_string(i); };
    std::string json = doc.json(
        R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0,"children":[1]},{"mesh":1}],"meshes":[)"
        R"({"primitives":[{"indices":)" +
        n(idx) + R"(,"attributes":{"POSITION":)" + n(p0) + R"(,"NORMAL":)" + n(n0) + R"(,"TEXCOORD_0":)" +
        n(t0) + R"(}}]},{"primitives":[{"indices":)" + n(idx) + R"(,"attributes":{"POSITION":)" +
        n(interleaved[0]) + R"(,"NORMAL":)" + n(interleaved[1]) +
        R"(}}]}],"animations":[{"channels":[)"
        R"({"sampler":0,"target":{"node":1,"path":"translation"}},{"sampler":1,"target":{"node":0,"path":"rotation"}},)"
        R"({"sampler":2,"target":{"node":1,"path":"scale"}}],"samplers":[{"input":)" +
        n(kt) + R"(,"output":)" + n(kv0) + R"(,"interpolation":"LINEAR"},{"input":)" + n(kt) +
        R"(,"output":)" + n(kv1) + R"(,"interpolation":"CUBICSPLINE"},{"input":)" + n(kt) + R"(,"output":)" +
        n(kv2) + R"(,"interpolation":"STEP"}]}])");
    int size = 0;
    void* blob = loadGLTF(json.data(), json.size(), &size, nullptr, nullptr);
    BlobView v(blob, static_cast<size_t>(size));
    ASSERT_EQ(v.primitives().size(), 2u);
    auto accessors = v.accessors();
    ASSERT_EQ(accessors.size(), 7u + 6u);
    ShortArray copied = v.shorts(&accessors[0].components[0], accessors[0].count);
    for (size_t i = 0; i < indices.size(); ++i) EXPECT_EQ(copied[static_cast<int32_t>(i)], indices[i]);
    expectWithinOneStep(v, accessors[1], pos0, 3, "pos 0");
    expectWithinOneStep(v, accessors[2], nrm0, 3, "normal 0");
    expectWithinOneStep(v, accessors[3], uv0, 2, "uv 0");
    expectWithinOneStep(v, accessors[5], pos1, 3, "interleaved pos 1");
    expectWithinOneStep(v, accessors[6], nrm1, 3, "interleaved normal 1");
    const std::vector<float>* values[] = {&translations, &rotations, &scales};
    const int components[] = {3, 4, 3};
    for (size_t c = 0; c < 3; ++c) {
        const PackedChannel& channel = v.channels()[c];
        expectWithinOneStep(v, accessors[channel.keyTimes], times, 1, "key times " + std::to_string(c));
        expectWithinOneStep(v, accessors[channel.keyTimes + 1u], *values[c], components[c],
                            "key values " + std::to_string(c));
    }
    EXPECT_EQ(v.channels()[1].target, 0 * 16 + kPathRotation + kInterpolationCubicSpline);
    EXPECT_EQ(v.channels()[2].target, 1 * 16 + kPathScale + kInterpolationStep);
    std::free(blob);
}

// ---- The demo's own scene ----

// The float values of an accessor, read straight from the document's buffer.
std::vector<float> sourceFloats(const GLTFMain& d, const std::string& bin, int index) {
    const GLTFAccessor& a = d.accessors[static_cast<size_t>(index)];
    const GLTFBufferView& view = d.bufferViews[static_cast<size_t>(a.bufferView)];
    int components = a.type == "SCALAR" ? 1 : a.type[3] - '0';
    size_t stride =
        view.byteStride != 0 ? static_cast<size_t>(view.byteStride) : 4u * static_cast<size_t>(components);
    std::vector<float> values;
    for (int e = 0; e < a.count; ++e)
        for (int c = 0; c < components; ++c) {
            float x;
            std::memcpy(&x, bin.data() + view.byteOffset + a.byteOffset + e * stride + 4 * c, 4);
            values.push_back(x);
        }
    return values;
}

TEST(GltfRoundTrip, DemoScene) {
    std::string dir = std::string(NOVA31_SOURCE_DIR) + "/assets/";
    std::string text = readFile(dir + "scene1.gltf");
    std::string bin = readFile(dir + "scene1.bin");
    if (text.empty() || bin.empty()) GTEST_SKIP() << "assets/scene1.gltf is not there yet";
    GLTFMain d;
    std::istringstream in(text);
    refl::json::parse<GLTFMain>(in, d, false, true);
    ASSERT_EQ(d.buffers.size(), 1u);
    if (getVariable(d.buffers[0].uri.c_str(), 0) == nullptr)
        putFileVariable(d.buffers[0].uri.c_str(), static_cast<uint32_t>(bin.size()), bin.data());

    int size = 0;
    void* blob = loadGLTF(text.data(), text.size(), &size, nullptr, nullptr);
    BlobView v(blob, static_cast<size_t>(size));
    auto accessors = v.accessors();
    std::map<int, int> seen; // mesh -> primitives met so far
    int checked = 0;
    for (const PackedPrimitive& p : v.primitives()) {
        const GLTFMeshPrimitive& source = d.meshes[p.mesh].primitives[static_cast<size_t>(seen[p.mesh]++)];
        const char* attributes[] = {"POSITION", "NORMAL", "TEXCOORD_0"};
        const int components[] = {3, 3, 2};
        for (int k = 0; k + 1 < p.accessorCount; ++k) {
            int index = source.attributes.at(attributes[k]);
            expectWithinOneStep(v, accessors[p.firstAccessor + k + 1u], sourceFloats(d, bin, index),
                                components[k], "mesh " + std::to_string(p.mesh) + " " + attributes[k]);
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
    size_t c = 0;
    for (const GLTFAnimation& animation : d.animations)
        for (const GLTFAnimChannel& channel : animation.channels) {
            ASSERT_LT(c, v.channels().size());
            const GLTFAnimSampler& sampler = animation.samplers[static_cast<size_t>(channel.sampler)];
            uint16_t times = v.channels()[c].keyTimes;
            expectWithinOneStep(v, accessors[times], sourceFloats(d, bin, sampler.input), 1, "key times");
            expectWithinOneStep(v, accessors[times + 1u], sourceFloats(d, bin, sampler.output),
                                channel.target.path == "rotation" ? 4 : 3, "key values");
            ++c;
        }
    EXPECT_EQ(c, v.channels().size());
    std::free(blob);
}

} // namespace
