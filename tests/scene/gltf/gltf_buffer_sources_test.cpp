// Where the packer takes each buffer's bytes from: a buffer view's buffer index names the same
// buffer of the document whichever buffers have data, and a store file is read from its own bytes.
#include "gltf_test_document.h"
#include "scene/gltf_pack.h"
#include "scene/image.h"
#include "store/store.h"
#include "tests/support/fatal_exit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

std::vector<uint8_t> pack(const void* data, size_t size) {
    int blobSize = 0;
    void* blob = loadGLTF(data, size, &blobSize, nullptr, nullptr);
    std::vector<uint8_t> bytes = blobBytes(blob, blobSize);
    std::free(blob);
    return bytes;
}

std::vector<uint8_t> pack(const std::string& text) {
    return pack(text.data(), text.size());
}

// One textured triangle; its JSON with the buffer list replaced and every view pointed at buffer
// `viewBuffer`.
struct TriangleDocument {
    TestDocument doc;
    std::string rest;
    TriangleDocument() {
        rest = R"(,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"meshes":[{"primitives":[{)" +
               doc.addTriangle(true) + "}]}]";
    }
    std::string dataBuffer() const {
        return R"({"byteLength":)" + std::to_string(doc.data().size()) +
               R"(,"uri":"data:application/octet-stream;base64,)" + base64Encode(doc.data()) + "\"}";
    }
    std::string uriBuffer(const std::string& uri) const {
        return R"({"byteLength":)" + std::to_string(doc.data().size()) + R"(,"uri":")" + uri + "\"}";
    }
    std::string withBuffers(const std::string& text, const std::string& buffers, int viewBuffer) const {
        std::string out = text;
        size_t begin = out.find("\"buffers\":[");
        size_t end = out.find("],\"bufferViews\"");
        out.replace(begin, end - begin, "\"buffers\":[" + buffers);
        for (size_t at = out.find("\"buffer\":0,"); at != std::string::npos;
             at = out.find("\"buffer\":0,", at + 1))
            out.replace(at, 11, "\"buffer\":" + std::to_string(viewBuffer) + ",");
        return out;
    }
    std::string json(const std::string& buffers, int viewBuffer) const {
        return withBuffers(doc.json(rest), buffers, viewBuffer);
    }
    // A binary container whose JSON lists `buffers`; with or without the data as its binary chunk.
    std::vector<uint8_t> glb(const std::string& buffers, int viewBuffer, bool binaryChunk) const {
        std::string text = withBuffers(doc.json(rest), buffers, viewBuffer);
        while (text.size() % 4 != 0) text += ' ';
        std::vector<uint8_t> bin = doc.data();
        while (bin.size() % 4 != 0) bin.push_back(0);
        ByteList out;
        out.bytes = {'g', 'l', 'T', 'F'};
        size_t total = 12 + 8 + text.size() + (binaryChunk ? 8 + bin.size() : 0);
        out.u32(2).u32(static_cast<uint32_t>(total));
        out.u32(static_cast<uint32_t>(text.size())).u8('J').u8('S').u8('O').u8('N');
        out.bytes.insert(out.bytes.end(), text.begin(), text.end());
        if (binaryChunk) {
            out.u32(static_cast<uint32_t>(bin.size())).u8('B').u8('I').u8('N').u8(0);
            out.bytes.insert(out.bytes.end(), bin.begin(), bin.end());
        }
        return out.bytes;
    }
};

// The image hook stays installed only for one test.
struct ImageHookInstalled {
    ImageHookInstalled() { installImageHook(); }
    ~ImageHookInstalled() { setImageHook(nullptr); }
};

TEST(GltfBufferSources, EveryViewReadsTheBufferItNames) {
    TriangleDocument t;
    std::vector<uint8_t> reference = pack(t.doc.json(t.rest));
    ImageHookInstalled hook;
    // A store file whose name the image hook decodes (and fails to): its texture stands for it
    // from then on, but the buffer is the file's own bytes.
    const std::vector<uint8_t>& data = t.doc.data();
    putFileVariable("packer-buffer.png", static_cast<uint32_t>(data.size()), data.data());
    putFileVariable("packer-buffer.bin", static_cast<uint32_t>(data.size()), data.data());
    const std::string unused = R"({"byteLength":4})";
    struct Case {
        const char* what;
        std::string buffers;
        int viewBuffer;
    } cases[] = {
        {"data URI", t.dataBuffer(), 0},
        {"store file", t.uriBuffer("packer-buffer.bin"), 0},
        {"store file decoded as an image", t.uriBuffer("packer-buffer.png"), 0},
        {"after a buffer without URI", unused + "," + t.dataBuffer(), 1},
        {"after a data buffer and one without URI", t.dataBuffer() + "," + unused + "," + t.dataBuffer(), 2},
    };
    for (const Case& c : cases) EXPECT_EQ(pack(t.json(c.buffers, c.viewBuffer)), reference) << c.what;

    std::vector<uint8_t> glb =
        t.glb(R"({"byteLength":)" + std::to_string(data.size()) + "}," + unused, 0, true);
    EXPECT_EQ(pack(glb.data(), glb.size()), reference) << "binary chunk";

    // The document itself, stored under a name the image hook takes for an image.
    std::string text = t.doc.json(t.rest);
    Variable* document =
        putFileVariable("packer-scene.jpg.gltf", static_cast<uint32_t>(text.size()), text.data());
    int blobSize = 0;
    void* blob = loadGLTFVariable(document, &blobSize);
    EXPECT_EQ(blobBytes(blob, blobSize), reference);
    std::free(blob);
}

TEST(GltfBufferSources, ViewOfABufferWithoutDataIsFatal) {
    TriangleDocument t;
    const std::string noUri = R"({"byteLength":)" + std::to_string(t.doc.data().size()) + "}";
    // Whichever view the packer reads first names the buffer.
    const char* message = "glTF: buffer view .+ refers to buffer %d, which has no data";
    struct Case {
        const char* what;
        std::vector<uint8_t> input;
        int buffer;
    };
    auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    const Case cases[] = {
        {"first buffer of a .gltf", text(t.json(noUri + "," + t.dataBuffer(), 0)), 0},
        {"later buffer of a .gltf", text(t.json(t.dataBuffer() + "," + noUri + "," + t.dataBuffer(), 1)), 1},
        {"later buffer of a .glb", t.glb(t.dataBuffer() + "," + noUri, 1, true), 1},
        {".glb without binary chunk", t.glb(noUri, 0, false), 0},
    };
    for (const Case& c : cases) {
        char expected[128];
        std::snprintf(expected, sizeof expected, message, c.buffer);
        EXPECT_EXIT(pack(c.input.data(), c.input.size()), ::testing::ExitedWithCode(kFatalExitStatus),
                    expected)
            << c.what;
    }
}

} // namespace
