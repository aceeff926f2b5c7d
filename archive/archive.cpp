#include "archive/archive.h"

#include "app/console.h"

#include <minizip/unzip.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// ---- In-memory I/O for the ZIP reader ----

struct MemoryZipStream {
    const std::vector<unsigned char>* image; // the whole file
    uint32_t position;                       // byte offset of the next read
};

voidpf ZCALLBACK memoryOpen(voidpf opaque, const char*, int) {
    return new MemoryZipStream{static_cast<const std::vector<unsigned char>*>(opaque), 0};
}

uLong ZCALLBACK memoryRead(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* cursor = static_cast<MemoryZipStream*>(stream);
    size_t length = cursor->image->size();
    // A position at or past the end (a seek there is allowed) reads nothing.
    if (cursor->position >= length) return 0;
    size_t available = length - cursor->position;
    size_t count = size < available ? static_cast<size_t>(size) : available;
    std::memcpy(buffer, cursor->image->data() + cursor->position, count);
    cursor->position += static_cast<uint32_t>(count);
    return static_cast<uLong>(count);
}

uLong ZCALLBACK memoryWrite(voidpf, voidpf, const void*, uLong) {
    return 0;
}

long ZCALLBACK memoryTell(voidpf, voidpf stream) {
    return static_cast<long>(static_cast<MemoryZipStream*>(stream)->position);
}

long ZCALLBACK memorySeek(voidpf, voidpf stream, uLong offset, int origin) {
    auto* cursor = static_cast<MemoryZipStream*>(stream);
    // Offsets are 32-bit arithmetic on the position; a negative offset arrives as its unsigned form.
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        cursor->position = static_cast<uint32_t>(offset);
        break;
    case ZLIB_FILEFUNC_SEEK_CUR:
        cursor->position += static_cast<uint32_t>(offset);
        break;
    case ZLIB_FILEFUNC_SEEK_END:
        cursor->position = static_cast<uint32_t>(cursor->image->size()) + static_cast<uint32_t>(offset);
        break;
    default:
        break;
    }
    return 0;
}

int ZCALLBACK memoryClose(voidpf, voidpf stream) {
    delete static_cast<MemoryZipStream*>(stream);
    return 0;
}

int ZCALLBACK memoryError(voidpf, voidpf) {
    return 0;
}

// ---- Member walk ----

constexpr size_t kNameBufferBytes = 4000;

// A member's bytes at their final size, not zero-filled: the reader writes every byte before
// the member is delivered.
struct MemberBuffer {
    explicit MemberBuffer(size_t count) : storage(new unsigned char[count > 0 ? count : 1]), length(count) {}
    unsigned char* data() { return storage.get(); }
    size_t size() const { return length; }
    std::unique_ptr<unsigned char[]> storage;
    size_t length;
};

// Reads the current member whole; false when the reader reported an error or the data ended
// early (damage, not a short file: bytes that were never in the archive are not handed out).
bool readCurrentMember(unzFile zip, MemberBuffer& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        size_t remaining = bytes.size() - done;
        unsigned chunk = remaining > 0x40000000u ? 0x40000000u : static_cast<unsigned>(remaining);
        int result = unzReadCurrentFile(zip, bytes.data() + done, chunk);
        if (result < 0) return false;
        if (result == 0) break;
        done += static_cast<size_t>(result);
    }
    return done == bytes.size();
}

} // namespace

bool loadArchive(const char* path, ArchiveMemberSink sink) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "COULD NOT OPEN:%s\n", path);
        return false;
    }
    // Read in 4096-byte chunks straight into the image, reserved up front from the file's length
    // when it can be measured, so the image is not reallocated as it grows.
    std::vector<unsigned char> image;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long length = std::ftell(file);
        if (length > 0) image.reserve(static_cast<size_t>(length));
        std::fseek(file, 0, SEEK_SET);
    }
    constexpr size_t kChunkBytes = 4096;
    for (;;) {
        size_t used = image.size();
        image.resize(used + kChunkBytes);
        size_t got = std::fread(image.data() + used, 1, kChunkBytes, file);
        image.resize(used + got);
        if (got < kChunkBytes) break;
    }
    std::fclose(file);

    if (image.size() > 0xFFFFFFFFu) {
        // Positions are 32-bit; a larger file cannot be walked safely.
        std::fprintf(stderr, "could not open zilfile:%s\n", path);
        return true;
    }

    zlib_filefunc_def io{};
    io.zopen_file = memoryOpen;
    io.zread_file = memoryRead;
    io.zwrite_file = memoryWrite;
    io.ztell_file = memoryTell;
    io.zseek_file = memorySeek;
    io.zclose_file = memoryClose;
    io.zerror_file = memoryError;
    io.opaque = &image;

    unzFile zip = unzOpen2("bah", &io);
    if (zip == nullptr) {
        std::fprintf(stderr, "could not open zilfile:%s\n", path);
        return true;
    }

    char name[kNameBufferBytes];
    unz_file_info info;
    int status = unzGoToFirstFile(zip);
    if (status == UNZ_OK)
        status = unzGetCurrentFileInfo(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    while (status == UNZ_OK) {
        consoleLog("file:%s found\n", name);
        // A recorded size beyond what the compressed data could inflate to is a damaged directory;
        // skip it rather than allocate for it (deflate expands at most about 1032:1).
        bool plausible =
            info.compressed_size <= image.size() &&
            info.uncompressed_size <= static_cast<uint64_t>(info.compressed_size) * 1032u + 1024u;
        if (plausible && unzOpenCurrentFile(zip) == UNZ_OK) {
            MemberBuffer bytes(info.uncompressed_size);
            bool ok = readCurrentMember(zip, bytes);
            // Closing checks the CRC of a completely read member.
            if (unzCloseCurrentFile(zip) != UNZ_OK) ok = false;
            if (ok) {
                consoleLog("put to system!");
                sink(name, static_cast<uint32_t>(bytes.size()), bytes.data());
            }
        }
        status = unzGoToNextFile(zip);
        if (status == UNZ_OK)
            status = unzGetCurrentFileInfo(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    }
    unzClose(zip);
    return true;
}
