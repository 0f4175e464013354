// The machine record: everything the emulated VZ200/VZ300 is, as plain data.
//
// One Machine holds the settings, the processor's registers, the memory image
// and the other machine state, and the display palette. It holds no pointers,
// no host objects and nothing on the heap, so a copy is a snapshot; open files
// and the host interface live beside it. With the 4 MB bank store it is over
// 4 MB: create it with std::make_unique, never as a local.
//
// Two clocks run side by side: a host frame is cycle_period T-states (1/50 s at
// the model's clock), a video frame linesPerFrame lines of 228 T-states. They
// drift against each other and nothing realigns them but a reset.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "input/keyboard.h"
#include "machine/breakpoints.h"
#include "machine/cassette.h"
#include "machine/disk.h"
#include "machine/settings.h"
#include "machine/watchpoints.h"
#include "sound/sound.h"
#include "video/font.h"
#include "video/palette.h"
#include "video/renderer.h"
#include "z80/z80.h"

inline constexpr int kCyclesPerLine = 228;
inline constexpr int kBankSize = 16384;
inline constexpr int kBankCount = 256;
inline constexpr int kExtVideoBankSize = 2048;

// The line structure of one video frame, in the order the lines come.
struct VideoTiming {
    int32_t blankLines = 13;
    int32_t extraLines = 0;      // above the picture: 24 for PAL, plus 1 on the VZ200
    int32_t topBorderLines = 25;
    int32_t activeLines = 192;
    int32_t bottomBorderLines = 26;
    int32_t extraLinesLower = 0; // the same count again, below the picture
    int32_t syncLines = 6;
    int32_t linesPerFrame = 262;
    int32_t interruptLine = 256;  // the first synchronisation line (the border colour's rule)
    int32_t pictureEndLine = 230; // first bottom-border line, still "picture" to the status bits
};

constexpr VideoTiming video_timing_for(int32_t model, int32_t tvStandard) {
    VideoTiming t;
    const int32_t extra = (tvStandard == kTvPal ? 24 : 0) + (model == kModelVZ200 ? 1 : 0);
    t.extraLines = t.extraLinesLower = extra;
    t.linesPerFrame = t.blankLines + 2 * extra + t.topBorderLines + t.activeLines + t.bottomBorderLines + t.syncLines;
    t.interruptLine = t.linesPerFrame - t.syncLines;
    t.pictureEndLine = 230 + extra;
    return t;
}

constexpr int32_t first_active_line(const VideoTiming& t) {
    return t.blankLines + t.extraLines + t.topBorderLines;
}

constexpr float model_clock_mhz(int32_t model) { return model == kModelVZ200 ? 3.5795f : 3.5469f; }

// The single-precision clock is not exact, which is why the VZ200 gets 71589.
constexpr int32_t model_cycle_period(int32_t model) {
    return int32_t(double(model_clock_mhz(model)) * 1000000.0 / 50.0);
}

struct MachineState {
    std::array<uint8_t, 65536> memory{};
    std::array<uint8_t, 4 * kExtVideoBankSize> extVideoRam{};
    uint8_t extGfxMode = 0;
    uint8_t latch = 0;
    int32_t borderLatch = 0;
    // No key held until the first poll, rather than the whole matrix pressed.
    std::array<uint8_t, 8> keyboardRows{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    uint8_t joystickByte = 0xFF;
    uint8_t tapeLevel = 0;
    int16_t speakerLevel = 0;
    int32_t scanline = 0;
    std::array<std::array<uint8_t, kBankSize>, kBankCount> bankStore{};
    int32_t currentBank = 1;
    // How often each bank's store was written: a rewind history finds the
    // banks that changed without comparing 4 MB every frame.
    std::array<uint32_t, kBankCount> bankWrites{};
    VideoTiming timing{};
};

// The video chip's field sync, low from the second bottom-border line to the
// end of the field. It is the processor's /INT, and the keyboard's bit 7
// reads it.
inline bool field_sync_low(const MachineState& s) { return s.scanline > s.timing.pictureEndLine; }

// The loop hook's clocks. Not touched by a reset: the line accumulator keeps
// its remainder across one.
struct LoopState {
    int32_t lastCycleCount = 0;    // cycles_left at the end of the previous hook call
    int32_t lineAccumulator = 0;   // cycles not yet turned into scanlines
    int32_t sampleAccumulator = 0; // cycles not yet turned into audio samples
    int32_t cyclesPerSample = 0;   // cycle_period / 882: about 882 samples per host frame
    int32_t linesToPaint = 0;      // completed lines not painted yet; 0 between frame steps
    bool started = false;          // set by the first reset
};

// T-states from `mark`, a cycles_left noted earlier, to now; `mark` moves to
// now. Callers note often enough that the slice is refilled at most once
// between two notes, so a budget above the mark means one refill.
inline int32_t cycles_since(int32_t& mark, const Z80Registers& r) {
    const int32_t now = r.cycles_left;
    const int32_t delta = (now > mark ? mark + r.cycle_period : mark) - now;
    mark = now;
    return delta;
}

struct Machine {
    Settings settings;
    Z80Registers z80;
    MachineState state;
    LoopState loop;
    FrameBuffer frameBuffer{};
    FontTable fontTable = kBuiltinFont;
    PixelMasks displayMasks; // the display's pixel format, for the packed palette
    DisplayPalette palette;
    SoundState sound;
    InputState input;
    TapeState tape;
    DiskController disk;
    Breakpoints breakpoints;
    DebugState debug;            // watchpoints and the debugger's run target
    bool romImageLoaded = false; // a system ROM was loaded at some time in this process
};

static_assert(std::is_trivially_copyable_v<Machine>);

// A little-endian word of the memory image, read directly (no bus), wrapping at 64 KB.
inline uint16_t memory_word(const Machine& m, uint16_t address) {
    return uint16_t(m.state.memory[address] | m.state.memory[uint16_t(address + 1)] << 8);
}

// Warm start: timing from model and TV standard, processor reset, ROM and
// cartridge reload, palette conversion. RAM, video RAM, the latch, the bank
// store, disks and tape are kept. The host restarts its frame pacing after it.
// ROM and cartridge paths that are relative and not in the start folder are
// looked for in `romFolders` (files/rom_folders.h).
void machine_reset(Machine& m, const std::vector<std::string>& romFolders = {});

// Reloads the system ROM at 0x0000 and, when enabled, the cartridge at 0x4000.
// A ROM file that cannot be opened leaves memory as it was.
void machine_reload_roms(Machine& m, const std::vector<std::string>& romFolders = {});
