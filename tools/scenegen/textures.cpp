#include "tools/scenegen/textures.h"

#include <algorithm>
#include <cmath>

#include <stb/stb_perlin.h>

namespace {

constexpr float kPi = 3.14159265358979f;

struct Colour {
    float r, g, b;
};

Colour mix(Colour a, Colour b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Colour scale(Colour c, float s) {
    return {c.r * s, c.g * s, c.b * s};
}

uint8_t toByte(float v) {
    return static_cast<uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
}

void put(RgbaImage& image, int x, int y, Colour c) {
    uint8_t* texel = &image.texels[(static_cast<size_t>(y) * image.size + x) * 4];
    texel[0] = toByte(c.r);
    texel[1] = toByte(c.g);
    texel[2] = toByte(c.b);
    texel[3] = 255;
}

RgbaImage blankImage(int size) {
    RgbaImage image;
    image.size = size;
    image.texels.assign(static_cast<size_t>(size) * size * 4, 0);
    return image;
}

// Fractal noise over the unit square that tiles: every octave wraps at its own power-of-two period.
// Roughly in [-1, 1].
float tilingFbm(float u, float v, int period, int octaves, float seed) {
    float sum = 0.0f, amplitude = 1.0f, norm = 0.0f;
    for (int octave = 0; octave < octaves; ++octave) {
        int p = period << octave;
        sum += amplitude * stb_perlin_noise3(u * p, v * p, seed + octave * 7.31f, p, p, 0);
        norm += amplitude;
        amplitude *= 0.5f;
    }
    return sum / norm * 1.6f;
}

// A stable pseudo-random value in [0, 1) for an integer cell.
float cellRandom(int i, int j, int salt) {
    uint32_t h = static_cast<uint32_t>(i) * 73856093u ^ static_cast<uint32_t>(j) * 19349663u ^
                 static_cast<uint32_t>(salt) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return (h & 0xffffff) / 16777216.0f;
}

// Texels from (inX, inY) to the nearest border of a width x height cell that holds it.
int borderDistance(int inX, int inY, int width, int height) {
    return std::min(std::min(inX, width - 1 - inX), std::min(inY, height - 1 - inY));
}

// 0 in the middle of a cell, rising to 1 within `width` texels of its border.
float edgeFactor(int distanceToBorder, float width) {
    return std::clamp(1.0f - distanceToBorder / width, 0.0f, 1.0f);
}

} // namespace

// ---- Floor: two marbles in a checkerboard with grout lines ----

RgbaImage makeFloorTiles(int size) {
    RgbaImage image = blankImage(size);
    const int tile = size / 2;
    const Colour creamLight{0.93f, 0.89f, 0.80f}, creamVein{0.62f, 0.55f, 0.47f};
    const Colour greenLight{0.42f, 0.52f, 0.47f}, greenVein{0.86f, 0.88f, 0.82f};
    const Colour grout{0.30f, 0.28f, 0.25f};
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            float u = (x + 0.5f) / size, v = (y + 0.5f) / size;
            int tx = x / tile, ty = y / tile;
            int border = borderDistance(x % tile, y % tile, tile, tile);
            if (border < 2) {
                put(image, x, y, scale(grout, 0.9f + 0.2f * cellRandom(x, y, 1)));
                continue;
            }
            float turbulence = tilingFbm(u, v, 4, 5, tx == ty ? 1.7f : 9.3f);
            float wave = std::sin(2.0f * kPi * (2.0f * u + v) + 3.2f * turbulence);
            float edge = 1.0f - std::fabs(wave);
            float vein = 0.75f * std::pow(edge, 8.0f) + 0.25f * edge * edge;
            float cloud = 0.92f + 0.08f * tilingFbm(u, v, 8, 3, 4.1f);
            bool cream = (tx + ty) % 2 == 0;
            Colour c = cream ? mix(creamLight, creamVein, vein) : mix(greenLight, greenVein, vein);
            // A slight bevel: tile edges catch less light.
            float bevel = 1.0f - 0.25f * edgeFactor(border - 2, 5.0f);
            put(image, x, y, scale(c, cloud * bevel));
        }
    }
    return image;
}

// ---- Walls: running-bond bricks, near white so that materials tint them ----

RgbaImage makeWallBricks(int size) {
    RgbaImage image = blankImage(size);
    const int brickWidth = size / 4, brickHeight = size / 8;
    const Colour brick{0.92f, 0.90f, 0.86f}, mortar{0.66f, 0.65f, 0.62f};
    for (int y = 0; y < size; ++y) {
        int row = y / brickHeight;
        int inY = y % brickHeight;
        int shift = (row % 2) * (brickWidth / 2);
        for (int x = 0; x < size; ++x) {
            float u = (x + 0.5f) / size, v = (y + 0.5f) / size;
            int shifted = (x + shift) % size;
            int column = shifted / brickWidth;
            int inX = shifted % brickWidth;
            int border = borderDistance(inX, inY, brickWidth, brickHeight);
            float grain = tilingFbm(u, v, 16, 3, 2.5f);
            if (border < 2) {
                put(image, x, y, scale(mortar, 0.95f + 0.1f * grain));
                continue;
            }
            float tone = 0.86f + 0.14f * cellRandom(column, row, 7);
            float weathering = 0.5f + 0.5f * tilingFbm(u, v, 4, 4, 6.2f);
            float edge = 1.0f - 0.18f * edgeFactor(border - 2, 4.0f);
            float speckle = cellRandom(x, y, 3) > 0.97f ? 0.85f : 1.0f;
            Colour c =
                scale(brick, tone * (0.9f + 0.1f * weathering) * edge * speckle * (0.97f + 0.05f * grain));
            put(image, x, y, c);
        }
    }
    return image;
}

// ---- Mosaic: tesserae laid in rings around a medallion ----

RgbaImage makeMosaic(int size) {
    RgbaImage image = blankImage(size);
    const int cells = 32, cell = size / cells;
    const Colour palette[4] = {
        {0.96f, 0.76f, 0.30f}, // gold
        {0.20f, 0.66f, 0.66f}, // teal
        {0.95f, 0.92f, 0.84f}, // ivory
        {0.78f, 0.26f, 0.20f}, // deep red
    };
    // Ring colours from the medallion outwards; the pattern repeats with the texture.
    const int ringColour[12] = {0, 3, 0, 2, 1, 1, 2, 3, 2, 0, 1, 2};
    const Colour gap{0.16f, 0.15f, 0.14f};
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            float u = (x + 0.5f) / size, v = (y + 0.5f) / size;
            int i = x / cell, j = y / cell;
            int border = borderDistance(x % cell, y % cell, cell, cell);
            if (border < 1) {
                put(image, x, y, gap);
                continue;
            }
            float dx = i + 0.5f - cells / 2, dy = j + 0.5f - cells / 2;
            int ring = static_cast<int>(std::sqrt(dx * dx + dy * dy) / 1.4f);
            int colour = ringColour[ring % 12];
            // One tessera in eight was set by a less careful hand.
            if (cellRandom(i, j, 13) < 0.12f) colour = static_cast<int>(cellRandom(i, j, 17) * 4.0f) & 3;
            float jitter = 0.86f + 0.22f * cellRandom(i, j, 5);
            float glaze = 0.93f + 0.07f * tilingFbm(u, v, 32, 2, 8.8f);
            float dome = 1.0f - 0.2f * edgeFactor(border - 1, 2.0f);
            put(image, x, y, scale(palette[colour], jitter * glaze * dome));
        }
    }
    return image;
}
