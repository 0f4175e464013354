// Z80 executor: z80_execute, z80_run and z80_interrupt as templates over the
// system the processor runs in (the machine, or a test harness).
//
// Design note. Every opcode is a function template specialised on its opcode
// byte and on the register that stands for HL (HL itself, IX after DD, IY after
// FD); its body decodes the opcode's fields with `if constexpr`, so each opcode
// compiles to straight-line code with its cycle charge a constant. The
// unprefixed space and the two index spaces are the same template, which is
// how DD and FD reuse every unprefixed opcode: an opcode without an HL operand
// behaves, and costs, as unprefixed. Hooks are found by argument-dependent
// lookup on the system type and inline into the executor.
//
// Speed, measured on the exerciser under the CP/M harness with g++ 12 -O3:
// host instructions (callgrind) over 47 M T-states sampled at 22 points of a
// whole run, and CPU time on this machine.
//  - PC and the budget live in locals of the running core; the budget is
//    written through at every change, as the machine's write hooks read it.
//    PUSH and POP read SP once and write it once. A byte store may alias the
//    block, so before this every instruction reloaded PC from memory after
//    storing it: 197 M -> 186 M instructions but 29 % less time, the gain
//    being that store-to-load chain rather than the count.
//  - z80_run jumps through a table of label addresses (a GCC and Clang
//    extension), each opcode ending in its own fetch and jump, and PC and the
//    budget are written to the block just before the loop hook, so neither is
//    reloaded after it: 186 M -> 168 M, 6 % less time.
//  - INC and DEC take their flags from two tables: 2 % fewer instructions,
//    no change in time beyond the noise.
//  - z80_loop_hook_due lets the machine skip its hook between line and sample
//    boundaries (frame.cpp).
// Tried and dropped:
//  - Copying the hook, the checks and the dispatch into each of the 256
//    opcodes: 161 M instructions, yet 40 % slower, as GCC no longer kept PC
//    in a register across the copies.
//  - A and F, or all main registers, in locals written back before each hook:
//    204 M to 331 M instructions and slower; GCC recombined AF in every opcode,
//    spilled, and turned the write-back into vector shuffles.
//  - The whole block copied to a local and back around each hook: four times
//    slower, the differently sized copies stalling store-to-load forwarding.
#pragma once

#include "z80/z80.h"
#include "z80/z80_tables.h"

// The whole instruction set inlines into the slice loop, so the system and the
// register block stay in host registers instead of being reloaded after every
// store through the (char-typed, hence aliasing) memory.
// Sanitized builds leave the choice to the compiler: forced into one function
// with every check instrumented, the core takes GCC ten minutes to compile.
#ifdef KOLT_SANITIZED
#define Z80_INLINE inline
#else
#define Z80_INLINE [[gnu::always_inline]] inline
#endif

#define Z80_CASES4(F, n) F(n) F(n + 1) F(n + 2) F(n + 3)
#define Z80_CASES16(F, n) Z80_CASES4(F, n) Z80_CASES4(F, n + 4) Z80_CASES4(F, n + 8) Z80_CASES4(F, n + 12)
#define Z80_CASES64(F, n) Z80_CASES16(F, n) Z80_CASES16(F, n + 16) Z80_CASES16(F, n + 32) Z80_CASES16(F, n + 48)
#define Z80_CASES256(F) Z80_CASES64(F, 0) Z80_CASES64(F, 64) Z80_CASES64(F, 128) Z80_CASES64(F, 192)

// The same 256 opcodes as hex tokens, which labels can be pasted from.
#define Z80_OPCODES(X) \
    X(00) X(01) X(02) X(03) X(04) X(05) X(06) X(07) X(08) X(09) X(0A) X(0B) X(0C) X(0D) X(0E) X(0F) \
    X(10) X(11) X(12) X(13) X(14) X(15) X(16) X(17) X(18) X(19) X(1A) X(1B) X(1C) X(1D) X(1E) X(1F) \
    X(20) X(21) X(22) X(23) X(24) X(25) X(26) X(27) X(28) X(29) X(2A) X(2B) X(2C) X(2D) X(2E) X(2F) \
    X(30) X(31) X(32) X(33) X(34) X(35) X(36) X(37) X(38) X(39) X(3A) X(3B) X(3C) X(3D) X(3E) X(3F) \
    X(40) X(41) X(42) X(43) X(44) X(45) X(46) X(47) X(48) X(49) X(4A) X(4B) X(4C) X(4D) X(4E) X(4F) \
    X(50) X(51) X(52) X(53) X(54) X(55) X(56) X(57) X(58) X(59) X(5A) X(5B) X(5C) X(5D) X(5E) X(5F) \
    X(60) X(61) X(62) X(63) X(64) X(65) X(66) X(67) X(68) X(69) X(6A) X(6B) X(6C) X(6D) X(6E) X(6F) \
    X(70) X(71) X(72) X(73) X(74) X(75) X(76) X(77) X(78) X(79) X(7A) X(7B) X(7C) X(7D) X(7E) X(7F) \
    X(80) X(81) X(82) X(83) X(84) X(85) X(86) X(87) X(88) X(89) X(8A) X(8B) X(8C) X(8D) X(8E) X(8F) \
    X(90) X(91) X(92) X(93) X(94) X(95) X(96) X(97) X(98) X(99) X(9A) X(9B) X(9C) X(9D) X(9E) X(9F) \
    X(A0) X(A1) X(A2) X(A3) X(A4) X(A5) X(A6) X(A7) X(A8) X(A9) X(AA) X(AB) X(AC) X(AD) X(AE) X(AF) \
    X(B0) X(B1) X(B2) X(B3) X(B4) X(B5) X(B6) X(B7) X(B8) X(B9) X(BA) X(BB) X(BC) X(BD) X(BE) X(BF) \
    X(C0) X(C1) X(C2) X(C3) X(C4) X(C5) X(C6) X(C7) X(C8) X(C9) X(CA) X(CB) X(CC) X(CD) X(CE) X(CF) \
    X(D0) X(D1) X(D2) X(D3) X(D4) X(D5) X(D6) X(D7) X(D8) X(D9) X(DA) X(DB) X(DC) X(DD) X(DE) X(DF) \
    X(E0) X(E1) X(E2) X(E3) X(E4) X(E5) X(E6) X(E7) X(E8) X(E9) X(EA) X(EB) X(EC) X(ED) X(EE) X(EF) \
    X(F0) X(F1) X(F2) X(F3) X(F4) X(F5) X(F6) X(F7) X(F8) X(F9) X(FA) X(FB) X(FC) X(FD) X(FE) X(FF)

namespace z80_detail {

using namespace z80_tables;

enum class Idx { HL, IX, IY };

template <class System> struct Core {
    System& sys;
    Z80Registers& r;
    // PC and the slice budget live here while the core runs. The block gets
    // cycles_left at every change (hooks read it during accesses) and PC
    // before the loop and ED FE hooks.
    uint16_t pc;
    int32_t cycles_left;

    Z80_INLINE Core(System& s, Z80Registers& regs) : sys(s), r(regs), pc(regs.pc), cycles_left(regs.cycles_left) {}

    // ---- bus ----------------------------------------------------------------
    Z80_INLINE uint8_t read(uint16_t a) { return z80_read_byte(sys, a); }
    Z80_INLINE void write(uint16_t a, uint8_t v) { z80_write_byte(sys, a, v); }
    // Instruction bytes go through the system's fetch hook where it has one
    // (a debugger telling fetches from data reads), else through the read hook.
    static constexpr bool kFetchHook = requires(System& s) { z80_fetch_byte(s, uint16_t{}); };
    static constexpr bool kEiHook = requires(System& s, Z80Registers& regs) { z80_ei_hook(s, regs); };
    Z80_INLINE uint8_t fetch() {
        if constexpr (kFetchHook) return z80_fetch_byte(sys, pc++);
        else return read(pc++);
    }
    Z80_INLINE uint16_t fetch16() {
        const uint8_t lo = fetch();
        return uint16_t(lo | fetch() << 8);
    }
    Z80_INLINE uint16_t read16(uint16_t a) {
        const uint8_t lo = read(a);
        return uint16_t(lo | read(uint16_t(a + 1)) << 8);
    }
    Z80_INLINE void write16(uint16_t a, uint16_t v) {
        write(a, uint8_t(v));
        write(uint16_t(a + 1), uint8_t(v >> 8));
    }
    // SP is read once and written once: a byte write may alias the block.
    Z80_INLINE void push(uint16_t v) {
        const uint16_t s = r.sp;
        r.sp = uint16_t(s - 2);
        write(uint16_t(s - 1), uint8_t(v >> 8));
        write(uint16_t(s - 2), uint8_t(v));
    }
    Z80_INLINE uint16_t pop() {
        const uint16_t s = r.sp;
        r.sp = uint16_t(s + 2);
        const uint8_t lo = read(s);
        return uint16_t(lo | read(uint16_t(s + 1)) << 8);
    }
    Z80_INLINE void set_cycles_left(int32_t v) {
        cycles_left = v;
        r.cycles_left = v;
    }
    Z80_INLINE void charge(int t) { set_cycles_left(cycles_left - t); }

    // ---- registers ----------------------------------------------------------
    Z80_INLINE uint8_t a() const { return z80_hi(r.af); }
    Z80_INLINE uint8_t f() const { return z80_lo(r.af); }
    Z80_INLINE void set_a(uint8_t v) { z80_set_hi(r.af, v); }
    Z80_INLINE void set_f(int v) { z80_set_lo(r.af, uint8_t(v)); }
    Z80_INLINE int carry() const { return r.af & kFlagC; }

    template <Idx X> Z80_INLINE uint16_t& hl() {
        if constexpr (X == Idx::HL) return r.hl;
        else if constexpr (X == Idx::IX) return r.ix;
        else return r.iy;
    }

    // 8-bit register by its 3-bit code (B C D E H L - A); H and L become the
    // halves of the index register. Code 6, the memory operand, is handled apart.
    template <int R, Idx X> Z80_INLINE uint8_t get8() {
        static_assert(R != 6);
        if constexpr (R == 0) return z80_hi(r.bc);
        else if constexpr (R == 1) return z80_lo(r.bc);
        else if constexpr (R == 2) return z80_hi(r.de);
        else if constexpr (R == 3) return z80_lo(r.de);
        else if constexpr (R == 4) return z80_hi(hl<X>());
        else if constexpr (R == 5) return z80_lo(hl<X>());
        else return a();
    }
    template <int R, Idx X> Z80_INLINE void set8(uint8_t v) {
        static_assert(R != 6);
        if constexpr (R == 0) z80_set_hi(r.bc, v);
        else if constexpr (R == 1) z80_set_lo(r.bc, v);
        else if constexpr (R == 2) z80_set_hi(r.de, v);
        else if constexpr (R == 3) z80_set_lo(r.de, v);
        else if constexpr (R == 4) z80_set_hi(hl<X>(), v);
        else if constexpr (R == 5) z80_set_lo(hl<X>(), v);
        else set_a(v);
    }

    // Register pairs: rp (BC DE HL SP) and rp2 (BC DE HL AF).
    template <int P, Idx X> Z80_INLINE uint16_t& rp() {
        if constexpr (P == 0) return r.bc;
        else if constexpr (P == 1) return r.de;
        else if constexpr (P == 2) return hl<X>();
        else return r.sp;
    }
    template <int P, Idx X> Z80_INLINE uint16_t& rp2() {
        if constexpr (P == 3) return r.af;
        else return rp<P, X>();
    }

    // Address of the memory operand: (HL), or (IX+d) with d fetched here.
    template <Idx X> Z80_INLINE uint16_t operand_address() {
        if constexpr (X == Idx::HL) return r.hl;
        else return uint16_t(hl<X>() + int8_t(fetch()));
    }

    template <int Y> Z80_INLINE bool condition() const {
        const uint8_t fl = f();
        if constexpr (Y == 0) return !(fl & kFlagZ);
        else if constexpr (Y == 1) return fl & kFlagZ;
        else if constexpr (Y == 2) return !(fl & kFlagC);
        else if constexpr (Y == 3) return fl & kFlagC;
        else if constexpr (Y == 4) return !(fl & kFlagPV);
        else if constexpr (Y == 5) return fl & kFlagPV;
        else if constexpr (Y == 6) return !(fl & kFlagS);
        else return fl & kFlagS;
    }

    // ---- arithmetic and logic -------------------------------------------------
    // F is assigned whole (bits 3 and 5 left 0) except where flags are kept.
    Z80_INLINE void add8(uint8_t v, int c) {
        const int x = a(), res = x + v + c;
        set_f(kSZ[res & 0xFF] | ((x ^ v ^ res) & kFlagH) | (((x ^ ~v) & (x ^ res) & 0x80) >> 5) | (res >> 8));
        set_a(uint8_t(res));
    }
    Z80_INLINE uint8_t sub8(uint8_t v, int c) {
        const int x = a(), res = x - v - c;
        set_f(kSZ[res & 0xFF] | ((x ^ v ^ res) & kFlagH) | (((x ^ v) & (x ^ res) & 0x80) >> 5) | kFlagN |
              ((res >> 8) & kFlagC));
        return uint8_t(res);
    }
    template <int Y> Z80_INLINE void alu(uint8_t v) {
        if constexpr (Y == 0) add8(v, 0);
        else if constexpr (Y == 1) add8(v, carry());
        else if constexpr (Y == 2) set_a(sub8(v, 0));
        else if constexpr (Y == 3) set_a(sub8(v, carry()));
        else if constexpr (Y == 4) {
            set_a(a() & v);
            set_f(kSZP[a()] | kFlagH);
        } else if constexpr (Y == 5) {
            set_a(a() ^ v);
            set_f(kSZP[a()]);
        } else if constexpr (Y == 6) {
            set_a(a() | v);
            set_f(kSZP[a()]);
        } else sub8(v, 0);
    }
    Z80_INLINE uint8_t inc8(uint8_t v) {
        const uint8_t res = uint8_t(v + 1);
        set_f((f() & (kFlagC | kFlag5 | kFlag3)) | kIncFlags[res]);
        return res;
    }
    Z80_INLINE uint8_t dec8(uint8_t v) {
        const uint8_t res = uint8_t(v - 1);
        set_f((f() & (kFlagC | kFlag5 | kFlag3)) | kDecFlags[res]);
        return res;
    }
    Z80_INLINE uint16_t add16(uint16_t x, uint16_t v) {
        const int res = x + v;
        set_f((f() & (kFlagS | kFlagZ | kFlagPV | kFlag5 | kFlag3)) | (((x ^ v ^ res) >> 8) & kFlagH) | (res >> 16));
        return uint16_t(res);
    }
    Z80_INLINE void adc16(uint16_t v) {
        const int x = r.hl, res = x + v + carry();
        set_f(((res >> 8) & kFlagS) | ((res & 0xFFFF) ? 0 : kFlagZ) | (((x ^ v ^ res) >> 8) & kFlagH) |
              (((x ^ ~v) & (x ^ res) & 0x8000) >> 13) | (res >> 16));
        r.hl = uint16_t(res);
    }
    Z80_INLINE void sbc16(uint16_t v) {
        const int x = r.hl, res = x - v - carry();
        set_f(((res >> 8) & kFlagS) | ((res & 0xFFFF) ? 0 : kFlagZ) | (((x ^ v ^ res) >> 8) & kFlagH) |
              (((x ^ v) & (x ^ res) & 0x8000) >> 13) | kFlagN | ((res >> 16) & kFlagC));
        r.hl = uint16_t(res);
    }

    // CB rotates and shifts: RLC RRC RL RR SLA SRA SLL SRL.
    template <int Y> Z80_INLINE uint8_t shift(uint8_t v) {
        int c, res;
        if constexpr (Y == 0) c = v >> 7, res = v << 1 | c;
        else if constexpr (Y == 1) c = v & 1, res = v >> 1 | c << 7;
        else if constexpr (Y == 2) c = v >> 7, res = v << 1 | carry();
        else if constexpr (Y == 3) c = v & 1, res = v >> 1 | carry() << 7;
        else if constexpr (Y == 4) c = v >> 7, res = v << 1;
        else if constexpr (Y == 5) c = v & 1, res = v >> 1 | (v & 0x80);
        else if constexpr (Y == 6) c = v >> 7, res = v << 1 | 1;
        else c = v & 1, res = v >> 1;
        const uint8_t out = uint8_t(res);
        set_f(kSZP[out] | c);
        return out;
    }
    template <int Y> Z80_INLINE void bit(uint8_t v) {
        set_f((f() & (kFlagS | kFlagPV | kFlagC | kFlag5 | kFlag3)) | kFlagH | ((v >> Y) & 1 ? 0 : kFlagZ));
    }

    // ---- control ------------------------------------------------------------
    // Time passes up to the next point where the loop hook has work, where an
    // interrupt can come and wake the CPU in that cycle; a system without a
    // due hook is credited the rest of the slice at once.
    Z80_INLINE void halt() {
        --pc; // back onto the 76 byte
        r.int_state |= kZ80Halted;
        if constexpr (kHookDue) {
            const int32_t wake = hook_limit() - 1;
            if (cycles_left > wake) set_cycles_left(wake);
        } else {
            set_cycles_left(0);
        }
    }
    Z80_INLINE void jr_taken() {
        const int8_t e = int8_t(fetch());
        pc = uint16_t(pc + e);
        charge(kJrTaken);
    }

    // ---- unprefixed, DD and FD opcodes ----------------------------------------
    template <int OP, Idx X> Z80_INLINE void op_main() {
        [[maybe_unused]] constexpr int x = op_x(OP), y = op_y(OP), z = op_z(OP), p = op_p(OP), q = op_q(OP);
        constexpr bool kIndexed = X != Idx::HL;
        // An index prefix before an opcode without an HL operand is ignored,
        // and the opcode costs what it costs unprefixed. Charged nothing, as
        // the index table's zero entries would have it, a prefixed jump loop
        // (DD 18 FD) never spent its slice and the frame never ended.
        charge(kIndexed && kCyclesIndex[OP] != 0 ? kCyclesIndex[OP] : kCyclesMain[OP]);

        if constexpr (x == 0) {
            if constexpr (z == 0) {
                if constexpr (y == 1) {
                    const uint16_t t = r.af;
                    r.af = r.af_alt;
                    r.af_alt = t;
                } else if constexpr (y == 2) {
                    z80_set_hi(r.bc, uint8_t(z80_hi(r.bc) - 1));
                    if (z80_hi(r.bc) != 0) {
                        const int8_t e = int8_t(fetch());
                        pc = uint16_t(pc + e);
                        charge(kDjnzTaken);
                    } else {
                        ++pc;
                    }
                } else if constexpr (y == 3) {
                    const int8_t e = int8_t(fetch());
                    pc = uint16_t(pc + e);
                } else if constexpr (y >= 4) {
                    if (condition<y - 4>()) jr_taken();
                    else ++pc;
                }
            } else if constexpr (z == 1) {
                if constexpr (q == 0) rp<p, X>() = fetch16();
                else hl<X>() = add16(hl<X>(), rp<p, X>());
            } else if constexpr (z == 2) {
                if constexpr (p == 0 && q == 0) write(r.bc, a());
                else if constexpr (p == 1 && q == 0) write(r.de, a());
                else if constexpr (p == 2 && q == 0) write16(fetch16(), hl<X>());
                else if constexpr (p == 3 && q == 0) write(fetch16(), a());
                else if constexpr (p == 0) set_a(read(r.bc));
                else if constexpr (p == 1) set_a(read(r.de));
                else if constexpr (p == 2) hl<X>() = read16(fetch16());
                else set_a(read(fetch16()));
            } else if constexpr (z == 3) {
                if constexpr (q == 0) ++rp<p, X>();
                else --rp<p, X>();
            } else if constexpr (z == 4 || z == 5) {
                if constexpr (y == 6) {
                    const uint16_t addr = operand_address<X>();
                    const uint8_t v = read(addr);
                    write(addr, z == 4 ? inc8(v) : dec8(v));
                } else {
                    set8<y, X>(z == 4 ? inc8(get8<y, X>()) : dec8(get8<y, X>()));
                }
            } else if constexpr (z == 6) {
                if constexpr (y == 6) {
                    const uint16_t addr = operand_address<X>();
                    write(addr, fetch());
                } else {
                    set8<y, X>(fetch());
                }
            } else {
                const int acc = a(), fl = f();
                constexpr int kKeep = kFlagS | kFlagZ | kFlagPV | kFlag5 | kFlag3;
                if constexpr (y == 0) { // RLCA
                    set_a(uint8_t(acc << 1 | acc >> 7));
                    set_f((fl & kKeep) | acc >> 7);
                } else if constexpr (y == 1) { // RRCA
                    set_a(uint8_t(acc >> 1 | acc << 7));
                    set_f((fl & kKeep) | (acc & 1));
                } else if constexpr (y == 2) { // RLA
                    set_a(uint8_t(acc << 1 | (fl & kFlagC)));
                    set_f((fl & kKeep) | acc >> 7);
                } else if constexpr (y == 3) { // RRA
                    set_a(uint8_t(acc >> 1 | (fl & kFlagC) << 7));
                    set_f((fl & kKeep) | (acc & 1));
                } else if constexpr (y == 4) { // DAA
                    r.af = kDAA[acc | (fl & kFlagC) << 8 | (fl & kFlagH) << 5 | (fl & kFlagN) << 9];
                } else if constexpr (y == 5) { // CPL
                    set_a(uint8_t(~acc));
                    set_f(fl | kFlagH | kFlagN);
                } else if constexpr (y == 6) { // SCF
                    set_f((fl & kKeep) | kFlagC);
                } else { // CCF
                    set_f((fl & kKeep) | (fl & kFlagC) << 4 | ((fl & kFlagC) ^ kFlagC));
                }
            }
        } else if constexpr (x == 1) {
            if constexpr (y == 6 && z == 6) {
                halt();
            } else if constexpr (z == 6) { // LD r,(HL): r stays the real H or L
                set8<y, Idx::HL>(read(operand_address<X>()));
            } else if constexpr (y == 6) {
                const uint16_t addr = operand_address<X>();
                write(addr, get8<z, Idx::HL>());
            } else if constexpr (y != z) {
                set8<y, X>(get8<z, X>());
            }
        } else if constexpr (x == 2) {
            if constexpr (z == 6) alu<y>(read(operand_address<X>()));
            else alu<y>(get8<z, X>());
        } else {
            if constexpr (z == 0) {
                if (condition<y>()) {
                    pc = pop();
                    charge(kRetTaken);
                }
            } else if constexpr (z == 1) {
                if constexpr (q == 0) rp2<p, X>() = pop();
                else if constexpr (p == 0) pc = pop();
                else if constexpr (p == 1) {
                    uint16_t t = r.bc;
                    r.bc = r.bc_alt, r.bc_alt = t;
                    t = r.de, r.de = r.de_alt, r.de_alt = t;
                    t = r.hl, r.hl = r.hl_alt, r.hl_alt = t;
                } else if constexpr (p == 2) pc = hl<X>();
                else r.sp = hl<X>();
            } else if constexpr (z == 2) {
                if (condition<y>()) pc = fetch16();
                else pc = uint16_t(pc + 2);
            } else if constexpr (z == 3) {
                if constexpr (y == 0) pc = fetch16();
                else if constexpr (y == 1) {
                    if constexpr (kIndexed) execute_index_cb<X>();
                    else execute_cb();
                } else if constexpr (y == 2) {
                    z80_port_out(sys, fetch(), a());
                } else if constexpr (y == 3) {
                    set_a(z80_port_in(sys, fetch()));
                } else if constexpr (y == 4) {
                    uint16_t& reg = hl<X>();
                    const uint8_t lo = read(r.sp);
                    write(r.sp, z80_lo(reg));
                    const uint8_t hi = read(uint16_t(r.sp + 1));
                    write(uint16_t(r.sp + 1), z80_hi(reg));
                    reg = uint16_t(lo | hi << 8);
                } else if constexpr (y == 5) { // EX DE,HL is never redirected
                    const uint16_t t = r.de;
                    r.de = r.hl, r.hl = t;
                } else if constexpr (y == 6) {
                    r.int_state &= uint8_t(~kZ80Iff1);
                } else {
                    r.int_state |= kZ80Iff1;
                    if constexpr (kEiHook) z80_ei_hook(sys, r);
                }
            } else if constexpr (z == 4) {
                if (condition<y>()) {
                    const uint16_t target = fetch16();
                    charge(kCallTaken);
                    push(pc);
                    pc = target;
                } else {
                    pc = uint16_t(pc + 2);
                }
            } else if constexpr (z == 5) {
                if constexpr (q == 0) push(rp2<p, X>());
                else if constexpr (p == 0) {
                    const uint16_t target = fetch16();
                    push(pc);
                    pc = target;
                } else if constexpr (p == 2) {
                    if constexpr (kIndexed) {} // DD ED: both bytes consumed, nothing else
                    else execute_ed();
                } else {
                    constexpr Idx kPrefix = p == 1 ? Idx::IX : Idx::IY;
                    if constexpr (kIndexed) --pc; // a second prefix replaces the first
                    else execute_index<kPrefix>();
                }
            } else if constexpr (z == 6) {
                alu<y>(fetch());
            } else {
                push(pc);
                pc = uint16_t(y * 8);
            }
        }
    }

    // ---- CB ----------------------------------------------------------------------
    template <int OP> Z80_INLINE void op_cb() {
        [[maybe_unused]] constexpr int x = op_x(OP), y = op_y(OP), z = op_z(OP);
        charge(kCyclesCB[OP]);
        if constexpr (z == 6) {
            const uint8_t v = read(r.hl);
            if constexpr (x == 0) write(r.hl, shift<y>(v));
            else if constexpr (x == 1) bit<y>(v);
            else if constexpr (x == 2) write(r.hl, uint8_t(v & ~(1 << y)));
            else write(r.hl, uint8_t(v | 1 << y));
        } else {
            if constexpr (x == 0) set8<z, Idx::HL>(shift<y>(get8<z, Idx::HL>()));
            else if constexpr (x == 1) bit<y>(get8<z, Idx::HL>());
            else if constexpr (x == 2) set8<z, Idx::HL>(uint8_t(get8<z, Idx::HL>() & ~(1 << y)));
            else set8<z, Idx::HL>(uint8_t(get8<z, Idx::HL>() | 1 << y));
        }
    }

    // ---- DDCB and FDCB: displacement first, then the opcode -----------------------
    template <int OP, Idx X> Z80_INLINE void op_index_cb(uint16_t addr) {
        [[maybe_unused]] constexpr int x = op_x(OP), y = op_y(OP), z = op_z(OP);
        charge(kCyclesIndexCB[OP]);
        if constexpr (x == 1) {
            bit<y>(read(addr));
        } else if constexpr (z == 6) {
            const uint8_t v = read(addr);
            if constexpr (x == 0) write(addr, shift<y>(v));
            else if constexpr (x == 2) write(addr, uint8_t(v & ~(1 << y)));
            else write(addr, uint8_t(v | 1 << y));
        }
    }

    // ---- ED --------------------------------------------------------------------------
    // One step of LDI/LDD, CPI/CPD, INI/IND, OUTI/OUTD without setting flags.
    // Returns the byte read or compared, for CPI's flags.
    template <int Y, int Z> Z80_INLINE uint8_t block_step() {
        constexpr int step = (Y & 1) ? -1 : 1;
        uint8_t v;
        if constexpr (Z == 0) { // LDI
            v = read(r.hl);
            write(r.de, v);
            r.de = uint16_t(r.de + step);
            r.hl = uint16_t(r.hl + step);
            --r.bc;
        } else if constexpr (Z == 1) { // CPI
            v = read(r.hl);
            r.hl = uint16_t(r.hl + step);
            --r.bc;
        } else if constexpr (Z == 2) { // INI
            v = z80_port_in(sys, z80_lo(r.bc));
            write(r.hl, v);
            r.hl = uint16_t(r.hl + step);
            z80_set_hi(r.bc, uint8_t(z80_hi(r.bc) - 1));
        } else { // OUTI
            v = read(r.hl);
            r.hl = uint16_t(r.hl + step);
            z80_port_out(sys, z80_lo(r.bc), v);
            z80_set_hi(r.bc, uint8_t(z80_hi(r.bc) - 1));
        }
        return v;
    }
    template <int Z> Z80_INLINE void block_flags(uint8_t v) {
        if constexpr (Z == 0) {
            set_f((f() & (kFlagS | kFlagZ | kFlagC | kFlag5 | kFlag3)) | (r.bc ? kFlagPV : 0));
        } else if constexpr (Z == 1) {
            const int x = a(), res = x - v;
            set_f(kSZ[res & 0xFF] | ((x ^ v ^ res) & kFlagH) | (r.bc ? kFlagPV : 0) | kFlagN | carry());
        } else {
            set_f(z80_hi(r.bc) == 0 ? kFlagZ | kFlagN : kFlagN);
        }
    }
    template <int Y, int Z> Z80_INLINE void block_repeat() {
        for (;;) {
            const uint8_t v = block_step<Y, Z>();
            charge(kBlockIteration);
            bool done;
            if constexpr (Z == 0) done = r.bc == 0;
            else if constexpr (Z == 1) done = r.bc == 0 || v == a();
            else done = z80_hi(r.bc) == 0;
            if (done) {
                block_flags<Z>(v);
                set_cycles_left(cycles_left + kBlockLastRefund);
                return;
            }
            // CPDR never yields to the slice: it always runs to a match or BC = 0.
            if (Y == 7 && Z == 1) continue;
            if (cycles_left > 0) continue;
            block_flags<Z>(v); // BC or B is not 0 here, so P/V is set
            pc = uint16_t(pc - 2);
            return;
        }
    }

    template <int OP> Z80_INLINE void op_ed() {
        [[maybe_unused]] constexpr int x = op_x(OP), y = op_y(OP), z = op_z(OP), p = op_p(OP), q = op_q(OP);
        charge(kCyclesED[OP]);
        if constexpr (OP == 0xED) {
            --pc; // fetched again as a new prefix
        } else if constexpr (OP == 0xFE) {
            r.pc = pc;
            z80_edfe_hook(sys, r);
            pc = r.pc;
            cycles_left = r.cycles_left;
        } else if constexpr (kCyclesED[OP] == 0 && !(x == 2 && y >= 6 && z <= 3)) {
            // undefined: both bytes consumed, nothing else
        } else if constexpr (x == 1) {
            if constexpr (z == 0) {
                const uint8_t v = z80_port_in(sys, z80_lo(r.bc));
                set_f(kSZP[v] | carry());
                if constexpr (y != 6) set8<y, Idx::HL>(v);
            } else if constexpr (z == 1) {
                z80_port_out(sys, z80_lo(r.bc), get8<y, Idx::HL>());
            } else if constexpr (z == 2) {
                if constexpr (q == 0) sbc16(rp<p, Idx::HL>());
                else adc16(rp<p, Idx::HL>());
            } else if constexpr (z == 3) {
                const uint16_t addr = fetch16();
                if constexpr (q == 0) write16(addr, rp<p, Idx::HL>());
                else rp<p, Idx::HL>() = read16(addr);
            } else if constexpr (z == 4) { // NEG
                const int x0 = a(), res = -x0;
                set_f(kSZ[res & 0xFF] | ((x0 ^ res) & kFlagH) | (x0 == 0x80 ? kFlagPV : 0) | kFlagN |
                      (x0 != 0 ? kFlagC : 0));
                set_a(uint8_t(res));
            } else if constexpr (z == 5) {
                if constexpr (y == 0) { // RETN
                    r.int_state = uint8_t((r.int_state & ~kZ80Iff1) | ((r.int_state & kZ80IffSaved) ? kZ80Iff1 : 0));
                }
                pc = pop();
            } else if constexpr (z == 6) {
                r.int_state &= uint8_t(~(kZ80Im1 | kZ80Im2));
                if constexpr (y == 2) r.int_state |= kZ80Im1;
                else if constexpr (y == 3) r.int_state |= kZ80Im2;
            } else {
                if constexpr (y == 0) r.i = a();
                else if constexpr (y == 1) {} // LD R,A: there is no refresh register
                else if constexpr (y == 2 || y == 3) {
                    set_a(y == 2 ? r.i : uint8_t(-cycles_left));
                    set_f((f() & (kFlagC | kFlag5 | kFlag3)) | kSZ[a()] | ((r.int_state & kZ80Iff1) ? kFlagPV : 0));
                } else {
                    const uint8_t m = read(r.hl), acc = a();
                    if constexpr (y == 4) { // RRD
                        write(r.hl, uint8_t(acc << 4 | m >> 4));
                        set_a(uint8_t((acc & 0xF0) | (m & 0x0F)));
                    } else { // RLD
                        write(r.hl, uint8_t(m << 4 | (acc & 0x0F)));
                        set_a(uint8_t((acc & 0xF0) | m >> 4));
                    }
                    set_f(kSZP[a()] | carry());
                }
            }
        } else if constexpr (y >= 6) {
            block_repeat<y, z>();
        } else {
            block_flags<z>(block_step<y, z>());
        }
    }

    // ---- the slice loop ---------------------------------------------------------------
    static constexpr bool kHookDue = requires(System& s) { z80_loop_hook_due(s); };

    // The loop hook runs after an instruction that leaves cycles_left below
    // this; at least 1, so that the slice's last instruction and a HALT always
    // reach the hook.
    Z80_INLINE int32_t hook_limit() {
        const int32_t due = z80_loop_hook_due(sys);
        return due > 1 ? due : 1;
    }

    // ---- dispatch -------------------------------------------------------------------
#define Z80_MAIN_CASE(n) \
    case (n): op_main<(n), Idx::HL>(); break;
    Z80_INLINE void execute_main(uint8_t op) {
        switch (op) { Z80_CASES256(Z80_MAIN_CASE) }
    }
#undef Z80_MAIN_CASE

#define Z80_CB_CASE(n) \
    case (n): op_cb<(n)>(); break;
    Z80_INLINE void execute_cb() {
        switch (fetch()) { Z80_CASES256(Z80_CB_CASE) }
    }
#undef Z80_CB_CASE

#define Z80_ED_CASE(n) \
    case (n): op_ed<(n)>(); break;
    Z80_INLINE void execute_ed() {
        switch (fetch()) { Z80_CASES256(Z80_ED_CASE) }
    }
#undef Z80_ED_CASE

#define Z80_INDEX_CASE(n) \
    case (n): op_main<(n), X>(); break;
    template <Idx X> Z80_INLINE void execute_index() {
        switch (fetch()) { Z80_CASES256(Z80_INDEX_CASE) }
    }
#undef Z80_INDEX_CASE

#define Z80_INDEX_CB_CASE(n) \
    case (n): op_index_cb<(n), X>(addr); break;
    template <Idx X> Z80_INLINE void execute_index_cb() {
        const uint16_t addr = uint16_t(hl<X>() + int8_t(fetch()));
        switch (fetch()) { Z80_CASES256(Z80_INDEX_CB_CASE) }
    }
#undef Z80_INDEX_CB_CASE
};

} // namespace z80_detail

// Executes one instruction, prefixes included, then calls the loop hook.
template <class System> Z80_INLINE uint16_t z80_execute(System& sys, Z80Registers& r) {
    z80_detail::Core<System> core{sys, r};
    core.execute_main(core.fetch());
    r.pc = core.pc;
    z80_loop_hook(sys, r);
    return r.pc;
}

// Runs instructions until the slice budget is spent, then refills it. Returns
// early, budget untouched, when the loop hook requests a stop. A CPU that is
// still halted after its HALT has credited the rest of the slice cannot wake
// before the next slice, so the slice ends there.
//
// Each unprefixed opcode has a label here and ends by fetching the next one
// and jumping through kOps itself, so the host predicts each jump from the
// opcode it follows. Everything between two jumps is inlined; prefixed
// opcodes dispatch with a switch inside their opcode's code.
template <class System> inline uint16_t z80_run(System& sys, Z80Registers& r) {
    using namespace z80_detail;
    Core<System> core{sys, r};
    constexpr bool kHookDue = Core<System>::kHookDue;
#define Z80_LABEL(n) &&op_##n,
    static const void* const kOps[256] = {Z80_OPCODES(Z80_LABEL)};
#undef Z80_LABEL
    int32_t limit = 0; // the loop hook is skipped while cycles_left stays at or above this
    if constexpr (kHookDue) limit = core.hook_limit();
    if (core.cycles_left < 0) goto slice_end;
    goto *kOps[core.fetch()];
#define Z80_OP(n)                                                 \
    op_##n:                                                       \
    core.template op_main<0x##n, Idx::HL>();                      \
    if constexpr (kHookDue) {                                     \
        if constexpr (0x##n == 0xFB) goto hook;                   \
        if (core.cycles_left >= limit) [[likely]]                 \
            goto *kOps[core.fetch()];                             \
    }                                                             \
    goto hook;
    Z80_OPCODES(Z80_OP)
#undef Z80_OP
hook:
    r.pc = core.pc;
    r.cycles_left = core.cycles_left;
    z80_loop_hook(sys, r);
    core.pc = r.pc; // an interrupt moves it
    core.cycles_left = r.cycles_left;
    if (r.stop_requested == 1) return core.pc;
    if (core.cycles_left < 0 || (core.cycles_left == 0 && (r.int_state & kZ80Halted))) goto slice_end;
    if constexpr (kHookDue) limit = core.hook_limit();
    goto *kOps[core.fetch()];
slice_end:
    core.set_cycles_left(core.cycles_left + r.cycle_period);
    return core.pc;
}

// Interrupt acceptance; a request with IFF1 clear is dropped, not held.
// It costs what the processor takes: the acknowledge cycle (an M1 with two
// automatic wait states) and the two pushes, 13 T-states in mode 1 and in
// mode 0 (a restart on the bus), 19 in mode 2 with its table read.
template <class System> inline void z80_interrupt(System& sys, Z80Registers& r, uint16_t vector) {
    if (!(r.int_state & kZ80Iff1)) return;
    r.int_state = uint8_t((r.int_state & ~(kZ80Iff1 | kZ80IffSaved)) | kZ80IffSaved);
    if (r.int_state & kZ80Halted) {
        ++r.pc;
        r.int_state &= uint8_t(~kZ80Halted);
    }
    z80_detail::Core<System> core{sys, r};
    core.charge(7);
    core.push(r.pc);
    core.charge(6);
    if (r.int_state & kZ80Im2) {
        r.pc = core.read16(uint16_t(r.i << 8 | (vector & 0xFF)));
        core.charge(6);
    } else if (r.int_state & kZ80Im1) {
        r.pc = 0x0038;
    } else {
        r.pc = vector;
    }
}
