// Byte-exact and structural tests of small documents packed into the scene blob.
#include "gltf_test_document.h"
#include "scene/blob.h"
#include "scene/gltf_pack.h"
#include "store/store.h"
#include "tests/support/fatal_exit.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

struct Packed {
    void* blob = nullptr;
    int size = 0;
    std::vector<std::string> uris;
    ~Packed() { std::free(blob); }
    BlobView view() const { return BlobView(blob, static_cast<size_t>(size)); }
};

void pack(const std::string& text, Packed& out, const char* csvPath = nullptr) {
    out.blob = loadGLTF(text.data(), text.size(), &out.size, csvPath, &out.uris);
    ASSERT_NE(out.blob, nullptr);
}

struct DirectoryEntry {
    char tag;
    uint8_t pad;
    uint16_t offset, size;
};

void writeDirectory(ByteList& b, const std::vector<DirectoryEntry>& entries) {
    b.u16(9);
    for (const DirectoryEntry& e : entries)
        b.u8(static_cast<uint8_t>(e.tag)).u8(e.pad).u16(e.offset).u16(e.size);
}

void sharedTexts(ByteList& b) {
    b.text("idx").text("pos").text("normal").text("uv").text("");
}

const char* const kOneNode = R"({"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"name":"A"}]})";

// The one-node document: directory, one node, the texts and its name, empty chunks.
std::vector<uint8_t> oneNodeBlob() {
    ByteList b;
    writeDirectory(b, {{'h', 0, 0, 56},
                       {'n', 0, 56, 28},
                       {'m', 0, 84, 0},
                       {'a', 0, 84, 0},
                       {'A', 0, 84, 0},
                       {'t', 0, 84, 0},
                       {'L', 0, 84, 0},
                       {'d', 3, 84, 21},
                       {'e', 0, 108, 0}});
    b.u16(0xFFFF).u16(0).reference(103).i32(0).i32(0).i32(0).i32(0).u16(0xFFFF).u16(0);
    sharedTexts(b);
    b.text("A").zeros(3);
    return b.bytes;
}

TEST(GltfPack, OneNodeDocumentIsByteExact) {
    Packed p;
    pack(kOneNode, p);
    EXPECT_EQ(blobBytes(p.blob, p.size), oneNodeBlob());
}

TEST(GltfPack, JsonTextMayStartWithBlanks) {
    Packed p;
    pack(std::string("\r\n \t") + kOneNode, p);
    EXPECT_EQ(blobBytes(p.blob, p.size), oneNodeBlob());
}

TEST(GltfPack, TwoNodesSharingAMeshAreByteExact) {
    TestDocument doc;
    std::string rest = R"(,"scenes":[{"nodes":[0,1]}],"nodes":[{"name":"a","mesh":0},)"
                       R"({"name":"b","mesh":0,"translation":[1,2,3]}],)"
                       R"("meshes":[{"primitives":[{)" +
                       doc.addTriangle() + "}]}]";
    Packed p;
    pack(doc.json(rest), p);

    ByteList b;
    writeDirectory(b, {{'h', 0, 0, 56},
                       {'n', 0, 56, 56},
                       {'m', 2, 112, 10},
                       {'a', 0, 124, 84},
                       {'A', 0, 208, 0},
                       {'t', 0, 208, 8},
                       {'L', 0, 216, 0},
                       {'d', 0, 216, 136},
                       {'e', 0, 352, 0}});
    // Nodes: both refer to primitive 0, count 1; node b has its translation at 340.
    b.u16(0xFFFF).u16(0).reference(235).i32(0).i32(0).i32(0).i32(0).u16(0).u16(1);
    b.u16(0xFFFF).u16(0).reference(338).i32(0).reference(340).i32(0).i32(0).u16(0).u16(1);
    b.u16(0).u16(1).u16(3).u16(0).u16(0).zeros(2);
    // Accessors: idx, pos, normal with their name texts and component data.
    b.u16(5123).u16(0x21).i32(3).reference(216).reference(237).i32(0).i32(0).i32(0);
    b.u16(5126).u16(0x43).i32(3).reference(220).reference(244).reference(260).reference(276).i32(0);
    b.u16(5126).u16(0x43).i32(3).reference(224).reference(292).reference(308).reference(324).i32(0);
    b.u32(0xFFFFFFFF).reference(234); // the default material: white, the shared empty text
    ASSERT_EQ(b.size(), 216u);
    sharedTexts(b);
    b.text("a");
    b.u16(0).u16(1).u16(2);                                  // index copy, unaligned at 237
    b.u8(0).f32(0).f32(1).u16(0).u16(65535).u16(0).zeros(2); // x over [0, 1]
    b.f32(0).f32(1).u16(0).u16(0).u16(65535).zeros(2);       // y
    b.f32(0).f32(0).u16(0).u16(0).u16(0).zeros(2);           // z: all equal
    b.f32(0).f32(0).u16(0).u16(0).u16(0).zeros(2);           // normal x
    b.f32(0).f32(0).u16(0).u16(0).u16(0).zeros(2);           // normal y
    b.f32(1).f32(1).u16(0).u16(0).u16(0);                    // normal z
    ASSERT_EQ(b.size(), 338u);
    b.text("b").f32(1).f32(2).f32(3);
    EXPECT_EQ(blobBytes(p.blob, p.size), b.bytes);
}

// A mesh with one primitive over three vertices, with the given extra primitive members.
std::string triangleDocument(TestDocument& doc, const std::string& rest,
                             const std::string& primitiveExtra = "", bool texcoords = false) {
    return doc.json(R"(,"meshes":[{"primitives":[{)" + doc.addTriangle(texcoords) + primitiveExtra + "}]}]" +
                    rest);
}

TEST(GltfPack, UnreachableNodeIsNotPackedAndItsChannelIsSkipped) {
    TestDocument doc;
    int times = doc.addFloats({0, 1}, "SCALAR");
    int values = doc.addFloats({0, 0, 0, 1, 1, 1}, "VEC3");
    std::string samplers = R"("samplers":[{"input":)" + std::to_string(times) + R"(,"output":)" +
                           std::to_string(values) + R"(,"interpolation":"LINEAR"}])";
    Packed p;
    pack(doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{"name":"root","children":[1]},{"name":"child"},)"
                  R"({"name":"lost"}],"animations":[{"channels":[{"sampler":0,"target":{"node":2,)"
                  R"("path":"translation"}},{"sampler":0,"target":{"node":1,"path":"scale"}}],)" +
                  samplers + "}]"),
         p);
    BlobView v = p.view();
    ASSERT_EQ(v.nodes().size(), 2u);
    EXPECT_STREQ(v.text(&v.nodes()[0].name), "root");
    EXPECT_EQ(v.nodes()[0].parent, -1);
    EXPECT_STREQ(v.text(&v.nodes()[1].name), "child");
    EXPECT_EQ(v.nodes()[1].parent, 0);
    ASSERT_EQ(v.channels().size(), 1u);
    EXPECT_EQ(v.channels()[0].target, 1 * 16 + kPathScale + kInterpolationLinear);
    EXPECT_EQ(v.channels()[0].keyTimes, 0);
    ASSERT_EQ(v.accessors().size(), 2u);
    EXPECT_EQ(v.accessors()[0].name, 0); // animation accessors carry no name
    EXPECT_EQ(v.accessors()[1].componentCount(), 3);
}

TEST(GltfPack, BreadthFirstOrderPutsParentsFirst) {
    Packed p;
    pack(R"({"scenes":[{"nodes":[0,3]}],"nodes":[{"name":"r0","children":[1]},{"name":"c1","children":[2]},)"
         R"({"name":"g2"},{"name":"r3","children":[4]},{"name":"c4"}]})",
         p);
    BlobView v = p.view();
    std::vector<std::string> names;
    std::vector<int> parents;
    for (const PackedNode& n : v.nodes()) {
        names.push_back(v.text(&n.name));
        parents.push_back(n.parent);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"r0", "r3", "c1", "c4", "g2"}));
    EXPECT_EQ(parents, (std::vector<int>{-1, -1, 0, 1, 2}));
}

TEST(GltfPack, EqualAndNegativeFloatAccessorsQuantiseOverTheirOwnRange) {
    TestDocument doc;
    int times = doc.addFloats({0, 1, 2}, "SCALAR");
    int values = doc.addFloats({-3, 2.5f, 0, -1, 2.5f, 0, -2, 2.5f, 0}, "VEC3");
    Packed p;
    pack(doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{}],"animations":[{"channels":[{"sampler":0,)"
                  R"("target":{"node":0,"path":"translation"}}],"samplers":[{"input":)" +
                  std::to_string(times) + R"(,"output":)" + std::to_string(values) +
                  R"(,"interpolation":"STEP"}]}])"),
         p);
    BlobView v = p.view();
    ASSERT_EQ(v.accessors().size(), 2u);
    const PackedAccessor& a = v.accessors()[1];
    // Values (-3, 2.5, 0), (-1, 2.5, 0), (-2, 2.5, 0): x all negative, y all equal.
    CompactFloatBlock x = v.floatBlock(&a.components[0], a.count);
    EXPECT_EQ(x.minimum, -3.0f);
    EXPECT_EQ(x.maximum, -1.0f);
    EXPECT_EQ(x.code(0), 0);
    EXPECT_EQ(x.code(1), 65535); // the largest negative value
    EXPECT_EQ(x.code(2), 32767); // 0.5 * 65535 truncated
    EXPECT_EQ(x.value(1), -1.0f);
    CompactFloatBlock y = v.floatBlock(&a.components[1], a.count);
    EXPECT_EQ(y.minimum, 2.5f);
    EXPECT_EQ(y.maximum, 2.5f);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(y.code(i), 0);
        EXPECT_EQ(y.value(i), 2.5f); // exactly the minimum
    }
    EXPECT_EQ(v.channels()[0].target, 0 * 16 + kPathTranslation + kInterpolationStep);
}

TEST(GltfPack, ChunksArePaddedToFourBytesAndSizesExcludeThePadding) {
    // Names of 1 to 4 characters move the end of "d" through every padding count.
    for (const char* name : {"a", "ab", "abc", "abcd"}) {
        Packed p;
        pack(std::string(R"({"scenes":[{"nodes":[0]}],"nodes":[{"name":")") + name + R"("}]})", p);
        BlobView v = p.view();
        const uint8_t* dir = v.bytes() + 2;
        uint32_t expectedOffset = 0;
        for (int i = 0; i < kBlobChunkCount; ++i) {
            const uint8_t* e = dir + 6 * i;
            uint16_t offset = static_cast<uint16_t>(e[2] | e[3] << 8);
            uint16_t size = static_cast<uint16_t>(e[4] | e[5] << 8);
            EXPECT_EQ(e[0], static_cast<uint8_t>(kBlobChunkOrder[i]));
            EXPECT_EQ(offset, expectedOffset) << name << " chunk " << i;
            EXPECT_EQ(offset % 4, 0);
            EXPECT_LE(e[1], 3);
            EXPECT_EQ((size + e[1]) % 4, 0);
            expectedOffset = offset + size + e[1];
        }
        const BlobView::Entry& d = v.entry(BlobChunk::Data);
        EXPECT_EQ(d.size, 19 + std::strlen(name) + 1);
        EXPECT_EQ(d.pad, (4 - d.size % 4) % 4);
        EXPECT_EQ(expectedOffset, static_cast<uint32_t>(p.size));
    }
}

// A primitive whose indices come from a separate "data:" buffer given verbatim.
std::string indexBufferDocument(const std::string& uri, int byteLength, int count) {
    TestDocument doc;
    int pos = doc.addFloats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3");
    int nrm = doc.addFloats({0, 0, 1, 0, 0, 1, 0, 0, 1}, "VEC3");
    std::string json =
        doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":[{)" +
                 primitiveMembers(2, pos, nrm) + "}]}]");
    // Add a second buffer, view and accessor by editing the generated arrays.
    json.replace(json.find("}],\"bufferViews\":["), 18,
                 "},{\"byteLength\":" + std::to_string(byteLength) + ",\"uri\":\"" + uri +
                     "\"}],\"bufferViews\":[");
    json.replace(json.find("],\"accessors\":["), 15,
                 ",{\"buffer\":1,\"byteLength\":" + std::to_string(byteLength) + "}],\"accessors\":[");
    json.replace(json.find("}],\"scenes\""), 11,
                 "},{\"bufferView\":2,\"componentType\":5123,\"count\":" + std::to_string(count) +
                     ",\"type\":\"SCALAR\"}],\"scenes\"");
    return json;
}

TEST(GltfPack, DataUriWithPaddingDecodesToExactlyByteLength) {
    // "AQA=" is the two bytes 01 00, "AgABAA==" the four bytes 02 00 01 00.
    struct Case {
        const char* uri;
        int byteLength;
        std::vector<uint16_t> indices;
    };
    for (const Case& c : {Case{"data:application/octet-stream;base64,AQA=", 2, {1}},
                          Case{"data:application/octet-stream;base64,AgABAA==", 4, {2, 1}}}) {
        Packed p;
        pack(indexBufferDocument(c.uri, c.byteLength, static_cast<int>(c.indices.size())), p);
        BlobView v = p.view();
        const PackedAccessor& idx = v.accessors()[0];
        ASSERT_EQ(idx.count, static_cast<int32_t>(c.indices.size()));
        ShortArray shorts = v.shorts(&idx.components[0], idx.count);
        for (size_t i = 0; i < c.indices.size(); ++i)
            EXPECT_EQ(shorts[static_cast<int32_t>(i)], c.indices[i]);
    }
}

TEST(GltfPack, ImageGivenByBufferViewIsStoredUnderANameOfItsOwn) {
    TestDocument doc;
    std::string json = triangleDocument(
        doc,
        R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"materials":[{"pbrMetallicRoughness":{)"
        R"("baseColorTexture":{"index":0},"baseColorFactor":[1,0.5,0.25,0.75]}}],"textures":[{"source":0}],)"
        R"("images":[{"bufferView":0,"mimeType":"image/png"}])",
        R"(,"material":0)");
    Packed p;
    pack(json, p);
    BlobView v = p.view();
    ASSERT_EQ(v.materials().size(), 1u);
    EXPECT_EQ(v.materials()[0].baseColor, 0xBFFF7F3Fu);
    // The name carries the image index, a hash of its bytes, and the extension its MIME type gives.
    std::string name = v.text(&v.materials()[0].texture);
    EXPECT_TRUE(std::regex_match(name, std::regex("gltf-image0-[0-9a-f]{8}\\.png"))) << name;
    EXPECT_EQ(p.uris, (std::vector<std::string>{name, name}));
    // The store holds the view's bytes (the three indices) under that name.
    Variable* stored = getVariable(name.c_str(), 0);
    ASSERT_NE(stored, nullptr);
    ASSERT_EQ(stored->dataSize, 6u);
    EXPECT_EQ(std::memcmp(currentData<uint8_t>(stored), doc.data().data(), 6), 0);
}

TEST(GltfPack, MaterialsAreWrittenOnFirstUseAndUrisListedInEachPass) {
    TestDocument doc;
    // Appended rather than prefixed: GCC 12 warns wrongly about "{" + string (its bug 105329).
    std::string prim = "{";
    prim += doc.addTriangle();
    std::string json = doc.json(
        R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":[)" + prim +
        R"(,"material":2},)" + prim + "}," + prim + R"(,"material":0},)" + prim + R"(,"material":2},)" +
        prim +
        R"(}]}],"materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":1}}},{},)"
        R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":0},"baseColorFactor":[2,-1,0.5]}}],)"
        R"("textures":[{"source":1},{"source":0}],"images":[{"uri":"tex1.png"},{"uri":"tex2.png"}])");
    Packed p;
    pack(json, p);
    BlobView v = p.view();
    ASSERT_EQ(v.primitives().size(), 5u);
    std::vector<int> materials;
    for (const PackedPrimitive& prim : v.primitives()) materials.push_back(prim.material);
    EXPECT_EQ(materials, (std::vector<int>{0, 1, 2, 0, 1})); // material 2, default, 0, 2, default
    ASSERT_EQ(v.materials().size(), 3u);
    EXPECT_EQ(v.materials()[0].baseColor, 0xFFFF007Fu); // clamped red 1, green 0, blue 0.5
    EXPECT_STREQ(v.text(&v.materials()[0].texture), "tex2.png");
    EXPECT_EQ(v.materials()[1].baseColor, 0xFFFFFFFFu);
    EXPECT_STREQ(v.text(&v.materials()[1].texture), "");
    EXPECT_EQ(v.targetOffset(&v.materials()[1].texture), v.entry(BlobChunk::Data).offset + 18);
    EXPECT_STREQ(v.text(&v.materials()[2].texture), "tex1.png");
    EXPECT_EQ(p.uris, (std::vector<std::string>{"tex2.png", "tex1.png", "tex2.png", "tex1.png"}));
    // Every primitive's accessors: idx, pos, normal, consecutive.
    for (size_t i = 0; i < v.primitives().size(); ++i) {
        EXPECT_EQ(v.primitives()[i].firstAccessor, 3 * i);
        EXPECT_EQ(v.primitives()[i].accessorCount, 3);
        EXPECT_EQ(v.primitives()[i].mesh, 0);
        EXPECT_EQ(v.primitives()[i].kind, kPrimitiveKindTriangles);
    }
}

TEST(GltfPack, TexturedPrimitiveHasFourAccessorsNamedInOrder) {
    TestDocument doc;
    Packed p;
    pack(triangleDocument(doc, R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}])", "", true), p);
    BlobView v = p.view();
    ASSERT_EQ(v.primitives()[0].accessorCount, 4);
    const char* names[] = {"idx", "pos", "normal", "uv"};
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(v.text(&v.accessors()[i].name), names[i]);
    EXPECT_EQ(v.accessors()[3].sizeAndCount, 0x42);
    EXPECT_EQ(v.accessors()[3].components[2], 0);
    EXPECT_EQ(v.accessors()[3].components[3], 0);
}

TEST(GltfPack, BinaryContainerReadsItsBinaryChunk) {
    TestDocument doc;
    int idx = doc.addShorts({2, 1, 0});
    int pos = doc.addFloats({-1, 0, 0, 1, 0, 0, -1, 4, 0}, "VEC3");
    int nrm = doc.addFloats({0, 1, 0, 0, 1, 0, 0, 1, 0}, "VEC3");
    std::string rest =
        R"(,"scenes":[{"nodes":[0]}],"nodes":[{"name":"g","mesh":0}],"meshes":[{"primitives":[{)" +
        primitiveMembers(idx, pos, nrm) + "}]}]";
    std::vector<uint8_t> glb = doc.glb(rest);
    // An unknown chunk after the binary chunk is skipped.
    ByteList extra;
    extra.u32(4).u8('X').u8('T').u8('R').u8('A').u32(0xDEADBEEF);
    glb.insert(glb.end(), extra.bytes.begin(), extra.bytes.end());
    uint32_t total = static_cast<uint32_t>(glb.size());
    std::memcpy(glb.data() + 8, &total, 4);
    int size = 0;
    void* blob = loadGLTF(glb.data(), glb.size(), &size, nullptr, nullptr);
    BlobView v(blob, static_cast<size_t>(size));
    ASSERT_EQ(v.accessors().size(), 3u);
    ShortArray indices = v.shorts(&v.accessors()[0].components[0], 3);
    EXPECT_EQ(indices[0], 2);
    EXPECT_EQ(indices[2], 0);
    // The same document as text with a "data:" URI packs to the same blob.
    Packed text;
    pack(doc.json(rest), text);
    EXPECT_EQ(blobBytes(blob, size), blobBytes(text.blob, text.size));
    float position[9];
    for (int c = 0; c < 3; ++c) v.decodeComponent(v.accessors()[1], c, position, 3);
    EXPECT_EQ(std::vector<float>(position, position + 9), (std::vector<float>{-1, 0, 0, 1, 0, 0, -1, 4, 0}));
    std::free(blob);
}

TEST(GltfPack, LightsFollowTheirNodes) {
    Packed p;
    pack(R"({"scenes":[{"nodes":[0,1,2]}],"nodes":[{"name":"plain"},)"
         R"({"name":"red","extensions":{"KHR_lights_punctual":{"light":1}}},)"
         R"({"name":"white","extensions":{"KHR_lights_punctual":{"light":0}}}],)"
         R"("extensions":{"KHR_lights_punctual":{"lights":[{"type":"point","intensity":3},)"
         R"({"type":"point","color":[1,0.25,0.5,9],"intensity":40}]}}})",
         p);
    BlobView v = p.view();
    ASSERT_EQ(v.lights().size(), 2u);
    EXPECT_EQ(v.lights()[0].node, 1);
    EXPECT_EQ(v.lights()[0].color[1], 0.25f);
    EXPECT_EQ(v.lights()[0].color[2], 0.5f);
    EXPECT_EQ(v.lights()[0].intensity, 40.0f);
    EXPECT_EQ(v.lights()[1].node, 2);
    EXPECT_EQ(v.lights()[1].color[0], 1.0f); // no colour given: glTF's white
    EXPECT_EQ(v.lights()[1].intensity, 3.0f);
}

TEST(GltfPack, NodeTransformsAreStoredAsGiven) {
    Packed p;
    pack(R"({"scenes":[{"nodes":[0]}],"nodes":[{"matrix":[1,0,0,0,0,1,0,0,0,0,1,0,5,6,7,1],)"
         R"("translation":[1,2,3],"rotation":[0,0,0.5,0.5],"scale":[2,2,2],"extras":{"note":"kept"}}]})",
         p);
    BlobView v = p.view();
    const PackedNode& n = v.nodes()[0];
    const float* m = v.floats(&n.matrix, 16);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m[12], 5.0f);
    EXPECT_EQ(v.floats(&n.translation, 3)[2], 3.0f);
    EXPECT_EQ(v.floats(&n.rotation, 4)[3], 0.5f);
    EXPECT_EQ(v.floats(&n.scale, 3)[0], 2.0f);
    EXPECT_STREQ(v.text(&n.name), "");
}

TEST(GltfPack, InterleavedVerticesAreReadThroughTheirStride) {
    TestDocument doc;
    int idx = doc.addShorts({0, 1, 2});
    std::vector<int> att = doc.addInterleaved(
        {{0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 1, 0, 1, 0, 1, 0, 0}, {0, 0, 1, 0, 1, 1}}, {3, 3, 2});
    Packed p;
    pack(doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":[{)" +
                  primitiveMembers(idx, att[0], att[1], att[2]) + "}]}]"),
         p);
    BlobView v = p.view();
    float uv[6], normal[9];
    v.decodeComponent(v.accessors()[3], 0, uv, 2);
    v.decodeComponent(v.accessors()[3], 1, uv, 2);
    for (int c = 0; c < 3; ++c) v.decodeComponent(v.accessors()[2], c, normal, 3);
    EXPECT_EQ(std::vector<float>(uv, uv + 6), (std::vector<float>{0, 0, 1, 0, 1, 1}));
    EXPECT_EQ(std::vector<float>(normal, normal + 9), (std::vector<float>{0, 0, 1, 0, 1, 0, 1, 0, 0}));
}

TEST(GltfPack, SkippedItemsLeaveTheRestPacked) {
    TestDocument doc;
    int times = doc.addFloats({0, 1}, "SCALAR");
    int values = doc.addFloats({0, 0, 0, 1, 1, 1}, "VEC3");
    std::string sampler = R"({"input":)" + std::to_string(times) + R"(,"output":)" + std::to_string(values);
    // Channels: weights, an unknown interpolation, none given.
    std::string json = triangleDocument(
        doc,
        R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"animations":[{"channels":[)"
        R"({"sampler":0,"target":{"node":0,"path":"weights"}},{"sampler":1,"target":{"node":0,"path":"scale"}},)"
        R"({"sampler":2,"target":{"node":0,"path":"translation"}}],"samplers":[)" +
            sampler + R"(,"interpolation":"LINEAR"},)" + sampler + R"(,"interpolation":"SMOOTH"},)" +
            sampler + "}]}]");
    Packed p;
    pack(json, p);
    BlobView v = p.view();
    EXPECT_EQ(v.primitives().size(), 1u);
    EXPECT_EQ(v.nodes()[0].primitiveCount, 1);
    ASSERT_EQ(v.channels().size(), 1u);
    EXPECT_EQ(v.channels()[0].target, kPathTranslation + kInterpolationLinear); // glTF's default
}

TEST(GltfPack, BuffersComeFromTheStore) {
    TestDocument doc;
    std::string json = triangleDocument(doc, R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}])");
    Packed embedded;
    pack(json, embedded);
    // The same bytes as an archive member named by the URI.
    size_t start = json.find("data:");
    json.replace(start, json.find('"', start) - start, "gltf_pack_test_member.bin");
    putFileVariable("gltf_pack_test_member.bin", static_cast<uint32_t>(doc.data().size()), doc.data().data());
    Packed member;
    pack(json, member);
    EXPECT_EQ(blobBytes(member.blob, member.size), blobBytes(embedded.blob, embedded.size));
}

TEST(GltfPack, BuffersComeFromFilesWhenTheStoreLacksThem) {
    TestDocument doc;
    std::string json = triangleDocument(doc, R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}])");
    Packed embedded;
    pack(json, embedded);
    // A name without "." is not resolved by the store; the packer opens it as a file itself.
    ScratchFolder directory;
    // Forward slashes on every system: a JSON string takes a backslash as an escape.
    std::string path = (directory.path() / "buffer").generic_string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(doc.data().data()),
               static_cast<std::streamsize>(doc.data().size()));
    size_t start = json.find("data:");
    json.replace(start, json.find('"', start) - start, path);
    Packed file;
    pack(json, file);
    EXPECT_EQ(blobBytes(file.blob, file.size), blobBytes(embedded.blob, embedded.size));
}

TEST(GltfPack, VariableEntryPacksTheStoredFile) {
    EXPECT_EQ(loadGLTFVariable(nullptr), nullptr);
    EXPECT_EQ(loadGLTFVariable(putFileVariable("gltf_pack_test_empty.gltf", 0, "")), nullptr);
    Variable* file =
        putFileVariable("gltf_pack_test_one.gltf", static_cast<uint32_t>(std::strlen(kOneNode)), kOneNode);
    int size = 0;
    void* blob = loadGLTFVariable(file, &size);
    EXPECT_EQ(blobBytes(blob, size), oneNodeBlob());
    std::free(blob);
}

// Runs in a fresh directory: the dump writes "gltf.expbin" into the working directory.
class GltfDump : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(directory_.path());
    }
    void TearDown() override { std::filesystem::current_path(previous_); }
    ScratchFolder directory_;
    std::filesystem::path previous_;
};

TEST_F(GltfDump, WritesTheBlobAndItsListing) {
    Packed p;
    pack(kOneNode, p, "listing.csv");
    std::string binary = readFile("gltf.expbin");
    EXPECT_EQ(std::vector<uint8_t>(binary.begin(), binary.end()), blobBytes(p.blob, p.size));
    const char* expected = R"csv(0000,"$ 0000", "start",": 09,00"
0002,"$ 0002", "#### CHUNKPTR h ####",": 68,00,00,00,38,00  (Text:h   8 )"
0008,"$ 0008", "#### CHUNKPTR n ####",": 6e,00,38,00,1c,00  (Text:n 8 )"
0014,"$ 000e", "#### CHUNKPTR m ####",": 6d,00,54,00,00,00  (Text:m T   )"
0020,"$ 0014", "#### CHUNKPTR a ####",": 61,00,54,00,00,00  (Text:a T   )"
0026,"$ 001a", "#### CHUNKPTR A ####",": 41,00,54,00,00,00  (Text:A T   )"
0032,"$ 0020", "#### CHUNKPTR t ####",": 74,00,54,00,00,00  (Text:t T   )"
0038,"$ 0026", "#### CHUNKPTR L ####",": 4c,00,54,00,00,00  (Text:L T   )"
0044,"$ 002c", "#### CHUNKPTR d ####",": 64,03,54,00,15,00  (Text:d)"
0050,"$ 0032", "#### CHUNKPTR e ####",": 65,00,6c,00,00,00  (Text:e l   )"
0056,"$ 0038", "#### NodeStart ####",": ff,ff,00,00"
0060,"$ 003c", "N-NAME",": 2b,00,00,00  (Text:+   )"
0064,"$ 0040", "N-Mat",": 00,00,00,00"
0068,"$ 0044", "N-PosRotScale",": 00,00,00,00,00,00,00,00,00,00,00,00"
0080,"$ 0050", "n-mesh",": ff,ff,00,00"
0084,"$ 0054", "Text:idx",": 69,64,78,00  (Text:idx )"
0088,"$ 0058", "Text:pos",": 70,6f,73,00  (Text:pos )"
0092,"$ 005c", "Text:normal",": 6e,6f,72,6d,61,6c,00  (Text:normal )"
0099,"$ 0063", "Text:uv",": 75,76,00  (Text:uv )"
0102,"$ 0066", "Text:",": 00"
0103,"$ 0067", "Text:A",": 41,00,00,00,00  (Text:A    )"
)csv";
    EXPECT_EQ(readFile("listing.csv"), expected);
}

TEST_F(GltfDump, LabelsFollowAlignmentAndDataSpans) {
    TestDocument doc;
    Packed p;
    pack(triangleDocument(doc,
                          R"(,"scenes":[{"nodes":[0]}],"nodes":[{"name":"abc","mesh":0,"scale":[1,1,1]}])"),
         p, "listing.csv");
    std::string csv = readFile("listing.csv");
    // The scale array is 4-aligned after the odd-length name: its label sits on the aligned offset.
    BlobView v = p.view();
    int64_t scale = v.targetOffset(&v.nodes()[0].scale);
    char line[64];
    std::snprintf(line, sizeof line, "%4.4d,\"$ %4.4x\", \"ND-Scale\",\": 00,00,80,3f,",
                  static_cast<int>(scale), static_cast<unsigned>(scale));
    EXPECT_NE(csv.find(line), std::string::npos) << csv;
    EXPECT_NE(csv.find("\"AttDATA:idx(CT/RelTeTy/SzCCount/ECount/ComPtrs4)\",\": 03,14,21,00,03,00,00,00,"),
              std::string::npos);
    EXPECT_NE(csv.find("\"idx binary-shorts\",\": 00,00,01,00,02,00"), std::string::npos);
    EXPECT_NE(csv.find("\"poscompact floats\""), std::string::npos);
    EXPECT_NE(csv.find("\"####### MESH\",\": 00,00,01,00,03,00,00,00,00,00"), std::string::npos);
    EXPECT_NE(csv.find("\"####### TEXTURE\",\": ff,ff,ff,ff,"), std::string::npos);
}

TEST_F(GltfDump, UnwritableListingIsFatal) {
    EXPECT_EXIT(loadGLTF(kOneNode, std::strlen(kOneNode), nullptr, "no/such/dir/listing.csv", nullptr),
                ::testing::ExitedWithCode(kFatalExitStatus), "Could not write CSV from GLTF");
}

} // namespace
