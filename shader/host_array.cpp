// Host arrays of buffer records: one growth rule and one owner for every module that fills them.
#include "shader/shader_source.h"

#include "app/console.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace {

// Arrays growHostArray made and has not freed. Packed buffer records keep their pointers at
// unaligned offsets, where leak checkers do not look; this set holds them where they do.
std::unordered_set<void*>& ownedHostArrays() {
    // Never destroyed: static destructors run before the leak check at exit, and a destroyed
    // set would show every array it held as lost.
    static auto* arrays = new std::unordered_set<void*>;
    return *arrays;
}

} // namespace

void growHostArray(BufferRecord* buffer, int32_t count, int32_t elementSize) {
    if (count < 0) fatalErrorFormat("growHostArray: negative element count %d", count);
    if (buffer->elementSize == 0) buffer->elementSize = elementSize;
    const bool needed = buffer->hostCapacity < count || (buffer->hostData == nullptr && count > 0);
    if (needed) {
        const size_t bytes =
            static_cast<size_t>(count) * static_cast<size_t>(std::max(buffer->elementSize, elementSize));
        void* grown = std::calloc(1, bytes);
        if (grown == nullptr)
            fatalErrorFormat("Out of memory for a host array of %d elements of %d bytes", count,
                             std::max(buffer->elementSize, elementSize));
        if (buffer->hostData != nullptr && buffer->hostCapacity > 0) {
            const size_t kept =
                std::min(bytes, static_cast<size_t>(buffer->hostCapacity) * buffer->elementSize);
            std::memcpy(grown, buffer->hostData, kept);
        }
        freeHostArray(buffer);
        buffer->hostData = grown;
        buffer->hostCapacity = count;
        ownedHostArrays().insert(grown);
    }
    buffer->elementCount = count;
    buffer->pending = count;
}

void freeHostArray(BufferRecord* buffer) {
    // A copy: the packed record's pointer is not aligned, and erase takes its key by reference.
    void* data = buffer->hostData;
    if (ownedHostArrays().erase(data) == 0) return;
    std::free(buffer->hostData);
    buffer->hostData = nullptr;
    buffer->hostCapacity = 0;
}
