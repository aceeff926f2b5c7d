/* flip.h — how different a test image looks from its reference: the FLIP error (LDR), per pixel
   from 0 (identical) to 1, as an observer flipping between the two on a screen would judge it,
   and the RMSE of the encoded values.

       DiffImage reference = ..., test = ...;                // sRGB-encoded values in 0-1
       FlipMaps maps = computeFlip(reference, test, 67.0, {0, 0, w, h});
       double mean = meanOf(maps.error);
       std::array<uint8_t, 3> rgb = magma(maps.error[i]);   // the map's colour for one pixel

   FLIP follows its published description: Andersson, Nilsson, Akenine-Möller, Oskarsson, Åström
   and Fairchild, "FLIP: A Difference Evaluator for Alternating Images", Proc. ACM Comput. Graph.
   Interact. Tech. 3(2), 2020. flip.cpp says where in it each step and constant comes from. The
   error depends on the viewing geometry through the pixels per degree of visual angle
   (`kDefaultPixelsPerDegree`: a 0.7 m wide 3840-pixel monitor seen from 0.7 m).

   Whole images on the CPU, one thread. No HDR variant (inputs are display-encoded), no file
   input or output (image_file.h reads PNG files). */
#pragma once

#include <array>
#include <cstdint>
#include <vector>

// 0.7 m * (3840 px / 0.7 m) * (pi / 180 degrees): pixels per degree of the paper's default setup.
inline constexpr double kDefaultPixelsPerDegree = 0.7 * (3840.0 / 0.7) * (3.14159265358979323846 / 180.0);
// The range the tool accepts: below 1 the filters shrink under a pixel, above 1000 they grow
// past any screen.
inline constexpr double kMinPixelsPerDegree = 1.0, kMaxPixelsPerDegree = 1000.0;

// An RGB image: `values` holds red, green, blue per pixel, rows top first, encoded values in 0-1
// (what the file stores, divided by its largest code).
struct DiffImage {
    int width = 0, height = 0;
    std::vector<float> values; // 3 * width * height
};

// A rectangle of pixels: left column, top row, size.
struct PixelRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// Per-pixel maps of a compared rectangle, rows top first, `width` * `height` each.
struct FlipMaps {
    int width = 0, height = 0;
    std::vector<float> error;   // FLIP: colour ^ (1 - feature), 0-1
    std::vector<float> colour;  // the colour pipeline's error alone, 0-1
    std::vector<float> feature; // the feature pipeline's error alone (edges and points), 0-1
};

// FLIP of `test` against `reference` (same size) inside `region`; pixels around the region within
// the filters' reach take part as they would for the whole image, so a region's maps equal that
// part of the whole image's maps. Empty maps when the sizes differ or the region does not lie
// within the images.
FlipMaps computeFlip(const DiffImage& reference, const DiffImage& test, double pixelsPerDegree,
                     const PixelRect& region);

// Root mean square difference of the encoded values over the region, the three channels alike.
double rmseOf(const DiffImage& reference, const DiffImage& test, const PixelRect& region);

// The mean of a map (0 for an empty one).
double meanOf(const std::vector<float>& values);

// The value below which `percent` (0-100) of the values lie, interpolated linearly between the
// two nearest ranks of the sorted values (0 for an empty list).
double percentileOf(std::vector<float> values, double percent);

// The error map's colour for an error in 0-1 (clamped): a magma-like ramp, black through purple
// and red to pale yellow, 8-bit sRGB.
std::array<std::uint8_t, 3> magma(float error);

// The largest Hunt-adjusted HyAB distance between two colours of the sRGB gamut (green against
// blue), which the colour error is normalised by.
double flipMaxColourDistance();
