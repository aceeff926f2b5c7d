/* music_player.h — inside the music player: its decoder, stream and clock state.

   audio/music.h is the player's interface (TimeSource and createOggPlayer); this header shows
   the state behind it, for audio/music.cpp, the player's tests and its benchmark. The decoder
   reads the file through audio/ogg_memory.h. See audio/music.h for threads and errors. */
#pragma once

#include "audio/music.h"
#include "audio/ogg_memory.h"

#include <atomic>
#include <cstdint>

#include <tremor/ivorbisfile.h>

// One moment at which stream time and music position were known together.
struct SyncPoint {
    double streamTime; // seconds on the audio stream's clock
    int64_t samplePos; // frame position in the file that was current at streamTime
};

// Plays one in-memory Ogg Vorbis file through PortAudio's default output device.
class PortAudioOgg : public TimeSource {
public:
    // Opens the decoder on `data` (not copied; must outlive the player) and starts the stream.
    PortAudioOgg(const unsigned char* data, int32_t size);
    ~PortAudioOgg() override;

    PortAudioOgg(const PortAudioOgg&) = delete;
    PortAudioOgg& operator=(const PortAudioOgg&) = delete;

    bool isPlaying() override;
    void setPlaying(bool on) override;
    void seek(float seconds) override;
    float currentTime() override;

    static constexpr int kSyncPointCount = 4;

    bool playing;                    // the output stream is running
    OggMemoryFile file;              // the Ogg file (owned by the caller) and the decoder's cursor
    void* stream;                    // the PortAudio stream (PaStream*)
    int32_t sampleRate;              // frames per second of the file
    int64_t totalSamples;            // PCM frames in the whole file, all links
    ov_callbacks ioCallbacks;        // read, seek, close, tell over `file`
    OggVorbis_File vorbisFile;       // decoder state
    std::atomic<int64_t> seekTarget; // frame position of a pending seek, -1 when none
    int64_t decodePos;               // frame position of the next frame the decoder delivers
    SyncPoint syncPoints[kSyncPointCount];
    std::atomic<int32_t> syncIndex; // slot of the newest sync point, 0..3

    // Diagnostics for tests and benchmarks: the buffer size chosen at construction, and two
    // counters that only the stream callback writes.
    int32_t framesPerBuffer;                 // frames the stream is asked to deliver per callback
    std::atomic<int32_t> lastCallbackFrames; // frame count of the most recent callback, 0 before one
    std::atomic<int64_t> callbackCount;      // callbacks run since construction

    // The stream callback's work without PortAudio: applies a pending seek (anchored at
    // `streamTime`) and fills `frameCount` interleaved stereo frames into `output`. Only the
    // callback may call it while the stream runs; tests and benchmarks call it while paused.
    void fillBuffer(int16_t* output, int32_t frameCount, double streamTime);
};
