/* oggencode.h — writing PCM as Ogg Vorbis through libvorbisenc.

   The tune generator and the player's test files share this small encoder. A file is one or
   more links (chained logical streams), each with its own channel count and sample rate, so
   that files the player must refuse can be made as easily as the ones it plays.

       OggLink link{2, 48000, samples};          // interleaved floats in -1..1
       std::string error;
       if (!writeOggVorbisFile("tune.ogg", {link}, 0.4f, &error)) ...

   It encodes in variable bit rate at the given quality (-0.1 .. 1.0). It does not resample,
   dither or tag anything beyond an ENCODER comment. Do not link it into a program that also
   links the integer decoder: both libraries define the vorbis_* symbols. */
#pragma once

#include <string>
#include <vector>

struct OggLink {
    int channels = 2;           // interleaved channel count
    int sampleRate = 48000;     // frames per second
    std::vector<float> samples; // channels * frames values, nominally -1..1
};

// Encodes the links one after another into one chained Ogg file in memory.
bool encodeOggVorbis(const std::vector<OggLink>& links, float quality, std::vector<unsigned char>* out,
                     std::string* error);

// encodeOggVorbis, then writes the bytes to `path`.
bool writeOggVorbisFile(const char* path, const std::vector<OggLink>& links, float quality,
                        std::string* error);
