/* textures.h — the procedural textures of the demo's scene.

   Each texture is a square, seamlessly tiling RGBA8 image (rows top first) made from tileable
   Perlin noise, so the renderer's mip chain and GL_REPEAT wrapping show no seams:

       RgbaImage floor = makeFloorTiles(256);     // tex1.png: marble tiles with grout
       RgbaImage wall = makeWallBricks(256);      // tex2.png: near-white bricks, tinted by materials
       RgbaImage mosaic = makeMosaic(256);        // tex3.png: gold, teal and ivory tesserae

   Colours are display-encoded (the shaders square them to linearise). The size must be a power
   of two of at least 64. Nothing here writes files. */
#pragma once

#include <cstdint>
#include <vector>

struct RgbaImage {
    int size = 0;                // width and height in texels
    std::vector<uint8_t> texels; // size * size * 4 bytes: r, g, b, a per texel, top row first
};

RgbaImage makeFloorTiles(int size);
RgbaImage makeWallBricks(int size);
RgbaImage makeMosaic(int size);
