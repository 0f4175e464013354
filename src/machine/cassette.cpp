#include "machine/cassette.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "machine/machine.h"
#include "machine/machine_io.h"

namespace {

constexpr uint8_t kShortLow[] = {0x70, 0x54, 0x49, 0x43, 0x43, 0x41, 0x6D};
constexpr uint8_t kShortHigh[] = {0x9D, 0xB1, 0xBC, 0xBD, 0xC1, 0xAC};
constexpr uint8_t kLongLow[] = {0x59, 0x48, 0x3E, 0x3C, 0x3B, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x41, 0x42, 0x76};
constexpr uint8_t kLongHigh[] = {0x8B, 0xAA, 0xB7, 0xBC, 0xBE, 0xBE, 0xBD, 0xBC, 0xBB, 0xBB, 0xB8, 0xBA, 0x8D};
constexpr int kGapLength = 39;
constexpr int32_t kShortBelow = 1400;
constexpr int32_t kGapFrom = 3400;

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Walks the RIFF chunks from offset 12 for the "fmt " and "data" chunks.
// Returns the offset of the first sample (44 when there is no "data" chunk)
// and points `format` at the format fields, which stay at their usual offsets
// when there is no "fmt " chunk.
long find_chunks(std::FILE* f, std::array<uint8_t, kWavHeaderSize>& header) {
    long offset = 12;
    bool haveFormat = false;
    for (int chunks = 0; chunks < 64; ++chunks) {
        uint8_t head[8];
        if (std::fseek(f, offset, SEEK_SET) != 0 || std::fread(head, 1, 8, f) != 8) break;
        const uint32_t size = le32(head + 4);
        if (!haveFormat && std::memcmp(head, "fmt ", 4) == 0 && size >= 16) {
            uint8_t fmt[16];
            if (std::fread(fmt, 1, 16, f) == 16) {
                std::memcpy(header.data() + 20, fmt, 16); // channels at 22, rate at 24, bits at 34
                haveFormat = true;
            }
        } else if (std::memcmp(head, "data", 4) == 0) {
            return offset + 8;
        }
        const long next = offset + 8 + long(size) + long(size & 1);
        if (next <= offset || next > 0x7FFFFFFFL - 16) break;
        offset = next;
    }
    return kWavHeaderSize;
}

void append(MachineIo& io, const uint8_t* bytes, size_t count) {
    if (std::fwrite(bytes, 1, count, io.tape.file.get()) == count) io.tape.recordedCount += uint32_t(count);
}

void finalise_recording(MachineIo& io) {
    std::FILE* f = io.tape.file.get();
    std::array<uint8_t, kWavHeaderSize> header{};
    std::fflush(f);
    if (std::fseek(f, 0, SEEK_SET) == 0 && std::fread(header.data(), 1, header.size(), f) == header.size()) {
        put32(header.data() + 40, io.tape.recordedCount);
        put32(header.data() + 4, io.tape.recordedCount + 36);
        if (std::fseek(f, 0, SEEK_SET) == 0) std::fwrite(header.data(), 1, header.size(), f);
    }
    io.tape.file.reset();
}

std::array<uint8_t, kWavHeaderSize> empty_header() {
    std::array<uint8_t, kWavHeaderSize> h{};
    std::memcpy(&h[0], "RIFF", 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put32(&h[16], 16);
    h[20] = 1;  // PCM
    h[22] = 1;  // mono
    put32(&h[24], kTapeSampleRate);
    put32(&h[28], kTapeSampleRate);
    h[32] = 1;  // block align
    h[34] = 8;  // bits per sample
    std::memcpy(&h[36], "data", 4);
    return h;
}

} // namespace

int tape_play(Machine& m, MachineIo& io) {
    tape_stop(m, io);
    if (io.tape.path.empty()) return kTapeNoPath;
    FilePtr f(std::fopen(io.tape.path.c_str(), "rb"));
    if (!f) return kTapeCannotOpen;
    std::array<uint8_t, kWavHeaderSize> header{};
    if (std::fread(header.data(), 1, header.size(), f.get()) != header.size()) return kTapeBadFormat;
    const long samples = find_chunks(f.get(), header);
    if (le16(&header[22]) != 1 || le32(&header[24]) != kTapeSampleRate || le16(&header[34]) != 8)
        return kTapeBadFormat;
    if (std::fseek(f.get(), 0, SEEK_END) != 0) return kTapeBadFormat;
    io.tape.dataEnd = std::ftell(f.get());
    io.tape.dataStart = samples;
    if (std::fseek(f.get(), samples, SEEK_SET) != 0) return kTapeBadFormat;
    io.tape.file = std::move(f);
    m.tape.playing = true;
    m.tape.accumulator = 0;
    return kTapePlaying;
}

const char* tape_play_message(int result) {
    switch (result) {
    case kTapePlaying: return nullptr;
    case kTapeNoPath: return "To play a tape, first map the tape image to a wav file";
    case kTapeCannotOpen: return "Could not open file. Please map to a valid image";
    default: return "WAV file must be 22050hz 8 bit mono PCM. Please map to another image";
    }
}

bool tape_record(Machine& m, MachineIo& io) {
    tape_stop(m, io);
    if (io.tape.path.empty()) return false;
    FilePtr f(std::fopen(io.tape.path.c_str(), "wb+"));
    if (!f) return false;
    const auto header = empty_header();
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
        io.tape.file.reset();
    }
}

void tape_advance(Machine& m, MachineIo& io, int32_t delta) {
    TapeState& t = m.tape;
    const int64_t period = int64_t(m.z80.cycle_period) * 50; // T-states per emulated second
    t.accumulator += int64_t(delta) * kTapeSampleRate;
    while (t.accumulator >= period) {
        std::FILE* f = io.tape.file.get();
        if (!f || std::feof(f)) {
            t.playing = false;
            t.accumulator = 0;
            m.state.tapeLevel = 0x00;
            io.tape.file.reset();
            return;
        }
        const int c = std::fgetc(f);
        if (c != EOF) m.state.tapeLevel = uint8_t(c);
        t.accumulator -= period;
    }
}

TapeProgress tape_progress(const Machine& m, const MachineIo& io) {
    TapeProgress p;
    if (m.tape.recording) p.seconds = int(io.tape.recordedCount / kTapeSampleRate);
    if (m.tape.playing && io.tape.file && io.tape.dataEnd > io.tape.dataStart) {
        const long at = std::ftell(io.tape.file.get()) - io.tape.dataStart;
        p.percent = int(std::clamp(at * 100 / (io.tape.dataEnd - io.tape.dataStart), 0L, 100L));
    }
    return p;
}

void cassette_level_change(Machine& m, MachineIo& io, uint8_t level) {
    TapeState& t = m.tape;
    if (!t.recording || !io.tape.file) return;
    const int32_t now = m.z80.cycles_left;
    if (now > t.lastChange) t.lastChange += m.z80.cycle_period;
    const int32_t interval = t.lastChange - now;
    t.lastChange = now;
    if (level != 0x00 && level != 0xFF) return;
    const bool low = level == 0x00;
    if (interval >= kGapFrom) {
        uint8_t gap[kGapLength];
        std::memset(gap, 0x80, sizeof gap);
        append(io, gap, sizeof gap);
    } else if (interval >= kShortBelow) {
        append(io, low ? kLongLow : kLongHigh, low ? sizeof kLongLow : sizeof kLongHigh);
    } else {
        append(io, low ? kShortLow : kShortHigh, low ? sizeof kShortLow : sizeof kShortHigh);
    }
}
