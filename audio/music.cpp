#include "audio/music_player.h"

#include "app/console.h"

#include <portaudio.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr int kBytesPerFrame = 4; // two signed 16-bit samples
constexpr int64_t kNoSeek = -1;   // seekTarget when no seek is pending
constexpr int kMaxConsecutiveReadErrors = 64;

PortAudioOgg* theOggPlayer = nullptr;

// ---- Fatal errors ----

// The player reports on standard output, not through the message box: its errors may come
// from the audio thread, where nothing may wait for a person.
[[noreturn]] void musicFatal(const char* text) {
    consoleLog("Fatal Error:%s\n", text);
    std::_Exit(-1);
}

[[noreturn]] void reportAudioError(PaError code, const char* where) {
    Pa_Terminate();
    char text[512];
    std::snprintf(
        text, sizeof text,
        "An error occured while using the portaudio stream at %s\nError number: %d\nError message: %s\n",
        where, code, Pa_GetErrorText(code));
    musicFatal(text);
}

// ---- Stream callback ----

int streamCallback(const void* /*input*/, void* output, unsigned long frameCount,
                   const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags /*statusFlags*/,
                   void* userData) {
    PortAudioOgg* player = static_cast<PortAudioOgg*>(userData);
    player->fillBuffer(static_cast<int16_t*>(output), static_cast<int32_t>(frameCount),
                       timeInfo->currentTime);
    return paContinue;
}

} // namespace

// ---- Construction ----

PortAudioOgg::PortAudioOgg(const unsigned char* data, int32_t size)
    : playing(false), file{data, data != nullptr && size > 0 ? size : 0, 0}, stream(nullptr), sampleRate(0),
      totalSamples(0), ioCallbacks(oggMemoryCallbacks()), vorbisFile{}, seekTarget(kNoSeek),
      decodePos(0), syncPoints{}, syncIndex(0), framesPerBuffer(0), lastCallbackFrames(0), callbackCount(0) {
    // A file that is no Ogg Vorbis at all fails to open and then also reads as not seekable.
    ov_open_callbacks(&file, &vorbisFile, nullptr, 0, ioCallbacks);
    if (ov_seekable(&vorbisFile) == 0) musicFatal("OGG not seekable");

    long links = ov_streams(&vorbisFile);
    for (long link = 0; link < links; ++link) {
        vorbis_info* info = ov_info(&vorbisFile, static_cast<int>(link));
        if (info == nullptr) musicFatal("OGG not seekable");
        if (link == 0) {
            sampleRate = static_cast<int32_t>(info->rate);
        } else if (info->rate != sampleRate) {
            musicFatal("Different samplerates detected inside file");
        }
        if (info->channels != 2) musicFatal("Cannot use mono channel vorbis files at this time");
    }
    if (sampleRate <= 0) musicFatal("OGG not seekable");
    ogg_int64_t total = ov_pcm_total(&vorbisFile, -1);
    totalSamples = total > 0 ? total : 0;

    PaError error = Pa_Initialize();
    if (error != paNoError) reportAudioError(error, "init");

    PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* deviceInfo = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (deviceInfo == nullptr) reportAudioError(0, "PA finding a default output device");

    PaStreamParameters output{};
    output.device = device;
    output.channelCount = 2;
    output.sampleFormat = paInt16;
    output.suggestedLatency = deviceInfo->defaultHighOutputLatency;
    output.hostApiSpecificStreamInfo = nullptr;
    framesPerBuffer = sampleRate / 100; // 10 ms buffers
    error = Pa_OpenStream(&stream, nullptr, &output, static_cast<double>(sampleRate),
                          static_cast<unsigned long>(framesPerBuffer), paNoFlag, streamCallback, this);
    if (error != paNoError) reportAudioError(error, "PA streamopen");

    syncPoints[0] = SyncPoint{Pa_GetStreamTime(stream), 0};

    error = Pa_StartStream(stream);
    if (error != paNoError) reportAudioError(error, "PA streamstart");
    playing = true;
}

PortAudioOgg::~PortAudioOgg() {
    if (playing) {
        PaError error = Pa_StopStream(stream);
        if (error != paNoError) reportAudioError(error, "PA streamstop");
        playing = false;
    }
    PaError error = Pa_CloseStream(stream);
    if (error != paNoError) reportAudioError(error, "PA streamclose");
    Pa_Terminate();
    ov_clear(&vorbisFile);
}

// ---- Clock and transport (main thread) ----

bool PortAudioOgg::isPlaying() {
    return playing;
}

void PortAudioOgg::setPlaying(bool on) {
    if (on == playing) return;
    if (on) {
        // The first callback applies the pending seek that pausing left behind.
        playing = true;
        PaError error = Pa_StartStream(stream);
        if (error != paNoError) reportAudioError(error, "PA streamstart");
        return;
    }
    float pausedAt = currentTime();
    playing = false;
    PaError error = Pa_StopStream(stream);
    if (error != paNoError) reportAudioError(error, "PA streamstop");
    // Frozen exactly where it stopped, even past the end of the track, so that resuming does
    // not move the clock; only a position before the start is lifted to 0.
    float frames = static_cast<float>(sampleRate) * pausedAt;
    if (!(frames > 0.0f)) frames = 0.0f;
    constexpr float kLargestFrame = 9.0e18f;
    seekTarget.store(frames < kLargestFrame ? static_cast<int64_t>(frames)
                                            : static_cast<int64_t>(kLargestFrame));
}

void PortAudioOgg::seek(float seconds) {
    float frames = static_cast<float>(sampleRate) * seconds;
    int64_t target = 0;
    if (frames >= static_cast<float>(totalSamples)) {
        target = totalSamples; // the end of the track: silence from here on
    } else if (frames > 0.0f) {
        target = static_cast<int64_t>(frames);
    } // before the start, and NaN, go to 0
    seekTarget.store(target);
}

float PortAudioOgg::currentTime() {
    int64_t target = seekTarget.load(std::memory_order_acquire);
    if (playing && target == kNoSeek) {
        const SyncPoint& sync = syncPoints[syncIndex.load(std::memory_order_acquire)];
        double now = Pa_GetStreamTime(stream);
        return static_cast<float>(static_cast<double>(sync.samplePos) / sampleRate + (now - sync.streamTime));
    }
    return static_cast<float>(target) / static_cast<float>(sampleRate);
}

// ---- Decoding (audio thread while the stream runs) ----

void PortAudioOgg::fillBuffer(int16_t* output, int32_t frameCount, double streamTime) {
    int64_t target = seekTarget.load(std::memory_order_acquire);
    if (target != kNoSeek) {
        // Past the end there is nothing to position the decoder on: silence until the next seek.
        if (target < totalSamples && ov_pcm_seek(&vorbisFile, target) < 0)
            musicFatal("Error seeking in ogg file");
        decodePos = target;
        int32_t next = (syncIndex.load(std::memory_order_relaxed) + 1) % kSyncPointCount;
        syncPoints[next] = SyncPoint{streamTime, target};
        syncIndex.store(next, std::memory_order_release);
        // Published before the seek is marked done: a reader that sees no pending seek also
        // sees the new sync point. A seek that arrived meanwhile stays pending for next time.
        seekTarget.compare_exchange_strong(target, kNoSeek, std::memory_order_acq_rel);
    }

    char* bytes = reinterpret_cast<char*>(output);
    int32_t done = 0;
    int readErrors = 0;
    while (done < frameCount) {
        if (decodePos >= totalSamples) {
            std::memset(bytes + static_cast<size_t>(done) * kBytesPerFrame, 0,
                        static_cast<size_t>(frameCount - done) * kBytesPerFrame);
            break;
        }
        int link = 0;
        long result = ov_read(&vorbisFile, bytes + static_cast<size_t>(done) * kBytesPerFrame,
                              (frameCount - done) * kBytesPerFrame, &link);
        if (result >= kBytesPerFrame) {
            int32_t frames = static_cast<int32_t>(result / kBytesPerFrame);
            decodePos += frames;
            done += frames;
            readErrors = 0;
        } else if (result >= 0) {
            decodePos = totalSamples; // end of the data
        } else if (result == OV_EBADLINK) {
            musicFatal("Error in ogg file");
        } else if (++readErrors >= kMaxConsecutiveReadErrors) {
            // Holes are skipped one at a time; a decoder that only ever fails would hang the
            // callback, so it is treated as the end of the data instead.
            decodePos = totalSamples;
        }
    }
    lastCallbackFrames.store(frameCount, std::memory_order_relaxed);
    callbackCount.fetch_add(1, std::memory_order_relaxed);
}

// ---- The process's player ----

TimeSource* createOggPlayer(const void* data, uint32_t size) {
    if (theOggPlayer != nullptr) musicFatal("Ogg player already exists");
    int32_t byteCount =
        size <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ? static_cast<int32_t>(size) : 0;
    theOggPlayer = new PortAudioOgg(static_cast<const unsigned char*>(data), byteCount);
    return theOggPlayer;
}

TimeSource* oggPlayer() {
    return theOggPlayer;
}
