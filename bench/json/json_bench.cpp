// Reading a generated glTF-shaped document of several MB: into the demo's glTF records with
// the reflection reader, and into nlohmann::json's document tree from the same text. Throughput is the
// document's bytes per second (bytes_per_second, shown in MiB/s).
#include "refl/json/json.h"
#include "scene/gltf.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <sstream>
#include <streambuf>
#include <string>

namespace {

// ---- The generated document ----

// Deterministic pseudo-random numbers so every run reads the same text.
struct Numbers {
    std::uint32_t state = 12345;
    double next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0 * 200.0 - 100.0;
    }
};

void appendNumbers(std::string& out, Numbers& numbers, int count) {
    char text[32];
    out += '[';
    for (int i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, "%s%.7g", i ? ", " : "", numbers.next());
        out += text;
    }
    out += ']';
}

// About `nodes` nodes with a mesh, material, accessors and animation channels each.
std::string makeDocument(int nodes) {
    Numbers numbers;
    std::string out =
        "{\n  \"asset\": {\"version\": \"2.0\", \"generator\": \"json_bench\"},\n  \"scene\": 0,\n";
    out += "  \"scenes\": [{\"name\": \"Scene\", \"nodes\": [";
    for (int i = 0; i < nodes; ++i) out += (i ? ", " : "") + std::to_string(i);
    out += "]}],\n  \"nodes\": [\n";
    for (int i = 0; i < nodes; ++i) {
        out += "    {\"name\": \"Node_" + std::to_string(i) + "\", \"mesh\": " + std::to_string(i);
        if (i % 3 == 0) {
            out += ", \"matrix\": ";
            appendNumbers(out, numbers, 16);
        } else {
            out += ", \"translation\": ";
            appendNumbers(out, numbers, 3);
            out += ", \"rotation\": ";
            appendNumbers(out, numbers, 4);
            out += ", \"scale\": ";
            appendNumbers(out, numbers, 3);
        }
        if (i % 10 == 0) out += ", \"extensions\": {\"KHR_lights_punctual\": {\"light\": 0}}";
        if (i % 7 == 0) out += ", \"extras\": {\"tag\": \"\\u00e9t\\u00e9\", \"weights\": [0.5, 1.5]}";
        out += i + 1 < nodes ? "},\n" : "}\n";
    }
    out += "  ],\n  \"meshes\": [\n";
    for (int i = 0; i < nodes; ++i) {
        std::string a = std::to_string(4 * i);
        out += "    {\"name\": \"Mesh_" + std::to_string(i) +
               "\", \"primitives\": [{\"attributes\": {\"POSITION\": " + a +
               ", \"NORMAL\": " + std::to_string(4 * i + 1) +
               ", \"TEXCOORD_0\": " + std::to_string(4 * i + 2) +
               "}, \"indices\": " + std::to_string(4 * i + 3) + ", \"material\": " + std::to_string(i % 16) +
               ", \"mode\": 4}]}";
        out += i + 1 < nodes ? ",\n" : "\n";
    }
    out += "  ],\n  \"materials\": [\n";
    for (int i = 0; i < 16; ++i) {
        out += "    {\"name\": \"Material_" + std::to_string(i) +
               "\", \"doubleSided\": false, \"pbrMetallicRoughness\": {\"baseColorTexture\": {\"index\": " +
               std::to_string(i % 3) + "}, \"baseColorFactor\": ";
        appendNumbers(out, numbers, 4);
        out += ", \"metallicFactor\": 0.0, \"roughnessFactor\": 0.5}}";
        out += i + 1 < 16 ? ",\n" : "\n";
    }
    out += "  ],\n  \"accessors\": [\n";
    static const char* types[] = {"VEC3", "VEC3", "VEC2", "SCALAR"};
    static const int components[] = {3, 3, 2, 1};
    for (int i = 0; i < 4 * nodes; ++i) {
        int k = i % 4;
        out += std::string("    {\"bufferView\": ") + std::to_string(i) +
               ", \"byteOffset\": 0, \"componentType\": " + (k == 3 ? "5123" : "5126") +
               ", \"count\": " + std::to_string(24 + i % 100) + ", \"type\": \"" + types[k] + "\"";
        if (k == 0) {
            out += ", \"min\": ";
            appendNumbers(out, numbers, components[k]);
            out += ", \"max\": ";
            appendNumbers(out, numbers, components[k]);
        }
        out += i + 1 < 4 * nodes ? "},\n" : "}\n";
    }
    out += "  ],\n  \"bufferViews\": [\n";
    for (int i = 0; i < 4 * nodes; ++i) {
        out += "    {\"buffer\": 0, \"byteLength\": " + std::to_string(288 + i % 1000) +
               ", \"byteOffset\": " + std::to_string(i * 1288) + ", \"target\": 34962}";
        out += i + 1 < 4 * nodes ? ",\n" : "\n";
    }
    out +=
        "  ],\n  \"buffers\": [{\"byteLength\": 123456789, \"uri\": \"scene1.bin\"}],\n  \"animations\": [\n";
    for (int i = 0; i < nodes / 4; ++i) {
        out += "    {\"name\": \"Anim_" + std::to_string(i) +
               "\", \"channels\": [{\"sampler\": 0, \"target\": {\"node\": " + std::to_string(i) +
               ", \"path\": \"rotation\"}}, {\"sampler\": 1, \"target\": {\"node\": " + std::to_string(i) +
               ", \"path\": \"translation\"}}], \"samplers\": [{\"input\": 0, \"output\": 1, " +
               "\"interpolation\": \"LINEAR\"}, {\"input\": 0, \"output\": 2, \"interpolation\": \"STEP\"}]}";
        out += i + 1 < nodes / 4 ? ",\n" : "\n";
    }
    out += "  ]\n}\n";
    return out;
}

const std::string& document() {
    static const std::string text = makeDocument(12000);
    return text;
}

// An input stream over the text in place, rewound for every iteration.
class TextBuffer final : public std::streambuf {
public:
    explicit TextBuffer(const std::string& text) {
        char* begin = const_cast<char*>(text.data());
        setg(begin, begin, begin + text.size());
    }
};

// ---- Benchmarks ----

void ReflectionReaderIntoRecords(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        TextBuffer buffer(text);
        std::istream in(&buffer);
        GLTFMain parsed;
        bool ok = refl::json::parse(in, parsed, false, true);
        if (!ok || parsed.nodes.size() != 12000) state.SkipWithError("the document did not read");
        benchmark::DoNotOptimize(parsed.accessors.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

void ReflectionReaderFromStringStream(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        std::istringstream in(text);
        GLTFMain parsed;
        bool ok = refl::json::parse(in, parsed, false, true);
        if (!ok) state.SkipWithError("the document did not read");
        benchmark::DoNotOptimize(parsed.accessors.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void NlohmannIntoDocumentTree(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        nlohmann::json parsed = nlohmann::json::parse(text);
        if (parsed["nodes"].size() != 12000) state.SkipWithError("the document did not read");
        benchmark::DoNotOptimize(parsed);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

} // namespace

BENCHMARK(ReflectionReaderIntoRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(ReflectionReaderFromStringStream)->Unit(benchmark::kMillisecond);
BENCHMARK(NlohmannIntoDocumentTree)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
