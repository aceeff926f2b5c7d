// gltf2blob FILE [LISTING.csv]: packs a .gltf or .glb file the way the demo does, writes the
// blob to "gltf.expbin" in the working directory and its annotated byte listing (by default
// beside the blob, named after the input), and prints what the blob holds and in which form
// (compact, or large for scenes past 65535 bytes; the listing of a large blob says so in its
// first line). External buffers
// are looked for beside the input file. A file the packer rejects ends with its message and
// exit status 255. A file whose JSON text is not valid (empty, cut off, a .glb with a bad magic)
// is packed as far as it was read, as the demo does, but the tool says so and exits with status
// 1, so that a build script notices.
#include "app/console.h"
#include "scene/blob.h"
#include "scene/gltf_pack.h"
#include "store/store.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<char> readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fatalErrorFormat("gltf2blob: cannot open %s", path.string().c_str());
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) fatalErrorFormat("gltf2blob: cannot read %s", path.string().c_str());
    return bytes;
}

// Buffers named relative to the document are registered under their URI, as the archive
// registers its members, so the packer finds them wherever the tool runs.
void registerBuffersBeside(const std::filesystem::path& input, const std::vector<char>& bytes) {
    for (const std::string& uri : gltfExternalBufferUris(bytes.data(), bytes.size())) {
        std::filesystem::path beside = input.parent_path() / uri;
        std::error_code error;
        if (!std::filesystem::is_regular_file(beside, error)) continue;
        std::vector<char> buffer = readWholeFile(beside);
        if (buffer.size() > 0xFFFFFFF0u)
            fatalErrorFormat("gltf2blob: %s is too large", beside.string().c_str());
        putFileVariable(uri.c_str(), static_cast<uint32_t>(buffer.size()), buffer.data());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: gltf2blob FILE [LISTING.csv]\n");
        return 2;
    }
    std::filesystem::path input = argv[1];
    std::string listing = argc == 3 ? argv[2] : input.stem().string() + ".csv";

    std::vector<char> bytes = readWholeFile(input);
    registerBuffersBeside(input, bytes);
    int size = 0;
    bool complete = false;
    void* blob = loadGLTFChecked(bytes.data(), bytes.size(), &size, listing.c_str(), nullptr, &complete);

    BlobView view(blob, static_cast<size_t>(size));
    std::printf("%s: %zu nodes, %zu primitives, %zu accessors, %zu channels, %zu materials, %zu lights, "
                "%u bytes, %s form\n",
                input.filename().string().c_str(), view.nodes().size(), view.primitives().size(),
                view.accessors().size(), view.channels().size(), view.materials().size(),
                view.lights().size(), view.size(), view.form() == BlobForm::large ? "large" : "compact");
    std::printf("wrote gltf.expbin and %s\n", listing.c_str());
    std::free(blob);
    if (!complete) {
        std::fprintf(stderr,
                     "gltf2blob: %s is not a valid glTF document; the blob holds only what was read\n",
                     input.string().c_str());
        return 1;
    }
    return 0;
}
