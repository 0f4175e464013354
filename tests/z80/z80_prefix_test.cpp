// The ED space with its block instructions, the DD/FD index forms and prefix
// chains, the DDCB/FDCB space, and the port address rule of IN and OUT.
#include "support/z80_test_system.h"

namespace {

constexpr uint8_t S = kFlagS, Z = kFlagZ, H = kFlagH, PV = kFlagPV, N = kFlagN, C = kFlagC;
constexpr int32_t kSlice = Z80TestSystem::kSlice;

TEST(Z80Prefix, LdirCopiesWithThePerIterationCost) {
    Z80TestSystem s;
    s.load(0x0100, {0xED, 0xB0}); // LDIR
    s.load(0x8000, {0x11, 0x22, 0x33});
    s.cpu.pc = 0x0100;
    s.cpu.hl = 0x8000;
    s.cpu.de = 0x9000;
    s.cpu.bc = 3;
    s.set_af(0, 0xFF);
    EXPECT_TRUE(s.step({.pc = 0x0102,
                        .f = 0xFF & ~(H | PV | N),
                        .bc = 0,
                        .de = 0x9003,
                        .hl = 0x8003,
                        .cycles = 21 + 21 + 16}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0100, 0xED), rd(0x0101, 0xB0), rd(0x8000, 0x11), wr(0x9000, 0x11),
                                  rd(0x8001, 0x22), wr(0x9001, 0x22), rd(0x8002, 0x33), wr(0x9002, 0x33),
                                  loop_at(0x0102)}));
}

// When the budget runs out the instruction stops with PC back on the ED byte,
// and the next execution continues it. The first iteration always runs.
TEST(Z80Prefix, LdirRestartsWhenTheBudgetIsSpent) {
    Z80TestSystem s;
    s.load(0x0100, {0xED, 0xB0});
    for (int k = 0; k < 100; ++k) s.memory[0x8000 + k] = uint8_t(k + 1);
    s.cpu.pc = 0x0100;
    s.cpu.hl = 0x8000;
    s.cpu.de = 0x9000;
    s.cpu.bc = 100;
    s.set_af(0, 0xFF & ~PV);
    const uint8_t restart = 0xFF & ~(H | N), finish = 0xFF & ~(H | PV | N);
    s.cpu.cycles_left = 10;
    EXPECT_TRUE(
        s.step({.pc = 0x0100, .f = restart, .bc = 99, .de = 0x9001, .hl = 0x8001, .cycles_left = -11}));
    s.cpu.cycles_left = 42; // 42 - 21 > 0 goes on, 21 - 21 = 0 stops
    EXPECT_TRUE(s.step({.pc = 0x0100, .f = restart, .bc = 97, .cycles_left = 0}));
    s.cpu.cycles_left = -5;
    EXPECT_TRUE(s.step({.pc = 0x0100, .bc = 96, .cycles_left = -26}));
    s.cpu.cycles_left = kSlice;
    EXPECT_TRUE(
        s.step({.pc = 0x0102, .f = finish, .bc = 0, .de = 0x9064, .hl = 0x8064, .cycles = 96 * 21 - 5}));
    for (int k = 0; k < 100; ++k) ASSERT_EQ(s.memory[0x9000 + k], k + 1) << "byte " << k;
}

TEST(Z80Prefix, LdirWithBcZeroCopies65536Bytes) {
    Z80TestSystem s;
    s.load(0x0100, {0xED, 0xB0});
    s.cpu.pc = 0x0100;
    s.cpu.hl = s.cpu.de = 0x4000; // onto itself, so the program survives
    s.cpu.bc = 0;
    s.cpu.cycles_left = 2'000'000;
    EXPECT_TRUE(s.step({.pc = 0x0102, .bc = 0, .de = 0x4000, .hl = 0x4000, .cycles = 65536 * 21 - 5}));
    EXPECT_EQ(s.count(Hook::Write), 65536);
}

TEST(Z80Prefix, SingleAndDecrementingTransfers) {
    Z80TestSystem s;
    s.load(0x0100, {0xED, 0xB8,   // LDDR
                    0xED, 0xA0,   // LDI
                    0xED, 0xA0,   // LDI
                    0xED, 0xA9}); // CPD
    s.load(0x8000, {0xAA, 0xBB});
    s.cpu.pc = 0x0100;
    s.cpu.hl = 0x8001;
    s.cpu.de = 0x9001;
    s.cpu.bc = 2;
    EXPECT_TRUE(s.step({.f = 0x00, .bc = 0, .de = 0x8FFF, .hl = 0x7FFF, .cycles = 37}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0100, 0xED), rd(0x0101, 0xB8), rd(0x8001, 0xBB), wr(0x9001, 0xBB),
                                  rd(0x8000, 0xAA), wr(0x9000, 0xAA), loop_at(0x0102)}));
    s.cpu.bc = 2;
    s.cpu.hl = 0x8000;
    EXPECT_TRUE(s.step({.f = PV, .bc = 1, .de = 0x9000, .hl = 0x8001, .cycles = 16}));
    EXPECT_TRUE(s.step({.f = 0x00, .bc = 0, .cycles = 16}));
    // CPD: 10h - 01h borrows into bit 4; C is kept, bits 3 and 5 cleared.
    s.set_af(0x10, C | kFlag5 | kFlag3);
    s.cpu.hl = 0x8000;
    s.memory[0x8000] = 0x01;
    s.cpu.bc = 2;
    EXPECT_TRUE(s.step({.a = 0x10, .f = H | PV | N | C, .bc = 1, .hl = 0x7FFF, .cycles = 16}));
}

TEST(Z80Prefix, CpirStopsAtAMatchOrWhenBcRunsOut) {
    Z80TestSystem s;
    s.load(0x0100, {0xED, 0xB1}); // CPIR
    s.load(0x8000, {0x11, 0x22, 0x33, 0x44});
    s.cpu.pc = 0x0100;
    s.cpu.hl = 0x8000;
    s.cpu.bc = 10;
    s.set_af(0x33, C | kFlag5 | kFlag3);
    EXPECT_TRUE(s.step({.pc = 0x0102, .a = 0x33, .f = Z | PV | N | C, .bc = 7, .hl = 0x8003, .cycles = 58}));

    s.cpu.pc = 0x0100;
    s.cpu.hl = 0x8000;
    s.cpu.bc = 4;
    s.set_af(0x55, 0);
    EXPECT_TRUE(s.step({.pc = 0x0102, .f = N, .bc = 0, .hl = 0x8004, .cycles = 4 * 21 - 5}));

    // Unlike CPDR it yields when the budget is spent.
    s.cpu.pc = 0x0100;
    s.cpu.hl = 0x8000;
    s.cpu.bc = 100;
    s.cpu.cycles_left = 10;
    EXPECT_TRUE(s.step({.pc = 0x0100, .f = PV | N, .bc = 99, .hl = 0x8001, .cycles_left = -11}));
}

TEST(Z80Prefix, CpdrRunsToTheEndInOneExecution) {
    // No byte anywhere in memory, the program included, equals A.
    Z80TestSystem s;
    s.load(0x0100, {0xED, 0xB9}); // CPDR
    s.cpu.pc = 0x0100;
    s.cpu.hl = 0x4000;
    s.cpu.bc = 0;
    s.cpu.cycles_left = 100;
    s.set_af(0x01, 0);
    EXPECT_TRUE(s.step({.pc = 0x0102, .f = N, .bc = 0, .hl = 0x4000, .cycles = 65536 * 21 - 5}));
    EXPECT_EQ(s.count(Hook::Read), 2 + 65536);
}

TEST(Z80Prefix, BlockInputAndOutput) {
    Z80TestSystem s;
    s.load(0x0100, {0xED, 0xB2,   // INIR
                    0xED, 0xB2,   // INIR
                    0xED, 0xB3,   // OTIR
                    0xED, 0xBB,   // OTDR
                    0xED, 0xA2,   // INI
                    0xED, 0xAA}); // IND
    s.cpu.pc = 0x0100;
    s.cpu.hl = 0x8000;
    s.cpu.bc = 0x0134;
    s.set_af(0, 0xFF);
    s.port_input = {0x5A};
    EXPECT_TRUE(s.step({.f = Z | N, .bc = 0x0034, .hl = 0x8001, .cycles = 16}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0100, 0xED), rd(0x0101, 0xB2), port_in(0x0034, 0x5A), wr(0x8000, 0x5A),
                                  loop_at(0x0102)}));

    s.cpu.bc = 0x0310;
    s.port_input = {0x01, 0x02, 0x03};
    EXPECT_TRUE(s.step({.f = Z | N, .bc = 0x0010, .hl = 0x8004, .cycles = 58}));
    EXPECT_EQ(s.log[2], port_in(0x0010, 0x01));
    EXPECT_EQ(s.log[6], port_in(0x0010, 0x03));
    EXPECT_EQ(s.log[7], wr(0x8003, 0x03));

    // B = 0 means 256 iterations.
    s.cpu.bc = 0x0007;
    s.cpu.hl = 0x8000;
    EXPECT_TRUE(s.step({.f = Z | N, .bc = 0x0007, .hl = 0x8100, .cycles = 256 * 21 - 5}));
    EXPECT_EQ(s.count(Hook::Out), 256);
    EXPECT_EQ(s.log[2], rd(0x8000, 0x5A));
    EXPECT_EQ(s.log[3], port_out(0x0007, 0x5A));

    s.cpu.bc = 0x0507;
    s.cpu.cycles_left = 10;
    EXPECT_TRUE(s.step({.pc = 0x0106, .f = N, .bc = 0x0407, .hl = 0x80FF, .cycles_left = -11}));
    s.cpu.pc = 0x0108;
    s.cpu.bc = 0x0200;
    EXPECT_TRUE(s.step({.f = N, .bc = 0x0100, .cycles = 16}));
    EXPECT_TRUE(s.step({.f = Z | N, .bc = 0x0000, .hl = 0x80FF, .cycles = 16}));
}

TEST(Z80Prefix, UndefinedEdOpcodesAreTwoByteNoOps) {
    for (uint8_t op : undefined_ed_opcodes()) {
        Z80TestSystem s;
        s.load(0x0100, {0xED, op});
        fill_registers(s.cpu);
        s.cpu.pc = 0x0100;
        s.cpu.int_state = kZ80Iff1 | kZ80Im2 | kZ80IffSaved;
        Z80Registers want = s.cpu;
        want.pc = 0x0102;
        s.step();
        EXPECT_TRUE(same_registers(want, s.cpu)) << "ED " << hex(op, 2);
        EXPECT_EQ(s.log, (std::vector{rd(0x0100, 0xED), rd(0x0101, op), loop_at(0x0102)}))
            << "ED " << hex(op, 2);
    }
}

TEST(Z80Prefix, EdEdRereadsThePrefixAndEdFeCallsItsHook) {
    Z80TestSystem s;
    s.load(0x0100, {0xED, 0xED, 0x44, // ED ED: the second ED starts NEG
                    0xED, 0xFE});     // the ED FE hook
    s.cpu.pc = 0x0100;
    s.set_af(0x01, 0);
    EXPECT_TRUE(s.step({.pc = 0x0101, .a = 0x01, .cycles = 0}));
    EXPECT_TRUE(s.step({.pc = 0x0103, .a = 0xFF, .cycles = 8}));
    EXPECT_EQ(s.log.front(), rd(0x0101, 0xED));

    const Z80Registers before = s.cpu;
    EXPECT_TRUE(s.step({.pc = 0x0105, .cycles = 0}));
    ASSERT_EQ(s.log.size(), 4u);
    EXPECT_EQ(s.log[2].kind, Hook::EdFe);
    Z80Registers want = before;
    want.pc = 0x0105;
    EXPECT_TRUE(same_registers(want, s.cpu));
}

TEST(Z80Prefix, IndexRegisterHalves) {
    Z80TestSystem s;
    s.load(0x0100, {0xDD, 0x21, 0x34, 0x12, // LD IX,1234h
                    0xFD, 0x21, 0x78, 0x56, // LD IY,5678h
                    0xDD, 0x26, 0x7F,       // LD IXh,7Fh
                    0xFD, 0x2E, 0x01,       // LD IYl,01h
                    0xDD, 0x7C,             // LD A,IXh
                    0xFD, 0x84,             // ADD A,IYh
                    0xDD, 0x65,             // LD IXh,IXl
                    0xFD, 0x44,             // LD B,IYh
                    0xDD, 0x2E, 0xFF,       // LD IXl,FFh
                    0xDD, 0x2C,             // INC IXl: no carry into IXh
                    0xFD, 0x25,             // DEC IYh
                    0xDD, 0x64,             // LD IXh,IXh
                    0xDD, 0x6D,             // LD IXl,IXl
                    0xDD, 0x40,             // LD B,B
                    0xFD, 0x7F});           // LD A,A
    s.cpu.pc = 0x0100;
    s.cpu.hl = 0xAAAA;
    EXPECT_TRUE(s.step({.hl = 0xAAAA, .ix = 0x1234, .cycles = 14}));
    EXPECT_TRUE(s.step({.iy = 0x5678, .cycles = 14}));
    EXPECT_TRUE(s.step({.hl = 0xAAAA, .ix = 0x7F34, .cycles = 9}));
    EXPECT_TRUE(s.step({.hl = 0xAAAA, .iy = 0x5601, .cycles = 9}));
    EXPECT_TRUE(s.step({.a = 0x7F, .cycles = 9}));
    EXPECT_TRUE(s.step({.a = 0xD5, .f = S | H | PV, .cycles = 9}));
    EXPECT_TRUE(s.step({.hl = 0xAAAA, .ix = 0x3434, .cycles = 9}));
    EXPECT_TRUE(s.step({.bc = 0x5600, .cycles = 9}));
    EXPECT_TRUE(s.step({.ix = 0x34FF, .cycles = 9}));
    EXPECT_TRUE(s.step({.f = Z | H, .hl = 0xAAAA, .ix = 0x3400, .cycles = 9}));
    EXPECT_TRUE(s.step({.f = N, .iy = 0x5501, .cycles = 9}));
    EXPECT_TRUE(s.step({.f = N, .hl = 0xAAAA, .ix = 0x3400, .cycles = 9}));
    EXPECT_TRUE(s.step({.f = N, .hl = 0xAAAA, .ix = 0x3400, .cycles = 9}));
    EXPECT_TRUE(s.step({.bc = 0x5600, .cycles = 4})); // no HL operand: the prefix is ignored
    EXPECT_TRUE(s.step({.pc = 0x0125, .a = 0xD5, .f = N, .cycles = 4}));
}

// The register beside an (IX+d) operand stays the real H or L.
TEST(Z80Prefix, IndexedMemoryOperands) {
    Z80TestSystem s;
    s.load(0x0100, {0xDD, 0x66, 0x05,       // LD H,(IX+5)
                    0xDD, 0x74, 0xFE,       // LD (IX-2),H
                    0xFD, 0x36, 0x03, 0x99, // LD (IY+3),99h
                    0xFD, 0x34, 0x03,       // INC (IY+3)
                    0xDD, 0x86, 0x05,       // ADD A,(IX+5)
                    0xFD, 0x75, 0x80});     // LD (IY-128),L
    s.memory[0x8005] = 0x42;
    s.cpu.pc = 0x0100;
    s.cpu.ix = 0x8000;
    s.cpu.iy = 0x9000;
    s.cpu.hl = 0x1234;
    EXPECT_TRUE(s.step({.hl = 0x4234, .ix = 0x8000, .cycles = 19}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0100, 0xDD), rd(0x0101, 0x66), rd(0x0102, 0x05), rd(0x8005, 0x42),
                                  loop_at(0x0103)}));
    EXPECT_TRUE(s.step({.cycles = 19}));
    EXPECT_EQ(s.log[3], wr(0x7FFE, 0x42));
    EXPECT_TRUE(s.step({.cycles = 19}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0106, 0xFD), rd(0x0107, 0x36), rd(0x0108, 0x03), rd(0x0109, 0x99),
                                  wr(0x9003, 0x99), loop_at(0x010A)}));
    EXPECT_TRUE(s.step({.f = S, .cycles = 23}));
    EXPECT_EQ(s.log, (std::vector{rd(0x010A, 0xFD), rd(0x010B, 0x34), rd(0x010C, 0x03), rd(0x9003, 0x99),
                                  wr(0x9003, 0x9A), loop_at(0x010D)}));
    EXPECT_TRUE(s.step({.a = 0x42, .f = 0x00, .cycles = 19}));
    EXPECT_TRUE(s.step({.pc = 0x0113, .cycles = 19}));
    EXPECT_EQ(s.log[3], wr(0x8F80, 0x34));
}

TEST(Z80Prefix, IndexRegisterPairForms) {
    Z80TestSystem s;
    s.load(0x0100, {0xDD, 0x09,   // ADD IX,BC
                    0xDD, 0x29,   // ADD IX,IX
                    0xDD, 0xE5,   // PUSH IX
                    0xFD, 0xE1,   // POP IY
                    0xDD, 0xE3,   // EX (SP),IX
                    0xDD, 0xF9,   // LD SP,IX
                    0xFD, 0xE9}); // JP (IY)
    s.cpu.pc = 0x0100;
    s.cpu.sp = 0x8000;
    s.cpu.ix = 0x7800;
    s.cpu.bc = 0x0900;
    s.cpu.hl = 0x1111;
    s.load(0x7FFC, {0xCD, 0xAB});
    EXPECT_TRUE(s.step({.f = H, .hl = 0x1111, .ix = 0x8100, .cycles = 15}));
    EXPECT_TRUE(s.step({.f = C, .hl = 0x1111, .ix = 0x0200, .cycles = 15}));
    EXPECT_TRUE(s.step({.sp = 0x7FFE, .cycles = 15}));
    EXPECT_EQ(s.log[2], wr(0x7FFF, 0x02));
    EXPECT_TRUE(s.step({.sp = 0x8000, .iy = 0x0200, .cycles = 14}));
    s.cpu.sp = 0x7FFC;
    EXPECT_TRUE(s.step({.sp = 0x7FFC, .hl = 0x1111, .ix = 0xABCD, .cycles = 23}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0108, 0xDD), rd(0x0109, 0xE3), rd(0x7FFC, 0xCD), wr(0x7FFC, 0x00),
                                  rd(0x7FFD, 0xAB), wr(0x7FFD, 0x02), loop_at(0x010A)}));
    EXPECT_TRUE(s.step({.sp = 0xABCD, .cycles = 10}));
    EXPECT_TRUE(s.step({.pc = 0x0200, .cycles = 8}));
}

// Opcodes without an H, L, HL or (HL) operand act, and cost, as unprefixed,
// taken-branch extras included: the prefix is ignored.
TEST(Z80Prefix, OpcodesWithoutAnHlOperandIgnoreThePrefix) {
    Z80TestSystem s;
    s.load(0x0100, {0xDD, 0xEB,             // 100 EX DE,HL: not IX
                    0xFD, 0xD9,             // 102 EXX: IY stays
                    0xDD, 0x04,             // 104 INC B
                    0xFD, 0x3E, 0x12,       // 106 LD A,12h
                    0xDD, 0x20, 0x02,       // 109 JR NZ,10Eh
                    0x76, 0x76,             // 10C
                    0xDD, 0x28, 0x7F,       // 10E JR Z: not taken
                    0xDD, 0x10, 0x01,       // 111 DJNZ 115h
                    0x76,                   // 114
                    0xDD, 0xC4, 0x00, 0x02, // 115 CALL NZ,0200h
                    0xDD, 0x18, 0xFD});     // 119 JR 119h
    s.load(0x0200, {0xDD, 0xC0});           // RET NZ
    s.cpu.pc = 0x0100;
    s.cpu.sp = 0x8000;
    s.cpu.de = 0x1111;
    s.cpu.hl = 0x2222;
    s.cpu.ix = 0x3333;
    s.cpu.iy = 0x4444;
    s.cpu.bc_alt = 0x5500;
    s.cpu.de_alt = 0x6666;
    s.cpu.hl_alt = 0x7777;
    EXPECT_TRUE(s.step({.de = 0x2222, .hl = 0x1111, .ix = 0x3333, .cycles = 4}));
    EXPECT_TRUE(s.step({.bc = 0x5500, .de = 0x6666, .hl = 0x7777, .iy = 0x4444, .cycles = 4}));
    EXPECT_TRUE(s.step({.f = 0x00, .bc = 0x5600, .cycles = 4}));
    EXPECT_TRUE(s.step({.a = 0x12, .cycles = 7}));
    EXPECT_TRUE(s.step({.pc = 0x010E, .cycles = 12}));
    EXPECT_TRUE(s.step({.pc = 0x0111, .cycles = 7}));
    EXPECT_EQ(s.count(Hook::Read), 2);
    EXPECT_TRUE(s.step({.pc = 0x0115, .bc = 0x5500, .cycles = 13}));
    EXPECT_TRUE(s.step({.pc = 0x0200, .sp = 0x7FFE, .cycles = 17}));
    EXPECT_TRUE(s.step({.pc = 0x0119, .sp = 0x8000, .cycles = 11}));
    EXPECT_TRUE(s.step({.pc = 0x0119, .cycles = 12}));
}

// A loop of prefixed jumps spends its slice like any other, so a frame ends.
TEST(Z80Prefix, PrefixedJumpLoopEndsTheSlice) {
    Z80TestSystem s;
    s.load(0x0100, {0xDD, 0x18, 0xFD}); // DD JR $
    s.cpu.pc = 0x0100;
    s.cpu.cycle_period = 1000;
    s.cpu.cycles_left = 1000;
    z80_run(s, s.cpu);
    EXPECT_EQ(s.cpu.pc, 0x0100);
    EXPECT_EQ(s.count(Hook::Loop), 1000 / 12 + 1);
}

TEST(Z80Prefix, RepeatedPrefixesAndDdEd) {
    Z80TestSystem s;
    s.load(0x0100, {0xDD, 0xFD, 0x21, 0x34, 0x12, // the FD replaces the DD: LD IY,1234h
                    0xFD, 0xDD, 0xDD, 0x23,       // INC IX
                    0xDD, 0xED, 0x44});           // DD ED consumed, then 44 is LD B,H
    s.cpu.pc = 0x0100;
    s.cpu.ix = 0x1000;
    s.cpu.hl = 0x9900;
    s.set_af(0x01, 0);
    EXPECT_TRUE(s.step({.pc = 0x0101, .ix = 0x1000, .iy = 0x0000, .cycles = 0}));
    EXPECT_TRUE(s.step({.pc = 0x0105, .ix = 0x1000, .iy = 0x1234, .cycles = 14}));
    EXPECT_EQ(s.log.front(), rd(0x0101, 0xFD));
    EXPECT_TRUE(s.step({.pc = 0x0106, .cycles = 0}));
    EXPECT_TRUE(s.step({.pc = 0x0107, .cycles = 0}));
    EXPECT_TRUE(s.step({.pc = 0x0109, .ix = 0x1001, .iy = 0x1234, .cycles = 10}));
    EXPECT_TRUE(s.step({.pc = 0x010B, .a = 0x01, .bc = 0x0000, .cycles = 0}));
    EXPECT_TRUE(s.step({.pc = 0x010C, .a = 0x01, .bc = 0x9900, .cycles = 4}));
}

TEST(Z80Prefix, IndexedHaltIsAPlainHalt) {
    Z80TestSystem s;
    s.load(0x0100, {0xDD, 0x76});
    s.cpu.pc = 0x0100;
    s.cpu.sp = 0x8000;
    s.cpu.int_state = kZ80Iff1 | kZ80Im1;
    EXPECT_TRUE(s.step({.pc = 0x0101, .int_state = kZ80Iff1 | kZ80Im1 | kZ80Halted, .cycles_left = 0}));
    EXPECT_TRUE(s.step({.pc = 0x0101, .cycles_left = 0}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0101, 0x76), loop_at(0x0101)}));
    z80_interrupt(s, s.cpu, 0);
    EXPECT_EQ(s.word(0x7FFE), 0x0102);
}

TEST(Z80Prefix, IndexedBitInstructions) {
    Z80TestSystem s;
    s.load(0x0100, {0xFD, 0xCB, 0x02, 0x46,   // BIT 0,(IY+2)
                    0xFD, 0xCB, 0x02, 0x47,   // BIT 0,(IY+2) as well
                    0xFD, 0xCB, 0x02, 0x07,   // undefined
                    0xDD, 0xCB, 0xFF, 0xC6,   // SET 0,(IX-1)
                    0xDD, 0xCB, 0x01, 0x16}); // RL (IX+1)
    s.memory[0x9002] = 0xFE;
    s.load(0x8000, {0x80, 0x00, 0x80});
    s.cpu.pc = 0x0100;
    s.cpu.ix = 0x8001;
    s.cpu.iy = 0x9000;
    s.set_af(0x11, 0x00);
    EXPECT_TRUE(s.step({.f = Z | H, .cycles = 20}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0100, 0xFD), rd(0x0101, 0xCB), rd(0x0102, 0x02), rd(0x0103, 0x46),
                                  rd(0x9002, 0xFE), loop_at(0x0104)}));
    s.set_af(0x11, S | PV | C);
    EXPECT_TRUE(s.step({.f = S | Z | H | PV | C, .cycles = 20}));
    Z80Registers want = s.cpu;
    want.pc = 0x010C;
    s.step();
    EXPECT_TRUE(same_registers(want, s.cpu));
    EXPECT_EQ(s.count(Hook::Read), 4);
    EXPECT_TRUE(s.step({.a = 0x11, .f = S | Z | H | PV | C, .cycles = 23}));
    EXPECT_EQ(s.memory[0x8000], 0x81);
    s.set_af(0x11, 0x00);
    EXPECT_TRUE(s.step({.pc = 0x0114, .f = Z | PV | C, .cycles = 23}));
    EXPECT_EQ(s.log[4], rd(0x8002, 0x80));
    EXPECT_EQ(s.log[5], wr(0x8002, 0x00));
}

// Every DDCB/FDCB opcode: BIT reads once, the (IX+d) forms read and write back,
// and the rest touch nothing beyond their four bytes.
TEST(Z80Prefix, EveryIndexedBitOpcode) {
    for (uint8_t prefix : {uint8_t(0xDD), uint8_t(0xFD)})
        for (int op = 0; op < 256; ++op) {
            Z80TestSystem s;
            s.load(0x0100, {prefix, 0xCB, 0x10, uint8_t(op)});
            fill_registers(s.cpu);
            s.cpu.pc = 0x0100;
            const uint16_t address = uint16_t((prefix == 0xDD ? s.cpu.ix : s.cpu.iy) + 0x10);
            s.memory[address] = 0x5A;
            const Z80Registers before = s.cpu;
            const int32_t cycles = s.step();
            const int x = op >> 6, b = (op >> 3) & 7;
            SCOPED_TRACE(hex(prefix, 2) + " CB 10 " + hex(op, 2));
            if (x == 1) {
                EXPECT_EQ(cycles, 20);
                EXPECT_EQ(s.count(Hook::Read), 5);
                EXPECT_EQ(s.count(Hook::Write), 0);
            } else if ((op & 7) == 6) {
                EXPECT_EQ(cycles, 23);
                EXPECT_EQ(s.log[4], rd(address, 0x5A));
                ASSERT_EQ(s.log.size(), 7u);
                EXPECT_EQ(s.log[5].address, address);
                if (x >= 2) {
                    const int want = x == 2 ? 0x5A & ~(1 << b) : 0x5A | 1 << b;
                    EXPECT_EQ(s.memory[address], want) << (x == 2 ? "RES " : "SET ") << b;
                }
            } else {
                Z80Registers want = before;
                want.pc = 0x0104;
                EXPECT_TRUE(same_registers(want, s.cpu));
                EXPECT_EQ(s.log.size(), 5u);
            }
        }
}

// The port's high byte is 0: neither B nor A reaches the upper address lines.
TEST(Z80Prefix, PortInstructions) {
    Z80TestSystem s;
    s.load(0x0100, {0xED, 0x78,   // IN A,(C)
                    0xED, 0x70,   // IN F,(C)
                    0xED, 0x40,   // IN B,(C)
                    0xED, 0x79,   // OUT (C),A
                    0xDB, 0x34,   // IN A,(34h)
                    0xD3, 0x56}); // OUT (56h),A
    s.cpu.pc = 0x0100;
    s.cpu.bc = 0x12FE;
    s.cpu.hl = 0x3333;
    s.set_af(0x77, C | kFlag5 | kFlag3);
    s.port_input = {0x00, 0x80, 0x81, 0xC3};
    EXPECT_TRUE(s.step({.a = 0x00, .f = Z | PV | C, .cycles = 12}));
    EXPECT_EQ(s.log[2], port_in(0x00FE, 0x00));
    EXPECT_TRUE(s.step({.a = 0x00, .f = S | C, .bc = 0x12FE, .hl = 0x3333, .cycles = 12}));
    EXPECT_EQ(s.log[2], port_in(0x00FE, 0x80));
    EXPECT_TRUE(s.step({.f = S | PV | C, .bc = 0x81FE, .cycles = 12}));
    s.set_af(0x77, S | PV | C);
    EXPECT_TRUE(s.step({.f = S | PV | C, .cycles = 12}));
    EXPECT_EQ(s.log[2], port_out(0x00FE, 0x77));
    EXPECT_TRUE(s.step({.a = 0xC3, .f = S | PV | C, .cycles = 11}));
    EXPECT_EQ(s.log[2], port_in(0x0034, 0xC3));
    EXPECT_TRUE(s.step({.cycles = 11}));
    EXPECT_EQ(s.log[2], port_out(0x0056, 0xC3));
}

} // namespace
