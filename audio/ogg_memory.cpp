#include "audio/ogg_memory.h"

#include <cstdio>
#include <cstring>

size_t oggMemoryRead(void* buffer, size_t size, size_t count, void* source) {
    auto* file = static_cast<OggMemoryFile*>(source);
    if (size == 0 || file->readPos < 0 || file->readPos >= file->fileSize) return 0;
    size_t available = static_cast<size_t>(file->fileSize - file->readPos);
    size_t items = available / size < count ? available / size : count;
    std::memcpy(buffer, file->fileData + file->readPos, items * size);
    file->readPos += static_cast<int32_t>(items * size);
    return items;
}

// Positions outside 0..fileSize are refused, so the cursor always points into the file.
int oggMemorySeek(void* source, ogg_int64_t offset, int whence) {
    auto* file = static_cast<OggMemoryFile*>(source);
    int64_t base = 0;
    switch (whence) {
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = file->readPos;
        break;
    case SEEK_END:
        base = file->fileSize;
        break;
    default:
        return -1;
    }
    if (offset < -file->fileSize || offset > file->fileSize) return -1;
    int64_t position = base + offset;
    if (position < 0 || position > file->fileSize) return -1;
    file->readPos = static_cast<int32_t>(position);
    return 0;
}

int oggMemoryClose(void* source) {
    static_cast<OggMemoryFile*>(source)->readPos = 0;
    return 0;
}

long oggMemoryTell(void* source) {
    auto* file = static_cast<OggMemoryFile*>(source);
    if (file->readPos < 0) return 0;
    return file->readPos < file->fileSize ? file->readPos : file->fileSize;
}

ov_callbacks oggMemoryCallbacks() {
    return {oggMemoryRead, oggMemorySeek, oggMemoryClose, oggMemoryTell};
}
