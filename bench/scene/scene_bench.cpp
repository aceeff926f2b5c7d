// Packing scenes of real size: generated documents of 10 thousand, 100 thousand and 1 million
// triangles (tools/scenegen/large_scene.h) go through loadGLTF, then through the scene
// runtime's decoding (Scene::init, without GL), next to the demo's own scene. For each: the
// best time of a few runs, the blob's size and form, and the process's resident memory before
// packing (the document and its buffer) and at its peak while packing and decoding (Linux:
// the peak is reset first through /proc/self/clear_refs). The table goes to standard error,
// the scene runtime's progress lines to standard output.
//
//   build/bench/scene_bench [TRIANGLES...]     (default 10000 100000 1000000)
#include "scene/blob.h"
#include "scene/gltf_pack.h"
#include "scene/scene.h"
#include "store/store.h"
#include "tools/scenegen/large_scene.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Resident memory in MiB from /proc/self/status ("VmRSS" now, "VmHWM" the peak); -1 elsewhere.
double residentMiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, std::string(field).size(), field) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return -1.0;
}

void resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void measure(const char* what, long long triangles, const std::string& json) {
    const int runs = triangles >= 1000000 ? 2 : 5;
    const double before = residentMiB("VmRSS");
    resetPeak();
    double pack = 1e30, decode = 1e30;
    int size = 0;
    BlobForm form = BlobForm::compact;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        void* blob = loadGLTF(json.data(), json.size(), &size, nullptr, nullptr);
        pack = std::min(pack, seconds(start));
        BlobView view(blob, static_cast<size_t>(size));
        form = view.form();
        if (triangles < 0) { // count what the blob draws: its index lists
            triangles = 0;
            for (const PackedPrimitive& p : view.primitives())
                triangles += view.accessors()[p.firstAccessor].count / 3;
        }
        start = std::chrono::steady_clock::now();
        {
            Scene scene;
            scene.init(blob);
            decode = std::min(decode, seconds(start));
        }
        std::free(blob);
    }
    const double peak = residentMiB("VmHWM");
    std::fprintf(stderr,
                 "%-18s %9lld triangles  pack %8.4f s  decode %8.4f s  blob %10d bytes (%s)  memory before "
                 "%7.1f MiB, peak %7.1f MiB (+%.1f)\n",
                 what, triangles, pack, decode, size, form == BlobForm::large ? "large" : "compact", before,
                 peak, peak - before);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<long long> counts = {10000, 100000, 1000000};
    if (argc > 1) {
        counts.clear();
        for (int i = 1; i < argc; ++i) counts.push_back(std::atoll(argv[i]));
    }
    // The demo's scene, for reference: its buffer registered as the archive registers it.
    std::ifstream gltf(NOVA31_SOURCE_DIR "/assets/scene1.gltf", std::ios::binary);
    std::ifstream bin(NOVA31_SOURCE_DIR "/assets/scene1.bin", std::ios::binary);
    std::string demo((std::istreambuf_iterator<char>(gltf)), std::istreambuf_iterator<char>());
    std::string demoBuffer((std::istreambuf_iterator<char>(bin)), std::istreambuf_iterator<char>());
    putFileVariable("scene1.bin", static_cast<uint32_t>(demoBuffer.size()), demoBuffer.data());
    measure("demo scene1.gltf", -1, demo);

    for (long long triangles : counts) {
        if (triangles < 1) continue;
        GltfBuilder scene = largeScene(triangles);
        std::string name = "scene_bench_" + std::to_string(triangles) + ".bin";
        putFileVariable(name.c_str(), static_cast<uint32_t>(scene.binary().size()), scene.binary().data());
        measure("generated hills", triangles, scene.json(name));
    }
    return 0;
}
