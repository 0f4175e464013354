// WAV files as tape signals: any PCM WAV in, clean two-level samples out.
//
// Accepted: format tag 1 (integer PCM: 8-bit unsigned, 16, 24 or 32-bit
// signed), tag 3 (32 or 64-bit float) and the extensible header (tag 0xFFFE)
// whose sub-format is one of those; any number of channels, mixed to one;
// 8000 to 192000 samples a second. Compressed audio is refused
// with a message that names it.
//
// Tapes from other tools and from real cassettes are quiet, off-centre,
// inverted, AC-coupled or noisy, so a fixed level cannot tell high from low.
// The slicer takes the centre of the signal from the lowest and highest
// sample within 2 ms on either side (about three of the shortest tape cycles,
// so it follows drift but not the signal itself) and switches with a
// hysteresis of 15 % of the signal's recent swing (remembered for about
// 20 ms), at least 0.2 % of full scale; an edge so found is placed where the
// signal crossed the centre. A window that sees less than three
// quarters of that swing (a pause with part of a cycle beside it, silence)
// leaves the centre where it was, so a flat stretch at any level keeps the
// last decision. A running mean as the centre was not used: the tape's
// waveforms are not symmetric (a long cycle drags the mean), while the
// extremes are. On the waveforms our recorder writes this gives exactly
// their 6/7 and 13/13 sample halves. Below 22050 Hz the levels come at a
// multiple of the rate (at least 44100 Hz) with each edge where the signal
// crossed between two samples, so an 8000 Hz tape's cycles keep their lengths. Channels are mixed
// with each one's sign chosen so that none cancels another (a stereo tape in
// antiphase). Polarity is not decided here (see tape_format.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "files/tape_rate.h"

inline constexpr uint32_t kWavMinRate = 8000;
inline constexpr uint32_t kWavMaxRate = 192000;
inline constexpr uint8_t kLevelHigh = 0xFF;
inline constexpr uint8_t kLevelLow = 0x00;

// A tape as the machine hears it: one level (kLevelHigh or kLevelLow) per
// sample at the recording's own rate.
struct TapeSignal {
    uint32_t rate = 0;
    std::vector<uint8_t> levels;
};

enum class WavStatus {
    ok,
    cannotOpen,
    notWav,    // not a RIFF/WAVE file at all
    notPcm,    // compressed or otherwise not sample values
    badFormat, // sample values, but a size, rate or channel count we do not take
};

struct WavRead {
    WavStatus status = WavStatus::ok;
    std::string message; // why, for the user, when not ok
};

// Reads the WAV from an open file into levels. The samples are those of the
// "data" chunk up to its stated size (to the end of the file when the size is
// 0 or runs past it, as streaming tools leave it); a file without one plays
// from offset 44, as 8-bit files always did.
WavRead wav_read_signal(std::FILE* f, TapeSignal& out);

// Turns samples (-1 to 1) into levels, sample by sample, with the delay the
// window needs; finish() delivers the last ones.
class LevelSlicer {
public:
    LevelSlicer(uint32_t rate, std::vector<uint8_t>& out);
    void push(float x);
    void finish();
    // The levels' rate: the samples' own, or below 22050 Hz the multiple of
    // it that reaches 44100, so that an edge falls where the signal crossed
    // between two samples rather than on the later one.
    uint32_t rate() const { return rate_ * factor_; }

private:
    void emit();

    std::vector<uint8_t>& out_;
    uint32_t rate_ = 0;
    size_t half_;             // window samples on each side
    uint32_t factor_;         // levels per sample
    std::vector<float> ring_; // the last 2 x half_ + 1 samples, by index modulo its size
    // Monotonic queues of sample indices (ring buffers over sizes_): the
    // window's maximum and minimum are at their fronts.
    std::vector<uint64_t> maxQ_, minQ_;
    size_t maxHead_ = 0, maxSize_ = 0, minHead_ = 0, minSize_ = 0;
    uint64_t received_ = 0, emitted_ = 0;
    float decay_;        // of the remembered swing, per sample
    float swing_ = 0.0f; // the recent half-range of the signal
    float centre_ = 0.0f;
    uint64_t lastEdge_ = 0; // the sample where the level last changed
    bool high_ = false;
};

// The 44-byte header of a 22050 Hz 8-bit mono PCM file of `samples` bytes.
std::vector<uint8_t> wav_header_8bit_mono(uint32_t samples);
