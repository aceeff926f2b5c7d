#include "app/timeline.h"

#include "app/console.h"
#include "audio/music.h"

#include <cstdint>

TimelineState startTimeline(uint32_t nowMilliseconds) {
    TimelineState state;
    state.fpsEstimate = 0.1f;
    state.lastClock = nowMilliseconds - 100;
    state.frameCount = 0;
    return state;
}

namespace {

void updateFrameRate(TimelineState& state, uint32_t now) {
    double elapsed = static_cast<double>(now - state.lastClock); // modulo 2^32: right across the wrap
    state.fpsEstimate = static_cast<float>((1000.0 / (elapsed + 0.00001)) * 0.03 +
                                           static_cast<double>(state.fpsEstimate) * 0.97);
    if (state.frameCount % 10 == 0) consoleLog("%4.4f FPS\n", static_cast<double>(state.fpsEstimate));
    state.lastClock = now;
}

} // namespace

PassOutcome beginLoopPass(TimelineState& state, uint32_t nowMilliseconds, int key, TimeSource& music) {
    state.prevPaused = state.paused;
    state.frameCount += 1;
    updateFrameRate(state, nowMilliseconds);

    switch (key) {
    case kNoKey:
        break;
    case kEscapeKey:
        state.demoRunning = 0;
        return PassOutcome::Quit;
    case ',': {
        float t = music.currentTime();
        music.seek(t > 5.0f ? t - 5.0f : 0.0f);
        return PassOutcome::KeyDone;
    }
    case '.':
        music.seek(music.currentTime() + 5.0f);
        return PassOutcome::KeyDone;
    case 'p':
        state.paused = !state.paused;
        // Resuming passes true (was paused), pausing passes false.
        music.setPlaying(state.prevPaused);
        return PassOutcome::KeyDone;
    default:
        break; // any other character is dropped and the pass goes on
    }
    if (state.paused) return PassOutcome::Paused;
    return PassOutcome::Render;
}

float clearColorBlue(float t) {
    int n = static_cast<int>(t * -30.0f);
    uint32_t low = static_cast<uint32_t>(1 - n) & 0xFFu;
    return static_cast<float>(static_cast<double>(low) / 255.0);
}
