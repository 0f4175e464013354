#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "input/keyboard.h"
#include "machine/breakpoints.h"
#include "machine/bus.h"
#include "machine/frame.h"
#include "machine/machine.h"
#include "machine/machine_io.h"
#include "machine/watchpoints.h"

namespace {

struct Config {
    int32_t model, tv;
};
constexpr Config kConfigs[] = {
    {kModelVZ200, kTvPal}, {kModelVZ300, kTvPal}, {kModelVZ200, kTvNtsc}, {kModelVZ300, kTvNtsc}};

std::unique_ptr<Machine> make_machine(Config c = kConfigs[0]) {
    auto m = std::make_unique<Machine>();
    m->settings.romFile[0] = 0;
    m->settings.model = c.model;
    m->settings.tvStandard = c.tv;
    machine_reset(*m);
    return m;
}

// Code goes straight into memory (ROM area included) and runs from `at`.
void load(Machine& m, uint16_t at, std::initializer_list<uint8_t> code) {
    for (uint8_t b : code) m.state.memory[at++] = b;
}

uint16_t stacked_word(const Machine& m) {
    return uint16_t(m.state.memory[m.z80.sp] | m.state.memory[uint16_t(m.z80.sp + 1)] << 8);
}

constexpr uint16_t kCounter = 0x9000;

// Mode-1 handler that counts frame interrupts at kCounter (HL points there).
// Like the BASIC ROM's it idles past the end of the field sync (26,600
// T-states against at most 12,768), so it runs once a video frame:
//   PUSH AF; PUSH BC; INC (HL); LD BC,0400h
//   idle: DEC BC; LD A,B; OR C; JR NZ,idle; POP BC; POP AF; EI; RET
void load_counting_handler(Machine& m) {
    load(m, 0x0038, {0xF5, 0xC5, 0x34, 0x01, 0x00, 0x04, 0x0B, 0x78, 0xB1, 0x20, 0xFB, 0xC1, 0xF1, 0xFB, 0xC9});
}

// IM 1; LD HL,kCounter; EI; JR $  (the JR sits at 0x8006)
void load_interrupt_loop(Machine& m) {
    load(m, 0x8000, {0xED, 0x56, 0x21, 0x00, 0x90, 0xFB, 0x18, 0xFE});
    load_counting_handler(m);
    m.z80.pc = 0x8000;
}

// DI; JR $
void load_idle_loop(Machine& m) {
    load(m, 0x8000, {0xF3, 0x18, 0xFE});
    m.z80.pc = 0x8000;
}

TEST(LoopLines, ALineIsCompletedOnlyOnceMoreThan228CyclesAreBanked) {
    auto m = make_machine();
    MachineIo io;
    m->z80.pc = 0x8000; // RAM is zero: NOPs of 4 cycles
    for (int i = 0; i < 57; ++i) machine_step(*m, io);
    EXPECT_EQ(m->loop.lineAccumulator, 228);
    EXPECT_EQ(m->state.scanline, 0);
    machine_step(*m, io);
    EXPECT_EQ(m->state.scanline, 1);
    EXPECT_EQ(m->loop.lineAccumulator, 4);
    for (int i = 0; i < 56; ++i) machine_step(*m, io);
    EXPECT_EQ(m->state.scanline, 1);
    machine_step(*m, io);
    EXPECT_EQ(m->state.scanline, 2);
}

TEST(LoopLines, FrameStartDriftsByTheDifferenceOfTheTwoClocks) {
    for (const Config& c : kConfigs) {
        auto m = make_machine(c);
        MachineIo io;
        load_idle_loop(*m);
        const int32_t lines = m->state.timing.linesPerFrame;
        // PAL VZ200: 71589 - 312 x 228 = 453 cycles, about two lines a frame.
        const double drift = double(m->z80.cycle_period % (lines * kCyclesPerLine)) / kCyclesPerLine;
        SCOPED_TRACE(testing::Message() << "model " << c.model << " tv " << c.tv << " drift " << drift);
        int32_t total = 0;
        int32_t previous = m->state.scanline;
        for (int frame = 0; frame < 50; ++frame) {
            ASSERT_EQ(machine_run_frame(*m, io), 0);
            const int32_t advance = (m->state.scanline - previous + lines) % lines;
            EXPECT_NEAR(advance, drift, 1.05) << "frame " << frame;
            total += advance;
            previous = m->state.scanline;
        }
        EXPECT_NEAR(total, 50 * drift, 1.0);
    }
}

TEST(LoopInterrupt, TakenWhenTheFieldSyncFallsAndSeenByA0038Breakpoint) {
    for (const Config& c : kConfigs) {
        auto m = make_machine(c);
        MachineIo io;
        SCOPED_TRACE(testing::Message() << "model " << c.model << " tv " << c.tv);
        load_interrupt_loop(*m);
        breakpoints_set(m->breakpoints, "0038");
        ASSERT_EQ(machine_run_frame(*m, io), 1);
        EXPECT_EQ(m->z80.stop_pc, 0x0038);
        EXPECT_EQ(m->z80.pc, 0x0038);
        EXPECT_EQ(m->state.scanline, m->state.timing.pictureEndLine + 1);
        EXPECT_EQ(bus_read(*m, 0x68FF) & 0x80, 0);
        EXPECT_EQ(stacked_word(*m), 0x8006);
        EXPECT_EQ(m->state.memory[kCounter], 0); // the handler has not run yet
    }
}

TEST(LoopInterrupt, OnePerVideoFrameSoNtscGetsMoreThanOnePerHostFrame) {
    // Interrupts where the field sync falls, pictureEndLine + 1 + k x
    // linesPerFrame, within the 3139 (VZ200) or 3111 (VZ300) lines of ten host
    // frames: the VZ200 on NTSC takes its twelfth at line 3136.
    const int expected[] = {10, 10, 12, 11};
    for (size_t i = 0; i < std::size(kConfigs); ++i) {
        auto m = make_machine(kConfigs[i]);
        MachineIo io;
        load_interrupt_loop(*m);
        for (int frame = 0; frame < 10; ++frame) ASSERT_EQ(machine_run_frame(*m, io), 0);
        EXPECT_EQ(m->state.memory[kCounter], expected[i]) << "model " << kConfigs[i].model << " tv " << kConfigs[i].tv;
    }
}

// The field sync holds /INT low all through, so a short handler that ends
// with EI; RETI runs again as soon as it returns, until the sync ends: the
// program it interrupted never runs, and never sees the sync bit low. Each
// pass takes the acceptance's 13 T-states, and the next one waits for the
// instruction after EI, or every pass would leave a return address behind.
TEST(LoopInterrupt, AShortHandlerRunsAgainUntilTheFieldSyncEnds) {
    for (const Config& c : kConfigs) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " tv " << c.tv);
        auto m = make_machine(c);
        MachineIo io;
        // IM 1; LD DE,0; LD BC,0; EI
        // poll: LD A,(6800h); RLA; JR C,poll; INC BC; JR poll
        load(*m, 0x8000, {0xED, 0x56, 0x11, 0x00, 0x00, 0x01, 0x00, 0x00, 0xFB, 0x3A, 0x00, 0x68, 0x17, 0x38,
                          0xFA, 0x03, 0x18, 0xF7});
        load(*m, 0x0038, {0x13, 0xFB, 0xED, 0x4D}); // INC DE; EI; RETI: 24 T-states
        m->z80.pc = 0x8000;
        const uint16_t sp = m->z80.sp;
        ASSERT_EQ(machine_run_frame(*m, io), 0); // one whole field sync, from scanline 0
        const VideoTiming& t = m->state.timing;
        const double passes = (t.linesPerFrame - t.pictureEndLine - 1) * kCyclesPerLine / (24.0 + 13.0);
        EXPECT_NEAR(m->z80.de, passes, 1.5);
        EXPECT_EQ(m->z80.bc, 0);
        EXPECT_EQ(m->z80.sp, sp);
    }
}

// A counted loop with the frame interrupt on and a handler that, like the
// BASIC ROM's, outlasts the field sync: one interrupt a video frame, and the
// loop gets the frame less the handler and the 13 T-states of acceptance.
TEST(LoopInterrupt, ACountedLoopGetsTheFrameLessTheHandlerAndTheAcceptance) {
    auto m = make_machine(); // VZ200, PAL: a video frame is 312 lines of 228 T-states
    MachineIo io;
    load(*m, 0x0038,
         {0xF5, 0xC5,                   // PUSH AF, PUSH BC                    11 + 11
          0xED, 0x53, 0x00, 0x90,       // LD (9000h),DE: the count so far     20
          0x3A, 0x02, 0x90, 0x3C,       // LD A,(9002h), INC A                 13 + 4
          0x32, 0x02, 0x90,             // LD (9002h),A: interrupts taken      13
          0x01, 0x00, 0x04,             // LD BC,0400h                         10
          0x0B, 0x78, 0xB1, 0x20, 0xFB, // DEC BC, LD A,B, OR C, JR NZ        1024 x 26 - 5
          0xC1, 0xF1, 0xFB, 0xC9});     // POP BC, POP AF, EI, RET            10 + 10 + 4 + 10
    // LD SP,C000h; IM 1; LD DE,0; EI
    // loop: INC DE; EX (SP),HL; EX (SP),HL; JP loop     6 + 19 + 19 + 10
    load(*m, 0x8000, {0x31, 0x00, 0xC0, 0xED, 0x56, 0x11, 0x00, 0x00, 0xFB, 0x13, 0xE3, 0xE3, 0xC3, 0x09, 0x80});
    m->z80.pc = 0x8000;
    constexpr int kFrame = 312 * 228, kHandler = 26735, kAcceptance = 13, kLoop = 54;

    // The count at two interrupts n video frames apart, read between host frames.
    int first = -1, firstCount = 0, last = -1, lastCount = 0;
    for (int host = 0; host < 45; ++host) {
        machine_run_frame(*m, io);
        const int taken = m->state.memory[0x9002];
        if (taken >= 2 && first < 0) first = taken, firstCount = memory_word(*m, 0x9000);
        if (taken >= 2) last = taken, lastCount = memory_word(*m, 0x9000);
    }
    const int frames = last - first;
    ASSERT_GE(frames, 40);
    const double expected = double(frames) * (kFrame - kHandler - kAcceptance) / kLoop;
    EXPECT_NEAR(uint16_t(lastCount - firstCount), expected, 1.5) << frames << " frames";
}

TEST(LoopInterrupt, ARequestWhileDisabledIsLostNotHeld) {
    auto m = make_machine();
    MachineIo io;
    // DI; IM 1; LD HL,kCounter; wait: LD A,(9100h); OR A; JR Z,wait; EI; JR $
    load(*m, 0x8000, {0xF3, 0xED, 0x56, 0x21, 0x00, 0x90, 0x3A, 0x00, 0x91, 0xB7, 0x28, 0xFA, 0xFB, 0x18, 0xFE});
    load_counting_handler(*m);
    m->z80.pc = 0x8000;
    ASSERT_EQ(machine_run_frame(*m, io), 0); // passes the field sync with interrupts off
    EXPECT_EQ(m->state.memory[kCounter], 0);
    m->state.memory[0x9100] = 1;
    while (m->z80.pc != 0x800D) machine_step(*m, io);
    machine_step(*m, io);
    EXPECT_EQ(m->z80.pc, 0x800D);
    // The field sync is over; the next comes at line 256 of the next video frame.
    ASSERT_EQ(machine_run_frame(*m, io), 0);
    EXPECT_EQ(m->state.memory[kCounter], 1);
}

TEST(LoopHalt, WithInterruptsDisabledTheFrameEndsAndTheClocksRunOn) {
    auto m = make_machine();
    MachineIo io;
    load(*m, 0x8000, {0xF3, 0x76}); // DI; HALT
    m->z80.pc = 0x8000;
    const uint32_t samples0 = m->sound.streams[0].writeIndex;
    ASSERT_EQ(machine_run_frame(*m, io), 0);
    EXPECT_EQ(m->z80.pc, 0x8001);
    EXPECT_EQ(m->state.scanline, 1); // 71589 cycles: 313 lines done
    const uint32_t samples1 = m->sound.streams[0].writeIndex;
    EXPECT_EQ(samples1 - samples0, 883u);
    ASSERT_EQ(machine_run_frame(*m, io), 0);
    EXPECT_EQ(m->z80.pc, 0x8001);
    EXPECT_EQ(m->state.scanline, 3); // 143178 cycles: 627 lines done
    EXPECT_EQ(m->sound.streams[0].writeIndex - samples1, 884u);
}

TEST(LoopHalt, AHaltCarriedIntoTheNextFrameStillWaitsForTheInterrupt) {
    auto m = make_machine();
    MachineIo io;
    // IM 1; LD HL,kCounter; EI; wait: LD A,(HL); OR A; JR Z,wait
    // sync: LD A,(68FFh); RLA; JR NC,sync; EI; HALT; JR $
    // with INC (HL); RET at 0038h: interrupts stay off until the EI.
    load(*m, 0x8000, {0xED, 0x56, 0x21, 0x00, 0x90, 0xFB, 0x7E, 0xB7, 0x28, 0xFC, 0x3A, 0xFF, 0x68, 0x17, 0x30, 0xFA,
                      0xFB, 0x76, 0x18, 0xFE});
    load(*m, 0x0038, {0x34, 0xC9});
    m->z80.pc = 0x8000;
    // The HALT comes when the first field sync ends, 453 T-states before the
    // slice does: the rest of the slice holds no other interrupt.
    ASSERT_EQ(machine_run_frame(*m, io), 0);
    EXPECT_EQ(m->state.memory[kCounter], 1);
    EXPECT_EQ(m->z80.pc, 0x8011);
    EXPECT_TRUE(m->z80.int_state & kZ80Halted);
    ASSERT_EQ(machine_run_frame(*m, io), 0);
    EXPECT_EQ(m->state.memory[kCounter], 2);
    // The interrupt woke it within the frame: the handler has returned past the HALT.
    EXPECT_EQ(m->z80.pc, 0x8012);
    EXPECT_FALSE(m->z80.int_state & kZ80Halted);
}

// A program that waits for each frame interrupt with HALT, returns from it
// with interrupts off, then counts polls of the field sync bit (bit 7 of
// 6800h) until it rises, and stores the counts as words from 9000h on: the
// count tells where in the video frame the processor woke.
//   IM 1; LD HL,9000h
//   8005 EI; HALT; LD DE,0
//   800A wait: INC DE; LD A,(6800h); RLA; JR NC,wait
//   8011 LD (HL),E; INC HL; LD (HL),D; INC HL; JR 8005h
std::vector<uint16_t> wake_counts(Machine& m, MachineIo& io, int frames) {
    load(m, 0x8000, {0xED, 0x56, 0x21, 0x00, 0x90, 0xFB, 0x76, 0x11, 0x00, 0x00, 0x13, 0x3A, 0x00,
                     0x68, 0x17, 0x30, 0xF9, 0x73, 0x23, 0x72, 0x23, 0x18, 0xEE});
    load(m, 0x0038, {0xC9}); // RET
    m.z80.pc = 0x8000;
    for (int frame = 0; frame < frames; ++frame) {
        while (machine_run_frame(m, io) != 0) {}
    }
    std::vector<uint16_t> counts;
    for (int i = 0; i < frames - 10; ++i) counts.push_back(memory_word(m, uint16_t(0x9000 + 2 * i)));
    return counts;
}

// The interrupt is the field sync itself: the CPU wakes where the bit falls,
// at the same point of every video frame.
TEST(LoopHalt, AHaltedCpuWakesWhenTheFieldSyncFalls) {
    for (const Config c : kConfigs) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " tv " << c.tv);
        std::vector<uint16_t> counts[3];
        for (int how = 0; how < 3; ++how) {
            auto m = make_machine(c);
            MachineIo io;
            // The plain loop, a loop that checks every instruction for a
            // breakpoint, and the debugger's watched loop.
            if (how == 1) breakpoints_set(m->breakpoints, "0000");
            if (how == 2) watch_add(m->debug, Watchpoint{0xA000, 0xA000, kWatchWrite, true});
            counts[how] = wake_counts(*m, io, 110);
            ASSERT_EQ(counts[how].size(), 100u);
            // From the fall to the end of the video frame, less the acceptance
            // and the RET, at 35 T-states a poll: 364 polls on the PAL VZ200
            // (the bit is seen to rise up to two polls late, when the
            // instruction that completes the line has ended).
            const VideoTiming& t = m->state.timing;
            const double polls = ((t.linesPerFrame - t.pictureEndLine - 1) * kCyclesPerLine - 33) / 35.0;
            EXPECT_GE(counts[how][0], polls - 0.5);
            EXPECT_LE(counts[how][0], polls + 2.5);
            EXPECT_EQ(std::count(counts[how].begin(), counts[how].end(), counts[how][0]), 100) << "loop " << how;
        }
        EXPECT_EQ(counts[1], counts[0]);
        EXPECT_EQ(counts[2], counts[0]);
    }
}

// The reference for a frame: one instruction at a time, the loop hook after
// each and every completed line painted before the next instruction.
void step_frame(Machine& m, MachineIo& io) {
    for (int guard = 0; guard < 200000; ++guard) {
        const int32_t before = m.z80.cycles_left;
        machine_step(m, io);
        if (m.z80.cycles_left > before) return; // the slice was refilled: the frame is over
    }
    FAIL() << "the frame did not end";
}

testing::AssertionResult same_machine(const Machine& want, const Machine& got) {
    std::string differ;
    auto check = [&differ](const char* name, bool same) {
        if (!same) differ += std::string(" ") + name;
    };
    check("picture", want.frameBuffer == got.frameBuffer);
    check("memory", want.state.memory == got.state.memory);
    check("extended video RAM", want.state.extVideoRam == got.state.extVideoRam);
    check("speaker samples", want.sound.streams[0].ring == got.sound.streams[0].ring &&
                                 want.sound.streams[0].writeIndex == got.sound.streams[0].writeIndex);
    check("line clock", want.state.scanline == got.state.scanline &&
                            want.loop.lineAccumulator == got.loop.lineAccumulator &&
                            want.loop.lastCycleCount == got.loop.lastCycleCount);
    check("sample clock", want.loop.sampleAccumulator == got.loop.sampleAccumulator);
    check("latch", want.state.latch == got.state.latch && want.state.borderLatch == got.state.borderLatch &&
                       want.state.extGfxMode == got.state.extGfxMode);
    check("registers", want.z80.pc == got.z80.pc && want.z80.sp == got.z80.sp && want.z80.af == got.z80.af &&
                           want.z80.hl == got.z80.hl && want.z80.cycles_left == got.z80.cycles_left &&
                           want.z80.int_state == got.z80.int_state);
    if (differ.empty()) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "differs in:" << differ;
}

// A frame step calls the loop hook only at line and sample boundaries and
// paints lines in batches; what it produces must be what instruction-by-
// instruction stepping produces, frame after frame.
TEST(LoopBatching, FramesMatchStepping) {
    // The built-in program: keyboard scans, the field sync bit, no interrupts.
    // Then a program that changes what the picture shows all the time: video
    // memory, the latch's mode, colour set and speaker bits, the extended mode
    // register, and frame interrupts that push into video memory, with the
    // video chip's dashes on:
    //   IM 1; LD SP,7800h; LD HL,7000h
    //   loop: EI; INC (HL); INC HL; LD A,H; AND 07h; OR 70h; LD H,A
    //         LD A,L; LD (6800h),A; OUT (20h),A; JR loop
    // with RET at 0038h.
    for (bool busy : {false, true}) {
        SCOPED_TRACE(busy ? "video and latch program" : "built-in program");
        auto batched = make_machine();
        if (busy) {
            load(*batched, 0x8000, {0xED, 0x56, 0x31, 0x00, 0x78, 0x21, 0x00, 0x70, 0xFB, 0x34, 0x23, 0x7C, 0xE6,
                                    0x07, 0xF6, 0x70, 0x67, 0x7D, 0x32, 0x00, 0x68, 0xD3, 0x20, 0x18, 0xEF});
            load(*batched, 0x0038, {0xC9});
            batched->z80.pc = 0x8000;
            batched->settings.effects6847 = 1;
        }
        auto stepped = std::make_unique<Machine>(*batched);
        MachineIo io1, io2;
        for (int frame = 0; frame < 4; ++frame) {
            ASSERT_EQ(machine_run_frame(*batched, io1), 0);
            step_frame(*stepped, io2);
            ASSERT_TRUE(same_machine(*stepped, *batched)) << "frame " << frame;
        }
    }
}

TEST(LoopSound, OneSamplePerCyclesPerSample) {
    struct Case {
        int32_t model;
        int32_t cyclesPerSample;
        uint32_t perFrameLow, fiveFrames;
    };
    for (const Case& c : {Case{kModelVZ200, 81, 883, 4419}, Case{kModelVZ300, 80, 886, 4433}}) {
        auto m = make_machine({c.model, kTvPal});
        MachineIo io;
        SCOPED_TRACE(c.model);
        EXPECT_EQ(m->loop.cyclesPerSample, c.cyclesPerSample);
        // LD A,20h; LD (6800h),A; JR $ : the speaker goes to -32768 before the first sample.
        load(*m, 0x8000, {0x3E, 0x20, 0x32, 0x00, 0x68, 0x18, 0xFE});
        m->z80.pc = 0x8000;
        const SoundStream& s = m->sound.streams[0];
        uint32_t total = 0;
        for (int frame = 0; frame < 5; ++frame) {
            const uint32_t before = s.writeIndex;
            ASSERT_EQ(machine_run_frame(*m, io), 0);
            const uint32_t pushed = (s.writeIndex - before) & (kSoundRingSize - 1);
            EXPECT_TRUE(pushed == c.perFrameLow || pushed == c.perFrameLow + 1) << pushed;
            total += pushed;
        }
        EXPECT_EQ(total, c.fiveFrames);
        EXPECT_TRUE(std::all_of(s.ring.begin(), s.ring.begin() + 4096, [](int16_t v) { return v == -32768; }));
    }
}

TEST(LoopSound, ResetAfterAModelChangeKeepsAbout882SamplesAFrame) {
    struct Case {
        int32_t from, to, cyclesPerSample;
        uint32_t perFrameLow;
        int32_t linesLow; // whole lines in one host frame of the new model
    };
    for (const Case& c : {Case{kModelVZ200, kModelVZ300, 80, 886, 311}, Case{kModelVZ300, kModelVZ200, 81, 883, 313}}) {
        SCOPED_TRACE(testing::Message() << "model " << c.from << " to " << c.to);
        auto m = make_machine({c.from, kTvPal});
        MachineIo io;
        m->settings.model = c.to;
        machine_reset(*m);
        EXPECT_EQ(m->loop.cyclesPerSample, c.cyclesPerSample);
        load_idle_loop(*m);
        const SoundStream& s = m->sound.streams[0];
        for (int frame = 0; frame < 3; ++frame) {
            const uint32_t before = s.writeIndex;
            ASSERT_EQ(machine_run_frame(*m, io), 0);
            const uint32_t pushed = (s.writeIndex - before) & (kSoundRingSize - 1);
            EXPECT_TRUE(pushed == c.perFrameLow || pushed == c.perFrameLow + 1) << "frame " << frame << ": " << pushed;
            if (frame == 0) {
                // The idle loop's last instruction may overshoot the frame into one more line.
                const int32_t lines = m->state.timing.linesPerFrame;
                EXPECT_TRUE(m->state.scanline == c.linesLow % lines || m->state.scanline == (c.linesLow + 1) % lines)
                    << m->state.scanline;
            }
        }
    }
}

TEST(LoopKeyboard, RowsLandOnlyWhenTheFirstActiveLineCompletes) {
    for (const Config& c : {kConfigs[0], kConfigs[3]}) {
        auto m = make_machine(c);
        MachineIo io;
        SCOPED_TRACE(testing::Message() << "model " << c.model << " tv " << c.tv);
        load_idle_loop(*m);
        const int32_t firstActive = first_active_line(m->state.timing);
        const int32_t interrupt = m->state.timing.interruptLine;
        HostKeys a, b, ctrl, none;
        a.set(kKeyA);
        b.set(kKeyB);
        ctrl.set(kKeyLeftControl);
        // Polls between the interrupt line and the first active line must wait for it.
        struct Poll {
            int32_t line;
            const HostKeys* keys;
        };
        const Poll polls[] = {{10, &a},          {200, &b},
                              {interrupt, &ctrl}, {0, &none}, // a press lasts two polls
                              {firstActive, &none}, // lands: none
                              {firstActive + 5, &ctrl}, {interrupt + 2, &a},
                              {firstActive - 1, &b}}; // lands: B
        size_t next = 0;
        std::vector<std::array<uint8_t, 8>> landed;
        for (int i = 0; i < 40000 && landed.size() < 3; ++i) {
            const auto rowsBefore = m->state.keyboardRows;
            const int32_t lineBefore = m->state.scanline;
            if (next < std::size(polls) && lineBefore == polls[next].line) poll_input(*m, *polls[next++].keys);
            machine_step(*m, io);
            const bool crossed = lineBefore <= firstActive && m->state.scanline > firstActive;
            if (crossed) {
                ASSERT_EQ(m->state.keyboardRows, m->input.pendingRows) << "line " << m->state.scanline;
                landed.push_back(m->state.keyboardRows);
            } else {
                ASSERT_EQ(m->state.keyboardRows, rowsBefore) << "changed at line " << m->state.scanline;
            }
        }
        ASSERT_EQ(landed.size(), 3u);
        const std::array<uint8_t, 8> noKey{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        auto withKey = [&](int row, uint8_t value) {
            auto rows = noKey;
            rows[size_t(row)] = value;
            return rows;
        };
        EXPECT_EQ(landed[0], withKey(1, 0xEF)); // A
        EXPECT_EQ(landed[1], noKey);
        EXPECT_EQ(landed[2], withKey(2, 0xFE)); // B
    }
}

TEST(LoopKeyboard, AHeldKeyIsReadThroughTheBusAfterTheNextFrame) {
    auto m = make_machine();
    MachineIo io;
    load_idle_loop(*m);
    HostKeys a;
    a.set(kKeyA);
    poll_input(*m, a);
    EXPECT_EQ(bus_read(*m, 0x68FD), 0xFF);
    ASSERT_EQ(machine_run_frame(*m, io), 0);
    EXPECT_EQ(bus_read(*m, 0x68FD), 0xEF);
    EXPECT_EQ(bus_read(*m, 0x68FE), 0xFF);
}

// Runs frames, resuming after every stop, and returns the addresses it stopped at.
std::set<uint16_t> run_collecting_stops(Machine& m, MachineIo& io, int frames) {
    std::set<uint16_t> stops;
    for (int frame = 0; frame < frames; ++frame) {
        int guard = 0;
        while (machine_run_frame(m, io) == 1 && ++guard < 100000) {
            EXPECT_EQ(m.z80.pc, m.z80.stop_pc);
            stops.insert(m.z80.stop_pc);
        }
    }
    return stops;
}

TEST(BreakpointRun, StopsAtEachAddressInTheTextAndResumesTheSameFrame) {
    auto m = make_machine();
    MachineIo io;
    // IM 1; EI; LD HL,kCounter; loop: JP 1234h   at 1234h: NOP; JP loop
    load(*m, 0x8000, {0xED, 0x56, 0xFB, 0x21, 0x00, 0x90, 0xC3, 0x34, 0x12});
    load(*m, 0x1234, {0x00, 0xC3, 0x06, 0x80});
    load_counting_handler(*m);
    m->z80.pc = 0x8000;
    auto reference = std::make_unique<Machine>(*m);

    breakpoints_set(m->breakpoints, "0038 1234");
    ASSERT_EQ(machine_run_frame(*m, io), 1);
    EXPECT_EQ(m->z80.stop_pc, 0x1234);
    EXPECT_EQ(m->z80.pc, 0x1234); // the instruction there has not run yet
    const int32_t left = m->z80.cycles_left;
    EXPECT_GT(left, 0);
    ASSERT_EQ(machine_run_frame(*m, io), 1);
    EXPECT_EQ(m->z80.stop_pc, 0x1234);
    EXPECT_EQ(left - m->z80.cycles_left, 24); // NOP, JP, JP: not a new frame

    EXPECT_EQ(run_collecting_stops(*m, io, 3), (std::set<uint16_t>{0x0038, 0x1234}));
    EXPECT_EQ(m->state.memory[kCounter], 3);

    // Stopping and resuming changes nothing in what the frames do.
    MachineIo referenceIo;
    for (int frame = 0; frame < 3; ++frame) ASSERT_EQ(machine_run_frame(*reference, referenceIo), 0);
    EXPECT_EQ(m->state.scanline, reference->state.scanline);
    EXPECT_EQ(m->z80.cycles_left, reference->z80.cycles_left);
    EXPECT_EQ(m->z80.pc, reference->z80.pc);
    EXPECT_EQ(m->z80.sp, reference->z80.sp);
    EXPECT_EQ(m->state.memory[kCounter], reference->state.memory[kCounter]);
}

TEST(BreakpointRun, OneOnTheFirstInstructionStopsBeforeIt) {
    auto m = make_machine();
    MachineIo io;
    load_idle_loop(*m);
    breakpoints_set(m->breakpoints, "8000");
    const int32_t left = m->z80.cycles_left;
    ASSERT_EQ(machine_run_frame(*m, io), 1);
    EXPECT_EQ(m->z80.stop_pc, 0x8000);
    EXPECT_EQ(m->z80.pc, 0x8000);
    EXPECT_EQ(m->z80.cycles_left, left);
    EXPECT_EQ(m->debug.stop.reasons, kStopBreakpoint);
    // Resuming there runs the instruction; the loop never comes back to it.
    EXPECT_EQ(machine_run_frame(*m, io), 0);
    EXPECT_EQ(m->z80.pc, 0x8001);
}

TEST(BreakpointRun, OneOnAHaltStopsOnceForEachArrivalAndTheFramesGoOn) {
    auto m = make_machine();
    MachineIo io;
    // IM 1; LD HL,kCounter; EI; 8006 HALT; JR 8006h
    load(*m, 0x8000, {0xED, 0x56, 0x21, 0x00, 0x90, 0xFB, 0x76, 0x18, 0xFD});
    load_counting_handler(*m);
    m->z80.pc = 0x8000;
    breakpoints_set(m->breakpoints, "8006");
    int stops = 0;
    for (int frame = 0; frame < 10; ++frame) {
        for (int guard = 0; machine_run_frame(*m, io) != 0; ++guard) {
            ASSERT_LT(guard, 5) << "Run does not get past the HALT";
            EXPECT_EQ(m->z80.stop_pc, 0x8006);
            ++stops;
        }
    }
    EXPECT_GE(m->state.memory[kCounter], 9);
    // The first arrival, then one after each handler has returned.
    const bool inHandler = m->z80.pc < 0x8000;
    EXPECT_EQ(stops, m->state.memory[kCounter] + (inHandler ? 0 : 1));
}

TEST(BreakpointRun, AStopOnTheSlicesLastInstructionLeavesNoStopBehind) {
    auto m = make_machine();
    MachineIo io;
    load_idle_loop(*m); // DI; JR $ at 8001
    m->z80.cycles_left = 2;
    breakpoints_set(m->breakpoints, "8001");
    ASSERT_EQ(machine_run_frame(*m, io), 1); // DI takes the slice below 0
    EXPECT_EQ(m->z80.stop_pc, 0x8001);
    const int32_t scanline = m->state.scanline;
    breakpoints_clear(m->breakpoints);
    // The next run runs a whole slice rather than stopping again at once.
    EXPECT_EQ(machine_run_frame(*m, io), 0);
    EXPECT_EQ(m->debug.stop.reasons, 0);
    EXPECT_NE(m->state.scanline, scanline);
}

TEST(BreakpointRun, DigitsNeedNoSeparators) {
    auto m = make_machine();
    MachineIo io;
    load(*m, 0x8000, {0xC3, 0x34, 0x12});           // JP 1234h
    load(*m, 0x1234, {0xC3, 0x45, 0x23});           // JP 2345h
    load(*m, 0x2345, {0xC3, 0x00, 0x80});           // JP 8000h
    m->z80.pc = 0x8000;
    breakpoints_set(m->breakpoints, "12345");
    EXPECT_EQ(run_collecting_stops(*m, io, 1), (std::set<uint16_t>{0x1234, 0x2345}));
}

TEST(BreakpointSet, UpperCaseFourDigitRunsFromTheFirst31Characters) {
    Breakpoints b;
    auto count = [&b] {
        int n = 0;
        for (uint64_t w : b.bits) n += std::popcount(w);
        return n;
    };
    breakpoints_set(b, "12345");
    EXPECT_EQ(count(), 2);
    breakpoints_set(b, "7ae9");
    EXPECT_EQ(std::string(b.text.data()), "7AE9");
    EXPECT_TRUE(breakpoint_at(b, 0x7AE9));
    EXPECT_EQ(count(), 1);
    for (const char* none : {"", "12G4 ABC"}) {
        breakpoints_set(b, none);
        EXPECT_EQ(count(), 0) << none;
    }
    breakpoints_set(b, std::string(27, ' ') + "BEEF");
    EXPECT_TRUE(breakpoint_at(b, 0xBEEF));
    breakpoints_set(b, std::string(28, ' ') + "BEEF");
    EXPECT_EQ(count(), 0);
}

} // namespace
