#include "app/timeline.h"
#include <algorithm>

#include "audio/music.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what the timeline asks of the music.
class FakeMusic : public TimeSource {
public:
    float time = 0.0f;
    bool playing = true;
    std::vector<float> seeks;
    std::vector<bool> playingCalls;

    bool isPlaying() override { return playing; }
    void setPlaying(bool on) override {
        playingCalls.push_back(on);
        playing = on;
    }
    void seek(float seconds) override {
        seeks.push_back(seconds);
        time = seconds;
    }
    float currentTime() override { return time; }
};

struct TimelineRun {
    explicit TimelineRun(uint32_t start = 1000) : state(startTimeline(start)), clock(start) {}
    TimelineState state;
    FakeMusic music;
    uint32_t clock;

    PassOutcome pass(int key = kNoKey, uint32_t elapsed = 16) {
        clock += elapsed;
        return beginLoopPass(state, clock, key, music);
    }
};

} // namespace

TEST(Timeline, PassWithoutKeyRenders) {
    TimelineRun run;
    EXPECT_EQ(run.pass(), PassOutcome::Render);
    EXPECT_EQ(run.state.frameCount, 1);
}

TEST(Timeline, CommaSeeksBackFiveSecondsButNotBeforeTheStart) {
    TimelineRun run;
    run.music.time = 3.0f;
    EXPECT_EQ(run.pass(','), PassOutcome::KeyDone);
    run.music.time = 12.5f;
    EXPECT_EQ(run.pass(','), PassOutcome::KeyDone);
    run.music.time = 5.0f;
    run.pass(',');
    EXPECT_EQ(run.music.seeks, (std::vector<float>{0.0f, 7.5f, 0.0f}));
}

TEST(Timeline, PeriodSeeksForwardFiveSeconds) {
    TimelineRun run;
    run.music.time = 17.25f;
    EXPECT_EQ(run.pass('.'), PassOutcome::KeyDone);
    EXPECT_EQ(run.music.seeks, (std::vector<float>{22.25f}));
}

TEST(Timeline, PTogglesPauseAndPassesThePreviousStateToTheMusic) {
    TimelineRun run;
    EXPECT_EQ(run.pass('p'), PassOutcome::KeyDone);
    EXPECT_TRUE(run.state.paused);
    EXPECT_EQ(run.music.playingCalls, (std::vector<bool>{false}));
    EXPECT_EQ(run.pass(), PassOutcome::Paused);
    EXPECT_EQ(run.pass(), PassOutcome::Paused);
    // Seeks still work while paused and draw nothing.
    EXPECT_EQ(run.pass(','), PassOutcome::KeyDone);
    EXPECT_EQ(run.pass('p'), PassOutcome::KeyDone);
    EXPECT_FALSE(run.state.paused);
    EXPECT_EQ(run.music.playingCalls, (std::vector<bool>{false, true}));
    EXPECT_EQ(run.pass(), PassOutcome::Render);
}

TEST(Timeline, OtherCharactersAreIgnoredAndCostNoFrame) {
    TimelineRun run;
    for (int key : {int('P'), int('a'), int(' '), int('<'), int('>'), 13})
        EXPECT_EQ(run.pass(key), PassOutcome::Render) << key;
    EXPECT_TRUE(run.music.seeks.empty());
    EXPECT_TRUE(run.music.playingCalls.empty());
    EXPECT_FALSE(run.state.paused);
}

TEST(Timeline, EscapeQuitsEvenWhilePaused) {
    TimelineRun run;
    run.pass('p');
    EXPECT_EQ(run.pass(kEscapeKey), PassOutcome::Quit);
    EXPECT_EQ(run.state.demoRunning, 0);
}

TEST(Timeline, FirstFrameRateLineInTheTenthPass) {
    TimelineRun run;
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 9; ++i) run.pass();
    std::string afterNine = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(afterNine, "");
    ::testing::internal::CaptureStdout();
    run.pass();
    std::string tenth = ::testing::internal::GetCapturedStdout();
    // First pass sees 116 ms since start-up (clock set 100 ms back), then 16 ms per pass.
    double estimate = 0.1;
    estimate = static_cast<float>(1000.0 / (116 + 0.00001) * 0.03 + estimate * 0.97);
    for (int i = 1; i < 10; ++i)
        estimate = static_cast<float>(1000.0 / (16 + 0.00001) * 0.03 + estimate * 0.97);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%4.4f FPS\n", estimate);
    EXPECT_EQ(tenth, expected);
    EXPECT_FLOAT_EQ(run.state.fpsEstimate, static_cast<float>(estimate));
    // Key and paused passes count too.
    ::testing::internal::CaptureStdout();
    run.pass('p');
    for (int i = 0; i < 9; ++i) run.pass();
    std::string next = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(next.begin(), next.end(), '\n'), 1);
}

TEST(Timeline, FrameRateConvergesToThePassRate) {
    TimelineRun run;
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 600; ++i) run.pass(kNoKey, 20);
    ::testing::internal::GetCapturedStdout();
    EXPECT_NEAR(run.state.fpsEstimate, 50.0f, 0.01f);
}

TEST(Timeline, FrameRateStaysRightAcrossTheClockWrap) {
    // Where a signed 32-bit count overflows (24.8 days of uptime) and where the clock wraps to 0.
    for (uint32_t start : {0x7FFFFF00u, 0xFFFFFF00u, 0xFFFFFFFFu}) {
        TimelineRun run(start);
        ::testing::internal::CaptureStdout();
        for (int i = 0; i < 600; ++i) run.pass(kNoKey, 20);
        ::testing::internal::GetCapturedStdout();
        EXPECT_NEAR(run.state.fpsEstimate, 50.0f, 0.01f) << start;
    }
}

TEST(ClearColor, RampStepsThirtyTimesPerSecondAndWraps) {
    EXPECT_FLOAT_EQ(clearColorBlue(0.0f), 1.0f / 255.0f);
    EXPECT_FLOAT_EQ(clearColorBlue(0.04f), 2.0f / 255.0f); // floor(1.2) = 1
    EXPECT_FLOAT_EQ(clearColorBlue(1.0f), 31.0f / 255.0f);
    EXPECT_FLOAT_EQ(clearColorBlue(8.5f), 0.0f); // 1 + 255 = 256 wraps to 0
    EXPECT_FLOAT_EQ(clearColorBlue(8.45f), 254.0f / 255.0f);
    EXPECT_FLOAT_EQ(clearColorBlue(19.99f), static_cast<float>(((1 + 599) % 256) / 255.0));
}
