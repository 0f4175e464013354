// Step Over, Step Out, Run to Cursor and watchpoints on small Z80 programs
// placed in the memory of a whole machine, run through its frame loop.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>

#include "debugger/debugger.h"
#include "debugger/stepping.h"
#include "input/keyboard.h"
#include "machine/emulator.h"
#include "machine/frame.h"

namespace {

struct Rig {
    Emulator emu;
    Machine& m = emu.m();

    Rig() {
        settings_set_path(m.settings.romFile, "/nonexistent/kolt-test-rom");
        machine_reset(m); // interrupts off, SP F000, RAM up to FFFF
        m.z80.pc = 0x8000;
    }
    // Bytes straight into the memory image, ROM included.
    void load(uint16_t at, std::initializer_list<uint8_t> bytes) {
        for (const uint8_t b : bytes) m.state.memory[at++] = b;
    }
    uint16_t word(uint16_t at) const {
        return uint16_t(m.state.memory[at] | m.state.memory[uint16_t(at + 1)] << 8);
    }
    // IM 1 with a handler at 0038 that counts its calls in the word at 9100.
    // Like the ROM's it idles past the end of the field sync, so it runs
    // once a video frame.
    void count_interrupts() {
        load(0x0038, {
                         0xF5,             // PUSH AF
                         0xE5,             // PUSH HL
                         0x2A, 0x00, 0x91, // LD HL,(9100h)
                         0x23,             // INC HL
                         0x22, 0x00, 0x91, // LD (9100h),HL
                         0x21, 0x00, 0x04, // LD HL,0400h
                         0x2B,             // DEC HL
                         0x7C,             // LD A,H
                         0xB5,             // OR L
                         0x20, 0xFB,       // JR NZ,-5
                         0xE1,             // POP HL
                         0xF1,             // POP AF
                         0xFB,             // EI
                         0xED, 0x4D,       // RETI
                     });
        m.z80.int_state = kZ80Iff1 | kZ80Im1;
    }
};

// ---- Step Over ------------------------------------------------------------------

TEST(StepOver, RunsACallToItsReturnThroughTheFrameLoop) {
    Rig rig;
    rig.load(0x8000, {0xCD, 0x00, 0x90, 0x00}); // CALL 9000h; NOP
    rig.load(0x9000, {0x3E, 0x05, 0xC9});       // LD A,05h; RET
    const int32_t before = rig.m.z80.cycles_left;
    const RunOutcome r = debugger_step_over(rig.m, rig.emu.io);
    EXPECT_TRUE(r.reached);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(rig.m.z80.pc, 0x8003);
    EXPECT_EQ(rig.m.z80.sp, 0xF000);
    EXPECT_EQ(z80_hi(rig.m.z80.af), 0x05);
    EXPECT_EQ(before - rig.m.z80.cycles_left, 17 + 7 + 10); // CALL, LD, RET and nothing more
    EXPECT_EQ(r.message, "Step Over: now at 8003");
    EXPECT_FALSE(rig.m.debug.active); // the target is gone: frames run the ordinary loop again
}

TEST(StepOver, RstAndARoutineThatSkipsInlineData) {
    Rig rig;
    rig.load(0x0038, {0x3E, 0x07, 0xC9}); // LD A,07h; RET
    rig.load(0x8000, {0xFF, 0x00});       // RST 38h; NOP
    EXPECT_TRUE(debugger_step_over(rig.m, rig.emu.io).reached);
    EXPECT_EQ(rig.m.z80.pc, 0x8001);
    EXPECT_EQ(z80_hi(rig.m.z80.af), 0x07);

    // The ROM's RST 08h compares a byte placed after the RST and returns past it.
    rig.load(0x0008, {0xE3, 0x23, 0xE3, 0xC9}); // EX (SP),HL; INC HL; EX (SP),HL; RET
    rig.load(0x8001, {0xCF, 0x2C, 0x00});       // RST 08h; DB ','; NOP
    const RunOutcome r = debugger_step_over(rig.m, rig.emu.io);
    EXPECT_TRUE(r.reached);
    EXPECT_EQ(rig.m.z80.pc, 0x8003);
    EXPECT_EQ(rig.m.z80.sp, 0xF000);
}

TEST(StepOver, DjnzRunsItsLoopOut) {
    Rig rig;
    rig.load(0x8000, {0x10, 0xFE, 0x00}); // DJNZ 8000h (itself); NOP
    rig.m.z80.bc = 0x0300;
    const int32_t before = rig.m.z80.cycles_left;
    EXPECT_TRUE(debugger_step_over(rig.m, rig.emu.io).reached);
    EXPECT_EQ(rig.m.z80.pc, 0x8002);
    EXPECT_EQ(rig.m.z80.bc, 0x0000);
    EXPECT_EQ(before - rig.m.z80.cycles_left, 13 + 13 + 8);
}

TEST(StepOver, LdirRunsOnAcrossTheEndOfTheSlice) {
    Rig rig;
    rig.load(0x8000, {0xED, 0xB0, 0x00}); // LDIR; NOP
    for (int i = 0; i < 0x100; ++i) rig.m.state.memory[size_t(0x9000 + i)] = uint8_t(i ^ 0x5A);
    rig.m.z80.hl = 0x9000, rig.m.z80.de = 0xA000, rig.m.z80.bc = 0x0100;
    rig.m.z80.cycles_left = 100; // the slice ends a few bytes in
    debugger_step(rig.m, rig.emu.io);
    ASSERT_EQ(rig.m.z80.pc, 0x8000) << "a plain Step leaves the LDIR unfinished";
    EXPECT_TRUE(debugger_step_over(rig.m, rig.emu.io).reached);
    EXPECT_EQ(rig.m.z80.pc, 0x8002);
    EXPECT_EQ(rig.m.z80.bc, 0x0000);
    EXPECT_EQ(rig.m.state.memory[0xA0FF], 0xFF ^ 0x5A);
}

TEST(StepOver, StopsAtABreakpointOnTheWay) {
    Rig rig;
    rig.load(0x8000, {0xCD, 0x00, 0x90, 0x00});
    rig.load(0x9000, {0x00, 0x00, 0xC9});
    breakpoints_set(rig.m.breakpoints, "9001");
    const RunOutcome r = debugger_step_over(rig.m, rig.emu.io);
    EXPECT_FALSE(r.reached);
    EXPECT_EQ(rig.m.z80.pc, 0x9001);
    EXPECT_EQ(r.message, "Stopped at breakpoint 9001");
    // Anything but a call, an RST, DJNZ or a repeating block is one step.
    rig.load(0x9001, {0xC3, 0x00, 0xA0}); // JP A000h
    EXPECT_TRUE(debugger_step_over(rig.m, rig.emu.io).reached);
    EXPECT_EQ(rig.m.z80.pc, 0xA000);
}

// ---- Step Out ----------------------------------------------------------------------

TEST(StepOut, LeavesOnlyTheCurrentRoutine) {
    Rig rig;
    rig.load(0x8000, {0xCD, 0x00, 0x90, 0x00}); // CALL 9000h
    rig.load(0x9000, {0xCD, 0x00, 0xA0, 0xC9}); // CALL A000h; RET
    rig.load(0xA000, {0xCD, 0x00, 0xB0, 0xC9}); // CALL B000h; RET
    rig.load(0xB000, {0xC0, 0xC9});             // RET NZ (not taken: Z is set); RET
    rig.m.z80.af = kFlagZ;
    debugger_step(rig.m, rig.emu.io);
    debugger_step(rig.m, rig.emu.io);
    ASSERT_EQ(rig.m.z80.pc, 0xA000);
    ASSERT_EQ(rig.m.z80.sp, 0xEFFC);
    // B000's return comes back to this depth; A000's own RET leaves it.
    const RunOutcome r = debugger_step_out(rig.m, rig.emu.io);
    EXPECT_TRUE(r.reached);
    EXPECT_EQ(rig.m.z80.pc, 0x9003);
    EXPECT_EQ(rig.m.z80.sp, 0xEFFE);
    EXPECT_EQ(r.message, "Step Out: now at 9003");
    EXPECT_TRUE(debugger_step_out(rig.m, rig.emu.io).reached);
    EXPECT_EQ(rig.m.z80.pc, 0x8003);
}

TEST(StepOut, AnInterruptReturningMeanwhileDoesNotCount) {
    Rig rig;
    rig.count_interrupts();
    rig.load(0x8000, {0xCD, 0x00, 0x90, 0x00}); // CALL 9000h
    // A loop of about 100,000 T-states: the frame interrupt comes during it.
    rig.load(0x9000, {
                         0x01, 0x00, 0x10, // LD BC,1000h
                         0x0B,             // DEC BC
                         0x78,             // LD A,B
                         0xB1,             // OR C
                         0x20, 0xFB,       // JR NZ,9003h
                         0xC9,             // RET
                     });
    debugger_step(rig.m, rig.emu.io);
    const RunOutcome r = debugger_step_out(rig.m, rig.emu.io);
    EXPECT_TRUE(r.reached);
    EXPECT_EQ(rig.m.z80.pc, 0x8003);
    EXPECT_EQ(rig.m.z80.sp, 0xF000);
    EXPECT_GE(rig.word(0x9100), 1) << "no interrupt came during the routine";
}

// ---- Run to Cursor -------------------------------------------------------------

TEST(RunToCursor, StopsWhereChosen) {
    Rig rig;
    rig.load(0x8000,
             {0x01, 0x00, 0x10, 0x0B, 0x78, 0xB1, 0x20, 0xFB, 0x3E, 0x01}); // the loop above, then LD A,01h
    const RunOutcome r = debugger_run_to(rig.m, rig.emu.io, 0x8008);
    EXPECT_TRUE(r.reached);
    EXPECT_EQ(rig.m.z80.pc, 0x8008);
    EXPECT_EQ(rig.m.z80.bc, 0x0000);
    EXPECT_EQ(r.message, "Run to Cursor: now at 8008");
}

TEST(RunToCursor, GivesUpAfterTenSecondsOfEmulatedTimeAsRunWouldHaveRun) {
    Rig rig;
    rig.count_interrupts();
    rig.load(0x8000, {0x18, 0xFE}); // JR $
    // A twin, run frame by frame as Run runs it.
    auto twin = std::make_unique<Machine>(rig.m);
    MachineIo twinIo;
    const RunOutcome r = debugger_run_to(rig.m, rig.emu.io, 0x1234);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.reached);
    EXPECT_EQ(r.message, "Run to Cursor: 1234 not reached within 10 seconds of emulated time");
    for (int f = 0; f < 500; ++f) {
        machine_run_frame(*twin, twinIo);
        poll_input(*twin, HostKeys{});
    }
    // 500 host frames are 503 video frames of the VZ200 on PAL: 503 interrupts.
    EXPECT_EQ(rig.word(0x9100), 503);
    EXPECT_EQ(rig.m.z80.cycles_left, twin->z80.cycles_left);
    EXPECT_EQ(rig.m.state.scanline, twin->state.scanline);
    EXPECT_EQ(rig.m.state.memory, twin->state.memory);
    EXPECT_EQ(std::memcmp(&rig.m.loop, &twin->loop, sizeof twin->loop), 0);
    EXPECT_EQ(std::memcmp(&rig.m.sound, &twin->sound, sizeof twin->sound), 0);
    EXPECT_EQ(rig.m.frameBuffer, twin->frameBuffer);
}

// ---- watchpoints -----------------------------------------------------------------

Watchpoint watch(const char* text) {
    std::string why;
    const auto w = watch_parse(text, nullptr, &why);
    EXPECT_TRUE(w) << text << ": " << why;
    return w.value_or(Watchpoint{});
}

TEST(Watchpoints, WriteStopsAfterTheInstructionWithItsReport) {
    Rig rig;
    rig.load(0x8000, {
                         0x3E, 0x3F,       // LD A,3Fh
                         0x32, 0x00, 0x70, // 8002 LD (7000h),A
                         0x00,             // 8005 NOP
                         0x18, 0xFE,       // JR $
                     });
    ASSERT_TRUE(watch_add(rig.m.debug, watch("w:7000")));
    ASSERT_EQ(machine_run_frame(rig.m, rig.emu.io), 1);
    EXPECT_EQ(rig.m.z80.pc, 0x8005);
    EXPECT_EQ(rig.m.state.memory[0x7000], 0x3F);
    const DebugStop stop = debug_take_stop(rig.m.debug);
    EXPECT_EQ(stop.reasons, kStopWatchpoint);
    EXPECT_EQ(debugger_stop_text(stop, rig.m.z80.stop_pc), "Watchpoint hit: write 7000 = 3F at 8002");
    EXPECT_EQ(debug_take_stop(rig.m.debug).reasons, 0); // taken once
    EXPECT_EQ(machine_run_frame(rig.m, rig.emu.io), 0); // runs on; nothing writes there again
}

TEST(Watchpoints, ReadsAreDataNotInstructionFetches) {
    Rig rig;
    rig.load(0x8000, {
                         0x00, 0x00,       // NOP; NOP
                         0x3A, 0x00, 0x90, // 8002 LD A,(9000h)
                         0x18, 0xFE,       // 8005 JR $
                     });
    rig.m.state.memory[0x9000] = 0x5A;
    ASSERT_TRUE(watch_add(rig.m.debug, watch("r:8000-8006"))); // the program's own bytes
    EXPECT_EQ(machine_run_frame(rig.m, rig.emu.io), 0);
    rig.m.z80.pc = 0x8000;
    ASSERT_TRUE(watch_add(rig.m.debug, watch("rw:9000")));
    ASSERT_EQ(machine_run_frame(rig.m, rig.emu.io), 1);
    EXPECT_EQ(rig.m.z80.pc, 0x8005);
    EXPECT_EQ(watch_hit_text(debug_take_stop(rig.m.debug).hit), "read 9000 = 5A at 8002");
}

TEST(Watchpoints, AReadOfTheByteAfterTheInstructionIsData) {
    Rig rig;
    rig.load(0x8000, {
                         0x00,             // NOP
                         0x3A, 0x04, 0x80, // 8001 LD A,(8004h)
                         0x18, 0xFE,       // 8004 JR $
                     });
    ASSERT_TRUE(watch_add(rig.m.debug, watch("r:8004")));
    ASSERT_EQ(machine_run_frame(rig.m, rig.emu.io), 1);
    EXPECT_EQ(rig.m.z80.pc, 0x8004);
    EXPECT_EQ(watch_hit_text(debug_take_stop(rig.m.debug).hit), "read 8004 = 18 at 8001");
    // Fetching the JR there afterwards is no read.
    EXPECT_EQ(machine_run_frame(rig.m, rig.emu.io), 0);
}

TEST(Watchpoints, StepAndASingleStepOverReportTheirHits) {
    Rig rig;
    rig.load(0x8000, {
                         0x32, 0x00, 0x90, // LD (9000h),A
                         0x32, 0x00, 0x90, // 8003 LD (9000h),A
                         0x00,             // 8006 NOP
                     });
    ASSERT_TRUE(watch_add(rig.m.debug, watch("w:9000")));
    EXPECT_TRUE(debugger_step(rig.m, rig.emu.io));
    EXPECT_EQ(debugger_stop_text(debug_take_stop(rig.m.debug), rig.m.z80.stop_pc),
              "Watchpoint hit: write 9000 = 00 at 8000");
    const RunOutcome over = debugger_step_over(rig.m, rig.emu.io);
    EXPECT_EQ(over.message, "Watchpoint hit: write 9000 = 00 at 8003");
    EXPECT_EQ(rig.m.z80.pc, 0x8006);
    EXPECT_FALSE(debugger_step(rig.m, rig.emu.io)); // the NOP writes nothing
    EXPECT_EQ(debug_take_stop(rig.m.debug).reasons, 0);
}

TEST(RunToCursor, AfterAStopOnTheSlicesLastInstructionRunsAndSaysWhereItIs) {
    Rig rig;
    rig.load(0x8000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0xFE}); // NOPs; 8005 JR $
    rig.m.z80.cycles_left = 6;
    breakpoints_set(rig.m.breakpoints, "8002");
    ASSERT_EQ(machine_run_frame(rig.m, rig.emu.io), 1); // the second NOP spends the slice
    EXPECT_EQ(debugger_stop_text(debug_take_stop(rig.m.debug), rig.m.z80.stop_pc), "Stopped at breakpoint 8002");
    const RunOutcome r = debugger_run_to(rig.m, rig.emu.io, 0x8004);
    EXPECT_EQ(r.message, "Run to Cursor: now at 8004");
    EXPECT_EQ(rig.m.z80.pc, 0x8004);
}

TEST(SetPc, AHaltedProcessorLeavesItsHalt) {
    for (const bool fromTheBox : {true, false}) {
        Rig rig;
        rig.count_interrupts();
        rig.load(0x8000, {0x76}); // HALT
        rig.load(0x9000, {0x18, 0xFE}); // JR $
        rig.m.z80.int_state |= kZ80Halted; // as after the HALT at 8000, PC on it
        if (fromTheBox)
            ASSERT_TRUE(debugger_set_register(rig.m, "PC", "9000"));
        else
            debugger_set_pc(rig.m, 0x9000);
        EXPECT_FALSE(rig.m.z80.int_state & kZ80Halted);
        const uint16_t sp = rig.m.z80.sp;
        // The next interrupt returns to the new PC, not one byte past it.
        for (int frame = 0; frame < 2; ++frame) ASSERT_EQ(machine_run_frame(rig.m, rig.emu.io), 0);
        for (int guard = 0; rig.m.z80.pc < 0x8000 && guard < 20000; ++guard) machine_step(rig.m, rig.emu.io);
        EXPECT_EQ(rig.m.z80.pc, 0x9000);
        EXPECT_EQ(rig.m.z80.sp, sp);
        EXPECT_GE(rig.word(0x9100), 2);
    }
}

TEST(Watchpoints, ARangeStopsOnlyInside) {
    Rig rig;
    rig.load(0x8000, {
                         0x32, 0xFF, 0x8F, // LD (8FFFh),A
                         0x32, 0x00, 0x91, // LD (9100h),A
                         0x21, 0xFF, 0x90, // LD HL,90FFh
                         0x36, 0x77,       // 8009 LD (HL),77h
                         0x18, 0xFE,       // 800B JR $
                     });
    ASSERT_TRUE(watch_add(rig.m.debug, watch("w:9000-90FF")));
    ASSERT_EQ(machine_run_frame(rig.m, rig.emu.io), 1);
    EXPECT_EQ(rig.m.z80.pc, 0x800B);
    EXPECT_EQ(watch_hit_text(debug_take_stop(rig.m.debug).hit), "write 90FF = 77 at 8009");

    // Switched off it stops nothing; removed, frames run the ordinary loop.
    rig.m.z80.pc = 0x8000;
    watch_enable(rig.m.debug, 0, false);
    EXPECT_FALSE(rig.m.debug.active);
    EXPECT_EQ(machine_run_frame(rig.m, rig.emu.io), 0);
    watch_enable(rig.m.debug, 0, true);
    watch_remove(rig.m.debug, 0);
    EXPECT_EQ(rig.m.debug.watchCount, 0);
    EXPECT_FALSE(rig.m.debug.active);
}

TEST(Watchpoints, PortsAndABreakpointInTheSameStop) {
    Rig rig;
    rig.m.settings.joystickEnabled = 0;
    rig.load(0x8000, {
                         0x3E, 0x3F, // LD A,3Fh
                         0xD3, 0x20, // 8002 OUT (20h),A
                         0xDB, 0x21, // 8004 IN A,(21h)
                         0x18, 0xFE, // 8006 JR $
                     });
    ASSERT_TRUE(watch_add(rig.m.debug, watch("pw:20")));
    ASSERT_TRUE(watch_add(rig.m.debug, watch("PR:21-2F")));
    breakpoints_set(rig.m.breakpoints, "8004");
    ASSERT_EQ(machine_run_frame(rig.m, rig.emu.io), 1);
    EXPECT_EQ(debugger_stop_text(debug_take_stop(rig.m.debug), rig.m.z80.stop_pc),
              "Stopped at breakpoint 8004\nWatchpoint hit: port write 20 = 3F at 8002");
    ASSERT_EQ(machine_run_frame(rig.m, rig.emu.io), 1);
    EXPECT_EQ(rig.m.z80.pc, 0x8006);
    EXPECT_EQ(watch_hit_text(debug_take_stop(rig.m.debug).hit), "port read 21 = FF at 8004");
}

TEST(Watchpoints, TextInAndOut) {
    const Watchpoint w = watch("w:7000-77ff");
    EXPECT_EQ(w.from, 0x7000);
    EXPECT_EQ(w.to, 0x77FF);
    EXPECT_EQ(w.access, kWatchWrite);
    EXPECT_EQ(watch_text(w), "w:7000-77FF");
    EXPECT_EQ(watch_text(watch("prw:20")), "prw:20");
    EXPECT_EQ(watch("prw:20").access, kWatchPort | kWatchRead | kWatchWrite);
    EXPECT_EQ(watch_text(watch("r:38")), "r:0038");

    std::string why;
    for (const char* bad : {"7000", "x:7000", "p:20", "w:", "w:7800-7000", "pr:100", "w:zz", "rw:7000-"}) {
        why.clear();
        EXPECT_FALSE(watch_parse(bad, nullptr, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
    DebugState d;
    for (int i = 0; i < kWatchpointLimit; ++i) ASSERT_TRUE(watch_add(d, w));
    EXPECT_FALSE(watch_add(d, w));
}

} // namespace
