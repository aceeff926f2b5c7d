// libFuzzer target for the image hook's decoders: the first byte picks the file name the
// decoder is chosen by (PNG, JPEG or TGA), the rest is the file. Any file must decode or end in
// the placeholder with a reason, never in a crash, a leak or a read outside its bytes.
#include "scene/image.h"
#include "shader/shader.h"

#include <stb/stb_image.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const names[] = {"fuzz.png", "fuzz.jpg", "fuzz.tga"};
    const char* name = names[data[0] % 3];
    // A copy of exactly the file's size, so a read past its end is caught.
    size_t fileSize = size - 1;
    auto* file = static_cast<uint8_t*>(std::malloc(fileSize > 0 ? fileSize : 1));
    if (fileSize > 0) std::memcpy(file, data + 1, fileSize);
    // Images of more than a million texels decode for a long time under the sanitizers and
    // teach the fuzzer nothing new about the parsers; their limits have unit tests.
    int width = 0, height = 0, channels = 0;
    if (fileSize <= 0x7FFFFFFF &&
        stbi_info_from_memory(file, static_cast<int>(fileSize), &width, &height, &channels) &&
        static_cast<int64_t>(width) * height > (int64_t{1} << 20)) {
        std::free(file);
        return 0;
    }
    TextureRecord texture{};
    std::string problem;
    bool decoded = decodeImage(name, file, fileSize, &texture, &problem);
    if (texture.pixels == nullptr || texture.width <= 0 || texture.height <= 0) std::abort();
    if (!decoded && (problem.empty() || texture.width != kPlaceholderSize)) std::abort();
    // Every texel of level 0 was written: reading them all must stay inside the allocation.
    uint32_t sum = 0;
    for (size_t i = 0; i < static_cast<size_t>(texture.width) * static_cast<size_t>(texture.height); ++i)
        sum += texture.pixels[i];
    std::free(texture.pixels);
    std::free(file);
    return static_cast<int>(sum & 0);
}
