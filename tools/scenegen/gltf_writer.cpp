#include "tools/scenegen/gltf_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace {

constexpr int kUnsignedShort = 5123;
constexpr int kUnsignedInt = 5125;
constexpr int kFloat = 5126;

std::string number(float value) {
    if (!std::isfinite(value)) throw std::runtime_error("non-finite value in the scene");
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

// JSON text for names we make ourselves: quotes and backslashes are the only characters to escape.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

template <typename Container> std::string numberList(const Container& values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + number(values[i]);
    return out + "]";
}

std::string intList(const std::vector<int>& values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + std::to_string(values[i]);
    return out + "]";
}

// A JSON array of the items, one per line at the given indentation. An empty list is written
// "[]" without whitespace inside, which every JSON reader accepts.
std::string array(const std::vector<std::string>& items, const char* indent, const char* closingIndent) {
    if (items.empty()) return "[]";
    std::string out = "[\n";
    for (size_t i = 0; i < items.size(); ++i)
        out += indent + items[i] + (i + 1 < items.size() ? ",\n" : "\n");
    return out + closingIndent + "]";
}

const char* typeName(int components) {
    static const char* const names[] = {"SCALAR", "VEC2", "VEC3", "VEC4"};
    if (components < 1 || components > 4) throw std::runtime_error("unsupported component count");
    return names[components - 1];
}

} // namespace

// ---- Buffer and accessors ----

int GltfBuilder::appendBytes(const void* bytes, size_t size) {
    while (binary_.size() % 4) binary_.push_back(0);
    int offset = static_cast<int>(binary_.size());
    const auto* begin = static_cast<const unsigned char*>(bytes);
    binary_.insert(binary_.end(), begin, begin + size);
    return offset;
}

int GltfBuilder::addFloatAccessor(const std::vector<float>& values, int components, bool withBounds) {
    if (values.empty() || values.size() % components) throw std::runtime_error("ragged accessor data");
    Accessor accessor{};
    accessor.byteLength = static_cast<int>(values.size() * sizeof(float));
    accessor.byteOffset = appendBytes(values.data(), accessor.byteLength);
    accessor.count = static_cast<int>(values.size() / components);
    accessor.componentType = kFloat;
    accessor.type = typeName(components);
    if (withBounds) {
        accessor.minimum.assign(components, std::numeric_limits<float>::max());
        accessor.maximum.assign(components, std::numeric_limits<float>::lowest());
        for (size_t i = 0; i < values.size(); ++i) {
            accessor.minimum[i % components] = std::min(accessor.minimum[i % components], values[i]);
            accessor.maximum[i % components] = std::max(accessor.maximum[i % components], values[i]);
        }
    }
    accessors_.push_back(accessor);
    return static_cast<int>(accessors_.size() - 1);
}

int GltfBuilder::addIndexAccessor(const std::vector<uint32_t>& indices) {
    if (indices.empty()) throw std::runtime_error("primitive without triangles");
    if (indices.size() > 0x1FFFFFFF) throw std::runtime_error("index list too long for one buffer view");
    Accessor accessor{};
    if (*std::max_element(indices.begin(), indices.end()) > 0xFFFF) {
        accessor.byteLength = static_cast<int>(indices.size() * sizeof(uint32_t));
        accessor.byteOffset = appendBytes(indices.data(), static_cast<size_t>(accessor.byteLength));
        accessor.componentType = kUnsignedInt;
    } else {
        std::vector<uint16_t> shorts(indices.begin(), indices.end());
        accessor.byteLength = static_cast<int>(shorts.size() * sizeof(uint16_t));
        accessor.byteOffset = appendBytes(shorts.data(), static_cast<size_t>(accessor.byteLength));
        accessor.componentType = kUnsignedShort;
    }
    accessor.count = static_cast<int>(indices.size());
    accessor.type = "SCALAR";
    accessors_.push_back(accessor);
    return static_cast<int>(accessors_.size() - 1);
}

// ---- Scene contents ----

int GltfBuilder::addTexture(const std::string& uri) {
    images_.push_back(uri);
    return static_cast<int>(images_.size() - 1);
}

int GltfBuilder::addMaterial(const std::string& name, std::array<float, 4> baseColorFactor, int texture) {
    materials_.push_back({name, baseColorFactor, texture});
    return static_cast<int>(materials_.size() - 1);
}

int GltfBuilder::addMesh(const std::string& name, const std::vector<PrimitiveSpec>& primitives) {
    Mesh mesh{name, {}};
    for (const PrimitiveSpec& spec : primitives) {
        const MeshData& data = *spec.mesh;
        Primitive primitive{};
        primitive.indices = addIndexAccessor(data.indices);
        primitive.position = addFloatAccessor(data.positions, 3, true);
        primitive.normal = addFloatAccessor(data.normals, 3, false);
        primitive.texcoord = spec.withTexcoords ? addFloatAccessor(data.texcoords, 2, false) : -1;
        primitive.material = spec.material;
        mesh.primitives.push_back(primitive);
    }
    meshes_.push_back(mesh);
    return static_cast<int>(meshes_.size() - 1);
}

int GltfBuilder::addLight(const std::string& name, std::array<float, 3> colour, float intensity) {
    lights_.push_back({name, colour, intensity});
    return static_cast<int>(lights_.size() - 1);
}

int GltfBuilder::addNode(const NodeSpec& node) {
    nodes_.push_back(node);
    return static_cast<int>(nodes_.size() - 1);
}

void GltfBuilder::addChannel(int node, const std::string& path, const std::string& interpolation,
                             const std::vector<float>& times, const std::vector<float>& values) {
    int components = path == "rotation" ? 4 : 3;
    size_t valuesPerKey = interpolation == "CUBICSPLINE" ? 3 : 1;
    if (times.empty() || values.size() != times.size() * valuesPerKey * components)
        throw std::runtime_error("animation values do not match the key count of " + path);
    int input = addFloatAccessor(times, 1, true);
    int output = addFloatAccessor(values, components, false);
    channels_.push_back({node, input, output, path, interpolation});
}

// ---- JSON text ----

std::string GltfBuilder::json(const std::string& binaryUri) const {
    std::vector<std::string> accessors, views;
    for (size_t i = 0; i < accessors_.size(); ++i) {
        const Accessor& a = accessors_[i];
        std::string text = "{\"bufferView\": " + std::to_string(i) +
                           ", \"componentType\": " + std::to_string(a.componentType) +
                           ", \"count\": " + std::to_string(a.count) + ", \"type\": \"" + a.type + "\"";
        if (!a.minimum.empty())
            text += ", \"min\": " + numberList(a.minimum) + ", \"max\": " + numberList(a.maximum);
        accessors.push_back(text + "}");
        views.push_back("{\"buffer\": 0, \"byteOffset\": " + std::to_string(a.byteOffset) +
                        ", \"byteLength\": " + std::to_string(a.byteLength) + "}");
    }
    std::vector<std::string> images, textures, materials, meshes, lights, nodes, samplers, channels;
    for (size_t i = 0; i < images_.size(); ++i) {
        images.push_back("{\"uri\": " + quoted(images_[i]) + "}");
        textures.push_back("{\"sampler\": 0, \"source\": " + std::to_string(i) + "}");
    }
    for (const Material& m : materials_) {
        std::string pbr = "\"baseColorFactor\": " + numberList(m.factor);
        if (m.texture >= 0) pbr += ", \"baseColorTexture\": {\"index\": " + std::to_string(m.texture) + "}";
        materials.push_back("{\"name\": " + quoted(m.name) + ", \"pbrMetallicRoughness\": {" + pbr +
                            ", \"metallicFactor\": 0, \"roughnessFactor\": 0.8}}");
    }
    for (const Mesh& mesh : meshes_) {
        std::vector<std::string> primitives;
        for (const Primitive& p : mesh.primitives) {
            std::string texcoord = p.texcoord >= 0 ? ", \"TEXCOORD_0\": " + std::to_string(p.texcoord) : "";
            primitives.push_back("{\"attributes\": {\"POSITION\": " + std::to_string(p.position) +
                                 ", \"NORMAL\": " + std::to_string(p.normal) + texcoord +
                                 "}, \"indices\": " + std::to_string(p.indices) +
                                 ", \"material\": " + std::to_string(p.material) + "}");
        }
        std::string list;
        for (size_t i = 0; i < primitives.size(); ++i) list += (i ? ", " : "") + primitives[i];
        meshes.push_back("{\"name\": " + quoted(mesh.name) + ", \"primitives\": [" + list + "]}");
    }
    for (const Light& l : lights_) {
        lights.push_back("{\"name\": " + quoted(l.name) + ", \"type\": \"point\", \"color\": " +
                         numberList(l.colour) + ", \"intensity\": " + number(l.intensity) + "}");
    }
    for (const NodeSpec& n : nodes_) {
        std::string text = "{\"name\": " + quoted(n.name);
        if (n.mesh >= 0) text += ", \"mesh\": " + std::to_string(n.mesh);
        if (n.translation) text += ", \"translation\": " + numberList(*n.translation);
        if (n.rotation) text += ", \"rotation\": " + numberList(*n.rotation);
        if (n.scale) text += ", \"scale\": " + numberList(*n.scale);
        if (n.matrix) text += ", \"matrix\": " + numberList(*n.matrix);
        if (!n.children.empty()) text += ", \"children\": " + intList(n.children);
        if (n.light >= 0)
            text +=
                ", \"extensions\": {\"KHR_lights_punctual\": {\"light\": " + std::to_string(n.light) + "}}";
        nodes.push_back(text + "}");
    }
    for (size_t i = 0; i < channels_.size(); ++i) {
        const Channel& c = channels_[i];
        samplers.push_back("{\"input\": " + std::to_string(c.input) +
                           ", \"output\": " + std::to_string(c.output) +
                           ", \"interpolation\": " + quoted(c.interpolation) + "}");
        channels.push_back("{\"sampler\": " + std::to_string(i) + ", \"target\": {\"node\": " +
                           std::to_string(c.node) + ", \"path\": " + quoted(c.path) + "}}");
    }

    std::ostringstream out;
    const char* item = "    ";
    const char* close = "  ";
    out << "{\n"
        << "  \"asset\": {\"version\": \"2.0\", \"generator\": \"NOVA31 scenegen\"},\n"
        << "  \"extensionsUsed\": [\"KHR_lights_punctual\"],\n"
        << "  \"scene\": 0,\n"
        << "  \"scenes\": [{\"name\": \"Hall\", \"nodes\": " << intList(roots_) << "}],\n"
        << "  \"nodes\": " << array(nodes, item, close) << ",\n"
        << "  \"meshes\": " << array(meshes, item, close) << ",\n"
        << "  \"materials\": " << array(materials, item, close) << ",\n"
        << "  \"textures\": " << array(textures, item, close) << ",\n"
        << "  \"images\": " << array(images, item, close) << ",\n"
        << "  \"samplers\": [{\"magFilter\": 9729, \"minFilter\": 9987, \"wrapS\": 10497, \"wrapT\": "
           "10497}],\n"
        << "  \"animations\": [{\"name\": \"Beat\", \"channels\": " << array(channels, item, close)
        << ", \"samplers\": " << array(samplers, item, close) << "}],\n"
        << "  \"extensions\": {\"KHR_lights_punctual\": {\"lights\": " << array(lights, item, close)
        << "}},\n"
        << "  \"accessors\": " << array(accessors, item, close) << ",\n"
        << "  \"bufferViews\": " << array(views, item, close) << ",\n"
        << "  \"buffers\": [{\"byteLength\": " << binary_.size() << ", \"uri\": " << quoted(binaryUri)
        << "}]\n"
        << "}\n";
    return out.str();
}
