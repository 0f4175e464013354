// A minimal CP/M machine for running CP/M test programs on the Z80 core:
// 64 KB of flat RAM, the program loaded at 0x0100, BDOS functions 2 (print the
// character in E) and 9 (print the string at DE up to '$') served at 0x0005,
// and the warm boot at 0x0000 ending the run. Ports read 0xFF.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "z80/z80_execute.h"

struct CpmSystem {
    Z80Registers cpu;
    std::array<uint8_t, 65536> memory{};
    std::string output;
    bool finished = false;
};

inline uint8_t z80_read_byte(CpmSystem& s, uint16_t address) { return s.memory[address]; }
inline void z80_write_byte(CpmSystem& s, uint16_t address, uint8_t value) { s.memory[address] = value; }
inline uint8_t z80_port_in(CpmSystem&, uint16_t) { return 0xFF; }
inline void z80_port_out(CpmSystem&, uint16_t, uint8_t) {}
inline void z80_edfe_hook(CpmSystem&, Z80Registers&) {}

[[gnu::noinline, gnu::cold]] inline void cpm_trap(CpmSystem& s, Z80Registers& r) {
    if (r.pc == 0) {
        s.finished = true;
        r.stop_requested = 1;
        return;
    }
    if (r.pc != 5) return;
    const uint8_t function = z80_lo(r.bc);
    if (function == 2) {
        s.output += char(z80_lo(r.de));
    } else if (function == 9) {
        for (uint16_t a = r.de; s.memory[a] != '$'; ++a) s.output += char(s.memory[a]);
    }
    // The RET placed at 0x0005 then returns to the caller.
}

inline uint16_t z80_loop_hook(CpmSystem& s, Z80Registers& r) {
    if (r.pc <= 5) [[unlikely]]
        cpm_trap(s, r);
    return r.pc;
}

inline std::optional<std::vector<uint8_t>> cpm_read_file(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

// Loads a program at 0x0100 and prepares the machine to run it. The word at
// 0x0006 is the top of the program's memory, where it sets its stack.
inline void cpm_load(CpmSystem& s, const std::vector<uint8_t>& program, int32_t slice) {
    s.memory.fill(0);
    for (size_t i = 0; i < program.size() && 0x100 + i < s.memory.size(); ++i) s.memory[0x100 + i] = program[i];
    s.memory[5] = 0xC9; // RET
    s.memory[6] = 0x00;
    s.memory[7] = 0xF0;
    s.cpu.cycle_period = slice;
    z80_reset(s.cpu);
    s.cpu.stop_requested = 0; // left at 1 by a finished run, it would end the next run after one instruction
    s.cpu.pc = 0x100;
    s.output.clear();
    s.finished = false;
}

// Runs to the warm boot; returns the T-states spent.
inline int64_t cpm_run(CpmSystem& s) {
    int64_t cycles = 0;
    while (!s.finished) {
        const int32_t before = s.cpu.cycles_left;
        z80_run(s, s.cpu);
        cycles += s.finished ? before - s.cpu.cycles_left : before - s.cpu.cycles_left + s.cpu.cycle_period;
    }
    return cycles;
}

inline std::string testdata_path(const std::string& relative) {
    return std::string(KOLT_TESTDATA_DIR) + "/" + relative;
}
