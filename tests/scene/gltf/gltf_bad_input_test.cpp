// Documents the blob cannot represent end through fatalError with a message naming the item.
#include "gltf_test_document.h"
#include "scene/gltf_pack.h"
#include "tests/support/fatal_exit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

void packText(const std::string& text) {
    void* blob = loadGLTF(text.data(), text.size(), nullptr, nullptr, nullptr);
    std::free(blob);
}

void expectRejected(const std::string& text, const char* message) {
    EXPECT_EXIT(packText(text), ::testing::ExitedWithCode(kFatalExitStatus), message) << text;
}

// One node with one primitive; the pieces can be replaced to break one thing at a time.
struct MeshDocument {
    std::vector<uint16_t> indices = {0, 1, 2};
    std::string rest = R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}])";
    std::string primitiveExtra;

    std::string json() const {
        TestDocument doc;
        int idx = doc.addShorts(indices);
        int pos = doc.addFloats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3");
        int nrm = doc.addFloats({0, 0, 1, 0, 0, 1, 0, 0, 1}, "VEC3");
        return doc.json(R"(,"meshes":[{"primitives":[{)" + primitiveMembers(idx, pos, nrm) + primitiveExtra +
                        "}]}]" + rest);
    }
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST(GltfBadInput, BuffersViewsAndAccessorsMustStayInsideTheirData) {
    std::string good = MeshDocument().json();
    // Accessor 1 (positions) claims a fourth vertex.
    expectRejected(replaced(good, R"("componentType":5126,"count":3)", R"("componentType":5126,"count":4)"),
                   "glTF: accessor 1 reads past the end of buffer view 1");
    expectRejected(replaced(good, R"("buffer":0,"byteOffset":8,"byteLength":36)",
                            R"("buffer":0,"byteOffset":8,"byteLength":3600)"),
                   "glTF: buffer view 1 .* reaches past the end of buffer 0");
    expectRejected(replaced(good, R"("byteOffset":8,)", R"("byteOffset":-8,)"),
                   "buffer view 1 .* reaches past");
    expectRejected(replaced(good, R"("buffer":0,"byteOffset":8)", R"("buffer":3,"byteOffset":8)"),
                   "glTF: buffer view 1 refers to buffer 3, which was not found");
    expectRejected(replaced(good, R"({"bufferView":1,)", R"({"bufferView":7,)"),
                   "glTF: accessor 1 refers to buffer view 7, which does not exist");
    expectRejected(replaced(good, R"("byteLength":36})", R"("byteLength":36,"byteStride":8})"),
                   "glTF: buffer view 1 has byteStride 8, less than the 12 bytes");
    expectRejected(replaced(good, "\"uri\":\"data:", "\"uri\":\"missing-buffer-file.bin\",\"x\":\""),
                   "glTF: buffer 0 \"missing-buffer-file.bin\" is neither an archive member nor a file");
    // A device measures 0 bytes: byteLength cannot make the packer read on and on.
    expectRejected(replaced(good, "\"uri\":\"data:", "\"uri\":\"/dev/zero\",\"x\":\""),
                   "glTF: buffer 0 \"/dev/zero\" holds 0 bytes, byteLength says 80");
    // A data URI shorter than its byteLength.
    std::string text = good;
    size_t comma = text.find("base64,") + 7;
    text.erase(comma, 8);
    expectRejected(text, "glTF: buffer 0 data URI holds .+ bytes, byteLength says 80");
}

TEST(GltfBadInput, AccessorsMustHaveAPackableShape) {
    std::string good = MeshDocument().json();
    expectRejected(
        replaced(good, R"("componentType":5123)", R"("componentType":5124)"),
        "glTF: accessor 0 has component type 5124; only 5120 .*, 5121 .*, 5122 .*, 5123 .*, 5125 .* "
        "and 5126 .* can be packed");
    expectRejected(replaced(good, R"("componentType":5123)", R"("componentType":5122)"),
                   "glTF: mesh 0 primitive 0 indices accessor 0 is SCALAR of component type 5122; it must be "
                   "SCALAR of 5123");
    expectRejected(replaced(good, R"("componentType":5123)", R"("componentType":5126)"),
                   "glTF: mesh 0 primitive 0 indices accessor 0 is SCALAR of component type 5126; it must be "
                   "SCALAR of 5123");
    expectRejected(replaced(good, R"("type":"SCALAR")", R"("type":"MAT4")"),
                   "glTF: accessor 0 has type \"MAT4\"; only SCALAR, VEC2, VEC3 and VEC4 can be packed");
    expectRejected(
        replaced(good, R"("POSITION":1)", R"("POSITION":0)"),
        "glTF: mesh 0 primitive 0 POSITION accessor 0 is SCALAR of component type 5123; it must be VEC3");
    expectRejected(replaced(good, R"("POSITION":1,)", ""),
                   "glTF: mesh 0 primitive 0 has no POSITION attribute");
    expectRejected(replaced(good, R"("POSITION":1)", R"("POSITION":9)"),
                   "glTF: mesh 0 primitive 0 POSITION refers to accessor 9, which does not exist");
    MeshDocument far;
    far.indices = {0, 1, 3};
    expectRejected(far.json(), "glTF: mesh 0 primitive 0 index 2 is 3, past its 3 vertices");
    // A float that is not finite: 1e39 becomes infinity in single precision.
    TestDocument doc;
    doc.addFloats({1, 2}, "SCALAR");
    std::string inf = doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{"translation":[1e39,0,0]}])");
    expectRejected(inf, "glTF: node 0 translation holds a value that is not a finite number");

    // Accessor data that cannot be quantised: NaN, and a range whose width overflows.
    auto keyTimes = [](const std::vector<float>& times) {
        TestDocument d;
        int input = d.addFloats(times, "SCALAR");
        int output = d.addFloats(std::vector<float>(3 * times.size(), 0), "VEC3");
        return d.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{}],"animations":[{"channels":[{"sampler":0,)"
                      R"("target":{"node":0,"path":"scale"}}],"samplers":[{"input":)" +
                      std::to_string(input) + R"(,"output":)" + std::to_string(output) + "}]}]");
    };
    expectRejected(keyTimes({0, NAN, 2}),
                   "glTF: accessor 0 element 1 holds a value that is not a finite number");
    expectRejected(keyTimes({-3e38f, 3e38f}), "glTF: accessor 0 spans a range too large to quantise");
}

TEST(GltfBadInput, ReferencesMustExist) {
    std::string good = MeshDocument().json();
    expectRejected(replaced(good, R"("scenes":[{"nodes":[0]}])", R"("scene":2,"scenes":[{"nodes":[0]}])"),
                   "glTF: scene 2 does not exist \\(the document has 1 scenes\\)");
    expectRejected(replaced(good, R"("nodes":[0]})", R"("nodes":[5]})"),
                   "glTF: scene 0 lists node 5, which does not exist");
    expectRejected(replaced(good, R"({"mesh":0})", R"({"mesh":0,"children":[4]})"),
                   "glTF: node 0 lists child 4, which does not exist");
    expectRejected(replaced(good, R"({"mesh":0})", R"({"mesh":3})"),
                   "glTF: node 0 refers to mesh 3, which does not exist");
    expectRejected(replaced(good, R"("NORMAL":2})", R"("NORMAL":2},"material":1)"),
                   "glTF: mesh 0 primitive 0 refers to material 1, which does not exist");
    std::string textured = replaced(good, R"("NORMAL":2})", R"("NORMAL":2},"material":0)");
    textured.insert(textured.size() - 1,
                    R"(,"materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":2}}}])");
    expectRejected(textured, "glTF: material 0 refers to texture 2, which does not exist");
    textured.insert(textured.size() - 1, R"(,"textures":[{},{},{"source":1}],"images":[{"uri":"a.png"}])");
    expectRejected(textured, "glTF: texture 2 refers to image 1, which does not exist");
    expectRejected(replaced(textured, R"("images":[{"uri":"a.png"}])", R"("images":[{},{"bufferView":9}])"),
                   "glTF: image 1 refers to buffer view 9, which does not exist");
}

TEST(GltfBadInput, NodeHierarchyMustBeATree) {
    expectRejected(R"({"scenes":[{"nodes":[0]}],"nodes":[{"children":[1]},{"children":[0]}]})",
                   "glTF: node 0 is reached twice from scene 0; the node hierarchy must be a tree");
    expectRejected(R"({"scenes":[{"nodes":[0,1]}],"nodes":[{"children":[1]},{}]})",
                   "glTF: node 1 is reached twice");
    expectRejected(R"({"scenes":[{"nodes":[0]}],"nodes":[{"matrix":[1,0,0]}]})",
                   "glTF: node 0 has 3 matrix values; it needs 16");
}

TEST(GltfBadInput, LightsMustExistAndHaveAColour) {
    const char* node =
        R"({"scenes":[{"nodes":[0]}],"nodes":[{"extensions":{"KHR_lights_punctual":{"light":1}}}])";
    expectRejected(std::string(node) + "}",
                   "glTF: node 0 refers to light 1, which does not exist \\(the document has 0 lights\\)");
    expectRejected(std::string(node) +
                       R"(,"extensions":{"KHR_lights_punctual":{"lights":[{},{"color":[1,1]}]}}})",
                   "glTF: light 1 has 2 colour values; it needs 3");
}

TEST(GltfBadInput, ChannelsMustMatchTheirAccessors) {
    TestDocument doc;
    int times = doc.addFloats({0, 1}, "SCALAR");
    int values = doc.addFloats({0, 0, 0, 1, 1, 1}, "VEC3");
    std::string base = doc.json(R"(,"scenes":[{"nodes":[0]}],"nodes":[{}],"animations":[{"channels":[)"
                                R"({"sampler":0,"target":{"node":0,"path":"PATH"}}],"samplers":[{"input":)" +
                                std::to_string(times) + R"(,"output":)" + std::to_string(values) +
                                R"(,"interpolation":"INTERP"}]}])");
    auto with = [&](const char* path, const char* interpolation) {
        return replaced(replaced(base, "PATH", path), "INTERP", interpolation);
    };
    expectRejected(
        with("rotation", "LINEAR"),
        "glTF: animation 0 channel 0 key values accessor 1 is VEC3 of component type 5126; it must be VEC4");
    expectRejected(with("scale", "CUBICSPLINE"),
                   "glTF: animation 0 channel 0 has 2 key times but 2 key values \\(needs 6\\)");
    expectRejected(replaced(with("scale", "STEP"), R"("node":0,"path")", R"("node":4,"path")"),
                   "glTF: animation 0 channel 0 targets node 4, which does not exist");
    expectRejected(replaced(with("scale", "STEP"), R"("sampler":0,"target")", R"("sampler":1,"target")"),
                   "glTF: animation 0 channel 0 refers to sampler 1, which does not exist");
}

TEST(GltfBadInput, NumbersTheReaderCannotConvertAreFatal) {
    expectRejected(R"({"scenes":[{"nodes":[0]}],"nodes":[{}],"extensions":{"KHR_lights_punctual":{"lights":[)"
                   R"({"intensity":1e999}]}}})",
                   "glTF: a number in the JSON text is out of range");
}

TEST(GltfBadInput, BinaryContainerMustHoldItsChunks) {
    TestDocument doc;
    std::vector<uint8_t> glb = doc.glb(R"(,"scenes":[{"nodes":[0]}],"nodes":[{}])");
    std::vector<uint8_t> cut(glb.begin(), glb.end() - 4);
    EXPECT_EXIT(std::free(loadGLTF(cut.data(), cut.size(), nullptr, nullptr, nullptr)),
                ::testing::ExitedWithCode(kFatalExitStatus),
                "glTF: binary container header says .+ bytes, the file holds");
    std::vector<uint8_t> longChunk = glb;
    longChunk[12] = 0xFF; // JSON chunk length far past the end
    longChunk[13] = 0xFF;
    EXPECT_EXIT(std::free(loadGLTF(longChunk.data(), longChunk.size(), nullptr, nullptr, nullptr)),
                ::testing::ExitedWithCode(kFatalExitStatus),
                "glTF: binary container chunk at offset 12 .* runs past the end");
    EXPECT_EXIT(std::free(loadGLTF("glTF\2\0\0\0", 8, nullptr, nullptr, nullptr)),
                ::testing::ExitedWithCode(kFatalExitStatus),
                "glTF: binary container of 8 bytes is shorter than its header");
}

TEST(GltfBadInput, LimitsOfTheLargeFormAreRefusedByName) {
    // An animated node's index has the 12 bits of a channel's target code: node 4096 is the
    // first one past them (the root is node 0, its 5000 children follow in order).
    std::string children, nodes;
    for (int i = 1; i <= 5000; ++i) {
        if (i > 1) children += ',';
        children += std::to_string(i);
        nodes += ",{}";
    }
    TestDocument doc;
    int times = doc.addFloats({0, 1}, "SCALAR"), values = doc.addFloats({0, 0, 0, 1, 1, 1}, "VEC3");
    std::string animated =
        R"(,"scenes":[{"nodes":[0]}],"nodes":[{"children":[)" + children + "]}" + nodes +
        R"(],"animations":[{"channels":[{"sampler":0,"target":{"node":4096,"path":"scale"}}],)"
        R"("samplers":[{"input":)" +
        std::to_string(times) + R"(,"output":)" + std::to_string(values) + "}]}]";
    expectRejected(doc.json(animated),
                   "glTF: animation 0 channel 0 targets node 4096, packed as node 4096; an "
                   "animated node must be among the first 4096 packed nodes");
}

TEST(GltfBadInput, RequiredExtensionsThePackerLacksAreRefusedFirst) {
    // Refused before the document is read: its buffer view -1 would be reported otherwise.
    const std::string draco =
        R"({"extensionsUsed":["KHR_draco_mesh_compression"],"extensionsRequired":["KHR_lights_punctual",)"
        R"("KHR_draco_mesh_compression"],"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":)"
        R"([{"attributes":{"POSITION":0},"indices":1}]}],"accessors":[{"bufferView":-1,"count":3,)"
        R"("componentType":5126,"type":"VEC3"},{"count":3,"componentType":5123,"type":"SCALAR"}]})";
    expectRejected(draco, "glTF: the document requires the extension \"KHR_draco_mesh_compression\", which "
                          "the packer does not implement");
    // Extensions that are only used, and required ones the packer implements, do not stop it.
    for (const char* members : {R"("extensionsUsed":["EXT_meshopt_compression"],)",
                                R"("extensionsRequired":["KHR_mesh_quantization","KHR_lights_punctual"],)",
                                R"("extensionsRequired":["KHR_texture_transform"],)"}) {
        std::string text = std::string("{") + members + R"("scenes":[{"nodes":[0]}],"nodes":[{"name":"n"}]})";
        void* blob = loadGLTF(text.data(), text.size(), nullptr, nullptr, nullptr);
        EXPECT_NE(blob, nullptr) << text;
        std::free(blob);
    }
}

} // namespace
