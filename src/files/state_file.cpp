#include "files/state_file.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "files/file_io.h"
#include "files/section_codec.h"
#include "machine/cassette.h"
#include "machine/disk.h"
#include "machine/emulator.h"
#include "machine/frame.h"
#include "machine/machine_parts.h"

namespace {

constexpr char kMagic[8] = {'K', 'O', 'L', 'T', 'S', 'T', 'A', 'T'};
constexpr size_t kHeaderSize = 24;
constexpr uint32_t kMaxRawSection = 8u << 20;
constexpr size_t kMaxNameLength = 32;
constexpr size_t kMaxSections = 256;
constexpr size_t kMaxPathLength = 4096;
// The most an instruction and an accepted interrupt can overrun the slice by,
// with a wide margin.
constexpr int32_t kMaxOverrun = 256;

class Writer {
  public:
    std::vector<uint8_t> bytes;

    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v) { le(v, 2); }
    void u32(uint32_t v) { le(v, 4); }
    void i16(int16_t v) { le(uint16_t(v), 2); }
    void i32(int32_t v) { le(uint32_t(v), 4); }
    void i64(int64_t v) { le(uint64_t(v), 8); }
    void f32(float v) { u32(std::bit_cast<uint32_t>(v)); }
    void raw(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
    }
    void text(std::string_view s) {
        u32(uint32_t(s.size()));
        raw(s.data(), s.size());
    }

  private:
    void le(uint64_t v, int count) {
        for (int i = 0; i < count; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
    }
};

// Reads past the end give zeros and mark the body bad; `complete` then also
// requires that every byte was used.
class Reader {
  public:
    explicit Reader(std::span<const uint8_t> b) : b_(b) {}

    uint8_t u8() { return uint8_t(le(1)); }
    uint16_t u16() { return uint16_t(le(2)); }
    uint32_t u32() { return uint32_t(le(4)); }
    int16_t i16() { return int16_t(u16()); }
    int32_t i32() { return int32_t(u32()); }
    int64_t i64() { return int64_t(le(8)); }
    float f32() { return std::bit_cast<float>(u32()); }
    bool flag() {
        const uint8_t v = u8();
        if (v > 1) ok_ = false;
        return v == 1;
    }
    void raw(void* dest, size_t size) {
        if (!take(size)) return;
        std::memcpy(dest, b_.data() + at_, size);
        at_ += size;
    }
    std::string text(size_t limit) {
        const uint32_t size = u32();
        if (size > limit || !take(size)) {
            ok_ = false;
            return {};
        }
        std::string s(reinterpret_cast<const char*>(b_.data() + at_), size);
        at_ += size;
        return s;
    }
    void fail() { ok_ = false; }
    bool complete() const { return ok_ && at_ == b_.size(); }

  private:
    bool take(size_t size) {
        if (!ok_ || b_.size() - at_ < size) ok_ = false;
        return ok_;
    }
    uint64_t le(int count) {
        if (!take(size_t(count))) return 0;
        uint64_t v = 0;
        for (int i = 0; i < count; ++i) v |= uint64_t(b_[at_ + size_t(i)]) << (8 * i);
        at_ += size_t(count);
        return v;
    }

    std::span<const uint8_t> b_;
    size_t at_ = 0;
    bool ok_ = true;
};

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// What a state holds beside the machine record.
struct Loaded {
    std::unique_ptr<Machine> m = std::make_unique<Machine>();
    std::array<std::string, 2> disks;
    std::string tape, printer;
    bool romImageLoaded = false;
};

int32_t running_model(const Machine& m) {
    return m.z80.cycle_period == model_cycle_period(kModelVZ300) ? kModelVZ300 : kModelVZ200;
}

// ---- sections: each a writer and a reader of the same fields, in order ----

void put_processor(Writer& w, const Emulator& e) {
    const Z80Registers& r = e.machine->z80;
    for (uint16_t v :
         {r.af, r.bc, r.de, r.hl, r.ix, r.iy, r.pc, r.sp, r.af_alt, r.bc_alt, r.de_alt, r.hl_alt})
        w.u16(v);
    w.u8(r.int_state);
    w.u8(r.i);
    w.i32(r.cycle_period);
    w.i32(r.cycles_left);
    w.u16(r.stop_pc);
    w.u8(r.stop_requested);
}
void get_processor(Reader& rd, Loaded& l) {
    Z80Registers& r = l.m->z80;
    for (uint16_t* v :
         {&r.af, &r.bc, &r.de, &r.hl, &r.ix, &r.iy, &r.pc, &r.sp, &r.af_alt, &r.bc_alt, &r.de_alt, &r.hl_alt})
        *v = rd.u16();
    r.int_state = rd.u8();
    r.i = rd.u8();
    r.cycle_period = rd.i32();
    r.cycles_left = rd.i32();
    r.stop_pc = rd.u16();
    r.stop_requested = rd.flag();
}

void put_memory(Writer& w, const Emulator& e) { w.raw(e.machine->state.memory.data(), 65536); }
void get_memory(Reader& rd, Loaded& l) { rd.raw(l.m->state.memory.data(), 65536); }

// Only the banks holding anything: an unused 4 MB expansion costs nothing.
void put_banks(Writer& w, const Emulator& e) {
    const MachineState& s = e.machine->state;
    w.i32(s.currentBank);
    std::vector<uint8_t> used;
    for (int b = 0; b < kBankCount; ++b) {
        const auto& bank = s.bankStore[size_t(b)];
        if (std::any_of(bank.begin(), bank.end(), [](uint8_t v) { return v != 0; }))
            used.push_back(uint8_t(b));
    }
    w.u16(uint16_t(used.size()));
    for (uint8_t b : used) {
        w.u8(b);
        w.raw(s.bankStore[b].data(), kBankSize);
    }
}
void get_banks(Reader& rd, Loaded& l) {
    MachineState& s = l.m->state;
    s.currentBank = rd.i32();
    const uint16_t count = rd.u16();
    if (count > kBankCount) return rd.fail();
    int previous = -1;
    for (int i = 0; i < count; ++i) {
        const int b = rd.u8();
        if (b <= previous) return rd.fail(); // in order, each once
        previous = b;
        rd.raw(s.bankStore[size_t(b)].data(), kBankSize);
    }
}

void put_extvideo(Writer& w, const Emulator& e) {
    w.raw(e.machine->state.extVideoRam.data(), 4 * kExtVideoBankSize);
}
void get_extvideo(Reader& rd, Loaded& l) { rd.raw(l.m->state.extVideoRam.data(), 4 * kExtVideoBankSize); }

void put_video(Writer& w, const Emulator& e) {
    const MachineState& s = e.machine->state;
    w.u8(s.extGfxMode);
    w.u8(s.latch);
    w.i32(s.borderLatch);
    w.i32(s.scanline);
    const VideoTiming& t = s.timing;
    for (int32_t v : {t.blankLines, t.extraLines, t.topBorderLines, t.activeLines, t.bottomBorderLines,
                      t.extraLinesLower, t.syncLines, t.linesPerFrame, t.interruptLine, t.pictureEndLine})
        w.i32(v);
    w.raw(e.machine->fontTable.data(), kFontSize);
}
void get_video(Reader& rd, Loaded& l) {
    MachineState& s = l.m->state;
    s.extGfxMode = rd.u8();
    s.latch = rd.u8();
    s.borderLatch = rd.i32();
    s.scanline = rd.i32();
    VideoTiming& t = s.timing;
    for (int32_t* v :
         {&t.blankLines, &t.extraLines, &t.topBorderLines, &t.activeLines, &t.bottomBorderLines,
          &t.extraLinesLower, &t.syncLines, &t.linesPerFrame, &t.interruptLine, &t.pictureEndLine})
        *v = rd.i32();
    rd.raw(l.m->fontTable.data(), kFontSize);
}

void put_keyboard(Writer& w, const Emulator& e) {
    const Machine& m = *e.machine;
    w.raw(m.state.keyboardRows.data(), 8);
    w.u8(m.state.joystickByte);
    w.raw(m.input.pendingRows.data(), 8);
    w.u8(m.input.typingActive);
    w.u32(m.input.typingPos);
    w.u32(m.input.typingStep);
    w.u32(m.input.typingWait);
    // Typing stops at the first zero byte; nothing after it matters.
    w.text(
        std::string_view(m.input.typingText.data(), strnlen(m.input.typingText.data(), kTypingBufferSize)));
}
void get_keyboard(Reader& rd, Loaded& l) {
    Machine& m = *l.m;
    rd.raw(m.state.keyboardRows.data(), 8);
    m.state.joystickByte = rd.u8();
    rd.raw(m.input.pendingRows.data(), 8);
    m.input.typingActive = rd.flag();
    m.input.typingPos = rd.u32();
    m.input.typingStep = rd.u32();
    m.input.typingWait = rd.u32();
    if (m.input.typingWait > kTypingPace + kTypingReturnWait) rd.fail();
    const std::string text = rd.text(kTypingBufferSize - 1);
    std::memcpy(m.input.typingText.data(), text.data(), text.size());
    if (m.input.typingPos > text.size()) rd.fail();
}

// Apart from "keyboard", which older versions read in full: the holds of
// short presses, absent from their files (nothing held).
void put_keyhold(Writer& w, const Emulator& e) {
    const InputState& in = e.machine->input;
    w.raw(in.hostRows.data(), in.hostRows.size());
    w.raw(in.keyHold.data(), in.keyHold.size());
}
void get_keyhold(Reader& rd, Loaded& l) {
    InputState& in = l.m->input;
    rd.raw(in.hostRows.data(), in.hostRows.size());
    rd.raw(in.keyHold.data(), in.keyHold.size());
    for (const uint8_t hold : in.keyHold)
        if (hold > kMinimumKeyHold) return rd.fail();
}

void put_sound(Writer& w, const Emulator& e) {
    const Machine& m = *e.machine;
    for (int32_t f : m.sound.chip.frequency) w.i32(f);
    for (int32_t v : m.sound.chip.volume) w.i32(v);
    w.u8(m.sound.chip.noiseMode);
    w.u8(m.sound.chip.latched);
    w.u32(m.sound.noiseSeed);
    w.i16(m.state.speakerLevel);
}
void get_sound(Reader& rd, Loaded& l) {
    Machine& m = *l.m;
    for (int32_t& f : m.sound.chip.frequency) f = rd.i32();
    for (int32_t& v : m.sound.chip.volume) v = rd.i32();
    m.sound.chip.noiseMode = rd.u8();
    m.sound.chip.latched = rd.u8();
    m.sound.noiseSeed = rd.u32();
    m.state.speakerLevel = rd.i16();
}

void put_loop(Writer& w, const Emulator& e) {
    const LoopState& s = e.machine->loop;
    w.i32(s.lastCycleCount);
    w.i32(s.lineAccumulator);
    w.i32(s.sampleAccumulator);
    w.i32(s.cyclesPerSample);
    w.u8(s.started);
}
void get_loop(Reader& rd, Loaded& l) {
    LoopState& s = l.m->loop;
    s.lastCycleCount = rd.i32();
    s.lineAccumulator = rd.i32();
    s.sampleAccumulator = rd.i32();
    s.cyclesPerSample = rd.i32();
    s.started = rd.flag();
}

// The tape: the transport and where the playback is. The samples are not
// kept; the file is played again and the position restored (reattach_tape).
void put_tape(Writer& w, const Emulator& e) {
    const Machine& m = *e.machine;
    w.u8(m.tape.playing);
    w.u8(false); // a recording goes on in the session that saved; no state holds one
    w.i64(m.tape.accumulator);
    w.i32(m.tape.lastChange);
    w.u8(m.state.tapeLevel);
    w.u32(m.tape.rate);
    w.i64(int64_t(m.tape.position));
}
void get_tape(Reader& rd, Loaded& l) {
    Machine& m = *l.m;
    m.tape.playing = rd.flag();
    m.tape.recording = rd.flag();
    m.tape.accumulator = rd.i64();
    m.tape.lastChange = rd.i32();
    m.state.tapeLevel = rd.u8();
    m.tape.rate = rd.u32();
    const int64_t position = rd.i64();
    if (position < 0) rd.fail();
    m.tape.position = uint64_t(position);
}

void put_disk(Writer& w, const Emulator& e) {
    const DiskController& c = e.machine->disk;
    w.i32(c.selectedDrive);
    w.raw(c.writeProtect.data(), 2);
    w.raw(c.headPosition.data(), 2);
    w.u8(c.lastLatch);
    w.raw(c.trackBuffer.data(), kTrackBufferSize);
    w.i32(c.trackPosition);
    w.i32(c.bitCounter);
    w.u32(c.shiftRegister);
    w.u8(c.readyByte);
    w.u8(c.halfCell);
    w.i32(c.writeStart);
    w.i32(c.writeCount);
}
void get_disk(Reader& rd, Loaded& l) {
    DiskController& c = l.m->disk;
    c.selectedDrive = rd.i32();
    rd.raw(c.writeProtect.data(), 2);
    rd.raw(c.headPosition.data(), 2);
    c.lastLatch = rd.u8();
    rd.raw(c.trackBuffer.data(), kTrackBufferSize);
    c.trackPosition = rd.i32();
    c.bitCounter = rd.i32();
    c.shiftRegister = rd.u32();
    c.readyByte = rd.u8();
    c.halfCell = rd.u8();
    c.writeStart = rd.i32();
    c.writeCount = rd.i32();
}

// Absolute, so that a state loaded from another working folder finds them.
std::string absolute(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path full =
        path.empty() ? std::filesystem::path() : std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

void put_settings(Writer& w, const Emulator& e) {
    const Settings& s = e.machine->settings;
    w.i32(s.model);
    w.f32(s.clockMHz);
    for (int32_t v : {s.tvStandard, s.extendedGfx, s.effects6847, s.cartridgeEnabled, s.joystickEnabled,
                      s.writeToRom, s.writeToCartridge, s.ramTop, s.extendedSound, s.soundChipPort})
        w.i32(v);
    w.u8(s.frameRateNormal);
    w.u8(s.cassetteAudio);
    w.u8(s.diskAudio);
    // Absolute, so that a state loaded from another working folder finds them.
    w.text(absolute(settings_path(s.romFile)));
    w.text(absolute(settings_path(s.cartridgeFile)));
}
void get_settings(Reader& rd, Loaded& l) {
    Settings& s = l.m->settings;
    s.model = rd.i32();
    s.clockMHz = rd.f32();
    for (int32_t* v : {&s.tvStandard, &s.extendedGfx, &s.effects6847, &s.cartridgeEnabled, &s.joystickEnabled,
                       &s.writeToRom, &s.writeToCartridge, &s.ramTop, &s.extendedSound, &s.soundChipPort})
        *v = rd.i32();
    s.frameRateNormal = rd.u8();
    s.cassetteAudio = rd.u8();
    s.diskAudio = rd.u8();
    settings_set_path(s.romFile, rd.text(kSettingsPathSize - 1));
    settings_set_path(s.cartridgeFile, rd.text(kSettingsPathSize - 1));
}

void put_attachments(Writer& w, const Emulator& e) {
    w.u8(e.machine->romImageLoaded);
    w.text(e.io.disks.image[0] ? absolute(e.io.disks.path[0]) : std::string());
    w.text(e.io.disks.image[1] ? absolute(e.io.disks.path[1]) : std::string());
    w.text(absolute(e.io.tape.path));
    w.text(e.io.printerFile ? absolute(e.io.printerPath) : std::string());
}
void get_attachments(Reader& rd, Loaded& l) {
    l.romImageLoaded = rd.flag();
    for (std::string& d : l.disks) d = rd.text(kMaxPathLength);
    l.tape = rd.text(kMaxPathLength);
    l.printer = rd.text(kMaxPathLength);
}

void put_framebuffer(Writer& w, const Emulator& e) {
    w.raw(e.machine->frameBuffer.data(), kFrameWidth * kFrameHeight);
}
void get_framebuffer(Reader& rd, Loaded& l) { rd.raw(l.m->frameBuffer.data(), kFrameWidth * kFrameHeight); }

// The box's text, the table's own breakpoints, and those switched off. Read
// and checked, but a load keeps the session's breakpoints (machine_parts.h).
void put_breakpoints(Writer& w, const Emulator& e) {
    const Breakpoints& b = e.machine->breakpoints;
    w.text(std::string_view(b.text.data(), strnlen(b.text.data(), b.text.size())));
    w.u8(b.extraCount);
    for (uint8_t i = 0; i < b.extraCount; ++i) w.u16(b.extra[i]);
    std::vector<uint16_t> off;
    for (uint16_t a : breakpoints_in_text(b))
        if (!breakpoint_enabled(b, a)) off.push_back(a);
    for (uint8_t i = 0; i < b.extraCount; ++i)
        if (!breakpoint_enabled(b, b.extra[i])) off.push_back(b.extra[i]);
    w.u8(uint8_t(off.size()));
    for (uint16_t a : off) w.u16(a);
}
void get_breakpoints(Reader& rd, Loaded& l) {
    Breakpoints& b = l.m->breakpoints;
    breakpoints_set(b, rd.text(kBreakpointTextSize), kBreakpointTextSize);
    const uint8_t extras = rd.u8();
    if (extras > kExtraBreakpointLimit) return rd.fail();
    for (uint8_t i = 0; i < extras; ++i) breakpoints_add(b, rd.u16());
    const uint8_t off = rd.u8();
    for (uint8_t i = 0; i < off; ++i) {
        const uint16_t a = rd.u16();
        if (!breakpoint_listed(b, a)) return rd.fail();
        breakpoints_enable(b, a, false);
    }
}

struct SectionKind {
    const char* name;
    uint16_t version;
    bool required;
    void (*put)(Writer&, const Emulator&);
    void (*get)(Reader&, Loaded&);
};

constexpr SectionKind kSections[] = {
    {"processor", 1, true, put_processor, get_processor},
    {"memory", 1, true, put_memory, get_memory},
    {"banks", 1, false, put_banks, get_banks},
    {"extvideo", 1, false, put_extvideo, get_extvideo},
    {"video", 1, true, put_video, get_video},
    {"keyboard", 1, false, put_keyboard, get_keyboard},
    {"keyhold", 1, false, put_keyhold, get_keyhold},
    {"sound", 1, false, put_sound, get_sound},
    {"loop", 1, true, put_loop, get_loop},
    {"tape", 1, false, put_tape, get_tape},
    {"disk", 1, false, put_disk, get_disk},
    {"settings", 1, true, put_settings, get_settings},
    {"attachments", 1, false, put_attachments, get_attachments},
    {"framebuffer", 1, false, put_framebuffer, get_framebuffer},
    {"breakpoints", 1, false, put_breakpoints, get_breakpoints},
};

bool in_range(int64_t v, int64_t low, int64_t high) { return v >= low && v <= high; }

bool timing_is_known(const VideoTiming& t) {
    for (int32_t model : {kModelVZ200, kModelVZ300})
        for (int32_t tv : {kTvPal, kTvNtsc})
            if (const VideoTiming known = video_timing_for(model, tv); std::memcmp(&t, &known, sizeof t) == 0)
                return true;
    return false;
}

// The values that index buffers, bound loops or divide, checked together once
// every section is in. Returns the section holding a bad value, or null.
const char* bad_section(const Machine& m) {
    const int32_t p = m.z80.cycle_period;
    if (p != model_cycle_period(kModelVZ200) && p != model_cycle_period(kModelVZ300)) return "processor";
    if (!in_range(m.z80.cycles_left, -kMaxOverrun, p)) return "processor";
    const MachineState& s = m.state;
    if (!timing_is_known(s.timing) || !in_range(s.scanline, 0, s.timing.linesPerFrame - 1)) return "video";
    if (!in_range(s.currentBank, 1, kBankCount - 1)) return "banks";
    const LoopState& loop = m.loop;
    if (loop.cyclesPerSample != p / kSamplesPerFrame || !in_range(loop.lastCycleCount, -p, 2 * p) ||
        !in_range(loop.lineAccumulator, -p, p) || !in_range(loop.sampleAccumulator, -p, p))
        return "loop";
    const SoundChip& chip = m.sound.chip;
    for (int c = 0; c < 4; ++c)
        if (!in_range(chip.frequency[size_t(c)], 0, 62967) || !in_range(chip.volume[size_t(c)], 0, 240))
            return "sound";
    if (chip.noiseMode > 3) return "sound";
    if (m.tape.recording || !in_range(m.tape.accumulator, 0, int64_t(p) * 50) ||
        !in_range(m.tape.lastChange, -2 * int64_t(p), 2 * int64_t(p)) || m.tape.position > (uint64_t(1) << 28) ||
        (m.tape.playing && !in_range(m.tape.rate, 8000, 192000)))
        return "tape";
    const DiskController& c = m.disk;
    if (!in_range(c.selectedDrive, -1, 1) || c.headPosition[0] > kMaxHeadPosition ||
        c.headPosition[1] > kMaxHeadPosition || !in_range(c.trackPosition, 0, kTrackBufferSize - 1) ||
        !in_range(c.writeStart, 0, kTrackBufferSize - 1) || !in_range(c.writeCount, 0, 1 << 24) ||
        !in_range(c.bitCounter, -8, 8) || c.halfCell > 1)
        return "disk";
    return nullptr;
}

bool readable(const std::string& path) {
    FilePtr f(std::fopen(path.c_str(), "rb"));
    return f != nullptr;
}

// Plays the tape again from where it was: the same file must give the same
// rate and reach as far, or the tape counts as one that could not be found.
bool reattach_tape(Emulator& e, const TapeState& saved, uint8_t savedLevel) {
    Machine& m = *e.machine;
    if (!saved.playing) return true;
    if (tape_play(m, e.io) != kTapePlaying) return false;
    if (m.tape.rate != saved.rate || saved.position > e.io.tape.levels.size()) {
        tape_stop(m, e.io);
        return false;
    }
    m.tape.position = saved.position;
    m.tape.accumulator = saved.accumulator;
    m.state.tapeLevel = savedLevel;
    return true;
}

std::string reattach(Emulator& e, const Loaded& l) {
    Machine& m = *e.machine;
    MachineIo& io = e.io;
    std::vector<std::string> missing;
    for (int d = 0; d < 2; ++d) {
        const std::string& path = l.disks[size_t(d)];
        const uint8_t head = m.disk.headPosition[size_t(d)];
        // Mounting creates a missing image; a state only finds what is there.
        if (path.empty() || !readable(path) || !disk_mount(m, io, d, path)) {
            disk_unmount(io, d);
            if (!path.empty()) missing.push_back(path);
        }
        m.disk.headPosition[size_t(d)] = head;
    }

    const TapeState savedTape = m.tape;
    const uint8_t savedLevel = m.state.tapeLevel;
    m.tape.playing = false;
    io.tape.path = l.tape;
    if (!reattach_tape(e, savedTape, savedLevel))
        missing.push_back(l.tape.empty() ? "the tape" : l.tape);

    // Printing goes on at the end of what the file holds.
    io.printerFile.reset();
    io.printerPath.clear();
    if (!l.printer.empty()) {
        FilePtr f(std::fopen(l.printer.c_str(), "ab"));
        if (f) {
            io.printerFile = std::move(f);
            io.printerPath = l.printer;
        } else {
            missing.push_back(l.printer);
        }
    }

    // The ROM and cartridge are in the memory image; their files matter at the next reset.
    if (l.romImageLoaded) {
        const std::string rom = settings_path(m.settings.romFile);
        const std::string cartridge = settings_path(m.settings.cartridgeFile);
        if (!rom.empty() && !readable(rom)) missing.push_back(rom);
        if (setting_enabled(m.settings.cartridgeEnabled) && !cartridge.empty() && !readable(cartridge))
            missing.push_back(cartridge);
    }

    if (missing.empty()) return {};
    std::string message = "The state was loaded, but these files could not be re-attached: ";
    for (size_t i = 0; i < missing.size(); ++i) message += (i ? ", " : "") + missing[i];
    return message + ".";
}

std::string damaged(const std::string& why) { return "The state file is damaged (" + why + ")."; }

} // namespace

std::vector<uint8_t> state_join(uint32_t formatVersion, uint32_t model,
                                const std::vector<StateSection>& sections) {
    Writer payload;
    for (const StateSection& s : sections) {
        const std::vector<uint8_t> packed = section_compress(s.body);
        const size_t stored = packed.size(); // 0 only on failure; the reader would refuse the section
        payload.u8(uint8_t(s.name.size()));
        payload.raw(s.name.data(), s.name.size());
        payload.u16(s.version);
        payload.u32(uint32_t(stored));
        payload.u32(uint32_t(s.body.size()));
        payload.raw(packed.data(), stored);
    }
    Writer file;
    file.raw(kMagic, sizeof kMagic);
    file.u32(formatVersion);
    file.u32(model);
    file.u32(uint32_t(payload.bytes.size()));
    file.u32(section_crc32(payload.bytes));
    file.raw(payload.bytes.data(), payload.bytes.size());
    return std::move(file.bytes);
}

std::string state_split(std::span<const uint8_t> file, uint32_t& model, std::vector<StateSection>& sections) {
    sections.clear();
    if (file.size() < sizeof kMagic || std::memcmp(file.data(), kMagic, sizeof kMagic) != 0)
        return "The file is not a KOLT state.";
    if (file.size() < kHeaderSize) return "The state file is incomplete (truncated).";
    const uint32_t version = le32(file.data() + 8);
    if (version > kStateFormatVersion)
        return "The state was saved by a newer version of KOLT (state format " + std::to_string(version) +
               "); this version reads format " + std::to_string(kStateFormatVersion) + " and older.";
    if (version == 0) return damaged("format version 0");
    model = le32(file.data() + 12);
    const uint32_t size = le32(file.data() + 16);
    if (file.size() - kHeaderSize < size) return "The state file is incomplete (truncated).";
    if (file.size() - kHeaderSize > size) return damaged("bytes after its end");
    const std::span<const uint8_t> payload = file.subspan(kHeaderSize);
    if (section_crc32(payload) != le32(file.data() + 20))
        return damaged("checksum mismatch");

    size_t at = 0;
    uint64_t rawTotal = 0;
    while (at < payload.size()) {
        const size_t nameLength = payload[at];
        if (nameLength == 0 || nameLength > kMaxNameLength || payload.size() - at < 1 + nameLength + 10)
            return damaged("a section header is cut short");
        if (sections.size() == kMaxSections) return damaged("too many sections");
        StateSection s;
        s.name.assign(reinterpret_cast<const char*>(&payload[at + 1]), nameLength);
        at += 1 + nameLength;
        s.version = uint16_t(payload[at] | payload[at + 1] << 8);
        const uint32_t stored = le32(&payload[at + 2]);
        const uint32_t raw = le32(&payload[at + 6]);
        at += 10;
        if (payload.size() - at < stored) return damaged("section \"" + s.name + "\" runs past the end");
        rawTotal += raw;
        if (raw > kMaxRawSection || rawTotal > 4 * uint64_t(kMaxRawSection))
            return damaged("section \"" + s.name + "\" is too large");
        if (!section_uncompress(payload.subspan(at, stored), raw, s.body))
            return damaged("section \"" + s.name + "\" does not decompress");
        at += stored;
        sections.push_back(std::move(s));
    }
    return {};
}

std::vector<uint8_t> state_encode(Emulator& emu) {
    tape_update_recording(*emu.machine, emu.io);
    std::vector<StateSection> sections;
    for (const SectionKind& k : kSections) {
        Writer w;
        k.put(w, emu);
        sections.push_back({k.name, k.version, std::move(w.bytes)});
    }
    return state_join(kStateFormatVersion, uint32_t(running_model(*emu.machine)), sections);
}

FileOutcome state_save(Emulator& emu, const std::string& path) {
    const std::vector<uint8_t> bytes = state_encode(emu);
    const std::string temporary = path + ".part";
    const FileOutcome written = write_file(temporary, bytes);
    if (!written.done) {
        std::remove(temporary.c_str());
        return FileOutcome::refused("Cannot save the state to " + path + ". " + written.message);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return FileOutcome::refused("Cannot save the state to " + path + ".");
    }
    return FileOutcome::ok();
}

FileOutcome state_decode(Emulator& emu, std::span<const uint8_t> bytes, bool reattachFiles) {
    uint32_t model = 0;
    std::vector<StateSection> sections;
    if (const std::string why = state_split(bytes, model, sections); !why.empty())
        return FileOutcome::refused(why);

    Loaded l;
    std::array<bool, std::size(kSections)> seen{};
    for (const StateSection& s : sections) {
        const auto* kind = std::find_if(std::begin(kSections), std::end(kSections),
                                        [&](const SectionKind& k) { return s.name == k.name; });
        if (kind == std::end(kSections)) continue; // written by a later version, and safe to ignore
        const size_t index = size_t(kind - std::begin(kSections));
        if (seen[index]) return FileOutcome::refused(damaged("section \"" + s.name + "\" appears twice"));
        seen[index] = true;
        if (s.version > kind->version)
            return FileOutcome::refused("The state was saved by a newer version of KOLT (its \"" + s.name +
                                        "\" section is version " + std::to_string(s.version) + ").");
        Reader r(s.body);
        kind->get(r, l);
        if (!r.complete()) return FileOutcome::refused(damaged("section \"" + s.name + "\" is malformed"));
    }
    for (size_t i = 0; i < std::size(kSections); ++i)
        if (kSections[i].required && !seen[i])
            return FileOutcome::refused(damaged(std::string("no \"") + kSections[i].name + "\" section"));
    if (const char* bad = bad_section(*l.m))
        return FileOutcome::refused(
            damaged(std::string("section \"") + bad + "\" holds a value out of range"));
    if (model != uint32_t(running_model(*l.m)))
        return FileOutcome::refused(damaged("the model does not match"));

    // Everything is checked: from here on the state is applied.
    Machine& m = *emu.machine;
    tape_stop(m, emu.io);
    machine_flush_files(emu.io);
    Machine& f = *l.m;
    machine_copy_part(f, m, Part::Session); // the debugger's and the host's, not the state's
    f.romImageLoaded = m.romImageLoaded || l.romImageLoaded;
    // Every bank may differ from what a rewind history last saw.
    for (size_t b = 0; b < size_t(kBankCount); ++b) f.state.bankWrites[b] = m.state.bankWrites[b] + 1;
    std::memcpy(static_cast<void*>(&m), &f, sizeof m);
    if (!reattachFiles) {
        m.tape.playing = false;
        return FileOutcome::ok();
    }
    return FileOutcome::ok(reattach(emu, l));
}

FileOutcome state_load(Emulator& emu, const std::string& path) {
    std::vector<uint8_t> bytes;
    const FileOutcome read = read_file_limited(path, kStateFileMax, bytes);
    if (!read.done) return read;
    FileOutcome r = state_decode(emu, bytes);
    if (!r.done) r.message = "Cannot load " + path + ": " + r.message;
    return r;
}
