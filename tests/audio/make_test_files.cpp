// audio-testfiles DIR — writes the Ogg Vorbis files the player tests open.
//
// A separate program because the encoder (libvorbis) and the player's integer decoder
// (Tremor) define the same vorbis_* symbols and cannot share one process.

#include "tools/tunegen/oggencode.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A quiet chord of sines, a different pitch in every channel, with a 5 ms fade at both ends.
OggLink tone(int channels, int sampleRate, double seconds, double baseHz) {
    OggLink link;
    link.channels = channels;
    link.sampleRate = sampleRate;
    size_t frames = static_cast<size_t>(std::llround(seconds * sampleRate));
    link.samples.resize(frames * channels);
    double fade = 0.005 * sampleRate;
    for (size_t frame = 0; frame < frames; ++frame) {
        double edge = std::fmin(1.0, std::fmin(frame, frames - 1 - frame) / fade);
        for (int channel = 0; channel < channels; ++channel) {
            double hz = baseHz * (1.0 + 0.5 * channel);
            link.samples[frame * channels + channel] =
                static_cast<float>(0.4 * edge * std::sin(2.0 * M_PI * hz * frame / sampleRate));
        }
    }
    return link;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: audio-testfiles DIR\n");
        return 2;
    }
    struct File {
        const char* name;
        std::vector<OggLink> links;
    };
    const std::vector<File> files = {
        {"stereo48k.ogg", {tone(2, 48000, 3.0, 440.0)}},
        {"short48k.ogg", {tone(2, 48000, 0.25, 330.0)}},
        {"stereo44k.ogg", {tone(2, 44100, 1.0, 440.0)}},
        {"chained48k.ogg", {tone(2, 48000, 0.5, 440.0), tone(2, 48000, 0.75, 550.0)}},
        {"mono48k.ogg", {tone(1, 48000, 0.5, 440.0)}},
        {"six48k.ogg", {tone(6, 48000, 0.5, 220.0)}},
        {"mono_second_link.ogg", {tone(2, 48000, 0.5, 440.0), tone(1, 48000, 0.5, 440.0)}},
        {"chained_rates.ogg", {tone(2, 48000, 0.5, 440.0), tone(2, 44100, 0.5, 440.0)}},
    };
    for (const File& file : files) {
        std::string path = std::string(argv[1]) + "/" + file.name;
        std::string error;
        if (!writeOggVorbisFile(path.c_str(), file.links, 0.3f, &error)) {
            std::fprintf(stderr, "audio-testfiles: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
