// The program the machine runs when it has no system ROM, driven as the
// desktop program drives it: reset, then frame steps with keyboard polling.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "input/keyboard.h"
#include "machine/builtin_program.h"
#include "machine/frame.h"
#include "machine/machine.h"
#include "machine/machine_io.h"
#include "support/temp_dir.h"

namespace {

constexpr int kEchoTop = 13; // the echo rows are the last three of the screen

struct MachineOption {
    int32_t model, tv, ramTop, extendedGfx;
};

void PrintTo(const MachineOption& o, std::ostream* os) {
    *os << "model " << o.model << " tv " << o.tv << " ramTop " << std::hex << o.ramTop << std::dec << " gfx "
        << o.extendedGfx;
}

class BuiltinProgram : public testing::TestWithParam<MachineOption> {
protected:
    void SetUp() override {
        m = std::make_unique<Machine>();
        m->state.memory.fill(0xAA); // whatever RAM held before the reset
        settings_set_path(m->settings.romFile, dir.file("absent.rom"));
    }

    void start(const MachineOption& o = {kModelVZ200, kTvPal, kRamTop4mb, kGfxAustralian}) {
        m->settings.model = o.model;
        m->settings.tvStandard = o.tv;
        m->settings.ramTop = o.ramTop;
        m->settings.extendedGfx = o.extendedGfx;
        machine_reset(*m);
        run_frames(3);
    }

    // One frame step as the host runs it: the frame, then the keyboard poll.
    // Every speaker sample pushed meanwhile is compared with the one before.
    void run_frames(int n, const HostKeys& keys = {}) {
        for (int i = 0; i < n; ++i) {
            machine_run_frame(*m, io);
            poll_input(*m, keys);
            const SoundStream& s = m->sound.streams[0];
            for (; sampleIndex != s.writeIndex; sampleIndex = (sampleIndex + 1) % kSoundRingSize) {
                if (s.ring[sampleIndex] != lastSample) ++speakerChanges;
                lastSample = s.ring[sampleIndex];
            }
        }
    }

    void type(std::string_view text) {
        ASSERT_TRUE(typing_start(*m, text));
        for (size_t f = 0; f < 12 * text.size() + 4 && m->input.typingActive; ++f) run_frames(1);
        ASSERT_FALSE(m->input.typingActive);
        run_frames(4);
    }

    // Presses host keys together for two frames, then lets go for two.
    void press(std::initializer_list<HostKey> keys) {
        HostKeys held;
        for (HostKey k : keys) held.set(k);
        run_frames(2, held);
        run_frames(2);
    }

    uint8_t cell(int row, int column) const { return m->state.memory[0x7000 + row * 32 + column]; }

    // A text row as characters: both halves of the character codes read as the
    // same characters (they differ only in which colour is in front).
    std::string row(int r) const {
        std::string text;
        for (int c = 0; c < 32; ++c) {
            const uint8_t code = cell(r, c);
            const int k = code & 0x3F;
            text += code >= 0x80 ? '#' : char(k < 0x20 ? '@' + k : k);
        }
        return text;
    }

    std::string trimmed_row(int r) const {
        std::string text = row(r);
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }

    std::string screen() const {
        std::string text;
        for (int r = 0; r < 16; ++r) text += row(r) + "\n";
        return text;
    }

    TempDir dir;
    std::unique_ptr<Machine> m;
    MachineIo io;
    uint32_t sampleIndex = 0;
    int16_t lastSample = 0;
    int speakerChanges = 0;
};

TEST_P(BuiltinProgram, ExplainsTheMissingRomAndEchoesTypedText) {
    start(GetParam());
    const std::string text = screen();
    EXPECT_NE(text.find("NO SYSTEM ROM WAS FOUND"), std::string::npos) << text;
    EXPECT_NE(text.find("FILE > LOAD ROM"), std::string::npos) << text;
    EXPECT_NE(text.find("FILE > RESET"), std::string::npos) << text;
    EXPECT_NE(text.find("VZROM.V20"), std::string::npos) << text;
    EXPECT_NE(text.find("--ROM FILE"), std::string::npos) << text;
    EXPECT_NE(text.find("HOME/.LOCAL/SHARE/KOLT/KOLT/ROMS"), std::string::npos) << text;
    EXPECT_EQ(m->state.latch & 0x08, 0) << "the text screen needs the latch's graphics bit clear";

    type("HELLO 42\r");
    EXPECT_EQ(trimmed_row(kEchoTop), "HELLO 42") << screen();
    EXPECT_EQ(cell(kEchoTop + 1, 0), 0x20) << "the cursor starts the next echo row";
}

INSTANTIATE_TEST_SUITE_P(BuiltinOnEveryModelAndMemoryOption, BuiltinProgram,
                         testing::Values(MachineOption{kModelVZ200, kTvPal, kRamTop4mb, kGfxAustralian},
                                         MachineOption{kModelVZ300, kTvNtsc, kRamTop8k, kGfxNone},
                                         MachineOption{kModelVZ200, kTvNtsc, kRamTop18k, kGfxGerman}));

using BuiltinProgramScreen = BuiltinProgram;

TEST_F(BuiltinProgramScreen, WritesOrdinaryTextWithAnInvertedTitleAndOnlyInTheRomArea) {
    start();
    // The machine's ordinary text has bit 6 set; the title stands out without it.
    EXPECT_EQ(cell(2, 1), 'T' - '@' + 0x40) << screen();
    EXPECT_EQ(cell(2, 0), 0x60);
    EXPECT_EQ(cell(0, 4), 'N' - '@') << screen();
    EXPECT_EQ(cell(0, 0), 0x20);
    // No echo yet: one cursor cell, the rest blank.
    EXPECT_EQ(row(kEchoTop), std::string(32, ' '));
    EXPECT_EQ(cell(kEchoTop, 0), 0x20);
    for (int c = 1; c < 32; ++c) EXPECT_EQ(cell(kEchoTop, c), 0x60) << c;

    const auto program = builtin_program();
    ASSERT_LT(program.size(), 0x4000u);
    EXPECT_TRUE(std::equal(program.begin(), program.end(), m->state.memory.begin()));
    for (size_t a = program.size(); a < 0x4000; ++a) ASSERT_EQ(m->state.memory[a], 0xFF) << a;
    // The cartridge area is left as it was.
    for (size_t a = 0x4000; a < 0x6800; ++a) ASSERT_EQ(m->state.memory[a], 0xAA) << a;
}

TEST_F(BuiltinProgramScreen, EchoesShiftedSymbolsAsTheKeysAreLabelled) {
    start();
    const std::string symbols = "A+B=C? \"OK\" (1/2)*3<4>0 @$%!#&',.-:;[]^\\";
    ASSERT_GT(symbols.size(), 32u);
    type(symbols + "\r");
    EXPECT_EQ(row(kEchoTop), symbols.substr(0, 32)) << screen();
    EXPECT_EQ(trimmed_row(kEchoTop + 1), symbols.substr(32)) << screen();
}

TEST_F(BuiltinProgramScreen, WrapsAndScrollsOnlyTheEchoRows) {
    start();
    const std::string message = screen().substr(0, kEchoTop * 33);
    const std::string line = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    type(line);
    EXPECT_EQ(trimmed_row(kEchoTop), line.substr(0, 32));
    EXPECT_EQ(trimmed_row(kEchoTop + 1), line.substr(32));

    type("\rONE\rTWO\rTHREE\r");
    EXPECT_EQ(trimmed_row(kEchoTop), "TWO") << screen();
    EXPECT_EQ(trimmed_row(kEchoTop + 1), "THREE") << screen();
    EXPECT_EQ(trimmed_row(kEchoTop + 2), "") << screen();
    EXPECT_EQ(cell(kEchoTop + 2, 0), 0x20) << "cursor on the freed bottom row";
    EXPECT_EQ(screen().substr(0, kEchoTop * 33), message) << "the message rows must not scroll";

    // A full bottom row scrolls as RETURN does.
    type(std::string(32, 'X'));
    EXPECT_EQ(trimmed_row(kEchoTop), "THREE") << screen();
    EXPECT_EQ(trimmed_row(kEchoTop + 1), std::string(32, 'X')) << screen();
    EXPECT_EQ(cell(kEchoTop + 2, 0), 0x20);
}

TEST_F(BuiltinProgramScreen, HeldKeyEchoesOnceAndBackspaceErases) {
    start();
    HostKeys a;
    a.set(kKeyA);
    run_frames(10, a);
    run_frames(2);
    press({kKeyB});
    press({kKeyLeftShift, kKey2});
    EXPECT_EQ(trimmed_row(kEchoTop), "AB\"") << screen();

    press({kKeyBack}); // the machine's CTRL M
    press({kKeyBack});
    EXPECT_EQ(trimmed_row(kEchoTop), "A") << screen();
    EXPECT_EQ(cell(kEchoTop, 1), 0x20) << "cursor where the B was";
    press({kKeyBack});
    press({kKeyBack}); // at the start of the row: nothing more to erase
    EXPECT_EQ(trimmed_row(kEchoTop), "") << screen();
    EXPECT_EQ(trimmed_row(kEchoTop - 1), " KEYS YOU TYPE SHOW BELOW:") << screen();

    press({kKeyLeftControl, kKeyA}); // other CTRL keys echo nothing
    press({kKeyLeftShift});
    press({kKeyLeftControl});
    EXPECT_EQ(trimmed_row(kEchoTop), "") << screen();
    EXPECT_EQ(cell(kEchoTop, 0), 0x20);
}

TEST_F(BuiltinProgramScreen, ClicksTheSpeakerOnEveryKeyAndOnlyThen) {
    start();
    run_frames(20);
    EXPECT_EQ(speakerChanges, 0) << "the speaker stays still without keys";

    type("AB\r");
    const int perKey = speakerChanges / 3;
    EXPECT_GE(perKey, 8) << speakerChanges;

    speakerChanges = 0;
    press({kKeyLeftShift});
    run_frames(20);
    EXPECT_EQ(speakerChanges, 0) << "SHIFT alone types nothing";

    press({kKeyQ});
    EXPECT_GE(speakerChanges, perKey / 2);
    EXPECT_EQ(m->state.latch & 0x08, 0) << "clicking keeps the text screen";
}

TEST(BuiltinProgramInstall, OnlyUntilAnyRomWasLoaded) {
    TempDir dir;
    const auto program = builtin_program();
    auto m = std::make_unique<Machine>();
    m->state.memory.fill(0xAA);
    settings_set_path(m->settings.romFile, dir.file("absent.rom"));
    machine_reset(*m);
    EXPECT_TRUE(std::equal(program.begin(), program.end(), m->state.memory.begin()));
    EXPECT_FALSE(m->romImageLoaded);

    settings_set_path(m->settings.romFile, dir.write("sys.rom", std::vector<uint8_t>(16384, 0x12)));
    machine_reset(*m);
    ASSERT_TRUE(m->romImageLoaded);
    settings_set_path(m->settings.romFile, dir.file("gone.rom"));
    machine_reset(*m);
    for (size_t a = 0; a < 0x4000; ++a) ASSERT_EQ(m->state.memory[a], 0x12) << a;

    // A ROM loaded through the menu counts the same as one loaded by a reset.
    auto fresh = std::make_unique<Machine>();
    fresh->state.memory.fill(0xAA);
    fresh->romImageLoaded = true;
    settings_set_path(fresh->settings.romFile, dir.file("absent.rom"));
    machine_reset(*fresh);
    for (size_t a = 0; a < 0x4000; ++a) ASSERT_EQ(fresh->state.memory[a], 0xAA) << a;
}

} // namespace
