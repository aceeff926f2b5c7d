// The packer's validation pass: walks what the default scene reaches in the order the plan will,
// names the first item the blob cannot represent faithfully, and notes the items the plan will
// skip or convert. It changes and prints nothing; the entry point prints the notes and hands the
// message to fatalError.
#include "app/console.h"
#include "scene/blob.h"
#include "scene/gltf_pack_parts.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <limits>
#include <map>
#include <set>
#include <tuple>
#include <utility>

namespace gltfpack {

// ---- Accessor shapes ----

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

int componentCountOf(const std::string& type) {
    if (type == "SCALAR") return 1;
    if (type == "VEC2") return 2;
    if (type == "VEC3") return 3;
    if (type == "VEC4") return 4;
    return 0;
}

const uint8_t* viewData(const GLTFMain& document, const PackInput& input, int view) {
    const GLTFBufferView& v = document.bufferViews[static_cast<size_t>(view)];
    return input.buffers[static_cast<size_t>(v.buffer)].data + v.byteOffset;
}

AccessorData accessorData(const GLTFMain& document, const PackInput& input, int index) {
    const GLTFAccessor& a = document.accessors[static_cast<size_t>(index)];
    AccessorData data;
    data.components = componentCountOf(a.type);
    data.componentBytes = componentBytesOf(a.componentType);
    data.componentType = a.componentType;
    data.count = a.count;
    const GLTFBufferView& view = document.bufferViews[static_cast<size_t>(a.bufferView)];
    int64_t elementBytes = static_cast<int64_t>(data.components) * data.componentBytes;
    data.stride = view.byteStride != 0 ? view.byteStride : elementBytes;
    data.first = viewData(document, input, a.bufferView) + a.byteOffset;
    return data;
}

int indexComponentType(const GLTFMain& document, int indices) {
    if (indices >= 0 && static_cast<size_t>(indices) < document.accessors.size()) {
        int given = document.accessors[static_cast<size_t>(indices)].componentType;
        if (given == kComponentTypeUnsignedByte || given == kComponentTypeUnsignedInt) return given;
    }
    return kComponentTypeUnsignedShort;
}

int attributeComponentType(const GLTFMain& document, int accessor) {
    if (accessor >= 0 && static_cast<size_t>(accessor) < document.accessors.size()) {
        int given = document.accessors[static_cast<size_t>(accessor)].componentType;
        if (given == kComponentTypeByte || given == kComponentTypeUnsignedByte ||
            given == kComponentTypeShort || given == kComponentTypeUnsignedShort)
            return given;
    }
    return kComponentTypeFloat;
}

const char* const kImplementedExtensions[3] = {"KHR_lights_punctual", "KHR_mesh_quantization",
                                               "KHR_texture_transform"};

const NamedCode kPathCodes[3] = {
    {"translation", kPathTranslation}, {"scale", kPathScale}, {"rotation", kPathRotation}};
// An absent interpolation is glTF's default, LINEAR.
const NamedCode kInterpolationCodes[4] = {{"STEP", kInterpolationStep},
                                          {"LINEAR", kInterpolationLinear},
                                          {"", kInterpolationLinear},
                                          {"CUBICSPLINE", kInterpolationCubicSpline}};

const char* modeName(int mode) {
    static const char* const names[] = {"points",        "lines",          "line loop",   "line strip",
                                        "triangle list", "triangle strip", "triangle fan"};
    return mode >= 0 && mode <= kModeTriangleFan ? names[mode] : "unknown";
}

int64_t triangleListLength(int mode, int64_t count) {
    if (mode == kModeTriangleStrip || mode == kModeTriangleFan) return count < 3 ? 0 : 3 * (count - 2);
    return count;
}

std::vector<uint32_t> triangleList(int mode, const std::vector<uint32_t>& indices) {
    if (mode != kModeTriangleStrip && mode != kModeTriangleFan) return indices;
    std::vector<uint32_t> list;
    list.reserve(static_cast<size_t>(triangleListLength(mode, static_cast<int64_t>(indices.size()))));
    for (size_t i = 0; i + 2 < indices.size(); ++i) {
        if (mode == kModeTriangleFan)
            list.insert(list.end(), {indices[i + 1], indices[i + 2], indices[0]});
        else if (i % 2 == 0)
            list.insert(list.end(), {indices[i], indices[i + 1], indices[i + 2]});
        else // every other triangle of a strip turns the other way
            list.insert(list.end(), {indices[i], indices[i + 2], indices[i + 1]});
    }
    return list;
}

std::vector<float> cameraNumbers(const GLTFCamera& camera) {
    if (camera.type == kCameraOrthographic && camera.orthographic) {
        const GLTFCameraOrthographic& o = *camera.orthographic;
        return {static_cast<float>(o.xmag), static_cast<float>(o.ymag), static_cast<float>(o.znear),
                static_cast<float>(o.zfar)};
    }
    if (camera.type == kCameraPerspective && camera.perspective) {
        const GLTFCameraPerspective& p = *camera.perspective;
        return {static_cast<float>(p.yfov), static_cast<float>(p.aspectRatio), static_cast<float>(p.znear),
                static_cast<float>(p.zfar)};
    }
    return {};
}

bool cameraUsable(const GLTFCamera& camera) {
    std::vector<float> n = cameraNumbers(camera);
    if (n.empty() || !std::isfinite(n[0] + n[1] + n[2] + n[3])) return false;
    if (camera.type == kCameraOrthographic) return n[0] != 0 && n[1] != 0 && n[2] >= 0 && n[3] > n[2];
    return n[0] > 0 && n[0] < 3.14159f && n[1] >= 0 && n[2] > 0 && (n[3] == 0 || n[3] > n[2]);
}

namespace {

const GLTFMaterialTextureInfo* baseColorTexture(const GLTFMain& document, int material) {
    if (material < 0 || static_cast<size_t>(material) >= document.materials.size()) return nullptr;
    const GLTFMaterial& m = document.materials[static_cast<size_t>(material)];
    if (!m.pbrMetallicRoughness || !m.pbrMetallicRoughness->baseColorTexture) return nullptr;
    return m.pbrMetallicRoughness->baseColorTexture.get();
}

} // namespace

const GLTFTextureTransform* baseColorTransform(const GLTFMain& document, int material) {
    const GLTFMaterialTextureInfo* info = baseColorTexture(document, material);
    return info != nullptr && info->extensions ? info->extensions->KHR_texture_transform.get() : nullptr;
}

std::string baseColorTexCoord(const GLTFMain& document, int material) {
    const GLTFMaterialTextureInfo* info = baseColorTexture(document, material);
    int set = info != nullptr ? std::max(info->texCoord, 0) : 0;
    if (const GLTFTextureTransform* transform = baseColorTransform(document, material))
        if (transform->texCoord >= 0) set = transform->texCoord;
    return "TEXCOORD_" + std::to_string(set);
}

namespace {

const char* typeNameOf(int components) {
    static const char* const names[] = {"", "SCALAR", "VEC2", "VEC3", "VEC4"};
    return names[components];
}

// ---- Validator ----

// Thrown by fail() and caught by validateDocument(): the walk stops at the first refusal.
struct Refusal {
    std::string message;
};

[[noreturn]] __attribute__((format(NOVA31_PRINTF_FORMAT, 1, 2))) void fail(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatText(format, arguments);
    va_end(arguments);
    throw Refusal{std::move(text)};
}

class Validator {
public:
    Validator(const GLTFMain& document, const PackInput& input) : document_(document), input_(input) {}

    void run() {
        checkNodes();
        checkChannels();
    }

    std::vector<std::string>& notes() { return notes_; }

private:
    __attribute__((format(NOVA31_PRINTF_FORMAT, 2, 3))) void note(const char* format, ...) {
        va_list arguments;
        va_start(arguments, format);
        notes_.push_back(formatText(format, arguments));
        va_end(arguments);
    }

    // Checks accessor `index`, used as `use`, for the expected component type and count.
    const AccessorData& accessor(int index, const char* use, int componentType, int components) {
        const auto& accessors = document_.accessors;
        if (index < 0 || static_cast<size_t>(index) >= accessors.size())
            fail("glTF: %s refers to accessor %d, which does not exist", use, index);
        auto sparse = input_.sparseProblems.find(index);
        if (sparse != input_.sparseProblems.end()) fail("%s", sparse->second.c_str());
        auto found = checked_.find(index);
        if (found != checked_.end()) {
            checkShape(found->second, index, use, componentType, components);
            return found->second;
        }
        const GLTFAccessor& a = accessors[static_cast<size_t>(index)];
        AccessorData shape;
        shape.components = componentCountOf(a.type);
        if (shape.components == 0)
            fail("glTF: accessor %d has type \"%s\"; only SCALAR, VEC2, VEC3 and VEC4 can be packed", index,
                 a.type.c_str());
        shape.componentBytes = componentBytesOf(a.componentType);
        if (shape.componentBytes == 0)
            fail("glTF: accessor %d has component type %d; only 5120 (byte), 5121 (unsigned byte), 5122 "
                 "(short), 5123 (unsigned short), 5125 (unsigned int) and 5126 (float) can be packed",
                 index, a.componentType);
        shape.componentType = a.componentType;
        checkShape(shape, index, use, componentType, components);
        if (a.count < 0) fail("glTF: accessor %d has no element count", index);

        char user[32];
        std::snprintf(user, sizeof user, "accessor %d", index);
        checkView(a.bufferView, user);
        const GLTFBufferView& view = document_.bufferViews[static_cast<size_t>(a.bufferView)];
        int64_t elementBytes = static_cast<int64_t>(shape.components) * shape.componentBytes;
        int64_t stride = view.byteStride != 0 ? view.byteStride : elementBytes;
        if (stride < elementBytes)
            fail("glTF: buffer view %d has byteStride %d, less than the %lld bytes of an element of "
                 "accessor %d",
                 a.bufferView, view.byteStride, static_cast<long long>(elementBytes), index);
        if (a.byteOffset < 0) fail("glTF: accessor %d has a negative byteOffset", index);
        int64_t end = a.count == 0 ? 0 : a.byteOffset + stride * (a.count - 1) + elementBytes;
        if (end > view.byteLength)
            fail("glTF: accessor %d reads past the end of buffer view %d (%lld of %d bytes)", index,
                 a.bufferView, static_cast<long long>(end), view.byteLength);
        AccessorData data = accessorData(document_, input_, index);
        if (data.componentType == kComponentTypeFloat) checkFloats(data, index);
        return checked_.emplace(index, data).first->second;
    }

    // Buffer view `v` checked against its buffer; `user` ("accessor 3") names who refers to it.
    void checkView(int v, const char* user) const {
        if (v < 0 || static_cast<size_t>(v) >= document_.bufferViews.size())
            fail("glTF: %s refers to buffer view %d, which does not exist", user, v);
        const GLTFBufferView& view = document_.bufferViews[static_cast<size_t>(v)];
        if (view.buffer < 0 || static_cast<size_t>(view.buffer) >= input_.buffers.size())
            fail("glTF: buffer view %d refers to buffer %d, which was not found", v, view.buffer);
        const ByteSpan& buffer = input_.buffers[static_cast<size_t>(view.buffer)];
        if (!buffer.present)
            fail("glTF: buffer view %d refers to buffer %d, which has no data (no URI and no "
                 "binary chunk)",
                 v, view.buffer);
        if (view.byteOffset < 0 || view.byteLength < 0 ||
            static_cast<uint64_t>(view.byteOffset) + static_cast<uint64_t>(view.byteLength) > buffer.size)
            fail("glTF: buffer view %d (offset %d, %d bytes) reaches past the end of buffer %d "
                 "(%zu bytes)",
                 v, view.byteOffset, view.byteLength, view.buffer, buffer.size);
    }

    static void checkShape(const AccessorData& data, int index, const char* use, int componentType,
                           int components) {
        if (data.componentType != componentType || data.components != components)
            fail("glTF: %s accessor %d is %s of component type %d; it must be %s of %d", use, index,
                 typeNameOf(data.components), data.componentType, typeNameOf(components), componentType);
    }

    // Quantisation needs a finite range: min, max and max - min.
    static void checkFloats(const AccessorData& data, int index) {
        for (int c = 0; c < data.components; ++c) {
            float minimum = std::numeric_limits<float>::max(), maximum = std::numeric_limits<float>::lowest();
            for (int32_t i = 0; i < data.count; ++i) {
                float value = data.floatAt(i, c);
                if (!std::isfinite(value))
                    fail("glTF: accessor %d element %d holds a value that is not a finite number", index, i);
                minimum = std::min(minimum, value);
                maximum = std::max(maximum, value);
            }
            if (data.count > 0 && !std::isfinite(maximum - minimum))
                fail("glTF: accessor %d spans a range too large to quantise", index);
        }
    }

    static void checkTransform(const std::vector<float>& values, size_t expected, int node,
                               const char* what) {
        if (!values.empty() && values.size() != expected)
            fail("glTF: node %d has %zu %s values; it needs %zu", node, values.size(), what, expected);
        for (float value : values)
            if (!std::isfinite(value))
                fail("glTF: node %d %s holds a value that is not a finite number", node, what);
    }

    // Breadth-first from the default scene, as the plan lists the nodes.
    void checkNodes() {
        const auto& nodes = document_.nodes;
        std::vector<int> reached(nodes.size(), -1); // packed index, -1 while not reached
        std::deque<int> queue;
        if (document_.scenes.empty()) {
            if (document_.scene != 0)
                fail("glTF: scene %d does not exist (the document has no scenes)", document_.scene);
            return;
        }
        if (document_.scene < 0 || static_cast<size_t>(document_.scene) >= document_.scenes.size())
            fail("glTF: scene %d does not exist (the document has %zu scenes)", document_.scene,
                 document_.scenes.size());
        for (int root : document_.scenes[static_cast<size_t>(document_.scene)].nodes) {
            if (root < 0 || static_cast<size_t>(root) >= nodes.size())
                fail("glTF: scene %d lists node %d, which does not exist", document_.scene, root);
            queue.push_back(root);
        }
        int packed = 0;
        while (!queue.empty()) {
            int index = queue.front();
            queue.pop_front();
            if (reached[static_cast<size_t>(index)] != -1)
                fail("glTF: node %d is reached twice from scene %d; the node hierarchy must be a tree", index,
                     document_.scene);
            if (packed >= kMaxPackedNodes)
                fail("glTF: scene %d has more than %d nodes", document_.scene, kMaxPackedNodes);
            reached[static_cast<size_t>(index)] = packed++;
            const GLTFNode& node = nodes[static_cast<size_t>(index)];
            checkTransform(node.matrix, 16, index, "matrix");
            checkTransform(node.translation, 3, index, "translation");
            checkTransform(node.rotation, 4, index, "rotation");
            checkTransform(node.scale, 3, index, "scale");
            checkLight(node, index);
            checkCamera(node, index);
            if (node.mesh != -1) checkMesh(node.mesh, index);
            for (int child : node.children) {
                if (child < 0 || static_cast<size_t>(child) >= nodes.size())
                    fail("glTF: node %d lists child %d, which does not exist", index, child);
                queue.push_back(child);
            }
        }
        reached_ = std::move(reached);
    }

    void checkLight(const GLTFNode& node, int index) const {
        if (!node.extensions || !node.extensions->KHR_lights_punctual) return;
        int light = node.extensions->KHR_lights_punctual->light;
        size_t lightCount = 0;
        if (document_.extensions && document_.extensions->KHR_lights_punctual)
            lightCount = document_.extensions->KHR_lights_punctual->lights.size();
        if (light < 0 || static_cast<size_t>(light) >= lightCount)
            fail("glTF: node %d refers to light %d, which does not exist (the document has %zu lights)",
                 index, light, lightCount);
        const GLTFExtPunctualLight& l =
            document_.extensions->KHR_lights_punctual->lights[static_cast<size_t>(light)];
        if (!l.color.empty() && l.color.size() < 3)
            fail("glTF: light %d has %zu colour values; it needs 3", light, l.color.size());
        for (float value : l.color)
            if (!std::isfinite(value)) fail("glTF: light %d colour is not a finite number", light);
        if (!std::isfinite(static_cast<float>(l.intensity)))
            fail("glTF: light %d intensity is not a finite number", light);
    }

    // A camera that exists but makes no projection is left out with a note.
    void checkCamera(const GLTFNode& node, int index) {
        if (node.camera == -1) return;
        if (node.camera < 0 || static_cast<size_t>(node.camera) >= document_.cameras.size())
            fail("glTF: node %d refers to camera %d, which does not exist (the document has %zu cameras)",
                 index, node.camera, document_.cameras.size());
        if (!cameraUsable(document_.cameras[static_cast<size_t>(node.camera)]))
            note(
                "glTF: camera %d of node %d is neither a perspective camera (0 < yfov < pi, 0 < znear < zfar "
                "or no zfar) nor an orthographic one (xmag, ymag not 0, 0 <= znear < zfar); not used\n",
                node.camera, index);
    }

    void checkMesh(int mesh, int node) {
        if (mesh < 0 || static_cast<size_t>(mesh) >= document_.meshes.size())
            fail("glTF: node %d refers to mesh %d, which does not exist", node, mesh);
        if (mesh > 0xFFFF) fail("glTF: mesh %d: a packed mesh index must stay below 65536", mesh);
        if (!meshes_.insert(mesh).second) return;
        const auto& primitives = document_.meshes[static_cast<size_t>(mesh)].primitives;
        char where[64], use[96];
        for (size_t p = 0; p < primitives.size(); ++p) {
            const GLTFMeshPrimitive& primitive = primitives[p];
            std::snprintf(where, sizeof where, "mesh %d primitive %zu", mesh, p);
            if (primitive.mode < kModePoints || primitive.mode > kModeTriangleFan)
                fail("glTF: %s has mode %d; glTF defines modes 0 to 6", where, primitive.mode);
            if (primitive.mode < kModeTriangles) {
                note("glTF: %s is drawn as %s; left out\n", where, modeName(primitive.mode));
                continue;
            }
            // The index list is checked first, the attributes next, as the blob lists them.
            if (primitive.indices != -1) indexAccessor(primitive, where);
            int32_t vertexCount = std::numeric_limits<int32_t>::max();
            bool hasNormal = false;
            const std::string texCoord = baseColorTexCoord(document_, primitive.material);
            for (const auto& [name, components, required] :
                 {std::tuple{"POSITION", 3, true}, {"NORMAL", 3, false}, {texCoord.c_str(), 2, false}}) {
                auto found = primitive.attributes.find(name);
                if (found == primitive.attributes.end()) {
                    if (required) fail("glTF: %s has no %s attribute", where, name);
                    continue;
                }
                std::snprintf(use, sizeof use, "%s %s", where, name);
                int componentType = attributeComponentType(document_, found->second);
                vertexCount =
                    std::min(vertexCount, accessor(found->second, use, componentType, components).count);
                hasNormal = hasNormal || std::string(name) == "NORMAL";
            }
            for (const auto& [name, index] : primitive.attributes)
                if (name != "POSITION" && name != "NORMAL" && name != texCoord)
                    note("glTF: %s attribute %s is not used\n", where, name.c_str());
            int64_t indexCount =
                triangleListLength(primitive.mode, checkIndices(primitive, where, vertexCount));
            if (indexCount == 0) {
                note("glTF: %s has no indices; skipped\n", where);
                continue;
            }
            if (primitive.mode != kModeTriangles)
                note("glTF: %s is a %s; packed as a triangle list\n", where, modeName(primitive.mode));
            if (!hasNormal) {
                note("glTF: %s has no NORMAL; packed with flat normals\n", where);
            }
            if (primitive.material != -1) checkMaterial(primitive.material, mesh, static_cast<int>(p));
        }
    }

    const AccessorData& indexAccessor(const GLTFMeshPrimitive& primitive, const char* where) {
        char use[96];
        std::snprintf(use, sizeof use, "%s indices", where);
        return accessor(primitive.indices, use, indexComponentType(document_, primitive.indices), 1);
    }

    // The primitive's index list against its vertices; returns its length
    // (the vertex count for a primitive without indices, drawn in order).
    int64_t checkIndices(const GLTFMeshPrimitive& primitive, const char* where, int32_t vertexCount) {
        // Lists the packer makes (in vertex order, or one entry per corner for flat normals) are
        // 32-bit in the large form when they need to be, so their length is not limited here.
        if (primitive.indices == -1) return vertexCount;
        const AccessorData& data = indexAccessor(primitive, where);
        for (int32_t i = 0; i < data.count; ++i) {
            uint32_t value = data.indexAt(i);
            // The scene runtime expands every attribute through the index list.
            if (value >= static_cast<uint32_t>(vertexCount))
                fail("glTF: %s index %d is %u, past its %d vertices", where, i, value, vertexCount);
        }
        return data.count;
    }

    void checkMaterial(int material, int mesh, int primitive) const {
        if (material < 0 || static_cast<size_t>(material) >= document_.materials.size())
            fail("glTF: mesh %d primitive %d refers to material %d, which does not exist", mesh, primitive,
                 material);
        const GLTFMaterial& m = document_.materials[static_cast<size_t>(material)];
        if (!m.pbrMetallicRoughness || !m.pbrMetallicRoughness->baseColorTexture) return;
        int texture = m.pbrMetallicRoughness->baseColorTexture->index;
        if (texture == -1) return;
        if (texture < 0 || static_cast<size_t>(texture) >= document_.textures.size())
            fail("glTF: material %d refers to texture %d, which does not exist", material, texture);
        int source = document_.textures[static_cast<size_t>(texture)].source;
        if (source != -1 && (source < 0 || static_cast<size_t>(source) >= document_.images.size()))
            fail("glTF: texture %d refers to image %d, which does not exist", texture, source);
        if (source != -1) checkImage(source);
    }

    // An image the document holds itself must fit the store, which counts bytes in 32 bits.
    void checkImage(int source) const {
        const GLTFImage& image = document_.images[static_cast<size_t>(source)];
        size_t size = 0;
        if (isDataUri(image.uri)) {
            size = decodeDataUri(image.uri, std::numeric_limits<size_t>::max()).size();
        } else if (image.uri.empty() && image.bufferView != -1) {
            char user[32];
            std::snprintf(user, sizeof user, "image %d", source);
            checkView(image.bufferView, user);
            size =
                static_cast<size_t>(document_.bufferViews[static_cast<size_t>(image.bufferView)].byteLength);
        }
        if (size > 0xFFFFFFF0u) fail("glTF: image %d holds %zu bytes, too many for the store", source, size);
    }

    void checkChannels() {
        char use[96];
        for (size_t a = 0; a < document_.animations.size(); ++a) {
            const GLTFAnimation& animation = document_.animations[a];
            for (size_t c = 0; c < animation.channels.size(); ++c) {
                const GLTFAnimChannel& channel = animation.channels[c];
                if (channel.sampler < 0 || static_cast<size_t>(channel.sampler) >= animation.samplers.size())
                    fail("glTF: animation %zu channel %zu refers to sampler %d, which does not exist", a, c,
                         channel.sampler);
                const GLTFAnimSampler& sampler = animation.samplers[static_cast<size_t>(channel.sampler)];
                const std::string& path = channel.target.path;
                const std::string& interpolation = sampler.interpolation;
                int pathCode = codeOf(path, kPathCodes);
                int interpolationCode = codeOf(interpolation, kInterpolationCodes);
                if (pathCode < 0 || interpolationCode < 0) {
                    note("glTF: animation %zu channel %zu animates \"%s\" with interpolation \"%s\"; "
                         "skipped\n",
                         a, c, path.c_str(), interpolation.c_str());
                    continue;
                }
                int node = channel.target.node;
                if (node < 0 || static_cast<size_t>(node) >= document_.nodes.size())
                    fail("glTF: animation %zu channel %zu targets node %d, which does not exist", a, c, node);
                if (static_cast<size_t>(node) >= reached_.size() || reached_[static_cast<size_t>(node)] < 0) {
                    note("glTF: animation %zu channel %zu targets node %d, which is not in scene %d; "
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
                    fail("glTF: animation %zu channel %zu has %d key times but %d key values (needs "
                         "%lld)",
                         a, c, times.count, values.count, static_cast<long long>(expected));
                int packedNode = reached_[static_cast<size_t>(node)];
                if (packedNode > kMaxAnimatedNode)
                    fail("glTF: animation %zu channel %zu targets node %d, packed as node %d; an animated "
                         "node must be among the first %d packed nodes",
                         a, c, node, packedNode, kMaxAnimatedNode + 1);
            }
        }
    }

    const GLTFMain& document_;
    const PackInput& input_;
    std::map<int, AccessorData> checked_; // accessors checked so far, with their elements
    std::set<int> meshes_;                // meshes checked so far
    std::vector<int> reached_;            // glTF node -> its packed index, -1 outside the default scene
    std::vector<std::string> notes_;      // console lines on what the plan skips or converts
};

} // namespace

Validation validateDocument(const GLTFMain& document, const PackInput& input) {
    Validation result;
    Validator validator(document, input);
    try {
        validator.run();
    } catch (const Refusal& refusal) {
        result.problem = refusal.message;
    }
    result.notes = std::move(validator.notes());
    return result;
}

} // namespace gltfpack
