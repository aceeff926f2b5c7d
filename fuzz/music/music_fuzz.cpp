// libFuzzer target for the music decoder on a file in memory, without an audio device: Tremor
// reads the bytes through the player's I/O functions (audio/ogg_memory.h) and the target does
// what the player does with them: the seekable and stereo checks of every link, the total
// length, and decoding with seeks as the stream callback does, holes skipped one at a time.
// Any file must end in a refusal or in samples, never in a crash, a leak, a hang or a read
// outside its bytes.
#include "audio/ogg_memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr int kBytesPerFrame = 4;             // two signed 16-bit samples
constexpr int kFramesPerRead = 2048;          // about the stream's buffer size
constexpr int kMaxConsecutiveReadErrors = 64; // as the player's callback

// Decodes up to `frames` frames the way the player's callback does; false at the end of the data.
bool decode(OggVorbis_File& vorbis, int frames) {
    static char pcm[kFramesPerRead * kBytesPerFrame];
    int done = 0, readErrors = 0;
    while (done < frames) {
        int link = 0;
        int want = frames - done < kFramesPerRead ? frames - done : kFramesPerRead;
        long result = ov_read(&vorbis, pcm, want * kBytesPerFrame, &link);
        if (result >= kBytesPerFrame) {
            done += static_cast<int>(result / kBytesPerFrame);
            readErrors = 0;
        } else if (result >= 0 || result == OV_EBADLINK || ++readErrors >= kMaxConsecutiveReadErrors) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x7FFFFFFF) return 0;
    // A copy of exactly the file's size, so a read past its end is caught.
    auto* bytes = static_cast<unsigned char*>(std::malloc(size > 0 ? size : 1));
    if (size > 0) std::memcpy(bytes, data, size);
    OggMemoryFile file{bytes, static_cast<int32_t>(size), 0};
    OggVorbis_File vorbis;
    std::memset(&vorbis, 0, sizeof vorbis);
    ov_open_callbacks(&file, &vorbis, nullptr, 0, oggMemoryCallbacks());
    bool playable = ov_seekable(&vorbis) != 0;
    long links = playable ? ov_streams(&vorbis) : 0;
    for (long link = 0; link < links && playable; ++link) {
        vorbis_info* info = ov_info(&vorbis, static_cast<int>(link));
        playable = info != nullptr && info->channels == 2 && info->rate > 0;
    }
    if (playable) {
        ogg_int64_t total = ov_pcm_total(&vorbis, -1);
        decode(vorbis, 3 * kFramesPerRead);
        // Seeks as the callback applies them: the middle, the last frame, the start.
        for (ogg_int64_t target : {total / 2, total - 1, ogg_int64_t{0}}) {
            if (target < 0 || target >= total) continue;
            if (ov_pcm_seek(&vorbis, target) < 0) break;
            decode(vorbis, kFramesPerRead);
        }
    }
    ov_clear(&vorbis);
    std::free(bytes);
    return 0;
}
