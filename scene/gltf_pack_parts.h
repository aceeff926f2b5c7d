/* gltf_pack_parts.h — the packer's passes, for the files of scene/ that implement loadGLTF.

   loadGLTF (gltf_pack.h) runs four passes, one file each:

       input     gltf_pack_input.cpp     container, JSON text and buffers  -> PackInput, GLTFMain
       validate  gltf_pack_validate.cpp  what the blob cannot hold, skips  -> Validation
       plan      gltf_pack_plan.cpp      what the blob will hold           -> Plan
       write     gltf_pack_write.cpp     sizing and writing passes         -> WrittenBlob

   and, with a listing asked for, the dump (gltf_pack_dump.cpp). The entry points in
   gltf_pack.cpp string them together, print validation's notes and hand its message to fatalError. Planning
   reads only a document that validation accepted, so it checks nothing itself. Not for use
   outside the packer: the rest of the program knows loadGLTF and the blob (blob.h) only. */
#pragma once

#include "scene/blob.h"
#include "scene/gltf.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

struct Variable;

namespace gltfpack {

// ---- Input ----

struct ByteSpan {
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool present = false; // false: the buffer has no data at all (not the same as 0 bytes)
};

struct PackInput {
    std::string json;
    ByteSpan binaryChunk;                           // the .glb's first "BIN" chunk, if any
    std::vector<ByteSpan> buffers;                  // one per document buffer; bufferView.buffer indexes it
    std::vector<std::vector<uint8_t>> ownedBuffers; // decoded "data:" URIs, file reads, sparse accessors
    std::map<int, std::string> sparseProblems;      // accessor -> why its substitutions cannot be applied
};

inline uint32_t readU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool isDataUri(const std::string& uri);
// Decodes the base64 text after the URI's first ",", at most `limit` bytes.
std::vector<uint8_t> decodeDataUri(const std::string& uri, size_t limit);
// A file Variable's own bytes (not the texture the image hook may have made of them).
ByteSpan fileBytes(Variable* v);

// Splits a .glb into JSON text and binary chunks (a .gltf is all text) and reads the text.
// Returns whether the text read to its end; `report` prints what went wrong.
bool readInput(const void* data, size_t size, PackInput& input, GLTFMain& document, bool report);
// Fills input.buffers, one entry per document buffer.
void fetchBuffers(const GLTFMain& document, PackInput& input);
// Replaces each sparse accessor by a dense one with its substitutions applied, in a buffer and
// view of its own added to input.buffers and the document (a sparse accessor without a buffer
// view starts from zeros). What cannot be applied lands in input.sparseProblems, for validation
// to refuse when the accessor is used; the accessor then stays as it was.
void applySparseAccessors(GLTFMain& document, PackInput& input);

// ---- Accessors ----

constexpr uint16_t kComponentTypeByte = 5120;
constexpr uint16_t kComponentTypeUnsignedByte = 5121;
constexpr uint16_t kComponentTypeShort = 5122;

// Nodes the blob's chunk "n" holds at most: a node's parent is a signed 16-bit index.
constexpr int kMaxPackedNodes = 32767;
// An animated node's packed index has the 12 bits of a channel's target code.
constexpr int kMaxAnimatedNode = kMaxChannelNodes - 1;

// Extensions a document may require: the packer implements them.
extern const char* const kImplementedExtensions[3];

// Bytes of one component, 0 for a component type the packer does not read.
int componentBytesOf(int componentType);
// Components of an accessor type ("VEC3" -> 3), 0 for a type the packer does not read.
int componentCountOf(const std::string& type);

// Where an accessor's elements lie.
struct AccessorData {
    const uint8_t* first = nullptr; // element 0
    int64_t stride = 0;             // bytes from one element to the next
    int32_t count = 0;
    int components = 0;    // 1-4
    int componentType = 0; // as glTF has it; the blob holds 5123, 5125 (index lists) and 5126
    int componentBytes = 0;

    float floatAt(int32_t element, int c) const {
        float value;
        std::memcpy(&value, first + element * stride + c * 4, 4);
        return value;
    }
    // Component c of an integer attribute (KHR_mesh_quantization) as a float; normalised
    // integers map to [0, 1] or [-1, 1] as glTF defines.
    float integerAt(int32_t element, int c, bool normalized) const {
        const uint8_t* p = first + element * stride + c * componentBytes;
        switch (componentType) {
        case kComponentTypeByte: {
            float v = static_cast<float>(static_cast<int8_t>(p[0]));
            return normalized ? std::max(v / 127.0f, -1.0f) : v;
        }
        case kComponentTypeUnsignedByte:
            return normalized ? p[0] / 255.0f : static_cast<float>(p[0]);
        case kComponentTypeShort: {
            float v = static_cast<float>(static_cast<int16_t>(p[0] | p[1] << 8));
            return normalized ? std::max(v / 32767.0f, -1.0f) : v;
        }
        default: {
            float v = static_cast<float>(static_cast<uint16_t>(p[0] | p[1] << 8));
            return normalized ? v / 65535.0f : v;
        }
        }
    }
    uint16_t shortAt(int32_t element, int c) const {
        const uint8_t* p = first + element * stride + c * 2;
        return static_cast<uint16_t>(p[0] | p[1] << 8);
    }
    // Element of an index list of 8-, 16- or 32-bit unsigned integers.
    uint32_t indexAt(int32_t element) const {
        const uint8_t* p = first + element * stride;
        if (componentBytes == 1) return p[0];
        if (componentBytes == 2) return shortAt(element, 0);
        return readU32(p);
    }
};

// The elements of accessor `index` of a validated document.
AccessorData accessorData(const GLTFMain& document, const PackInput& input, int index);
// The first byte of buffer view `view` of a validated document.
const uint8_t* viewData(const GLTFMain& document, const PackInput& input, int view);
// The component type a primitive's index accessor is read as: its own when it is 8 or 32 bits,
// else 16 bits (which validation then demands).
int indexComponentType(const GLTFMain& document, int indices);
// The component type a vertex attribute accessor is read as: its own when it is a byte or short
// type (KHR_mesh_quantization, glTF's normalised texture coordinates), else float.
int attributeComponentType(const GLTFMain& document, int accessor);

// ---- Primitives and materials ----

// glTF primitive modes.
constexpr int kModePoints = 0;
constexpr int kModeLineStrip = 3;
constexpr int kModeTriangles = 4;
constexpr int kModeTriangleStrip = 5;
constexpr int kModeTriangleFan = 6;

// What a mode draws, for console lines ("line loop").
const char* modeName(int mode);
// Indices a triangle strip or fan of `count` indices becomes as a list; `count` for a list.
int64_t triangleListLength(int mode, int64_t count);
// A strip's or fan's index list as a triangle list with glTF's winding; a list as it is.
std::vector<uint32_t> triangleList(int mode, const std::vector<uint32_t>& indices);

// The texture coordinate attribute ("TEXCOORD_1") the base colour texture of `material` reads:
// KHR_texture_transform's texCoord, else the texture info's, else set 0. "TEXCOORD_0" also for
// an untextured or out-of-range material.
std::string baseColorTexCoord(const GLTFMain& document, int material);
// The KHR_texture_transform of the base colour texture of `material`, or null.
const GLTFTextureTransform* baseColorTransform(const GLTFMain& document, int material);

// ---- Cameras ----

// Whether a camera makes a projection: a perspective one with 0 < yfov < pi, aspect ratio 0 (the
// window's) or above, 0 < znear and zfar 0 (none) or above znear; an orthographic one with xmag
// and ymag not 0 and 0 <= znear < zfar. All finite.
bool cameraUsable(const GLTFCamera& camera);
// The four numbers the blob keeps of a usable camera (see kCameraPerspective in blob.h).
std::vector<float> cameraNumbers(const GLTFCamera& camera);

// ---- Animation codes ----

struct NamedCode {
    const char* name;
    int code;
};

extern const NamedCode kPathCodes[3];
extern const NamedCode kInterpolationCodes[4];

// The code of `name` in the table, -1 when it is not there.
template <size_t N> int codeOf(const std::string& name, const NamedCode (&table)[N]) {
    for (const NamedCode& entry : table)
        if (name == entry.name) return entry.code;
    return -1;
}

// ---- Validation ----

struct Validation {
    std::vector<std::string> notes; // console lines on items the plan skips or converts, in its order
    std::string problem;            // names the first item the blob cannot hold; "" when none
};

// Checks, in the order the plan visits them, everything the default scene reaches that the blob
// cannot represent faithfully; notes stop at the problem.
Validation validateDocument(const GLTFMain& document, const PackInput& input);

// ---- Plan ----

struct PlannedNode {
    int parent; // index in the packed node list, -1 for a root
    int node;   // glTF node
    int light;  // KHR_lights_punctual light index, -1 without light
    int camera; // made accessor of the camera's projection numbers, 0 without camera
    bool orthographic;
};

struct PlannedPrimitive {
    int indices, position, normal, texcoord; // accessors; texcoord -1 when absent
    int material;                            // -1: glTF's default material
};

struct PlannedChannel {
    uint16_t target; // node * 16 + path code + interpolation code
    int input, output;
};

struct Plan {
    std::vector<PlannedNode> nodes;
    std::map<int, std::vector<PlannedPrimitive>> meshes; // every mesh a packed node uses
    std::vector<PlannedChannel> channels;
    // Every accessor the blob copies: glTF accessors under their index, and accessors the packer
    // makes itself (widened index lists, flat normals, ...) under negative keys from -2 down.
    std::map<int, AccessorData> accessors;
    std::deque<std::vector<uint8_t>> madeData; // the elements of the accessors the packer made
    std::map<int, std::string> imageNames;     // image held in the document -> its file in the store
};

// Plans a validated document: nodes breadth-first, meshes, converted accessors, images put into
// the store, channels.
Plan planDocument(const GLTFMain& document, const PackInput& input);

// ---- Write and dump ----

struct WrittenBlob {
    uint8_t* blob = nullptr; // C allocator, owned by the caller
    int64_t size = 0;
    std::map<int64_t, std::string> labels; // blob offset -> label, when asked for
};

// Sizes the blob, allocates it and writes it; ends the process when the scene does not fit.
// outUris (optional) receives, in each of the two passes, every material record's image URI.
WrittenBlob writeBlob(const GLTFMain& document, const Plan& plan, bool keepLabels,
                      std::vector<std::string>* outUris);

// Writes the blob to "gltf.expbin" and the labelled byte listing to csvPath.
void writeDump(const WrittenBlob& packed, const char* csvPath);

} // namespace gltfpack
