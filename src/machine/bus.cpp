#include "machine/bus.h"

#include <array>
#include <bit>
#include <cstring>

#include "machine/machine_io.h"

namespace {

// Byte i is 0xFF where bit i of the index is set: the rows a keyboard read
// leaves out, as its address bits A0-A7 are high.
constexpr std::array<uint64_t, 256> kUnselectedRows = [] {
    std::array<uint64_t, 256> t{};
    for (int select = 0; select < 256; ++select)
        for (int row = 0; row < 8; ++row)
            if (select & (1 << row)) t[size_t(select)] |= uint64_t(0xFF) << (8 * row);
    return t;
}();

// A non-zero byte written to video RAM while the beam is in the picture
// leaves an 8-pixel grey mark where the beam is, as the processor's access
// disturbed the video chip on the real machine.
void paint_effects_dash(Machine& m) {
    const int32_t elapsed = m.z80.cycle_period - m.z80.cycles_left;
    const int32_t line = elapsed / kCyclesPerLine;
    const int32_t extra = m.state.timing.extraLines;
    if (line < 38 + extra || line > m.state.timing.pictureEndLine) return;
    const float fraction = float(elapsed - line * kCyclesPerLine) / 228.0f;
    const int column = int(fraction * -32.0f); // 0 down to -31
    const int32_t row = line - extra - 13; // 25-217: an active row or the first bottom-border row
    std::memset(&m.frameBuffer[size_t(row) * kFrameWidth + kPictureLeft + 8 * size_t(-column)], kGrey, 8);
}

void write_latch(Machine& m, MachineIo& io, uint8_t value) {
    MachineState& s = m.state;
    const uint8_t changed = s.latch ^ value;
    if (changed & 0x21) s.speakerLevel = (value & 0x20) ? -32768 : 32767;
    if (changed & 0x06) {
        s.tapeLevel = (value & 0x04) ? 0x00 : 0xFF;
        cassette_level_change(m, io, s.tapeLevel);
    }
    if (changed & 0x08) {
        // Outside the picture the renderer will not refresh the border colour
        // before the next active line, so the old mode is kept for the border.
        const int32_t line = beam_line_estimate(m);
        if (line >= s.timing.interruptLine || line < 38) s.borderLatch = s.latch;
    }
    s.latch = value;
}

} // namespace

// The AND of the selected rows, eight at once: unselected rows become 0xFF,
// then the eight bytes are folded together.
uint8_t keyboard_status(const Machine& m, uint16_t address) {
    uint64_t rows;
    static_assert(sizeof rows == sizeof m.state.keyboardRows);
    std::memcpy(&rows, m.state.keyboardRows.data(), sizeof rows);
    if constexpr (std::endian::native == std::endian::big) rows = __builtin_bswap64(rows); // row 0 in the low byte
    rows |= kUnselectedRows[uint8_t(address)];
    rows &= rows >> 32;
    rows &= rows >> 16;
    rows &= rows >> 8;
    uint8_t value = uint8_t(rows);
    if (field_sync_low(m.state)) value &= 0x7F;
    if (m.state.tapeLevel > 181) value &= 0xBF;
    return value;
}

void memory_load(Machine& m, uint16_t address, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) memory_poke(m, uint16_t(address + i), data[i]);
}

void memory_view(const Machine& m, std::array<uint8_t, 65536>& out) {
    out = m.state.memory;
    for (uint16_t a = 0x7000; a < 0x7800; ++a) out[a] = video_ram_read(m, a);
}

uint8_t bus_read_slow(const Machine& m, uint16_t address) {
    if (int32_t(address) > m.settings.ramTop) return 0x7F;
    if (address < 0x6800 || address >= 0x7800) return m.state.memory[address];
    if (address >= 0x7000) return video_ram_read(m, address);
    return keyboard_status(m, address);
}

void bus_write_slow(Machine& m, MachineIo& io, uint16_t address, uint8_t value) {
    MachineState& s = m.state;
    const Settings& cfg = m.settings;
    if (cfg.extendedGfx == kGfxGerman && address == kGermanLatchCopy) {
        if (value & 0x08) s.extGfxMode |= 0x1C;
        s.memory[kGermanLatchCopy] = value;
        return;
    }
    if (address >= 0x7000 && address <= 0x77FF) {
        if (setting_enabled(cfg.effects6847) && value != 0) paint_effects_dash(m);
        video_ram_write(m, address, value);
        return;
    }
    if (address < 0x4000) {
        if (setting_enabled(cfg.writeToRom)) s.memory[address] = value;
        return;
    }
    if (address <= 0x67FF) {
        if (setting_enabled(cfg.writeToCartridge)) s.memory[address] = value;
        return;
    }
    if (int32_t(address) <= cfg.ramTop) s.memory[address] = value;
    if (address >= 0x7800) return;
    write_latch(m, io, value);
}
