// libFuzzer target: any byte sequence through the JSON reader into glTF-shaped records.
// The first byte picks the reader's two options; the rest is the document.
#include "refl/json/json.h"

#include <cstddef>
#include <cstdint>
#include <istream>
#include <stdexcept>
#include <streambuf>

namespace {

// Reads straight from the fuzzer's buffer, so a read past the input is caught by the sanitizer.
class MemoryBuffer final : public std::streambuf {
public:
    MemoryBuffer(const std::uint8_t* data, std::size_t size) {
        char* begin = const_cast<char*>(reinterpret_cast<const char*>(data));
        setg(begin, begin, begin + size);
    }
};

struct TextureInfo {
    int index = -1;
    int texCoord = -1;
    double scale = 1.0;
    REFL_MEMBERS(index, texCoord, scale)
};

struct Material {
    std::string name;
    bool doubleSided = false;
    std::shared_ptr<TextureInfo> baseColorTexture;
    std::vector<float> baseColorFactor;
    REFL_MEMBERS(name, doubleSided, baseColorTexture, baseColorFactor)
};

struct Target {
    int node = 0;
    std::string path;
    REFL_MEMBERS(node, path)
};

struct Channel {
    int sampler = 0;
    Target target;
    REFL_MEMBERS(sampler, target)
};

struct Node {
    std::string name;
    std::vector<int> children;
    int mesh = -1;
    std::vector<float> matrix;
    refl::json::value extras;
    char tag[8] = "";
    REFL_MEMBERS(name, children, mesh, matrix, extras, tag)
};

struct Primitive {
    std::map<std::string, int> attributes;
    int indices = -1;
    REFL_MEMBERS(attributes, indices)
};

struct Mesh {
    std::string name;
    std::vector<Primitive> primitives;
    REFL_MEMBERS(name, primitives)
};

struct Document {
    int scene = 0;
    std::vector<Node> nodes;
    std::vector<Mesh> meshes;
    std::vector<Material> materials;
    std::vector<Channel> channels;
    std::shared_ptr<Document> nested;
    refl::json::value extras;
    REFL_MEMBERS(scene, nodes, meshes, materials, channels, nested, extras)
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    bool allowComments = (data[0] & 1) != 0;
    bool combineSurrogates = (data[0] & 2) != 0;
    MemoryBuffer buffer(data + 1, size - 1);
    std::istream in(&buffer);
    Document document;
    try {
        refl::json::parse(in, document, allowComments, combineSurrogates);
    } catch (const std::out_of_range&) {
        // A number beyond double's range: one of the reader's two documented exceptions.
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
