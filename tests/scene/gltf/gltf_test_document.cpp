#include "gltf_test_document.h"

#include <cstring>

std::string base64Encode(const std::vector<uint8_t>& bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= bytes[i + 2];
        out += alphabet[group >> 18 & 63];
        out += alphabet[group >> 12 & 63];
        out += i + 1 < bytes.size() ? alphabet[group >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    }
    return out;
}

void TestDocument::align4() {
    while (data_.size() % 4 != 0) data_.push_back(0);
}

int TestDocument::addFloats(const std::vector<float>& values, const char* type) {
    align4();
    size_t offset = data_.size();
    data_.resize(offset + 4 * values.size());
    if (!values.empty()) std::memcpy(data_.data() + offset, values.data(), 4 * values.size());
    int components = std::string(type) == "SCALAR" ? 1 : type[3] - '0';
    views_.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) +
                     ",\"byteLength\":" + std::to_string(4 * values.size()) + "}");
    accessors_.push_back("{\"bufferView\":" + std::to_string(views_.size() - 1) +
                         ",\"componentType\":5126,\"count\":" + std::to_string(values.size() / components) +
                         ",\"type\":\"" + type + "\"}");
    return static_cast<int>(accessors_.size() - 1);
}

int TestDocument::addShorts(const std::vector<uint16_t>& values) {
    return addIndices(std::vector<uint32_t>(values.begin(), values.end()), 5123);
}

int TestDocument::addView(const std::vector<uint8_t>& bytes) {
    align4();
    size_t offset = data_.size();
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    views_.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) +
                     ",\"byteLength\":" + std::to_string(bytes.size()) + "}");
    return static_cast<int>(views_.size() - 1);
}

int TestDocument::addIndices(const std::vector<uint32_t>& values, int componentType) {
    align4();
    size_t offset = data_.size();
    int bytes = componentType == 5121 ? 1 : componentType == 5123 ? 2 : 4;
    for (uint32_t v : values)
        for (int b = 0; b < bytes; ++b) data_.push_back(static_cast<uint8_t>(v >> (8 * b)));
    views_.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) +
                     ",\"byteLength\":" + std::to_string(bytes * values.size()) + "}");
    accessors_.push_back("{\"bufferView\":" + std::to_string(views_.size() - 1) +
                         ",\"componentType\":" + std::to_string(componentType) +
                         ",\"count\":" + std::to_string(values.size()) + ",\"type\":\"SCALAR\"}");
    return static_cast<int>(accessors_.size() - 1);
}

int TestDocument::addIntegers(const std::vector<int32_t>& values, int componentType, int components,
                              bool normalized) {
    align4();
    size_t offset = data_.size();
    const int bytes = componentType <= 5121 ? 1 : 2;
    const int stride = (bytes * components + 3) / 4 * 4;
    const size_t count = values.size() / static_cast<size_t>(components);
    for (size_t e = 0; e < count; ++e) {
        for (int c = 0; c < components; ++c)
            for (int b = 0; b < bytes; ++b)
                data_.push_back(
                    static_cast<uint8_t>(static_cast<uint32_t>(values[e * components + c]) >> (8 * b)));
        for (int pad = bytes * components; pad < stride; ++pad) data_.push_back(0);
    }
    static const char* const types[] = {"", "SCALAR", "VEC2", "VEC3", "VEC4"};
    views_.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) + ",\"byteLength\":" +
                     std::to_string(stride * count) + ",\"byteStride\":" + std::to_string(stride) + "}");
    accessors_.push_back("{\"bufferView\":" + std::to_string(views_.size() - 1) +
                         ",\"componentType\":" + std::to_string(componentType) +
                         ",\"count\":" + std::to_string(count) + ",\"type\":\"" + types[components] + "\"" +
                         (normalized ? ",\"normalized\":true}" : "}"));
    return static_cast<int>(accessors_.size() - 1);
}

void TestDocument::extendAccessor(int index, const std::string& members, bool withoutView) {
    std::string& accessor = accessors_[static_cast<size_t>(index)];
    accessor.pop_back(); // its closing brace
    accessor += members + "}";
    if (withoutView) {
        size_t from = accessor.find("\"bufferView\":");
        accessor.erase(from, accessor.find(',', from) + 1 - from);
    }
}

std::string TestDocument::addTriangle(bool texcoords) {
    int indices = addShorts({0, 1, 2});
    int position = addFloats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3");
    int normal = addFloats({0, 0, 1, 0, 0, 1, 0, 0, 1}, "VEC3");
    int texcoord = texcoords ? addFloats({0, 0, 1, 0, 0, 1}, "VEC2") : -1;
    return primitiveMembers(indices, position, normal, texcoord);
}

std::string primitiveMembers(int indices, int position, int normal, int texcoord) {
    std::string members = "\"indices\":" + std::to_string(indices) +
                          ",\"attributes\":{\"POSITION\":" + std::to_string(position) +
                          ",\"NORMAL\":" + std::to_string(normal);
    if (texcoord >= 0) members += ",\"TEXCOORD_0\":" + std::to_string(texcoord);
    return members + "}";
}

std::vector<int> TestDocument::addInterleaved(const std::vector<std::vector<float>>& attributes,
                                              const std::vector<int>& components) {
    align4();
    size_t offset = data_.size();
    int stride = 0;
    for (int c : components) stride += 4 * c;
    size_t count = attributes[0].size() / static_cast<size_t>(components[0]);
    for (size_t e = 0; e < count; ++e)
        for (size_t a = 0; a < attributes.size(); ++a)
            for (int c = 0; c < components[a]; ++c) {
                float v = attributes[a][e * static_cast<size_t>(components[a]) + static_cast<size_t>(c)];
                uint8_t bytes[4];
                std::memcpy(bytes, &v, 4);
                data_.insert(data_.end(), bytes, bytes + 4);
            }
    views_.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) +
                     ",\"byteLength\":" + std::to_string(count * static_cast<size_t>(stride)) +
                     ",\"byteStride\":" + std::to_string(stride) + "}");
    std::vector<int> result;
    int attributeOffset = 0;
    static const char* const types[] = {"", "SCALAR", "VEC2", "VEC3", "VEC4"};
    for (size_t a = 0; a < attributes.size(); ++a) {
        accessors_.push_back("{\"bufferView\":" + std::to_string(views_.size() - 1) +
                             ",\"byteOffset\":" + std::to_string(attributeOffset) +
                             ",\"componentType\":5126,\"count\":" + std::to_string(count) + ",\"type\":\"" +
                             types[components[a]] + "\"}");
        attributeOffset += 4 * components[a];
        result.push_back(static_cast<int>(accessors_.size() - 1));
    }
    return result;
}

std::string TestDocument::views(bool embedded) const {
    std::string json = "\"buffers\":[{\"byteLength\":" + std::to_string(data_.size());
    if (embedded) json += ",\"uri\":\"data:application/octet-stream;base64," + base64Encode(data_) + "\"";
    json += "}],\"bufferViews\":[";
    for (size_t i = 0; i < views_.size(); ++i) {
        if (i > 0) json += ',';
        json += views_[i];
    }
    json += "],\"accessors\":[";
    for (size_t i = 0; i < accessors_.size(); ++i) {
        if (i > 0) json += ',';
        json += accessors_[i];
    }
    return json + "]";
}

std::string TestDocument::json(const std::string& rest) const {
    std::string text = "{";
    text += views(true);
    text += rest;
    text += '}';
    return text;
}

std::vector<uint8_t> TestDocument::glb(const std::string& rest) const {
    std::string text = "{";
    text += views(false);
    text += rest;
    text += '}';
    while (text.size() % 4 != 0) text += ' ';
    std::vector<uint8_t> bin = data_;
    while (bin.size() % 4 != 0) bin.push_back(0);
    ByteList out;
    out.bytes = {'g', 'l', 'T', 'F'};
    out.u32(2).u32(static_cast<uint32_t>(12 + 8 + text.size() + 8 + bin.size()));
    out.u32(static_cast<uint32_t>(text.size())).u8('J').u8('S').u8('O').u8('N');
    out.bytes.insert(out.bytes.end(), text.begin(), text.end());
    out.u32(static_cast<uint32_t>(bin.size())).u8('B').u8('I').u8('N').u8(0);
    out.bytes.insert(out.bytes.end(), bin.begin(), bin.end());
    return out.bytes;
}

ByteList& ByteList::u8(uint8_t v) {
    bytes.push_back(v);
    return *this;
}
ByteList& ByteList::u16(uint16_t v) {
    return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8));
}
ByteList& ByteList::u32(uint32_t v) {
    return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16));
}
ByteList& ByteList::f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return u32(bits);
}
ByteList& ByteList::text(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return u8(0);
}
ByteList& ByteList::zeros(size_t n) {
    bytes.insert(bytes.end(), n, 0);
    return *this;
}

std::vector<uint8_t> blobBytes(const void* blob, int size) {
    const auto* p = static_cast<const uint8_t*>(blob);
    return std::vector<uint8_t>(p, p + size);
}
