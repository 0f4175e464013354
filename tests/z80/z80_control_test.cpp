// Reset, the slice loop, branch costs, interrupt acceptance, HALT, and the
// order in which instructions call the memory and loop hooks.
#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "support/z80_test_system.h"

namespace {

constexpr int32_t kSlice = Z80TestSystem::kSlice;

TEST(Z80Control, ResetClearsRegistersAndFillsTheBudget) {
    Z80TestSystem s;
    fill_registers(s.cpu);
    s.cpu.pc = 0x4321;
    s.cpu.int_state = kZ80Halted | kZ80IffSaved | kZ80Im2 | kZ80Iff1;
    s.cpu.cycle_period = 5000;
    s.cpu.cycles_left = -3;
    s.cpu.stop_pc = 0x1234;
    s.cpu.stop_requested = 1;
    z80_reset(s.cpu);
    Z80Registers want;
    want.sp = 0xF000;
    want.cycle_period = want.cycles_left = 5000;
    want.stop_pc = 0x1234;
    want.stop_requested = 1;
    EXPECT_TRUE(same_registers(want, s.cpu));
}

// The slice runs while cycles_left >= 0, so an instruction still starts with 0
// left, and the overshoot of the last one is taken from the next slice.
TEST(Z80Control, RunEndsTheSliceAndCarriesTheOvershoot) {
    Z80TestSystem s; // memory is all NOPs
    s.cpu.cycles_left = 2;
    EXPECT_EQ(z80_run(s, s.cpu), 1);
    EXPECT_EQ(s.loop_cycles_left, std::vector<int32_t>{-2});
    EXPECT_TRUE(s.check({.pc = 1, .cycles_left = kSlice - 2}));

    s.clear_log();
    s.cpu.cycles_left = 8;
    EXPECT_EQ(z80_run(s, s.cpu), 4);
    EXPECT_EQ(s.loop_cycles_left, (std::vector<int32_t>{4, 0, -4}));
    EXPECT_TRUE(s.check({.pc = 4, .cycles_left = kSlice - 4}));
}

TEST(Z80Control, StopRequestReturnsWithoutRefilling) {
    Z80TestSystem s;
    s.on_loop = [](Z80TestSystem& t) {
        if (t.cpu.pc == 2) t.cpu.stop_requested = 1;
    };
    s.cpu.cycles_left = 6;
    EXPECT_EQ(z80_run(s, s.cpu), 2);
    EXPECT_TRUE(s.check({.pc = 2, .cycles_left = -2}));
    // The next call carries on with the same slice, which is already spent.
    s.cpu.stop_requested = 0;
    s.clear_log();
    EXPECT_EQ(z80_run(s, s.cpu), 2);
    EXPECT_TRUE(s.log.empty());
    EXPECT_EQ(s.cpu.cycles_left, kSlice - 2);
}

TEST(Z80Control, RelativeJumpsAndUnconditionalTransfers) {
    struct Case {
        const char* what;
        std::vector<uint8_t> code;
        uint8_t f;
        uint16_t bc;
        Z80Expect want;
        int reads;
    };
    const Case cases[] = {
        {"JR C backwards", {0x38, 0x80}, kFlagC, 0, {.pc = 0x0F82, .cycles = 12}, 2},
        {"JR to itself", {0x18, 0xFE}, 0, 0, {.pc = 0x1000, .cycles = 12}, 2},
        {"DJNZ falls through at B=1", {0x10, 0x05}, 0, 0x0100, {.pc = 0x1002, .bc = 0x0000, .cycles = 8}, 1},
        {"DJNZ at B=0 jumps", {0x10, 0x05}, 0, 0x0000, {.pc = 0x1007, .bc = 0xFF00, .cycles = 13}, 2},
        {"JP", {0xC3, 0x34, 0x12}, 0, 0, {.pc = 0x1234, .cycles = 10}, 3},
        {"CALL", {0xCD, 0x34, 0x12}, 0, 0, {.pc = 0x1234, .sp = 0x7FFE, .cycles = 17}, 3},
        {"RET", {0xC9}, 0, 0, {.pc = 0x5678, .sp = 0x8002, .cycles = 10}, 3},
        {"RST 38h", {0xFF}, 0, 0, {.pc = 0x0038, .sp = 0x7FFE, .cycles = 11}, 1},
        {"JP (HL)", {0xE9}, 0, 0, {.pc = 0x4321, .cycles = 4}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Z80TestSystem s;
        for (size_t k = 0; k < c.code.size(); ++k) s.memory[0x1000 + k] = c.code[k];
        s.load(0x8000, {0x78, 0x56});
        s.cpu.pc = 0x1000;
        s.cpu.sp = 0x8000;
        s.cpu.hl = 0x4321;
        s.cpu.bc = c.bc;
        s.set_af(0, c.f);
        EXPECT_TRUE(s.step(c.want));
        EXPECT_EQ(s.count(Hook::Read), c.reads);
        if (c.want.sp == 0x7FFE) {
            EXPECT_EQ(s.word(0x7FFE), uint16_t(0x1000 + c.code.size())) << "return address";
        }
    }
}

// Every condition code of JR, JP, CALL and RET, with its flag set and clear.
TEST(Z80Control, ConditionalBranchCosts) {
    const uint8_t condition_flag[] = {kFlagZ, kFlagZ, kFlagC, kFlagC, kFlagPV, kFlagPV, kFlagS, kFlagS};
    for (int y = 0; y < 8; ++y)
        for (bool flag_set : {false, true}) {
            const bool taken = flag_set == (y & 1);
            // Every other flag is the opposite way, so testing the wrong one shows.
            const uint8_t f = uint8_t(flag_set ? condition_flag[y] : 0xFF & ~condition_flag[y]);
            struct Form {
                uint8_t opcode;
                int length, cost, extra, reads_taken, sp_taken;
            };
            std::vector<Form> forms = {{uint8_t(0xC2 | y << 3), 3, 10, 0, 3, 0x8000}, // JP cc
                                       {uint8_t(0xC4 | y << 3), 3, 10, 7, 3, 0x7FFE}, // CALL cc
                                       {uint8_t(0xC0 | y << 3), 1, 5, 6, 3, 0x8002}}; // RET cc
            if (y < 4) forms.push_back({uint8_t(0x20 | y << 3), 2, 7, 5, 2, 0x8000}); // JR cc
            for (const Form& form : forms) {
                Z80TestSystem s;
                s.load(0x1000, {form.opcode, 0x34, 0x12});
                s.load(0x8000, {0x78, 0x56});
                s.cpu.pc = 0x1000;
                s.cpu.sp = 0x8000;
                s.set_af(0, f);
                const uint16_t target = form.length == 2 ? 0x1036 : form.length == 3 ? 0x1234 : 0x5678;
                EXPECT_TRUE(s.step({.pc = taken ? target : uint16_t(0x1000 + form.length),
                                    .sp = uint16_t(taken ? form.sp_taken : 0x8000),
                                    .cycles = form.cost + (taken ? form.extra : 0)}))
                    << "opcode " << hex(form.opcode, 2) << (taken ? " taken" : " not taken");
                EXPECT_EQ(s.count(Hook::Read), taken ? form.reads_taken : 1)
                    << "opcode " << hex(form.opcode, 2);
            }
        }
}

TEST(Z80Control, InterruptWithIff1ClearIsDroppedNotHeld) {
    Z80TestSystem s;
    fill_registers(s.cpu);
    s.cpu.pc = 0x1234;
    s.cpu.int_state = kZ80Halted | kZ80Im1;
    Z80Registers before = s.cpu;
    z80_interrupt(s, s.cpu, 0);
    EXPECT_TRUE(same_registers(before, s.cpu));
    EXPECT_TRUE(s.log.empty());

    s.cpu.int_state = kZ80Im1;
    s.load(0x1234, {0xFB}); // EI
    EXPECT_TRUE(s.step({.pc = 0x1235, .int_state = kZ80Im1 | kZ80Iff1}));
}

TEST(Z80Control, Mode1InterruptWakesAHaltedCpu) {
    Z80TestSystem s;
    s.load(0x1234, {0x76}); // HALT
    s.cpu.pc = 0x1234;
    s.cpu.sp = 0x8000;
    s.cpu.int_state = kZ80Iff1 | kZ80Im1;
    EXPECT_TRUE(s.step({.pc = 0x1234, .int_state = kZ80Iff1 | kZ80Im1 | kZ80Halted, .cycles_left = 0}));
    s.clear_log();
    z80_interrupt(s, s.cpu, 0); // the acknowledge cycle and the pushes take 13 T-states
    EXPECT_TRUE(s.check({.pc = 0x0038, .sp = 0x7FFE, .int_state = kZ80Im1 | kZ80IffSaved, .cycles_left = -13}));
    EXPECT_EQ(s.log, (std::vector{wr(0x7FFF, 0x12), wr(0x7FFE, 0x35)}));
}

TEST(Z80Control, Mode2InterruptReadsTheVectorTable) {
    Z80TestSystem s;
    s.cpu.pc = 0x4000;
    s.cpu.sp = 0x8000;
    s.cpu.i = 0x80;
    s.cpu.int_state = kZ80Iff1 | kZ80Im2;
    s.load(0x8000, {0x78, 0x56});
    z80_interrupt(s, s.cpu, 0);
    EXPECT_TRUE(s.check({.pc = 0x5678, .int_state = kZ80Im2 | kZ80IffSaved, .cycles_left = kSlice - 19}));
    EXPECT_EQ(s.log, (std::vector{wr(0x7FFF, 0x40), wr(0x7FFE, 0x00), rd(0x8000, 0x78), rd(0x8001, 0x56)}));

    // Only the low byte of the vector counts.
    s.clear_log();
    s.cpu.int_state = kZ80Iff1 | kZ80Im2;
    s.load(0x8034, {0xBC, 0x9A});
    z80_interrupt(s, s.cpu, 0x4334);
    EXPECT_TRUE(s.check({.pc = 0x9ABC}));
    EXPECT_EQ(s.log.back(), rd(0x8035, 0x9A));

    // The second byte of the table entry wraps to address 0.
    s.clear_log();
    s.cpu.i = 0xFF;
    s.cpu.int_state = kZ80Iff1 | kZ80Im2;
    s.memory[0xFFFF] = 0xCD;
    s.memory[0x0000] = 0xAB;
    z80_interrupt(s, s.cpu, 0x00FF);
    EXPECT_TRUE(s.check({.pc = 0xABCD}));
    EXPECT_EQ(s.log.back(), rd(0x0000, 0xAB));
}

TEST(Z80Control, Mode0InterruptJumpsToTheVector) {
    Z80TestSystem s;
    s.cpu.pc = 0x4000;
    s.cpu.sp = 0x8000;
    s.cpu.int_state = kZ80Iff1;
    z80_interrupt(s, s.cpu, 0);
    EXPECT_TRUE(s.check({.pc = 0x0000, .sp = 0x7FFE, .int_state = kZ80IffSaved}));
    s.cpu.int_state = kZ80Iff1;
    z80_interrupt(s, s.cpu, 0x0020);
    EXPECT_TRUE(s.check({.pc = 0x0020, .sp = 0x7FFC}));
}

// IM clears both mode bits before setting its own; nothing else moves.
TEST(Z80Control, InterruptModeInstructions) {
    Z80TestSystem s;
    s.load(0x0000, {0xED, 0x5E,   // IM 2
                    0xED, 0x56,   // IM 1
                    0xED, 0x46}); // IM 0
    s.cpu.int_state = kZ80Iff1 | kZ80IffSaved | kZ80Im1;
    EXPECT_TRUE(s.step({.int_state = kZ80Iff1 | kZ80IffSaved | kZ80Im2, .cycles = 8}));
    EXPECT_TRUE(s.step({.int_state = kZ80Iff1 | kZ80IffSaved | kZ80Im1, .cycles = 8}));
    EXPECT_TRUE(s.step({.int_state = kZ80Iff1 | kZ80IffSaved, .cycles = 8}));
}

// Bit 6 records IFF1 at acceptance; EI and DI leave it; RETN copies it back.
TEST(Z80Control, RetnRestoresIff1AndRetiDoesNot) {
    Z80TestSystem s;
    s.load(0x0038, {0xFB,         // EI
                    0xF3,         // DI
                    0xED, 0x45}); // RETN
    s.load(0x1000, {0xED, 0x4D,   // RETI
                    0xED, 0x45}); // RETN
    s.cpu.pc = 0x1000;
    s.cpu.sp = 0x8000;
    s.cpu.int_state = kZ80Iff1 | kZ80Im1;
    z80_interrupt(s, s.cpu, 0);
    EXPECT_TRUE(s.step({.pc = 0x0039, .int_state = kZ80Im1 | kZ80IffSaved | kZ80Iff1}));
    EXPECT_TRUE(s.step({.pc = 0x003A, .int_state = kZ80Im1 | kZ80IffSaved}));
    EXPECT_TRUE(
        s.step({.pc = 0x1000, .sp = 0x8000, .int_state = kZ80Im1 | kZ80IffSaved | kZ80Iff1, .cycles = 14}));

    s.cpu.int_state = kZ80Im1 | kZ80IffSaved;
    s.cpu.sp = 0x7FFE;
    s.load(0x7FFE, {0x00, 0x10});
    EXPECT_TRUE(s.step({.pc = 0x1000, .sp = 0x8000, .int_state = kZ80Im1 | kZ80IffSaved, .cycles = 14}));
    // With bit 6 clear, RETN turns IFF1 off.
    s.cpu.int_state = kZ80Iff1 | kZ80Im1;
    s.cpu.pc = 0x1002;
    s.cpu.sp = 0x7FFE;
    EXPECT_TRUE(s.step({.pc = 0x1000, .int_state = kZ80Im1}));
}

// The loop hook runs between instructions, so an interrupt it raises right
// after EI is accepted before the next instruction.
TEST(Z80Control, EiTakesEffectAtOnce) {
    Z80TestSystem s;
    s.load(0x1000, {0xFB}); // EI
    s.cpu.pc = 0x1000;
    s.cpu.sp = 0x8000;
    s.cpu.int_state = kZ80Im1;
    s.on_loop = [](Z80TestSystem& t) { z80_interrupt(t, t.cpu, 0); };
    EXPECT_TRUE(s.step({.pc = 0x0038, .sp = 0x7FFE, .int_state = kZ80Im1 | kZ80IffSaved}));
    EXPECT_EQ(s.word(0x7FFE), 0x1001);
}

TEST(Z80Control, HaltStaysOnItsOpcode) {
    Z80TestSystem s;
    s.load(0x0200, {0x76}); // HALT
    s.cpu.pc = 0x0200;
    s.cpu.cycles_left = 500;
    for (int repeat = 0; repeat < 2; ++repeat) {
        EXPECT_TRUE(s.step({.pc = 0x0200, .int_state = kZ80Halted, .cycles_left = 0}));
        EXPECT_EQ(s.log, (std::vector{rd(0x0200, 0x76), loop_at(0x0200)}));
        EXPECT_EQ(s.loop_cycles_left, std::vector<int32_t>{0});
    }
}

// Halted with interrupts off, nothing can wake the CPU in this slice: the
// slice ends with the rest of it credited and PC still on the HALT.
TEST(Z80Control, RunEndsTheSliceWhileHalted) {
    Z80TestSystem s;
    s.load(0x0200, {0x76});
    s.cpu.pc = 0x0200;
    s.cpu.cycles_left = 500;
    int calls = 0;
    s.on_loop = [&calls](Z80TestSystem& t) {
        if (++calls == 1000) t.cpu.stop_requested = 1; // keeps a failing core from hanging the test
    };
    EXPECT_EQ(z80_run(s, s.cpu), 0x0200);
    EXPECT_EQ(s.cpu.stop_requested, 0) << "the slice did not end";
    EXPECT_TRUE(s.check({.pc = 0x0200, .int_state = kZ80Halted, .cycles_left = kSlice}));
    EXPECT_EQ(s.loop_cycles_left.back(), 0);
}

TEST(Z80Control, InterruptFromTheLoopHookResumesAfterHalt) {
    Z80TestSystem s; // NOPs at 0x0038
    s.load(0x0200, {0x76});
    s.cpu.pc = 0x0200;
    s.cpu.sp = 0x8000;
    s.cpu.cycles_left = 500;
    s.cpu.int_state = kZ80Iff1 | kZ80Im1;
    s.on_loop = [](Z80TestSystem& t) {
        if (t.cpu.int_state & kZ80Halted) z80_interrupt(t, t.cpu, 0);
    };
    z80_run(s, s.cpu);
    // The acceptance's 13 T-states overrun the slice, which ends before 0038.
    EXPECT_TRUE(s.check(
        {.pc = 0x0038, .sp = 0x7FFE, .int_state = kZ80Im1 | kZ80IffSaved, .cycles_left = kSlice - 13}));
    EXPECT_EQ(s.word(0x7FFE), 0x0201);
}

TEST(Z80Control, StackAndMemoryOperandsAccessBytesInOrder) {
    Z80TestSystem s;
    s.load(0x0100, {0xE3,               // EX (SP),HL
                    0xC5,               // PUSH BC
                    0xE1,               // POP HL
                    0xCD, 0x00, 0x03}); // CALL 0300h
    s.load(0x0300, {0x22, 0x00, 0x90,   // LD (9000h),HL
                    0x2A, 0x04, 0x90,   // LD HL,(9004h)
                    0x32, 0x02, 0x90,   // LD (9002h),A
                    0x3A, 0x05, 0x90}); // LD A,(9005h)
    s.load(0x8000, {0x34, 0x12});
    s.load(0x9004, {0xEF, 0xBE});
    s.cpu.pc = 0x0100;
    s.cpu.sp = 0x8000;
    s.cpu.hl = 0xABCD;
    s.cpu.bc = 0x5678;
    s.set_af(0x42, 0);

    EXPECT_TRUE(s.step({.pc = 0x0101, .sp = 0x8000, .hl = 0x1234, .cycles = 19}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0100, 0xE3), rd(0x8000, 0x34), wr(0x8000, 0xCD), rd(0x8001, 0x12),
                                  wr(0x8001, 0xAB), loop_at(0x0101)}));
    EXPECT_TRUE(s.step({.sp = 0x7FFE, .cycles = 11}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0101, 0xC5), wr(0x7FFF, 0x56), wr(0x7FFE, 0x78), loop_at(0x0102)}));
    EXPECT_TRUE(s.step({.sp = 0x8000, .hl = 0x5678, .cycles = 10}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0102, 0xE1), rd(0x7FFE, 0x78), rd(0x7FFF, 0x56), loop_at(0x0103)}));
    EXPECT_TRUE(s.step({.pc = 0x0300, .sp = 0x7FFE, .cycles = 17}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0103, 0xCD), rd(0x0104, 0x00), rd(0x0105, 0x03), wr(0x7FFF, 0x01),
                                  wr(0x7FFE, 0x06), loop_at(0x0300)}));
    EXPECT_TRUE(s.step({.cycles = 16}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0300, 0x22), rd(0x0301, 0x00), rd(0x0302, 0x90), wr(0x9000, 0x78),
                                  wr(0x9001, 0x56), loop_at(0x0303)}));
    EXPECT_TRUE(s.step({.hl = 0xBEEF, .cycles = 16}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0303, 0x2A), rd(0x0304, 0x04), rd(0x0305, 0x90), rd(0x9004, 0xEF),
                                  rd(0x9005, 0xBE), loop_at(0x0306)}));
    EXPECT_TRUE(s.step({.cycles = 13}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0306, 0x32), rd(0x0307, 0x02), rd(0x0308, 0x90), wr(0x9002, 0x42),
                                  loop_at(0x0309)}));
    EXPECT_TRUE(s.step({.a = 0xBE, .cycles = 13}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0309, 0x3A), rd(0x030A, 0x05), rd(0x030B, 0x90), rd(0x9005, 0xBE),
                                  loop_at(0x030C)}));
}

// The stack wraps at the top of memory; POP AF takes F whole, bits 3 and 5 too.
TEST(Z80Control, StackWrapsAndPopAfLoadsFlagsWhole) {
    Z80TestSystem s;
    s.load(0x0100, {0xC5,   // PUSH BC
                    0xF1}); // POP AF
    s.cpu.pc = 0x0100;
    s.cpu.sp = 0x0001;
    s.cpu.bc = 0x34FF;
    EXPECT_TRUE(s.step({.sp = 0xFFFF}));
    EXPECT_EQ(s.log, (std::vector{rd(0x0100, 0xC5), wr(0x0000, 0x34), wr(0xFFFF, 0xFF), loop_at(0x0101)}));
    EXPECT_TRUE(s.step({.sp = 0x0001, .a = 0x34, .f = 0xFF}));
}

// One loop hook call per instruction, after all of its effects, whatever its
// prefixes and however many iterations it ran; z80_execute returns the new PC.
TEST(Z80Control, LoopHookRunsOncePerInstructionAfterItsEffects) {
    Z80TestSystem s;
    s.load(0x0100, {0x01, 0x03, 0x00,       // LD BC,3
                    0xED, 0xB0,             // LDIR
                    0xDD, 0xCB, 0x00, 0xC6, // SET 0,(IX+0)
                    0xCB, 0x00,             // RLC B
                    0xFD, 0x21, 0x00, 0x00, // LD IY,0
                    0xED, 0x44,             // NEG
                    0xC9});                 // RET
    s.cpu.pc = 0x0100;
    s.cpu.hl = 0x8000;
    s.cpu.de = 0x9000;
    s.cpu.ix = 0xA000;
    s.cpu.sp = 0x7FFE;
    s.load(0x7FFE, {0x00, 0x01});
    for (int n = 0; n < 7; ++n) {
        s.clear_log();
        const uint16_t returned = z80_execute(s, s.cpu);
        ASSERT_EQ(s.count(Hook::Loop), 1) << "instruction " << n;
        EXPECT_EQ(s.log.back(), loop_at(s.cpu.pc)) << "instruction " << n;
        EXPECT_EQ(s.loop_cycles_left.back(), s.cpu.cycles_left) << "instruction " << n;
        EXPECT_EQ(returned, s.cpu.pc) << "instruction " << n;
    }
    EXPECT_EQ(s.cpu.pc, 0x0100);
}

// A system that tells the core, through z80_loop_hook_due, below which
// cycles_left its loop hook next has work (as the machine does between line
// and sample boundaries). Each call moves that point `step` T-states on.
struct DueSystem {
    Z80Registers cpu;
    std::array<uint8_t, 65536> memory{}; // NOPs
    int32_t due = 50;
    int32_t step = 20;
    std::vector<std::pair<uint16_t, int32_t>> calls; // PC and cycles_left the hook saw
    std::function<void(DueSystem&)> on_hook;

    DueSystem() {
        cpu.cycle_period = kSlice;
        z80_reset(cpu);
        cpu.cycles_left = 100;
    }
};
uint8_t z80_read_byte(DueSystem& s, uint16_t address) { return s.memory[address]; }
void z80_write_byte(DueSystem& s, uint16_t address, uint8_t value) { s.memory[address] = value; }
uint8_t z80_port_in(DueSystem&, uint16_t) { return 0xFF; }
void z80_port_out(DueSystem&, uint16_t, uint8_t) {}
void z80_edfe_hook(DueSystem&, Z80Registers&) {}
uint16_t z80_loop_hook(DueSystem& s, Z80Registers& r) {
    s.calls.emplace_back(r.pc, r.cycles_left);
    s.due = r.cycles_left - s.step;
    if (s.on_hook) s.on_hook(s);
    return r.pc;
}
int32_t z80_loop_hook_due(DueSystem& s) { return s.due; }

using Calls = std::vector<std::pair<uint16_t, int32_t>>;

// NOPs from 100 T-states left: below 50 first at 48 (PC 13), then below 28
// and below 4; the slice's last instruction (to -4) always reaches the hook.
TEST(Z80Control, ADueLoopHookRunsOnlyBelowItsPointAndAtTheSliceEnd) {
    DueSystem s;
    EXPECT_EQ(z80_run(s, s.cpu), 26);
    EXPECT_EQ(s.calls, (Calls{{13, 48}, {19, 24}, {25, 0}, {26, -4}}));
    EXPECT_EQ(s.cpu.cycles_left, kSlice - 4);

    // A HALT far above the due point still reaches the hook, and ends the slice.
    DueSystem h;
    h.memory[0x0010] = 0x76;
    h.due = -1000;
    EXPECT_EQ(z80_run(h, h.cpu), 0x0010);
    EXPECT_EQ(h.calls, (Calls{{0x0010, 0}}));
    EXPECT_EQ(h.cpu.cycles_left, kSlice);
}

TEST(Z80Control, ADueLoopHookCanInterruptOrStop) {
    DueSystem s;
    s.cpu.sp = 0x8000;
    s.cpu.int_state = kZ80Iff1 | kZ80Im1;
    s.on_hook = [](DueSystem& t) {
        if (t.calls.size() == 1) z80_interrupt(t, t.cpu, 0);
    };
    z80_run(s, s.cpu);
    ASSERT_GE(s.calls.size(), 2u);
    // The acceptance takes 13 T-states (48 to 35), then two NOPs from 0x0038.
    EXPECT_EQ(s.calls[1], (std::pair<uint16_t, int32_t>{0x003A, 27}));
    EXPECT_EQ(s.memory[0x7FFE], 13);
    EXPECT_EQ(s.memory[0x7FFF], 0);

    DueSystem t;
    t.on_hook = [](DueSystem& u) { u.cpu.stop_requested = 1; };
    EXPECT_EQ(z80_run(t, t.cpu), 13);
    EXPECT_EQ(t.cpu.cycles_left, 48); // not refilled: the next call goes on with this slice
    EXPECT_EQ(t.cpu.pc, 13);
}

} // namespace
