// libFuzzer target for the image hook's decoders: the first byte picks the file name the
// decoder is chosen by (PNG, JPEG or TGA), the rest is the file. Any file must decode or end in
// the placeholder with a reason, never in a crash, a leak or a read outside its bytes.
#include "scene/image.h"
#include "shader/shader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The texel count a file's header claims, read here without any decoder: PNG's header chunk,
// any JPEG frame header, TGA's header fields; 0 when none is found.
int64_t claimedTexels(const uint8_t* bytes, size_t size) {
    auto big16 = [&](size_t at) { return int64_t{bytes[at]} << 8 | bytes[at + 1]; };
    // Each side at most 2^24 here, so the product stays far inside 64 bits.
    auto texels = [](int64_t width, int64_t height) {
        return std::min<int64_t>(width, 1 << 24) * std::min<int64_t>(height, 1 << 24);
    };
    if (size >= 24 && bytes[0] == 0x89 && bytes[1] == 'P')
        return texels(big16(16) << 16 | big16(18), big16(20) << 16 | big16(22));
    int64_t largest = 0;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) {
        for (size_t at = 0; at + 8 < size; ++at)
            if (bytes[at] == 0xFF && bytes[at + 1] >= 0xC0 && bytes[at + 1] <= 0xCF &&
                bytes[at + 1] != 0xC4 && bytes[at + 1] != 0xC8 && bytes[at + 1] != 0xCC)
                largest = std::max(largest, texels(big16(at + 5), big16(at + 7)));
        return largest;
    }
    if (size >= 18) return texels(int64_t{bytes[13]} << 8 | bytes[12], int64_t{bytes[15]} << 8 | bytes[14]);
    return 0;
}

} // namespace

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
    if (claimedTexels(file, fileSize) > (int64_t{1} << 20)) {
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
