/* progress.h — how far a long run of nova31-shot has come, on standard error.

       Progress progress(600);             // frames to go
       for (...) { ...; progress.frameDone(); }
       progress.end();

   On a terminal: one bar, redrawn in place, with the frames done of the total, the frames per
   second so far and the time left. Otherwise (a log, a pipe, CI) one line every 10%. */
#pragma once

#include <chrono>

class Progress {
public:
    explicit Progress(long total);
    void frameDone();
    void end(); // ends the bar's line on a terminal

private:
    void draw();
    long total;
    long done = 0;
    int tenthsShown = 0; // lines written so far without a terminal
    bool terminal;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};
