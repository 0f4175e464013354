#include "machine/cassette.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "files/tape_files.h"
#include "machine/machine.h"
#include "machine/machine_io.h"

namespace {

constexpr int32_t kShortBelow = 1400;
constexpr int32_t kGapFrom = 3400;

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Writes the sizes so far into the header and hands everything to the
// system, so that a crash leaves a valid WAV of what was recorded.
void update_header(MachineIo& io) {
    std::FILE* f = io.tape.file.get();
    uint8_t sizes[4];
    std::fflush(f);
    put32(sizes, io.tape.recordedCount + 36);
    if (std::fseek(f, 4, SEEK_SET) == 0) std::fwrite(sizes, 1, 4, f);
    put32(sizes, io.tape.recordedCount);
    if (std::fseek(f, 40, SEEK_SET) == 0) std::fwrite(sizes, 1, 4, f);
    std::fseek(f, 0, SEEK_END);
    std::fflush(f);
}

void append(MachineIo& io, std::span<const uint8_t> w) {
    const uint32_t before = io.tape.recordedCount;
    if (std::fwrite(w.data(), 1, w.size(), io.tape.file.get()) == w.size()) io.tape.recordedCount += uint32_t(w.size());
    // Once a second of tape: a crash loses at most that second.
    if (io.tape.recordedCount / kTapeSampleRate != before / kTapeSampleRate) update_header(io);
}

void finalise_recording(MachineIo& io) {
    if (!io.tape.file) return; // a machine that records with no file (a restored record of the flag) has nothing to close
    update_header(io);
    io.tape.file.reset();
}

} // namespace

int tape_play(Machine& m, MachineIo& io) {
    tape_stop(m, io);
    io.tape.refusal.clear();
    if (io.tape.path.empty()) return kTapeNoPath;
    TapeSignal signal;
    const WavRead read = tape_read_signal(io.tape.path, signal);
    io.tape.refusal = read.message;
    switch (read.status) {
    case WavStatus::ok: break;
    case WavStatus::cannotOpen: return kTapeCannotOpen;
    case WavStatus::notWav: return kTapeNotWav;
    case WavStatus::notPcm: return kTapeNotPcm;
    case WavStatus::badFormat: return kTapeBadFormat;
    }
    if (tape_signal_inverted(signal).value_or(false))
        for (uint8_t& level : signal.levels) level = uint8_t(~level);
    io.tape.levels = std::move(signal.levels);
    m.tape.playing = true;
    m.tape.rate = signal.rate;
    m.tape.position = 0;
    m.tape.accumulator = 0;
    return kTapePlaying;
}

const char* tape_play_message(int result) {
    switch (result) {
    case kTapePlaying: return nullptr;
    case kTapeNoPath: return "To play a tape, first map the tape image to a wav file";
    case kTapeCannotOpen: return "Could not open file. Please map to a valid image";
    case kTapeNotPcm: return "This WAV file holds compressed audio, which cannot be played as a tape. Please map to another image";
    case kTapeNotWav: return "This file is neither a WAV file nor a .cas tape. Please map to another image";
    default:
        return "This tape cannot be played: a WAV tape needs 8 to 32-bit PCM or floating-point samples at 8000 "
               "to 192000 Hz. Please map to another image";
    }
}

std::string tape_play_message(int result, const MachineIo& io) {
    const char* general = tape_play_message(result);
    if (!general) return {};
    // The first two keep their own texts; users and their scripts know them.
    if (result == kTapeNoPath || result == kTapeCannotOpen || io.tape.refusal.empty()) return general;
    return io.tape.refusal;
}

bool tape_record(Machine& m, MachineIo& io) {
    tape_stop(m, io);
    if (io.tape.path.empty()) return false;
    FilePtr f(std::fopen(io.tape.path.c_str(), "wb+"));
    if (!f) return false;
    // The sizes stay 0 until Stop writes them.
    std::vector<uint8_t> header = wav_header_8bit_mono(0);
    put32(&header[4], 0);
    if (std::fwrite(header.data(), 1, header.size(), f.get()) != header.size()) return false;
    io.tape.file = std::move(f);
    io.tape.recordedCount = 0;
    m.tape.recording = true;
    return true;
}

void tape_stop(Machine& m, MachineIo& io) {
    if (m.tape.recording) {
        m.tape.recording = false;
        finalise_recording(io);
    }
    if (m.tape.playing) {
        m.tape.playing = false;
        m.state.tapeLevel = 0x80;
        io.tape.levels = {};
    }
}

void tape_advance(Machine& m, MachineIo& io, int32_t delta) {
    TapeState& t = m.tape;
    const int64_t period = int64_t(m.z80.cycle_period) * 50; // T-states per emulated second
    t.accumulator += int64_t(delta) * t.rate;
    while (t.accumulator >= period) {
        if (t.position >= io.tape.levels.size()) {
            t.playing = false;
            t.accumulator = 0;
            m.state.tapeLevel = 0x00;
            io.tape.levels = {};
            return;
        }
        m.state.tapeLevel = io.tape.levels[t.position++];
        t.accumulator -= period;
    }
}

TapeProgress tape_progress(const Machine& m, const MachineIo& io) {
    TapeProgress p;
    if (m.tape.recording) p.seconds = int(io.tape.recordedCount / kTapeSampleRate);
    if (m.tape.playing && !io.tape.levels.empty())
        p.percent = int(std::min<uint64_t>(m.tape.position * 100 / io.tape.levels.size(), 100));
    return p;
}

void cassette_level_change(Machine& m, MachineIo& io, uint8_t level) {
    TapeState& t = m.tape;
    if (!t.recording || !io.tape.file) return;
    const int32_t interval = cycles_since(t.lastChange, m.z80);
    if (level != 0x00 && level != 0xFF) return;
    const bool high = level == 0xFF;
    if (interval < kGapFrom) {
        append(io, tape_waveform(interval >= kShortBelow, high));
    } else if (io.tape.recordedCount == 0) {
        append(io, tape_silence(true));
    } else {
        // The ROM held the level while it printed: the half it held, then
        // the pause, as the converter writes it.
        append(io, tape_waveform(true, high));
        append(io, tape_silence(false));
    }
}

void tape_update_recording(const Machine& m, MachineIo& io) {
    if (m.tape.recording && io.tape.file) update_header(io);
}
