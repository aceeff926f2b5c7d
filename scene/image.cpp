#include "scene/image.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <stb/stb_image.h>

#include "app/console.h"
#include "shader/shader.h"
#include "store/store.h"

namespace {

// Larger images are refused: their mip chains would not fit the memory a demo can expect. The
// texel budget (64 MiB of level 0, 85 MiB with the mips) also bounds what a few bytes of a
// compressed file may claim: a 21-byte header announcing 12654 x 9738 texels would otherwise
// allocate over a gigabyte and decode for seconds.
constexpr int kMaxImageSide = 16384;
constexpr int64_t kMaxImageTexels = int64_t{4096} * 4096;
constexpr const char* kLoadedImageSuffix = "_loadedimage";
constexpr uint32_t kTextureVariableBytes = 64;

enum class ImageKind { none, stbImage, tga };

ImageKind imageKind(const char* name) {
    for (const char* extension : {".jpg", ".jpeg", ".png"}) {
        if (std::strstr(name, extension) != nullptr) return ImageKind::stbImage;
    }
    if (std::strstr(name, ".tga") != nullptr) return ImageKind::tga;
    return ImageKind::none;
}

uint32_t packTexel(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return a << 24 | r << 16 | g << 8 | b;
}

// Fresh record of w x h with zeroed storage for the whole mip chain; every other field 0.
void initialiseTexture(TextureRecord* texture, int width, int height) {
    std::memset(texture, 0, sizeof *texture);
    texture->width = width;
    texture->height = height;
    texture->uploadWidth = width;
    texture->uploadHeight = height;
    size_t texels = mipChainTexelCount(width, height);
    texture->pixels = static_cast<uint32_t*>(std::calloc(texels, sizeof(uint32_t)));
    if (texture->pixels == nullptr) fatalErrorFormat("Out of memory for a %d x %d texture", width, height);
}

void makePlaceholder(TextureRecord* texture) {
    initialiseTexture(texture, kPlaceholderSize, kPlaceholderSize);
    for (int y = 0; y < kPlaceholderSize; ++y) {
        for (int x = 0; x < kPlaceholderSize; ++x)
            texture->pixels[y * kPlaceholderSize + x] = placeholderTexel(x, y);
    }
}

bool sizeAcceptable(int width, int height, std::string* problem) {
    if (width <= 0 || height <= 0) {
        *problem = "image has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")";
        return false;
    }
    if (width > kMaxImageSide || height > kMaxImageSide || int64_t{width} * height > kMaxImageTexels) {
        *problem = "image is too large (" + std::to_string(width) + " x " + std::to_string(height) + ")";
        return false;
    }
    return true;
}

// ---- PNG and JPEG through stb_image ----

// stb_image picks its decoder by the content (TGA, BMP, GIF, PSD, ... as well), whatever the
// name says; only PNG and JPEG files are handed to it.
bool hasPngOrJpegSignature(const uint8_t* bytes, size_t size) {
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    static const uint8_t jpeg[3] = {0xFF, 0xD8, 0xFF};
    return (size >= sizeof png && std::memcmp(bytes, png, sizeof png) == 0) ||
           (size >= sizeof jpeg && std::memcmp(bytes, jpeg, sizeof jpeg) == 0);
}

// stb_image 2.27 builds a Huffman table from its 16 code counts without checking that they add
// up to at most 256 symbols, and then writes past the table. Its "define Huffman tables"
// segments are checked here first, read the way stb reads them. A damaged segment before one can
// make stb find markers elsewhere than the segment lengths say, so every 0xFF 0xC4 of the file
// is taken for such a segment: a sound file has that pair nowhere else (its entropy-coded data
// stuffs every 0xFF with a zero). False when some table claims more than 256 codes.
bool jpegHuffmanTablesFit(const uint8_t* bytes, size_t size) {
    // Past the end of the file stb reads zeros.
    auto byteAt = [&](size_t at) -> unsigned { return at < size ? bytes[at] : 0u; };
    for (size_t marker = 0; marker + 1 < size; ++marker) {
        if (bytes[marker] != 0xFF || bytes[marker + 1] != 0xC4) continue;
        size_t at = marker + 2;
        long remaining = static_cast<long>(byteAt(at) << 8 | byteAt(at + 1)) - 2;
        at += 2;
        while (remaining > 0 && at < size) {
            unsigned symbols = 0;
            for (size_t i = 1; i <= 16; ++i) symbols += byteAt(at + i);
            if (symbols > 256) return false;
            at += 17 + symbols;
            remaining -= 17 + static_cast<long>(symbols);
        }
    }
    return true;
}

// stb_image gives a PNG's image data chunk memory for the length it declares before reading
// it, so a few bytes declaring 2 GiB take 2 GiB. Every chunk's data must lie in the file.
bool pngChunksInsideFile(const uint8_t* bytes, size_t size) {
    constexpr size_t kSignatureBytes = 8;
    for (size_t at = kSignatureBytes; at + 8 <= size;) {
        size_t length = static_cast<size_t>(bytes[at]) << 24 | static_cast<size_t>(bytes[at + 1]) << 16 |
                        static_cast<size_t>(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length > size - at - 8) return false;
        if (std::memcmp(bytes + at + 4, "IEND", 4) == 0) break;
        at += 12 + length; // length, type, data, CRC
    }
    return true;
}

bool decodeWithStb(const uint8_t* bytes, size_t size, TextureRecord* texture, std::string* problem) {
    if (size > static_cast<size_t>(INT32_MAX)) {
        *problem = "file is too large";
        return false;
    }
    if (!hasPngOrJpegSignature(bytes, size)) {
        *problem = "not a PNG or JPEG file";
        return false;
    }
    if (bytes[0] == 0xFF && !jpegHuffmanTablesFit(bytes, size)) {
        *problem = "corrupt JPEG: a Huffman table of more than 256 codes";
        return false;
    }
    if (bytes[0] != 0xFF && !pngChunksInsideFile(bytes, size)) {
        *problem = "corrupt PNG: a chunk runs past the end of the file";
        return false;
    }
    int length = static_cast<int>(size);
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(bytes, length, &width, &height, &channels)) {
        *problem = std::string("cannot decode: ") + stbi_failure_reason();
        return false;
    }
    if (!sizeAcceptable(width, height, problem)) return false;
    unsigned char* decoded = stbi_load_from_memory(bytes, length, &width, &height, &channels, 4);
    if (decoded == nullptr) {
        *problem = std::string("cannot decode: ") + stbi_failure_reason();
        return false;
    }
    initialiseTexture(texture, width, height);
    size_t count = static_cast<size_t>(width) * height;
    bool transparent = false;
    for (size_t i = 0; i < count; ++i) {
        const unsigned char* p = decoded + 4 * i;
        texture->pixels[i] = packTexel(p[0], p[1], p[2], p[3]);
        transparent |= p[3] < 254;
    }
    texture->hasTransparency = transparent;
    stbi_image_free(decoded);
    return true;
}

// ---- TGA ----

// Header fields of an uncompressed true-colour TGA file.
struct TgaHeader {
    uint8_t idLength;         // bytes of image ID after the 18-byte header
    uint8_t colourMapType;    // 0 none, 1 present (skipped for true-colour images)
    uint8_t imageType;        // 2: uncompressed true-colour
    uint16_t colourMapLength; // entries
    uint8_t colourMapBits;    // bits per entry
    int16_t width;
    int16_t height;
    uint8_t bitsPerPixel;
    uint8_t descriptor; // bit 5: rows start at the top
};

constexpr size_t kTgaHeaderBytes = 18;
constexpr uint8_t kTgaTopLeftOrigin = 0x20;

uint16_t readU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

TgaHeader parseTgaHeader(const uint8_t* bytes) {
    TgaHeader h{};
    h.idLength = bytes[0];
    h.colourMapType = bytes[1];
    h.imageType = bytes[2];
    h.colourMapLength = readU16(bytes + 5);
    h.colourMapBits = bytes[7];
    h.width = static_cast<int16_t>(readU16(bytes + 12));
    h.height = static_cast<int16_t>(readU16(bytes + 14));
    h.bitsPerPixel = bytes[16];
    h.descriptor = bytes[17];
    return h;
}

bool decodeTga(const uint8_t* bytes, size_t size, TextureRecord* texture, std::string* problem) {
    if (size < kTgaHeaderBytes) {
        *problem = "truncated TGA header (" + std::to_string(size) + " bytes)";
        return false;
    }
    TgaHeader h = parseTgaHeader(bytes);
    if (h.imageType != 2) {
        *problem = "unsupported TGA image type " + std::to_string(h.imageType) +
                   " (only uncompressed true-colour, 2)";
        return false;
    }
    if (h.bitsPerPixel != 24 && h.bitsPerPixel != 32) {
        *problem = "unsupported TGA depth of " + std::to_string(h.bitsPerPixel) + " bits (only 24 and 32)";
        return false;
    }
    if (!sizeAcceptable(h.width, h.height, problem)) return false;
    size_t colourMapBytes =
        h.colourMapType != 0 ? static_cast<size_t>(h.colourMapLength) * ((h.colourMapBits + 7) / 8) : 0;
    size_t start = kTgaHeaderBytes + h.idLength + colourMapBytes;
    size_t bytesPerPixel = h.bitsPerPixel / 8;
    size_t rowBytes = static_cast<size_t>(h.width) * bytesPerPixel;
    size_t needed = start + rowBytes * h.height;
    if (size < needed) {
        *problem =
            "truncated TGA pixel data (" + std::to_string(size) + " of " + std::to_string(needed) + " bytes)";
        return false;
    }
    initialiseTexture(texture, h.width, h.height);
    bool topFirst = (h.descriptor & kTgaTopLeftOrigin) != 0;
    bool transparent = false;
    for (int row = 0; row < h.height; ++row) {
        int sourceRow = topFirst ? row : h.height - 1 - row;
        const uint8_t* source = bytes + start + rowBytes * sourceRow;
        uint32_t* destination = texture->pixels + static_cast<size_t>(row) * h.width;
        for (int x = 0; x < h.width; ++x) {
            const uint8_t* p = source + bytesPerPixel * x; // stored blue, green, red (, alpha)
            uint32_t alpha = bytesPerPixel == 4 ? p[3] : 255;
            destination[x] = packTexel(p[2], p[1], p[0], alpha);
            transparent |= alpha < 255;
        }
    }
    texture->hasTransparency = transparent;
    return true;
}

// The Variable that holds the texture of `file`: the one its link already names, else a new one.
Variable* textureVariableFor(Variable* file) {
    std::string name = std::string(file->name) + kLoadedImageSuffix;
    if (file->replacement != nullptr && name == file->replacement->name) return file->replacement;
    if (name.size() > kMaxVariableNameLength) return nullptr;
    Variable* texture = appendVariable(name.c_str(), kTextureVariableBytes);
    file->replacement = texture;
    return texture;
}

} // namespace

size_t mipChainTexelCount(int width, int height) {
    size_t total = 0;
    for (int w = width, h = height; w > 0 && h > 0; w /= 2, h /= 2) {
        total += static_cast<size_t>(w) * h;
        if (w <= 1) break;
    }
    return total;
}

uint32_t placeholderTexel(int x, int y) {
    bool light = ((x / 4) + (y / 4)) % 2 == 0;
    return light ? 0xFFFF00FFu : 0xFF404040u;
}

bool decodeImage(const char* name, const uint8_t* bytes, size_t size, TextureRecord* texture,
                 std::string* problem) {
    ImageKind kind = imageKind(name);
    bool decoded = false;
    if (kind == ImageKind::stbImage)
        decoded = decodeWithStb(bytes, size, texture, problem);
    else if (kind == ImageKind::tga)
        decoded = decodeTga(bytes, size, texture, problem);
    else
        *problem = "not an image name";
    if (!decoded) makePlaceholder(texture);
    return decoded;
}

Variable* imageHookDecode(Variable* file, void*) {
    if (file == nullptr || imageKind(file->name) == ImageKind::none) return file;
    Variable* textureVariable = textureVariableFor(file);
    if (textureVariable == nullptr) {
        consoleLog("Image %s: name too long for its texture; not decoded\n", file->name);
        return file;
    }
    auto* texture = static_cast<TextureRecord*>(variableData(textureVariable));
    // The file decoded again (its Variable re-put): the texels of the last decode go first.
    std::free(texture->pixels);
    texture->pixels = nullptr;
    auto* bytes = static_cast<const uint8_t*>(variableData(file));
    std::string problem;
    if (!decodeImage(file->name, bytes, file->dataSize, texture, &problem))
        consoleLog("Image %s: %s; showing a placeholder texture\n", file->name, problem.c_str());
    return file;
}

void installImageHook() {
    setImageHook(imageHookDecode);
}
