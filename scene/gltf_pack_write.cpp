// The packer's writing pass: one traversal of the plan that runs twice, first to size the chunks
// (no blob), then, with the chunks laid out back to back, to write the allocated blob.
#include "app/console.h"
#include "scene/blob.h"
#include "scene/gltf_pack_parts.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace gltfpack {

namespace {

// Light colours when a light names none: glTF's default, white.
const float kDefaultLightColor[3] = {1.0f, 1.0f, 1.0f};

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
        // The camera's numbers are an accessor record; the node refers to it (1 + its index).
        uint16_t camera = 0;
        if (planned.camera != 0) {
            w_.label(BlobChunk::Data, "ND-CAMERA");
            fptr kind = w_.text(planned.orthographic ? kCameraOrthographic : kCameraPerspective);
            camera = static_cast<uint16_t>(writeAccessor(planned.camera, kind, "CAMERA") + 1);
        }
        w_.label(BlobChunk::Nodes, "#### NodeStart ####");
        w_.u16(BlobChunk::Nodes, static_cast<uint16_t>(planned.parent));
        w_.u16(BlobChunk::Nodes, camera);
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

    fptr writeShorts(const AccessorData& data, int c) {
        scratch_.resize(2 * static_cast<size_t>(data.count));
        for (int32_t i = 0; i < data.count; ++i) {
            uint16_t value = data.shortAt(i, c);
            scratch_[2 * static_cast<size_t>(i)] = static_cast<uint8_t>(value);
            scratch_[2 * static_cast<size_t>(i) + 1] = static_cast<uint8_t>(value >> 8);
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

} // namespace

WrittenBlob writeBlob(const GLTFMain& document, const Plan& plan, bool keepLabels,
                      std::vector<std::string>* outUris) {
    // A scene goes into the compact form when it fits there, else into the large form. The
    // image URIs of the sizing pass that counts are handed on, so outUris gets two passes' worth.
    BlobWriter writer;
    std::vector<std::string> sizingUris;
    struct Counts {
        int accessorCount, primitiveCount, wideIndexLists;
    };
    auto sizingPass = [&](bool large) {
        writer.setLargeForm(large);
        writer.beginPass(nullptr, false);
        sizingUris.clear();
        PackPass pass(writer, document, plan, outUris != nullptr ? &sizingUris : nullptr);
        pass.run();
        writer.endSizingPass();
        return Counts{pass.accessorCount, pass.primitiveCount, pass.wideIndexLists};
    };
    Counts sizing = sizingPass(false);
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

    WrittenBlob written;
    written.size = total;
    written.blob = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(total), 1));
    if (written.blob == nullptr) fatalError("glTF: out of memory for the scene blob");
    writer.beginPass(written.blob, keepLabels);
    PackPass(writer, document, plan, outUris).run();
    for (int i = 0; i < kBlobChunkCount; ++i) {
        const BlobWriter::chunkw& c = writer.chunks()[i];
        if (c.position != c.start + c.size)
            fatalErrorFormat("glTF: chunk \"%c\" came out %lld bytes long instead of %lld",
                             static_cast<char>(c.tag), static_cast<long long>(c.position - c.start),
                             static_cast<long long>(c.size));
    }
    written.labels = writer.labels();
    return written;
}

} // namespace gltfpack
