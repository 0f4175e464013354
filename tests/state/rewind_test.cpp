// The rewind history: stepping back restores earlier frames exactly, running
// forward again with the same inputs reaches the same frames, and the memory
// limit thins old history instead of losing the last minute.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "machine/cassette.h"
#include "machine/machine_parts.h"
#include "machine/rewind.h"
#include "state/state_support.h"
#include "support/tape_signals.h"
#include "support/temp_dir.h"

using namespace state_test;

namespace {

void record_frames(Emulator& e, RewindHistory& h, long first, long count, uint32_t seed) {
    for (long f = first; f < first + count; ++f) {
        run_frames(e, f, 1, seed);
        h.record(e);
    }
}

TEST(Rewind, FiveSecondsBackThenForwardReachesTheSameFrames) {
    auto e = fresh_emulator();
    typing_start(e->m(), "REWIND ME\r");
    RewindHistory history;
    history.record(*e);
    record_frames(*e, history, 0, 350, 21);
    const std::string at350 = fingerprint(e->m());
    record_frames(*e, history, 350, 250, 21);
    const std::string at600 = fingerprint(e->m());
    EXPECT_EQ(history.frames(), 600);

    for (int step = 0; step < 250; ++step) ASSERT_EQ(history.step_back(*e), 1) << "step " << step;
    EXPECT_EQ(fingerprint(e->m()), at350);
    EXPECT_EQ(history.frames(), 350);

    record_frames(*e, history, 350, 250, 21);
    EXPECT_EQ(fingerprint(e->m()), at600);
    // And back over the same stretch once more: the new records are as good.
    for (int step = 0; step < 250; ++step) history.step_back(*e);
    EXPECT_EQ(fingerprint(e->m()), at350);
}

TEST(Rewind, EachStepShowsThatFramesPicture) {
    auto e = fresh_emulator();
    RewindHistory history;
    history.record(*e);
    std::vector<std::string> seen;
    for (long f = 0; f < 60; ++f) {
        seen.push_back(fingerprint(e->m()));
        record_frames(*e, history, f, 1, 33);
    }
    for (long f = 59; f >= 0; --f) {
        ASSERT_EQ(history.step_back(*e), 1);
        EXPECT_EQ(fingerprint(e->m()), seen[size_t(f)]) << "frame " << f;
    }
    const std::string first = fingerprint(e->m());
    EXPECT_EQ(history.step_back(*e), 0);
    EXPECT_EQ(fingerprint(e->m()), first);
}

TEST(Rewind, BanksAndExtendedVideoComeBack) {
    auto e = fresh_emulator(kModelVZ300, kRamTop4mb, kGfxAustralian);
    start_port_program(e->m());
    RewindHistory history;
    run_frames(*e, 0, 2, 8);
    history.record(*e);
    const std::string first = fingerprint(e->m());
    record_frames(*e, history, 2, 10, 8);
    const std::string middle = fingerprint(e->m());
    record_frames(*e, history, 12, 10, 8);
    EXPECT_NE(fingerprint(e->m()), middle);
    for (int step = 0; step < 10; ++step) history.step_back(*e);
    EXPECT_EQ(fingerprint(e->m()), middle);
    while (history.step_back(*e) > 0) {
    }
    EXPECT_EQ(fingerprint(e->m()), first);
}

TEST(Rewind, SettingsAndBreakpointsStayAsTheUserLeftThem) {
    auto e = fresh_emulator();
    RewindHistory history;
    history.record(*e);
    record_frames(*e, history, 0, 10, 2);
    e->m().settings.frameRateNormal = 0;
    breakpoints_set(e->m().breakpoints, "ABCD");
    history.step_back(*e);
    EXPECT_EQ(e->m().settings.frameRateNormal, 0);
    EXPECT_TRUE(breakpoint_at(e->m().breakpoints, 0xABCD));
}

// The tape is a thing in the room, not part of the machine: holding F7 shows
// the past on the screen but leaves the cassette where it is now, playing.
TEST(Rewind, TheTapeStaysWhereItIsNow) {
    TempDir dir;
    std::vector<double> tone(100000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = (i / 9) % 2 ? 0.75 : -0.75;
    auto e = fresh_emulator();
    e->io.tape.path = dir.write("tape.wav", tape_test::wav_file({22050, 1, tape_test::Sample::u8}, tone));
    RewindHistory history;
    history.record(*e);
    record_frames(*e, history, 0, 20, 4); // the tape still stopped at its start
    ASSERT_EQ(tape_play(e->m(), e->io), kTapePlaying);
    record_frames(*e, history, 20, 30, 4);
    const uint64_t now = e->m().tape.position;
    ASSERT_GT(now, 13000u); // 30 frames at 22050 samples a second

    while (history.step_back(*e) > 0) {
    }
    EXPECT_TRUE(e->m().tape.playing);
    EXPECT_EQ(e->m().tape.position, now);
    // Running on from the past plays on from there.
    run_frames(*e, 0, 10, 4);
    EXPECT_GT(e->m().tape.position, now + 4000);
}

// A step back restores every byte the parts list calls the machine's, and
// keeps every byte of the setup and the session as they are now, whatever
// they hold: the live side is scribbled over between record and step.
TEST(Rewind, RestoresTheMachinesPartsAndKeepsTheRest) {
    auto e = fresh_emulator();
    start_port_program(e->m());
    RewindHistory history;
    run_frames(*e, 0, 3, 4);
    history.record(*e);
    const auto recorded = std::make_unique<Machine>(e->m());
    run_frames(*e, 3, 1, 4);
    history.record(*e);
    auto* live = reinterpret_cast<uint8_t*>(&e->m());
    size_t machineBytes = 0, keptBytes = 0;
    for (const PartRange& p : machine_parts())
        for (size_t i = p.begin; i < p.end; i += 97) live[i] ^= 0x01; // differs from the recorded side, and keeps a bool a bool
    const auto scribbled = std::make_unique<Machine>(e->m());
    ASSERT_EQ(history.step_back(*e), 1);
    const auto* was = reinterpret_cast<const uint8_t*>(recorded.get());
    const auto* now = reinterpret_cast<const uint8_t*>(scribbled.get());
    for (const PartRange& p : machine_parts()) {
        const uint8_t* want = p.part == Part::Machine ? was : now;
        (p.part == Part::Machine ? machineBytes : keptBytes) += p.end - p.begin;
        ASSERT_EQ(std::memcmp(live + p.begin, want + p.begin, p.end - p.begin), 0)
            << "bytes " << p.begin << "-" << p.end << " of part " << int(p.part);
    }
    EXPECT_GT(keptBytes, 1000u);
    EXPECT_GT(machineBytes, 4000000u);
}

// Rewinding past a disk mount keeps the mounted image's write protection:
// DOS would otherwise refuse to write to a writable disk.
TEST(Rewind, TheUsersChoicesAndAttachmentsStay) {
    auto e = fresh_emulator();
    RewindHistory history;
    history.record(*e);
    record_frames(*e, history, 0, 2, 2);
    e->m().disk.writeProtect = {0x00, 0x80}; // drive 1 mounted writable
    e->m().settings.cassetteAudio = 0;
    ASSERT_TRUE(watch_add(e->m().debug, Watchpoint{0x9000, 0x9001, kWatchWrite, true}));
    e->m().input.f11Held = true;
    history.step_back(*e);
    history.step_back(*e);
    EXPECT_EQ(e->m().disk.writeProtect[0], 0x00);
    EXPECT_EQ(e->m().disk.writeProtect[1], 0x80);
    EXPECT_EQ(e->m().settings.cassetteAudio, 0);
    EXPECT_EQ(e->m().debug.watchCount, 1);
    EXPECT_TRUE(e->m().debug.active);
    EXPECT_TRUE(e->m().input.f11Held);
}

// A program that paints new contents over the whole of video RAM every frame
// fills the history fastest.
constexpr uint8_t kPainter[] = {
    0x21, 0x00, 0x70, // 8000 LD HL,7000h
    0x01, 0x00, 0x08, //      LD BC,0800h
    0x34,             // 8006 INC (HL)
    0x23,             //      INC HL
    0x0B,             //      DEC BC
    0x78,             //      LD A,B
    0xB1,             //      OR C
    0x20, 0xF9,       //      JR NZ,8006h
    0x18, 0xF1,       //      JR 8000h
};

std::unique_ptr<Emulator> painting_emulator() {
    auto e = fresh_emulator();
    std::memcpy(&e->m().state.memory[0x8000], kPainter, sizeof kPainter);
    e->m().z80.pc = 0x8000;
    return e;
}

TEST(Rewind, StaysWithinItsMemoryAndKeepsItsMinimumSpanByThinning) {
    auto e = painting_emulator();
    const size_t limit = sizeof(Machine) + (2u << 20);
    RewindHistory history(limit, 150);
    history.record(*e);
    const std::string first = fingerprint(e->m());
    std::vector<std::string> seen;
    for (long f = 0; f < 200; ++f) {
        record_frames(*e, history, f, 1, 0);
        seen.push_back(fingerprint(e->m()));
        ASSERT_LE(history.memory_bytes(), limit);
    }
    EXPECT_EQ(history.frames(), 200);
    EXPECT_GT(history.memory_bytes(), limit / 2);
    // The last frames still go back one at a time.
    for (int back = 1; back <= 5; ++back) {
        ASSERT_EQ(history.step_back(*e), 1);
        EXPECT_EQ(fingerprint(e->m()), seen[size_t(199 - back)]);
    }
    // The thinned past still arrives exactly where recording began.
    int steps = 0;
    int32_t spanned = 5;
    while (const int32_t n = history.step_back(*e)) {
        spanned += n;
        ++steps;
    }
    EXPECT_EQ(spanned, 200);
    EXPECT_LT(steps, 150);
    EXPECT_EQ(fingerprint(e->m()), first);
}

// Frame `f` of a program that rewrites a 16 KB buffer every frame: records
// of one size, so the limit holds a fixed number of them.
void rewrite_buffer(Emulator& e, int f) {
    for (size_t i = 0; i < 0x4000; ++i) e.m().state.memory[0x8000 + i] = uint8_t(f * 3 + int(i) + 1);
}

// When the limit holds just the minimum, each new record drops the oldest:
// the history keeps exactly the minimum, one frame a step, instead of merging.
TEST(Rewind, WhenFullKeepsExactlyItsMinimumOneFrameAStep) {
    const size_t limit = sizeof(Machine) + (256u << 10);
    auto e = fresh_emulator();
    RewindHistory loose(limit, 1); // finds how many records the limit holds
    loose.record(*e);
    for (int f = 1; f <= 40; ++f) {
        rewrite_buffer(*e, f);
        loose.record(*e);
    }
    const int32_t held = loose.frames();
    ASSERT_GT(held, 5);
    ASSERT_LT(held, 40);

    auto again = fresh_emulator();
    RewindHistory history(limit, held);
    history.record(*again);
    for (int f = 1; f <= 40; ++f) {
        rewrite_buffer(*again, f);
        history.record(*again);
    }
    EXPECT_EQ(history.frames(), held);
    for (int32_t step = 0; step < held; ++step) ASSERT_EQ(history.step_back(*again), 1) << "step " << step;
    EXPECT_EQ(again->m().state.memory[0x8000], uint8_t((40 - held) * 3 + 1));
    EXPECT_EQ(history.step_back(*again), 0);
}

TEST(Rewind, DropsWhatIsOlderThanTheMinimumWhenFull) {
    auto e = painting_emulator();
    const size_t limit = sizeof(Machine) + (1u << 20);
    RewindHistory history(limit, 20);
    history.record(*e);
    record_frames(*e, history, 0, 300, 0);
    EXPECT_LE(history.memory_bytes(), limit);
    EXPECT_GE(history.frames(), 20);
    EXPECT_LT(history.frames(), 300);
    history.clear();
    EXPECT_EQ(history.memory_bytes(), 0u);
    EXPECT_EQ(history.step_back(*e), 0);
}

} // namespace
