// The packer's planning pass: what the blob will hold, from a document that validation accepted.
// Validation has noted what this pass skips or converts, so it prints nothing.
// Nodes breadth-first from the default scene, each used mesh's primitives with the accessors they
// copy (converted where the blob's layout asks: 16-bit index lists, flat normals, floats for
// integer attributes), the images the
// document holds itself put into the store, and the animation channels of packed nodes.
#include "scene/blob.h"
#include "scene/gltf_pack_parts.h"
#include "store/store.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

namespace gltfpack {

namespace {

class Planner {
public:
    Planner(const GLTFMain& document, const PackInput& input) : document_(document), input_(input) {}

    Plan make() {
        planNodes();
        planChannels();
        return std::move(plan_);
    }

private:
    const AccessorData& accessor(int index) {
        auto found = plan_.accessors.find(index);
        if (found != plan_.accessors.end()) return found->second;
        return plan_.accessors.emplace(index, accessorData(document_, input_, index)).first->second;
    }

    // Breadth-first from the default scene; the node list becomes chunk "n".
    void planNodes() {
        const auto& nodes = document_.nodes;
        if (document_.scenes.empty()) return;
        std::vector<int> packedIndex(nodes.size(), -1);
        std::deque<std::pair<int, int>> queue; // (parent, node)
        for (int root : document_.scenes[static_cast<size_t>(document_.scene)].nodes)
            queue.emplace_back(-1, root);
        while (!queue.empty()) {
            auto [parent, index] = queue.front();
            queue.pop_front();
            int k = static_cast<int>(plan_.nodes.size());
            packedIndex[static_cast<size_t>(index)] = k;
            const GLTFNode& node = nodes[static_cast<size_t>(index)];
            int light = node.extensions && node.extensions->KHR_lights_punctual
                            ? node.extensions->KHR_lights_punctual->light
                            : -1;
            PlannedNode planned{parent, index, light, 0, false};
            if (node.camera != -1 && cameraUsable(document_.cameras[static_cast<size_t>(node.camera)])) {
                const GLTFCamera& camera = document_.cameras[static_cast<size_t>(node.camera)];
                planned.camera = makeFloatAccessor(cameraNumbers(camera), 4);
                planned.orthographic = camera.type == kCameraOrthographic;
            }
            plan_.nodes.push_back(planned);
            if (node.mesh != -1) planMesh(node.mesh);
            for (int child : node.children) queue.emplace_back(k, child);
        }
        packedNodes_ = std::move(packedIndex);
    }

    void planMesh(int mesh) {
        if (plan_.meshes.count(mesh) != 0) return;
        std::vector<PlannedPrimitive>& planned = plan_.meshes[mesh];
        const auto& primitives = document_.meshes[static_cast<size_t>(mesh)].primitives;
        char where[64];
        for (size_t p = 0; p < primitives.size(); ++p) {
            const GLTFMeshPrimitive& primitive = primitives[p];
            if (primitive.mode < kModeTriangles) continue; // points and lines
            std::snprintf(where, sizeof where, "mesh %d primitive %zu", mesh, p);
            PlannedPrimitive result{};
            int32_t vertexCount = std::numeric_limits<int32_t>::max();
            auto attribute = [&](const char* name) {
                auto found = primitive.attributes.find(name);
                if (found == primitive.attributes.end()) return -1;
                int key = attributeAccessor(found->second);
                vertexCount = std::min(vertexCount, plan_.accessors.at(key).count);
                return key;
            };
            result.position = attribute("POSITION");
            result.normal = attribute("NORMAL");
            result.texcoord = attribute(baseColorTexCoord(document_, primitive.material).c_str());
            std::vector<uint32_t> indices = planIndices(primitive, vertexCount, result);
            if (primitive.mode != kModeTriangles) {
                indices = triangleList(primitive.mode, indices);
                result.indices = makeIndexAccessor(indices);
            }
            if (indices.empty()) continue;
            const GLTFTextureTransform* transform = baseColorTransform(document_, primitive.material);
            if (transform != nullptr && result.texcoord != -1)
                result.texcoord = transformedTexCoords(result.texcoord, *transform);
            if (result.normal == -1) planFlatNormals(indices, result);
            result.material = primitive.material;
            if (result.material != -1) planMaterial(result.material);
            planned.push_back(result);
        }
    }

    // A vertex attribute: floats as they are, integers (KHR_mesh_quantization, and glTF's own
    // normalised texture coordinates) converted to floats once per accessor. Returns the key of
    // the float accessor in the plan.
    int attributeAccessor(int index) {
        const AccessorData& data = accessor(index);
        if (data.componentType == kComponentTypeFloat) return index;
        auto converted = convertedAttributes_.find(index);
        if (converted != convertedAttributes_.end()) return converted->second;
        const bool normalized = document_.accessors[static_cast<size_t>(index)].normalized;
        std::vector<float> values(static_cast<size_t>(data.count) * static_cast<size_t>(data.components));
        for (int32_t i = 0; i < data.count; ++i)
            for (int c = 0; c < data.components; ++c)
                values[static_cast<size_t>(i) * data.components + c] = data.integerAt(i, c, normalized);
        int key = makeFloatAccessor(values, data.components);
        convertedAttributes_.emplace(index, key);
        return key;
    }

    // The primitive's index list. result.indices becomes an index accessor: the document's own
    // 16-bit list, or its 32-bit list when an index exceeds 65535 (the large form holds it), or
    // one made here for other 8-bit and 32-bit lists and for a primitive without indices, whose
    // vertices glTF draws in order (0, 1, ..., n - 1).
    std::vector<uint32_t> planIndices(const GLTFMeshPrimitive& primitive, int32_t vertexCount,
                                      PlannedPrimitive& result) {
        std::vector<uint32_t> indices;
        if (primitive.indices == -1) {
            indices.resize(static_cast<size_t>(vertexCount));
            for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint32_t>(i);
            result.indices = makeIndexAccessor(indices);
            return indices;
        }
        const AccessorData& data = accessor(primitive.indices);
        indices.resize(static_cast<size_t>(data.count));
        for (int32_t i = 0; i < data.count; ++i) indices[static_cast<size_t>(i)] = data.indexAt(i);
        const bool wide = !indices.empty() && *std::max_element(indices.begin(), indices.end()) > 0xFFFF;
        if (data.componentType == kComponentTypeUnsignedShort ||
            (wide && data.componentType == kComponentTypeUnsignedInt)) {
            result.indices = primitive.indices;
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
    void planFlatNormals(const std::vector<uint32_t>& indices, PlannedPrimitive& result) {
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

    // KHR_texture_transform applied to texture coordinates: uv' = offset + R(rotation) (scale * uv),
    // with R turning (1, 0) towards (0, -1) as the extension defines.
    int transformedTexCoords(int key, const GLTFTextureTransform& transform) {
        const AccessorData& source = accessor(key);
        const float offset[2] = {transform.offset.size() >= 2 ? transform.offset[0] : 0.0f,
                                 transform.offset.size() >= 2 ? transform.offset[1] : 0.0f};
        const float scale[2] = {transform.scale.size() >= 2 ? transform.scale[0] : 1.0f,
                                transform.scale.size() >= 2 ? transform.scale[1] : 1.0f};
        const float c = static_cast<float>(std::cos(transform.rotation)),
                    s = static_cast<float>(std::sin(transform.rotation));
        std::vector<float> values;
        values.reserve(2 * static_cast<size_t>(source.count));
        for (int32_t i = 0; i < source.count; ++i) {
            float u = scale[0] * source.floatAt(i, 0), v = scale[1] * source.floatAt(i, 1);
            values.push_back(offset[0] + c * u + s * v);
            values.push_back(offset[1] - s * u + c * v);
        }
        return makeFloatAccessor(values, 2);
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

    // ---- Images ----

    void planMaterial(int material) {
        const GLTFMaterial& m = document_.materials[static_cast<size_t>(material)];
        if (!m.pbrMetallicRoughness || !m.pbrMetallicRoughness->baseColorTexture) return;
        int texture = m.pbrMetallicRoughness->baseColorTexture->index;
        if (texture == -1) return;
        int source = document_.textures[static_cast<size_t>(texture)].source;
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
            bytes = viewData(document_, input_, image.bufferView);
            size =
                static_cast<size_t>(document_.bufferViews[static_cast<size_t>(image.bufferView)].byteLength);
        } else {
            return;
        }
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

    // ---- Channels ----

    void planChannels() {
        for (size_t a = 0; a < document_.animations.size(); ++a) {
            const GLTFAnimation& animation = document_.animations[a];
            for (size_t c = 0; c < animation.channels.size(); ++c) {
                const GLTFAnimChannel& channel = animation.channels[c];
                const GLTFAnimSampler& sampler = animation.samplers[static_cast<size_t>(channel.sampler)];
                int pathCode = codeOf(channel.target.path, kPathCodes);
                int interpolationCode = codeOf(sampler.interpolation, kInterpolationCodes);
                int node = channel.target.node;
                if (pathCode < 0 || interpolationCode < 0 ||
                    static_cast<size_t>(node) >= packedNodes_.size() ||
                    packedNodes_[static_cast<size_t>(node)] < 0)
                    continue; // noted by validation
                accessor(sampler.input);
                accessor(sampler.output);
                int packedNode = packedNodes_[static_cast<size_t>(node)];
                plan_.channels.push_back(
                    {static_cast<uint16_t>(packedNode * 16 + pathCode + interpolationCode), sampler.input,
                     sampler.output});
            }
        }
    }

    const GLTFMain& document_;
    const PackInput& input_;
    Plan plan_;
    std::vector<int> packedNodes_;           // glTF node -> packed index, -1 when not packed
    std::map<int, int> widenedIndices_;      // 8-bit or 32-bit index accessor -> its 16-bit copy
    std::map<int, int> convertedAttributes_; // integer attribute accessor -> its float copy
    int nextMadeKey_ = -2;                   // key of the next accessor the packer makes
};

} // namespace

Plan planDocument(const GLTFMain& document, const PackInput& input) {
    return Planner(document, input).make();
}

} // namespace gltfpack
