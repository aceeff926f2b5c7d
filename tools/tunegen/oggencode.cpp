#include "tools/tunegen/oggencode.h"

#include <vorbis/vorbisenc.h>

#include <cstdio>

namespace {

constexpr int kFramesPerChunk = 1024;

void appendPage(const ogg_page& page, std::vector<unsigned char>* out) {
    out->insert(out->end(), page.header, page.header + page.header_len);
    out->insert(out->end(), page.body, page.body + page.body_len);
}

// Moves every finished block through the bit-rate manager into pages.
void drainBlocks(vorbis_dsp_state* dsp, vorbis_block* block, ogg_stream_state* stream,
                 std::vector<unsigned char>* out) {
    ogg_packet packet;
    ogg_page page;
    while (vorbis_analysis_blockout(dsp, block) == 1) {
        vorbis_analysis(block, nullptr);
        vorbis_bitrate_addblock(block);
        while (vorbis_bitrate_flushpacket(dsp, &packet) == 1) {
            ogg_stream_packetin(stream, &packet);
            while (ogg_stream_pageout(stream, &page) != 0) appendPage(page, out);
        }
    }
}

bool encodeLink(const OggLink& link, int serialNumber, float quality, std::vector<unsigned char>* out,
                std::string* error) {
    if (link.channels < 1 || link.sampleRate < 1 ||
        link.samples.size() % static_cast<size_t>(link.channels) != 0) {
        *error = "link has a bad channel count, sample rate or sample count";
        return false;
    }
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, link.channels, link.sampleRate, quality) != 0) {
        vorbis_info_clear(&info);
        *error = "libvorbisenc refused " + std::to_string(link.channels) + " channels at " +
                 std::to_string(link.sampleRate) + " Hz";
        return false;
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_comment_add_tag(&comment, "ENCODER", "nova31 tunegen");
    vorbis_dsp_state dsp;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block block;
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, serialNumber);

    ogg_packet identification, comments, codebooks;
    vorbis_analysis_headerout(&dsp, &comment, &identification, &comments, &codebooks);
    ogg_stream_packetin(&stream, &identification);
    ogg_stream_packetin(&stream, &comments);
    ogg_stream_packetin(&stream, &codebooks);
    ogg_page page;
    // Audio data starts on a fresh page, as the format requires.
    while (ogg_stream_flush(&stream, &page) != 0) appendPage(page, out);

    size_t frames = link.samples.size() / static_cast<size_t>(link.channels);
    for (size_t first = 0; first < frames; first += kFramesPerChunk) {
        int count = static_cast<int>(frames - first < kFramesPerChunk ? frames - first : kFramesPerChunk);
        float** buffer = vorbis_analysis_buffer(&dsp, count);
        for (int frame = 0; frame < count; ++frame) {
            for (int channel = 0; channel < link.channels; ++channel) {
                buffer[channel][frame] = link.samples[(first + frame) * link.channels + channel];
            }
        }
        vorbis_analysis_wrote(&dsp, count);
        drainBlocks(&dsp, &block, &stream, out);
    }
    vorbis_analysis_wrote(&dsp, 0); // end of stream
    drainBlocks(&dsp, &block, &stream, out);
    while (ogg_stream_flush(&stream, &page) != 0) appendPage(page, out);

    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return true;
}

} // namespace

bool encodeOggVorbis(const std::vector<OggLink>& links, float quality, std::vector<unsigned char>* out,
                     std::string* error) {
    out->clear();
    for (size_t index = 0; index < links.size(); ++index) {
        // Each link of a chain needs its own serial number.
        if (!encodeLink(links[index], 0x4e310000 + static_cast<int>(index), quality, out, error))
            return false;
    }
    return true;
}

bool writeOggVorbisFile(const char* path, const std::vector<OggLink>& links, float quality,
                        std::string* error) {
    std::vector<unsigned char> bytes;
    if (!encodeOggVorbis(links, quality, &bytes, error)) {
        *error = std::string(path) + ": " + *error;
        return false;
    }
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        *error = std::string(path) + ": cannot be created";
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
    if (!written) *error = std::string(path) + ": write failed";
    return written;
}
