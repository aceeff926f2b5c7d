// libFuzzer target for the archive reader: any file image (a prefix, then perhaps a ZIP) must
// be walked to its end without a crash, a leak or an out-of-bounds access, and every member
// delivered must be whole: a terminated name and exactly the byte count it claims.
#include "archive/archive.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so a read past the image is caught.
    auto* image = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
    if (size > 0) std::memcpy(image, data, size);
    uint32_t checksum = 0;
    walkArchiveImage(image, size, "fuzz.zip", [&](const char* name, uint32_t count, const void* bytes) {
        if (std::strlen(name) >= 4000) std::abort();
        const auto* member = static_cast<const uint8_t*>(bytes);
        for (uint32_t i = 0; i < count; ++i) checksum += member[i];
    });
    std::free(image);
    return static_cast<int>(checksum & 0);
}
