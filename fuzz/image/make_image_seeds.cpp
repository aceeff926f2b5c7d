// make_image_seeds DIR — writes the image fuzz target's seeds: small PNG, JPEG and TGA files,
// each behind the one byte that picks its decoder (0 PNG, 1 JPEG, 2 TGA).
#include <stb/stb_image_write.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void append(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

// A gradient with a transparent corner, `channels` per texel.
std::vector<uint8_t> texels(int width, int height, int channels) {
    std::vector<uint8_t> out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                out.push_back(
                    static_cast<uint8_t>(c == 3 ? (x + y < 3 ? 40 : 255) : (x * 37 + y * 11 + c * 80)));
    return out;
}

bool writeSeed(const std::string& path, uint8_t decoder, const std::vector<uint8_t>& file) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok =
        std::fwrite(&decoder, 1, 1, out) == 1 && std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_image_seeds DIR\n");
        return 2;
    }
    std::string dir = argv[1];
    struct Seed {
        const char* name;
        uint8_t decoder;
        int width, height, channels, quality; // quality: JPEG only
    } seeds[] = {
        {"rgba.png", 0, 8, 6, 4, 0},  {"grey.png", 0, 5, 5, 1, 0}, {"rgb.jpg", 1, 16, 8, 3, 90},
        {"grey.jpg", 1, 9, 9, 1, 50}, {"rgba.tga", 2, 7, 3, 4, 0}, {"rgb.tga", 2, 4, 4, 3, 0},
    };
    stbi_write_tga_with_rle = 0; // the decoder reads uncompressed true-colour files only
    for (const Seed& s : seeds) {
        std::vector<uint8_t> file;
        std::vector<uint8_t> pixels = texels(s.width, s.height, s.channels);
        int ok = 0;
        if (s.decoder == 0)
            ok = stbi_write_png_to_func(append, &file, s.width, s.height, s.channels, pixels.data(),
                                        s.width * s.channels);
        else if (s.decoder == 1)
            ok = stbi_write_jpg_to_func(append, &file, s.width, s.height, s.channels, pixels.data(),
                                        s.quality);
        else
            ok = stbi_write_tga_to_func(append, &file, s.width, s.height, s.channels, pixels.data());
        if (!ok || !writeSeed(dir + "/" + s.name, s.decoder, file)) {
            std::fprintf(stderr, "make_image_seeds: cannot write %s\n", s.name);
            return 1;
        }
    }
    return 0;
}
