// Determinism, proven over a long run: 100,000 frames of the built-in program
// with keys, typing, tape playback and recording and disk traffic, all drawn
// from a fixed seed by frame number, once without a break and once saved,
// loaded into a new emulator and rewound on the way. Both must end with the
// same picture, memory and registers, and the process must not grow.
// Also every model, memory and graphics option through a state round trip.
#include <gtest/gtest.h>

#include <cstdio>

#include <unistd.h>

#include <fstream>

#include "files/state_file.h"
#include "machine/bus.h"
#include "machine/cassette.h"
#include "machine/disk.h"
#include "machine/ports.h"
#include "machine/rewind.h"
#include "state/state_support.h"
#include "support/temp_dir.h"

using namespace state_test;

namespace {

constexpr long kFrames = 100000;
constexpr uint32_t kSeed = 0x4B4F4C54;
constexpr long kSaveAt = 31500;      // the tape plays, both disks are mounted
constexpr long kHistoryFrom = 57000; // a stretch without file traffic: files are not rewound
constexpr long kRewindAt = 58500;
constexpr long kRewindFrames = 250; // 5 seconds
constexpr long kWarmedUp = 60000;

long resident_bytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

std::vector<uint8_t> tape_wav() {
    std::vector<uint8_t> w = {'R', 'I', 'F', 'F', 0, 0, 0,   0,   'W', 'A',  'V',  'E', 'f', 'm',  't',
                              ' ', 16,  0,   0,   0, 1, 0,   1,   0,   0x22, 0x56, 0,   0,   0x22, 0x56,
                              0,   0,   1,   0,   8, 0, 'd', 'a', 't', 'a',  0,    0,   0,   0};
    Lcg r{kSeed};
    while (w.size() < 44 + 70 * 22050) { // longer than any playback of the script
        const uint32_t half = 5 + r.next() % 30;
        const uint8_t level = uint8_t(w.size() / half % 2 ? 0xD0 : 0x30);
        w.insert(w.end(), half, level);
    }
    return w;
}

std::vector<uint8_t> disk_image() {
    std::vector<uint8_t> d(40 * kTrackBytes);
    for (size_t i = 0; i < d.size(); ++i) d[i] = uint8_t(i * 7 + i / 2480);
    return d;
}

// Port traffic as the disk system makes it: a drive selected, now and then a
// head step, then a run of reads or a recording written back to the image.
void disk_traffic(Machine& m, MachineIo& io, long frame, uint64_t& seen) {
    Lcg r{uint32_t(frame) * 2654435761u + 99};
    const uint8_t select = r.next() % 3 == 0 ? 0x80 : 0x10;
    uint8_t phase = m.disk.lastLatch & 0x0F;
    if (phase != 1 && phase != 2 && phase != 4 && phase != 8) phase = 1;
    if (r.next() % 4 == 0)
        phase = (r.next() & 1) ? uint8_t(phase == 8 ? 1 : phase << 1) : uint8_t(phase == 1 ? 8 : phase >> 1);
    uint8_t v = uint8_t(select | 0x40 | phase);
    port_out(m, io, 16, v);
    if (r.next() & 1) {
        for (int i = 0; i < 512; ++i) {
            port_in(m, io, 18);
            seen = (seen ^ port_in(m, io, 17)) * 1099511628211ull;
        }
    } else {
        v = uint8_t(v & ~0x40);
        port_out(m, io, 16, v);
        for (int i = 0; i < 32 * 16; ++i) {
            if (r.next() & 1) v ^= 0x20;
            port_out(m, io, 16, v);
        }
        port_out(m, io, 16, uint8_t(v | 0x40));
    }
}

struct Files {
    std::string disk1, disk2, tape, recording, state;
};

// What the user does before frame f, in every 10,000: typing every 2,000
// frames; the tape plays from 1,000 to 4,000 and records from 5,000 to 7,000
// (the latch's cassette bits driven every frame); the disks are busy from
// 2,000 to 3,000 and 6,000 to 6,500; the rest is keys alone. The built-in
// program ignores the tape and the disks, so what the machine's cassette
// input and disk data port give is folded into `seen` and compared too.
void script(Emulator& e, const Files& files, long f, uint64_t& seen) {
    Machine& m = e.m();
    const long t = f % 10000;
    if (f == 0) {
        ASSERT_TRUE(disk_mount(m, e.io, 0, files.disk1));
        ASSERT_TRUE(disk_mount(m, e.io, 1, files.disk2));
    }
    if (f % 2000 == 100) typing_start(m, "LINE " + std::to_string(f / 2000) + "\r");
    if (t == 1000) {
        e.io.tape.path = files.tape;
        ASSERT_EQ(tape_play(m, e.io), kTapePlaying);
    }
    if (t == 4000 || t == 7000) tape_stop(m, e.io);
    if (t == 5000) {
        e.io.tape.path = files.recording;
        ASSERT_TRUE(tape_record(m, e.io));
    }
    if (t >= 5000 && t < 7000)
        bus_write(m, e.io, 0x6800, uint8_t((m.state.latch & ~0x06) | (f & 1 ? 0x06 : 0)));
    if ((t >= 2000 && t < 3000) || (t >= 6000 && t < 6500)) disk_traffic(m, e.io, f, seen);
    if (m.tape.playing)
        seen = (seen ^ keyboard_status(m, 0x68FF) ^ m.tape.position << 8) *
               1099511628211ull;
}

void step(Emulator& e, const Files& files, long f, uint64_t& seen) {
    script(e, files, f, seen);
    machine_run_frame(e.m(), e.io);
    poll_input(e.m(), keys_for(kSeed, f));
}

Files files_in(const TempDir& dir) {
    Files f{dir.write("one.dsk", disk_image()), dir.file("two.dsk"), dir.write("tape.wav", tape_wav()),
            dir.file("rec.wav"), dir.file("here.kstate")};
    return f;
}

TEST(Determinism, HundredThousandFramesWithStatesAndRewindMatchAnUnbrokenRun) {
    TempDir straightDir, brokenDir;
    const Files straightFiles = files_in(straightDir), brokenFiles = files_in(brokenDir);

    uint64_t straightSeen = 0, brokenSeen = 0;
    auto straight = fresh_emulator();
    for (long f = 0; f < kFrames; ++f) step(*straight, straightFiles, f, straightSeen);

    auto broken = fresh_emulator();
    RewindHistory history;
    long residentAfterWarmUp = 0;
    for (long f = 0; f < kFrames; ++f) {
        if (f == kSaveAt) {
            ASSERT_TRUE(broken->m().tape.playing);
            const FileOutcome saved = state_save(*broken, brokenFiles.state);
            ASSERT_TRUE(saved.done) << saved.message;
            broken = std::make_unique<Emulator>(); // as a new process starts
            const FileOutcome loaded = state_load(*broken, brokenFiles.state);
            ASSERT_TRUE(loaded.done) << loaded.message;
            ASSERT_EQ(loaded.message, "");
        }
        if (f == kRewindAt) {
            const std::string here = fingerprint(broken->m());
            for (long back = 0; back < kRewindFrames; ++back) ASSERT_EQ(history.step_back(*broken), 1);
            history.clear();
            for (long g = kRewindAt - kRewindFrames; g < kRewindAt; ++g)
                step(*broken, brokenFiles, g, brokenSeen);
            ASSERT_EQ(fingerprint(broken->m()), here) << "rewound 5 seconds and ran them again";
        }
        if (f == kWarmedUp) residentAfterWarmUp = resident_bytes();
        step(*broken, brokenFiles, f, brokenSeen);
        if (f >= kHistoryFrom && f < kRewindAt) history.record(*broken);
    }
    EXPECT_EQ(fingerprint(broken->m()), fingerprint(straight->m()));
    EXPECT_EQ(brokenSeen, straightSeen) << "the tape or the disks gave the machine other data";
    EXPECT_EQ(broken->m().state.memory, straight->m().state.memory);
    EXPECT_EQ(broken->m().frameBuffer, straight->m().frameBuffer);
    EXPECT_EQ(TempDir::read(brokenFiles.disk1), TempDir::read(straightFiles.disk1));
    EXPECT_EQ(TempDir::read(brokenFiles.disk2), TempDir::read(straightFiles.disk2));
    EXPECT_GT(TempDir::read(straightFiles.disk2).size(), 10000u) << "the disk traffic wrote nothing";
    // AddressSanitizer keeps freed memory in quarantine, so there the growth
    // says nothing (and its leak checker watches instead).
    const long grown = resident_bytes() - residentAfterWarmUp;
    std::printf("resident memory grew by %ld bytes after warm-up\n", grown);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(grown, 8l << 20) << "resident memory grew by " << grown << " bytes after warm-up";
#endif
}

TEST(Determinism, EveryModelMemoryAndGraphicsOptionContinuesFromAState) {
    for (int32_t model : {kModelVZ200, kModelVZ300})
        for (int32_t ramTop : {kRamTop8k, kRamTop18k, kRamTop24k, kRamTop34k, kRamTop4mb})
            for (int32_t gfx : {kGfxNone, kGfxAustralian, kGfxGerman}) {
                SCOPED_TRACE(testing::Message()
                             << "model " << model << " ramTop " << ramTop << " gfx " << gfx);
                auto e = fresh_emulator(model, ramTop, gfx);
                typing_start(e->m(), "KOLT\r");
                run_frames(*e, 0, 40, 7);
                start_port_program(e->m());
                run_frames(*e, 40, 20, 7);
                auto copy = std::make_unique<Emulator>();
                ASSERT_TRUE(state_decode(*copy, state_encode(*e)).done);
                run_frames(*e, 60, 1000, 7);
                run_frames(*copy, 60, 1000, 7);
                EXPECT_EQ(fingerprint(copy->m()), fingerprint(e->m()));
            }
}

} // namespace
