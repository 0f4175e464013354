// Cassette: WAV files as tapes for the machine's own load and save routines.
//
// Playing feeds the samples of a 22050 Hz, 8-bit, mono WAV into tapeLevel, one
// every clock / 22050 T-states of emulated time, kept exact by a fractional
// accumulator (at a fixed 145 T-states the tape ran 12 % fast, outside the
// 148-186 T-states per sample the BASIC ROM's loader accepts). Samples are
// taken from the file's "data" chunk, so files with longer format chunks or
// extra chunks play too. Recording appends a short synthesised waveform for
// every change of the latch's cassette bits, chosen by the interval since the
// previous change: below 1400 T-states short, up to 3399 long, from 3400 a
// gap. The ROM's save routine changes the level every 1010-1066 (short) and
// 2011-2243 (long) T-states; the thresholds sit between those.
#pragma once

#include <cstdint>
#include <string>

struct Machine;
struct MachineIo;

inline constexpr int kTapeSampleRate = 22050;
inline constexpr int kWavHeaderSize = 44;

enum TapePlayResult : int {
    kTapePlaying = 0,
    kTapeNoPath = -1,     // no tape file was chosen
    kTapeCannotOpen = -2,
    kTapeBadFormat = -3,  // not 22050 Hz, 8-bit, mono
};

struct TapeState {
    bool playing = false;
    bool recording = false;
    int64_t accumulator = 0; // emulated time not yet played, in 1/22050 T-states
    int32_t lastChange = 0;  // cycles_left at the previous recorded level change
};

int tape_play(Machine& m, MachineIo& io);
// What to tell the user about a refused playback; null for kTapePlaying.
const char* tape_play_message(int result);
// Returns false, recording nothing, when the file cannot be created.
bool tape_record(Machine& m, MachineIo& io);
// Ends a recording (its header then holds the sizes) or a playback.
void tape_stop(Machine& m, MachineIo& io);

// The loop hook's share: delta T-states of playback.
void tape_advance(Machine& m, MachineIo& io, int32_t delta);
// The bus's share: the cassette output bits changed; records while recording.
void cassette_level_change(Machine& m, MachineIo& io, uint8_t level);

inline bool tape_running(const TapeState& t) { return t.playing || t.recording; }

// How far a running tape has come: a playback in percent of its samples, a
// recording in seconds of tape.
struct TapeProgress {
    int percent = 0;
    int seconds = 0;
};
TapeProgress tape_progress(const Machine& m, const MachineIo& io);
