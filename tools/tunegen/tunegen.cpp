// tunegen — synthesizes the demo's tune and writes it as Ogg Vorbis.
//
//     tunegen OUTPUT.ogg
//
// A 120 BPM piece in A minor, 4/4, sixteen bars of two seconds over the progression
// Am - F - C - G, followed by a final A minor chord that rings out for two seconds:
//   bars  1-4  (0-8 s)    kick on every beat, chord pad fading in, hi-hats from bar 3
//   bars  5-8  (8-16 s)   bass enters, snare on beats 2 and 4, drum fill in bar 8
//   bars  9-12 (16-24 s)  lead melody, open hats on the off-beats
//   bars 13-16 (24-32 s)  the lead again, ending on a run up to the tonic, fill in bar 16
//   32 s                  crash and final chord, silence at 34 s
// Everything is computed from fixed seeds, so the output is the same on every run.

#include "tools/tunegen/oggencode.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSampleRate = 48000;
constexpr double kSecondsPerBeat = 0.5; // 120 BPM
constexpr int kBeatsPerBar = 4;
constexpr int kBars = 16;
constexpr double kEndingSeconds = 2.0;
constexpr double kTotalSeconds = kBars * kBeatsPerBar * kSecondsPerBeat + kEndingSeconds;
constexpr double kPi = 3.14159265358979323846;
constexpr float kEncodeQuality = 0.35f;

// ---- Mix buffer and small DSP helpers ----

struct Mix {
    std::vector<float> left, right;
    explicit Mix(size_t frames) : left(frames, 0.0f), right(frames, 0.0f) {}
    size_t frames() const { return left.size(); }
    // Adds a mono sample with equal-power panning; pan -1 is left, +1 right.
    void add(size_t frame, double value, double pan) {
        if (frame >= left.size()) return;
        double angle = (pan + 1.0) * 0.25 * kPi;
        left[frame] += static_cast<float>(value * std::cos(angle));
        right[frame] += static_cast<float>(value * std::sin(angle));
    }
};

double beatTime(double beat) {
    return beat * kSecondsPerBeat;
}
size_t frameAt(double seconds) {
    return static_cast<size_t>(std::max(0.0, seconds) * kSampleRate);
}
double noteFrequency(int midiNote) {
    return 440.0 * std::pow(2.0, (midiNote - 69) / 12.0);
}

// Deterministic white noise in -1..1.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed) {}
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<double>(state) / 2147483648.0 - 1.0;
    }
};

// Band-limited-enough sawtooth from its phase in cycles (0..1): a PolyBLEP corrects the jump.
double sawtooth(double phase, double phaseStep) {
    double value = 2.0 * phase - 1.0;
    if (phase < phaseStep) {
        double t = phase / phaseStep;
        value -= t + t - t * t - 1.0;
    } else if (phase > 1.0 - phaseStep) {
        double t = (phase - 1.0) / phaseStep;
        value -= t * t + t + t + 1.0;
    }
    return value;
}

// Chamberlin state-variable filter; low-pass output.
struct LowPass {
    double low = 0.0, band = 0.0;
    double process(double input, double cutoffHz, double resonance) {
        double f = 2.0 * std::sin(kPi * std::min(cutoffHz, kSampleRate / 6.0) / kSampleRate);
        low += f * band;
        double high = input - low - resonance * band;
        band += f * high;
        return low;
    }
};

// ---- Drums ----

void kick(Mix& mix, double start, double gain) {
    size_t first = frameAt(start);
    double phase = 0.0;
    for (size_t i = 0; i < frameAt(0.45); ++i) {
        double t = static_cast<double>(i) / kSampleRate;
        double frequency = 45.0 + 110.0 * std::exp(-t * 28.0);
        phase += frequency / kSampleRate;
        double body = std::sin(2.0 * kPi * phase) * std::exp(-t * 7.0);
        double click = t < 0.004 ? (1.0 - t / 0.004) * 0.5 : 0.0;
        mix.add(first + i, gain * std::tanh(1.6 * (body + click)), 0.0);
    }
}

void snare(Mix& mix, double start, double gain, Noise& noise) {
    size_t first = frameAt(start);
    double previous = 0.0;
    for (size_t i = 0; i < frameAt(0.25); ++i) {
        double t = static_cast<double>(i) / kSampleRate;
        double white = noise.next();
        double bright = white - previous; // first difference: a gentle high-pass
        previous = white;
        double tone = std::sin(2.0 * kPi * 185.0 * t) * std::exp(-t * 30.0);
        double rattle = bright * std::exp(-t * 16.0);
        mix.add(first + i, gain * (0.55 * tone + 0.5 * rattle), 0.1);
    }
}

void hiHat(Mix& mix, double start, double gain, bool open, Noise& noise) {
    size_t first = frameAt(start);
    double decay = open ? 9.0 : 45.0;
    double previous = 0.0, previous2 = 0.0;
    for (size_t i = 0; i < frameAt(open ? 0.35 : 0.08); ++i) {
        double t = static_cast<double>(i) / kSampleRate;
        double white = noise.next();
        double bright = white - 2.0 * previous + previous2; // second difference: brighter still
        previous2 = previous;
        previous = white;
        mix.add(first + i, gain * 0.14 * bright * std::exp(-t * decay), -0.35);
    }
}

void crash(Mix& mix, double start, double gain, Noise& noise) {
    size_t first = frameAt(start);
    double previous = 0.0;
    for (size_t i = 0; i < frameAt(kEndingSeconds); ++i) {
        double t = static_cast<double>(i) / kSampleRate;
        double white = noise.next();
        double bright = white - previous;
        previous = white;
        double value = gain * 0.3 * bright * std::exp(-t * 2.2);
        mix.add(first + i, value, (i & 1) ? 0.5 : -0.5); // alternate sides for width
    }
}

// ---- Pitched voices ----

// Saw bass through a low-pass whose cutoff falls after the attack: a plucked, round tone.
void bassNote(Mix& mix, double start, double length, int midiNote, double gain) {
    size_t first = frameAt(start);
    double frequency = noteFrequency(midiNote);
    double step = frequency / kSampleRate;
    double phase = 0.0;
    LowPass filter;
    for (size_t i = 0; i < frameAt(length); ++i) {
        double t = static_cast<double>(i) / kSampleRate;
        double envelope = std::min(1.0, t / 0.004) * std::exp(-t * 3.0);
        double release = std::min(1.0, (length - t) / 0.01);
        double cutoff = 180.0 + 1400.0 * std::exp(-t * 14.0);
        double value = filter.process(sawtooth(phase, step), cutoff, 0.6);
        value += 0.4 * std::sin(2.0 * kPi * phase); // keeps the fundamental strong
        phase += step;
        if (phase >= 1.0) phase -= 1.0;
        mix.add(first + i, gain * envelope * std::max(0.0, release) * value, 0.0);
    }
}

// Three detuned saws per chord note, slowly filtered; notes alternate sides.
void padChord(Mix& mix, double start, double length, const std::vector<int>& notes, double gain) {
    size_t first = frameAt(start);
    static const double kDetune[3] = {-0.07, 0.0, 0.08};
    for (size_t n = 0; n < notes.size(); ++n) {
        double pan = notes.size() > 1 ? -0.6 + 1.2 * static_cast<double>(n) / (notes.size() - 1) : 0.0;
        for (double detune : kDetune) {
            double step = noteFrequency(notes[n]) * std::pow(2.0, detune / 12.0) / kSampleRate;
            double phase = 0.37 * static_cast<double>(n) + detune; // spread the start phases
            phase -= std::floor(phase);
            LowPass filter;
            for (size_t i = 0; i < frameAt(length); ++i) {
                double t = static_cast<double>(i) / kSampleRate;
                double envelope = std::min(1.0, t / 0.25) * std::min(1.0, std::max(0.0, (length - t) / 0.3));
                double cutoff = 700.0 + 500.0 * std::sin(2.0 * kPi * 0.25 * (start + t));
                double value = filter.process(sawtooth(phase, step), cutoff, 1.0);
                phase += step;
                if (phase >= 1.0) phase -= 1.0;
                mix.add(first + i, gain * envelope * value / 3.0, pan);
            }
        }
    }
}

// Pulse lead with delayed vibrato, written into its own buffer so it can get an echo.
void leadNote(Mix& mix, double start, double length, int midiNote, double gain) {
    size_t first = frameAt(start);
    double frequency = noteFrequency(midiNote);
    double phase = 0.0;
    LowPass filter;
    for (size_t i = 0; i < frameAt(length + 0.08); ++i) {
        double t = static_cast<double>(i) / kSampleRate;
        double vibrato = 1.0 + 0.004 * std::min(1.0, t / 0.3) * std::sin(2.0 * kPi * 5.5 * t);
        double step = frequency * vibrato / kSampleRate;
        double pulse = sawtooth(phase, step) - sawtooth(std::fmod(phase + 0.35, 1.0), step);
        double envelope =
            std::min(1.0, t / 0.01) * (t < length ? 1.0 - 0.3 * std::min(1.0, t / 0.2)
                                                  : 0.7 * std::max(0.0, 1.0 - (t - length) / 0.08));
        double value = filter.process(pulse, 2600.0, 0.8);
        phase += step;
        if (phase >= 1.0) phase -= 1.0;
        mix.add(first + i, gain * envelope * value, 0.15);
    }
}

// ---- Arrangement ----

struct Note {
    double beat;   // start, in beats from the phrase start
    double length; // in beats
    int midiNote;
};

// Four bars over Am - F - C - G.
const std::vector<Note> kLeadPhrase = {
    {0, 1, 76},   {1, 0.5, 74},   {1.5, 0.5, 72}, {2, 1, 69},  {3, 1, 72}, // Am
    {4, 1.5, 72}, {5.5, 0.5, 74}, {6, 1, 76},     {7, 1, 77},              // F
    {8, 1, 79},   {9, 0.5, 76},   {9.5, 0.5, 74}, {10, 2, 72},             // C
    {12, 1, 74},  {13, 1, 71},    {14, 2, 67},                             // G
};
// The second time: same first three bars, an ending that climbs back to the tonic.
const std::vector<Note> kLeadAnswer = {
    {12, 0.5, 74}, {12.5, 0.5, 76}, {13, 0.5, 79}, {13.5, 0.5, 83}, {14, 2, 81},
};

const std::vector<int> kChords[4] = {{57, 60, 64}, {53, 57, 60}, {55, 60, 64}, {55, 59, 62}};
const int kBassRoots[4] = {33, 29, 36, 31};

void arrange(Mix& mix) {
    Noise noise(0x5eed1234u);
    for (int bar = 0; bar < kBars; ++bar) {
        double barBeat = bar * kBeatsPerBar;
        int chord = bar % 4;
        bool drumsFull = bar >= 4;
        bool fillBar = bar == 7 || bar == 15;

        double padGain = 0.16 * std::min(1.0, (bar + 1) / 2.0);
        padChord(mix, beatTime(barBeat), beatTime(kBeatsPerBar) + 0.1, kChords[chord], padGain);

        for (int beat = 0; beat < kBeatsPerBar; ++beat) {
            kick(mix, beatTime(barBeat + beat), 0.85);
            if (drumsFull && (beat == 1 || beat == 3) && !(fillBar && beat == 3)) {
                snare(mix, beatTime(barBeat + beat), 0.55, noise);
            }
        }
        if (fillBar) {
            for (int sixteenth = 0; sixteenth < 4; ++sixteenth) {
                snare(mix, beatTime(barBeat + 3 + 0.25 * sixteenth), 0.3 + 0.08 * sixteenth, noise);
            }
            kick(mix, beatTime(barBeat + 2.5), 0.6);
        }
        if (bar >= 2) {
            for (int eighth = 0; eighth < 2 * kBeatsPerBar; ++eighth) {
                bool open = bar >= 8 && eighth % 2 == 1;
                hiHat(mix, beatTime(barBeat + 0.5 * eighth), eighth % 2 == 0 ? 0.5 : 0.35, open, noise);
            }
        }
        if (bar >= 4) {
            // Root, root, octave, root ... in eighths, the last eighth leading into the next bar.
            static const int kOctave[8] = {0, 0, 12, 0, 0, 12, 0, 7};
            for (int eighth = 0; eighth < 8; ++eighth) {
                bassNote(mix, beatTime(barBeat + 0.5 * eighth), beatTime(0.45),
                         kBassRoots[chord] + kOctave[eighth], 0.5);
            }
        }
    }

    // Lead: bars 9-12, then again with the answering ending in bars 13-16, through an echo.
    Mix lead(mix.frames());
    for (int pass = 0; pass < 2; ++pass) {
        double phraseBeat = (8 + 4 * pass) * kBeatsPerBar;
        for (const Note& note : kLeadPhrase) {
            if (pass == 1 && note.beat >= 12) continue;
            leadNote(lead, beatTime(phraseBeat + note.beat), beatTime(note.length) * 0.92, note.midiNote,
                     0.2);
        }
        if (pass == 1) {
            for (const Note& note : kLeadAnswer) {
                leadNote(lead, beatTime(phraseBeat + note.beat), beatTime(note.length) * 0.92, note.midiNote,
                         0.2);
            }
        }
    }
    // Dotted-eighth echo, bouncing between the sides.
    size_t delay = frameAt(beatTime(0.75));
    for (size_t i = delay; i < lead.frames(); ++i) {
        lead.left[i] += 0.35f * lead.right[i - delay];
        lead.right[i] += 0.35f * lead.left[i - delay];
    }
    for (size_t i = 0; i < mix.frames(); ++i) {
        mix.left[i] += lead.left[i];
        mix.right[i] += lead.right[i];
    }

    // Ending on the downbeat after the last bar.
    double end = beatTime(kBars * kBeatsPerBar);
    kick(mix, end, 0.9);
    crash(mix, end, 0.8, noise);
    padChord(mix, end, kEndingSeconds, {45, 57, 60, 64, 69}, 0.2);
    bassNote(mix, end, kEndingSeconds - 0.05, 33, 0.5);
    leadNote(mix, end, 1.2, 81, 0.15);
}

// ---- Mastering ----

struct Levels {
    float peak = 0.0f;
    double rms = 0.0;
};

Levels measure(const Mix& mix, size_t first, size_t count) {
    Levels levels;
    double sum = 0.0;
    for (size_t i = first; i < first + count && i < mix.frames(); ++i) {
        levels.peak = std::max({levels.peak, std::fabs(mix.left[i]), std::fabs(mix.right[i])});
        sum +=
            static_cast<double>(mix.left[i]) * mix.left[i] + static_cast<double>(mix.right[i]) * mix.right[i];
    }
    levels.rms = count > 0 ? std::sqrt(sum / (2.0 * count)) : 0.0;
    return levels;
}

// Soft saturation, then scaling to a peak with headroom for the codec's overshoot.
void master(Mix& mix) {
    for (size_t i = 0; i < mix.frames(); ++i) {
        mix.left[i] = std::tanh(1.2f * mix.left[i]);
        mix.right[i] = std::tanh(1.2f * mix.right[i]);
    }
    constexpr float kTargetPeak = 0.78f; // about -2 dBFS before the codec
    float peak = measure(mix, 0, mix.frames()).peak;
    float scale = peak > 0.0f ? kTargetPeak / peak : 1.0f;
    for (size_t i = 0; i < mix.frames(); ++i) {
        mix.left[i] *= scale;
        mix.right[i] *= scale;
    }
    // The last 20 ms fade to zero so the file ends without a click.
    size_t fade = frameAt(0.02);
    for (size_t i = 0; i < fade; ++i) {
        float gain = static_cast<float>(i) / static_cast<float>(fade);
        mix.left[mix.frames() - 1 - i] *= gain;
        mix.right[mix.frames() - 1 - i] *= gain;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tunegen OUTPUT.ogg\n");
        return 2;
    }
    Mix mix(frameAt(kTotalSeconds));
    arrange(mix);
    master(mix);

    // One line per bar, so a silent or clipping stretch shows at a glance.
    for (int bar = 0; bar * 2.0 < kTotalSeconds; ++bar) {
        Levels levels = measure(mix, frameAt(bar * 2.0), frameAt(2.0));
        std::printf("bar %2d  peak %.3f  rms %.3f\n", bar + 1, levels.peak, levels.rms);
    }

    OggLink link;
    link.channels = 2;
    link.sampleRate = kSampleRate;
    link.samples.resize(2 * mix.frames());
    for (size_t i = 0; i < mix.frames(); ++i) {
        link.samples[2 * i] = mix.left[i];
        link.samples[2 * i + 1] = mix.right[i];
    }
    std::string error;
    if (!writeOggVorbisFile(argv[1], {link}, kEncodeQuality, &error)) {
        std::fprintf(stderr, "tunegen: %s\n", error.c_str());
        return 1;
    }
    std::printf("wrote %s: %.1f s, stereo, %d Hz\n", argv[1], kTotalSeconds, kSampleRate);
    return 0;
}
