// The packer's input pass: the .glb container, the JSON text read into the glTF records, and the
// document's buffers from the binary chunk, "data:" URIs, the store or files.
#include "app/console.h"
#include "refl/json/json.h"
#include "scene/blob.h"
#include "scene/gltf_pack_parts.h"
#include "store/store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace gltfpack {

namespace {

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

} // namespace

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

bool isDataUri(const std::string& uri) {
    return uri.size() > 5 && uri.compare(0, 5, "data:") == 0;
}

// A Variable's own bytes. The image hook links a file whose name looks like an image (say
// "tex1.png") to its decoded texture, so variableData(currentVariable(v)) is a texture record
// from then on; the file keeps its bytes and their count in the Variable itself.
ByteSpan fileBytes(Variable* v) {
    return {static_cast<const uint8_t*>(variableData(v)), v->dataSize, true};
}

namespace {

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

// A document that requires an extension the packer does not implement (Draco or meshopt
// compression, say) cannot be drawn as its author meant: refused before anything else is read.
void checkRequiredExtensions(const std::string& json) {
    GLTFRequirements requirements;
    std::istringstream in(json);
    try {
        refl::json::parse<GLTFRequirements>(in, requirements, false, true);
    } catch (const std::exception&) {
        return; // reading the document reports what is wrong with the text
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

} // namespace

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

// ---- Sparse accessors ----

namespace {

// The bytes [offset, offset + bytes) of buffer view `v`, or null when they are not all there.
const uint8_t* viewRange(const GLTFMain& document, const PackInput& input, int v, int64_t offset,
                         int64_t bytes) {
    if (v < 0 || static_cast<size_t>(v) >= document.bufferViews.size() || offset < 0) return nullptr;
    const GLTFBufferView& view = document.bufferViews[static_cast<size_t>(v)];
    if (view.buffer < 0 || static_cast<size_t>(view.buffer) >= input.buffers.size()) return nullptr;
    const ByteSpan& buffer = input.buffers[static_cast<size_t>(view.buffer)];
    if (!buffer.present || view.byteOffset < 0 || view.byteLength < 0 || offset + bytes > view.byteLength ||
        static_cast<uint64_t>(view.byteOffset) + static_cast<uint64_t>(view.byteLength) > buffer.size)
        return nullptr;
    return buffer.data + view.byteOffset + offset;
}

// The dense elements of accessor `a` (index `index`), or a problem.
std::string densify(const GLTFMain& document, const PackInput& input, int index,
                    std::vector<uint8_t>& dense) {
    const GLTFAccessor& a = document.accessors[static_cast<size_t>(index)];
    const GLTFAccessorSparse& sparse = *a.sparse;
    const int64_t elementBytes =
        static_cast<int64_t>(componentCountOf(a.type)) * componentBytesOf(a.componentType);
    char problem[160];
    // The blob holds far less than this; larger claims are damage.
    if (elementBytes == 0 || a.count < 0 || static_cast<int64_t>(a.count) * elementBytes > (int64_t{1} << 28))
        return ""; // validation names the type or count
    dense.assign(static_cast<size_t>(a.count * elementBytes), 0);
    if (a.bufferView != -1) {
        const GLTFBufferView& view =
            document.bufferViews.size() > static_cast<size_t>(std::max(a.bufferView, 0))
                ? document.bufferViews[static_cast<size_t>(a.bufferView)]
                : GLTFBufferView{};
        const int64_t stride = view.byteStride != 0 ? view.byteStride : elementBytes;
        const int64_t end = a.count == 0 ? 0 : a.byteOffset + stride * (a.count - 1) + elementBytes;
        const uint8_t* base = viewRange(document, input, a.bufferView, 0, end);
        if (base == nullptr || stride < elementBytes || a.byteOffset < 0) {
            dense.clear(); // validation names what is wrong with the base
            return "";
        }
        for (int32_t i = 0; i < a.count; ++i)
            std::memcpy(&dense[static_cast<size_t>(i * elementBytes)], base + a.byteOffset + i * stride,
                        static_cast<size_t>(elementBytes));
    }
    const int indexBytes = sparse.indices.componentType == kComponentTypeUnsignedByte    ? 1
                           : sparse.indices.componentType == kComponentTypeUnsignedShort ? 2
                           : sparse.indices.componentType == kComponentTypeUnsignedInt   ? 4
                                                                                         : 0;
    if (sparse.count < 1 || sparse.count > a.count) {
        std::snprintf(problem, sizeof problem,
                      "glTF: accessor %d has %d sparse substitutions for %d elements", index, sparse.count,
                      a.count);
        return problem;
    }
    if (indexBytes == 0) {
        std::snprintf(
            problem, sizeof problem,
            "glTF: accessor %d has sparse indices of component type %d; they must be 5121, 5123 or 5125",
            index, sparse.indices.componentType);
        return problem;
    }
    const uint8_t* indices = viewRange(document, input, sparse.indices.bufferView, sparse.indices.byteOffset,
                                       static_cast<int64_t>(sparse.count) * indexBytes);
    const uint8_t* values = viewRange(document, input, sparse.values.bufferView, sparse.values.byteOffset,
                                      static_cast<int64_t>(sparse.count) * elementBytes);
    if (indices == nullptr || values == nullptr) {
        std::snprintf(problem, sizeof problem,
                      "glTF: accessor %d's sparse %s reach past their buffer view (or it does not exist)",
                      index, indices == nullptr ? "indices" : "values");
        return problem;
    }
    for (int32_t i = 0; i < sparse.count; ++i) {
        const uint8_t* p = indices + static_cast<size_t>(i) * indexBytes;
        uint32_t target = indexBytes == 1   ? p[0]
                          : indexBytes == 2 ? static_cast<uint32_t>(p[0] | p[1] << 8)
                                            : readU32(p);
        if (target >= static_cast<uint32_t>(a.count)) {
            std::snprintf(problem, sizeof problem,
                          "glTF: accessor %d's sparse index %d is %u, past its %d elements", index, i, target,
                          a.count);
            return problem;
        }
        std::memcpy(&dense[static_cast<size_t>(target * elementBytes)], values + i * elementBytes,
                    static_cast<size_t>(elementBytes));
    }
    return "";
}

} // namespace

void applySparseAccessors(GLTFMain& document, PackInput& input) {
    for (size_t i = 0; i < document.accessors.size(); ++i) {
        GLTFAccessor& a = document.accessors[i];
        if (!a.sparse) continue;
        std::vector<uint8_t> dense;
        std::string problem = densify(document, input, static_cast<int>(i), dense);
        if (!problem.empty()) {
            input.sparseProblems.emplace(static_cast<int>(i), problem);
            continue;
        }
        if (dense.empty() && a.count != 0) continue; // a base or shape validation refuses
        input.ownedBuffers.push_back(std::move(dense));
        const std::vector<uint8_t>& bytes = input.ownedBuffers.back();
        input.buffers.push_back({bytes.data(), bytes.size(), true});
        GLTFBufferView view;
        view.buffer = static_cast<int>(input.buffers.size() - 1);
        view.byteLength = static_cast<int>(bytes.size());
        document.bufferViews.push_back(view);
        a.bufferView = static_cast<int>(document.bufferViews.size() - 1);
        a.byteOffset = 0;
        a.sparse.reset();
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

} // namespace gltfpack
