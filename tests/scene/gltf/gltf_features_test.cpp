// glTF features the packer converts: primitive modes, sparse accessors, the base colour texture's
// texture coordinate set and KHR_texture_transform, and cameras. Each packed result is checked
// against the document's own numbers, worked out here from the glTF rules.
#include "gltf_test_document.h"
#include "scene/blob.h"
#include "scene/gltf_pack.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Floats = std::vector<float>;

struct Packed {
    void* blob = nullptr;
    std::string log;
    ~Packed() { std::free(blob); }
};

void pack(const std::string& json, Packed& packed) {
    testing::internal::CaptureStdout();
    int size = 0;
    packed.blob = loadGLTF(json.data(), json.size(), &size, nullptr, nullptr);
    packed.log = testing::internal::GetCapturedStdout();
}

// The accessor named `name` of primitive p, read as drawn: through the primitive's index list.
Floats drawn(const BlobView& blob, int p, const char* name) {
    const PackedPrimitive& primitive = blob.primitives()[static_cast<size_t>(p)];
    const PackedAccessor* indices = nullptr;
    const PackedAccessor* values = nullptr;
    for (int a = primitive.firstAccessor; a < primitive.firstAccessor + primitive.accessorCount; ++a) {
        const PackedAccessor& accessor = blob.accessors()[static_cast<size_t>(a)];
        std::string accessorName = blob.text(&accessor.name);
        if (accessorName == "idx") indices = &accessor;
        if (accessorName == name) values = &accessor;
    }
    if (indices == nullptr || values == nullptr) return {};
    const int n = values->componentCount();
    Floats decoded(static_cast<size_t>(values->count * n));
    for (int c = 0; c < n; ++c) blob.decodeComponent(*values, c, decoded.data(), n);
    ShortArray list = blob.shorts(&indices->components[0], indices->count);
    Floats out;
    for (int32_t j = 0; j < list.count; ++j)
        for (int c = 0; c < n; ++c) out.push_back(decoded[static_cast<size_t>(list[j] * n + c)]);
    return out;
}

void expectNear(const Floats& actual, const Floats& expected, float tolerance, const std::string& what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << what << " " << i;
}

// Vertices `order` of a VEC3 or VEC2 list.
Floats pick(const Floats& values, int components, const std::vector<int>& order) {
    Floats out;
    for (int i : order)
        for (int c = 0; c < components; ++c) out.push_back(values[static_cast<size_t>(i * components + c)]);
    return out;
}

const Floats kSixPositions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 2, 0, 1, 2, 0};
const Floats kSixNormals = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};

} // namespace

TEST(GltfFeatures, SevenPrimitiveModes) {
    TestDocument doc;
    int idx = doc.addShorts({0, 1, 2, 3, 4, 5});
    int pos = doc.addFloats(kSixPositions, "VEC3"), nrm = doc.addFloats(kSixNormals, "VEC3");
    std::string primitives;
    for (int mode = 0; mode <= 6; ++mode)
        primitives += std::string(mode ? "," : "") + "{" + primitiveMembers(idx, pos, nrm) +
                      ",\"mode\":" + std::to_string(mode) + "}";
    Packed packed;
    pack(doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":[)" + primitives +
                  "]}]"),
         packed);
    for (const char* kind : {"points", "lines", "line loop", "line strip"})
        EXPECT_NE(packed.log.find(std::string("is drawn as ") + kind + "; left out"), std::string::npos)
            << kind;
    BlobView blob(packed.blob);
    ASSERT_EQ(blob.primitives().size(), 3u) << "only the three triangle modes are packed";
    // glTF: list p_i = (v_3i, v_3i+1, v_3i+2); strip p_i = (v_i, v_i+(1+i%2), v_i+(2-i%2));
    // fan p_i = (v_i+1, v_i+2, v_0).
    std::vector<int> list = {0, 1, 2, 3, 4, 5}, strip, fan;
    for (int i = 0; i < 4; ++i) {
        strip.insert(strip.end(), {i, i + 1 + i % 2, i + 2 - i % 2});
        fan.insert(fan.end(), {i + 1, i + 2, 0});
    }
    const std::vector<int>* expected[3] = {&list, &strip, &fan};
    for (int p = 0; p < 3; ++p)
        expectNear(drawn(blob, p, "pos"), pick(kSixPositions, 3, *expected[p]), 1e-4f,
                   "mode " + std::to_string(p + 4));
}

TEST(GltfFeatures, SparseSubstitutionsWithAndWithoutABaseView) {
    TestDocument doc;
    int idx = doc.addShorts({0, 1, 2, 3, 4, 5});
    int nrm = doc.addFloats(kSixNormals, "VEC3");
    int based = doc.addFloats(kSixPositions, "VEC3");
    int alone = doc.addFloats(Floats(18, 0.0f), "VEC3");
    const Floats substitutes = {5, 6, 7, -1, -2, -3};
    std::vector<uint8_t> valueBytes(4 * substitutes.size());
    std::memcpy(valueBytes.data(), substitutes.data(), valueBytes.size());
    auto sparse = [&](const std::vector<uint8_t>& indices, int componentType) {
        return ",\"sparse\":{\"count\":2,\"indices\":{\"bufferView\":" +
               std::to_string(doc.addView(indices)) + ",\"componentType\":" + std::to_string(componentType) +
               "},\"values\":{\"bufferView\":" + std::to_string(doc.addView(valueBytes)) + "}}";
    };
    doc.extendAccessor(based, sparse({1, 0, 4, 0}, 5123)); // elements 1 and 4
    doc.extendAccessor(alone, sparse({0, 5}, 5121), true); // elements 0 and 5 over zeros
    std::string json =
        doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":[{)" +
                 primitiveMembers(idx, based, nrm) + "},{" + primitiveMembers(idx, alone, nrm) + "}]}]");
    Packed packed;
    pack(json, packed);
    BlobView blob(packed.blob);
    ASSERT_EQ(blob.primitives().size(), 2u);
    Floats withBase = kSixPositions, withoutBase(18, 0.0f);
    for (int c = 0; c < 3; ++c) {
        withBase[3 + c] = substitutes[c];
        withBase[12 + c] = substitutes[3 + c];
        withoutBase[c] = substitutes[c];
        withoutBase[15 + c] = substitutes[3 + c];
    }
    expectNear(drawn(blob, 0, "pos"), withBase, 1e-3f, "with a base view");
    expectNear(drawn(blob, 1, "pos"), withoutBase, 1e-3f, "without a base view");
}

TEST(GltfFeatures, TexCoordSetAndTextureTransform) {
    TestDocument doc;
    int idx = doc.addShorts({0, 1, 2, 3, 4, 5});
    int pos = doc.addFloats(kSixPositions, "VEC3"), nrm = doc.addFloats(kSixNormals, "VEC3");
    const Floats set0 = {0, 0, 0.1f, 0, 0.2f, 0.1f, 0.3f, 0.2f, 0.4f, 0.3f, 0.5f, 0.4f};
    const Floats set1 = {1, 1, 0.9f, 0.8f, 0.7f, 0.6f, 0.5f, 0.4f, 0.3f, 0.2f, 0.1f, 0};
    int uv0 = doc.addFloats(set0, "VEC2"), uv1 = doc.addFloats(set1, "VEC2");
    // Both sets on every primitive; the material says which one its texture reads.
    auto members = [&](int material) {
        auto n = [](int i) { return std::to_string(i); };
        return R"({"indices":)" + n(idx) + R"(,"attributes":{"POSITION":)" + n(pos) + R"(,"NORMAL":)" +
               n(nrm) + R"(,"TEXCOORD_0":)" + n(uv0) + R"(,"TEXCOORD_1":)" + n(uv1) + R"(},"material":)" +
               n(material) + "}";
    };
    const char* transform = R"("KHR_texture_transform":{"offset":[0.25,0.5],"rotation":0.5,"scale":[2,3])";
    std::string materials = std::string(R"(,"materials":[)") +
                            R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":0,"texCoord":1}}},)" +
                            R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":0,"extensions":{)" +
                            transform + R"(}}}}},)" +
                            R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":0,"extensions":{)" +
                            transform + R"(,"texCoord":1}}}}}])";
    std::string json =
        doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":[)" + members(0) +
                 "," + members(1) + "," + members(2) + "]}]" + materials +
                 R"(,"textures":[{"source":0}],"images":[{"uri":"missing.png"}])");
    Packed packed;
    pack(json, packed);
    BlobView blob(packed.blob);
    ASSERT_EQ(blob.primitives().size(), 3u);
    // KHR_texture_transform: uv' = T R S uv with R = [cos sin; -sin cos], as the extension writes it.
    auto transformed = [](const Floats& uv) {
        const float c = std::cos(0.5f), s = std::sin(0.5f);
        const float m[2][3] = {{c * 2, s * 3, 0.25f}, {-s * 2, c * 3, 0.5f}};
        Floats out;
        for (size_t i = 0; i < uv.size(); i += 2)
            for (int r = 0; r < 2; ++r) out.push_back(m[r][0] * uv[i] + m[r][1] * uv[i + 1] + m[r][2]);
        return out;
    };
    expectNear(drawn(blob, 0, "uv"), set1, 1e-4f, "texCoord 1");
    expectNear(drawn(blob, 1, "uv"), transformed(set0), 1e-4f, "transform of set 0");
    expectNear(drawn(blob, 2, "uv"), transformed(set1), 1e-4f, "transform with its own texCoord 1");
}

TEST(GltfFeatures, CamerasAreRecordsTheirNodesReferTo) {
    TestDocument doc;
    std::string json = doc.json(
        R"(,"scenes":[{"nodes":[0,1,2,3]}],"nodes":[{"name":"Plain"},{"camera":0},{"camera":1},{"camera":2}],)"
        R"("cameras":[{"type":"perspective","perspective":{"yfov":0.7,"aspectRatio":1.5,"znear":0.1,"zfar":50}},)"
        R"({"type":"orthographic","orthographic":{"xmag":3,"ymag":2,"znear":0,"zfar":20}},)"
        R"({"type":"perspective","perspective":{"yfov":0,"znear":0.1}}])");
    Packed packed;
    pack(json, packed);
    EXPECT_NE(packed.log.find("camera 2 of node 3 is neither"), std::string::npos) << packed.log;
    BlobView blob(packed.blob);
    auto nodes = blob.nodes();
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ(nodes[0].camera, 0);
    EXPECT_EQ(nodes[3].camera, 0) << "a camera without a projection is left out";
    const std::array<std::pair<const char*, Floats>, 2> expected = {
        std::pair{kCameraPerspective, Floats{0.7f, 1.5f, 0.1f, 50}},
        std::pair{kCameraOrthographic, Floats{3, 2, 0, 20}}};
    for (int k = 1; k <= 2; ++k) {
        ASSERT_GT(nodes[static_cast<size_t>(k)].camera, 0) << k;
        const PackedAccessor& a = blob.accessors()[nodes[static_cast<size_t>(k)].camera - 1u];
        EXPECT_STREQ(blob.text(&a.name), expected[static_cast<size_t>(k - 1)].first);
        ASSERT_EQ(a.componentCount(), 4);
        ASSERT_EQ(a.count, 1);
        Floats numbers(4);
        for (int c = 0; c < 4; ++c) blob.decodeComponent(a, c, numbers.data(), 4);
        EXPECT_EQ(numbers, expected[static_cast<size_t>(k - 1)].second) << "exact, not quantised";
    }
}
