// The music player against the real audio stream (the default output device: a JACK dummy
// server in CI), its decoder through the callback's fill routine, and its fatal paths.

#include "audio/music_player.h"
#include "tests/support/process.h"
#include "tests/support/services.h"

#include <gtest/gtest.h>

#include <glob.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.good()) << path << " is missing";
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<unsigned char> testFile(const char* name) {
    return readFile(std::string(AUDIO_TEST_FILE_DIR) + "/" + name);
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Waits until the stream callback has run `count` times in all; false after two seconds.
bool waitForCallbacks(const PortAudioOgg& player, int64_t count) {
    Clock::time_point start = Clock::now();
    while (player.callbackCount.load() < count) {
        if (secondsSince(start) > 2.0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A paced device under a loaded machine is late now and then: allow 60 ms plus 15 %.
double clockTolerance(double elapsed) {
    return 0.06 + 0.15 * elapsed;
}

// The music clock has moved on from `from` by the wall time since `since`.
void expectClockAdvanced(PortAudioOgg& player, double from, Clock::time_point since) {
    float now = player.currentTime();
    double elapsed = secondsSince(since);
    EXPECT_NEAR(now - from, elapsed, clockTolerance(elapsed));
}

void expectFatal(const std::function<void()>& body, const std::string& expectedOutput) {
    ProcessResult result = runForked([&] {
        body();
        return 0;
    });
    EXPECT_EQ(result.exitCode, 255);
    EXPECT_EQ(result.out, expectedOutput);
}

// Decodes `frames` frames through the callback's fill routine, in 10 ms buffers.
std::vector<int16_t> decode(PortAudioOgg& player, int64_t frames) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    for (int64_t done = 0; done < frames; done += 480) {
        int32_t count = static_cast<int32_t>(std::min<int64_t>(480, frames - done));
        player.fillBuffer(samples.data() + done * 2, count, 0.0);
    }
    return samples;
}

double rootMeanSquare(const std::vector<int16_t>& samples, size_t firstFrame, size_t frameCount) {
    double sum = 0.0;
    for (size_t i = firstFrame * 2; i < (firstFrame + frameCount) * 2; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / (2.0 * frameCount));
}

// Sign changes of the left channel: twice the frequency times the duration for a pure tone.
int leftZeroCrossings(const std::vector<int16_t>& samples, size_t firstFrame, size_t frameCount) {
    int crossings = 0;
    for (size_t frame = firstFrame + 1; frame < firstFrame + frameCount; ++frame) {
        if ((samples[frame * 2] >= 0) != (samples[(frame - 1) * 2] >= 0)) ++crossings;
    }
    return crossings;
}

// A player on one of the test files, playing as constructed.
struct FilePlayer {
    std::vector<unsigned char> bytes;
    PortAudioOgg player;
    explicit FilePlayer(std::vector<unsigned char> fileBytes)
        : bytes(std::move(fileBytes)), player(bytes.data(), static_cast<int32_t>(bytes.size())) {}
    explicit FilePlayer(const char* name) : FilePlayer(testFile(name)) {}
};

// A player whose stream is stopped, so the test thread may run the decoder itself.
struct PausedPlayer : FilePlayer {
    explicit PausedPlayer(std::vector<unsigned char> fileBytes) : FilePlayer(std::move(fileBytes)) {
        player.setPlaying(false);
        player.seek(0.0f);
    }
    explicit PausedPlayer(const char* name) : PausedPlayer(testFile(name)) {}
};

// ---- Ogg pages, for damaging a file in memory ----

struct OggPage {
    size_t offset; // of its "OggS"
    size_t size;   // header, segment table and body
};

std::vector<OggPage> oggPages(const std::vector<unsigned char>& bytes) {
    std::vector<OggPage> pages;
    size_t offset = 0;
    while (offset + 27 <= bytes.size() && std::memcmp(&bytes[offset], "OggS", 4) == 0) {
        size_t segments = bytes[offset + 26];
        size_t size = 27 + segments;
        for (size_t i = 0; i < segments && offset + 27 + i < bytes.size(); ++i)
            size += bytes[offset + 27 + i];
        pages.push_back({offset, size});
        offset += size;
    }
    return pages;
}

// The page checksum: CRC-32 with polynomial 0x04c11db7, not reflected, over the page with a
// zero checksum field.
void resealOggPage(std::vector<unsigned char>& bytes, const OggPage& page) {
    std::memset(&bytes[page.offset + 22], 0, 4);
    uint32_t crc = 0;
    for (size_t i = page.offset; i < page.offset + page.size; ++i) {
        crc ^= uint32_t(bytes[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    for (int i = 0; i < 4; ++i) bytes[page.offset + 22 + i] = static_cast<unsigned char>(crc >> (8 * i));
}

} // namespace

// ---- The clock on the running stream ----

TEST(MusicClock, StartsAtZeroAndFollowsTheStreamClockSmoothly) {
    std::vector<unsigned char> bytes = testFile("stereo48k.ogg");
    Clock::time_point beforeOpen = Clock::now();
    PortAudioOgg player(bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_TRUE(player.isPlaying());
    float start = player.currentTime();
    EXPECT_GE(start, 0.0f);
    EXPECT_LE(start, secondsSince(beforeOpen) + 0.03); // stream time since the stream was opened

    // Between callbacks the clock moves with the stream clock, not in 10 ms steps.
    float previous = player.currentTime();
    int distinct = 0;
    Clock::time_point sampling = Clock::now();
    while (secondsSince(sampling) < 0.05) {
        float now = player.currentTime();
        EXPECT_GE(now, previous - 0.002f); // the stream clock's own estimate may wobble slightly
        if (now != previous) ++distinct;
        previous = now;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    EXPECT_GT(distinct, 20);

    Clock::time_point measured = Clock::now();
    float before = player.currentTime();
    sleepSeconds(0.3);
    expectClockAdvanced(player, before, measured);
}

TEST(MusicClock, DeliversTenMillisecondBuffersAt48kHz) {
    FilePlayer file("stereo48k.ogg");
    PortAudioOgg& player = file.player;
    EXPECT_EQ(player.sampleRate, 48000);
    EXPECT_EQ(player.framesPerBuffer, 480);
    ASSERT_TRUE(waitForCallbacks(player, 5));
    EXPECT_EQ(player.lastCallbackFrames.load(), 480);
}

TEST(MusicClock, PauseFreezesTheClockAndResumeContinuesFromThere) {
    FilePlayer file("stereo48k.ogg");
    PortAudioOgg& player = file.player;
    ASSERT_TRUE(waitForCallbacks(player, 3));
    sleepSeconds(0.25);
    float beforePause = player.currentTime();
    player.setPlaying(false);
    EXPECT_FALSE(player.isPlaying());
    float paused = player.currentTime();
    EXPECT_GE(paused, beforePause - 1.0f / 48000); // frozen on a whole frame
    EXPECT_LT(paused, beforePause + 0.05f);

    int64_t callbacks = player.callbackCount.load();
    sleepSeconds(0.3);
    EXPECT_EQ(player.currentTime(), paused);
    EXPECT_EQ(player.callbackCount.load(), callbacks); // stopped means stopped

    Clock::time_point resumed = Clock::now();
    player.setPlaying(true);
    EXPECT_TRUE(player.isPlaying());
    float first = player.currentTime();
    EXPECT_GE(first, paused);
    EXPECT_LT(first, paused + 0.05f);
    ASSERT_TRUE(waitForCallbacks(player, callbacks + 3));
    sleepSeconds(0.2);
    // From the pause position, not from it plus the 0.3 s spent paused.
    expectClockAdvanced(player, paused, resumed);
}

TEST(MusicClock, SeekToZeroWhilePausedReadsZeroUntilTheFirstCallback) {
    FilePlayer file("stereo48k.ogg");
    PortAudioOgg& player = file.player;
    sleepSeconds(0.3);
    player.setPlaying(false);
    player.seek(0.0f);
    EXPECT_EQ(player.currentTime(), 0.0f);

    Clock::time_point started = Clock::now();
    int64_t callbacks = player.callbackCount.load();
    player.setPlaying(true);
    // While the seek is still pending, the clock must read exactly 0.
    while (player.callbackCount.load() < callbacks + 2 && secondsSince(started) < 2.0) {
        float now = player.currentTime();
        if (player.seekTarget.load() != -1) {
            EXPECT_EQ(now, 0.0f);
        } else {
            EXPECT_GE(now, 0.0f);
            EXPECT_LT(now, 0.1f);
        }
    }
    sleepSeconds(0.15);
    float later = player.currentTime();
    double elapsed = secondsSince(started);
    EXPECT_GT(later, 0.05f);
    EXPECT_LE(later, elapsed + 0.01);
}

TEST(MusicClock, SeekWhilePlayingMovesTheClockOnTheNextCallback) {
    FilePlayer file("stereo48k.ogg");
    PortAudioOgg& player = file.player;
    ASSERT_TRUE(waitForCallbacks(player, 2));
    Clock::time_point seeked = Clock::now();
    player.seek(2.0f);
    float pending = player.currentTime();
    EXPECT_GE(pending, 2.0f);
    EXPECT_LT(pending, 2.05f);
    sleepSeconds(0.2);
    expectClockAdvanced(player, 2.0, seeked);
}

TEST(MusicClock, KeepsRunningAfterTheLastFrame) {
    FilePlayer file("short48k.ogg"); // 0.25 s
    PortAudioOgg& player = file.player;
    EXPECT_EQ(player.totalSamples, 12000);
    sleepSeconds(0.5);
    float pastEnd = player.currentTime();
    EXPECT_GT(pastEnd, 0.4f);
    sleepSeconds(0.1);
    EXPECT_GT(player.currentTime(), pastEnd + 0.05f);
}

TEST(MusicClock, SeeksAreClampedIntoTheTrack) {
    FilePlayer file("stereo48k.ogg"); // 3 s
    PortAudioOgg& player = file.player;
    player.setPlaying(false);
    struct Case {
        float seconds;
        float expected;
    };
    const Case cases[] = {
        {-3.0f, 0.0f}, {-0.00001f, 0.0f}, {1.5f, 1.5f},     {3.0f, 3.0f}, {8.0f, 3.0f},
        {1e30f, 3.0f}, {-INFINITY, 0.0f}, {INFINITY, 3.0f}, {NAN, 0.0f},
    };
    for (const Case& c : cases) {
        player.seek(c.seconds);
        EXPECT_EQ(player.currentTime(), c.expected) << "seek(" << c.seconds << ")";
    }

    // Past the end while playing: the clock starts at the end and runs on over silence.
    player.seek(1000.0f);
    Clock::time_point resumed = Clock::now();
    player.setPlaying(true);
    ASSERT_TRUE(waitForCallbacks(player, player.callbackCount.load() + 3));
    sleepSeconds(0.15);
    expectClockAdvanced(player, 3.0, resumed);
}

TEST(MusicClock, PausingPastTheEndKeepsTheClockWhereItWas) {
    FilePlayer file("short48k.ogg"); // 0.25 s
    PortAudioOgg& player = file.player;
    sleepSeconds(0.4);
    player.setPlaying(false);
    float paused = player.currentTime();
    EXPECT_GT(paused, 0.3f);
    player.setPlaying(true);
    EXPECT_GE(player.currentTime(), paused);
}

// The frames-per-buffer rule at 44.1 kHz needs a device running at that rate: a private JACK
// dummy server, used by a child process only.
TEST(MusicClock, DeliversTenMillisecondBuffersAt44100Hz) {
    PrivateAudioServer server(44100, 441);
    ASSERT_TRUE(server.started()) << "private JACK server did not come up";
    ProcessResult result = runForked([&] {
        setenv("JACK_DEFAULT_SERVER", server.serverName().c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        FilePlayer file("stereo44k.ogg");
        PortAudioOgg& player = file.player;
        bool called = waitForCallbacks(player, 5);
        std::printf("rate %d, %d frames per buffer, last callback %d frames\n", player.sampleRate,
                    player.framesPerBuffer, called ? player.lastCallbackFrames.load() : 0);
        return 0;
    });
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "rate 44100, 441 frames per buffer, last callback 441 frames\n");
}

// ---- Decoding through the fill routine ----

TEST(MusicDecoding, PlaysEveryFrameOfEveryLinkThenSilence) {
    PausedPlayer paused("chained48k.ogg"); // 0.5 s at 440 Hz, then 0.75 s at 550 Hz
    PortAudioOgg& player = paused.player;
    ASSERT_EQ(player.totalSamples, 60000);
    std::vector<int16_t> samples = decode(player, 60000 + 4800);
    EXPECT_EQ(player.decodePos, 60000);

    // A 0.4 sine reads about 0.4 / sqrt(2) full scale in both links.
    EXPECT_NEAR(rootMeanSquare(samples, 1000, 22000), 0.4 / std::sqrt(2.0) * 32768, 1500.0);
    EXPECT_NEAR(rootMeanSquare(samples, 26000, 32000), 0.4 / std::sqrt(2.0) * 32768, 1500.0);
    EXPECT_NEAR(leftZeroCrossings(samples, 4800, 12000), 220, 3);  // 440 Hz for 0.25 s
    EXPECT_NEAR(leftZeroCrossings(samples, 30000, 12000), 275, 3); // 550 Hz for 0.25 s

    for (size_t i = 60000 * 2; i < samples.size(); ++i) ASSERT_EQ(samples[i], 0) << "frame " << i / 2;
}

// Largest sample difference between one buffer decoded after seek(seconds) and the reference.
int differenceAfterSeek(PortAudioOgg& player, const std::vector<int16_t>& reference, float seconds,
                        double streamTime) {
    player.seek(seconds);
    std::vector<int16_t> buffer(480 * 2);
    player.fillBuffer(buffer.data(), 480, streamTime);
    size_t first = static_cast<size_t>(seconds * 48000) * 2;
    int worst = 0;
    for (size_t i = 0; i < buffer.size(); ++i)
        worst = std::max(worst, std::abs(buffer[i] - reference[first + i]));
    return worst;
}

TEST(MusicDecoding, SeekLandsOnTheRequestedFrameAndRecordsASyncPoint) {
    PausedPlayer paused("stereo48k.ogg");
    PortAudioOgg& player = paused.player;
    std::vector<int16_t> reference = decode(player, 96000);

    const float targets[] = {1.0f, 0.5f, 0.25f, 1.75f, 0.0f};
    for (float seconds : targets) {
        int32_t ringBefore = player.syncIndex.load();
        EXPECT_LE(differenceAfterSeek(player, reference, seconds, 12.5 + seconds), 2)
            << "seek to " << seconds << " s";
        EXPECT_EQ(player.seekTarget.load(), -1);
        int32_t newest = player.syncIndex.load();
        EXPECT_EQ(newest, (ringBefore + 1) % PortAudioOgg::kSyncPointCount);
        EXPECT_EQ(player.syncPoints[newest].samplePos, static_cast<int64_t>(seconds * 48000));
        EXPECT_EQ(player.syncPoints[newest].streamTime, 12.5 + seconds);
    }
}

TEST(MusicDecoding, SeeksAcrossTheLinksOfAChainedFile) {
    PausedPlayer paused("chained48k.ogg"); // the second link starts at 0.5 s
    PortAudioOgg& player = paused.player;
    std::vector<int16_t> reference = decode(player, 60000);
    for (float seconds : {0.8f, 0.1f, 1.1f, 0.49f}) {
        EXPECT_LE(differenceAfterSeek(player, reference, seconds, 0.0), 2) << "seek to " << seconds << " s";
    }
}

TEST(MusicDecoding, SeekPastTheEndPlaysSilenceAndSeekingBackPlaysAgain) {
    PausedPlayer paused("stereo48k.ogg");
    PortAudioOgg& player = paused.player;
    player.seek(60.0f);
    std::vector<int16_t> silence = decode(player, 4800);
    EXPECT_EQ(player.decodePos, player.totalSamples);
    for (int16_t sample : silence) ASSERT_EQ(sample, 0);

    player.seek(1.0f);
    std::vector<int16_t> music = decode(player, 4800);
    EXPECT_GT(rootMeanSquare(music, 0, 4800), 5000.0);
}

TEST(MusicDecoding, FileCallbacksStayInsideTheFile) {
    PausedPlayer paused("short48k.ogg");
    PortAudioOgg& player = paused.player;
    const ov_callbacks& io = player.ioCallbacks;
    void* source = &player.file;
    char buffer[16];

    ASSERT_EQ(io.seek_func(source, 0, SEEK_SET), 0);
    EXPECT_EQ(io.tell_func(source), 0);
    EXPECT_EQ(io.read_func(buffer, 1, 4, source), 4u);
    EXPECT_EQ(std::memcmp(buffer, "OggS", 4), 0);
    EXPECT_EQ(io.tell_func(source), 4);
    EXPECT_EQ(io.seek_func(source, -2, SEEK_CUR), 0);
    EXPECT_EQ(io.tell_func(source), 2);

    EXPECT_EQ(io.seek_func(source, 0, SEEK_END), 0);
    EXPECT_EQ(io.tell_func(source), player.file.fileSize);
    EXPECT_EQ(io.read_func(buffer, 1, 16, source), 0u);
    EXPECT_EQ(io.seek_func(source, -3, SEEK_END), 0);
    EXPECT_EQ(io.read_func(buffer, 2, 8, source), 1u); // whole items only
    EXPECT_EQ(io.tell_func(source), player.file.fileSize - 1);
    EXPECT_EQ(io.read_func(buffer, 0, 8, source), 0u);

    // Positions outside the file are refused and leave the cursor alone.
    EXPECT_EQ(io.seek_func(source, -1, SEEK_SET), -1);
    EXPECT_EQ(io.seek_func(source, player.file.fileSize + 1, SEEK_SET), -1);
    EXPECT_EQ(io.seek_func(source, -player.file.fileSize - 1, SEEK_END), -1);
    EXPECT_EQ(io.seek_func(source, int64_t(1) << 40, SEEK_CUR), -1);
    EXPECT_EQ(io.seek_func(source, 0, 7), -1);
    EXPECT_EQ(io.tell_func(source), player.file.fileSize - 1);

    EXPECT_EQ(io.close_func(source), 0);
    EXPECT_EQ(io.tell_func(source), 0);
}

TEST(MusicDecoding, TheDemoTuneIsLongStereoMusicWithoutClipping) {
    PausedPlayer paused(readFile(TUNE_PATH));
    PortAudioOgg& player = paused.player;
    EXPECT_EQ(player.sampleRate, 48000);
    ASSERT_GE(player.totalSamples, 30 * 48000);
    std::vector<int16_t> samples = decode(player, player.totalSamples);

    // Every two-second bar carries sound, and nothing sits at full scale.
    for (int64_t bar = 0; bar * 96000 + 96000 <= player.totalSamples; ++bar) {
        EXPECT_GT(rootMeanSquare(samples, bar * 96000, 96000), 0.05 * 32768) << "bar " << bar + 1;
    }
    int clipped = 0;
    for (int16_t sample : samples) clipped += sample == 32767 || sample == -32768;
    EXPECT_EQ(clipped, 0);
    // The two channels differ: it is stereo, not mono twice.
    double difference = 0.0;
    for (size_t frame = 0; frame < samples.size() / 2; ++frame) {
        difference += std::abs(samples[frame * 2] - samples[frame * 2 + 1]);
    }
    EXPECT_GT(difference / (samples.size() / 2), 100.0);
}

// The player reads the caller's bytes as it plays, so damage done after opening shows there.
// The decoder reads ahead up to 64 KiB: the damage must lie well beyond that, in the tune.
TEST(MusicDecoding, DamagedPagesCostSoundButNeverStopThePlayback) {
    for (int damage = 0; damage < 2; ++damage) {
        SCOPED_TRACE(damage == 0 ? "garbage in a page" : "the first page of an unknown stream");
        PausedPlayer paused(readFile(TUNE_PATH));
        PortAudioOgg& player = paused.player;
        std::vector<OggPage> pages = oggPages(paused.bytes);
        ASSERT_GT(pages.size(), 20u);
        const OggPage& middle = pages[pages.size() / 2];
        if (damage == 0) {
            std::memset(&paused.bytes[middle.offset + 40], 0x55, middle.size - 40);
        } else {
            paused.bytes[middle.offset + 5] |= 0x02;  // beginning of a stream
            paused.bytes[middle.offset + 14] ^= 0x5a; // with a serial number the file does not have
            resealOggPage(paused.bytes, middle);
        }
        std::vector<int16_t> samples = decode(player, player.totalSamples + 4800);
        EXPECT_EQ(player.decodePos, player.totalSamples);
        EXPECT_GT(rootMeanSquare(samples, 48000, 48000), 0.05 * 32768); // before the damage
        for (size_t i = player.totalSamples * 2; i < samples.size(); ++i) ASSERT_EQ(samples[i], 0);
    }
}

// Damage before opening: the player either refuses the file with one of its messages or plays
// it to the end; it never crashes or hangs.
TEST(MusicDecoding, RandomlyDamagedFilesAreRefusedOrPlayed) {
    const std::vector<unsigned char> original = testFile("stereo48k.ogg");
    uint32_t state = 0x9e3779b9u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (int trial = 0; trial < 8; ++trial) {
        std::vector<unsigned char> bytes = original;
        int flips = 1 + trial * 4;
        for (int i = 0; i < flips; ++i)
            bytes[next() % bytes.size()] ^= static_cast<unsigned char>(1 + next() % 255);
        ProcessResult result = runForked([&] {
            alarm(20); // a hang ends the child by a signal, which fails the check below
            PausedPlayer paused(std::move(bytes));
            decode(paused.player, paused.player.totalSamples + 480);
            return paused.player.decodePos >= paused.player.totalSamples ? 0 : 5;
        });
        SCOPED_TRACE("trial " + std::to_string(trial) + ": " + result.out);
        if (result.exitCode == 0) continue;
        EXPECT_EQ(result.exitCode, 255);
        EXPECT_TRUE(result.out == "Fatal Error:OGG not seekable\n" ||
                    result.out == "Fatal Error:Cannot use mono channel vorbis files at this time\n" ||
                    result.out == "Fatal Error:Different samplerates detected inside file\n" ||
                    result.out == "Fatal Error:Error seeking in ogg file\n" ||
                    result.out == "Fatal Error:Error in ogg file\n");
    }
}

// ---- Fatal paths, each in a child process ----

TEST(MusicFatal, BytesThatAreNoOggFile) {
    std::string text(5000, 'x');
    expectFatal([&] { createOggPlayer(text.data(), static_cast<uint32_t>(text.size())); },
                "Fatal Error:OGG not seekable\n");
    expectFatal([] { createOggPlayer(nullptr, 0); }, "Fatal Error:OGG not seekable\n");
    std::vector<unsigned char> header = testFile("stereo48k.ogg");
    header.resize(200); // the first page only, cut short
    expectFatal([&] { createOggPlayer(header.data(), static_cast<uint32_t>(header.size())); },
                "Fatal Error:OGG not seekable\n");
}

TEST(MusicFatal, AChainedFileDamagedWhereItsSecondLinkBegins) {
    // Found by fuzzing: Tremor fails opening the second link (leaking the few bytes it took for
    // it, inside the library); the player refuses the file.
    std::vector<unsigned char> bytes = readFile(NOVA31_SOURCE_DIR "/tests/audio/damaged-second-link.ogg");
    ASSERT_EQ(bytes.size(), 8850u);
    expectFatal([&] { createOggPlayer(bytes.data(), static_cast<uint32_t>(bytes.size())); },
                "Fatal Error:OGG not seekable\n");
}

TEST(MusicFatal, FilesWithoutExactlyTwoChannels) {
    for (const char* name : {"mono48k.ogg", "six48k.ogg", "mono_second_link.ogg"}) {
        std::vector<unsigned char> bytes = testFile(name);
        SCOPED_TRACE(name);
        expectFatal([&] { createOggPlayer(bytes.data(), static_cast<uint32_t>(bytes.size())); },
                    "Fatal Error:Cannot use mono channel vorbis files at this time\n");
    }
}

TEST(MusicFatal, LinksWithDifferentSampleRates) {
    std::vector<unsigned char> bytes = testFile("chained_rates.ogg");
    expectFatal([&] { createOggPlayer(bytes.data(), static_cast<uint32_t>(bytes.size())); },
                "Fatal Error:Different samplerates detected inside file\n");
}

TEST(MusicFatal, ASecondPlayer) {
    std::vector<unsigned char> bytes = testFile("short48k.ogg");
    ProcessResult result = runForked([&] {
        EXPECT_EQ(oggPlayer(), nullptr);
        TimeSource* first = createOggPlayer(bytes.data(), static_cast<uint32_t>(bytes.size()));
        if (first == nullptr || oggPlayer() != first || !first->isPlaying()) return 3;
        std::printf("first player playing\n");
        createOggPlayer(bytes.data(), static_cast<uint32_t>(bytes.size()));
        return 4;
    });
    EXPECT_EQ(result.exitCode, 255);
    EXPECT_EQ(result.out, "first player playing\nFatal Error:Ogg player already exists\n");
}

TEST(MusicFatal, NoDefaultOutputDevice) {
    glob_t cards;
    bool hasCard = glob("/dev/snd/pcmC*p", 0, nullptr, &cards) == 0;
    globfree(&cards);
    if (hasCard) GTEST_SKIP() << "this machine has a sound card, so there is always a default device";
    std::vector<unsigned char> bytes = testFile("short48k.ogg");
    expectFatal(
        [&] {
            // Point JACK at a server that does not exist and keep it from starting one.
            setenv("JACK_DEFAULT_SERVER", ("nova31-absent-" + std::to_string(getpid())).c_str(), 1);
            setenv("JACK_NO_START_SERVER", "1", 1);
            createOggPlayer(bytes.data(), static_cast<uint32_t>(bytes.size()));
        },
        "Fatal Error:An error occured while using the portaudio stream at PA finding a default output "
        "device\nError number: 0\nError message: Success\n\n");
}

TEST(MusicFatal, SeekingWhereNoPageIsLeft) {
    ProcessResult result = runForked([] {
        PausedPlayer paused("stereo48k.ogg");
        std::vector<OggPage> pages = oggPages(paused.bytes);
        if (pages.size() < 5) return 3;
        std::memset(&paused.bytes[pages[2].offset], 0, paused.bytes.size() - pages[2].offset); // all audio
        paused.player.seek(1.5f);
        std::vector<int16_t> samples = decode(paused.player, 480);
        std::printf("seek survived\n");
        return 4;
    });
    EXPECT_EQ(result.exitCode, 255);
    EXPECT_EQ(result.out, "Fatal Error:Error seeking in ogg file\n");
}
