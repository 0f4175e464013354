// Flag results of the arithmetic, logic, rotate, shift and bit instructions.
// The references below are written from the instructions' definitions (nibble
// and signed arithmetic, a population count for parity, the DAA correction as
// a table of nibble ranges) rather than the way the core computes them, and are
// compared over every operand where that is cheap. Bits 3 and 5 of F are set
// on entry wherever an instruction assigns F whole, to show they come out 0.
#include <bit>

#include "support/z80_test_system.h"

namespace {

constexpr uint8_t S = kFlagS, Z = kFlagZ, H = kFlagH, PV = kFlagPV, N = kFlagN, C = kFlagC;
constexpr uint8_t kBits35 = kFlag5 | kFlag3;

uint8_t sz(int v) { return uint8_t((v & 0x80) | ((v & 0xFF) == 0 ? Z : 0)); }
uint8_t szp(int v) { return uint8_t(sz(v) | (std::popcount(unsigned(v & 0xFF)) % 2 == 0 ? PV : 0)); }

// ALU operation y (ADD ADC SUB SBC AND XOR OR CP) on A and v; returns the new AF.
uint16_t alu_reference(int y, int a, int v, int carry) {
    const int c = (y == 1 || y == 3) ? carry : 0;
    int result = a, f = 0;
    if (y <= 1) {
        const int wide = int8_t(a) + int8_t(v) + c;
        result = a + v + c;
        f = sz(result) | ((a & 15) + (v & 15) + c > 15 ? H : 0) | (wide < -128 || wide > 127 ? PV : 0) |
            (result > 255 ? C : 0);
    } else if (y == 2 || y == 3 || y == 7) {
        const int wide = int8_t(a) - int8_t(v) - c;
        const int diff = a - v - c;
        f = sz(diff) | ((a & 15) - (v & 15) - c < 0 ? H : 0) | (wide < -128 || wide > 127 ? PV : 0) | N |
            (diff < 0 ? C : 0);
        if (y != 7) result = diff;
    } else {
        result = y == 4 ? a & v : y == 5 ? a ^ v : a | v;
        f = szp(result) | (y == 4 ? H : 0);
    }
    return uint16_t((result & 0xFF) << 8 | f);
}

TEST(Z80Alu, EightBitOperationsOnEveryOperandAndCarry) {
    Z80TestSystem s;
    for (int y = 0; y < 8; ++y) {
        const uint8_t opcode = uint8_t(0xC6 | y << 3); // ADD A,n ... CP n
        s.load(0x0000, {opcode});
        bool failed = false;
        for (int a = 0; a < 256 && !failed; ++a)
            for (int v = 0; v < 256 && !failed; ++v)
                for (int carry = 0; carry < 2 && !failed; ++carry) {
                    s.cpu.pc = 0;
                    s.memory[1] = uint8_t(v);
                    s.set_af(uint8_t(a), carry ? 0xFF : 0xFE);
                    s.step();
                    const uint16_t want = alu_reference(y, a, v, carry);
                    if (s.cpu.af != want) {
                        failed = true;
                        ADD_FAILURE()
                            << "opcode " << hex(opcode, 2) << " A=" << hex(a, 2) << " n=" << hex(v, 2)
                            << " carry " << carry << ": A " << hex(s.a(), 2) << " F " << flag_text(s.f())
                            << ", want A " << hex(want >> 8, 2) << " F " << flag_text(uint8_t(want));
                    }
                }
    }
}

// ADD A,A ... CP A read A as the source as well.
TEST(Z80Alu, EightBitOperationsWithAAsBothOperands) {
    Z80TestSystem s;
    for (int y = 0; y < 8; ++y) {
        const uint8_t opcode = uint8_t(0x87 | y << 3);
        s.load(0x0000, {opcode});
        for (int a = 0; a < 256; ++a)
            for (int carry = 0; carry < 2; ++carry) {
                s.cpu.pc = 0;
                s.set_af(uint8_t(a), carry ? 0xFF : 0xFE);
                s.step();
                ASSERT_EQ(hex(s.cpu.af, 4), hex(alu_reference(y, a, a, carry), 4))
                    << "opcode " << hex(opcode, 2) << " A=" << hex(a, 2) << " carry " << carry;
            }
    }
}

// INC and DEC on every register and (HL), every value: C and bits 3 and 5 kept.
TEST(Z80Alu, IncDecOnEveryOperand) {
    Z80TestSystem s;
    for (int code = 0; code < 8; ++code)
        for (int dec = 0; dec < 2; ++dec) {
            s.load(0x0000, {uint8_t(0x04 | code << 3 | dec)});
            for (int v = 0; v < 256; ++v)
                for (uint8_t f_in : {uint8_t(0x00), uint8_t(0xFF)}) {
                    s.cpu.pc = 0;
                    s.cpu.hl = 0x8000;
                    s.set_af(0, f_in);
                    s.set_reg8(code, uint8_t(v));
                    s.step();
                    const int result = (dec ? v - 1 : v + 1) & 0xFF;
                    const int wide = int8_t(v) + (dec ? -1 : 1);
                    const bool half = dec ? (v & 15) - 1 < 0 : (v & 15) + 1 > 15;
                    const uint8_t want = uint8_t((f_in & (C | kBits35)) | sz(result) | (half ? H : 0) |
                                                 (wide < -128 || wide > 127 ? PV : 0) | (dec ? N : 0));
                    const int got = s.reg8(code);
                    ASSERT_TRUE(got == result && s.f() == want)
                        << "opcode " << hex(0x04 | code << 3 | dec, 2) << " on " << hex(v, 2) << " F in "
                        << hex(f_in, 2) << ": " << hex(got, 2) << " F " << flag_text(s.f()) << ", want "
                        << hex(result, 2) << " F " << flag_text(want);
                }
        }
    // INC (HL): one read, one write, 11 T-states.
    s.load(0x0000, {0x34});
    s.cpu.pc = 0;
    s.cpu.hl = 0x8000;
    s.memory[0x8000] = 0x41;
    EXPECT_TRUE(s.step({.cycles = 11}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0000, 0x34), rd(0x8000, 0x41), wr(0x8000, 0x42), loop_at(0x0001)}));
}

// One instruction each on A with the given A and F.
struct AccumulatorCase {
    const char* what;
    std::vector<uint8_t> code;
    uint8_t a, f, want_a, want_f;
};

TEST(Z80Alu, AccumulatorAndFlagInstructions) {
    const AccumulatorCase cases[] = {
        {"INC A", {0x3C}, 0x7F, 0x00, 0x80, 0x94},
        {"INC A wrapping keeps C, 3, 5", {0x3C}, 0xFF, 0x29, 0x00, 0x79},
        {"DEC A", {0x3D}, 0x80, 0x00, 0x7F, 0x16},
        {"ADD A,1 overflow", {0xC6, 0x01}, 0x7F, 0x00, 0x80, 0x94},
        {"ADD A,1 carry", {0xC6, 0x01}, 0xFF, 0x00, 0x00, 0x51},
        {"CP 1", {0xFE, 0x01}, 0x10, 0x00, 0x10, 0x12},
        {"AND 0Fh", {0xE6, 0x0F}, 0xF0, 0x00, 0x00, 0x54},
        {"XOR A", {0xAF}, 0x5A, 0xFF, 0x00, 0x44},
        {"SUB A", {0x97}, 0x5A, 0xFF, 0x00, 0x42},
        {"CP A", {0xBF}, 0x5A, 0xFF, 0x5A, 0x42},
        {"SBC A,A without C", {0x9F}, 0x5A, 0xFE, 0x00, 0x42},
        {"SBC A,A with C", {0x9F}, 0x5A, 0x01, 0xFF, 0x93},
        {"SCF keeps 3 and 5", {0x37}, 0x00, 0x28, 0x00, 0x29},
        {"SCF clears H and N", {0x37}, 0x00, 0xD6, 0x00, 0xC5},
        {"CCF with C", {0x3F}, 0x00, 0x01, 0x00, 0x10},
        {"CCF without C", {0x3F}, 0x00, 0xFE, 0x00, 0xED},
        {"CPL", {0x2F}, 0x5A, 0x00, 0xA5, 0x12},
        {"CPL keeps the rest", {0x2F}, 0x00, 0xC5 | kBits35, 0xFF, 0xD7 | kBits35},
        {"RLCA", {0x07}, 0x81, 0x00, 0x03, 0x01},
        {"RLCA keeps S Z P/V 3 5", {0x07}, 0x01, 0xFF, 0x02, 0xEC},
        {"RRCA", {0x0F}, 0x01, 0x00, 0x80, 0x01},
        {"RLA", {0x17}, 0x80, 0x01, 0x01, 0x01},
        {"RRA to zero leaves Z", {0x1F}, 0x01, 0x80, 0x00, 0x81},
        {"RRA takes the carry in", {0x1F}, 0x00, 0x01, 0x80, 0x00},
        {"NEG 80h", {0xED, 0x44}, 0x80, 0x00, 0x80, 0x87},
        {"NEG 0", {0xED, 0x44}, 0x00, 0xFF, 0x00, 0x42},
        {"NEG 1", {0xED, 0x44}, 0x01, 0x00, 0xFF, 0x93},
        {"BIT 7,A set", {0xCB, 0x7F}, 0x80, 0x00, 0x80, 0x10},
        {"BIT 7,A clear keeps S P/V C", {0xCB, 0x7F}, 0x00, 0x85, 0x00, 0xD5},
        {"SLL A", {0xCB, 0x37}, 0x80, 0x00, 0x01, 0x01},
        {"DAA after 09h+01h", {0x27}, 0x0A, 0x00, 0x10, 0x10},
        {"DAA 9Ah", {0x27}, 0x9A, 0x00, 0x00, 0x55},
        {"DAA 00h with C", {0x27}, 0x00, 0x01, 0x60, 0x25},
    };
    for (const AccumulatorCase& c : cases) {
        SCOPED_TRACE(c.what);
        Z80TestSystem s;
        for (size_t k = 0; k < c.code.size(); ++k) s.memory[k] = c.code[k];
        s.set_af(c.a, c.f);
        EXPECT_TRUE(s.step({.pc = uint16_t(c.code.size()), .a = c.want_a, .f = c.want_f}));
    }
}

// NEG is 0 - A with SUB's flags.
TEST(Z80Alu, NegOnEveryValue) {
    Z80TestSystem s;
    s.load(0x0000, {0xED, 0x44});
    for (int a = 0; a < 256; ++a) {
        s.cpu.pc = 0;
        s.set_af(uint8_t(a), 0xFF);
        ASSERT_TRUE(s.step({.a = uint8_t(alu_reference(2, 0, a, 0) >> 8),
                            .f = uint8_t(alu_reference(2, 0, a, 0)),
                            .cycles = 8}))
            << "A=" << hex(a, 2);
    }
}

// ADD HL,rr, ADC HL,rr and SBC HL,rr over operands at every carry boundary,
// with DE as the operand and with HL itself.
TEST(Z80Alu, SixteenBitArithmetic) {
    const uint16_t values[] = {0x0000, 0x0001, 0x00FF, 0x0FFF, 0x1000, 0x7FFF,
                               0x8000, 0x8001, 0xF000, 0xFFFE, 0xFFFF, 0x1234};
    Z80TestSystem s;
    s.load(0x0000, {0x19,         // ADD HL,DE
                    0x29,         // ADD HL,HL
                    0xED, 0x5A,   // ADC HL,DE
                    0xED, 0x6A,   // ADC HL,HL
                    0xED, 0x52,   // SBC HL,DE
                    0xED, 0x62}); // SBC HL,HL
    const uint16_t starts[] = {0, 1, 2, 4, 6, 8};
    for (int form = 0; form < 6; ++form)
        for (uint16_t hl : values)
            for (uint16_t de : values)
                for (int carry = 0; carry < 2; ++carry) {
                    const uint8_t f_in = uint8_t(carry ? 0xFF : 0xFE);
                    const int v = form % 2 ? hl : de;
                    const int c = form >= 2 ? carry : 0;
                    const bool subtract = form >= 4;
                    const int result = subtract ? hl - v - c : hl + v + c;
                    const int wide = subtract ? int16_t(hl) - int16_t(v) - c : int16_t(hl) + int16_t(v) + c;
                    const int low12 =
                        subtract ? (hl & 0xFFF) - (v & 0xFFF) - c : (hl & 0xFFF) + (v & 0xFFF) + c;
                    const bool half = low12 < 0 || low12 > 0xFFF, carry_out = result < 0 || result > 0xFFFF;
                    uint8_t want;
                    if (form < 2) {
                        want =
                            uint8_t((f_in & (S | Z | PV | kBits35)) | (half ? H : 0) | (carry_out ? C : 0));
                    } else {
                        want = uint8_t((result & 0x8000 ? S : 0) | ((result & 0xFFFF) == 0 ? Z : 0) |
                                       (half ? H : 0) | (wide < -32768 || wide > 32767 ? PV : 0) |
                                       (subtract ? N : 0) | (carry_out ? C : 0));
                    }
                    s.cpu.pc = starts[form];
                    s.cpu.hl = hl;
                    s.cpu.de = de;
                    s.set_af(0, f_in);
                    ASSERT_TRUE(s.step({.f = want, .hl = uint16_t(result), .cycles = form < 2 ? 11 : 15}))
                        << "form " << form << " HL=" << hex(hl, 4) << " DE=" << hex(de, 4) << " carry "
                        << carry;
                }
}

// The DAA correction as the published table of nibble ranges.
uint16_t daa_reference(int a, bool c, bool h, bool n) {
    const int hi = a >> 4, lo = a & 15;
    int diff;
    if (c)
        diff = (lo <= 9 && !h) ? 0x60 : 0x66;
    else if (lo <= 9)
        diff = hi <= 9 ? (h ? 0x06 : 0x00) : (h ? 0x66 : 0x60);
    else
        diff = hi <= 8 ? 0x06 : 0x66;
    const bool new_c = c || (lo <= 9 ? hi >= 10 : hi >= 9);
    const bool new_h = n ? (h && lo <= 5) : lo >= 10;
    const int result = (n ? a - diff : a + diff) & 0xFF;
    return uint16_t(result << 8 | szp(result) | (result & kBits35) | (new_h ? H : 0) | (n ? N : 0) |
                    (new_c ? C : 0));
}

TEST(Z80Alu, DaaTableAndInstructionMatchTheReference) {
    Z80TestSystem s;
    s.load(0x0000, {0x27}); // DAA
    for (int index = 0; index < 2048; ++index) {
        const int a = index & 0xFF;
        const bool c = index & 0x100, h = index & 0x200, n = index & 0x400;
        const uint16_t want = daa_reference(a, c, h, n);
        ASSERT_EQ(hex(z80_tables::kDAA[index], 4), hex(want, 4)) << "table index " << hex(index, 3);
        // The other flags on entry must not matter.
        for (uint8_t noise : {uint8_t(0x00), uint8_t(S | Z | PV | kBits35)}) {
            s.cpu.pc = 0;
            s.set_af(uint8_t(a), uint8_t(noise | (c ? C : 0) | (h ? H : 0) | (n ? N : 0)));
            s.step();
            ASSERT_EQ(hex(s.cpu.af, 4), hex(want, 4))
                << "DAA on A=" << hex(a, 2) << " C" << c << " H" << h << " N" << n;
        }
    }
}

// ADD or SUB of two BCD numbers followed by DAA gives the BCD result and carry.
TEST(Z80Alu, DaaCorrectsBcdAdditionAndSubtraction) {
    Z80TestSystem s;
    auto bcd = [](int v) { return uint8_t((v / 10) << 4 | v % 10); };
    for (int x = 0; x < 100; ++x)
        for (int y = 0; y < 100; ++y) {
            s.load(0x0000, {0xC6, bcd(y), // ADD A,y
                            0x27,         // DAA
                            0xD6, bcd(y), // SUB y
                            0x27});       // DAA
            s.cpu.pc = 0;
            s.set_af(bcd(x), 0);
            s.step();
            s.step();
            ASSERT_TRUE(s.check({.a = bcd((x + y) % 100)})) << x << " + " << y;
            ASSERT_EQ(s.f() & C, x + y >= 100 ? C : 0) << x << " + " << y;
            s.set_af(bcd(x), 0);
            s.step();
            s.step();
            ASSERT_TRUE(s.check({.a = bcd((x - y + 100) % 100)})) << x << " - " << y;
            ASSERT_EQ(s.f() & C, x < y ? C : 0) << x << " - " << y;
        }
}

// The eight CB rotates and shifts on every register and (HL), every value.
TEST(Z80Alu, CbRotatesAndShiftsOnEveryOperand) {
    Z80TestSystem s;
    for (int y = 0; y < 8; ++y)
        for (int code = 0; code < 8; ++code) {
            s.load(0x0000, {0xCB, uint8_t(y << 3 | code)});
            for (int v = 0; v < 256; ++v)
                for (int carry = 0; carry < 2; ++carry) {
                    const int results[8] = {v << 1 | v >> 7,     v >> 1 | v << 7, v << 1 | carry,
                                            v >> 1 | carry << 7, v << 1,          v >> 1 | (v & 0x80),
                                            v << 1 | 1,          v >> 1};
                    const int result = results[y] & 0xFF;
                    const int out = y % 2 ? v & 1 : v >> 7;
                    s.cpu.pc = 0;
                    s.cpu.hl = 0x8000;
                    s.set_af(0, carry ? 0xFF : 0xFE);
                    s.set_reg8(code, uint8_t(v));
                    const int32_t cycles = s.step();
                    const uint8_t want_f = uint8_t(szp(result) | out);
                    ASSERT_TRUE(s.reg8(code) == result && s.f() == want_f && cycles == (code == 6 ? 15 : 8))
                        << "CB " << hex(y << 3 | code, 2) << " on " << hex(v, 2) << " carry " << carry << ": "
                        << hex(s.reg8(code), 2) << " F " << flag_text(s.f()) << " in " << cycles
                        << " T, want " << hex(result, 2) << " F " << flag_text(want_f);
                }
        }
}

// BIT sets Z from the bit and H, clears N, keeps the rest; RES and SET change
// no flag. On (HL), BIT only reads and RES/SET read once and write once.
TEST(Z80Alu, CbBitResSet) {
    Z80TestSystem s;
    for (int b = 0; b < 8; ++b)
        for (int code = 0; code < 8; ++code) {
            for (int v : {0x00, 0xFF, 1 << b, ~(1 << b) & 0xFF})
                for (uint8_t f_in : {uint8_t(0x00), uint8_t(0xFF)}) {
                    s.load(0x0000, {0xCB, uint8_t(0x40 | b << 3 | code)});
                    s.cpu.pc = 0;
                    s.cpu.hl = 0x8000;
                    s.set_af(0, f_in);
                    s.set_reg8(code, uint8_t(v));
                    const uint8_t want =
                        uint8_t((f_in & (S | PV | C | kBits35)) | H | ((v >> b) & 1 ? 0 : Z));
                    ASSERT_TRUE(s.step({.f = want, .cycles = code == 6 ? 12 : 8}))
                        << "BIT " << b << " of operand " << code << " = " << hex(v, 2);
                    ASSERT_EQ(s.count(Hook::Write), 0);
                    ASSERT_EQ(s.reg8(code), v);
                }
            for (int set = 0; set < 2; ++set) {
                s.load(0x0000, {0xCB, uint8_t(0x80 | set << 6 | b << 3 | code)});
                s.cpu.pc = 0;
                s.cpu.hl = 0x8000;
                s.set_af(0, 0xA5);
                s.set_reg8(code, 0x5A);
                const uint8_t want = uint8_t(set ? 0x5A | 1 << b : 0x5A & ~(1 << b));
                ASSERT_TRUE(s.step({.f = 0xA5, .cycles = code == 6 ? 15 : 8}));
                ASSERT_EQ(s.reg8(code), want) << (set ? "SET " : "RES ") << b << " of operand " << code;
                if (code == 6) {
                    ASSERT_EQ(s.log, (std::vector{rd(0, 0xCB), rd(1, 0x80 | set << 6 | b << 3 | 6),
                                                  rd(0x8000, 0x5A), wr(0x8000, want), loop_at(2)}));
                }
            }
        }
}

TEST(Z80Alu, RrdAndRld) {
    Z80TestSystem s;
    s.load(0x0000, {0xED, 0x67,   // RRD
                    0xED, 0x6F}); // RLD
    s.cpu.hl = 0x8000;
    s.memory[0x8000] = 0x34;
    s.set_af(0x12, 0xFF);
    EXPECT_TRUE(s.step({.a = 0x14, .f = PV | C, .cycles = 18})); // the old C kept, 3 and 5 cleared
    EXPECT_EQ(s.log, (std::vector{rd(0, 0xED), rd(1, 0x67), rd(0x8000, 0x34), wr(0x8000, 0x23), loop_at(2)}));
    s.memory[0x8000] = 0x34;
    s.set_af(0x12, 0x00);
    EXPECT_TRUE(s.step({.a = 0x13, .f = 0x00, .cycles = 18}));
    EXPECT_EQ(s.log, (std::vector{rd(2, 0xED), rd(3, 0x6F), rd(0x8000, 0x34), wr(0x8000, 0x42), loop_at(4)}));
}

// LD A,I and LD A,R: SZ of the value, P/V = IFF1, H and N cleared, the rest
// kept. R is the low byte of the T-states spent in the slice, this
// instruction's 9 included.
TEST(Z80Alu, InterruptAndRefreshRegisterLoads) {
    Z80TestSystem s;
    s.load(0x0000, {0xED, 0x47,   // LD I,A
                    0xED, 0x57,   // LD A,I
                    0xED, 0x5F,   // LD A,R
                    0xED, 0x4F,   // LD R,A
                    0xED, 0x57}); // LD A,I
    s.cpu.int_state = kZ80Iff1;
    s.set_af(0x80, 0x00);
    EXPECT_TRUE(s.step({.a = 0x80, .f = 0x00, .i = 0x80, .cycles = 9}));
    s.set_af(0x00, 0xFF);
    EXPECT_TRUE(s.step({.a = 0x80, .f = S | kBits35 | PV | C, .cycles = 9}));
    s.cpu.cycles_left = 100;
    s.set_af(0x00, 0x00);
    EXPECT_TRUE(s.step({.a = 0xA5, .f = S | PV, .cycles_left = 91}));
    const Z80Registers before = s.cpu;
    s.step();
    Z80Registers want = before;
    want.pc = 8;
    want.cycles_left -= 9;
    EXPECT_TRUE(same_registers(want, s.cpu)) << "LD R,A";
    s.cpu.int_state = 0;
    s.cpu.i = 0;
    s.set_af(0x55, H | N);
    EXPECT_TRUE(s.step({.a = 0x00, .f = Z}));
}

} // namespace
