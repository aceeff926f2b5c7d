#include "archive/archive.h"

#include "app/console.h"

#include <minizip/unzip.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

namespace {

// ---- Limits ----
// The shipped file is about 3.2 MB; these leave room for far larger scenes and tunes while
// keeping a damaged or hostile file from taking the machine's memory.
constexpr uint64_t kMaxImageBytes = uint64_t{256} << 20;     // the whole file read into memory
constexpr uint64_t kMaxMemberBytes = uint64_t{64} << 20;     // one member's uncompressed size
constexpr uint64_t kMaxDeliveredBytes = uint64_t{256} << 20; // all members handed to the sink

// ---- In-memory I/O for the ZIP reader ----

struct SourceImage {
    const unsigned char* bytes; // the whole file
    size_t size;
};

struct MemoryZipStream {
    const SourceImage* image;
    uint32_t position; // byte offset of the next read
};

voidpf ZCALLBACK memoryOpen(voidpf opaque, const char*, int) {
    return new (std::nothrow) MemoryZipStream{static_cast<const SourceImage*>(opaque), 0};
}

uLong ZCALLBACK memoryRead(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* cursor = static_cast<MemoryZipStream*>(stream);
    size_t length = cursor->image->size;
    // A position at or past the end (a seek there is allowed) reads nothing.
    if (cursor->position >= length) return 0;
    size_t available = length - cursor->position;
    size_t count = size < available ? static_cast<size_t>(size) : available;
    std::memcpy(buffer, cursor->image->bytes + cursor->position, count);
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
        cursor->position = static_cast<uint32_t>(cursor->image->size) + static_cast<uint32_t>(offset);
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

// ---- Reading the file ----

// The whole file at its real size, or nothing when it is not a regular file, is too large or
// cannot be held; each refusal prints why. Null with `opened` false: fopen itself failed.
std::unique_ptr<unsigned char[]> readImage(const char* path, size_t& size, bool& opened) {
    size = 0;
    opened = true;
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::status(path, error);
    // A directory, a FIFO or a device has no archive to read (and fopen of a FIFO would block).
    if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        consoleLog("archive %s is not a regular file\n", path);
        return nullptr;
    }
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        opened = false;
        return nullptr;
    }
    uintmax_t length = std::filesystem::file_size(path, error);
    std::unique_ptr<unsigned char[]> image;
    if (error) {
        consoleLog("archive %s: its size cannot be measured\n", path);
    } else if (length > kMaxImageBytes) {
        consoleLog("archive %s is %ju bytes, more than the %ju an archive may hold\n", path, length,
                   static_cast<uintmax_t>(kMaxImageBytes));
    } else {
        image.reset(new (std::nothrow) unsigned char[length > 0 ? length : 1]);
        if (image == nullptr)
            consoleLog("archive %s: out of memory for its %ju bytes\n", path, length);
        else
            size = std::fread(image.get(), 1, static_cast<size_t>(length), file); // less if it shrank
    }
    std::fclose(file);
    return image;
}

// ---- Member walk ----

constexpr size_t kNameBufferBytes = 4000;

// Reads the current member whole; false when the reader reported an error or the data ended
// early (damage, not a short file: bytes that were never in the archive are not handed out).
bool readCurrentMember(unzFile zip, unsigned char* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        size_t remaining = size - done;
        unsigned chunk = remaining > 0x40000000u ? 0x40000000u : static_cast<unsigned>(remaining);
        int result = unzReadCurrentFile(zip, bytes + done, chunk);
        if (result < 0) return false;
        if (result == 0) break;
        done += static_cast<size_t>(result);
    }
    return done == size;
}

// Why a member is not even opened, or null when it may be read.
const char* memberRefusal(const unz_file_info& info, size_t imageSize, uint64_t delivered) {
    if (info.uncompressed_size > kMaxMemberBytes) return "more than a member may hold";
    if (delivered + info.uncompressed_size > kMaxDeliveredBytes)
        return "more than the archive may still deliver";
    // A recorded size beyond what the compressed data could inflate to is a damaged directory
    // (deflate expands at most about 1032:1).
    if (info.compressed_size > imageSize ||
        info.uncompressed_size > static_cast<uint64_t>(info.compressed_size) * 1032u + 1024u)
        return "more than its compressed data can hold";
    return nullptr;
}

} // namespace

void walkArchiveImage(const void* bytes, size_t size, const char* path, const ArchiveMemberSink& sink) {
    if (size > 0xFFFFFFFFu) {
        // Positions are 32-bit; a larger image cannot be walked safely.
        std::fprintf(stderr, "could not open zilfile:%s\n", path);
        return;
    }
    SourceImage image{static_cast<const unsigned char*>(bytes), size};
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
        return;
    }

    char name[kNameBufferBytes];
    unz_file_info info;
    uint64_t delivered = 0; // bytes handed to the sink so far
    int status = unzGoToFirstFile(zip);
    if (status == UNZ_OK)
        status = unzGetCurrentFileInfo(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    for (int index = 0; status == UNZ_OK; ++index) {
        // The reader leaves a name that fills the buffer unterminated.
        if (info.size_filename >= kNameBufferBytes) {
            consoleLog("member %d: its name of %lu bytes is too long; skipped\n", index, info.size_filename);
        } else {
            consoleLog("file:%s found\n", name);
            if (const char* refusal = memberRefusal(info, size, delivered)) {
                consoleLog("file:%s claims %lu bytes, %s; skipped\n", name, info.uncompressed_size, refusal);
            } else if (unzOpenCurrentFile(zip) == UNZ_OK) {
                std::unique_ptr<unsigned char[]> member(new (
                    std::nothrow) unsigned char[info.uncompressed_size > 0 ? info.uncompressed_size : 1]);
                bool ok = member != nullptr && readCurrentMember(zip, member.get(), info.uncompressed_size);
                if (member == nullptr)
                    consoleLog("file:%s: out of memory for %lu bytes; skipped\n", name,
                               info.uncompressed_size);
                // Closing checks the CRC of a completely read member.
                if (unzCloseCurrentFile(zip) != UNZ_OK) ok = false;
                if (ok) {
                    consoleLog("put to system!");
                    delivered += info.uncompressed_size;
                    sink(name, static_cast<uint32_t>(info.uncompressed_size), member.get());
                }
            }
        }
        status = unzGoToNextFile(zip);
        if (status == UNZ_OK)
            status = unzGetCurrentFileInfo(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    }
    unzClose(zip);
}

bool loadArchive(const char* path, ArchiveMemberSink sink) {
    size_t size = 0;
    bool opened = true;
    std::unique_ptr<unsigned char[]> image = readImage(path, size, opened);
    if (!opened) {
        std::fprintf(stderr, "COULD NOT OPEN:%s\n", path);
        return false;
    }
    if (image == nullptr)
        std::fprintf(stderr, "could not open zilfile:%s\n", path);
    else
        walkArchiveImage(image.get(), size, path, sink);
    return true;
}
