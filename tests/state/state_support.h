// What the state, rewind and determinism tests share: a machine started as a
// fresh process starts it (no ROM file, so the built-in program runs), a
// small program of ours that works every device a state must carry, inputs
// drawn from a seed, and a fingerprint of what "the same machine" means.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "input/keyboard.h"
#include "machine/emulator.h"
#include "machine/frame.h"

namespace state_test {

inline std::unique_ptr<Emulator> fresh_emulator(int32_t model = kModelVZ200, int32_t ramTop = kRamTop4mb,
                                                int32_t gfx = kGfxAustralian) {
    auto e = std::make_unique<Emulator>();
    Settings& s = e->m().settings;
    settings_set_path(s.romFile, "");
    settings_set_path(s.cartridgeFile, "");
    s.model = model;
    s.ramTop = ramTop;
    s.extendedGfx = gfx;
    s.extendedSound = 1;
    machine_reset(e->m());
    return e;
}

// Forever: the next bank at 0xC000 (4 MB option), whose first word counts the
// visits, a byte into video RAM, the extended graphics registers of both
// variants, the SN76489 and the output latch, each with the running value of A.
inline constexpr uint8_t kPortProgram[] = {
    0x3C,             // 8000 INC A
    0xD3, 0x70,       //      OUT (70h),A     bank switch
    0x2A, 0x00, 0xC0, //      LD HL,(C000h)
    0x23,             //      INC HL
    0x22, 0x00, 0xC0, //      LD (C000h),HL
    0x32, 0x05, 0x70, //      LD (7005h),A    video RAM
    0xD3, 0x20,       //      OUT (20h),A     Australian mode register
    0xD3, 0xDE,       //      OUT (DEh),A     German mode register
    0xD3, 0x80,       //      OUT (80h),A     SN76489
    0x32, 0x00, 0x68, //      LD (6800h),A    latch
    0x18, 0xE8,       // 8016 JR 8000h
};

inline void start_port_program(Machine& m) {
    std::memcpy(&m.state.memory[0x8000], kPortProgram, sizeof kPortProgram);
    m.z80.pc = 0x8000;
}

// A reproducible stream of numbers (a linear congruential generator).
struct Lcg {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

// Keys held in a frame, decided by the frame number alone, so a run that is
// rewound or restored gets the same keys again. Seed 0 holds none.
inline HostKeys keys_for(uint32_t seed, long frame) {
    if (seed == 0) return {};
    Lcg r{seed ^ uint32_t(frame / 7) * 2654435761u};
    HostKeys keys;
    if (r.next() % 3 == 0) keys.set(kHostLetters[r.next() % 26]);
    if (r.next() % 11 == 0) keys.set(kKeySpace);
    if (r.next() % 13 == 0) keys.set(kKeyLeftShift);
    if (r.next() % 17 == 0) keys.set(kKeyNumpad8);
    return keys;
}

inline void run_frames(Emulator& e, long first, long count, uint32_t seed) {
    for (long f = first; f < first + count; ++f) {
        machine_run_frame(e.m(), e.io);
        poll_input(e.m(), keys_for(seed, f));
    }
}

// FNV-1a over 8-byte words (the 4 MB bank store is hashed often).
inline uint64_t fnv(const void* data, size_t size) {
    uint64_t h = 1469598103934665603ull;
    const auto* p = static_cast<const uint8_t*>(data);
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * 1099511628211ull;
    }
    for (; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// The machine as a comparable text: hashes of the picture, memory, banks and
// extended video RAM, then every register.
inline std::string fingerprint(const Machine& m) {
    const Z80Registers& r = m.z80;
    char s[512];
    std::snprintf(s, sizeof s,
                  "frame %016llx memory %016llx banks %016llx ext %016llx bank %d\n"
                  "af %04X bc %04X de %04X hl %04X ix %04X iy %04X pc %04X sp %04X "
                  "alt %04X %04X %04X %04X int %02X i %02X left %d line %d",
                  (unsigned long long)fnv(m.frameBuffer.data(), m.frameBuffer.size()),
                  (unsigned long long)fnv(m.state.memory.data(), m.state.memory.size()),
                  (unsigned long long)fnv(m.state.bankStore.data(), sizeof m.state.bankStore),
                  (unsigned long long)fnv(m.state.extVideoRam.data(), m.state.extVideoRam.size()),
                  m.state.currentBank, r.af, r.bc, r.de, r.hl, r.ix, r.iy, r.pc, r.sp, r.af_alt, r.bc_alt,
                  r.de_alt, r.hl_alt, r.int_state, r.i, r.cycles_left, m.state.scanline);
    return s;
}

} // namespace state_test
