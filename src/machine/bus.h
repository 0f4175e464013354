// Memory bus: what every address of the Z80's 64 KB means.
//
//   0x0000-0x3FFF  ROM                 written only with "Write To ROM" enabled
//   0x4000-0x67FF  cartridge           written only with "Write to Cartridge" enabled
//   0x6800-0x6FFF  keyboard and status on read; output latch on write
//   0x7000-0x77FF  video RAM           an extended-graphics bank instead when those are on
//   (0x4000-0x5FFF reads 0xFF with no cartridge: nothing drives the data bus,
//   whose TTL loads float high; the reset fills the image so)
//   0x7800-ramTop  RAM
//   above ramTop   reads 0x7F, writes ignored
//
// A keyboard read ANDs the matrix rows whose address bit (A0-A7) is low; bit 7
// is the field sync (0 from the second bottom-border line on), bit 6 the
// cassette input (0 while tapeLevel > 181). The latch drives the speaker (bits
// 0 and 5), the cassette output (bits 1 and 2), graphics mode (bit 3) and the
// colour set (bit 4). The hooks are inline: they run for every byte the
// processor touches. Plain memory is one range test and the ramTop compare;
// everything else is out of line, so the common case stays short.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "machine/machine.h"

struct MachineIo;

inline constexpr uint16_t kGermanLatchCopy = 0x783B; // where the ROM keeps its copy of the latch

// The keyboard and status byte that a read of 0x6800-0x6FFF returns.
uint8_t keyboard_status(const Machine& m, uint16_t address);

// Where the processor's video RAM address lands in the bank it has selected.
inline size_t ext_video_index(const Machine& m, uint16_t address) {
    return size_t(m.state.extGfxMode & 3) * kExtVideoBankSize + (address - kVideoRamAddress);
}

// Video RAM has one truth: the processor, the loaders, the debugger and the
// screen text all reach 0x7000-0x77FF through these. With the extended
// graphics on, the byte lives in the bank the processor has selected; the
// memory image keeps the last byte written at each address in any bank, so
// that turning the extended graphics off shows what was written last.
inline uint8_t video_ram_read(const Machine& m, uint16_t address) {
    return m.settings.extendedGfx > 0 ? m.state.extVideoRam[ext_video_index(m, address)] : m.state.memory[address];
}

inline void video_ram_write(Machine& m, uint16_t address, uint8_t value) {
    if (m.settings.extendedGfx > 0) m.state.extVideoRam[ext_video_index(m, address)] = value;
    m.state.memory[address] = value;
}

// Where the video chip reads: with the extended graphics from the first bank
// on, whichever bank the processor has selected.
inline const uint8_t* video_chip_ram(const Machine& m) {
    return m.settings.extendedGfx > 0 ? m.state.extVideoRam.data() : m.state.memory.data() + kVideoRamAddress;
}

// What the processor would read at an address, without side effects, for the
// loaders and the debugger: video RAM as above, the memory image elsewhere.
inline uint8_t memory_peek(const Machine& m, uint16_t address) {
    return uint16_t(address - kVideoRamAddress) < 0x800 ? video_ram_read(m, address) : m.state.memory[address];
}

// Stores a byte as a loader or the debugger does: no write protection, no
// latch, video RAM as above.
inline void memory_poke(Machine& m, uint16_t address, uint8_t value) {
    if (uint16_t(address - kVideoRamAddress) < 0x800) video_ram_write(m, address, value);
    else m.state.memory[address] = value;
}

// Copies `size` bytes to `address` on as memory_poke; the caller keeps them below 0x10000.
void memory_load(Machine& m, uint16_t address, const uint8_t* data, size_t size);

// The 64 KB as memory_peek sees it, for a memory dump and the disassembler.
void memory_view(const Machine& m, std::array<uint8_t, 65536>& out);

// The rare paths of a read: above ramTop, video RAM, the keyboard.
uint8_t bus_read_slow(const Machine& m, uint16_t address);

inline uint8_t bus_read(const Machine& m, uint16_t address) {
    // Outside 0x6800-0x77FF, and not above ramTop, memory answers itself.
    if (uint16_t(address - 0x6800) >= 0x1000 && int32_t(address) <= m.settings.ramTop) [[likely]]
        return m.state.memory[address];
    return bus_read_slow(m, address);
}

// The rare paths of a write: the German mode hook, video RAM, the latch.
void bus_write_slow(Machine& m, MachineIo& io, uint16_t address, uint8_t value);

inline void bus_write(Machine& m, MachineIo& io, uint16_t address, uint8_t value) {
    if (address >= 0x7800 && address != kGermanLatchCopy) {
        if (int32_t(address) <= m.settings.ramTop) m.state.memory[address] = value;
        return;
    }
    if (m.loop.linesToPaint) render_pending_lines(m); // they show the latch and video memory as they were
    bus_write_slow(m, io, address, value);
}

// Beam line estimated from the cycles spent in the host frame, as the latch's
// border rule and the effects dashes use it (not `scanline`).
inline int32_t beam_line_estimate(const Machine& m) {
    return (m.z80.cycle_period - m.z80.cycles_left) / kCyclesPerLine;
}
