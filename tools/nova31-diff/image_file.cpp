#include "tools/nova31-diff/image_file.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#include <zlib.h>

namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// Walks the chunks after the signature: each must be whole and match its CRC, up to IEND. The
// decoder checks neither, so a cut or damaged file could otherwise pass as a different image.
// Returns an empty string when the file is sound, else what is wrong with it.
std::string checkChunks(const std::vector<unsigned char>& bytes) {
    auto be32 = [&](size_t at) {
        return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
               static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
    };
    size_t at = sizeof kPngSignature;
    while (true) {
        if (bytes.size() - at < 12)
            return "truncated: ends at byte " + std::to_string(bytes.size()) + " before the IEND chunk";
        const uint32_t length = be32(at);
        std::string type(bytes.begin() + at + 4, bytes.begin() + at + 8);
        for (char& c : type)
            if (!std::isalpha(static_cast<unsigned char>(c))) c = '?'; // a damaged name stays printable
        if (length > bytes.size() - at - 12)
            return "truncated: ends inside the " + type + " chunk at byte " + std::to_string(at);
        const uLong crc = crc32(0L, bytes.data() + at + 4, length + 4);
        if (crc != be32(at + 8 + length))
            return "damaged: the " + type + " chunk at byte " + std::to_string(at) + " fails its checksum";
        if (type == "IEND") return "";
        at += 12 + length;
    }
}

struct StbFree {
    void operator()(void* p) const { stbi_image_free(p); }
};

} // namespace

bool readPng(const std::string& path, DiffImage& image, std::string& problem) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        problem = path + ": is a folder, not a PNG file";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        problem = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    if (file.bad()) {
        problem = path + ": cannot read: " + std::strerror(errno);
        return false;
    }
    if (bytes.size() < sizeof kPngSignature ||
        std::memcmp(bytes.data(), kPngSignature, sizeof kPngSignature) != 0) {
        problem = path + (bytes.empty() ? ": empty file, not a PNG file" : ": not a PNG file");
        return false;
    }
    if (bytes.size() > static_cast<size_t>(INT32_MAX)) {
        problem = path + ": file too large";
        return false;
    }
    if (const std::string damage = checkChunks(bytes); !damage.empty()) {
        problem = path + ": " + damage;
        return false;
    }
    const int size = static_cast<int>(bytes.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(bytes.data(), size, &width, &height, &channels)) {
        problem = path + ": damaged PNG header (decoder: " + stbi_failure_reason() + ")";
        return false;
    }
    if (static_cast<long long>(width) * height > kMaxDiffPixels) {
        problem = path + ": " + std::to_string(width) + "x" + std::to_string(height) +
                  " is larger than the tool takes (" + std::to_string(kMaxDiffPixels) + " pixels)";
        return false;
    }
    const bool deep = stbi_is_16_bit_from_memory(bytes.data(), size);
    std::unique_ptr<void, StbFree> pixels(
        deep ? static_cast<void*>(stbi_load_16_from_memory(bytes.data(), size, &width, &height, &channels, 3))
             : static_cast<void*>(stbi_load_from_memory(bytes.data(), size, &width, &height, &channels, 3)));
    if (!pixels) {
        problem = path + ": damaged or truncated PNG (decoder: " + stbi_failure_reason() + ")";
        return false;
    }
    image.width = width;
    image.height = height;
    image.values.resize(3 * static_cast<size_t>(width) * height);
    for (size_t i = 0; i < image.values.size(); ++i)
        image.values[i] = deep ? static_cast<const unsigned short*>(pixels.get())[i] / 65535.0f
                               : static_cast<const unsigned char*>(pixels.get())[i] / 255.0f;
    return true;
}

bool writeErrorMap(const std::string& path, const FlipMaps& maps, std::string& problem) {
    std::vector<unsigned char> rgb(3 * maps.error.size());
    for (size_t i = 0; i < maps.error.size(); ++i) {
        const auto c = magma(maps.error[i]);
        std::copy(c.begin(), c.end(), rgb.begin() + 3 * i);
    }
    if (!stbi_write_png(path.c_str(), maps.width, maps.height, 3, rgb.data(), 3 * maps.width)) {
        problem = path + ": cannot write the error map: " + std::strerror(errno);
        return false;
    }
    return true;
}
