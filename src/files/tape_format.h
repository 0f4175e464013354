// The BASIC ROM's cassette format: a program as bytes, the bytes as a signal,
// and back.
//
// Bytes: the leader (0x80, 255 times from the ROM), five sync bytes 0xFE, the
// file type (0xF0 BASIC, 0xF1 machine code), the name (up to 17 characters)
// and 0x00, the start and the end address (little-endian; the end is the
// first address past the data), the data, and a little-endian 16-bit checksum,
// the sum of the four address bytes and every data byte. A `.cas` file is that
// stream from the leader on.
//
// Signal: every bit lasts 39 samples at 22050 Hz, most significant bit first:
// a 1 is three short cycles (13 samples), a 0 a short cycle and a long one
// (26). A cycle is its high half, then its low half. The bytes run on without
// a break except after the name's 0x00: there the ROM's save routine holds
// its last level for about 3 ms while its loader prints the name and hears
// nothing, so a tape without that pause does not load. As samples we write
// what our recorder writes when the ROM saves (TapeSampleWriter, the one
// place all our tape signals come from): a lead-in at the centre level, the
// short and long waveforms (6 + 7 and 13 + 13 samples), and the pause at the
// centre level, through which a reader keeps the level it had.
//
// Decoding pairs each high run of a sliced signal with the low run after it
// and sorts the cycle by its length against the nominal short cycle at the
// signal's rate (short below 1.5, long below 3 short cycles). Which level is
// "high" is decided by the leader: the polarity in which four leader bytes
// and two sync bytes decode. In the other one the cycles straddle the halves
// and nothing decodes. Positions in messages count from 0.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "files/file_outcome.h"
#include "files/wav_audio.h"

inline constexpr int kTapeLeaderLength = 255;
inline constexpr uint8_t kTapeLeaderByte = 0x80;
inline constexpr uint8_t kTapeSyncByte = 0xFE;
inline constexpr int kTapeSyncLength = 5;
inline constexpr size_t kTapeNameMax = 17;
// The centre level, neither high nor low, of the lead-in and the pause.
inline constexpr uint8_t kTapeCentre = 0x80;
inline constexpr int kTapeLeadInSamples = 39;
// 3 ms, about what the ROM's save routine spends after the name.
inline constexpr int kTapePauseSamples = 66;

struct TapeProgram {
    uint8_t type = 0xF0;  // 0xF0 BASIC, 0xF1 machine code
    std::string name;     // up to 17 characters, none of them 0
    uint16_t start = 0;
    std::vector<uint8_t> data; // the end address is start + size
};

// What our recorder appends when the output changes to `high` (or low) after
// a short or a long interval: 6 or 7 samples short, 13 long.
std::span<const uint8_t> tape_waveform(bool isLong, bool high);

// The centre-level samples of the lead-in (before a recording's first change)
// or of the pause (after the long half that the ROM holds while it prints).
std::span<const uint8_t> tape_silence(bool leadIn);

// Turns a byte stream, in pieces, into the samples the ROM's save routine
// gives through our recorder: the lead-in first, and the pause after the 0x00
// that ends each program's name (found by following the format: sync bytes,
// type, name; the addresses then say how far the program runs).
class TapeSampleWriter {
public:
    explicit TapeSampleWriter(std::vector<uint8_t>& out);
    void push(std::span<const uint8_t> bytes);

private:
    enum class Field { seek, sync, name, addresses, data, checksum };
    void follow(uint8_t b);

    std::vector<uint8_t>& out_;
    Field field_ = Field::seek;
    size_t count_ = 0;  // bytes of the field so far, or left of it (data, checksum)
    uint8_t addresses_[4] = {};
};

// The recorded byte stream of a program (the program must fit below 0x10000
// and its name the 17 characters).
std::vector<uint8_t> tape_bytes(const TapeProgram& p);

// The 22050 Hz 8-bit samples that carry these bytes (TapeSampleWriter).
std::vector<uint8_t> tape_samples(std::span<const uint8_t> bytes);

// A program from a `.cas` byte stream, or why not and where.
FileOutcome tape_parse_cas(std::span<const uint8_t> bytes, TapeProgram& out);

// A program from a sliced signal of either polarity, or why not and where.
FileOutcome tape_decode_signal(const TapeSignal& signal, TapeProgram& out);

// Whether the signal's high level is the ROM's low half (the recording is
// inverted); nullopt when no leader decodes in either polarity.
std::optional<bool> tape_signal_inverted(const TapeSignal& signal);

// `.vz` files: bytes 4-20 the name (zero-padded), 21 the type, 22-23 the
// start address, then the data.
FileOutcome tape_program_from_vz(std::span<const uint8_t> file, TapeProgram& out);
FileOutcome tape_program_to_vz(const TapeProgram& p, std::vector<uint8_t>& file);
