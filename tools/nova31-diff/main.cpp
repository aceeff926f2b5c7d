/* nova31-diff — how different a test image looks from its reference: FLIP and RMSE.

   Usage: nova31-diff [--ppd N] [--crop X,Y,W,H] [--map FILE.png] [--percentiles P,...] [--json]
                      REFERENCE.png TEST.png

   Reads two PNG images of the same size and prints, one line each, the mean FLIP error over the
   frame ("FLIP mean: 0.123456", 0 for identical images, at most 1), the root mean square
   difference of the encoded values in 0-1 over the three channels ("RMSE: 0.012345") and, with
   --percentiles (numbers from 0 to 100), the FLIP error below which that share of the pixels lies
   ("FLIP p99: 0.5"). --json prints the same as one JSON object instead, for scripts:
       {"reference": "...", "test": "...", "width": 800, "height": 450, "crop": [x, y, w, h],
        "ppd": 67.0206, "flip": 0.123456, "rmse": 0.012345, "percentiles": {"99": 0.5}}

   --crop compares only the rectangle (left column, top row, width, height in pixels; the pixels
   around it still take part in the filters, as for the whole image). --ppd sets the pixels per
   degree of visual angle (default 67.02: a 0.7 m wide 3840-pixel monitor seen from 0.7 m; from 1
   to 1000). --map writes the per-pixel FLIP error of the compared rectangle as a PNG image, black
   for 0 through purple and orange to pale yellow for 1.

   Exit status 0 when compared, 1 when an input cannot be used (missing, not a PNG, damaged,
   sizes differ) or the map cannot be written, 2 for a bad command line (also a crop outside the
   images). Each problem is one line on standard error naming the file. */
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "tools/nova31-diff/flip.h"
#include "tools/nova31-diff/image_file.h"

namespace {

constexpr const char* kUsage = "usage: nova31-diff [--ppd N] [--crop X,Y,W,H] [--map FILE.png] "
                               "[--percentiles P,...] [--json] REFERENCE.png TEST.png\n";

struct Options {
    std::string reference, test, map;
    double ppd = kDefaultPixelsPerDegree;
    std::optional<PixelRect> crop;
    std::vector<double> percentiles;
    bool json = false;
};

// A list of numbers separated by commas, all of it used; nullopt when any is not a finite number.
std::optional<std::vector<double>> parseNumbers(const std::string& text) {
    std::vector<double> numbers;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        char* end = nullptr;
        const double value = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
        numbers.push_back(value);
        if (comma == std::string::npos) return numbers;
        start = comma + 1;
    }
}

int usageError(const std::string& problem) {
    std::fprintf(stderr, "nova31-diff: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

int inputError(const std::string& problem) {
    std::fprintf(stderr, "nova31-diff: %s\n", problem.c_str());
    return 1;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string percentName(double p) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", p);
    return text;
}

} // namespace

static int run(int argc, char** argv) {
    Options options;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool takesValue = arg == "--ppd" || arg == "--crop" || arg == "--map" || arg == "--percentiles";
        if (takesValue && i + 1 >= argc) return usageError(arg + " needs a value");
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--ppd") {
            const auto n = parseNumbers(argv[++i]);
            if (!n || n->size() != 1 || (*n)[0] < kMinPixelsPerDegree || (*n)[0] > kMaxPixelsPerDegree)
                return usageError("--ppd takes a number from 1 to 1000, not \"" + std::string(argv[i]) +
                                  "\"");
            options.ppd = (*n)[0];
        } else if (arg == "--crop") {
            const auto n = parseNumbers(argv[++i]);
            bool whole = n && n->size() == 4;
            for (size_t k = 0; whole && k < 4; ++k)
                whole = (*n)[k] == std::floor((*n)[k]) && (*n)[k] >= 0 && (*n)[k] <= 1e9 &&
                        (k < 2 || (*n)[k] > 0);
            if (!whole)
                return usageError("--crop takes X,Y,W,H (whole numbers, W and H above 0), not \"" +
                                  std::string(argv[i]) + "\"");
            options.crop = PixelRect{static_cast<int>((*n)[0]), static_cast<int>((*n)[1]),
                                     static_cast<int>((*n)[2]), static_cast<int>((*n)[3])};
        } else if (arg == "--map") {
            options.map = argv[++i];
        } else if (arg == "--percentiles") {
            const auto n = parseNumbers(argv[++i]);
            bool valid = n.has_value();
            for (size_t k = 0; valid && k < n->size(); ++k) valid = (*n)[k] >= 0 && (*n)[k] <= 100;
            if (!valid)
                return usageError("--percentiles takes numbers from 0 to 100 separated by commas, not \"" +
                                  std::string(argv[i]) + "\"");
            options.percentiles = *n;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            return usageError("unknown option " + arg);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) return usageError("needs two images, the reference and the test");
    options.reference = files[0];
    options.test = files[1];

    DiffImage reference, test;
    std::string problem;
    if (!readPng(options.reference, reference, problem)) return inputError(problem);
    if (!readPng(options.test, test, problem)) return inputError(problem);
    if (reference.width != test.width || reference.height != test.height)
        return inputError(options.test + ": " + std::to_string(test.width) + "x" +
                          std::to_string(test.height) + ", but the reference " + options.reference + " is " +
                          std::to_string(reference.width) + "x" + std::to_string(reference.height));
    const PixelRect region = options.crop.value_or(PixelRect{0, 0, reference.width, reference.height});
    if (static_cast<long long>(region.x) + region.width > reference.width ||
        static_cast<long long>(region.y) + region.height > reference.height)
        return usageError("the crop " + std::to_string(region.x) + "," + std::to_string(region.y) + "," +
                          std::to_string(region.width) + "," + std::to_string(region.height) +
                          " does not fit the " + std::to_string(reference.width) + "x" +
                          std::to_string(reference.height) + " images");

    const FlipMaps maps = computeFlip(reference, test, options.ppd, region);
    const double flip = meanOf(maps.error);
    const double rmse = rmseOf(reference, test, region);
    if (!options.map.empty() && !writeErrorMap(options.map, maps, problem)) return inputError(problem);

    if (options.json) {
        std::printf(
            "{\"reference\": %s, \"test\": %s, \"width\": %d, \"height\": %d, \"crop\": [%d, %d, %d, %d], "
            "\"ppd\": %.6g, \"flip\": %.6f, \"rmse\": %.6f",
            jsonString(options.reference).c_str(), jsonString(options.test).c_str(), reference.width,
            reference.height, region.x, region.y, region.width, region.height, options.ppd, flip, rmse);
        if (!options.map.empty()) std::printf(", \"map\": %s", jsonString(options.map).c_str());
        std::printf(", \"percentiles\": {");
        for (size_t k = 0; k < options.percentiles.size(); ++k)
            std::printf("%s\"%s\": %.6f", k ? ", " : "", percentName(options.percentiles[k]).c_str(),
                        percentileOf(maps.error, options.percentiles[k]));
        std::printf("}}\n");
    } else {
        std::printf("FLIP mean: %.6f\nRMSE: %.6f\n", flip, rmse);
        for (double p : options.percentiles)
            std::printf("FLIP p%s: %.6f\n", percentName(p).c_str(), percentileOf(maps.error, p));
    }
    return 0;
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return inputError("not enough memory for these images");
    }
}
