// Z80 processor: register block, constant tables and the four operations.
//
// An instruction-level Z80 with T-state accounting. Each instruction is charged
// the entry of its opcode in one of five cycle tables when it is dispatched,
// plus the extra cost of a taken branch and the per-iteration cost of the block
// instructions; there are no wait states and no separate M1 cycle. It reaches
// the machine only through six hooks (and an optional seventh, below), found
// by argument-dependent lookup on the system type the core is instantiated for
// (see z80_execute.h), so they inline.
// Not emulated: the refresh register (LD A,R returns the low byte of the spent
// slice budget), the undocumented flag bits 3 and 5 except in DAA, the MEMPTR
// register, and the undocumented DDCB forms that also copy into a register.
#pragma once

#include <cstdint>

struct Z80Registers {
    uint16_t af = 0, bc = 0, de = 0, hl = 0;
    uint16_t ix = 0, iy = 0, pc = 0, sp = 0;
    uint16_t af_alt = 0, bc_alt = 0, de_alt = 0, hl_alt = 0;
    uint8_t int_state = 0;
    uint8_t i = 0;
    int32_t cycle_period = 0; // T-states in one run slice
    int32_t cycles_left = 0;  // goes negative by the overshoot of the last instruction
    uint16_t stop_pc = 0;
    uint8_t stop_requested = 0;
};

// int_state bits.
inline constexpr uint8_t kZ80Iff1 = 0x01;
inline constexpr uint8_t kZ80Im1 = 0x02;
inline constexpr uint8_t kZ80Im2 = 0x04;
inline constexpr uint8_t kZ80EiDelay = 0x08; // for a system's EI hook: the core never sets or reads it
inline constexpr uint8_t kZ80IffSaved = 0x40; // IFF1 at the last accepted interrupt; RETN restores it
inline constexpr uint8_t kZ80Halted = 0x80;

// Flag bits of F.
inline constexpr uint8_t kFlagS = 0x80;
inline constexpr uint8_t kFlagZ = 0x40;
inline constexpr uint8_t kFlag5 = 0x20;
inline constexpr uint8_t kFlagH = 0x10;
inline constexpr uint8_t kFlag3 = 0x08;
inline constexpr uint8_t kFlagPV = 0x04;
inline constexpr uint8_t kFlagN = 0x02;
inline constexpr uint8_t kFlagC = 0x01;

constexpr uint8_t z80_hi(uint16_t pair) { return uint8_t(pair >> 8); }
constexpr uint8_t z80_lo(uint16_t pair) { return uint8_t(pair); }
constexpr void z80_set_hi(uint16_t& pair, uint8_t v) { pair = uint16_t((pair & 0x00FF) | (v << 8)); }
constexpr void z80_set_lo(uint16_t& pair, uint8_t v) { pair = uint16_t((pair & 0xFF00) | v); }

// Registers and interrupt state to zero, SP 0xF000, a full slice budget.
// cycle_period must be set first; stop_pc and stop_requested are left alone.
void z80_reset(Z80Registers& r);

// The template operations, declared here and defined in z80_execute.h:
//   template <class System> uint16_t z80_execute(System&, Z80Registers&);
//   template <class System> uint16_t z80_run(System&, Z80Registers&);
//   template <class System> void z80_interrupt(System&, Z80Registers&, uint16_t vector);
// The system provides, as free functions taking it by reference:
//   uint8_t z80_read_byte(System&, uint16_t address);
//   void z80_write_byte(System&, uint16_t address, uint8_t value);
//   uint8_t z80_port_in(System&, uint16_t port);
//   void z80_port_out(System&, uint16_t port, uint8_t value);
//   uint16_t z80_loop_hook(System&, Z80Registers&);   // after every instruction
//   void z80_edfe_hook(System&, Z80Registers&);        // opcode ED FE only
// and may provide
//   int32_t z80_loop_hook_due(System&);
// the cycles_left value below which its loop hook next has work. z80_run then
// calls the loop hook only after an instruction that leaves cycles_left below
// it, or at 0 or less (the slice's last instruction), and asks again after
// each call; z80_execute always calls it. A HALT then lets time pass to just
// below that point, where an interrupt can wake it; without a due hook a
// HALT is credited the rest of the slice. A system may also provide
//   uint8_t z80_fetch_byte(System&, uint16_t address);
// through which the core reads opcode and operand bytes, telling them from
// data reads (which keep going through z80_read_byte), and
//   void z80_ei_hook(System&, Z80Registers&);
// called when EI has set IFF1. The processor accepts no interrupt until the
// instruction after EI has ended, and a system whose interrupt is a level
// needs to know that; with a due hook, the loop hook then also runs after EI,
// so a held request is seen at once (after a RETN that sets IFF1, only at the
// next due point).
//
// The loop and ED FE hooks see the whole block and may change it. During a
// memory or port access every field is current except pc, which the core
// keeps to itself until the next of those hooks; cycles_left already includes
// the whole charge of the instruction.
