// Standard glTF documents as scene authors bring them: index lists of every unsigned width or
// none at all, primitives without normals. Each document is packed, decoded by the scene runtime
// and compared with what it describes; each packs to the same blob as its twin with a 16-bit list.
#include "scene/scene.h"
#include "tests/support/fatal_exit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include <stb/stb_image_write.h>

#include "gltf_test_document.h"
#include "scene/gltf_pack.h"
#include "scene/image.h"
#include "store/store.h"

namespace {

// Two triangles over six corners that do not lie in one plane, so each has a normal of its own.
const std::vector<float> kPositions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1, 2};
const std::vector<float> kNormals = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 0, 1, 0};
const std::vector<float> kTexcoords = {0, 0, 1, 0, 0, 1, 0.5f, 0.5f, 1, 1, 0.25f, 0.75f};
const std::vector<uint32_t> kIndices = {0, 1, 2, 3, 4, 5, 2, 1, 0};

constexpr int kNoIndices = 0;

// One mesh of one primitive; componentType kNoIndices leaves "indices" out.
std::string meshDocument(int componentType, const std::vector<uint32_t>& indices, bool normals) {
    TestDocument doc;
    int idx = componentType == kNoIndices ? -1 : doc.addIndices(indices, componentType);
    int pos = doc.addFloats(kPositions, "VEC3");
    int nrm = normals ? doc.addFloats(kNormals, "VEC3") : -1;
    int uv = doc.addFloats(kTexcoords, "VEC2");
    std::string members = primitiveMembers(idx, pos, nrm, uv);
    if (idx < 0) members.erase(0, members.find(",\"attributes\"") + 1);
    if (nrm < 0) members.erase(members.find(",\"NORMAL\""), std::strlen(",\"NORMAL\":-1"));
    return doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":[{)" + members +
                    "}]}]");
}

struct PackedDocument {
    void* blob = nullptr;
    int size = 0;
    explicit PackedDocument(const std::string& json)
        : blob(loadGLTF(json.data(), json.size(), &size, nullptr, nullptr)) {}
    ~PackedDocument() { std::free(blob); }
    std::vector<uint8_t> bytes() const { return blobBytes(blob, size); }
};

// The arrays the runtime decoded for primitive 0, by accessor name.
struct Decoded {
    std::vector<float> pos, normal, uv;
};

Decoded decode(const void* blob) {
    Scene scene;
    scene.init(blob);
    Decoded out;
    const PackedPrimitive& p = scene.primitives[0];
    for (int a = p.firstAccessor; a < p.firstAccessor + p.accessorCount; ++a) {
        const GpuAccessor& g = scene.gpuAccessors[a];
        const auto* values = static_cast<const float*>(g.buffer.hostData);
        std::vector<float> array(values, values + g.buffer.elementCount * g.buffer.elementSize / 4);
        if (std::strcmp(g.name, "pos") == 0) out.pos = array;
        if (std::strcmp(g.name, "normal") == 0) out.normal = array;
        if (std::strcmp(g.name, "uv") == 0) out.uv = array;
    }
    return out;
}

// The values of `source` (elements of `components`) read through `indices`.
std::vector<float> through(const std::vector<float>& source, const std::vector<uint32_t>& indices,
                           int components) {
    std::vector<float> out;
    for (uint32_t i : indices)
        for (int c = 0; c < components; ++c) out.push_back(source[i * components + c]);
    return out;
}

void expectNear(const std::vector<float>& actual, const std::vector<float>& expected, const char* what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], 1e-4f) << what << " " << i;
}

struct Vec {
    double x, y, z;
};
Vec at(const std::vector<float>& v, size_t element) {
    return {v[3 * element], v[3 * element + 1], v[3 * element + 2]};
}
Vec minus(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec cross(Vec a, Vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

struct IndexCase {
    const char* what;
    int componentType; // 5121, 5123, 5125 or kNoIndices
    bool normals;
};

const IndexCase kIndexCases[] = {
    {"16-bit list", 5123, true},
    {"8-bit list", 5121, true},
    {"32-bit list", 5125, true},
    {"no list", kNoIndices, true},
    {"16-bit list, no normals", 5123, false},
    {"8-bit list, no normals", 5121, false},
    {"no list, no normals", kNoIndices, false},
};

} // namespace

TEST(SceneAuthoring, EveryIndexListAndMissingNormalsDecodeToTheTrianglesTheDocumentDescribes) {
    for (const IndexCase& c : kIndexCases) {
        SCOPED_TRACE(c.what);
        // Without a list glTF draws the vertices in order.
        std::vector<uint32_t> drawn(kPositions.size() / 3);
        std::iota(drawn.begin(), drawn.end(), 0u);
        if (c.componentType != kNoIndices) drawn = kIndices;

        PackedDocument packed(meshDocument(c.componentType, kIndices, c.normals));
        PackedDocument twin(meshDocument(5123, drawn, c.normals));
        EXPECT_EQ(packed.bytes(), twin.bytes()) << "the same blob as the 16-bit list";

        Decoded d = decode(packed.blob);
        expectNear(d.pos, through(kPositions, drawn, 3), "pos");
        expectNear(d.uv, through(kTexcoords, drawn, 2), "uv");
        if (c.normals) {
            expectNear(d.normal, through(kNormals, drawn, 3), "normal");
            continue;
        }
        // Flat normals: every corner of a triangle carries its face normal, of unit length and
        // on the side its winding gives.
        ASSERT_EQ(d.normal.size(), d.pos.size());
        for (size_t t = 0; t + 2 < drawn.size(); t += 3) {
            Vec e1 = minus(at(d.pos, t + 1), at(d.pos, t)), e2 = minus(at(d.pos, t + 2), at(d.pos, t));
            for (size_t v = t; v < t + 3; ++v) {
                Vec n = at(d.normal, v);
                EXPECT_NEAR(dot(n, n), 1.0, 1e-3) << "corner " << v;
                EXPECT_NEAR(dot(n, e1), 0.0, 1e-3) << "corner " << v;
                EXPECT_NEAR(dot(n, e2), 0.0, 1e-3) << "corner " << v;
                EXPECT_GT(dot(n, cross(e1, e2)), 0.0) << "corner " << v;
            }
        }
    }
}

TEST(SceneAuthoring, QuantisedAttributesDecodeToTheFloatsTheyStandFor) {
    // KHR_mesh_quantization: integer POSITION, NORMAL and TEXCOORD_0, plain or normalised, as a
    // quantising tool writes them; each element padded to 4 bytes.
    struct Quantised {
        const char* what;
        int componentType;
        bool normalized;
        std::vector<int32_t> values;
        float (*meaning)(int32_t); // the float a stored integer stands for
    };
    const Quantised positions[] = {
        {"short",
         5122,
         false,
         {-300, 0, 7, 1200, -1, 0, 0, 32767, -32768},
         [](int32_t v) { return float(v); }},
        {"unsigned byte",
         5121,
         false,
         {0, 255, 3, 10, 20, 30, 1, 1, 200},
         [](int32_t v) { return float(v); }},
        {"normalised short",
         5122,
         true,
         {-32768, -32767, 0, 16384, 32767, 1, 2, 3, 4},
         [](int32_t v) { return std::max(v / 32767.0f, -1.0f); }},
        {"normalised byte",
         5120,
         true,
         {-128, -127, 0, 64, 127, -1, 5, 6, 7},
         [](int32_t v) { return std::max(v / 127.0f, -1.0f); }},
    };
    const std::vector<int32_t> normals = {0, 0, 127, 127, 0, 0, 0, -127, 0};   // normalised bytes
    const std::vector<int32_t> texcoords = {0, 65535, 32768, 0, 65535, 65535}; // normalised unsigned shorts
    for (const Quantised& q : positions) {
        SCOPED_TRACE(q.what);
        TestDocument doc;
        int idx = doc.addIndices({0, 1, 2}, 5123);
        int pos = doc.addIntegers(q.values, q.componentType, 3, q.normalized);
        int nrm = doc.addIntegers(normals, 5120, 3, true);
        int uv = doc.addIntegers(texcoords, 5123, 2, true);
        PackedDocument packed(
            doc.json(R"(,"extensionsRequired":["KHR_mesh_quantization"],"scenes":[{"nodes":[0]}],)"
                     R"("nodes":[{"mesh":0}],"meshes":[{"primitives":[{)" +
                     primitiveMembers(idx, pos, nrm, uv) + "}]}]"));
        Decoded d = decode(packed.blob);
        std::vector<float> expected;
        for (int32_t v : q.values) expected.push_back(q.meaning(v));
        ASSERT_EQ(d.pos.size(), expected.size());
        float range = *std::max_element(expected.begin(), expected.end()) -
                      *std::min_element(expected.begin(), expected.end());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_NEAR(d.pos[i], expected[i], range / 65535.0f * 1.01f + 1e-6f) << i;
        expectNear(d.normal, {0, 0, 1, 1, 0, 0, 0, -1, 0}, "normal");
        expectNear(d.uv, {0, 1, 32768 / 65535.0f, 0, 1, 1}, "uv");
    }
}

TEST(SceneAuthoring, IndicesPastTheVerticesAreRefusedByName) {
    std::vector<uint32_t> wide = kIndices;
    wide[4] = 70000;
    EXPECT_EXIT(PackedDocument(meshDocument(5125, wide, true)), ::testing::ExitedWithCode(kFatalExitStatus),
                "glTF: mesh 0 primitive 0 index 4 is 70000, past its 6 vertices");
    wide[4] = 6;
    EXPECT_EXIT(PackedDocument(meshDocument(5121, wide, false)), ::testing::ExitedWithCode(kFatalExitStatus),
                "glTF: mesh 0 primitive 0 index 4 is 6, past its 6 vertices");
}

namespace {

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

// A 2 x 2 PNG of one colour.
std::vector<uint8_t> solidPng(uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> texels;
    for (int i = 0; i < 4; ++i) texels.insert(texels.end(), {r, g, b, 255});
    std::vector<uint8_t> png;
    EXPECT_TRUE(stbi_write_png_to_func(appendBytes, &png, 2, 2, 4, texels.data(), 8));
    return png;
}

} // namespace

TEST(SceneAuthoring, ImagesTheDocumentHoldsAreDecodedUnderANameOfTheirOwn) {
    installImageHook();
    struct ImageCase {
        const char* what;
        uint8_t r, g, b;
        bool glb; // the image in a buffer view of a binary container, else a "data:" URI
    };
    const ImageCase cases[] = {{"buffer view of a .glb", 200, 100, 50, true},
                               {"data: URI", 30, 60, 90, false}};
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> png = solidPng(c.r, c.g, c.b);
        TestDocument doc;
        std::string image =
            c.glb ? R"({"bufferView":)" + std::to_string(doc.addView(png)) + R"(,"mimeType":"image/png"})"
                  : R"({"uri":"data:image/png;base64,)" + base64Encode(png) + R"("})";
        std::string rest = R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":[{)" +
                           doc.addTriangle(true) +
                           R"(,"material":0}]}],"materials":[{"pbrMetallicRoughness":{"baseColorTexture":)"
                           R"({"index":0}}}],"textures":[{"source":0}],"images":[)" +
                           image + "]";
        std::vector<uint8_t> bytes;
        if (c.glb) {
            bytes = doc.glb(rest);
        } else {
            std::string json = doc.json(rest);
            bytes.assign(json.begin(), json.end());
        }
        int size = 0;
        void* blob = loadGLTF(bytes.data(), bytes.size(), &size, nullptr, nullptr);
        // The blob names the stored file; the image's bytes (or base64 text) stay out of it.
        EXPECT_LT(size, 400);
        Scene scene;
        scene.init(blob);
        ASSERT_NE(scene.textures[0], nullptr);
        const TextureRecord* texture = currentData<TextureRecord>(scene.textures[0]);
        ASSERT_EQ(texture->width, 2);
        EXPECT_EQ(texture->pixels[3], 0xFF000000u | c.r << 16 | c.g << 8 | c.b);
        std::free(blob);
    }
}
