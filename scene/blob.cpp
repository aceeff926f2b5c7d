#include "scene/blob.h"

#include "app/console.h"

#include <cstring>

const BlobChunk kBlobChunkOrder[kBlobChunkCount] = {
#define NOVA31_BLOB_CHUNK_ORDER(identifier, tag, record, size) BlobChunk::identifier,
    NOVA31_BLOB_CHUNKS(NOVA31_BLOB_CHUNK_ORDER)
#undef NOVA31_BLOB_CHUNK_ORDER
};

int blobRecordSize(BlobChunk chunk) {
    switch (chunk) {
#define NOVA31_BLOB_CHUNK_RECORD_SIZE(identifier, tag, record, size)                                         \
    case BlobChunk::identifier:                                                                              \
        return size;
        NOVA31_BLOB_CHUNKS(NOVA31_BLOB_CHUNK_RECORD_SIZE)
#undef NOVA31_BLOB_CHUNK_RECORD_SIZE
    }
    return 0;
}

namespace {

uint16_t readU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t readU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int chunkPosition(BlobChunk chunk) {
    for (int i = 0; i < kBlobChunkCount; ++i)
        if (kBlobChunkOrder[i] == chunk) return i;
    return -1;
}

} // namespace

// ---- Directory ----

BlobView::BlobView(const void* blob) : bytes_(static_cast<const uint8_t*>(blob)), limit_(kMaxBlobBytes) {
    checkDirectory(false);
}

BlobView::BlobView(const void* blob, size_t size) : bytes_(static_cast<const uint8_t*>(blob)), limit_(size) {
    checkDirectory(true);
}

void BlobView::checkDirectory(bool sizeKnown) {
    if (bytes_ == nullptr) fatalError("Scene blob: no blob");
    if (limit_ < 2) fatalError("Scene blob: shorter than its directory");
    const uint16_t marker = readU16(bytes_);
    if (marker != kBlobChunkCount && marker != kLargeBlobMarker)
        fatalError("Scene blob: the directory does not list nine chunks");
    form_ = marker == kLargeBlobMarker ? BlobForm::large : BlobForm::compact;
    const bool large = form_ == BlobForm::large;
    const uint32_t directoryBytes = large ? kLargeDirectoryBytes : kDirectoryBytes;
    // A large blob read without a size is as long as its directory says.
    if (large && !sizeKnown) limit_ = kMaxLargeBlobBytes;
    if (limit_ < directoryBytes) fatalError("Scene blob: shorter than its directory");
    if (large && readU16(bytes_ + 2) != 0) fatalError("Scene blob: the large directory's gap is not 0");

    // Chunks follow each other in the fixed order, each one starting where the last one's
    // padding ends, so none overlaps another; the end marker's offset is the blob size.
    uint64_t expected = 0;
    for (int i = 0; i < kBlobChunkCount; ++i) {
        Entry& entry = entries_[i];
        if (large) {
            const uint8_t* e = bytes_ + 4 + 12 * i;
            entry = {e[0], e[1], readU32(e + 4), readU32(e + 8)};
            if (readU16(e + 2) != 0) entry.pad = 0xFF; // refused below as damaged
        } else {
            const uint8_t* e = bytes_ + 2 + 6 * i;
            entry = {e[0], e[1], readU16(e + 2), readU16(e + 4)};
        }
        BlobChunk chunk = kBlobChunkOrder[i];
        if (entry.tag != static_cast<uint8_t>(chunk) || entry.pad > 3 || entry.offset != expected ||
            (uint64_t{entry.size} + entry.pad) % 4 != 0)
            fatalErrorFormat("Scene blob: directory entry %d (chunk \"%c\") is damaged", i,
                             static_cast<char>(chunk));
        int recordSize = blobRecordSize(chunk);
        if ((recordSize == 0 && entry.size != 0) || (recordSize > 0 && chunk != BlobChunk::Directory &&
                                                     entry.size % static_cast<uint32_t>(recordSize) != 0))
            fatalErrorFormat("Scene blob: chunk \"%c\" holds %u bytes, not whole records",
                             static_cast<char>(chunk), entry.size);
        expected = uint64_t{entry.offset} + entry.size + entry.pad;
        if (expected > limit_)
            fatalErrorFormat("Scene blob: chunk \"%c\" ends at byte %llu, only %zu are there",
                             static_cast<char>(chunk), static_cast<unsigned long long>(expected), limit_);
    }
    if (entries_[0].size != directoryBytes) fatalError("Scene blob: the directory has the wrong size");
    size_ = static_cast<uint32_t>(expected);
    limit_ = expected;
}

std::vector<uint8_t> BlobView::largeForm() const {
    const uint32_t oldDirectory = entries_[0].size, shift = kLargeDirectoryBytes - oldDirectory;
    std::vector<uint8_t> out(size_ + shift, 0);
    auto put16 = [&](size_t at, uint16_t v) {
        out[at] = static_cast<uint8_t>(v), out[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        put16(at, static_cast<uint16_t>(v)), put16(at + 2, static_cast<uint16_t>(v >> 16));
    };
    put16(0, kLargeBlobMarker);
    for (int i = 0; i < kBlobChunkCount; ++i) {
        const Entry& e = entries_[i];
        const size_t at = 4 + 12 * static_cast<size_t>(i);
        out[at] = e.tag;
        out[at + 1] = e.pad;
        put32(at + 4, i == 0 ? 0 : e.offset + shift);
        put32(at + 8, i == 0 ? static_cast<uint32_t>(kLargeDirectoryBytes) : e.size);
    }
    std::memcpy(out.data() + kLargeDirectoryBytes, bytes_ + oldDirectory + entries_[0].pad,
                size_ - oldDirectory - entries_[0].pad);
    return out;
}

const BlobView::Entry& BlobView::entry(BlobChunk chunk) const {
    int position = chunkPosition(chunk);
    if (position < 0) fatalErrorFormat("Scene blob: no chunk \"%c\"", static_cast<char>(chunk));
    return entries_[position];
}

// ---- Following references ----

int64_t BlobView::targetOffset(const int32_t* field) const {
    const auto* fieldBytes = reinterpret_cast<const uint8_t*>(field);
    if (fieldBytes < bytes_ || fieldBytes + 4 > bytes_ + size_)
        fatalError("Scene blob: a reference field outside the blob");
    int32_t relative;
    std::memcpy(&relative, fieldBytes, 4);
    if (relative == 0) return -1;
    return (fieldBytes - bytes_) + static_cast<int64_t>(relative);
}

const uint8_t* BlobView::follow(const int32_t* field, size_t bytes) const {
    int64_t target = targetOffset(field);
    if (target < 0) return nullptr;
    if (static_cast<uint64_t>(target) + bytes > size_)
        fatalErrorFormat("Scene blob: the reference at offset %td leads outside the blob",
                         reinterpret_cast<const uint8_t*>(field) - bytes_);
    return bytes_ + target;
}

const char* BlobView::text(const int32_t* field) const {
    const uint8_t* target = follow(field);
    if (target == nullptr) return "";
    if (std::memchr(target, 0, static_cast<size_t>(bytes_ + size_ - target)) == nullptr)
        fatalError("Scene blob: a text runs past the end of the blob");
    return reinterpret_cast<const char*>(target);
}

const float* BlobView::floats(const int32_t* field, int count) const {
    const uint8_t* target = follow(field, 4 * static_cast<size_t>(count));
    if (target == nullptr) return nullptr;
    if ((target - bytes_) % 4 != 0) fatalError("Scene blob: float data that is not 4-aligned");
    return reinterpret_cast<const float*>(target);
}

CompactFloatBlock BlobView::floatBlock(const int32_t* field, int32_t count) const {
    CompactFloatBlock block;
    if (count < 0) fatalError("Scene blob: an accessor with a negative count");
    const uint8_t* target = follow(field, static_cast<size_t>(compactFloatBlockBytes(count)));
    if (target == nullptr) return block;
    std::memcpy(&block.minimum, target, 4);
    std::memcpy(&block.maximum, target + 4, 4);
    block.codes = target + 8;
    block.count = count;
    return block;
}

ShortArray BlobView::shorts(const int32_t* field, int32_t count) const {
    ShortArray array;
    if (count < 0) fatalError("Scene blob: an accessor with a negative count");
    const uint8_t* target = follow(field, 2 * static_cast<size_t>(count));
    if (target == nullptr) return array;
    array.bytes = target;
    array.count = count;
    return array;
}

IndexArray BlobView::indices(const PackedAccessor& accessor) const {
    const bool wide = accessor.componentType == kComponentTypeUnsignedInt;
    if ((accessor.componentType != kComponentTypeUnsignedShort && !wide) || accessor.componentCount() != 1 ||
        (wide && form_ != BlobForm::large))
        fatalError(
            "Scene blob: an index list that is neither unsigned short nor, in a large blob, unsigned int");
    if (accessor.count < 0) fatalError("Scene blob: an accessor with a negative count");
    IndexArray array;
    array.width = wide ? 4 : 2;
    const uint8_t* target = follow(&accessor.components[0],
                                   static_cast<size_t>(array.width) * static_cast<size_t>(accessor.count));
    if (target == nullptr) return array;
    array.bytes = target;
    array.count = accessor.count;
    return array;
}

void BlobView::decodeComponent(const PackedAccessor& accessor, int c, float* out, int stride) const {
    if (accessor.componentType != kComponentTypeFloat || c < 0 || c >= accessor.componentCount())
        fatalError("Scene blob: decoding a component that is not a float component");
    CompactFloatBlock block = floatBlock(&accessor.components[c], accessor.count);
    if (block.codes == nullptr) fatalError("Scene blob: a float accessor without data");
    for (int32_t i = 0; i < block.count; ++i) out[static_cast<size_t>(i) * stride + c] = block.value(i);
}
