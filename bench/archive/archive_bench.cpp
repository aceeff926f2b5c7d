// Reading the appended archive against inflating the same members with zlib directly.
// Reports bytes per second of uncompressed member data.

#include "archive/archive.h"

#include "zip_builder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

struct Fixture {
    std::vector<ZipMemberSpec> members;
    std::vector<std::string> deflated;
    std::string path;
    size_t uncompressedBytes = 0;

    Fixture() {
        std::mt19937 random(5);
        // Shader-like text, mesh-like binary and noise: about 4 MB in 12 members.
        const char* words[] = {"vec3 ", "float ", "uniform ", "light", "(", ")", ";\n", "0.5", " * "};
        for (int i = 0; i < 12; ++i) {
            std::string bytes;
            size_t size = 200000 + 60000 * static_cast<size_t>(i);
            while (bytes.size() < size) {
                if (i % 3 == 0)
                    bytes += words[random() % 9];
                else if (i % 3 == 1)
                    bytes.push_back(static_cast<char>((bytes.size() / 7) & 0xFF));
                else
                    bytes.push_back(static_cast<char>(random() & 0x3F));
            }
            bytes.resize(size);
            uncompressedBytes += size;
            members.push_back({"member" + std::to_string(i) + ".bin", bytes, true});
            deflated.push_back(rawDeflate(bytes));
        }
        std::vector<unsigned char> image(711680, 0x90); // the program image before the archive
        BuiltZip zip = buildZip(members);
        image.insert(image.end(), zip.bytes.begin(), zip.bytes.end());
        path = (std::filesystem::temp_directory_path() / "nova31-archive-bench.bin").string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    ~Fixture() { std::filesystem::remove(path); }
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

void BM_LoadArchive(benchmark::State& state) {
    Fixture& f = fixture();
    // The walk's console lines would dominate a terminal; send them nowhere while timing.
    FILE* saved = stdout;
    stdout = std::fopen("/dev/null", "w");
    size_t delivered = 0;
    for (auto _ : state) {
        loadArchive(f.path.c_str(), [&](const char*, uint32_t size, const void* bytes) {
            delivered += size;
            benchmark::DoNotOptimize(bytes);
        });
    }
    std::fclose(stdout);
    stdout = saved;
    if (delivered != f.uncompressedBytes * state.iterations()) state.SkipWithError("members missing");
    state.SetBytesProcessed(static_cast<int64_t>(f.uncompressedBytes) * state.iterations());
}
BENCHMARK(BM_LoadArchive)->Unit(benchmark::kMillisecond);

// Inflates every member with zlib alone; `check` also runs the CRC-32 over each result.
void inflateEveryMember(Fixture& f, bool check) {
    for (size_t i = 0; i < f.members.size(); ++i) {
        std::vector<unsigned char> out(f.members[i].bytes.size());
        z_stream stream{};
        inflateInit2(&stream, -15);
        stream.next_in = reinterpret_cast<Bytef*>(f.deflated[i].data());
        stream.avail_in = static_cast<uInt>(f.deflated[i].size());
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        inflate(&stream, Z_FINISH);
        inflateEnd(&stream);
        if (check) benchmark::DoNotOptimize(crc32(0, out.data(), static_cast<uInt>(out.size())));
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_InflateMembersDirectly(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) inflateEveryMember(f, false);
    state.SetBytesProcessed(static_cast<int64_t>(f.uncompressedBytes) * state.iterations());
}
BENCHMARK(BM_InflateMembersDirectly)->Unit(benchmark::kMillisecond);

// Inflation plus the CRC-32 check that a careful reader of the archive also has to do.
void BM_InflateAndCheckMembersDirectly(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) inflateEveryMember(f, true);
    state.SetBytesProcessed(static_cast<int64_t>(f.uncompressedBytes) * state.iterations());
}
BENCHMARK(BM_InflateAndCheckMembersDirectly)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
