// Cassette: WAV and .cas files as tapes for the machine's own load and save
// routines.
//
// Play reads the whole tape at once into levels, one byte per sample at the
// file's own rate (any PCM WAV, see files/wav_audio.h; a .cas file becomes the
// signal the ROM would record for its bytes). The levels are clean 0x00/0xFF,
// sliced as files/wav_audio.h says (the fixed threshold of old, 181, read a
// quiet or off-centre tape as all high or all low); below 22050 Hz they come
// at a multiple of the file's rate. Our recorder's own waveforms come out as
// their exact 6/7 and 13/13-sample halves. A recording whose leader
// decodes only upside down (files/tape_format.h) is turned over, so the
// machine sees every cycle as the ROM writes it, high half first. Playback
// feeds one level into tapeLevel every clock / rate T-states of emulated
// time, kept exact by an integer accumulator, so no rate needs resampling and
// none drifts (at a fixed 145 T-states a 22050 Hz tape ran 12 % fast, outside
// the 148-186 T-states per sample the BASIC ROM's loader accepts). The
// position is plain data in TapeState; the levels live beside the Machine.
//
// Recording appends a short synthesised waveform for every change of the
// latch's cassette bits, chosen by the interval since the previous change:
// below 1400 T-states short, up to 3399 long. The ROM's save routine changes
// the level every 1010-1066 (short) and 2011-2243 (long) T-states; the
// thresholds sit between those. From 3400 the ROM held a level: the first
// change of a recording appends the lead-in, any later one the long waveform
// and the pause, so a CSAVE comes out sample for sample as the converter
// writes its bytes (files/tape_format.h). The header holds the sizes so far
// from every second of tape on, and after Stop all of them.
#pragma once

#include <cstdint>
#include <string>

#include "files/tape_rate.h"

struct Machine;
struct MachineIo;

inline constexpr int kWavHeaderSize = 44;

enum TapePlayResult : int {
    kTapePlaying = 0,
    kTapeNoPath = -1,     // no tape file was chosen
    kTapeCannotOpen = -2,
    kTapeBadFormat = -3,  // sample values of a size, rate or channel count we do not take; an empty .cas
    kTapeNotPcm = -4,     // compressed audio
    kTapeNotWav = -5,     // neither RIFF/WAVE nor a .cas file
};

struct TapeState {
    bool playing = false;
    bool recording = false;
    int64_t accumulator = 0; // emulated time not yet played, in 1/rate T-states
    int32_t lastChange = 0;  // cycles_left at the previous recorded level change
    uint32_t rate = 0;       // samples a second of the tape that plays
    uint64_t position = 0;   // the next sample to play
};

int tape_play(Machine& m, MachineIo& io);
// What to tell the user about a refused playback, in general terms; null for
// kTapePlaying.
const char* tape_play_message(int result);
// The same, saying what the file is where the refusal knows it (its format
// tag, rate, sample size).
std::string tape_play_message(int result, const MachineIo& io);
// Returns false, recording nothing, when the file cannot be created.
bool tape_record(Machine& m, MachineIo& io);
// Ends a recording (its header then holds the sizes) or a playback.
void tape_stop(Machine& m, MachineIo& io);
// Brings a running recording's header up to date and its samples to the
// file, leaving it running (as saving a state does; recording does it once a
// second of tape by itself).
void tape_update_recording(const Machine& m, MachineIo& io);

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
