// The generated cycle and flag tables, entry by entry, against the published
// T-state counts and the rules for prefixed and undefined opcodes, so that a
// wrong generator rule fails here even where the exerciser does not look.
#include <bit>
#include <set>

#include "support/z80_test_system.h"

namespace {

using namespace z80_tables;

// Published counts of the unprefixed opcodes; conditional JR, DJNZ, CALL and
// RET not taken; the prefix bytes CB, DD, ED, FD cost nothing themselves.
// clang-format off
constexpr uint8_t kPublishedMain[256] = {
    4,  10, 7,  6,  4,  4,  7,  4,  4,  11, 7,  6,  4,  4,  7,  4,  // 00
    8,  10, 7,  6,  4,  4,  7,  4,  12, 11, 7,  6,  4,  4,  7,  4,  // 10
    7,  10, 16, 6,  4,  4,  7,  4,  7,  11, 16, 6,  4,  4,  7,  4,  // 20
    7,  10, 13, 6,  11, 11, 10, 4,  7,  11, 13, 6,  4,  4,  7,  4,  // 30
    4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // 40
    4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // 50
    4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // 60
    7,  7,  7,  7,  7,  7,  4,  7,  4,  4,  4,  4,  4,  4,  7,  4,  // 70
    4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // 80
    4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // 90
    4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // A0
    4,  4,  4,  4,  4,  4,  7,  4,  4,  4,  4,  4,  4,  4,  7,  4,  // B0
    5,  10, 10, 10, 10, 11, 7,  11, 5,  10, 10, 0,  10, 17, 7,  11, // C0
    5,  10, 10, 11, 10, 11, 7,  11, 5,  4,  10, 11, 10, 0,  7,  11, // D0
    5,  10, 10, 19, 10, 11, 7,  11, 5,  4,  10, 4,  10, 0,  7,  11, // E0
    5,  10, 10, 4,  10, 11, 7,  11, 5,  6,  10, 4,  10, 0,  7,  11, // F0
};
// clang-format on

TEST(Z80Tables, UnprefixedCyclesAreThePublishedCounts) {
    for (int op = 0; op < 256; ++op)
        EXPECT_EQ(int(kCyclesMain[op]), int(kPublishedMain[op])) << "opcode " << hex(op, 2);
}

TEST(Z80Tables, CbCycles) {
    for (int op = 0; op < 256; ++op) {
        const int want = (op & 7) != 6 ? 8 : (op >> 6) == 1 ? 12 : 15;
        EXPECT_EQ(int(kCyclesCB[op]), want) << "CB " << hex(op, 2);
    }
}

TEST(Z80Tables, EdCyclesAndTheUndefinedOpcodes) {
    std::array<int, 256> want;
    want.fill(-1);
    auto set = [&](std::initializer_list<int> ops, int cycles) {
        for (int op : ops) want[op] = cycles;
    };
    set({0x40, 0x48, 0x50, 0x58, 0x60, 0x68, 0x70, 0x78}, 12); // IN r,(C), IN F,(C)
    set({0x41, 0x49, 0x51, 0x59, 0x61, 0x69, 0x79}, 12);       // OUT (C),r
    set({0x42, 0x52, 0x62, 0x72, 0x4A, 0x5A, 0x6A, 0x7A}, 15); // SBC, ADC HL,rr
    set({0x43, 0x53, 0x63, 0x73, 0x4B, 0x5B, 0x6B, 0x7B}, 20); // LD (nn),rr; LD rr,(nn)
    set({0x44}, 8);                                            // NEG
    set({0x45, 0x4D}, 14);                                     // RETN, RETI
    set({0x46, 0x56, 0x5E}, 8);                                // IM 0, 1, 2
    set({0x47, 0x4F, 0x57, 0x5F}, 9);                          // LD I,A; LD R,A; LD A,I; LD A,R
    set({0x67, 0x6F}, 18);                                     // RRD, RLD
    set({0xA0, 0xA1, 0xA2, 0xA3, 0xA8, 0xA9, 0xAA, 0xAB}, 16); // LDI ... OUTD
    set({0xB0, 0xB1, 0xB2, 0xB3, 0xB8, 0xB9, 0xBA, 0xBB}, 0);  // repeats charge per iteration
    int defined = 0;
    for (int cycles : want) defined += cycles >= 0;
    EXPECT_EQ(defined, 59);
    set({0xED, 0xFE}, 0);
    const std::vector<uint8_t> undefined = undefined_ed_opcodes();
    EXPECT_EQ(std::set<uint8_t>(undefined.begin(), undefined.end()).size(), 256u - 61);
    for (uint8_t op : undefined) {
        EXPECT_EQ(want[op], -1) << "ED " << hex(op, 2) << " is both defined and undefined";
        want[op] = 0;
    }
    for (int op = 0; op < 256; ++op) EXPECT_EQ(int(kCyclesED[op]), want[op]) << "ED " << hex(op, 2);
}

// 0 for an opcode with no H, L, HL or (HL) operand (it runs as unprefixed);
// 9 for every IXh/IXl form, do-nothing ones included; published counts for the rest.
int index_cycles_by_rule(int op) {
    switch (op) {
    case 0x09:
    case 0x19:
    case 0x29:
    case 0x39: return 15; // ADD IX,rr
    case 0x21: return 14; // LD IX,nn
    case 0x22:
    case 0x2A: return 20; // LD (nn),IX; LD IX,(nn)
    case 0x23:
    case 0x2B: return 10; // INC IX, DEC IX
    case 0x34:
    case 0x35: return 23; // INC, DEC (IX+d)
    case 0x36: return 19; // LD (IX+d),n
    case 0xE1: return 14; // POP IX
    case 0xE3: return 23; // EX (SP),IX
    case 0xE5: return 15; // PUSH IX
    case 0xE9: return 8;  // JP (IX)
    case 0xF9: return 10; // LD SP,IX
    case 0x76: return 0;  // HALT
    case 0xEB: return 0;  // EX DE,HL is not redirected
    }
    const int x = op >> 6, y = (op >> 3) & 7, z = op & 7;
    const bool half_y = y == 4 || y == 5, half_z = z == 4 || z == 5;
    if ((x == 1 && (y == 6 || z == 6)) || (x == 2 && z == 6)) return 19; // (IX+d) loads and ALU
    if ((x == 1 && (half_y || half_z)) || (x == 2 && half_z)) return 9;
    if (x == 0 && z >= 4 && z <= 6 && half_y) return 9; // INC, DEC, LD n on IXh/IXl
    return 0;
}

TEST(Z80Tables, IndexCycles) {
    for (int op = 0; op < 256; ++op)
        EXPECT_EQ(int(kCyclesIndex[op]), index_cycles_by_rule(op)) << "DD " << hex(op, 2);
}

TEST(Z80Tables, IndexCbCycles) {
    for (int op = 0; op < 256; ++op) {
        const int want = (op >> 6) == 1 ? 20 : (op & 7) == 6 ? 23 : 0;
        EXPECT_EQ(int(kCyclesIndexCB[op]), want) << "DDCB " << hex(op, 2);
    }
}

TEST(Z80Tables, SignZeroAndParity) {
    for (int v = 0; v < 256; ++v) {
        const int sz = (v & 0x80 ? kFlagS : 0) | (v == 0 ? kFlagZ : 0);
        EXPECT_EQ(int(kSZ[v]), sz) << hex(v, 2);
        EXPECT_EQ(int(kSZP[v]), sz | (std::popcount(unsigned(v)) % 2 == 0 ? kFlagPV : 0)) << hex(v, 2);
    }
}

} // namespace
