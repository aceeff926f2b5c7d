#include "scene/gltf_pack.h"

#include "app/console.h"
#include "refl/json/json.h"
#include "scene/blob.h"
#include "scene/gltf.h"
#include "store/store.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>

namespace {

// ---- Input: container, JSON text and buffers ----

struct ByteSpan {
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool present = false; // false: the buffer has no data at all (not the same as 0 bytes)
};

struct PackInput {
    std::string json;
    ByteSpan binaryChunk;                           // the .glb's first "BIN" chunk, if any
    std::vector<ByteSpan> buffers;                  // one per document buffer; bufferView.buffer indexes it
    std::vector<std::vector<uint8_t>> ownedBuffers; // decoded "data:" URIs and file reads
};

uint32_t readU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// A .glb: 12-byte header (magic, version, total length), then chunks of u32 length, u32 type
// and the chunk bytes. "JSON" gives the text, "BIN\0" a buffer; other types are skipped.
void splitBinaryContainer(const uint8_t* data, size_t size, PackInput& input) {
    if (size < 12) fatalErrorFormat("glTF: binary container of %zu bytes is shorter than its header", size);
    uint64_t total = readU32(data + 8);
    if (total > size)
        fatalErrorFormat("glTF: binary container header says %llu bytes, the file holds %zu",
                         static_cast<unsigned long long>(total), size);
    uint64_t position = 12;
    while (position < total) {
        if (position + 8 > total)
            fatalErrorFormat("glTF: binary container chunk at offset %llu has a cut-off header",
                             static_cast<unsigned long long>(position));
        uint64_t length = readU32(data + position);
        const uint8_t* type = data + position + 4;
        if (position + 8 + length > total)
            fatalErrorFormat("glTF: binary container chunk at offset %llu (%llu bytes) runs past the end",
                             static_cast<unsigned long long>(position),
                             static_cast<unsigned long long>(length));
        const uint8_t* bytes = data + position + 8;
        if (std::memcmp(type, "JSON", 4) == 0) {
            input.json.assign(reinterpret_cast<const char*>(bytes), length);
        } else if (std::memcmp(type, "BIN\0", 4) == 0 && !input.binaryChunk.present) {
            input.binaryChunk = {bytes, static_cast<size_t>(length), true}; // later ones carry no buffer
        }
        position += 8 + length;
    }
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 0;
}

// Decodes the base64 text after the URI's first ",", at most `limit` bytes. "=" ends the
// data: padding carries no bytes.
std::vector<uint8_t> decodeDataUri(const std::string& uri, size_t limit) {
    std::vector<uint8_t> bytes;
    size_t comma = uri.find(',');
    if (comma == std::string::npos) return bytes;
    bytes.reserve(std::min(limit, (uri.size() - comma) * 3 / 4 + 1));
    uint32_t bits = 0;
    int bitCount = 0;
    for (size_t i = comma + 1; i < uri.size() && bytes.size() < limit; ++i) {
        if (uri[i] == '=') break;
        bits = (bits << 6 | static_cast<uint32_t>(base64Value(uri[i]))) & 0xFFFFFF;
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            bytes.push_back(static_cast<uint8_t>(bits >> bitCount));
        }
    }
    return bytes;
}

std::vector<uint8_t> readBufferFile(const std::string& path, int index, size_t byteLength) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        fatalErrorFormat("glTF: buffer %d \"%s\" is neither an archive member nor a file", index,
                         path.c_str());
    // Measured first, so a device or a short file cannot make byteLength allocate or read more.
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    if (length < 0 || static_cast<unsigned long>(length) < byteLength || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        fatalErrorFormat("glTF: buffer %d \"%s\" holds %ld bytes, byteLength says %zu", index, path.c_str(),
                         length < 0 ? 0L : length, byteLength);
    }
    std::vector<uint8_t> bytes(byteLength);
    size_t read = byteLength > 0 ? std::fread(bytes.data(), 1, byteLength, file) : 0;
    std::fclose(file);
    if (read != byteLength)
        fatalErrorFormat("glTF: buffer %d \"%s\" could not be read (%zu of %zu bytes)", index, path.c_str(),
                         read, byteLength);
    return bytes;
}

bool isDataUri(const std::string& uri) {
    return uri.size() > 5 && uri.compare(0, 5, "data:") == 0;
}

// A Variable's own bytes. The image hook links a file whose name looks like an image (say
// "tex1.png") to its decoded texture, so variableData(currentVariable(v)) is a texture record
// from then on; the file keeps its bytes and their count in the Variable itself.
ByteSpan fileBytes(Variable* v) {
    return {static_cast<const uint8_t*>(variableData(v)), v->dataSize, true};
}

// One entry per document buffer, in document order. A buffer without a URI is the binary
// chunk when it is the first buffer of a .glb that has one; any other such buffer has no data,
// and a view that reads it is refused when the view is met.
void fetchBuffers(const GLTFMain& document, PackInput& input) {
    input.buffers.assign(document.buffers.size(), ByteSpan{});
    for (size_t i = 0; i < document.buffers.size(); ++i) {
        const GLTFBuffer& buffer = document.buffers[i];
        int index = static_cast<int>(i);
        if (buffer.uri.empty()) {
            if (i == 0) input.buffers[i] = input.binaryChunk;
            continue;
        }
        if (buffer.byteLength < 0) fatalErrorFormat("glTF: buffer %d has a negative byteLength", index);
        size_t byteLength = static_cast<size_t>(buffer.byteLength);
        if (isDataUri(buffer.uri)) {
            std::vector<uint8_t> bytes = decodeDataUri(buffer.uri, byteLength);
            if (bytes.size() < byteLength)
                fatalErrorFormat("glTF: buffer %d data URI holds %zu bytes, byteLength says %zu", index,
                                 bytes.size(), byteLength);
            input.ownedBuffers.push_back(std::move(bytes));
        } else if (Variable* v = getVariable(buffer.uri.c_str(), 0)) {
            input.buffers[i] = fileBytes(v);
            continue;
        } else {
            input.ownedBuffers.push_back(readBufferFile(buffer.uri, index, byteLength));
        }
        input.buffers[i] = {input.ownedBuffers.back().data(), input.ownedBuffers.back().size(), true};
    }
}

// ---- Validation: what the blob will hold ----

constexpr uint16_t kComponentTypeByte = 5120;
constexpr uint16_t kComponentTypeUnsignedByte = 5121;
constexpr uint16_t kComponentTypeShort = 5122;

// Where an accessor's elements lie, checked against its buffer view and buffer.
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

struct PlannedNode {
    int parent; // index in the packed node list, -1 for a root
    int node;   // glTF node
    int light;  // KHR_lights_punctual light index, -1 without light
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

// Bytes of one component, 0 for a component type the packer does not read.
int componentBytesOf(int componentType) {
    switch (componentType) {
    case kComponentTypeByte:
    case kComponentTypeUnsignedByte:
        return 1;
    case kComponentTypeShort:
    case kComponentTypeUnsignedShort:
        return 2;
    case kComponentTypeUnsignedInt:
    case kComponentTypeFloat:
        return 4;
    default:
        return 0;
    }
}

// Index lists are 16-bit in the compact blob and may be 32-bit in the large one; an index list
// the packer makes itself (for a primitive without indices or with flat normals) has one entry
// per drawn vertex, and element counts are signed 32-bit.
constexpr int64_t kMaxIndexedVertices = 0x7FFFFFFF;

// Extensions a document may require: the packer reads them (or, for the texture transform,
// the scene runtime applies them).
const char* const kImplementedExtensions[] = {"KHR_lights_punctual", "KHR_mesh_quantization"};

int componentCountOf(const std::string& type) {
    if (type == "SCALAR") return 1;
    if (type == "VEC2") return 2;
    if (type == "VEC3") return 3;
    if (type == "VEC4") return 4;
    return 0;
}

const char* typeNameOf(int components) {
    static const char* const names[] = {"", "SCALAR", "VEC2", "VEC3", "VEC4"};
    return names[components];
}

// Light colours when a light names none: glTF's default, white.
const float kDefaultLightColor[3] = {1.0f, 1.0f, 1.0f};

struct NamedCode {
    const char* name;
    int code;
};

const NamedCode kPathCodes[] = {
    {"translation", kPathTranslation}, {"scale", kPathScale}, {"rotation", kPathRotation}};
// An absent interpolation is glTF's default, LINEAR.
const NamedCode kInterpolationCodes[] = {{"STEP", kInterpolationStep},
                                         {"LINEAR", kInterpolationLinear},
                                         {"", kInterpolationLinear},
                                         {"CUBICSPLINE", kInterpolationCubicSpline}};

// The code of `name` in the table, -1 when it is not there.
template <size_t N> int codeOf(const std::string& name, const NamedCode (&table)[N]) {
    for (const NamedCode& entry : table)
        if (name == entry.name) return entry.code;
    return -1;
}

class Planner {
public:
    Planner(const GLTFMain& document, const PackInput& input) : document_(document), input_(input) {}

    Plan make() {
        planNodes();
        planChannels();
        return std::move(plan_);
    }

private:
    // Checks accessor `index`, used as `use`, for the expected component type and count.
    const AccessorData& accessor(int index, const char* use, int componentType, int components) {
        const auto& accessors = document_.accessors;
        if (index < 0 || static_cast<size_t>(index) >= accessors.size())
            fatalErrorFormat("glTF: %s refers to accessor %d, which does not exist", use, index);
        auto found = plan_.accessors.find(index);
        if (found != plan_.accessors.end()) {
            checkShape(found->second, index, use, componentType, components);
            return found->second;
        }
        const GLTFAccessor& a = accessors[static_cast<size_t>(index)];
        AccessorData data;
        data.components = componentCountOf(a.type);
        if (data.components == 0)
            fatalErrorFormat(
                "glTF: accessor %d has type \"%s\"; only SCALAR, VEC2, VEC3 and VEC4 can be packed", index,
                a.type.c_str());
        data.componentBytes = componentBytesOf(a.componentType);
        if (data.componentBytes == 0)
            fatalErrorFormat("glTF: accessor %d has component type %d; only 5120 (byte), 5121 (unsigned byte), "
                             "5122 (short), 5123 (unsigned short), 5125 (unsigned int) and 5126 (float) can "
                             "be packed",
                             index, a.componentType);
        data.componentType = a.componentType;
        checkShape(data, index, use, componentType, components);
        if (a.count < 0) fatalErrorFormat("glTF: accessor %d has no element count", index);
        data.count = a.count;

        char user[32];
        std::snprintf(user, sizeof user, "accessor %d", index);
        const uint8_t* viewData = viewBytes(a.bufferView, user);
        const GLTFBufferView& view = document_.bufferViews[static_cast<size_t>(a.bufferView)];
        int64_t elementBytes = static_cast<int64_t>(data.components) * data.componentBytes;
        data.stride = view.byteStride != 0 ? view.byteStride : elementBytes;
        if (data.stride < elementBytes)
            fatalErrorFormat(
                "glTF: buffer view %d has byteStride %d, less than the %lld bytes of an element of "
                "accessor %d",
                a.bufferView, view.byteStride, static_cast<long long>(elementBytes), index);
        if (a.byteOffset < 0) fatalErrorFormat("glTF: accessor %d has a negative byteOffset", index);
        int64_t end = data.count == 0 ? 0 : a.byteOffset + data.stride * (data.count - 1) + elementBytes;
        if (end > view.byteLength)
            fatalErrorFormat("glTF: accessor %d reads past the end of buffer view %d (%lld of %d bytes)",
                             index, a.bufferView, static_cast<long long>(end), view.byteLength);
        data.first = viewData + a.byteOffset;
        if (data.componentType == kComponentTypeFloat) checkFloats(data, index);
        return plan_.accessors.emplace(index, data).first->second;
    }

    // The first byte of buffer view `v`, checked against its buffer; `user` ("accessor 3") names
    // who refers to the view.
    const uint8_t* viewBytes(int v, const char* user) const {
        if (v < 0 || static_cast<size_t>(v) >= document_.bufferViews.size())
            fatalErrorFormat("glTF: %s refers to buffer view %d, which does not exist", user, v);
        const GLTFBufferView& view = document_.bufferViews[static_cast<size_t>(v)];
        if (view.buffer < 0 || static_cast<size_t>(view.buffer) >= input_.buffers.size())
            fatalErrorFormat("glTF: buffer view %d refers to buffer %d, which was not found", v, view.buffer);
        const ByteSpan& buffer = input_.buffers[static_cast<size_t>(view.buffer)];
        if (!buffer.present)
            fatalErrorFormat("glTF: buffer view %d refers to buffer %d, which has no data (no URI and no "
                             "binary chunk)",
                             v, view.buffer);
        if (view.byteOffset < 0 || view.byteLength < 0 ||
            static_cast<uint64_t>(view.byteOffset) + static_cast<uint64_t>(view.byteLength) > buffer.size)
            fatalErrorFormat("glTF: buffer view %d (offset %d, %d bytes) reaches past the end of buffer %d "
                             "(%zu bytes)",
                             v, view.byteOffset, view.byteLength, view.buffer, buffer.size);
        return buffer.data + view.byteOffset;
    }

    static void checkShape(const AccessorData& data, int index, const char* use, int componentType,
                           int components) {
        if (data.componentType != componentType || data.components != components)
            fatalErrorFormat("glTF: %s accessor %d is %s of component type %d; it must be %s of %d", use,
                             index, typeNameOf(data.components), data.componentType, typeNameOf(components),
                             componentType);
    }

    // Quantisation needs a finite range: min, max and max - min.
    static void checkFloats(const AccessorData& data, int index) {
        for (int c = 0; c < data.components; ++c) {
            float minimum = std::numeric_limits<float>::max(), maximum = std::numeric_limits<float>::lowest();
            for (int32_t i = 0; i < data.count; ++i) {
                float value = data.floatAt(i, c);
                if (!std::isfinite(value))
                    fatalErrorFormat("glTF: accessor %d element %d holds a value that is not a finite number",
                                     index, i);
                minimum = std::min(minimum, value);
                maximum = std::max(maximum, value);
            }
            if (data.count > 0 && !std::isfinite(maximum - minimum))
                fatalErrorFormat("glTF: accessor %d spans a range too large to quantise", index);
        }
    }

    void checkTransform(const std::vector<float>& values, size_t expected, int node, const char* what) {
        if (!values.empty() && values.size() != expected)
            fatalErrorFormat("glTF: node %d has %zu %s values; it needs %zu", node, values.size(), what,
                             expected);
        for (float value : values)
            if (!std::isfinite(value))
                fatalErrorFormat("glTF: node %d %s holds a value that is not a finite number", node, what);
    }

    // Breadth-first from the default scene; the node list becomes chunk "n".
    void planNodes() {
        const auto& nodes = document_.nodes;
        std::vector<int> packedIndex(nodes.size(), -1);
        std::deque<std::pair<int, int>> queue; // (parent, node)
        if (document_.scenes.empty()) {
            if (document_.scene != 0)
                fatalErrorFormat("glTF: scene %d does not exist (the document has no scenes)",
                                 document_.scene);
            return;
        }
        if (document_.scene < 0 || static_cast<size_t>(document_.scene) >= document_.scenes.size())
            fatalErrorFormat("glTF: scene %d does not exist (the document has %zu scenes)", document_.scene,
                             document_.scenes.size());
        for (int root : document_.scenes[static_cast<size_t>(document_.scene)].nodes) {
            if (root < 0 || static_cast<size_t>(root) >= nodes.size())
                fatalErrorFormat("glTF: scene %d lists node %d, which does not exist", document_.scene, root);
            queue.emplace_back(-1, root);
        }
        while (!queue.empty()) {
            auto [parent, index] = queue.front();
            queue.pop_front();
            if (packedIndex[static_cast<size_t>(index)] != -1)
                fatalErrorFormat(
                    "glTF: node %d is reached twice from scene %d; the node hierarchy must be a tree", index,
                    document_.scene);
            int k = static_cast<int>(plan_.nodes.size());
            if (k >= kMaxPackedNodes)
                fatalErrorFormat("glTF: scene %d has more than %d nodes", document_.scene, kMaxPackedNodes);
            packedIndex[static_cast<size_t>(index)] = k;
            const GLTFNode& node = nodes[static_cast<size_t>(index)];
            checkTransform(node.matrix, 16, index, "matrix");
            checkTransform(node.translation, 3, index, "translation");
            checkTransform(node.rotation, 4, index, "rotation");
            checkTransform(node.scale, 3, index, "scale");
            plan_.nodes.push_back({parent, index, lightOf(node, index)});
            if (node.mesh != -1) planMesh(node.mesh, index);
            for (int child : node.children) {
                if (child < 0 || static_cast<size_t>(child) >= nodes.size())
                    fatalErrorFormat("glTF: node %d lists child %d, which does not exist", index, child);
                queue.emplace_back(k, child);
            }
        }
        packedNodes_ = std::move(packedIndex);
    }

    int lightOf(const GLTFNode& node, int index) {
        if (!node.extensions || !node.extensions->KHR_lights_punctual) return -1;
        int light = node.extensions->KHR_lights_punctual->light;
        size_t lightCount = 0;
        if (document_.extensions && document_.extensions->KHR_lights_punctual)
            lightCount = document_.extensions->KHR_lights_punctual->lights.size();
        if (light < 0 || static_cast<size_t>(light) >= lightCount)
            fatalErrorFormat(
                "glTF: node %d refers to light %d, which does not exist (the document has %zu lights)", index,
                light, lightCount);
        const GLTFExtPunctualLight& l =
            document_.extensions->KHR_lights_punctual->lights[static_cast<size_t>(light)];
        if (!l.color.empty() && l.color.size() < 3)
            fatalErrorFormat("glTF: light %d has %zu colour values; it needs 3", light, l.color.size());
        for (float value : l.color)
            if (!std::isfinite(value))
                fatalErrorFormat("glTF: light %d colour is not a finite number", light);
        if (!std::isfinite(static_cast<float>(l.intensity)))
            fatalErrorFormat("glTF: light %d intensity is not a finite number", light);
        return light;
    }

    void planMesh(int mesh, int node) {
        if (mesh < 0 || static_cast<size_t>(mesh) >= document_.meshes.size())
            fatalErrorFormat("glTF: node %d refers to mesh %d, which does not exist", node, mesh);
        if (mesh > 0xFFFF) fatalErrorFormat("glTF: mesh %d: a packed mesh index must stay below 65536", mesh);
        if (plan_.meshes.count(mesh) != 0) return;
        std::vector<PlannedPrimitive>& planned = plan_.meshes[mesh];
        const auto& primitives = document_.meshes[static_cast<size_t>(mesh)].primitives;
        char where[64], use[96];
        for (size_t p = 0; p < primitives.size(); ++p) {
            const GLTFMeshPrimitive& primitive = primitives[p];
            std::snprintf(where, sizeof where, "mesh %d primitive %zu", mesh, p);
            PlannedPrimitive result{};
            // The index list is checked first, the attributes next, as the blob lists them.
            if (primitive.indices != -1) indexAccessor(primitive, where);
            int32_t vertexCount = std::numeric_limits<int32_t>::max();
            auto attribute = [&](const char* name, int components, bool required) {
                auto found = primitive.attributes.find(name);
                if (found == primitive.attributes.end()) {
                    if (required) fatalErrorFormat("glTF: %s has no %s attribute", where, name);
                    return -1;
                }
                std::snprintf(use, sizeof use, "%s %s", where, name);
                int key = attributeAccessor(found->second, use, components);
                vertexCount = std::min(vertexCount, plan_.accessors.at(key).count);
                return key;
            };
            result.position = attribute("POSITION", 3, true);
            result.normal = attribute("NORMAL", 3, false);
            result.texcoord = attribute("TEXCOORD_0", 2, false);
            for (const auto& [name, index] : primitive.attributes)
                if (name != "POSITION" && name != "NORMAL" && name != "TEXCOORD_0")
                    consoleLog("glTF: %s attribute %s is not used\n", where, name.c_str());
            std::vector<uint32_t> indices = planIndices(primitive, where, vertexCount, result);
            if (indices.empty()) {
                consoleLog("glTF: %s has no indices; skipped\n", where);
                continue;
            }
            if (result.normal == -1) planFlatNormals(indices, where, result);
            result.material = primitive.material;
            if (result.material != -1) checkMaterial(result.material, mesh, static_cast<int>(p));
            planned.push_back(result);
        }
    }

    // A vertex attribute: floats as they are, integers (KHR_mesh_quantization, and glTF's own
    // normalised texture coordinates) converted to floats once per accessor. Returns the key of
    // the float accessor in the plan.
    int attributeAccessor(int index, const char* use, int components) {
        int componentType = kComponentTypeFloat;
        if (index >= 0 && static_cast<size_t>(index) < document_.accessors.size()) {
            int given = document_.accessors[static_cast<size_t>(index)].componentType;
            if (given == kComponentTypeByte || given == kComponentTypeUnsignedByte ||
                given == kComponentTypeShort || given == kComponentTypeUnsignedShort)
                componentType = given;
        }
        const AccessorData& data = accessor(index, use, componentType, components);
        if (componentType == kComponentTypeFloat) return index;
        auto converted = convertedAttributes_.find(index);
        if (converted != convertedAttributes_.end()) return converted->second;
        const bool normalized = document_.accessors[static_cast<size_t>(index)].normalized;
        std::vector<float> values(static_cast<size_t>(data.count) * static_cast<size_t>(components));
        for (int32_t i = 0; i < data.count; ++i)
            for (int c = 0; c < components; ++c)
                values[static_cast<size_t>(i) * components + c] = data.integerAt(i, c, normalized);
        int key = makeFloatAccessor(values, components);
        convertedAttributes_.emplace(index, key);
        return key;
    }

    // The primitive's index accessor, checked: SCALAR of unsigned bytes, shorts or ints.
    const AccessorData& indexAccessor(const GLTFMeshPrimitive& primitive, const char* where) {
        char use[96];
        std::snprintf(use, sizeof use, "%s indices", where);
        int componentType = kComponentTypeUnsignedShort;
        if (primitive.indices >= 0 && static_cast<size_t>(primitive.indices) < document_.accessors.size()) {
            int given = document_.accessors[static_cast<size_t>(primitive.indices)].componentType;
            if (given == kComponentTypeUnsignedByte || given == kComponentTypeUnsignedInt)
                componentType = given;
        }
        return accessor(primitive.indices, use, componentType, 1);
    }

    // The primitive's index list, checked against its vertices. result.indices becomes an
    // unsigned-short accessor: the document's own, or one made here for 8-bit and 32-bit lists and
    // for a primitive without indices, whose vertices glTF draws in order (0, 1, ..., n - 1).
    std::vector<uint32_t> planIndices(const GLTFMeshPrimitive& primitive, const char* where,
                                      int32_t vertexCount, PlannedPrimitive& result) {
        std::vector<uint32_t> indices;
        if (primitive.indices == -1) {
            indices.resize(static_cast<size_t>(vertexCount));
            for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint32_t>(i);
            result.indices = makeIndexAccessor(indices);
            return indices;
        }
        const AccessorData& data = indexAccessor(primitive, where);
        int componentType = data.componentType;
        indices.resize(static_cast<size_t>(data.count));
        for (int32_t i = 0; i < data.count; ++i) {
            uint32_t value = data.indexAt(i);
            // The scene runtime expands every attribute through the index list.
            if (value >= static_cast<uint32_t>(vertexCount))
                fatalErrorFormat("glTF: %s index %d is %u, past its %d vertices", where, i, value,
                                 vertexCount);
            indices[static_cast<size_t>(i)] = value;
        }
        const bool wide = !indices.empty() && *std::max_element(indices.begin(), indices.end()) > 0xFFFF;
        if (componentType == kComponentTypeUnsignedShort ||
            (wide && componentType == kComponentTypeUnsignedInt)) {
            result.indices = primitive.indices; // copied as they are: 32-bit lists need the large form
        } else {
            auto widened = widenedIndices_.find(primitive.indices);
            if (widened == widenedIndices_.end())
                widened = widenedIndices_.emplace(primitive.indices, makeIndexAccessor(indices)).first;
            result.indices = widened->second;
        }
        return indices;
    }

    // glTF asks for flat normals when a primitive has none. Each triangle gets three vertices of
    // its own carrying its face normal, and the index list becomes 0, 1, ..., n - 1.
    void planFlatNormals(const std::vector<uint32_t>& indices, const char* where, PlannedPrimitive& result) {
        if (static_cast<int64_t>(indices.size()) > kMaxIndexedVertices)
            fatalErrorFormat("glTF: %s has no NORMAL and %zu indices; flat normals need a vertex per index, "
                             "at most %lld",
                             where, indices.size(), static_cast<long long>(kMaxIndexedVertices));
        const AccessorData& position = plan_.accessors.at(result.position);
        std::vector<float> normals(3 * indices.size(), 0.0f);
        for (size_t t = 0; t + 2 < indices.size(); t += 3) {
            std::array<std::array<double, 3>, 3> corner;
            for (int v = 0; v < 3; ++v)
                for (int c = 0; c < 3; ++c)
                    corner[v][c] = position.floatAt(static_cast<int32_t>(indices[t + v]), c);
            double e1[3], e2[3];
            for (int c = 0; c < 3; ++c) {
                e1[c] = corner[1][c] - corner[0][c];
                e2[c] = corner[2][c] - corner[0][c];
            }
            double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                           e1[0] * e2[1] - e1[1] * e2[0]};
            double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            if (length == 0.0 || !std::isfinite(length)) continue; // no area: never drawn
            for (int v = 0; v < 3; ++v)
                for (int c = 0; c < 3; ++c) normals[3 * (t + v) + c] = static_cast<float>(n[c] / length);
        }
        result.position = expandedAccessor(result.position, indices);
        if (result.texcoord != -1) result.texcoord = expandedAccessor(result.texcoord, indices);
        result.normal = makeFloatAccessor(normals, 3);
        std::vector<uint32_t> inOrder(indices.size());
        for (size_t i = 0; i < inOrder.size(); ++i) inOrder[i] = static_cast<uint32_t>(i);
        result.indices = makeIndexAccessor(inOrder);
        consoleLog("glTF: %s has no NORMAL; packed with flat normals\n", where);
    }

    // ---- Accessors the packer makes ----

    int addMadeAccessor(std::vector<uint8_t> bytes, int32_t count, int components, int componentType) {
        plan_.madeData.push_back(std::move(bytes));
        AccessorData data;
        data.first = plan_.madeData.back().data();
        data.componentBytes = componentBytesOf(componentType);
        data.stride = static_cast<int64_t>(components) * data.componentBytes;
        data.count = count;
        data.components = components;
        data.componentType = componentType;
        int key = nextMadeKey_--;
        plan_.accessors.emplace(key, data);
        return key;
    }

    // 16-bit when every index fits, else 32-bit (which only the large form holds).
    int makeIndexAccessor(const std::vector<uint32_t>& indices) {
        const bool wide = !indices.empty() && *std::max_element(indices.begin(), indices.end()) > 0xFFFF;
        const size_t width = wide ? 4 : 2;
        std::vector<uint8_t> bytes(width * indices.size());
        for (size_t i = 0; i < indices.size(); ++i)
            for (size_t b = 0; b < width; ++b)
                bytes[width * i + b] = static_cast<uint8_t>(indices[i] >> (8 * b));
        return addMadeAccessor(std::move(bytes), static_cast<int32_t>(indices.size()), 1,
                               wide ? kComponentTypeUnsignedInt : kComponentTypeUnsignedShort);
    }

    int makeFloatAccessor(const std::vector<float>& values, int components) {
        std::vector<uint8_t> bytes(4 * values.size());
        if (!values.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
        return addMadeAccessor(std::move(bytes), static_cast<int32_t>(values.size()) / components, components,
                               kComponentTypeFloat);
    }

    // The float accessor `key` read through the index list: element j is element indices[j].
    int expandedAccessor(int key, const std::vector<uint32_t>& indices) {
        const AccessorData& source = plan_.accessors.at(key);
        std::vector<float> values;
        values.reserve(indices.size() * static_cast<size_t>(source.components));
        for (uint32_t index : indices)
            for (int c = 0; c < source.components; ++c)
                values.push_back(source.floatAt(static_cast<int32_t>(index), c));
        return makeFloatAccessor(values, source.components);
    }

    void checkMaterial(int material, int mesh, int primitive) {
        if (material < 0 || static_cast<size_t>(material) >= document_.materials.size())
            fatalErrorFormat("glTF: mesh %d primitive %d refers to material %d, which does not exist", mesh,
                             primitive, material);
        const GLTFMaterial& m = document_.materials[static_cast<size_t>(material)];
        if (!m.pbrMetallicRoughness || !m.pbrMetallicRoughness->baseColorTexture) return;
        int texture = m.pbrMetallicRoughness->baseColorTexture->index;
        if (texture == -1) return;
        if (texture < 0 || static_cast<size_t>(texture) >= document_.textures.size())
            fatalErrorFormat("glTF: material %d refers to texture %d, which does not exist", material,
                             texture);
        int source = document_.textures[static_cast<size_t>(texture)].source;
        if (source != -1 && (source < 0 || static_cast<size_t>(source) >= document_.images.size()))
            fatalErrorFormat("glTF: texture %d refers to image %d, which does not exist", texture, source);
        if (source != -1) planImage(source);
    }

    // An image the document holds itself (in a buffer view, as every textured .glb does, or as a
    // "data:" URI) enters the store as a file of its own, which the image hook decodes like an
    // archive member; the material then names that file. Other URIs are archive members or files
    // that the store finds by the URI itself.
    void planImage(int source) {
        if (plan_.imageNames.count(source) != 0) return;
        const GLTFImage& image = document_.images[static_cast<size_t>(source)];
        std::vector<uint8_t> decoded;
        const uint8_t* bytes = nullptr;
        size_t size = 0;
        if (isDataUri(image.uri)) {
            decoded = decodeDataUri(image.uri, std::numeric_limits<size_t>::max());
            bytes = decoded.data();
            size = decoded.size();
        } else if (image.uri.empty() && image.bufferView != -1) {
            char user[32];
            std::snprintf(user, sizeof user, "image %d", source);
            bytes = viewBytes(image.bufferView, user);
            size =
                static_cast<size_t>(document_.bufferViews[static_cast<size_t>(image.bufferView)].byteLength);
        } else {
            return;
        }
        if (size > 0xFFFFFFF0u)
            fatalErrorFormat("glTF: image %d holds %zu bytes, too many for the store", source, size);
        std::string name = imageFileName(source, image.mimeType, bytes, size);
        // The name follows the bytes, so a second document with the same image finds it stored.
        if (getVariable(name.c_str(), 0) == nullptr)
            putFileVariable(name.c_str(), static_cast<uint32_t>(size), bytes);
        plan_.imageNames.emplace(source, name);
    }

    // "gltf-image<index>-<FNV-1a hash of the bytes>" plus the extension that makes the image hook
    // pick its decoder: from the bytes' signature, else from the MIME type.
    static std::string imageFileName(int source, const std::string& mimeType, const uint8_t* bytes,
                                     size_t size) {
        uint32_t hash = 2166136261u;
        for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
        const char* extension = ".bin";
        if ((size >= 8 && std::memcmp(bytes, "\x89PNG", 4) == 0) || mimeType == "image/png")
            extension = ".png";
        else if ((size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) ||
                 mimeType == "image/jpeg")
            extension = ".jpg";
        char name[64];
        std::snprintf(name, sizeof name, "gltf-image%d-%08x%s", source, hash, extension);
        return name;
    }

    void planChannels() {
        char use[96];
        for (size_t a = 0; a < document_.animations.size(); ++a) {
            const GLTFAnimation& animation = document_.animations[a];
            for (size_t c = 0; c < animation.channels.size(); ++c) {
                const GLTFAnimChannel& channel = animation.channels[c];
                if (channel.sampler < 0 || static_cast<size_t>(channel.sampler) >= animation.samplers.size())
                    fatalErrorFormat(
                        "glTF: animation %zu channel %zu refers to sampler %d, which does not exist", a, c,
                        channel.sampler);
                const GLTFAnimSampler& sampler = animation.samplers[static_cast<size_t>(channel.sampler)];
                const std::string& path = channel.target.path;
                const std::string& interpolation = sampler.interpolation;
                int pathCode = codeOf(path, kPathCodes);
                int interpolationCode = codeOf(interpolation, kInterpolationCodes);
                if (pathCode < 0 || interpolationCode < 0) {
                    consoleLog("glTF: animation %zu channel %zu animates \"%s\" with interpolation \"%s\"; "
                               "skipped\n",
                               a, c, path.c_str(), interpolation.c_str());
                    continue;
                }
                int node = channel.target.node;
                if (node < 0 || static_cast<size_t>(node) >= document_.nodes.size())
                    fatalErrorFormat("glTF: animation %zu channel %zu targets node %d, which does not exist",
                                     a, c, node);
                if (static_cast<size_t>(node) >= packedNodes_.size() ||
                    packedNodes_[static_cast<size_t>(node)] < 0) {
                    consoleLog("glTF: animation %zu channel %zu targets node %d, which is not in scene %d; "
                               "skipped\n",
                               a, c, node, document_.scene);
                    continue;
                }
                std::snprintf(use, sizeof use, "animation %zu channel %zu key times", a, c);
                const AccessorData& times = accessor(sampler.input, use, kComponentTypeFloat, 1);
                std::snprintf(use, sizeof use, "animation %zu channel %zu key values", a, c);
                const AccessorData& values =
                    accessor(sampler.output, use, kComponentTypeFloat, pathCode == kPathRotation ? 4 : 3);
                int64_t expected = static_cast<int64_t>(times.count) *
                                   (interpolationCode == kInterpolationCubicSpline ? 3 : 1);
                if (values.count != expected)
                    fatalErrorFormat(
                        "glTF: animation %zu channel %zu has %d key times but %d key values (needs "
                        "%lld)",
                        a, c, times.count, values.count, static_cast<long long>(expected));
                int packedNode = packedNodes_[static_cast<size_t>(node)];
                if (packedNode > kMaxAnimatedNode)
                    fatalErrorFormat("glTF: animation %zu channel %zu targets node %d, packed as node %d; an "
                                     "animated node must be among the first %d packed nodes",
                                     a, c, node, packedNode, kMaxAnimatedNode + 1);
                plan_.channels.push_back(
                    {static_cast<uint16_t>(packedNode * 16 + pathCode + interpolationCode), sampler.input,
                     sampler.output});
            }
        }
    }

    // A node's parent is a signed 16-bit index; an animated node's index has the 12 bits of a
    // channel's target code.
    static constexpr int kMaxPackedNodes = 32767;
    static constexpr int kMaxAnimatedNode = kMaxChannelNodes - 1;

    const GLTFMain& document_;
    const PackInput& input_;
    Plan plan_;
    std::vector<int> packedNodes_;           // glTF node -> packed index, -1 when not packed
    std::map<int, int> widenedIndices_;      // 8-bit or 32-bit index accessor -> its 16-bit copy
    std::map<int, int> convertedAttributes_; // integer attribute accessor -> its float copy
    int nextMadeKey_ = -2;                   // key of the next accessor the packer makes
};

// ---- Blob writer ----

// Blob offset at which a write placed its bytes (wide enough for a sizing pass that overshoots).
using fptr = int64_t;

// What the bytes of a blob are spent on, for the message about a scene that does not fit.
// Records are everything outside the data heap; the heap's items have rooms of their own.
#define NOVA31_BLOB_ROOMS(X)                                                                                 \
    X(vertexData, "vertex data")                                                                             \
    X(animationData, "animation data")                                                                       \
    X(texts, "texts")                                                                                        \
    X(transforms, "node transforms")                                                                         \
    X(records, "records")

enum class Room {
#define NOVA31_BLOB_ROOM_ENUM(identifier, text) identifier,
    NOVA31_BLOB_ROOMS(NOVA31_BLOB_ROOM_ENUM)
#undef NOVA31_BLOB_ROOM_ENUM
        count
};

const char* const kRoomNames[] = {
#define NOVA31_BLOB_ROOM_NAME(identifier, text) text,
    NOVA31_BLOB_ROOMS(NOVA31_BLOB_ROOM_NAME)
#undef NOVA31_BLOB_ROOM_NAME
};

// One writer serves both passes: the sizing pass (no blob) only advances positions, the
// writing pass copies bytes. Labels for the dump are kept in the writing pass only.
class BlobWriter {
public:
    // The packer's state of one chunk.
    struct chunkw {
        BlobChunk tag;
        int index = 0;        // position in the directory
        int64_t start = 0;    // blob offset of the chunk
        int64_t position = 0; // write position, a blob offset
        int64_t size = 0;
        int pad = 0;
        int64_t labelAt = -1; // offset of a label that no write has reached yet
    };

    BlobWriter() {
        for (int i = 0; i < kBlobChunkCount; ++i) {
            chunks_[i].tag = kBlobChunkOrder[i];
            chunks_[i].index = i;
        }
    }

    chunkw& chunk(BlobChunk tag) {
        for (chunkw& c : chunks_)
            if (c.tag == tag) return c;
        fatalError("glTF: unknown chunk");
    }
    const chunkw* chunks() const { return chunks_; }
    const std::map<int64_t, std::string>& labels() const { return labels_; }

    // The large form: 32-bit directory, and room for 32-bit index lists.
    void setLargeForm(bool large) { large_ = large; }
    bool largeForm() const { return large_; }

    void beginPass(uint8_t* blob, bool keepLabels) {
        blob_ = blob;
        keepLabels_ = keepLabels;
        for (int64_t& bytes : roomBytes_) bytes = 0;
        for (chunkw& c : chunks_) {
            c.position = c.start;
            c.labelAt = -1;
        }
    }
    void endSizingPass() {
        for (chunkw& c : chunks_) c.size = c.position - c.start;
    }
    // Lays the chunks out back to back, each padded to a multiple of 4; returns the total.
    int64_t layout() {
        int64_t total = 0;
        for (chunkw& c : chunks_) {
            c.start = total;
            c.pad = static_cast<int>((4 - c.size % 4) % 4);
            total += c.size + c.pad;
        }
        return total;
    }

    fptr write(BlobChunk tag, const void* bytes, size_t n) {
        chunkw& c = chunk(tag);
        fptr at = c.position;
        if (blob_ != nullptr && n > 0) std::memcpy(blob_ + at, bytes, n);
        c.position += static_cast<int64_t>(n);
        c.labelAt = -1;
        spend(tag, static_cast<int64_t>(n));
        return at;
    }
    // The room the next writes into the data heap are spent on.
    void dataRoom(Room room) { dataRoom_ = room; }
    // Bytes spent on each room in this pass (the chunks' padding is not counted).
    int64_t roomBytes(Room room) const { return roomBytes_[static_cast<int>(room)]; }
    void align(BlobChunk tag, int n) {
        chunkw& c = chunk(tag);
        int64_t aligned = (c.position + n - 1) / n * n;
        spend(tag, aligned - c.position);
        if (aligned != c.position && c.labelAt == c.position && keepLabels_) {
            // The label belongs to what is written next, so it moves with the position.
            auto found = labels_.find(c.position);
            labels_[aligned] = std::move(found->second);
            labels_.erase(found);
            c.labelAt = aligned;
        }
        c.position = aligned;
    }
    void label(BlobChunk tag, std::string text) {
        if (!keepLabels_) return;
        chunkw& c = chunk(tag);
        labels_[c.position] = std::move(text);
        c.labelAt = c.position;
    }

    fptr u16(BlobChunk tag, uint16_t value) {
        align(tag, 2);
        uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
        return write(tag, bytes, 2);
    }
    fptr u32(BlobChunk tag, uint32_t value) {
        align(tag, 4);
        uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        return write(tag, bytes, 4);
    }
    fptr i32(BlobChunk tag, int32_t value) { return u32(tag, static_cast<uint32_t>(value)); }
    fptr f32(BlobChunk tag, float value) {
        uint32_t bits;
        std::memcpy(&bits, &value, 4);
        return u32(tag, bits);
    }
    // A self-relative reference to blob offset `target`; -1 writes "none" (0).
    void reference(BlobChunk tag, fptr target) {
        align(tag, 4);
        int64_t field = chunk(tag).position;
        i32(tag, target < 0 ? 0 : static_cast<int32_t>(target - field));
    }
    // A NUL-terminated text in the data heap.
    fptr text(const std::string& value) {
        dataRoom(Room::texts);
        label(BlobChunk::Data, "Text:" + value);
        return write(BlobChunk::Data, value.c_str(), value.size() + 1);
    }

private:
    void spend(BlobChunk tag, int64_t n) {
        roomBytes_[static_cast<int>(tag == BlobChunk::Data ? dataRoom_ : Room::records)] += n;
    }

    chunkw chunks_[kBlobChunkCount];
    int64_t roomBytes_[static_cast<int>(Room::count)] = {};
    Room dataRoom_ = Room::texts;
    uint8_t* blob_ = nullptr;
    bool keepLabels_ = false;
    bool large_ = false;
    std::map<int64_t, std::string> labels_; // blob offset -> label
};

// ---- Packing pass ----

struct SharedTexts {
    fptr idx, pos, normal, uv, empty;
};

// One traversal; run once to size the blob and once to write it.
class PackPass {
public:
    PackPass(BlobWriter& writer, const GLTFMain& document, const Plan& plan,
             std::vector<std::string>* outUris)
        : w_(writer), document_(document), plan_(plan), outUris_(outUris) {}

    int accessorCount = 0;
    int primitiveCount = 0;
    int materialCount = 0;
    int wideIndexLists = 0; // 32-bit index lists written: only the large form holds them

    void run() {
        writeDirectory();
        w_.label(BlobChunk::Data, "##### TEXTS ###");
        texts_ = {w_.text("idx"), w_.text("pos"), w_.text("normal"), w_.text("uv"), w_.text("")};
        for (size_t k = 0; k < plan_.nodes.size(); ++k) writeNode(static_cast<int>(k), plan_.nodes[k]);
        for (const PlannedChannel& channel : plan_.channels) {
            int keyTimes = writeAccessor(channel.input, -1, "KEYFRAMES");
            writeAccessor(channel.output, -1, "ANIMVALUES");
            w_.u16(BlobChunk::Channels, channel.target);
            w_.u16(BlobChunk::Channels, static_cast<uint16_t>(keyTimes));
        }
    }

private:
    void writeDirectory() {
        const bool large = w_.largeForm();
        if (large) {
            w_.label(BlobChunk::Directory, "start (large form: 32-bit directory)");
            w_.u16(BlobChunk::Directory, kLargeBlobMarker);
            w_.u16(BlobChunk::Directory, 0);
        } else {
            w_.u16(BlobChunk::Directory, kBlobChunkCount);
        }
        for (int i = 0; i < kBlobChunkCount; ++i) {
            const BlobWriter::chunkw& c = w_.chunks()[i];
            char tag = static_cast<char>(c.tag);
            w_.label(BlobChunk::Directory, std::string("#### CHUNKPTR ") + tag + " ####");
            w_.u16(BlobChunk::Directory, static_cast<uint16_t>(c.pad << 8 | static_cast<uint8_t>(c.tag)));
            if (large) {
                w_.u16(BlobChunk::Directory, 0);
                w_.u32(BlobChunk::Directory, static_cast<uint32_t>(c.start));
                w_.u32(BlobChunk::Directory, static_cast<uint32_t>(c.size));
            } else {
                w_.u16(BlobChunk::Directory, static_cast<uint16_t>(c.start));
                w_.u16(BlobChunk::Directory, static_cast<uint16_t>(c.size));
            }
        }
    }

    void writeFloats(const std::vector<float>& values, const char* dataLabel) {
        if (values.empty()) {
            w_.i32(BlobChunk::Nodes, 0);
            return;
        }
        w_.dataRoom(Room::transforms);
        w_.label(BlobChunk::Data, dataLabel);
        w_.align(BlobChunk::Data, 4);
        fptr at = w_.write(BlobChunk::Data, values.data(), values.size() * sizeof(float));
        w_.reference(BlobChunk::Nodes, at);
    }

    void writeNode(int k, const PlannedNode& planned) {
        const GLTFNode& node = document_.nodes[static_cast<size_t>(planned.node)];
        if (planned.light >= 0) {
            const GLTFExtPunctualLight& light =
                document_.extensions->KHR_lights_punctual->lights[static_cast<size_t>(planned.light)];
            const float* color = light.color.empty() ? kDefaultLightColor : light.color.data();
            w_.i32(BlobChunk::Lights, k);
            for (int c = 0; c < 3; ++c) w_.f32(BlobChunk::Lights, color[c]);
            w_.f32(BlobChunk::Lights, static_cast<float>(light.intensity));
        }
        w_.label(BlobChunk::Nodes, "#### NodeStart ####");
        w_.u16(BlobChunk::Nodes, static_cast<uint16_t>(planned.parent));
        w_.label(BlobChunk::Nodes, "N-NAME");
        w_.label(BlobChunk::Data, "ND-NAME");
        w_.reference(BlobChunk::Nodes, w_.text(node.name));
        w_.label(BlobChunk::Nodes, "N-Mat");
        writeFloats(node.matrix, "ND-Mat");
        w_.label(BlobChunk::Nodes, "N-PosRotScale");
        writeFloats(node.translation, "ND-Pos");
        writeFloats(node.rotation, "ND-Rot");
        writeFloats(node.scale, "ND-Scale");
        w_.label(BlobChunk::Nodes, "n-mesh");
        auto mesh = node.mesh == -1 ? plan_.meshes.end() : plan_.meshes.find(node.mesh);
        if (mesh == plan_.meshes.end() || mesh->second.empty()) {
            w_.u16(BlobChunk::Nodes, 0xFFFF);
            w_.u16(BlobChunk::Nodes, 0);
            return;
        }
        auto first = meshFirst_.find(node.mesh);
        if (first == meshFirst_.end()) {
            first = meshFirst_.emplace(node.mesh, primitiveCount).first;
            for (const PlannedPrimitive& primitive : mesh->second) writePrimitive(node.mesh, primitive);
        }
        w_.u16(BlobChunk::Nodes, static_cast<uint16_t>(first->second));
        w_.u16(BlobChunk::Nodes, static_cast<uint16_t>(mesh->second.size()));
    }

    void writePrimitive(int mesh, const PlannedPrimitive& primitive) {
        w_.label(BlobChunk::Primitives, "####### MESH");
        w_.u16(BlobChunk::Primitives, static_cast<uint16_t>(mesh));
        w_.u16(BlobChunk::Primitives, kPrimitiveKindTriangles);
        int first = accessorCount;
        writeAccessor(primitive.indices, texts_.idx, "idx");
        writeAccessor(primitive.position, texts_.pos, "pos");
        writeAccessor(primitive.normal, texts_.normal, "normal");
        if (primitive.texcoord != -1) writeAccessor(primitive.texcoord, texts_.uv, "uv");
        w_.u16(BlobChunk::Primitives, static_cast<uint16_t>(accessorCount - first));
        w_.u16(BlobChunk::Primitives, static_cast<uint16_t>(first));
        w_.u16(BlobChunk::Primitives, static_cast<uint16_t>(materialIndex(primitive.material)));
        ++primitiveCount;
    }

    // Returns the index of the new accessor record.
    int writeAccessor(int index, fptr nameText, const std::string& labelName) {
        const AccessorData& data = plan_.accessors.at(index);
        w_.dataRoom(nameText < 0 ? Room::animationData : Room::vertexData);
        w_.label(BlobChunk::Accessors, "AttDATA:" + labelName + "(CT/RelTeTy/SzCCount/ECount/ComPtrs4)");
        w_.u16(BlobChunk::Accessors, static_cast<uint16_t>(data.componentType));
        w_.u16(BlobChunk::Accessors, static_cast<uint16_t>(data.componentBytes << 4 | data.components));
        w_.i32(BlobChunk::Accessors, data.count);
        w_.reference(BlobChunk::Accessors, nameText);
        for (int c = 0; c < data.components; ++c) {
            fptr at;
            if (data.componentType == kComponentTypeUnsignedShort) {
                w_.label(BlobChunk::Data, labelName + " binary-shorts");
                at = writeShorts(data, c);
            } else if (data.componentType == kComponentTypeUnsignedInt) {
                w_.label(BlobChunk::Data, labelName + " binary-ints");
                at = writeInts(data);
                ++wideIndexLists;
            } else {
                w_.label(BlobChunk::Data, labelName + "compact floats");
                at = writeCompactFloats(data, c);
            }
            w_.reference(BlobChunk::Accessors, at);
        }
        for (int c = data.components; c < 4; ++c) w_.i32(BlobChunk::Accessors, 0);
        return accessorCount++;
    }

    fptr writeShorts(const AccessorData& data, int c) {
        scratch_.resize(2 * static_cast<size_t>(data.count));
        for (int32_t i = 0; i < data.count; ++i) {
            uint16_t value = data.shortAt(i, c);
            scratch_[2 * static_cast<size_t>(i)] = static_cast<uint8_t>(value);
            scratch_[2 * static_cast<size_t>(i) + 1] = static_cast<uint8_t>(value >> 8);
        }
        return w_.write(BlobChunk::Data, scratch_.data(), scratch_.size());
    }

    // A 32-bit index list (scalar), copied unchanged.
    fptr writeInts(const AccessorData& data) {
        scratch_.resize(4 * static_cast<size_t>(data.count));
        for (int32_t i = 0; i < data.count; ++i) {
            uint32_t value = data.indexAt(i);
            for (int b = 0; b < 4; ++b)
                scratch_[4 * static_cast<size_t>(i) + b] = static_cast<uint8_t>(value >> (8 * b));
        }
        return w_.write(BlobChunk::Data, scratch_.data(), scratch_.size());
    }

    fptr writeCompactFloats(const AccessorData& data, int c) {
        float minimum = std::numeric_limits<float>::max(), maximum = std::numeric_limits<float>::lowest();
        for (int32_t i = 0; i < data.count; ++i) {
            float value = data.floatAt(i, c);
            minimum = std::min(minimum, value);
            maximum = std::max(maximum, value);
        }
        float range = maximum - minimum;
        scratch_.resize(2 * static_cast<size_t>(data.count));
        for (int32_t i = 0; i < data.count; ++i) {
            uint16_t code = 0;
            if (maximum != minimum) {
                float scaled = (data.floatAt(i, c) - minimum) / range * 65535.0f;
                code = static_cast<uint16_t>(static_cast<int32_t>(scaled) & 0xFFFF);
            }
            scratch_[2 * static_cast<size_t>(i)] = static_cast<uint8_t>(code);
            scratch_[2 * static_cast<size_t>(i) + 1] = static_cast<uint8_t>(code >> 8);
        }
        fptr at = w_.f32(BlobChunk::Data, minimum);
        w_.f32(BlobChunk::Data, maximum);
        w_.write(BlobChunk::Data, scratch_.data(), scratch_.size());
        return at;
    }

    static uint32_t baseColorOf(const GLTFMaterial* material) {
        uint32_t color = 0xFFFFFFFFu;
        if (material == nullptr || !material->pbrMetallicRoughness) return color;
        const std::vector<float>& factor = material->pbrMetallicRoughness->baseColorFactor;
        static const int shifts[4] = {16, 8, 0, 24}; // red, green, blue, alpha
        for (size_t i = 0; i < factor.size() && i < 4; ++i) {
            float value = factor[i] > 0.0f ? std::min(factor[i], 1.0f) : 0.0f;
            uint32_t byte = static_cast<uint32_t>(value * 255.0f);
            color = (color & ~(0xFFu << shifts[i])) | byte << shifts[i];
        }
        return color;
    }

    // The base-colour image URI of a material, or null when it is untextured.
    const std::string* textureUriOf(const GLTFMaterial* material) const {
        if (material == nullptr || !material->pbrMetallicRoughness ||
            !material->pbrMetallicRoughness->baseColorTexture)
            return nullptr;
        int texture = material->pbrMetallicRoughness->baseColorTexture->index;
        if (texture == -1) return nullptr;
        int source = document_.textures[static_cast<size_t>(texture)].source;
        if (source == -1) return nullptr;
        auto stored = plan_.imageNames.find(source);
        if (stored != plan_.imageNames.end()) return &stored->second;
        return &document_.images[static_cast<size_t>(source)].uri;
    }

    // Writes the material record on first use; -1 is glTF's default material.
    int materialIndex(int material) {
        auto found = materialMap_.find(material);
        if (found != materialMap_.end()) return found->second;
        w_.label(BlobChunk::Materials, "####### TEXTURE");
        int index = materialCount++;
        materialMap_.emplace(material, index);
        const GLTFMaterial* m =
            material == -1 ? nullptr : &document_.materials[static_cast<size_t>(material)];
        w_.u32(BlobChunk::Materials, baseColorOf(m));
        if (const std::string* uri = textureUriOf(m)) {
            if (outUris_ != nullptr) outUris_->push_back(*uri);
            w_.reference(BlobChunk::Materials, w_.text(*uri));
        } else {
            w_.reference(BlobChunk::Materials, texts_.empty);
        }
        return index;
    }

    BlobWriter& w_;
    const GLTFMain& document_;
    const Plan& plan_;
    std::vector<std::string>* outUris_;
    SharedTexts texts_{};
    std::map<int, int> meshFirst_;   // glTF mesh -> first packed primitive
    std::map<int, int> materialMap_; // glTF material -> packed material
    std::vector<uint8_t> scratch_;
};

// ---- Dump ----

void writeDump(const uint8_t* blob, int64_t size, const std::map<int64_t, std::string>& labels,
               const char* csvPath) {
    FILE* binary = std::fopen("gltf.expbin", "wb");
    if (binary == nullptr) fatalError("Could not write gltf.expbin from GLTF");
    bool written = std::fwrite(blob, 1, static_cast<size_t>(size), binary) == static_cast<size_t>(size);
    if (std::fclose(binary) != 0 || !written) fatalError("Could not write gltf.expbin from GLTF");

    FILE* csv = std::fopen(csvPath, "wb");
    if (csv == nullptr) fatalError("Could not write CSV from GLTF");
    constexpr size_t kFieldLimit = 32000;
    std::string bytesField, textField;
    auto emitSpan = [&](int64_t start, int64_t end, const std::string& label) {
        bytesField = ": ";
        static const char digits[] = "0123456789abcdef";
        for (int64_t i = start; i < end; ++i) {
            if (i > start) bytesField += ',';
            bytesField += digits[blob[i] >> 4];
            bytesField += digits[blob[i] & 15];
        }
        if (bytesField.size() > kFieldLimit) bytesField.resize(kFieldLimit);
        std::string printable;
        bool visible = false;
        for (int64_t i = start; i < end && (blob[i] == 0 || (blob[i] >= 0x20 && blob[i] <= 0x7E)); ++i) {
            printable += blob[i] == 0 ? ' ' : static_cast<char>(blob[i]);
            visible = visible || blob[i] != 0;
        }
        textField = visible ? "  (Text:" + printable + ")" : "";
        if (textField.size() > kFieldLimit) textField.resize(kFieldLimit);
        std::fprintf(csv, "%4.4d,\"$ %4.4x\", \"%s\",\"%s%s\"\n", static_cast<int>(start),
                     static_cast<unsigned>(start), label.c_str(), bytesField.c_str(), textField.c_str());
    };
    std::string current = "start";
    int64_t spanStart = 0;
    for (const auto& [offset, label] : labels) {
        if (offset >= size) break;
        if (offset == 0) { // a label of the blob's first byte (the large form's) names it from the start
            current = label;
            continue;
        }
        emitSpan(spanStart, offset, current);
        current = label;
        spanStart = offset;
    }
    emitSpan(spanStart, size, current);
    if (std::fclose(csv) != 0) fatalError("Could not write CSV from GLTF");
}

// A document that requires an extension the demo does not implement (Draco or meshopt
// compression, say) cannot be drawn as its author meant: refused before anything else is read.
void checkRequiredExtensions(const std::string& json) {
    GLTFRequirements requirements;
    std::istringstream in(json);
    try {
        refl::json::parse<GLTFRequirements>(in, requirements, false, true);
    } catch (const std::exception&) {
        return; // the document's own reading reports what is wrong with the text
    }
    for (const std::string& name : requirements.extensionsRequired) {
        bool implemented = false;
        for (const char* known : kImplementedExtensions) implemented = implemented || name == known;
        if (!implemented)
            fatalErrorFormat("glTF: the document requires the extension \"%s\", which the packer does not "
                             "implement",
                             name.c_str());
    }
}

// False when the text does not read to its end; with `report`, one console line says so.
bool readDocument(const std::string& json, GLTFMain& document, bool report) {
    checkRequiredExtensions(json);
    std::istringstream in(json);
    try {
        if (refl::json::parse<GLTFMain>(in, document, false, true)) return true;
        if (report) {
            in.clear();
            long long at = static_cast<long long>(in.tellg());
            consoleLog(
                "glTF: the JSON text is not valid (the reader stopped at byte %lld of %zu); packing what "
                "was read before the error\n",
                at < 0 ? static_cast<long long>(json.size()) : at, json.size());
        }
        return false;
    } catch (const std::invalid_argument&) {
        fatalError("glTF: a number in the JSON text cannot be converted");
    } catch (const std::out_of_range&) {
        fatalError("glTF: a number in the JSON text is out of range");
    }
}

// Splits a .glb into JSON text and binary chunks (a .gltf is all text) and reads the text.
// Returns whether the text read to its end; `report` prints what went wrong.
bool readInput(const void* data, size_t size, PackInput& input, GLTFMain& document, bool report) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t first = 0; // JSON may begin with blanks
    while (first < size &&
           (bytes[first] == ' ' || bytes[first] == '\t' || bytes[first] == '\n' || bytes[first] == '\r'))
        ++first;
    if (size >= 4 && std::memcmp(bytes, "glTF", 4) == 0) {
        splitBinaryContainer(bytes, size, input);
        if (report && input.json.empty()) consoleLog("glTF: the binary container has no JSON chunk\n");
    } else if (first < size && bytes[first] == '{') {
        input.json.assign(reinterpret_cast<const char*>(bytes), size);
    } else if (report) {
        consoleLog("glTF: the input (%zu bytes) is neither JSON text nor a binary glTF container\n", size);
    }
    // An empty text was reported above.
    return readDocument(input.json, document, report && !input.json.empty());
}

} // namespace

// ---- Entry points ----

void* loadGLTF(const void* data, size_t size, int* outSize, const char* csvPath,
               std::vector<std::string>* outUris) {
    return loadGLTFChecked(data, size, outSize, csvPath, outUris, nullptr);
}

void* loadGLTFChecked(const void* data, size_t size, int* outSize, const char* csvPath,
                      std::vector<std::string>* outUris, bool* textComplete) {
    PackInput input;
    GLTFMain document;
    bool complete = readInput(data, size, input, document, true);
    if (textComplete != nullptr) *textComplete = complete;
    fetchBuffers(document, input);
    Plan plan = Planner(document, input).make();

    // A scene goes into the compact form when it fits there, else into the large form.
    BlobWriter writer;
    std::vector<std::string> sizingUris;
    auto sizingPass = [&](bool large) {
        writer.setLargeForm(large);
        writer.beginPass(nullptr, false);
        sizingUris.clear();
        PackPass pass(writer, document, plan, outUris != nullptr ? &sizingUris : nullptr);
        pass.run();
        writer.endSizingPass();
        struct Counts {
            int accessorCount, primitiveCount, wideIndexLists;
        };
        return Counts{pass.accessorCount, pass.primitiveCount, pass.wideIndexLists};
    };
    auto sizing = sizingPass(false);
    int64_t total = writer.layout();
    if (total > static_cast<int64_t>(kMaxBlobBytes) || sizing.wideIndexLists > 0) {
        sizing = sizingPass(true);
        total = writer.layout();
    }
    if (outUris != nullptr) outUris->insert(outUris->end(), sizingUris.begin(), sizingUris.end());
    if (total > static_cast<int64_t>(kMaxLargeBlobBytes)) {
        std::string room;
        for (int r = 0; r < static_cast<int>(Room::count); ++r) {
            room += r == 0 ? "" : ", ";
            room += kRoomNames[r] + std::string(" ") + std::to_string(writer.roomBytes(static_cast<Room>(r)));
        }
        fatalErrorFormat("glTF: the packed scene needs %lld bytes, more than the %u a scene blob holds (%s)",
                         static_cast<long long>(total), kMaxLargeBlobBytes, room.c_str());
    }
    if (sizing.accessorCount > 0xFFFF)
        fatalErrorFormat("glTF: the packed scene needs %d accessors; at most 65535 fit",
                         sizing.accessorCount);
    if (sizing.primitiveCount > 0x7FFF)
        fatalErrorFormat("glTF: the packed scene needs %d primitives; at most 32767 fit",
                         sizing.primitiveCount);
    if (outSize != nullptr) *outSize = static_cast<int>(total);

    auto* blob = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(total), 1));
    if (blob == nullptr) fatalError("glTF: out of memory for the scene blob");
    writer.beginPass(blob, csvPath != nullptr);
    PackPass(writer, document, plan, outUris).run();
    for (int i = 0; i < kBlobChunkCount; ++i) {
        const BlobWriter::chunkw& c = writer.chunks()[i];
        if (c.position != c.start + c.size)
            fatalErrorFormat("glTF: chunk \"%c\" came out %lld bytes long instead of %lld",
                             static_cast<char>(c.tag), static_cast<long long>(c.position - c.start),
                             static_cast<long long>(c.size));
    }
    if (csvPath != nullptr) writeDump(blob, total, writer.labels(), csvPath);
    return blob;
}

void* loadGLTFVariable(Variable* v, int* outSize) {
    if (v == nullptr || v->dataSize == 0) return nullptr;
    ByteSpan document = fileBytes(v);
    return loadGLTF(document.data, document.size, outSize, nullptr, nullptr);
}

std::vector<std::string> gltfExternalBufferUris(const void* data, size_t size) {
    PackInput input;
    GLTFMain document;
    readInput(data, size, input, document, false);
    std::vector<std::string> uris;
    for (const GLTFBuffer& buffer : document.buffers)
        if (!buffer.uri.empty() && !isDataUri(buffer.uri)) uris.push_back(buffer.uri);
    return uris;
}
