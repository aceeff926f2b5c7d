// loadGLTF and its variants: the packer's passes (gltf_pack_parts.h) strung together.
#include "scene/gltf_pack.h"

#include "app/console.h"
#include "scene/gltf_pack_parts.h"
#include "store/store.h"

using namespace gltfpack;

void* loadGLTF(const void* data, size_t size, int* outSize, const char* csvPath,
               std::vector<std::string>* outUris) {
    return loadGLTFChecked(data, size, outSize, csvPath, outUris, nullptr);
}

void* loadGLTFChecked(const void* data, size_t size, int* outSize, const char* csvPath,
                      std::vector<std::string>* outUris, bool* textComplete) {
    PackInput input;
    GLTFMain document;
    bool complete = readInput(data, size, input, document, true);
    if (textComplete != nullptr) *textComplete = complete;
    fetchBuffers(document, input);
    applySparseAccessors(document, input);
    Validation validation = validateDocument(document, input);
    for (const std::string& note : validation.notes) consoleLog("%s", note.c_str());
    if (!validation.problem.empty()) fatalError(validation.problem.c_str());
    Plan plan = planDocument(document, input);
    WrittenBlob written = writeBlob(document, plan, csvPath != nullptr, outUris);
    if (outSize != nullptr) *outSize = static_cast<int>(written.size);
    if (csvPath != nullptr) writeDump(written, csvPath);
    return written.blob;
}

void* loadGLTFVariable(Variable* v, int* outSize) {
    if (v == nullptr || v->dataSize == 0) return nullptr;
    ByteSpan document = fileBytes(v);
    return loadGLTF(document.data, document.size, outSize, nullptr, nullptr);
}

std::vector<std::string> gltfExternalBufferUris(const void* data, size_t size) {
    PackInput input;
    GLTFMain document;
    readInput(data, size, input, document, false);
    std::vector<std::string> uris;
    for (const GLTFBuffer& buffer : document.buffers)
        if (!buffer.uri.empty() && !isDataUri(buffer.uri)) uris.push_back(buffer.uri);
    return uris;
}
