#include "store/store.h"

#include "app/console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {

// ---- The region ----

// Zero-initialised and reserved statically, so Variables made by other static initialisers
// find it ready whatever the order of initialisation.
alignas(16) unsigned char storeRegion[kStoreRegionBytes];
size_t storeEnd = 0; // offset of the first free slot

Variable* findVariable(const char* name) {
    size_t offset = 0;
    while (offset < storeEnd) {
        Variable* v = reinterpret_cast<Variable*>(storeRegion + offset);
        if (std::strcmp(v->name, name) == 0) return v;
        offset += v->stride;
    }
    return nullptr;
}

Variable* passThroughImageHook(Variable* file, void*) {
    return file;
}
ImageHook installedImageHook = passThroughImageHook;

// ---- Files ----

// A block for a file's bytes plus the one zero byte that always follows them.
unsigned char* allocateFileBytes(const char* name, uint32_t size) {
    auto* bytes = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size) + 1));
    if (bytes == nullptr) fatalErrorFormat("Variable store: out of memory storing %s", name);
    bytes[size] = 0;
    return bytes;
}

// Appends a file Variable over `bytes` (size bytes, zero-terminated, now owned by the store) and
// runs the image hook on it.
Variable* appendFileVariable(const char* name, uint32_t size, unsigned char* bytes) {
    Variable* v = appendVariable(name, 0);
    v->dataSize = size;
    v->externalData = bytes;
    return imageHook(v, nullptr);
}

std::string fileNameFromIdentifier(const char* name) {
    std::string result;
    const char* cursor = name;
    while (*cursor != '\0') {
        if (std::strncmp(cursor, "_DOT_", 5) == 0) {
            result += '.';
            cursor += 5;
        } else {
            result += *cursor++;
        }
    }
    return result;
}

Variable* loadFileVariable(const char* name) {
    if (std::strchr(name, '.') == nullptr) return nullptr;
    FILE* file = std::fopen(name, "rb");
    if (file == nullptr) return nullptr;
    // Only regular files: a directory opens for reading here but has no bytes to measure.
    struct stat status;
    long length = -1;
    if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && std::fseek(file, 0, SEEK_END) == 0)
        length = std::ftell(file);
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file); // a directory or a pipe: not a loadable file
        return nullptr;
    }
    if (static_cast<unsigned long>(length) > 0xFFFFFFF0ul) {
        std::fclose(file);
        fatalErrorFormat("Variable store: file %s is too large (%ld bytes)", name, length);
    }
    unsigned char* bytes = allocateFileBytes(name, static_cast<uint32_t>(length));
    size_t read = std::fread(bytes, 1, static_cast<size_t>(length), file);
    std::fclose(file);
    if (read != static_cast<size_t>(length)) {
        std::free(bytes);
        fatalErrorFormat("Variable store: could not read %s (%zu of %ld bytes)", name, read, length);
    }
    bytes[length] = 0;
    return appendFileVariable(name, static_cast<uint32_t>(length), bytes);
}

} // namespace

// ---- Operations ----

Variable* appendVariable(const char* name, uint32_t size) {
    if (name == nullptr || name[0] == '\0') fatalError("Variable store: a Variable needs a name");
    size_t nameLength = std::strlen(name);
    if (nameLength > kMaxVariableNameLength) {
        fatalErrorFormat("Variable store: name \"%.40s...\" is %zu characters long; at most %zu fit", name,
                         nameLength, kMaxVariableNameLength);
    }
    size_t total = (sizeof(Variable) + static_cast<size_t>(size) + 15) & ~static_cast<size_t>(15);
    if (total > kStoreRegionBytes - storeEnd || total > 0xFFFFFFFFu) {
        fatalErrorFormat("Variable store: no room for %s (%u bytes); %zu of %zu bytes are in use", name, size,
                         storeEnd, kStoreRegionBytes);
    }
    Variable* v = reinterpret_cast<Variable*>(storeRegion + storeEnd);
    std::memcpy(v->name, name, nameLength + 1);
    v->stride = static_cast<uint32_t>(total);
    v->dataSize = size;
    v->replacement = nullptr;
    v->externalData = nullptr;
    storeEnd += total;
    return v;
}

Variable* getVariable(const char* name, uint32_t size, VariableInit init, void* initArgument) {
    if (Variable* found = findVariable(name)) return found;
    if (size > 0) {
        Variable* created = appendVariable(name, size);
        return init != nullptr ? init(created, initArgument) : created;
    }
    if (std::strncmp(name, "file_", 5) == 0) {
        std::string fileName = fileNameFromIdentifier(name + 5);
        if (!fileName.empty())
            if (Variable* file = getVariable(fileName.c_str(), 0)) return file;
    }
    return loadFileVariable(name);
}

Variable* putFileVariable(const char* name, uint32_t size, const void* bytes) {
    unsigned char* copy = allocateFileBytes(name, size);
    if (size > 0) std::memcpy(copy, bytes, size);
    return appendFileVariable(name, size, copy);
}

Variable* currentVariable(Variable* v) {
    while (v != nullptr && v->replacement != nullptr) v = v->replacement;
    return v;
}

void* variableData(Variable* v) {
    return v->externalData != nullptr ? v->externalData : v->inlineData();
}

void setImageHook(ImageHook hook) {
    installedImageHook = hook != nullptr ? hook : passThroughImageHook;
}

Variable* imageHook(Variable* file, void* argument) {
    return installedImageHook(file, argument);
}

size_t storeBytesUsed() {
    return storeEnd;
}
