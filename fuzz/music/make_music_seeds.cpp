// make_music_seeds DIR — writes the music fuzz target's seeds with the tune generator's encoder:
// short Ogg Vorbis files the player plays (stereo at 48 and 44.1 kHz, a chained file) and ones it
// refuses (mono, six channels, a stereo link followed by a mono one).
#include "tools/tunegen/oggencode.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// `seconds` of a chord of sines, a different pitch in every channel.
OggLink tone(int channels, int sampleRate, double seconds) {
    OggLink link;
    link.channels = channels;
    link.sampleRate = sampleRate;
    size_t frames = static_cast<size_t>(seconds * sampleRate);
    link.samples.resize(frames * static_cast<size_t>(channels));
    for (size_t frame = 0; frame < frames; ++frame)
        for (int channel = 0; channel < channels; ++channel)
            link.samples[frame * static_cast<size_t>(channels) + static_cast<size_t>(channel)] =
                static_cast<float>(
                    0.3 * std::sin(2.0 * M_PI * 330.0 * (1.0 + 0.25 * channel) * frame / sampleRate));
    return link;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_music_seeds DIR\n");
        return 2;
    }
    struct Seed {
        const char* name;
        std::vector<OggLink> links;
    } seeds[] = {
        {"stereo48k.ogg", {tone(2, 48000, 0.2)}},
        {"stereo44k.ogg", {tone(2, 44100, 0.1)}},
        {"chained.ogg", {tone(2, 48000, 0.1), tone(2, 48000, 0.15)}},
        {"mono.ogg", {tone(1, 48000, 0.1)}},
        {"six.ogg", {tone(6, 48000, 0.05)}},
        {"mono-second-link.ogg", {tone(2, 48000, 0.05), tone(1, 48000, 0.05)}},
    };
    for (const Seed& seed : seeds) {
        std::string path = std::string(argv[1]) + "/" + seed.name;
        std::string error;
        if (!writeOggVorbisFile(path.c_str(), seed.links, 0.1f, &error)) {
            std::fprintf(stderr, "make_music_seeds: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
