// Cost of the music player's stream callback on the demo's tune: decoding one 10 ms buffer,
// reported as the fraction of the buffer's own duration it takes (must stay far below 1).
// Needs an audio output device (a JACK dummy server does); the stream is paused and the
// benchmark thread runs the callback's fill routine itself.

#include "audio/music_player.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

PortAudioOgg& tunePlayer() {
    static std::vector<unsigned char> bytes = [] {
        std::ifstream file(NOVA31_SOURCE_DIR "/assets/tune.ogg", std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(file),
                                          std::istreambuf_iterator<char>());
    }();
    static PortAudioOgg* player = [] {
        PortAudioOgg* created = new PortAudioOgg(bytes.data(), static_cast<int32_t>(bytes.size()));
        created->setPlaying(false);
        return created;
    }();
    return *player;
}

double threadCpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Time spent per buffer divided by the buffer's duration, on the thread's CPU clock (what the
// decoding costs) and on the wall clock (what a loaded machine makes of it).
struct BufferFraction {
    double cpuStart = threadCpuSeconds();
    std::chrono::steady_clock::time_point wallStart = std::chrono::steady_clock::now();

    void report(benchmark::State& state, const PortAudioOgg& player) const {
        double audio = static_cast<double>(state.iterations()) * player.framesPerBuffer / player.sampleRate;
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        state.counters["cpu_fraction"] = (threadCpuSeconds() - cpuStart) / audio;
        state.counters["wall_fraction"] = wall / audio;
    }
};

// Straight playback: one buffer after the other through the whole tune, wrapping at its end.
void BM_DecodeBuffer(benchmark::State& state) {
    PortAudioOgg& player = tunePlayer();
    std::vector<int16_t> buffer(static_cast<size_t>(player.framesPerBuffer) * 2);
    player.seek(0.0f);
    BufferFraction fraction;
    for (auto _ : state) {
        if (player.decodePos >= player.totalSamples) player.seek(0.0f);
        player.fillBuffer(buffer.data(), player.framesPerBuffer, 0.0);
        benchmark::DoNotOptimize(buffer.data());
    }
    fraction.report(state, player);
}
BENCHMARK(BM_DecodeBuffer);

// The worst callback: a seek lands in it (the seek keys), so it positions the decoder first.
void BM_SeekAndDecodeBuffer(benchmark::State& state) {
    PortAudioOgg& player = tunePlayer();
    std::vector<int16_t> buffer(static_cast<size_t>(player.framesPerBuffer) * 2);
    float length = static_cast<float>(player.totalSamples) / static_cast<float>(player.sampleRate);
    float position = 0.0f;
    BufferFraction fraction;
    for (auto _ : state) {
        position += 7.3f; // jumps of 7.3 s, wrapping: every part of the file gets a turn
        if (position >= length - 0.1f) position -= length - 0.1f;
        player.seek(position);
        player.fillBuffer(buffer.data(), player.framesPerBuffer, 0.0);
        benchmark::DoNotOptimize(buffer.data());
    }
    fraction.report(state, player);
}
BENCHMARK(BM_SeekAndDecodeBuffer);

} // namespace

BENCHMARK_MAIN();
