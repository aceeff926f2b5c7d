/* music.h — the demo's music player and its clock.

   The demo's time is its music. createOggPlayer takes an Ogg Vorbis file that lies complete in
   memory (the archive member "tune.ogg"), opens the default audio output as one 16-bit stereo
   stream and starts playing it from an audio callback. The returned player is the demo's
   TimeSource: currentTime() is the position in the music, in seconds, advancing smoothly with
   the audio stream's own clock between callbacks.

       PortAudioOgg* music = createOggPlayer(bytes, byteCount);   // already playing
       music->setPlaying(false);                                 // paused at once
       ...
       music->seek(0.0f);
       music->setPlaying(true);
       float t = music->currentTime();                           // once per frame

   Pausing freezes the clock at the pause position and resuming continues from there. A seek
   only records its target; the music and the clock move there when the stream next asks for
   samples. Seeks are clamped into the track: before the start goes to 0, past the end goes to
   the end, where the player plays silence and the clock keeps running.

   There is one player per process. Unsupported files (not Ogg Vorbis, not stereo, links with
   different rates), audio device errors and decoding errors print "Fatal Error:<text>" to
   standard output and end the process with exit code -1.

   Threads: every TimeSource operation belongs to the main thread. The stream callback alone
   runs the decoder while the stream runs; it shares with the main thread only the pending seek
   (one atomic 64-bit value) and a ring of four sync points published through an atomic index.
   There is no lock. The player does not resample, mix, loop or read anything from disk. */
#pragma once

#include <atomic>
#include <cstdint>

#include <tremor/ivorbisfile.h>

// The demo's clock: music time in seconds, with pause and seek.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual bool isPlaying() = 0;
    virtual void setPlaying(bool on) = 0;
    virtual void seek(float seconds) = 0;
    virtual float currentTime() = 0;
};

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
    const unsigned char* fileData;   // first byte of the Ogg file; owned by the caller
    int32_t fileSize;                // bytes in fileData
    int32_t readPos;                 // the decoder's read cursor in fileData, bytes
    void* stream;                    // the PortAudio stream (PaStream*)
    int32_t sampleRate;              // frames per second of the file
    int64_t totalSamples;            // PCM frames in the whole file, all links
    ov_callbacks ioCallbacks;        // read, seek, close, tell over fileData
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

// Creates the process's one player on the file and returns it playing. A second call is fatal.
PortAudioOgg* createOggPlayer(const void* data, uint32_t size);

// The player made by createOggPlayer, or null before it.
PortAudioOgg* oggPlayer();
