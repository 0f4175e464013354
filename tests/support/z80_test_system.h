// A system type for testing the Z80 core instruction by instruction: 64 KB of
// flat RAM, a log of every hook call in the order the core made it, port input
// taken from a queue or else from a per-port value, and helpers that step one
// instruction and compare registers, flags and T-states in one assertion, with
// hexadecimal values and spelled-out flags in the failure message.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "z80/z80_execute.h"

enum class Hook : uint8_t { Read, Write, In, Out, Loop, EdFe };

struct HookCall {
    Hook kind;
    uint16_t address = 0; // memory address, port, or the PC the loop or ED FE hook saw
    uint8_t value = 0;
    bool operator==(const HookCall&) const = default;
};

inline HookCall rd(uint16_t address, uint8_t value) { return {Hook::Read, address, value}; }
inline HookCall wr(uint16_t address, uint8_t value) { return {Hook::Write, address, value}; }
inline HookCall port_in(uint16_t port, uint8_t value) { return {Hook::In, port, value}; }
inline HookCall port_out(uint16_t port, uint8_t value) { return {Hook::Out, port, value}; }
inline HookCall loop_at(uint16_t pc) { return {Hook::Loop, pc, 0}; }
inline HookCall edfe_at(uint16_t pc) { return {Hook::EdFe, pc, 0}; }

inline std::string hex(unsigned value, int digits) {
    char text[8];
    std::snprintf(text, sizeof text, "%0*X", digits, value & 0xFFFFu);
    return text;
}

// "S Z 5 H 3 P N C" with a dot for each clear bit.
inline std::string flag_text(uint8_t f) {
    std::string text = hex(f, 2) + " [";
    for (int bit = 7; bit >= 0; --bit) text += (f >> bit) & 1 ? "SZ5H3PNC"[7 - bit] : '.';
    return text + "]";
}

inline std::ostream& operator<<(std::ostream& os, const HookCall& call) {
    static const char* const kNames[] = {"read", "write", "in", "out", "loop", "edfe"};
    os << kNames[int(call.kind)] << ' ' << hex(call.address, 4);
    if (call.kind != Hook::Loop && call.kind != Hook::EdFe) os << '=' << hex(call.value, 2);
    return os;
}

// Fields left empty are not checked. `cycles` is the T-states the last step
// charged, i.e. the fall of cycles_left across it.
struct Z80Expect {
    std::optional<uint16_t> pc = {}, sp = {};
    std::optional<uint8_t> a = {}, f = {};
    std::optional<uint16_t> bc = {}, de = {}, hl = {}, ix = {}, iy = {};
    std::optional<uint8_t> i = {}, int_state = {};
    std::optional<int32_t> cycles = {}, cycles_left = {};
};

struct Z80TestSystem {
    static constexpr int32_t kSlice = 10000;

    Z80Registers cpu;
    std::array<uint8_t, 65536> memory{};
    std::array<uint8_t, 65536> port_values; // what IN reads once port_input is empty
    std::deque<uint8_t> port_input;         // consumed first, one byte per IN
    std::vector<HookCall> log;
    std::vector<int32_t> loop_cycles_left; // cycles_left as each loop hook call saw it
    std::function<void(Z80TestSystem&)> on_loop;
    int32_t cycles_before = 0;

    Z80TestSystem() {
        port_values.fill(0xFF);
        cpu.cycle_period = kSlice;
        z80_reset(cpu);
    }

    void load(uint16_t at, std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) memory[at++] = b;
    }
    uint16_t word(uint16_t at) const { return uint16_t(memory[at] | memory[uint16_t(at + 1)] << 8); }

    uint8_t a() const { return z80_hi(cpu.af); }
    uint8_t f() const { return z80_lo(cpu.af); }
    void set_af(uint8_t a, uint8_t f) { cpu.af = uint16_t(a << 8 | f); }

    // 8-bit operand by its 3-bit opcode code: B C D E H L (HL) A.
    uint8_t reg8(int code) const {
        const uint16_t pairs[] = {cpu.bc, cpu.de, cpu.hl, cpu.af};
        if (code == 6) return memory[cpu.hl];
        return (code & 1) && code != 7 ? z80_lo(pairs[code >> 1]) : z80_hi(pairs[code >> 1]);
    }
    void set_reg8(int code, uint8_t v) {
        uint16_t* pairs[] = {&cpu.bc, &cpu.de, &cpu.hl, &cpu.af};
        if (code == 6)
            memory[cpu.hl] = v;
        else if ((code & 1) && code != 7)
            z80_set_lo(*pairs[code >> 1], v);
        else
            z80_set_hi(*pairs[code >> 1], v);
    }

    void clear_log() {
        log.clear();
        loop_cycles_left.clear();
    }
    int count(Hook kind) const {
        int n = 0;
        for (const HookCall& call : log) n += call.kind == kind;
        return n;
    }

    // Executes one instruction with a fresh log; returns the T-states charged.
    int32_t step() {
        clear_log();
        cycles_before = cpu.cycles_left;
        z80_execute(*this, cpu);
        return cycles_before - cpu.cycles_left;
    }

    // Steps, then checks that the loop hook ran exactly once and every given field.
    testing::AssertionResult step(const Z80Expect& expect) {
        step();
        if (count(Hook::Loop) != 1)
            return testing::AssertionFailure() << "the loop hook ran " << count(Hook::Loop) << " times";
        return check(expect);
    }

    testing::AssertionResult check(const Z80Expect& e) const {
        std::string errors;
        auto word = [&](const char* name, std::optional<uint16_t> want, uint16_t got) {
            if (want && *want != got)
                errors += std::string(" ") + name + " " + hex(got, 4) + " (want " + hex(*want, 4) + ")";
        };
        auto byte = [&](const char* name, std::optional<uint8_t> want, uint8_t got) {
            if (want && *want != got)
                errors += std::string(" ") + name + " " + hex(got, 2) + " (want " + hex(*want, 2) + ")";
        };
        auto number = [&](const char* name, std::optional<int32_t> want, int32_t got) {
            if (want && *want != got)
                errors += std::string(" ") + name + " " + std::to_string(got) + " (want " +
                          std::to_string(*want) + ")";
        };
        word("PC", e.pc, cpu.pc);
        word("SP", e.sp, cpu.sp);
        byte("A", e.a, a());
        if (e.f && *e.f != f()) errors += " F " + flag_text(f()) + " (want " + flag_text(*e.f) + ")";
        word("BC", e.bc, cpu.bc);
        word("DE", e.de, cpu.de);
        word("HL", e.hl, cpu.hl);
        word("IX", e.ix, cpu.ix);
        word("IY", e.iy, cpu.iy);
        byte("I", e.i, cpu.i);
        byte("int_state", e.int_state, cpu.int_state);
        number("T-states", e.cycles, cycles_before - cpu.cycles_left);
        number("cycles_left", e.cycles_left, cpu.cycles_left);
        if (errors.empty()) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "unexpected state:" << errors;
    }
};

inline uint8_t z80_read_byte(Z80TestSystem& s, uint16_t address) {
    const uint8_t v = s.memory[address];
    s.log.push_back(rd(address, v));
    return v;
}
inline void z80_write_byte(Z80TestSystem& s, uint16_t address, uint8_t value) {
    s.memory[address] = value;
    s.log.push_back(wr(address, value));
}
inline uint8_t z80_port_in(Z80TestSystem& s, uint16_t port) {
    uint8_t v = s.port_values[port];
    if (!s.port_input.empty()) {
        v = s.port_input.front();
        s.port_input.pop_front();
    }
    s.log.push_back(port_in(port, v));
    return v;
}
inline void z80_port_out(Z80TestSystem& s, uint16_t port, uint8_t value) {
    s.log.push_back(port_out(port, value));
}
inline uint16_t z80_loop_hook(Z80TestSystem& s, Z80Registers& r) {
    s.log.push_back(loop_at(r.pc));
    s.loop_cycles_left.push_back(r.cycles_left);
    if (s.on_loop) s.on_loop(s);
    return r.pc;
}
inline void z80_edfe_hook(Z80TestSystem& s, Z80Registers& r) { s.log.push_back(edfe_at(r.pc)); }

// Every field of the register block, for "nothing else changed" checks.
inline testing::AssertionResult same_registers(const Z80Registers& want, const Z80Registers& got) {
    std::string errors;
    auto field = [&](const char* name, unsigned w, unsigned g) {
        if (w != g) errors += std::string(" ") + name + " " + hex(g, 4) + " (want " + hex(w, 4) + ")";
    };
    field("af", want.af, got.af);
    field("bc", want.bc, got.bc);
    field("de", want.de, got.de);
    field("hl", want.hl, got.hl);
    field("ix", want.ix, got.ix);
    field("iy", want.iy, got.iy);
    field("pc", want.pc, got.pc);
    field("sp", want.sp, got.sp);
    field("af_alt", want.af_alt, got.af_alt);
    field("bc_alt", want.bc_alt, got.bc_alt);
    field("de_alt", want.de_alt, got.de_alt);
    field("hl_alt", want.hl_alt, got.hl_alt);
    field("int_state", want.int_state, got.int_state);
    field("i", want.i, got.i);
    if (want.cycles_left != got.cycles_left)
        errors += " cycles_left " + std::to_string(got.cycles_left) + " (want " +
                  std::to_string(want.cycles_left) + ")";
    if (want.cycle_period != got.cycle_period) errors += " cycle_period changed";
    if (want.stop_pc != got.stop_pc || want.stop_requested != got.stop_requested)
        errors += " stop fields changed";
    if (errors.empty()) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "registers differ:" << errors;
}

// A register block with a distinct value in every register, so that a write
// to the wrong one shows.
inline void fill_registers(Z80Registers& r) {
    r.af = 0x1A2B;
    r.bc = 0x3C4D;
    r.de = 0x5E6F;
    r.hl = 0x7A8B;
    r.ix = 0x9C0D;
    r.iy = 0xAE1F;
    r.sp = 0xC000;
    r.af_alt = 0x1122;
    r.bc_alt = 0x3344;
    r.de_alt = 0x5566;
    r.hl_alt = 0x7788;
    r.i = 0x99;
}

// The ED opcodes that have no instruction; each is a two-byte no-op.
inline std::vector<uint8_t> undefined_ed_opcodes() {
    std::vector<uint8_t> ops;
    auto range = [&](int from, int to) {
        for (int op = from; op <= to; ++op)
            if (op != 0xED) ops.push_back(uint8_t(op));
    };
    range(0x00, 0x3F);
    for (int op : {0x4C, 0x4E, 0x54, 0x55, 0x5C, 0x5D, 0x64, 0x65, 0x66, 0x6C, 0x6D, 0x6E, 0x71})
        range(op, op);
    range(0x74, 0x77);
    range(0x7C, 0x7F);
    range(0x80, 0x9F);
    range(0xA4, 0xA7);
    range(0xAC, 0xAF);
    range(0xB4, 0xB7);
    range(0xBC, 0xFD);
    range(0xFF, 0xFF);
    return ops;
}
