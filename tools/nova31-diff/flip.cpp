// FLIP, from the paper's description (see flip.h for the reference). Section names below are the
// paper's: the colour pipeline (spatial filtering, the perceptually uniform colour space, the
// colour metric), the feature pipeline (edges and points) and the final error.
#include "tools/nova31-diff/flip.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// ---- Constants ----------------------------------------------------------------------------------

// Contrast sensitivity functions, one per channel of YCxCz (achromatic, red-green, blue-yellow),
// modelled in the frequency domain as a1 exp(-b1 f^2) + a2 exp(-b2 f^2), f in cycles per degree
// (colour pipeline, spatial filtering: the table of CSF parameters). The achromatic and red-green
// functions are single Gaussians (a2 = 0).
struct CsfParameters {
    double a1, b1, a2, b2;
};
constexpr CsfParameters kCsf[3] = {
    {1.0, 0.0047, 0.0, 1e-5},  // achromatic
    {1.0, 0.0053, 0.0, 1e-5},  // red-green
    {34.1, 0.04, 13.5, 0.025}, // blue-yellow
};
constexpr double kCsfLargestB = 0.04; // the widest spread, which sets every CSF kernel's radius

// Colour metric: the HyAB distance is raised to q_c, then the range below p_c of the largest
// (equally raised) distance maps linearly onto [0, p_t) and the rest onto [p_t, 1].
constexpr double kQc = 0.7, kPc = 0.4, kPt = 0.95;

// Feature pipeline: the detectors' Gaussian has sigma = 0.5 * w * ppd with w = 0.082 degrees, and
// the feature difference is raised to q_f.
constexpr double kFeatureWidthDegrees = 0.082;
constexpr double kQf = 0.5;

// Linear sRGB (D65) to CIE XYZ and back, the usual matrices (IEC 61966-2-1 primaries).
constexpr double kRgbToXyz[3][3] = {
    {0.4124564, 0.3575761, 0.1804375}, {0.2126729, 0.7151522, 0.0721750}, {0.0193339, 0.1191920, 0.9503041}};
constexpr double kXyzToRgb[3][3] = {{3.2404542, -1.5371385, -0.4985314},
                                    {-0.9692660, 1.8760108, 0.0415560},
                                    {0.0556434, -0.2040259, 1.0572252}};

// ---- Colour conversions -------------------------------------------------------------------------

struct Vec3 {
    double v[3];
};

Vec3 multiply(const double m[3][3], const Vec3& c) {
    Vec3 out{};
    for (int i = 0; i < 3; ++i) out.v[i] = m[i][0] * c.v[0] + m[i][1] * c.v[1] + m[i][2] * c.v[2];
    return out;
}

// The reference white is linear RGB (1, 1, 1) in XYZ (D65, Y = 1), so greys have a* = b* = 0.
const Vec3& whiteXyz() {
    static const Vec3 white = multiply(kRgbToXyz, Vec3{{1.0, 1.0, 1.0}});
    return white;
}

double srgbToLinear(double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// YCxCz, the linearised CIELAB of S-CIELAB (Zhang and Wandell), the opponent space the CSFs act in:
// Y = 116 Y/Yn - 16, Cx = 500 (X/Xn - Y/Yn), Cz = 200 (Y/Yn - Z/Zn).
Vec3 linearRgbToYcxcz(const Vec3& rgb) {
    const Vec3 xyz = multiply(kRgbToXyz, rgb);
    const Vec3& w = whiteXyz();
    const double x = xyz.v[0] / w.v[0], y = xyz.v[1] / w.v[1], z = xyz.v[2] / w.v[2];
    return {{116.0 * y - 16.0, 500.0 * (x - y), 200.0 * (y - z)}};
}

Vec3 ycxczToLinearRgb(const Vec3& c) {
    const Vec3& w = whiteXyz();
    const double y = (c.v[0] + 16.0) / 116.0;
    const Vec3 xyz{{(c.v[1] / 500.0 + y) * w.v[0], y * w.v[1], (y - c.v[2] / 200.0) * w.v[2]}};
    return multiply(kXyzToRgb, xyz);
}

double labF(double t) {
    constexpr double delta = 6.0 / 29.0;
    return t > delta * delta * delta ? std::cbrt(t) : t / (3.0 * delta * delta) + 4.0 / 29.0;
}

// CIELAB of a linear RGB colour with the Hunt adjustment of the colour space section: chroma
// scales with lightness, a*_H = 0.01 L* a*, b*_H = 0.01 L* b*.
Vec3 huntLab(const Vec3& rgb) {
    const Vec3 xyz = multiply(kRgbToXyz, rgb);
    const Vec3& w = whiteXyz();
    const double fx = labF(xyz.v[0] / w.v[0]), fy = labF(xyz.v[1] / w.v[1]), fz = labF(xyz.v[2] / w.v[2]);
    const double l = 116.0 * fy - 16.0;
    return {{l, 0.01 * l * 500.0 * (fx - fy), 0.01 * l * 200.0 * (fy - fz)}};
}

// HyAB: city-block distance in lightness plus Euclidean distance in the (a, b) plane.
double hyab(const Vec3& p, const Vec3& q) {
    return std::abs(p.v[0] - q.v[0]) + std::hypot(p.v[1] - q.v[1], p.v[2] - q.v[2]);
}

// The colour metric's redistribution of a HyAB distance into 0-1.
double colourErrorOf(double distance) {
    static const double cmax = std::pow(flipMaxColourDistance(), kQc);
    const double e = std::pow(distance, kQc);
    if (e < kPc * cmax) return kPt / (kPc * cmax) * e;
    return std::min(1.0, kPt + (e - kPc * cmax) / (cmax - kPc * cmax) * (1.0 - kPt));
}

// ---- Separable filtering ------------------------------------------------------------------------

// One channel of an image, rows top first.
struct Plane {
    int width = 0, height = 0;
    std::vector<float> v;
    Plane(int w, int h) : width(w), height(h), v(static_cast<size_t>(w) * h, 0.0f) {}
    float* row(int y) { return v.data() + static_cast<size_t>(y) * width; }
    const float* row(int y) const { return v.data() + static_cast<size_t>(y) * width; }
};

// A 1-D kernel of taps -r..r; out(x) = sum_k w[k] in(x + k), the image's edge pixels repeated
// beyond it. With `aroundCentre` the sum is of w[k] (in(x + k) - in(x)): the same for a zero-sum
// kernel, but exactly 0 on flat ground, where rounding would otherwise leave a little.
struct Kernel {
    std::vector<double> w;
    int radius() const { return static_cast<int>(w.size() / 2); }
};

Plane filterRows(const Plane& in, const Kernel& k, bool aroundCentre) {
    Plane out(in.width, in.height);
    const int r = k.radius();
    std::vector<float> padded(static_cast<size_t>(in.width) + 2 * r);
    for (int y = 0; y < in.height; ++y) {
        const float* src = in.row(y);
        for (int i = 0; i < static_cast<int>(padded.size()); ++i)
            padded[i] = src[std::clamp(i - r, 0, in.width - 1)];
        float* dst = out.row(y);
        for (int x = 0; x < in.width; ++x) {
            const float centre = aroundCentre ? padded[x + r] : 0.0f;
            double sum = 0.0;
            for (int j = 0; j <= 2 * r; ++j) sum += k.w[j] * (padded[x + j] - centre);
            dst[x] = static_cast<float>(sum);
        }
    }
    return out;
}

Plane filterColumns(const Plane& in, const Kernel& k, bool aroundCentre) {
    Plane out(in.width, in.height);
    const int r = k.radius();
    std::vector<double> sum(in.width);
    for (int y = 0; y < in.height; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0);
        const float* centre = in.row(y);
        for (int j = -r; j <= r; ++j) {
            const float* src = in.row(std::clamp(y + j, 0, in.height - 1));
            const double w = k.w[j + r];
            if (aroundCentre)
                for (int x = 0; x < in.width; ++x) sum[x] += w * (src[x] - centre[x]);
            else
                for (int x = 0; x < in.width; ++x) sum[x] += w * src[x];
        }
        float* dst = out.row(y);
        for (int x = 0; x < in.width; ++x) dst[x] = static_cast<float>(sum[x]);
    }
    return out;
}

// ---- Colour pipeline: spatial filtering ---------------------------------------------------------

// The CSFs in the spatial domain: each frequency-domain Gaussian a exp(-b f^2) is the spatial
// Gaussian a sqrt(pi/b) exp(-pi^2 x^2 / b), x in degrees, evaluated at the distance from the
// kernel's centre. The kernel reaches 3 standard deviations of the widest Gaussian,
// r = ceil(3 sqrt(b_max / (2 pi^2)) ppd) pixels, and its weights sum to 1 so flat colours stay.
// Each Gaussian is separable, so the 2-D kernel is applied as a weighted sum of 1-D passes.
int csfRadius(double ppd) {
    return static_cast<int>(
        std::ceil(3.0 * std::sqrt(kCsfLargestB / (2.0 * std::numbers::pi * std::numbers::pi)) * ppd));
}

Plane csfFilter(const Plane& in, const CsfParameters& p, double ppd) {
    const int r = csfRadius(ppd);
    struct Term {
        Kernel k;
        double weight, sum;
    };
    std::vector<Term> terms;
    double total = 0.0;
    for (auto [a, b] : {std::pair{p.a1, p.b1}, std::pair{p.a2, p.b2}}) {
        if (a == 0.0) continue;
        Term t{{std::vector<double>(2 * r + 1)}, a * std::sqrt(std::numbers::pi / b), 0.0};
        for (int i = -r; i <= r; ++i) {
            const double x = i / ppd; // degrees
            t.k.w[i + r] = std::exp(-std::numbers::pi * std::numbers::pi * x * x / b);
            t.sum += t.k.w[i + r];
        }
        total += t.weight * t.sum * t.sum; // the 2-D kernel's sum
        terms.push_back(std::move(t));
    }
    Plane out(in.width, in.height);
    for (const Term& t : terms) {
        const Plane pass = filterRows(filterColumns(in, t.k, false), t.k, false);
        const float scale = static_cast<float>(t.weight / total);
        for (size_t i = 0; i < out.v.size(); ++i) out.v[i] += scale * pass.v[i];
    }
    return out;
}

// ---- Feature pipeline ---------------------------------------------------------------------------

// Edges are found with the first partial derivatives of a Gaussian, points with the second, on
// the achromatic channel normalised to 0-1. Each detector's positive weights sum to 1 and its
// negative weights to -1, so on a 0-1 image each response lies in [-1, 1]. The 2-D kernels are
// a derivative along one axis times the Gaussian along the other; the sign of a weight is that
// of its derivative factor, so the normalisation splits into the two 1-D factors.
struct FeatureKernels {
    Kernel smooth, first, second;
};

FeatureKernels featureKernels(double ppd) {
    const double sigma = 0.5 * kFeatureWidthDegrees * ppd;
    const int r = static_cast<int>(std::ceil(3.0 * sigma));
    FeatureKernels k;
    for (Kernel* kernel : {&k.smooth, &k.first, &k.second}) kernel->w.assign(2 * r + 1, 0.0);
    double gaussianSum = 0.0;
    for (int i = -r; i <= r; ++i) {
        const double g = std::exp(-(i * i) / (2.0 * sigma * sigma));
        k.smooth.w[i + r] = g;
        k.first.w[i + r] = -i * g;
        k.second.w[i + r] = (i * i / (sigma * sigma) - 1.0) * g;
        gaussianSum += g;
    }
    for (double& w : k.smooth.w) w /= gaussianSum;
    for (Kernel* kernel : {&k.first, &k.second}) {
        double positive = 0.0, negative = 0.0;
        for (double w : kernel->w) (w > 0.0 ? positive : negative) += w;
        for (double& w : kernel->w) w /= w > 0.0 ? positive : -negative;
    }
    return k;
}

// The edge and point strengths: lengths of the (x, y) responses of each detector.
struct Features {
    Plane edge, point;
};

Features detectFeatures(const Plane& achromatic, const FeatureKernels& k) {
    const Plane alongColumns = filterColumns(achromatic, k.smooth, false); // for d/dx
    const Plane alongRows = filterRows(achromatic, k.smooth, false);       // for d/dy
    const Plane dx = filterRows(alongColumns, k.first, true), dxx = filterRows(alongColumns, k.second, true);
    const Plane dy = filterColumns(alongRows, k.first, true), dyy = filterColumns(alongRows, k.second, true);
    Features f{Plane(achromatic.width, achromatic.height), Plane(achromatic.width, achromatic.height)};
    for (size_t i = 0; i < f.edge.v.size(); ++i) {
        f.edge.v[i] = std::hypot(dx.v[i], dy.v[i]);
        f.point.v[i] = std::hypot(dxx.v[i], dyy.v[i]);
    }
    return f;
}

// ---- One image through both pipelines ----------------------------------------------------------

struct Prepared {
    std::vector<Vec3> lab; // filtered, clamped into the gamut, Hunt-adjusted CIELAB
    Features features;
};

Prepared prepare(const DiffImage& image, const PixelRect& area, double ppd, const FeatureKernels& kernels) {
    std::vector<Plane> channels(3, Plane(area.width, area.height));
    Plane achromatic(area.width, area.height);
    for (int y = 0; y < area.height; ++y)
        for (int x = 0; x < area.width; ++x) {
            const float* src =
                &image.values[3 * (static_cast<size_t>(area.y + y) * image.width + area.x + x)];
            const Vec3 c =
                linearRgbToYcxcz({{srgbToLinear(src[0]), srgbToLinear(src[1]), srgbToLinear(src[2])}});
            const size_t i = static_cast<size_t>(y) * area.width + x;
            for (int ch = 0; ch < 3; ++ch) channels[ch].v[i] = static_cast<float>(c.v[ch]);
            achromatic.v[i] = static_cast<float>((c.v[0] + 16.0) / 116.0); // Y/Yn, 0-1
        }
    for (int ch = 0; ch < 3; ++ch) channels[ch] = csfFilter(channels[ch], kCsf[ch], ppd);
    Prepared p{std::vector<Vec3>(achromatic.v.size()), detectFeatures(achromatic, kernels)};
    for (size_t i = 0; i < p.lab.size(); ++i) {
        Vec3 rgb = ycxczToLinearRgb({{channels[0].v[i], channels[1].v[i], channels[2].v[i]}});
        for (double& c : rgb.v) c = std::clamp(c, 0.0, 1.0); // filtering can leave the gamut
        p.lab[i] = huntLab(rgb);
    }
    return p;
}

} // namespace

// ---- Interface ----------------------------------------------------------------------------------

double flipMaxColourDistance() {
    static const double distance = hyab(huntLab({{0.0, 1.0, 0.0}}), huntLab({{0.0, 0.0, 1.0}}));
    return distance;
}

FlipMaps computeFlip(const DiffImage& reference, const DiffImage& test, double ppd, const PixelRect& region) {
    const bool fits = region.x >= 0 && region.y >= 0 && region.width > 0 && region.height > 0 &&
                      region.width <= reference.width - region.x &&
                      region.height <= reference.height - region.y;
    if (!fits || test.width != reference.width || test.height != reference.height) return {};
    const FeatureKernels kernels = featureKernels(ppd);
    // Every filter reaches `margin` pixels; beyond the region that far is all it needs to see.
    const int margin = std::max(csfRadius(ppd), kernels.smooth.radius());
    PixelRect area;
    area.x = std::max(0, region.x - margin);
    area.y = std::max(0, region.y - margin);
    area.width = std::min(reference.width, region.x + region.width + margin) - area.x;
    area.height = std::min(reference.height, region.y + region.height + margin) - area.y;

    const Prepared r = prepare(reference, area, ppd, kernels);
    const Prepared t = prepare(test, area, ppd, kernels);

    FlipMaps maps;
    maps.width = region.width;
    maps.height = region.height;
    const size_t count = static_cast<size_t>(region.width) * region.height;
    maps.error.resize(count);
    maps.colour.resize(count);
    maps.feature.resize(count);
    for (int y = 0; y < region.height; ++y)
        for (int x = 0; x < region.width; ++x) {
            const size_t i = static_cast<size_t>(y) * region.width + x;
            const size_t j =
                static_cast<size_t>(y + region.y - area.y) * area.width + (x + region.x - area.x);
            const double colour = colourErrorOf(hyab(r.lab[j], t.lab[j]));
            // Feature difference: the larger of the edge and point differences, over its largest
            // value sqrt(2), raised to q_f.
            const double edge = std::abs(r.features.edge.v[j] - t.features.edge.v[j]);
            const double point = std::abs(r.features.point.v[j] - t.features.point.v[j]);
            const double feature = std::pow(std::min(1.0, std::max(edge, point) / std::numbers::sqrt2), kQf);
            maps.colour[i] = static_cast<float>(colour);
            maps.feature[i] = static_cast<float>(feature);
            // Final error: features raise the colour error where they differ.
            maps.error[i] = static_cast<float>(std::pow(colour, 1.0 - feature));
        }
    return maps;
}

double rmseOf(const DiffImage& reference, const DiffImage& test, const PixelRect& region) {
    double sum = 0.0;
    for (int y = region.y; y < region.y + region.height; ++y) {
        const size_t start = 3 * (static_cast<size_t>(y) * reference.width + region.x);
        for (size_t i = start; i < start + 3 * static_cast<size_t>(region.width); ++i) {
            const double d = static_cast<double>(reference.values[i]) - test.values[i];
            sum += d * d;
        }
    }
    const double count = 3.0 * region.width * region.height;
    return count > 0 ? std::sqrt(sum / count) : 0.0;
}

double meanOf(const std::vector<float>& values) {
    double sum = 0.0;
    for (float v : values) sum += v;
    return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

double percentileOf(std::vector<float> values, double percent) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double rank = std::clamp(percent, 0.0, 100.0) / 100.0 * static_cast<double>(values.size() - 1);
    const size_t below = static_cast<size_t>(rank);
    const size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (rank - static_cast<double>(below)) * (values[above] - values[below]);
}

// ---- Error map colours --------------------------------------------------------------------------

// The magma ramp by its published anchors at steps of 0.1 (from 0: near black #000004 to 1: pale
// yellow #fcfdbf), interpolated linearly in between.
std::array<std::uint8_t, 3> magma(float error) {
    static constexpr std::uint8_t anchors[11][3] = {
        {0x00, 0x00, 0x04}, {0x14, 0x0e, 0x36}, {0x3b, 0x0f, 0x70}, {0x64, 0x1a, 0x80},
        {0x8c, 0x29, 0x81}, {0xb7, 0x37, 0x79}, {0xde, 0x49, 0x68}, {0xf7, 0x70, 0x5c},
        {0xfe, 0x9f, 0x6d}, {0xfe, 0xcf, 0x92}, {0xfc, 0xfd, 0xbf}};
    const double t = std::isnan(error) ? 1.0 : std::clamp(static_cast<double>(error), 0.0, 1.0) * 10.0;
    const int i = std::min(9, static_cast<int>(t));
    const double f = t - i;
    std::array<std::uint8_t, 3> rgb{};
    for (int c = 0; c < 3; ++c)
        rgb[c] =
            static_cast<std::uint8_t>(std::lround(anchors[i][c] + f * (anchors[i + 1][c] - anchors[i][c])));
    return rgb;
}
