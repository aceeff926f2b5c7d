#include "tools/nova31-shot/progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

Progress::Progress(long frames) : total(frames > 0 ? frames : 1), terminal(isatty(2) != 0) {}

void Progress::frameDone() {
    ++done;
    if (terminal) {
        draw();
        return;
    }
    int tenths = static_cast<int>(done * 10 / total);
    if (tenths > tenthsShown) {
        tenthsShown = tenths;
        draw();
    }
}

void Progress::end() {
    if (terminal && done > 0) std::fputc('\n', stderr);
}

void Progress::draw() {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double rate = seconds > 0 ? done / seconds : 0.0;
    long left = rate > 0 ? static_cast<long>((total - done) / rate + 0.5) : 0;
    char remaining[32];
    std::snprintf(remaining, sizeof remaining, "%ld:%02ld", left / 60, left % 60);
    int percent = static_cast<int>(done * 100 / total);
    if (terminal) {
        constexpr int kWidth = 30;
        char bar[kWidth + 1];
        int filled = static_cast<int>(done * kWidth / total);
        for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '-';
        bar[kWidth] = '\0';
        // "\r" back to the line's start, "\033[K" clears what a longer line left.
        std::fprintf(stderr, "\r[%s] %ld/%ld frames %3d%%  %.2f frames/s  %s left\033[K", bar, done, total,
                     percent, rate, remaining);
    } else {
        std::fprintf(stderr, "nova31-shot: %ld/%ld frames (%d%%), %.2f frames/s, %s left\n", done, total,
                     percent, rate, remaining);
    }
    std::fflush(stderr);
}
