#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files/tape_files.h"
#include "machine/bus.h"
#include "machine/cassette.h"
#include "machine/emulator.h"
#include "machine/frame.h"
#include "support/tape_signals.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kShortLow = {0x70, 0x54, 0x49, 0x43, 0x43, 0x41, 0x6D};
const Bytes kShortHigh = {0x9D, 0xB1, 0xBC, 0xBD, 0xC1, 0xAC};
const Bytes kLongLow = {0x59, 0x48, 0x3E, 0x3C, 0x3B, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x41, 0x42, 0x76};
const Bytes kLongHigh = {0x8B, 0xAA, 0xB7, 0xBC, 0xBE, 0xBE, 0xBD, 0xBC, 0xBB, 0xBB, 0xB8, 0xBA, 0x8D};
const Bytes kGap(39, 0x80);    // the lead-in of a recording
const Bytes kPause(66, 0x80);  // 3 ms after a held level

// Latch bit 2 set drives the cassette output low.
constexpr uint8_t kCassetteLow = 0x04;
constexpr uint16_t kLatch = 0x6800;

uint32_t le32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
void put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
    put16(b, uint16_t(v));
    put16(b, uint16_t(v >> 16));
}
void put_tag(Bytes& b, const char* tag) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(tag[i]));
}

Bytes fmt_chunk_body(uint32_t rate, uint16_t channels, uint16_t bits, uint16_t tag) {
    Bytes f;
    put16(f, tag);
    put16(f, channels);
    put32(f, rate);
    put32(f, rate * channels * bits / 8);
    put16(f, uint16_t(channels * bits / 8));
    put16(f, bits);
    return f;
}

// The canonical 44-byte header.
Bytes wav(const Bytes& samples, uint32_t rate = 22050, uint16_t channels = 1, uint16_t bits = 8,
          uint16_t tag = 1) {
    Bytes b;
    put_tag(b, "RIFF");
    put32(b, uint32_t(36 + samples.size()));
    put_tag(b, "WAVE");
    put_tag(b, "fmt ");
    put32(b, 16);
    const Bytes f = fmt_chunk_body(rate, channels, bits, tag);
    b.insert(b.end(), f.begin(), f.end());
    put_tag(b, "data");
    put32(b, uint32_t(samples.size()));
    b.insert(b.end(), samples.begin(), samples.end());
    return b;
}

Bytes ramp(size_t n) {
    Bytes s(n);
    for (size_t i = 0; i < n; ++i) s[i] = uint8_t(i * 37 + 11);
    return s;
}

class Cassette : public testing::Test {
protected:
    void SetUp() override { machine_reset(m()); }
    Machine& m() { return emu.m(); }
    MachineIo& io() { return emu.io; }

    int play(const Bytes& file) {
        io().tape.path = dir.write("tape.wav", file);
        return tape_play(m(), io());
    }
    // Emulated T-states for one second of tape at this model's clock.
    int64_t second() { return int64_t(m().z80.cycle_period) * 50; }
    // Advances playback so that exactly `samples` samples have been taken
    // since playback began (T-states rounded up per sample).
    void advance_to_sample(int64_t samples) {
        const int64_t target = (samples * second() + kTapeSampleRate - 1) / kTapeSampleRate;
        tape_advance(m(), io(), int32_t(target - elapsed));
        elapsed = target;
    }
    int cassette_bit() { return (bus_read(m(), 0x68FF) >> 6) & 1; }

    Emulator emu;
    TempDir dir;
    int64_t elapsed = 0;
};

// Recording, with the time of each latch write set through cycles_left as
// the processor would leave it.
class CassetteRecording : public Cassette {
protected:
    void SetUp() override {
        Cassette::SetUp();
        path = dir.file("rec.wav");
        io().tape.path = path;
        ASSERT_TRUE(tape_record(m(), io()));
        left = m().z80.cycle_period;
    }
    // Writes the latch `interval` T-states after the previous write; the
    // slice is refilled as the frame step does when it runs out.
    void write_after(int32_t interval, uint8_t latch) {
        left -= interval;
        while (left <= 0) left += m().z80.cycle_period;
        m().z80.cycles_left = left;
        bus_write(m(), io(), kLatch, latch);
    }
    Bytes samples_after_stop() {
        tape_stop(m(), io());
        const Bytes file = TempDir::read(path);
        EXPECT_GE(file.size(), size_t(kWavHeaderSize));
        if (file.size() < size_t(kWavHeaderSize)) return {};
        EXPECT_EQ(le32(file, 40), file.size() - kWavHeaderSize);
        EXPECT_EQ(le32(file, 4), file.size() - 8);
        return Bytes(file.begin() + kWavHeaderSize, file.end());
    }

    std::string path;
    int32_t left = 0;
};

void append(Bytes& to, const Bytes& what) { to.insert(to.end(), what.begin(), what.end()); }

TEST_F(CassetteRecording, RomRhythmGivesShortAndLongWaveformsAcrossFrames) {
    Bytes expected;
    write_after(5000, kCassetteLow);
    append(expected, kGap);
    // The ROM's save routine: 1010-1066 T-states for a short half-wave,
    // 2011-2243 for a long one; enough of them to cross several frames.
    uint8_t latch = kCassetteLow;
    for (int i = 0; i < 200; ++i) {
        const bool isLong = (i / 3) % 2 == 1;
        latch ^= kCassetteLow;
        write_after(isLong ? 2100 : 1030, latch);
        const bool low = latch & kCassetteLow;
        append(expected, isLong ? (low ? kLongLow : kLongHigh) : (low ? kShortLow : kShortHigh));
    }
    ASSERT_GT(200 * 1500, 3 * m().z80.cycle_period);
    EXPECT_EQ(samples_after_stop(), expected);
}

TEST_F(CassetteRecording, IntervalThresholds) {
    struct Step {
        int32_t interval;
        const Bytes* low;  // appended for a change to the low level
        const Bytes* high; // for a change to the high level
        const Bytes* then = nullptr;
    };
    // A level held 3400 T-states or more was held by the ROM while it
    // printed: the half, then the pause (the old gap in its place lost the
    // half, and the recording did not load).
    const Step steps[] = {
        {5000, &kGap, &kGap},           {1399, &kShortLow, &kShortHigh},           {1400, &kLongLow, &kLongHigh},
        {700, &kShortLow, &kShortHigh}, {1700, &kLongLow, &kLongHigh},             {3399, &kLongLow, &kLongHigh},
        {3400, &kLongLow, &kLongHigh, &kPause}, {1, &kShortLow, &kShortHigh}, {60000, &kLongLow, &kLongHigh, &kPause},
    };
    Bytes expected;
    uint8_t latch = 0;
    for (const Step& s : steps) {
        latch ^= kCassetteLow;
        write_after(s.interval, latch);
        append(expected, *((latch & kCassetteLow) ? s.low : s.high));
        if (s.then) append(expected, *s.then);
    }
    EXPECT_EQ(samples_after_stop(), expected);
}

TEST_F(CassetteRecording, OnlyTheCassetteBitsRecord) {
    Bytes expected;
    write_after(1000, kCassetteLow);
    append(expected, kShortLow);
    // Bit 1 alone changes nothing in the level but is a change all the same.
    write_after(1000, kCassetteLow | 0x02);
    append(expected, kShortLow);
    // Speaker, graphics mode and colour bits are not the cassette's.
    write_after(1000, kCassetteLow | 0x02 | 0x21 | 0x08 | 0x10);
    write_after(2000, 0x02 | 0x21 | 0x08 | 0x10);
    append(expected, kLongHigh); // 3000 T-states since the last cassette change
    EXPECT_EQ(samples_after_stop(), expected);
}

TEST_F(CassetteRecording, NothingIsAppendedAfterStop) {
    write_after(1000, kCassetteLow);
    const Bytes first = samples_after_stop();
    write_after(1000, 0);
    EXPECT_EQ(TempDir::read(path).size(), kWavHeaderSize + first.size());
    EXPECT_FALSE(m().tape.recording);
}

TEST_F(Cassette, RecordingHeaderIsA22050HzMonoPcmHeader) {
    io().tape.path = dir.file("r.wav");
    ASSERT_TRUE(tape_record(m(), io()));
    EXPECT_TRUE(m().tape.recording);
    tape_stop(m(), io());
    EXPECT_EQ(TempDir::read(io().tape.path), wav({}));

    // A file that cannot be created does not start a recording.
    io().tape.path = dir.file("missing/folder/r.wav");
    EXPECT_FALSE(tape_record(m(), io()));
    EXPECT_FALSE(m().tape.recording);
}

// A small program toggles the cassette output with a delay loop, as the
// ROM's save routine does, and runs through the frame step: the writes reach
// the recorder with the time the processor has spent.
struct RhythmCase {
    uint8_t loops;     // B of the delay loop
    bool longWaveform; // 34 + 13 x loops T-states between writes
};

class CassetteProgram : public testing::TestWithParam<RhythmCase> {};

TEST_P(CassetteProgram, RecordsTheProgramsRhythm) {
    TempDir dir;
    std::string path = dir.file("prog.wav");
    Emulator emu;
    Machine& m = emu.m();
    machine_reset(m);
    const uint8_t program[] = {
        0xF3,                   // DI
        0x3E, 0x04,             // LD A,4
        0x32, 0x00, 0x68,       // loop: LD (6800h),A
        0xEE, 0x04,             // XOR 4
        0x06, GetParam().loops, // LD B,n
        0x10, 0xFE,             // DJNZ $
        0x18, 0xF5,             // JR loop
    };
    std::memcpy(&m.state.memory[0x8000], program, sizeof program);
    m.z80.pc = 0x8000;
    emu.io.tape.path = path;
    ASSERT_TRUE(tape_record(m, emu.io));
    for (int i = 0; i < 3; ++i) machine_run_frame(m, emu.io);
    tape_stop(m, emu.io);

    const Bytes file = TempDir::read(path);
    ASSERT_GT(file.size(), size_t(kWavHeaderSize));
    Bytes rest(file.begin() + kWavHeaderSize, file.end());
    // The first write's interval is measured from before the program ran.
    for (const Bytes* w : {&kShortLow, &kShortHigh, &kLongLow, &kLongHigh, &kGap}) {
        if (rest.size() >= w->size() && std::equal(w->begin(), w->end(), rest.begin())) {
            rest.erase(rest.begin(), rest.begin() + long(w->size()));
            break;
        }
    }
    const Bytes& low = GetParam().longWaveform ? kLongLow : kShortLow;
    const Bytes& high = GetParam().longWaveform ? kLongHigh : kShortHigh;
    Bytes expected;
    int changes = 0;
    for (; expected.size() < rest.size(); ++changes) append(expected, changes % 2 ? low : high);
    EXPECT_EQ(rest, expected);
    const int period = 34 + 13 * GetParam().loops;
    EXPECT_NEAR(changes, 3 * m.z80.cycle_period / period, 3);
}

INSTANTIATE_TEST_SUITE_P(Rhythms, CassetteProgram,
                         testing::Values(RhythmCase{77, false}, RhythmCase{160, true}));

TEST_F(Cassette, PlaybackDrivesTheCassetteBitSampleBySample) {
    // A loud stretch about the middle, then a quiet one well above it, each
    // switching every 5 samples; the old fixed threshold (181) saw the quiet
    // one as high throughout.
    Bytes samples;
    for (int i = 0; i < 60; ++i) samples.push_back((i / 5) % 2 ? 0xE0 : 0x20);
    for (int i = 0; i < 1200; ++i) samples.push_back((i / 5) % 2 ? 0xC8 : 0xA8);
    ASSERT_EQ(play(wav(samples)), kTapePlaying);
    for (size_t i = 0; i < samples.size(); ++i) {
        advance_to_sample(int64_t(i) + 1);
        // The centre stays where the loud swing put it until that swing is
        // forgotten (a pause beside part of a cycle must not move it): 40 ms.
        if (i >= 60 && i < 60 + 900) continue;
        const bool high = i < 60 ? samples[i] > 0x80 : samples[i] == 0xC8;
        EXPECT_EQ(m().state.tapeLevel, high ? 0xFF : 0x00) << i;
        EXPECT_EQ(cassette_bit(), high ? 0 : 1) << i;
    }
}

TEST_F(Cassette, PlaysTwentyTwoThousandFiftySamplesPerEmulatedSecond) {
    for (int32_t model : {kModelVZ200, kModelVZ300}) {
        SCOPED_TRACE(model);
        m().settings.model = model;
        machine_reset(m());
        const uint8_t idle[] = {0xF3, 0x18, 0xFE}; // DI; JR $
        std::memcpy(&m().state.memory[0x8000], idle, sizeof idle);
        m().z80.pc = 0x8000;
        ASSERT_EQ(play(wav(ramp(30000))), kTapePlaying);
        for (int frame = 0; frame < 50; ++frame) machine_run_frame(m(), io());
        ASSERT_TRUE(m().tape.playing);
        EXPECT_NEAR(double(m().tape.position), 22050.0, 2.0);
        tape_stop(m(), io());
    }
}

TEST_F(Cassette, EveryRatePlaysInEmulatedRealTime) {
    for (uint32_t rate : {8000u, 44100u, 192000u}) {
        SCOPED_TRACE(rate);
        ASSERT_EQ(play(wav(ramp(rate * 10 + 7), rate)), kTapePlaying);
        // Ten emulated seconds in uneven steps: the accumulator is exact, so
        // no step size makes the tape drift.
        int64_t t = 0;
        for (int second = 1; second <= 10; ++second) {
            const int64_t until = second * this->second();
            while (t < until) {
                const int32_t step = int32_t(std::min<int64_t>(900 + t % 211, until - t));
                tape_advance(m(), io(), step);
                t += step;
            }
            // Levels come six to an 8000 Hz sample (edges between samples).
            EXPECT_EQ(m().tape.position, uint64_t(second) * (rate == 8000 ? 48000 : rate));
        }
        ASSERT_TRUE(m().tape.playing);
        tape_advance(m(), io(), int32_t(this->second() / 100));
        EXPECT_FALSE(m().tape.playing); // the 7 samples left are gone in 10 ms
        tape_stop(m(), io());
    }
}

TEST_F(Cassette, RefusesWhatItCannotPlay) {
    io().tape.path.clear();
    EXPECT_EQ(tape_play(m(), io()), kTapeNoPath);
    io().tape.path = dir.file("absent.wav");
    EXPECT_EQ(tape_play(m(), io()), kTapeCannotOpen);
    io().tape.path = dir.file("absent.cas");
    EXPECT_EQ(tape_play(m(), io()), kTapeCannotOpen);
    EXPECT_EQ(play(wav(ramp(100), 22050, 1, 12)), kTapeBadFormat);
    EXPECT_EQ(play(wav(ramp(100), 4000)), kTapeBadFormat);
    EXPECT_EQ(play(Bytes(20, 0)), kTapeNotWav);
    EXPECT_NE(tape_play_message(kTapeNotWav, io()).find("not a WAV file"), std::string::npos);
    // 8-bit floating point does not exist.
    EXPECT_EQ(play(wav(ramp(100), 22050, 1, 8, 3)), kTapeBadFormat);
    EXPECT_EQ(play(wav(ramp(100), 22050, 1, 8, 0x55)), kTapeNotPcm);
    EXPECT_EQ(tape_play_message(kTapeNotPcm, io()),
              "This WAV file holds compressed audio (format 0x0055, MPEG Layer 3), which cannot be played as a tape.");
    EXPECT_FALSE(m().tape.playing);
    EXPECT_TRUE(io().tape.levels.empty());

    // What was refused before plays now.
    EXPECT_EQ(play(wav(ramp(100), 44100)), kTapePlaying);
    EXPECT_EQ(play(wav(ramp(100), 22050, 2)), kTapePlaying);
    EXPECT_EQ(play(wav(ramp(100), 22050, 1, 16)), kTapePlaying);
    EXPECT_TRUE(tape_play_message(kTapePlaying, io()).empty());
}

TEST_F(Cassette, PlaysFromTheDataChunk) {
    const Bytes samples = {0x10, 0xF0, 0x20, 0xE0, 0x30, 0xD0};
    const Bytes levels = {0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF};
    auto check_plays = [&](const Bytes& file) {
        elapsed = 0;
        ASSERT_EQ(play(file), kTapePlaying);
        Bytes heard;
        for (size_t i = 0; i < samples.size(); ++i) {
            advance_to_sample(int64_t(i) + 1);
            heard.push_back(m().state.tapeLevel);
        }
        EXPECT_EQ(heard, levels);
        tape_stop(m(), io());
    };

    // An 18-byte format chunk, as some tools write.
    Bytes b;
    put_tag(b, "RIFF");
    put32(b, 0);
    put_tag(b, "WAVE");
    put_tag(b, "fmt ");
    put32(b, 18);
    append(b, fmt_chunk_body(22050, 1, 8, 1));
    put16(b, 0);
    put_tag(b, "data");
    put32(b, uint32_t(samples.size()));
    append(b, samples);
    check_plays(b);

    // A LIST chunk of odd size (so with a pad byte) before the samples.
    b.clear();
    put_tag(b, "RIFF");
    put32(b, 0);
    put_tag(b, "WAVE");
    put_tag(b, "fmt ");
    put32(b, 16);
    append(b, fmt_chunk_body(22050, 1, 8, 1));
    put_tag(b, "LIST");
    put32(b, 9);
    append(b, {'I', 'N', 'F', 'O', 'a', 'b', 'c', 'd', 'e', 0});
    put_tag(b, "data");
    put32(b, uint32_t(samples.size()));
    append(b, samples);
    check_plays(b);

    // Without a "data" chunk the samples start at offset 44.
    b = wav(samples);
    std::memcpy(&b[36], "junk", 4);
    check_plays(b);
}

TEST_F(Cassette, EndOfTapeAndStop) {
    const Bytes samples = {0x11, 0x22, 0xC8};
    ASSERT_EQ(play(wav(samples)), kTapePlaying);
    advance_to_sample(3);
    EXPECT_EQ(m().state.tapeLevel, 0xFF);
    EXPECT_TRUE(m().tape.playing);
    advance_to_sample(10);
    EXPECT_FALSE(m().tape.playing);
    EXPECT_EQ(m().state.tapeLevel, 0x00);
    EXPECT_TRUE(io().tape.levels.empty());
    EXPECT_EQ(cassette_bit(), 1);

    elapsed = 0;
    ASSERT_EQ(play(wav(samples)), kTapePlaying);
    advance_to_sample(3);
    tape_stop(m(), io());
    EXPECT_FALSE(m().tape.playing);
    EXPECT_EQ(m().state.tapeLevel, 0x80);
    EXPECT_TRUE(io().tape.levels.empty());
}

// The bit the machine reads at each change of its cassette input while a
// tape plays, and when (T-states after Play), sampled every 20 T-states.
std::vector<std::pair<int64_t, int>> input_edges(Machine& m, MachineIo& io, const std::string& path) {
    std::vector<std::pair<int64_t, int>> edges;
    io.tape.path = path;
    if (tape_play(m, io) != kTapePlaying) return edges;
    auto bit = [&] { return (bus_read(m, 0x68FF) >> 6) & 1; };
    int last = bit();
    for (int64_t t = 20; m.tape.playing; t += 20) {
        tape_advance(m, io, 20);
        if (bit() != last) edges.emplace_back(t, last = bit());
    }
    return edges;
}

TapeProgram test_program() {
    TapeProgram p;
    p.type = 0xF1;
    p.name = "EDGES";
    p.start = 0xA000;
    for (int i = 0; i < 64; ++i) p.data.push_back(uint8_t(i * 29 + 3));
    return p;
}

TEST_F(Cassette, WornRecordingGivesTheMachineTheCleanOnesSignal) {
    ASSERT_TRUE(tape_write_program(dir.file("clean.wav"), test_program()).done);
    const Bytes clean = TempDir::read(dir.file("clean.wav"));
    const std::vector<double> worn = tape_test::degrade(
        tape_test::resample(tape_test::values_of(Bytes(clean.begin() + kWavHeaderSize, clean.end())), 22050, 44100),
        0.2, 1.0 / 3, true);
    dir.write("worn.wav", tape_test::wav_file({44100, 2, tape_test::Sample::s16}, worn));

    const auto expected = input_edges(m(), io(), dir.file("clean.wav"));
    const auto edges = input_edges(m(), io(), dir.file("worn.wav"));
    // Every bit is two or three cycles of two changes each.
    const size_t bits = (255 + 5 + 1 + 5 + 1 + 4 + 64 + 2) * 8;
    ASSERT_GE(expected.size(), bits * 4);
    ASSERT_EQ(edges.size(), expected.size());
    // The first change is to the high half of a cycle: input bit 0.
    EXPECT_EQ(expected[0].second, 0);
    // A sample plays once its time has passed, so a change at the start of a
    // 44.1 kHz sample shows half an original sample (81 T-states) sooner, and
    // the resampler's blend of two samples may cross one 44.1 kHz sample
    // sooner again: at most one original sample (162 T-states on the VZ200),
    // plus the 20-T-state step of this sampling. (Measured: 160-180.) The
    // ROM's loader tells cycles of about 2100 and 4200 T-states apart.
    const int64_t tolerance = second() / 22050 + 1 + 20;
    int64_t worst = 0;
    for (size_t i = 0; i < edges.size(); ++i) {
        ASSERT_EQ(edges[i].second, expected[i].second) << i;
        worst = std::max(worst, std::abs(edges[i].first - expected[i].first));
    }
    EXPECT_LE(worst, tolerance);
}

TEST_F(Cassette, CasFilePlaysAsTheRecordingOfItsBytes) {
    TapeProgram p = test_program();
    p.data.resize(4200, 0x5A); // longer than the pieces a .cas is turned into samples in
    ASSERT_TRUE(tape_write_program(dir.file("p.wav"), p).done);
    ASSERT_TRUE(tape_write_program(dir.file("p.cas"), p).done);
    // The .cas first, so that its rate is not one left by the .wav.
    io().tape.path = dir.file("p.CAS");
    std::filesystem::rename(dir.file("p.cas"), io().tape.path);
    ASSERT_EQ(tape_play(m(), io()), kTapePlaying);
    EXPECT_EQ(m().tape.rate, 22050u);
    const Bytes fromCas = io().tape.levels;
    io().tape.path = dir.file("p.wav");
    ASSERT_EQ(tape_play(m(), io()), kTapePlaying);
    const Bytes fromWav = io().tape.levels;
    EXPECT_EQ(fromCas, fromWav);
    EXPECT_EQ(fromWav.size(), 39 + 66 + (255 + 5 + 1 + 5 + 1 + 4 + 4200 + 2) * 312u);

    dir.write("empty.cas", {});
    io().tape.path = dir.file("empty.cas");
    EXPECT_EQ(tape_play(m(), io()), kTapeBadFormat);
}

TEST(CassetteShutdown, RecordingStillRunningAtTheEndIsFinalised) {
    TempDir dir;
    const std::string path = dir.file("left-running.wav");
    {
        Emulator emu;
        Machine& m = emu.m();
        machine_reset(m);
        emu.io.tape.path = path;
        ASSERT_TRUE(tape_record(m, emu.io));
        for (int i = 1; i <= 20; ++i) {
            m.z80.cycles_left = m.z80.cycle_period - i * 1030;
            bus_write(m, emu.io, kLatch, i % 2 ? kCassetteLow : 0);
        }
    }
    const Bytes file = TempDir::read(path);
    ASSERT_EQ(file.size(), kWavHeaderSize + 10 * kShortLow.size() + 10 * kShortHigh.size());
    EXPECT_EQ(le32(file, 40), file.size() - kWavHeaderSize);
    EXPECT_EQ(le32(file, 4), file.size() - 8);
}

} // namespace
