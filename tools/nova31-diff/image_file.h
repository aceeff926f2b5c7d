/* image_file.h — PNG files in and out for nova31-diff.

       DiffImage image;
       std::string problem;
       if (!readPng("shot_10.png", image, problem)) fail(problem); // "shot_10.png: not a PNG file"
       writeErrorMap("map.png", maps, problem);

   Reads 8- and 16-bit PNG files of any colour type (grey, grey with alpha, RGB, RGBA, palette):
   grey becomes the three channels alike, alpha is ignored, values are the stored codes over the
   largest code. Every chunk must be whole and match its CRC, which the decoder does not check. A
   problem is a sentence that starts with the file's name. */
#pragma once

#include <string>

#include "tools/nova31-diff/flip.h"

// The largest image the tool takes (pixels): 8K UHD, 7680x4320. The comparison needs about 130
// bytes a pixel (4.3 GB at this size).
inline constexpr long long kMaxDiffPixels = 7680LL * 4320LL;

// Reads the PNG file at `path` into `image`; false, with `problem` set, when it cannot.
bool readPng(const std::string& path, DiffImage& image, std::string& problem);

// Writes the error map of `maps` as an 8-bit RGB PNG coloured by `magma`; false, with `problem`
// set, when the file cannot be written.
bool writeErrorMap(const std::string& path, const FlipMaps& maps, std::string& problem);
