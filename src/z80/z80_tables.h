// Z80 constant tables: the five cycle tables and the SZ, SZP and DAA flag tables.
//
// All of them are computed at compile time from the opcode structure
// (x = bits 7-6, y = bits 5-3, z = bits 2-0, p = y >> 1, q = y & 1), so a wrong
// entry is a wrong rule, visible in one line, rather than a typo in a pasted
// table. Cycle counts are written as sums of machine cycles: an opcode fetch
// is 4 T-states, a memory or port byte 3, and internal cycles as they come.
// Conditional JR, DJNZ, CALL and RET hold their not-taken count; the executor
// charges the difference when the branch is taken. Prefix bytes cost nothing
// by themselves: the second-level tables include the prefix's fetch.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace z80_tables {

inline constexpr int kFetch = 4; // opcode fetch (M1)
inline constexpr int kMem = 3;   // one memory byte
inline constexpr int kPort = 4;  // one port byte

// Extra T-states of a taken conditional branch (only in the unprefixed space).
inline constexpr int kJrTaken = 5;
inline constexpr int kDjnzTaken = 5;
inline constexpr int kCallTaken = 7;
inline constexpr int kRetTaken = 6;
inline constexpr int kBlockIteration = 21; // one iteration of LDIR and the like
inline constexpr int kBlockLastRefund = 5; // the last iteration costs 16

constexpr int op_x(int op) { return op >> 6; }
constexpr int op_y(int op) { return (op >> 3) & 7; }
constexpr int op_z(int op) { return op & 7; }
constexpr int op_p(int op) { return (op >> 4) & 3; }
constexpr int op_q(int op) { return (op >> 3) & 1; }

constexpr uint8_t main_cycles(int op) {
    const int x = op_x(op), y = op_y(op), z = op_z(op), p = op_p(op), q = op_q(op);
    switch (x) {
    case 0:
        switch (z) {
        case 0:
            if (y <= 1) return kFetch;              // NOP, EX AF,AF'
            if (y == 2) return kFetch + 1 + kMem;   // DJNZ, not taken
            if (y == 3) return kFetch + kMem + 5;   // JR e
            return kFetch + kMem;                   // JR cc,e, not taken
        case 1: return q == 0 ? kFetch + 2 * kMem   // LD rr,nn
                              : kFetch + 7;         // ADD HL,rr
        case 2:
            if (p <= 1) return kFetch + kMem;       // LD (BC),A and the like
            if (p == 2) return kFetch + 4 * kMem;   // LD (nn),HL; LD HL,(nn)
            return kFetch + 3 * kMem;               // LD (nn),A; LD A,(nn)
        case 3: return kFetch + 2;                  // INC rr, DEC rr
        case 4:
        case 5: return y == 6 ? kFetch + 1 + 2 * kMem : kFetch; // INC/DEC (HL) or r
        case 6: return y == 6 ? kFetch + 2 * kMem : kFetch + kMem; // LD (HL),n or r,n
        default: return kFetch;                     // rotates of A, DAA, CPL, SCF, CCF
        }
    case 1:
        if (y == 6 && z == 6) return kFetch;        // HALT
        return (y == 6 || z == 6) ? kFetch + kMem : kFetch;
    case 2: return z == 6 ? kFetch + kMem : kFetch;
    default:
        switch (z) {
        case 0: return kFetch + 1;                  // RET cc, not taken
        case 1:
            if (q == 0) return kFetch + 2 * kMem;   // POP
            if (p == 0) return kFetch + 2 * kMem;   // RET
            if (p == 3) return kFetch + 2;          // LD SP,HL
            return kFetch;                          // EXX, JP (HL)
        case 2: return kFetch + 2 * kMem;           // JP cc,nn, taken or not
        case 3:
            switch (y) {
            case 0: return kFetch + 2 * kMem;       // JP nn
            case 1: return 0;                       // CB prefix
            case 2:
            case 3: return kFetch + kMem + kPort;   // OUT (n),A; IN A,(n)
            case 4: return kFetch + 4 * kMem + 3;   // EX (SP),HL
            default: return kFetch;                 // EX DE,HL, DI, EI
            }
        case 4: return kFetch + 2 * kMem;           // CALL cc,nn, not taken
        case 5:
            if (q == 0) return kFetch + 1 + 2 * kMem; // PUSH
            if (p == 0) return kFetch + 4 * kMem + 1; // CALL nn
            return 0;                               // DD, ED, FD prefixes
        case 6: return kFetch + kMem;               // ALU n
        default: return kFetch + 1 + 2 * kMem;      // RST
        }
    }
}

constexpr uint8_t cb_cycles(int op) {
    if (op_z(op) != 6) return 2 * kFetch;
    return op_x(op) == 1 ? 2 * kFetch + 1 + kMem   // BIT b,(HL)
                         : 2 * kFetch + 1 + 2 * kMem;
}

// Zero for the undefined opcodes and for the repeating block instructions,
// which charge per iteration themselves.
constexpr uint8_t ed_cycles(int op) {
    const int x = op_x(op), y = op_y(op), z = op_z(op);
    if (x == 2) return (z <= 3 && (y == 4 || y == 5)) ? 2 * kFetch + 2 * kMem + 2 : 0;
    if (x != 1) return 0;
    switch (z) {
    case 0: return 2 * kFetch + kPort;              // IN r,(C), IN F,(C) included
    case 1: return y == 6 ? 0 : 2 * kFetch + kPort; // OUT (C),r; ED 71 is undefined
    case 2: return 2 * kFetch + 7;                  // SBC/ADC HL,rr
    case 3: return 2 * kFetch + 4 * kMem;           // LD (nn),rr; LD rr,(nn)
    case 4: return y == 0 ? 2 * kFetch : 0;         // NEG
    case 5: return y <= 1 ? 2 * kFetch + 2 * kMem : 0; // RETN, RETI
    case 6: return (y == 0 || y == 2 || y == 3) ? 2 * kFetch : 0; // IM 0, 1, 2
    default:
        if (y <= 3) return 2 * kFetch + 1;          // LD I,A; LD R,A; LD A,I; LD A,R
        if (y <= 5) return 2 * kFetch + 4 + 2 * kMem; // RRD, RLD
        return 0;
    }
}

// Opcodes without an H, L, HL or (HL) operand cost nothing after DD or FD.
constexpr uint8_t index_cycles(int op) {
    const int x = op_x(op), y = op_y(op), z = op_z(op), p = op_p(op), q = op_q(op);
    constexpr int kPre = 2 * kFetch;
    constexpr int kDisp = kMem + 5; // displacement byte and the address addition
    constexpr int kHalf = kPre + 1; // every IXh/IXl form
    switch (x) {
    case 0:
        switch (z) {
        case 1:
            if (q == 1) return kPre + 7;                        // ADD IX,rr
            return p == 2 ? kPre + 2 * kMem : 0;                // LD IX,nn
        case 2: return p == 2 ? kPre + 4 * kMem : 0;            // LD (nn),IX; LD IX,(nn)
        case 3: return p == 2 ? kPre + 2 : 0;                   // INC IX, DEC IX
        case 4:
        case 5:
            if (y == 6) return kPre + kDisp + 1 + 2 * kMem;     // INC/DEC (IX+d)
            return (y == 4 || y == 5) ? kHalf : 0;
        case 6:
            if (y == 6) return kPre + kMem + (kMem + 2) + kMem; // LD (IX+d),n: d, n, write
            return (y == 4 || y == 5) ? kHalf : 0;
        default: return 0;
        }
    case 1:
        if (y == 6 && z == 6) return 0;                         // HALT
        if (y == 6 || z == 6) return kPre + kDisp + kMem;       // LD r,(IX+d); LD (IX+d),r
        return (y == 4 || y == 5 || z == 4 || z == 5) ? kHalf : 0;
    case 2:
        if (z == 6) return kPre + kDisp + kMem;                 // ALU (IX+d)
        return (z == 4 || z == 5) ? kHalf : 0;
    default:
        if (z == 1 && p == 2) return q == 0 ? kPre + 2 * kMem : kPre; // POP IX; JP (IX)
        if (z == 1 && p == 3 && q == 1) return kPre + 2;        // LD SP,IX
        if (z == 3 && y == 4) return kPre + 4 * kMem + 3;       // EX (SP),IX
        if (z == 5 && p == 2 && q == 0) return kPre + 1 + 2 * kMem; // PUSH IX
        return 0;
    }
}

// Only the (IX+d) forms are defined; the others do nothing at no cost.
constexpr uint8_t index_cb_cycles(int op) {
    constexpr int kHead = 2 * kFetch + kMem + (kMem + 2); // prefixes, d, opcode and the addition
    if (op_x(op) == 1) return kHead + (kMem + 1);           // BIT b,(IX+d)
    if (op_z(op) == 6) return kHead + (kMem + 1) + kMem;    // rotates, RES, SET: read and write back
    return 0;
}

constexpr uint8_t sz_flags(int v) { return uint8_t((v & 0x80) | (v == 0 ? 0x40 : 0)); }

constexpr bool even_parity(int v) {
    int ones = 0;
    for (int b = 0; b < 8; ++b) ones += (v >> b) & 1;
    return ones % 2 == 0;
}

constexpr uint8_t szp_flags(int v) { return uint8_t(sz_flags(v) | (even_parity(v) ? 0x04 : 0)); }

// S, Z, H, P/V and N of INC and DEC by their result; C, 5 and 3 are kept.
constexpr uint8_t inc_flags(int res) {
    return uint8_t(sz_flags(res) | ((res & 0x0F) == 0 ? 0x10 : 0) | (res == 0x80 ? 0x04 : 0));
}
constexpr uint8_t dec_flags(int res) {
    return uint8_t(sz_flags(res) | ((res & 0x0F) == 0x0F ? 0x10 : 0) | (res == 0x7F ? 0x04 : 0) | 0x02);
}

// Index: A + 256 C + 512 H + 1024 N; entry: the new AF.
constexpr uint16_t daa_entry(int index) {
    const int a = index & 0xFF;
    const bool c = index & 0x100, h = index & 0x200, n = index & 0x400;
    int correction = 0;
    bool new_c = c;
    if (h || (a & 0x0F) > 9) correction |= 0x06;
    if (c || a > 0x99) {
        correction |= 0x60;
        new_c = true;
    }
    const int result = (n ? a - correction : a + correction) & 0xFF;
    const bool new_h = n ? (h && (a & 0x0F) < 6) : (a & 0x0F) > 9;
    const int f = szp_flags(result) | (result & 0x28) | (new_h ? 0x10 : 0) | (n ? 0x02 : 0) | (new_c ? 0x01 : 0);
    return uint16_t(result << 8 | f);
}

template <size_t N, class T, class F> constexpr std::array<T, N> build(F f) {
    std::array<T, N> table{};
    for (size_t i = 0; i < N; ++i) table[i] = T(f(int(i)));
    return table;
}

inline constexpr auto kCyclesMain = build<256, uint8_t>(main_cycles);
inline constexpr auto kCyclesCB = build<256, uint8_t>(cb_cycles);
inline constexpr auto kCyclesED = build<256, uint8_t>(ed_cycles);
inline constexpr auto kCyclesIndex = build<256, uint8_t>(index_cycles);
inline constexpr auto kCyclesIndexCB = build<256, uint8_t>(index_cb_cycles);
inline constexpr auto kSZ = build<256, uint8_t>(sz_flags);
inline constexpr auto kSZP = build<256, uint8_t>(szp_flags);
inline constexpr auto kIncFlags = build<256, uint8_t>(inc_flags);
inline constexpr auto kDecFlags = build<256, uint8_t>(dec_flags);
inline constexpr auto kDAA = build<2048, uint16_t>(daa_entry);

// Spot checks against the published counts, so a slip in a rule fails the build.
static_assert(kCyclesMain[0x00] == 4 && kCyclesMain[0x01] == 10 && kCyclesMain[0x09] == 11);
static_assert(kCyclesMain[0x10] == 8 && kCyclesMain[0x18] == 12 && kCyclesMain[0x20] == 7);
static_assert(kCyclesMain[0x22] == 16 && kCyclesMain[0x32] == 13 && kCyclesMain[0x34] == 11);
static_assert(kCyclesMain[0x36] == 10 && kCyclesMain[0x46] == 7 && kCyclesMain[0x76] == 4);
static_assert(kCyclesMain[0xC0] == 5 && kCyclesMain[0xC5] == 11 && kCyclesMain[0xC9] == 10);
static_assert(kCyclesMain[0xCD] == 17 && kCyclesMain[0xE3] == 19 && kCyclesMain[0xF9] == 6);
static_assert(kCyclesMain[0xD3] == 11 && kCyclesMain[0xFF] == 11 && kCyclesMain[0xCB] == 0);
static_assert(kCyclesCB[0x00] == 8 && kCyclesCB[0x46] == 12 && kCyclesCB[0x06] == 15 && kCyclesCB[0xC6] == 15);
static_assert(kCyclesED[0x40] == 12 && kCyclesED[0x42] == 15 && kCyclesED[0x43] == 20 && kCyclesED[0x44] == 8);
static_assert(kCyclesED[0x45] == 14 && kCyclesED[0x57] == 9 && kCyclesED[0x67] == 18 && kCyclesED[0xA0] == 16);
static_assert(kCyclesED[0xB0] == 0 && kCyclesED[0x70] == 12 && kCyclesED[0x71] == 0 && kCyclesED[0x4C] == 0);
static_assert(kCyclesIndex[0x09] == 15 && kCyclesIndex[0x21] == 14 && kCyclesIndex[0x22] == 20);
static_assert(kCyclesIndex[0x23] == 10 && kCyclesIndex[0x34] == 23 && kCyclesIndex[0x36] == 19);
static_assert(kCyclesIndex[0x46] == 19 && kCyclesIndex[0x86] == 19 && kCyclesIndex[0xE1] == 14);
static_assert(kCyclesIndex[0xE3] == 23 && kCyclesIndex[0xE5] == 15 && kCyclesIndex[0xE9] == 8);
static_assert(kCyclesIndex[0xF9] == 10 && kCyclesIndex[0x64] == 9 && kCyclesIndex[0x26] == 9);
static_assert(kCyclesIndex[0x04] == 0 && kCyclesIndex[0x76] == 0 && kCyclesIndex[0xEB] == 0);
static_assert(kCyclesIndexCB[0x06] == 23 && kCyclesIndexCB[0x46] == 20 && kCyclesIndexCB[0x47] == 20);
static_assert(kCyclesIndexCB[0x07] == 0 && kCyclesIndexCB[0xFE] == 23);
static_assert(kIncFlags[0x00] == 0x50 && kIncFlags[0x80] == 0x94 && kIncFlags[0x7F] == 0x00 && kIncFlags[0x10] == 0x10);
static_assert(kDecFlags[0x00] == 0x42 && kDecFlags[0x7F] == 0x16 && kDecFlags[0xFF] == 0x92 && kDecFlags[0x01] == 0x02);
static_assert(kDAA[0x1A] == 0x2030 && kDAA[0x09] == 0x090C && kDAA[0x9A] == 0x0055 && kDAA[0x100] == 0x6025);

} // namespace z80_tables
