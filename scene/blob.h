/* blob.h — the packed scene blob: its layout and a reader for it.

   The scene blob is what loadGLTF (gltf_pack.h) makes of a glTF document: one block,
   position-independent, little-endian, read in place. It comes in two forms with the same
   chunks and records. The compact form (at most 65535 bytes, every scene that fits) has a
   directory of 16-bit offsets and sizes and 16-bit index lists. The large form, for scenes
   that do not fit, has a directory of 32-bit offsets and sizes, marked by an entry count of
   kLargeBlobMarker (the compact form always holds 9 there), and its index lists may be
   32-bit (component type 5125). Both start with a directory of nine tagged chunks ("h"
   directory, "n" nodes, "m" mesh primitives, "a" accessors, "A" animation channels,
   "t" materials, "L" lights, "d" data heap, "e" end marker). Each chunk holds fixed-size
   records (the Packed* structs below mirror them byte for byte) that refer to each other by
   index, and into the data heap by signed 32-bit self-relative references (target offset
   minus the field's own offset, 0 = none). Float vertex and animation data sit in "d" as
   compact float blocks: f32 minimum, f32 maximum, then one u16 code per element,
   value = code * ((max - min) / 65535) + min.

       BlobView blob(sceneBlob);                         // checks the directory
       for (const PackedNode& node : blob.nodes()) {
           const char* name = blob.text(&node.name);     // "" when absent
           const float* translation = blob.floats(&node.translation, 3);   // null when absent
       }
       const PackedAccessor& a = blob.accessors()[i];
       CompactFloatBlock x = blob.floatBlock(&a.components[0], a.count);
       float first = x.value(0);

   A chunk is found by scanning the directory for its tag; its record count is its size
   divided by the record size. The view reads both forms (form() tells which) and checks that
   every chunk lies inside the blob, after the one before it, and that every reference it
   follows lands inside it (with room for what is read there), so a damaged blob ends in
   fatalError instead of a wild read. It does not copy or own the blob and never writes to
   it. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// ---- Chunk table ----

// X(identifier, tag character, record type, record size in bytes), in blob order.
#define NOVA31_BLOB_CHUNKS(X)                                                                                \
    X(Directory, 'h', ChunkEntry, 6)                                                                         \
    X(Nodes, 'n', PackedNode, 28)                                                                            \
    X(Primitives, 'm', PackedPrimitive, 10)                                                                  \
    X(Accessors, 'a', PackedAccessor, 28)                                                                    \
    X(Channels, 'A', PackedChannel, 4)                                                                       \
    X(Materials, 't', PackedMaterial, 8)                                                                     \
    X(Lights, 'L', PackedLight, 20)                                                                          \
    X(Data, 'd', uint8_t, 1)                                                                                 \
    X(End, 'e', uint8_t, 0)

enum class BlobChunk : uint8_t {
#define NOVA31_BLOB_CHUNK_ENUM(identifier, tag, record, size) identifier = tag,
    NOVA31_BLOB_CHUNKS(NOVA31_BLOB_CHUNK_ENUM)
#undef NOVA31_BLOB_CHUNK_ENUM
};

constexpr int kBlobChunkCount = 9;
constexpr uint32_t kMaxBlobBytes = 65535;                // the compact form's limit
constexpr int kDirectoryBytes = 2 + 6 * kBlobChunkCount; // u16 entry count + 9 entries

// The large form: u16 marker, u16 gap, then nine LargeChunkEntry records. References are
// signed 32-bit, so a large blob stays below 2 GiB.
constexpr uint16_t kLargeBlobMarker = 0x8000 | kBlobChunkCount;
constexpr int kLargeDirectoryBytes = 4 + 12 * kBlobChunkCount;
constexpr uint32_t kMaxLargeBlobBytes = 0x7FFFFFFF;

enum class BlobForm : uint8_t {
    compact, // 16-bit directory, at most 65535 bytes
    large,   // 32-bit directory
};

// The chunks in blob order, and the record size of each (0 for the end marker).
extern const BlobChunk kBlobChunkOrder[kBlobChunkCount];
int blobRecordSize(BlobChunk chunk);

// ---- Records ----

// Directory entry; the directory is a u16 entry count (9) followed by 9 of these.
struct ChunkEntry {
    uint8_t tag;     // the chunk's tag character
    uint8_t pad;     // 0-3 bytes after the chunk that make the next one start at a multiple of 4
    uint16_t offset; // blob offset of the chunk's first byte
    uint16_t size;   // chunk size in bytes, padding excluded
};

// Directory entry of the large form; its directory is kLargeBlobMarker, a u16 gap and 9 of these.
struct LargeChunkEntry {
    uint8_t tag;
    uint8_t pad;
    uint16_t gap;    // 0
    uint32_t offset; // blob offset of the chunk's first byte
    uint32_t size;   // chunk size in bytes, padding excluded
};
static_assert(sizeof(LargeChunkEntry) == 12, "LargeChunkEntry must mirror its blob layout");

// One node reachable from the default scene, breadth-first: parents come before children.
struct PackedNode {
    int16_t parent;         // index in chunk "n", -1 for a root
    uint16_t camera;        // 0, or 1 + the camera's accessor in "a" (kCameraPerspective...)
    int32_t name;           // reference to NUL-terminated text in "d"; always present (maybe "")
    int32_t matrix;         // reference to 16 f32, column-major, or 0
    int32_t translation;    // reference to f32 x, y, z, or 0
    int32_t rotation;       // reference to quaternion f32 x, y, z, w, or 0
    int32_t scale;          // reference to f32 x, y, z, or 0
    int16_t firstPrimitive; // first PackedPrimitive of the node's mesh, -1 without mesh
    int16_t primitiveCount; // primitives of that mesh, 0 without mesh
};

constexpr uint16_t kPrimitiveKindTriangles = 1;

// One primitive of a glTF mesh; nodes sharing a mesh share its records.
struct PackedPrimitive {
    uint16_t mesh;          // glTF mesh index
    uint16_t kind;          // always kPrimitiveKindTriangles (indexed triangle list)
    uint16_t accessorCount; // 3 ("idx", "pos", "normal") or 4 (+ "uv")
    uint16_t firstAccessor; // index of the first of those consecutive PackedAccessor records
    uint16_t material;      // index of the PackedMaterial
};

// A node's camera is an accessor record named "perspective" or "orthographic" holding one
// float VEC4 element, every component exact (a one-element compact block is its minimum):
// perspective (yfov radians, aspect ratio or 0 for the window's, znear, zfar or 0 for none),
// orthographic (xmag, ymag, znear, zfar). Readers that know no cameras never look at it.
constexpr const char* kCameraPerspective = "perspective";
constexpr const char* kCameraOrthographic = "orthographic";

constexpr uint16_t kComponentTypeUnsignedShort = 5123;
constexpr uint16_t kComponentTypeUnsignedInt = 5125; // 32-bit index lists, large form only
constexpr uint16_t kComponentTypeFloat = 5126;

struct PackedAccessor {
    uint16_t componentType; // 5123 or 5125 (raw index copies) or 5126 (compact float blocks)
    uint16_t sizeAndCount;  // (bytes per component << 4) | component count (1-4)
    int32_t count;          // element count
    int32_t name;           // reference to the name text ("idx", "pos", "normal", "uv"), 0 for animation
    int32_t components[4];  // reference to each component's data, 0 beyond the component count

    int componentCount() const { return sizeAndCount & 15; }
    int bytesPerComponent() const { return sizeAndCount >> 4; }
};

// Path codes and interpolation codes add up in the low four bits of a channel's target code.
constexpr int kPathTranslation = 0;
constexpr int kPathScale = 3;
constexpr int kPathRotation = 6;
constexpr int kInterpolationStep = 0;
constexpr int kInterpolationLinear = 1;
constexpr int kInterpolationCubicSpline = 2;
constexpr int kMaxChannelNodes = 4096; // the node index of a target code has 12 bits

struct PackedChannel {
    uint16_t target;   // node index in "n" * 16 + path code + interpolation code
    uint16_t keyTimes; // accessor of the key times; the key values are the next accessor

    int node() const { return target >> 4; }
    int path() const { return (target & 15) / 3 * 3; }      // kPath*
    int interpolation() const { return (target & 15) % 3; } // kInterpolation*
};

struct PackedMaterial {
    uint32_t baseColor; // 0xAARRGGBB
    int32_t texture;    // reference to the base-colour image URI text; the empty text when untextured
};

// A point light at the position of its node.
struct PackedLight {
    int32_t node;    // index in chunk "n"
    float color[3];  // linear r, g, b
    float intensity; // glTF intensity, unscaled
};

#define NOVA31_BLOB_CHUNK_SIZE_CHECK(identifier, tag, record, size)                                          \
    static_assert(sizeof(record) == (size) || (size) == 0, #record " must mirror its blob layout");
NOVA31_BLOB_CHUNKS(NOVA31_BLOB_CHUNK_SIZE_CHECK)
#undef NOVA31_BLOB_CHUNK_SIZE_CHECK

// ---- Compact float blocks ----

struct CompactFloatBlock {
    float minimum = 0;
    float maximum = 0;
    const uint8_t* codes = nullptr; // count little-endian u16 codes, unaligned
    int32_t count = 0;

    uint16_t code(int32_t i) const { return static_cast<uint16_t>(codes[2 * i] | codes[2 * i + 1] << 8); }
    float step() const { return (maximum - minimum) / 65535.0f; }
    float value(int32_t i) const { return static_cast<float>(code(i)) * step() + minimum; }
};

// The raw copy of an unsigned-short component (index data); it need not be 2-aligned.
struct ShortArray {
    const uint8_t* bytes = nullptr; // count little-endian u16 values
    int32_t count = 0;

    uint16_t operator[](int32_t i) const {
        return static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    }
};

// An index list as the blob holds it: raw little-endian u16 or u32 values, unaligned.
struct IndexArray {
    const uint8_t* bytes = nullptr;
    int32_t count = 0;
    int width = 2; // bytes per index

    uint32_t operator[](int32_t i) const {
        const uint8_t* p = bytes + static_cast<size_t>(width) * static_cast<size_t>(i);
        uint32_t value = static_cast<uint32_t>(p[0] | p[1] << 8);
        if (width == 4) value |= static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        return value;
    }
};

// Bytes of a compact float block of `count` codes: minimum, maximum, codes.
constexpr int64_t compactFloatBlockBytes(int64_t count) {
    return 8 + 2 * count;
}

// ---- Reader ----

class BlobView {
public:
    // Checks the directory (nine entries, each chunk inside the blob, in order, 4-aligned, none
    // overlapping the next) and derives the blob size from it; a damaged directory ends in
    // fatalError. Without a size, a compact blob is known to end within 65535 bytes and a large
    // one is taken to be as long as its directory says (the blob loadGLTF returned).
    explicit BlobView(const void* blob);
    // As above, and the directory must also fit in `size` bytes.
    BlobView(const void* blob, size_t size);

    // A chunk's place, whichever form the directory has.
    struct Entry {
        uint8_t tag;
        uint8_t pad;
        uint32_t offset;
        uint32_t size;
    };

    const uint8_t* bytes() const { return bytes_; }
    uint32_t size() const { return size_; }
    BlobForm form() const { return form_; }
    // The directory entry of a chunk; every valid blob has all nine.
    const Entry& entry(BlobChunk chunk) const;

    std::span<const PackedNode> nodes() const { return records<PackedNode>(BlobChunk::Nodes); }
    std::span<const PackedPrimitive> primitives() const {
        return records<PackedPrimitive>(BlobChunk::Primitives);
    }
    std::span<const PackedAccessor> accessors() const {
        return records<PackedAccessor>(BlobChunk::Accessors);
    }
    std::span<const PackedChannel> channels() const { return records<PackedChannel>(BlobChunk::Channels); }
    std::span<const PackedMaterial> materials() const {
        return records<PackedMaterial>(BlobChunk::Materials);
    }
    std::span<const PackedLight> lights() const { return records<PackedLight>(BlobChunk::Lights); }

    // Records of a chunk, in place; the count is the chunk size divided by the record size.
    template <class Record> std::span<const Record> records(BlobChunk chunk) const {
        const Entry& e = entry(chunk);
        return {reinterpret_cast<const Record*>(bytes_ + e.offset), e.size / sizeof(Record)};
    }

    // ---- Following references ----
    // `field` must point at a reference field inside this blob. Each call checks that the
    // target and the `bytes` read there lie inside the blob.

    // The target of a reference, or null when the reference is 0.
    const uint8_t* follow(const int32_t* field, size_t bytes = 1) const;
    // Blob offset of the target, or -1 when the reference is 0.
    int64_t targetOffset(const int32_t* field) const;
    // A NUL-terminated text; "" when the reference is 0.
    const char* text(const int32_t* field) const;
    // `count` f32 values (4-aligned in "d"); null when the reference is 0.
    const float* floats(const int32_t* field, int count) const;
    // The compact float block of one float accessor component (count codes); empty when 0.
    CompactFloatBlock floatBlock(const int32_t* field, int32_t count) const;
    // The raw u16 copy of an unsigned-short accessor component (count values); empty when 0.
    ShortArray shorts(const int32_t* field, int32_t count) const;
    // The index list of an "idx" accessor: SCALAR of 5123, or of 5125 in the large form.
    IndexArray indices(const PackedAccessor& accessor) const;

    // Decodes component c of every element of a float accessor into out[element * stride + c].
    void decodeComponent(const PackedAccessor& accessor, int c, float* out, int stride) const;

    // The same blob in the large form: a 32-bit directory, then the chunks' bytes unchanged.
    // Every chunk moves by the same 56 bytes, a multiple of 4, so references and alignment hold.
    // For readers' tests and fuzzing of the large form with blobs that fit the compact one.
    std::vector<uint8_t> largeForm() const;

private:
    void checkDirectory(bool sizeKnown);

    const uint8_t* bytes_;
    uint32_t size_ = 0;
    size_t limit_; // bytes known to be readable at bytes_
    BlobForm form_ = BlobForm::compact;
    Entry entries_[kBlobChunkCount] = {};
};
