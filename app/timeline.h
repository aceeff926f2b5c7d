/* timeline.h — the demo's main-loop logic, free of window, GPU and audio device.

   The entry function runs one loop pass after another. Each pass first updates the
   frame-rate estimate and handles at most one typed key (beginLoopPass); when that says
   Render, the pass draws a frame at the music time. Everything that decides what a pass
   does lives here, driven by a millisecond clock value and a key the caller passes in, so
   tests run the timeline with a fake clock, a fake key queue and a fake TimeSource.

       TimelineState state = startTimeline(nowMilliseconds());
       while (state.demoRunning) {
           int key = pendingKeyCount() ? nextKey() : kNoKey;
           PassOutcome outcome = beginLoopPass(state, nowMilliseconds(), key, music);
           if (outcome == PassOutcome::Render) ... draw ...
           else if (outcome == PassOutcome::Paused) sleep 100 ms
       }

   It does not sleep, draw or read the clock itself. */
#pragma once

#include <cstdint>

class TimeSource;

constexpr int kNoKey = -1;
constexpr int kEscapeKey = 27;
constexpr float kDemoEndTime = 20.0f; // music seconds after which the demo ends

struct TimelineState {
    int demoRunning = 1;      // the loop runs while non-zero; Escape clears it
    bool paused = false;      // 'p' toggles it
    bool prevPaused = false;  // `paused` at the start of the current pass
    int frameCount = 0;       // loop passes so far (not rendered frames)
    float fpsEstimate = 0.1f; // frames per second, smoothed with weight 0.03 per pass
    uint32_t lastClock = 0;   // milliseconds at the previous pass (a clock that wraps at 2^32)
};

enum class PassOutcome {
    Quit,    // Escape or a close request: leave the loop now
    KeyDone, // ',' '.' or 'p' was handled: no frame in this pass
    Paused,  // paused: sleep 100 ms, no frame
    Render,  // draw a frame
};

// Clock values are milliseconds modulo 2^32: the time between two passes is their unsigned
// difference, right across the wrap (which a millisecond count since boot reaches in 49.7 days).

// State at the end of start-up: estimate 0.1, clock 100 ms in the past, no passes yet.
TimelineState startTimeline(uint32_t nowMilliseconds);

// Steps 1-4 of a pass: pass count, frame-rate estimate (and its "%4.4f FPS" line every tenth
// pass), the key (kNoKey when none was typed), the paused state.
PassOutcome beginLoopPass(TimelineState& state, uint32_t nowMilliseconds, int key, TimeSource& music);

// Blue channel of the clear colour at music time t: ((1 + floor(30 t)) mod 256) / 255 for t >= 0.
float clearColorBlue(float t);
