// Tapes loaded by a Z80 loader of our own (support/tape_loader.asm) that
// times the cassette input as the ROM's loader does: whatever we write, and
// the worn recordings a user brings, must load in it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

extern const uint8_t kTapeLoaderImage[];
extern const size_t kTapeLoaderImage_size;

namespace {

using tape_test::Bytes;

constexpr uint16_t kResult = 0x7900;

struct Loaded {
    int status = 0; // 1 loaded; see the loader for the others
    uint8_t type = 0;
    std::string name;
    uint16_t start = 0, end = 0;
    Bytes data; // what memory holds from start to end
};

uint16_t word(const Machine& m, uint16_t at) { return uint16_t(m.state.memory[at] | m.state.memory[at + 1] << 8); }

// Plays the tape file into the loader until it reports or the tape has run
// out a second ago.
Loaded load(const std::string& path, int32_t model = kModelVZ200) {
    Emulator emu;
    Machine& m = emu.m();
    m.settings.model = model;
    m.settings.romFile[0] = 0;
    machine_reset(m);
    std::memcpy(m.state.memory.data(), kTapeLoaderImage, kTapeLoaderImage_size);
    m.z80.pc = 0;
    emu.io.tape.path = path;
    Loaded l;
    if (tape_play(m, emu.io) != kTapePlaying) return l;
    for (int after = 0; after < 50 && m.state.memory[kResult] == 0;) {
        machine_run_frame(m, emu.io);
        if (!m.tape.playing) ++after;
    }
    l.status = m.state.memory[kResult];
    l.type = m.state.memory[kResult + 1];
    l.name = reinterpret_cast<const char*>(&m.state.memory[kResult + 2]);
    l.start = word(m, kResult + 0x14);
    l.end = word(m, kResult + 0x16);
    if (l.status == 1 && l.end > l.start) l.data.assign(&m.state.memory[l.start], &m.state.memory[l.end]);
    return l;
}

TapeProgram program() {
    TapeProgram p;
    p.type = 0xF0;
    p.name = "WORN TAPE 17 CHAR";
    p.start = 0x7AE9;
    for (int i = 0; i < 300; ++i) p.data.push_back(uint8_t(i * 73 + 11));
    return p;
}

void expect_loads(const Loaded& l, const TapeProgram& p) {
    EXPECT_EQ(l.status, 1);
    EXPECT_EQ(l.type, p.type);
    EXPECT_EQ(l.name, p.name);
    EXPECT_EQ(l.start, p.start);
    EXPECT_EQ(l.end, p.start + p.data.size());
    EXPECT_EQ(l.data, p.data);
}

class TapeLoader : public testing::Test {
protected:
    TempDir dir;
};

TEST_F(TapeLoader, EveryWriterOfOursLoadsOnBothModels) {
    const TapeProgram p = program();
    ASSERT_TRUE(tape_write_program(dir.file("p.wav"), p).done);
    ASSERT_TRUE(tape_write_program(dir.file("p.cas"), p).done);
    for (const int32_t model : {kModelVZ200, kModelVZ300}) {
        SCOPED_TRACE(model);
        expect_loads(load(dir.file("p.wav"), model), p);
        expect_loads(load(dir.file("p.cas"), model), p);
    }
}

TEST_F(TapeLoader, WithoutThePauseAfterTheNameTheLoaderLosesBits) {
    const TapeProgram p = program();
    const std::string path =
        dir.write("nopause.wav", tape_test::wav_file({}, tape_test::values_of(tape_test::rom_tape(tape_bytes(p), {0}))));
    const Loaded l = load(path);
    EXPECT_EQ(l.name, p.name); // the header was read...
    EXPECT_GT(l.status, 1);    // ...and what followed the name was not
}

TEST_F(TapeLoader, ThePauseMayBeAtEitherLevelOrTheCentre) {
    const TapeProgram p = program();
    for (const uint8_t level : {0x80, 0xBC, 0x44}) {
        for (const double ms : {2.5, 5.0}) {
            SCOPED_TRACE(testing::Message() << "level " << int(level) << ", " << ms << " ms");
            const tape_test::Pause pause{int(ms * 22.05 + 0.5), level};
            const std::string path = dir.write(
                "pause.wav", tape_test::wav_file({}, tape_test::values_of(tape_test::rom_tape(tape_bytes(p), pause))));
            expect_loads(load(path), p);
            TapeProgram decoded;
            EXPECT_TRUE(tape_read_program(path, decoded).done);
        }
    }
}

// Recordings as cassettes and other tools leave them: each decodes, and each
// loads in the machine.
TEST_F(TapeLoader, WornRecordingsDecodeAndLoad) {
    TapeProgram p = program();
    p.data.resize(64);
    const std::vector<double> clean = tape_test::values_of(tape_samples(tape_bytes(p)));
    using tape_test::Sample;
    struct Case {
        const char* what;
        uint32_t rate;
        uint16_t channels;
        std::vector<double> (*damage)(std::vector<double>, uint32_t rate);
        std::vector<double> gains = {};
    };
    const Case cases[] = {
        {"AC-coupled, 0.5 ms", 44100, 1, [](auto x, uint32_t r) { return tape_test::ac_couple(x, r, 0.0005); }},
        {"AC-coupled, 1 ms", 22050, 1, [](auto x, uint32_t r) { return tape_test::ac_couple(x, r, 0.001); }},
        {"peaks at 1 %", 44100, 1, [](auto x, uint32_t) { return tape_test::degrade(x, 0.01 / 0.51, 0, false); }},
        {"peaks at 0.75 %", 22050, 1, [](auto x, uint32_t) { return tape_test::degrade(x, 0.0075 / 0.51, 0, false); }},
        {"inverted", 22050, 1, [](auto x, uint32_t) { return tape_test::degrade(x, 1, 0, true); }},
        {"a third off centre", 22050, 1, [](auto x, uint32_t) { return tape_test::degrade(x, 0.6, 1.0 / 3, false); }},
        {"2 % noise", 44100, 1, [](auto x, uint32_t) { return tape_test::add_noise(x, 0.02, 7); }},
        {"stereo in antiphase", 44100, 2, [](auto x, uint32_t) { return x; }, {1.0, -1.0}},
        {"8000 Hz", 8000, 1, [](auto x, uint32_t) { return x; }},
        {"11025 Hz", 11025, 1, [](auto x, uint32_t) { return x; }},
        {"96000 Hz", 96000, 1, [](auto x, uint32_t) { return x; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<double> worn = c.damage(tape_test::resample_average(clean, 22050, c.rate), c.rate);
        const std::string path = dir.write("worn.wav", tape_test::wav_file({c.rate, c.channels, Sample::s16}, worn, c.gains));
        TapeProgram decoded;
        const FileOutcome r = tape_read_program(path, decoded);
        EXPECT_TRUE(r.done) << r.message;
        EXPECT_EQ(decoded.data, p.data);
        expect_loads(load(path), p);
    }
}

// The ROM's save routine as the recorder sees it: the output changes every
// 1010-1066 T-states for a short half, 2011-2243 for a long one, each bit's
// halves low first; after the name it holds the last level while it prints.
TEST_F(TapeLoader, ACsaveRecordedIsTheConvertersSignalAndLoads) {
    const TapeProgram p = program();
    const Bytes bytes = tape_bytes(p);
    Emulator emu;
    Machine& m = emu.m();
    machine_reset(m);
    emu.io.tape.path = dir.file("csave.wav");
    ASSERT_TRUE(tape_record(m, emu.io));
    int32_t left = m.z80.cycle_period;
    uint8_t latch = 0;
    auto change_after = [&](int32_t interval) {
        left -= interval;
        while (left <= 0) left += m.z80.cycle_period;
        m.z80.cycles_left = left;
        latch ^= 0x04; // bit 2 set is the low level
        bus_write(m, emu.io, 0x6800, latch);
    };
    change_after(50000);
    int n = 0;
    const size_t nameEnd = size_t(std::find(bytes.begin() + 261, bytes.end(), 0) - bytes.begin());
    for (size_t i = 0; i < bytes.size(); ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const int32_t s = 1010 + 28 * (n++ % 3), l = 2011 + 116 * (n % 3);
            const bool last = bit == 0 && i == nameEnd;
            if (bytes[i] >> bit & 1) {
                for (int h = 0; h < 6; ++h) change_after(s);
            } else {
                change_after(s), change_after(s), change_after(l), change_after(last ? l + 9000 : l);
            }
        }
    }
    tape_stop(m, emu.io);
    const Bytes file = TempDir::read(dir.file("csave.wav"));
    ASSERT_GT(file.size(), size_t(kWavHeaderSize));
    EXPECT_TRUE(Bytes(file.begin() + kWavHeaderSize, file.end()) == tape_samples(bytes));
    expect_loads(load(dir.file("csave.wav")), p);
}

} // namespace
