#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "files/vz_file.h"
#include "machine/bus.h"
#include "machine/frame.h"
#include "video/picture.h"
#include "machine/machine.h"
#include "machine/machine_io.h"
#include "video/palette.h"

namespace {

std::unique_ptr<Machine> make_machine(int32_t model = kModelVZ200, int32_t tv = kTvPal) {
    auto m = std::make_unique<Machine>();
    m->settings.romFile[0] = 0; // never pick up a ROM image from the working directory
    m->settings.model = model;
    m->settings.tvStandard = tv;
    machine_reset(*m);
    return m;
}

// Places the beam estimate at `line`, `within` cycles into it.
void set_beam(Machine& m, int32_t line, int32_t within = 0) {
    m.z80.cycles_left = m.z80.cycle_period - (line * kCyclesPerLine + within);
}

TEST(BusKeyboard, LowAddressBitsSelectTheRowsThatAreAnded) {
    auto m = make_machine();
    EXPECT_EQ(bus_read(*m, 0x6800), 0xFF); // no key before the first poll
    // Row r has only bit r low, so a read returns exactly its address's low byte.
    for (int r = 0; r < 8; ++r) m->state.keyboardRows[size_t(r)] = uint8_t(~(1 << r));
    for (uint32_t a = 0x6800; a <= 0x6FFF; ++a) ASSERT_EQ(bus_read(*m, uint16_t(a)), a & 0xFF) << std::hex << a;

    m->state.keyboardRows.fill(0xFF);
    m->state.keyboardRows[1] = 0xEF; // host A
    EXPECT_EQ(bus_read(*m, 0x68FD), 0xEF);
    EXPECT_EQ(bus_read(*m, 0x6800), 0xEF);
    EXPECT_EQ(bus_read(*m, 0x68FE), 0xFF);
    EXPECT_EQ(bus_read(*m, 0x68FF), 0xFF);
}

TEST(BusKeyboard, FieldSyncBitFollowsTheScanline) {
    for (auto [model, tv] : {std::pair{kModelVZ200, kTvPal}, std::pair{kModelVZ300, kTvNtsc}}) {
        auto m = make_machine(model, tv);
        const int32_t end = m->state.timing.pictureEndLine;
        SCOPED_TRACE(end);
        for (int32_t line : {0, 100, end}) {
            m->state.scanline = line;
            EXPECT_EQ(bus_read(*m, 0x68FF), 0xFF) << line;
        }
        for (int32_t line : {end + 1, m->state.timing.interruptLine, m->state.timing.linesPerFrame - 1}) {
            m->state.scanline = line;
            EXPECT_EQ(bus_read(*m, 0x68FF), 0x7F) << line;
        }
    }
}

TEST(BusKeyboard, CassetteInputBitFollowsTapeLevel) {
    auto m = make_machine();
    m->state.tapeLevel = 181;
    EXPECT_EQ(bus_read(*m, 0x68FF), 0xFF);
    m->state.tapeLevel = 182;
    EXPECT_EQ(bus_read(*m, 0x68FF), 0xBF);
    m->state.tapeLevel = 0xFF;
    m->state.scanline = m->state.timing.pictureEndLine + 1;
    m->state.keyboardRows[0] = 0xFE;
    EXPECT_EQ(bus_read(*m, 0x68FE), 0x3E);
}

TEST(BusWriteProtect, RomAndCartridgeTakeWritesOnlyWhenTheirSwitchIsExactlyOne) {
    auto m = make_machine();
    MachineIo io;
    struct Area {
        uint16_t address;
        int32_t Settings::*own;
        int32_t Settings::*other;
    };
    for (const Area& a : {Area{0x0000, &Settings::writeToRom, &Settings::writeToCartridge},
                          Area{0x3FFF, &Settings::writeToRom, &Settings::writeToCartridge},
                          Area{0x4000, &Settings::writeToCartridge, &Settings::writeToRom},
                          Area{0x67FF, &Settings::writeToCartridge, &Settings::writeToRom}}) {
        SCOPED_TRACE(a.address);
        m->state.memory[a.address] = 0xC3;
        m->settings.*a.own = 0;
        m->settings.*a.other = 1;
        bus_write(*m, io, a.address, 0x11);
        EXPECT_EQ(m->state.memory[a.address], 0xC3);
        m->settings.*a.other = 0;
        m->settings.*a.own = 2;
        bus_write(*m, io, a.address, 0x22);
        EXPECT_EQ(m->state.memory[a.address], 0xC3);
        m->settings.*a.own = 1;
        bus_write(*m, io, a.address, 0x33);
        EXPECT_EQ(m->state.memory[a.address], 0x33);
        EXPECT_EQ(bus_read(*m, a.address), 0x33);
        m->settings.*a.own = 0;
    }
}

// Both sides of every boundary of the map, with each graphics option: memory
// holds 0x10 + its page and the extended video banks 0xB0, so each read shows
// which of them answered (the keyboard, with no key down, answers 0xFF).
TEST(BusMap, EachSideOfEveryBoundaryReadsWhatLivesThere) {
    struct Side {
        uint16_t address;
        int plain, extended; // with the extended graphics off and on; -1 for the memory mark
    };
    const Side sides[] = {
        {0x0000, -1, -1}, {0x3FFF, -1, -1}, {0x4000, -1, -1}, {0x67FF, -1, -1},
        {0x6800, 0xFF, 0xFF}, {0x6FFF, 0xFF, 0xFF}, {0x7000, -1, 0xB0}, {0x77FF, -1, 0xB0},
        {0x7800, -1, -1}, {0x7801, -1, -1}, {0xFFFF, -1, -1},
    };
    for (int32_t gfx : {kGfxNone, kGfxAustralian, kGfxGerman}) {
        auto m = make_machine();
        m->settings.extendedGfx = gfx;
        m->state.scanline = 0;
        for (size_t a = 0; a < m->state.memory.size(); ++a) m->state.memory[a] = uint8_t(0x10 + (a >> 12));
        m->state.extVideoRam.fill(0xB0);
        for (const Side& side : sides) {
            const int want = gfx == kGfxNone ? side.plain : side.extended;
            const uint8_t mark = uint8_t(0x10 + (side.address >> 12));
            EXPECT_EQ(bus_read(*m, side.address), want < 0 ? mark : want)
                << "gfx " << gfx << " address " << std::hex << side.address;
        }
    }
}

TEST(BusRamTop, NothingAnswersAboveRamTop) {
    auto m = make_machine();
    MachineIo io;
    for (auto [top, last] : {std::pair{kRamTop8k, 0x8FFF}, std::pair{kRamTop34k, 0xF7FF}}) {
        m->settings.ramTop = top;
        bus_write(*m, io, uint16_t(last), 0x12);
        EXPECT_EQ(bus_read(*m, uint16_t(last)), 0x12);
        m->state.memory[size_t(last + 1)] = 0x34;
        EXPECT_EQ(bus_read(*m, uint16_t(last + 1)), 0x7F);
        bus_write(*m, io, uint16_t(last + 1), 0x56);
        EXPECT_EQ(m->state.memory[size_t(last + 1)], 0x34);
        EXPECT_EQ(bus_read(*m, 0xFFFF), 0x7F);
    }
}

TEST(BusRamTop, LowRamTopHidesVideoAndKeyboardButNotTheLatch) {
    auto m = make_machine();
    MachineIo io;
    m->settings.extendedGfx = kGfxNone;
    m->state.memory[0x7000] = 0x41;
    m->settings.ramTop = 0x6FFF;
    EXPECT_EQ(bus_read(*m, 0x7000), 0x7F);
    EXPECT_EQ(bus_read(*m, 0x6FFF), 0xFF);
    m->settings.ramTop = 0x67FF;
    EXPECT_EQ(bus_read(*m, 0x6800), 0x7F);
    // The latch write is not a RAM store, so the ceiling does not stop it.
    bus_write(*m, io, 0x6800, 0x20);
    EXPECT_EQ(m->state.latch, 0x20);
    EXPECT_EQ(m->state.speakerLevel, -32768);
}

TEST(BusLatch, SpeakerAndTapeFollowTheirBitsOnlyWhenTheirBitsChange) {
    auto m = make_machine();
    MachineIo io;
    m->state.tapeLevel = 0x80;
    bus_write(*m, io, 0x6800, 0x20);
    EXPECT_EQ(m->state.latch, 0x20);
    EXPECT_EQ(m->state.speakerLevel, -32768);
    EXPECT_EQ(m->state.tapeLevel, 0x80);
    bus_write(*m, io, 0x6800, 0x24);
    EXPECT_EQ(m->state.tapeLevel, 0x00);
    bus_write(*m, io, 0x6FFF, 0x00); // anywhere in the area is the latch
    EXPECT_EQ(m->state.latch, 0x00);
    EXPECT_EQ(m->state.speakerLevel, 32767);
    EXPECT_EQ(m->state.tapeLevel, 0xFF);
    bus_write(*m, io, 0x6FFF, 0x10);
    EXPECT_EQ(m->state.memory[0x6FFF], 0x10);
    EXPECT_EQ(bus_read(*m, 0x6FFF), 0xBF); // the keyboard, cassette input low; never the stored byte

    // Bit 1 alone triggers the cassette update, but the level comes from bit 2.
    bus_write(*m, io, 0x6800, 0x00);
    m->state.tapeLevel = 0x80;
    m->state.speakerLevel = 0;
    bus_write(*m, io, 0x6800, 0x02);
    EXPECT_EQ(m->state.tapeLevel, 0xFF);
    EXPECT_EQ(m->state.speakerLevel, 0);
    m->state.tapeLevel = 0x80;
    bus_write(*m, io, 0x6800, 0x06);
    EXPECT_EQ(m->state.tapeLevel, 0x00);

    // Bit 0 alone triggers the speaker update, the level comes from bit 5.
    bus_write(*m, io, 0x6800, 0x26);
    m->state.speakerLevel = 0;
    m->state.tapeLevel = 0x80;
    bus_write(*m, io, 0x6800, 0x27);
    EXPECT_EQ(m->state.speakerLevel, -32768);
    EXPECT_EQ(m->state.tapeLevel, 0x80);
    m->state.speakerLevel = 0;
    bus_write(*m, io, 0x6800, 0xFF); // bits 3, 4, 6 and 7 move neither level
    EXPECT_EQ(m->state.speakerLevel, 0);
    EXPECT_EQ(m->state.tapeLevel, 0x80);
}

TEST(BusBorder, ModeChangeOutsideThePictureKeepsTheOldLatchForTheBorder) {
    struct Case {
        int32_t model, tv, line, within;
        bool takesOldLatch;
    };
    const Case cases[] = {
        {kModelVZ200, kTvPal, 306, 0, true},    // interrupt line
        {kModelVZ200, kTvPal, 305, 227, false},
        {kModelVZ200, kTvPal, 311, 0, true},
        {kModelVZ200, kTvPal, 0, 0, true},
        {kModelVZ200, kTvPal, 37, 227, true},
        {kModelVZ200, kTvPal, 38, 0, false},    // a fixed 38, even with 25 extra lines
        {kModelVZ200, kTvPal, 62, 0, false},
        {kModelVZ300, kTvNtsc, 256, 0, true},
        {kModelVZ300, kTvNtsc, 255, 227, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " line " << c.line << "+" << c.within);
        auto m = make_machine(c.model, c.tv);
        MachineIo io;
        bus_write(*m, io, 0x6800, 0x30);
        m->state.borderLatch = 0x55;
        set_beam(*m, c.line, c.within);
        bus_write(*m, io, 0x6800, 0x38);
        EXPECT_EQ(m->state.borderLatch, c.takesOldLatch ? 0x30 : 0x55);
        EXPECT_EQ(m->state.latch, 0x38);
        m->state.borderLatch = 0x55;
        bus_write(*m, io, 0x6800, 0xCF); // every bit but the mode bit
        EXPECT_EQ(m->state.borderLatch, 0x55);
    }
}

TEST(BusExtendedVideo, AustralianBankFollowsTheModeRegister) {
    auto m = make_machine();
    MachineIo io;
    m->settings.extendedGfx = kGfxAustralian;
    m->state.extGfxMode = 0x0A;
    bus_write(*m, io, 0x7000, 0x5A);
    bus_write(*m, io, 0x77FF, 0xA5);
    EXPECT_EQ(m->state.memory[0x7000], 0x5A);
    EXPECT_EQ(m->state.memory[0x77FF], 0xA5);
    EXPECT_EQ(m->state.extVideoRam[2 * kExtVideoBankSize], 0x5A);
    EXPECT_EQ(m->state.extVideoRam[3 * kExtVideoBankSize - 1], 0xA5);
    for (int bank : {0, 1, 3}) EXPECT_EQ(m->state.extVideoRam[size_t(bank * kExtVideoBankSize)], 0) << bank;

    m->state.memory[0x7000] = 0x00;
    EXPECT_EQ(bus_read(*m, 0x7000), 0x5A); // the bank, not memory
    m->state.extVideoRam[3 * kExtVideoBankSize] = 0x33;
    m->state.extGfxMode = 0x0B;
    EXPECT_EQ(bus_read(*m, 0x7000), 0x33);

    m->settings.extendedGfx = kGfxNone;
    EXPECT_EQ(bus_read(*m, 0x7000), 0x00);
    bus_write(*m, io, 0x7001, 0x77);
    EXPECT_EQ(m->state.memory[0x7001], 0x77);
    EXPECT_EQ(m->state.extVideoRam[3 * kExtVideoBankSize + 1], 0x00);
}

// Title pictures and small utilities load into video RAM and start there: the
// loader, the processor and the screen must agree on where those bytes are,
// whatever bank the processor has selected.
TEST(BusVideoRam, MachineCodeLoadedThereRunsUnderEveryGraphicsOptionAndBank) {
    // At 7200: LD A,5A / LD (9000),A / LD A,(7000) / LD (9001),A / JR $
    const uint8_t code[] = {0x3E, 0x5A, 0x32, 0x00, 0x90, 0x3A, 0x00, 0x70, 0x32, 0x01, 0x90, 0x18, 0xFE};
    std::vector<uint8_t> file(24 + sizeof code, 0);
    std::memcpy(file.data(), "VZF0", 4);
    file[21] = 0xF1; // machine code
    file[23] = 0x72;
    std::memcpy(file.data() + 24, code, sizeof code);
    std::vector<uint8_t> title(24 + 2, 0); // a two-byte "picture" at 7000
    title[21] = 0xF1;
    title[23] = 0x70;
    title[24] = 0x41;
    title[25] = 0x42;
    for (int32_t gfx : {kGfxNone, kGfxAustralian, kGfxGerman}) {
        for (uint8_t bank = 0; bank < 4; ++bank) {
            SCOPED_TRACE(testing::Message() << "graphics " << gfx << " bank " << int(bank));
            auto m = make_machine();
            MachineIo io;
            m->settings.extendedGfx = gfx;
            m->state.extGfxMode = uint8_t(8 | bank);
            ASSERT_TRUE(vz_load_bytes(*m, title).done);
            ASSERT_TRUE(vz_load_bytes(*m, file).done);
            machine_run_frame(*m, io);
            EXPECT_EQ(m->z80.pc, 0x720B);
            EXPECT_EQ(m->state.memory[0x9000], 0x5A);
            EXPECT_EQ(m->state.memory[0x9001], 0x41);
            // The screen shows the first bank: the title is on it unless the
            // processor had another bank selected.
            const bool shown = gfx == kGfxNone || bank == 0;
            EXPECT_EQ(screen_text(*m).substr(0, 2), shown ? "AB" : "@@");
        }
    }
}

TEST(BusGermanHook, LatchCopyWithModeBitSetsTheExtendedBits) {
    auto m = make_machine();
    MachineIo io;
    m->settings.extendedGfx = kGfxGerman;
    EXPECT_EQ(m->state.extGfxMode, 8);
    bus_write(*m, io, 0x783B, 0xF7); // bit 3 clear
    EXPECT_EQ(m->state.extGfxMode, 8);
    EXPECT_EQ(m->state.memory[0x783B], 0xF7);
    bus_write(*m, io, 0x783B, 0x08);
    EXPECT_EQ(m->state.extGfxMode, 0x1C);
    EXPECT_EQ(m->state.memory[0x783B], 0x08);
    bus_write(*m, io, 0x783B, 0x00);
    EXPECT_EQ(m->state.extGfxMode, 0x1C);
    EXPECT_EQ(m->state.memory[0x783B], 0x00);
    m->state.extGfxMode = 0x01;
    bus_write(*m, io, 0x783A, 0x08);
    bus_write(*m, io, 0x783C, 0x08);
    EXPECT_EQ(m->state.extGfxMode, 0x01);

    for (int32_t gfx : {kGfxNone, kGfxAustralian}) {
        m->settings.extendedGfx = gfx;
        bus_write(*m, io, 0x783B, 0xFF);
        EXPECT_EQ(m->state.extGfxMode, 0x01) << gfx;
        EXPECT_EQ(m->state.memory[0x783B], 0xFF) << gfx;
    }
}

class BusEffectsDash : public testing::Test {
protected:
    void SetUp() override {
        m = make_machine();
        m->settings.effects6847 = 1;
        m->frameBuffer.fill(0);
    }
    int grey_count() const {
        int n = 0;
        for (uint8_t p : m->frameBuffer) n += p == kGrey;
        return n;
    }
    bool dash_at(int row, int cell) const {
        const size_t at = size_t(row) * kFrameWidth + kPictureLeft + size_t(cell) * 8;
        for (size_t i = 0; i < 8; ++i)
            if (m->frameBuffer[at + i] != kGrey) return false;
        return m->frameBuffer[at - 1] != kGrey && m->frameBuffer[at + 8] != kGrey;
    }
    std::unique_ptr<Machine> m;
    MachineIo io;
};

TEST_F(BusEffectsDash, MarksTheCellUnderTheBeam) {
    // PAL VZ200: the picture lines are 63 to 255, frame row = line - 38.
    struct Case {
        int32_t line, within;
        int row, cell;
    };
    for (const Case& c : {Case{100, 114, 62, 16}, Case{63, 0, 25, 0}, Case{255, 227, 217, 31}}) {
        m->frameBuffer.fill(0);
        set_beam(*m, c.line, c.within);
        bus_write(*m, io, 0x7123, 0x41);
        EXPECT_TRUE(dash_at(c.row, c.cell)) << c.line;
        EXPECT_EQ(grey_count(), 8) << c.line;
    }
    EXPECT_EQ(m->state.memory[0x7123], 0x41);
}

TEST_F(BusEffectsDash, NothingForZeroOutsideThePictureOrWhenOff) {
    set_beam(*m, 100, 114);
    bus_write(*m, io, 0x7000, 0x00);
    for (auto [line, within] : {std::pair{62, 227}, std::pair{256, 0}, std::pair{0, 0}, std::pair{311, 100}}) {
        set_beam(*m, line, within);
        bus_write(*m, io, 0x7000, 0x41);
    }
    set_beam(*m, 100, 114);
    bus_write(*m, io, 0x7800, 0x41); // RAM, not video
    m->settings.effects6847 = 2;
    bus_write(*m, io, 0x7000, 0x41);
    m->settings.effects6847 = 0;
    bus_write(*m, io, 0x7000, 0x41);
    EXPECT_EQ(grey_count(), 0);
}

TEST_F(BusEffectsDash, StaysInsideThePictureAtEveryCycleOfTheFrame) {
    for (auto [model, tv] : {std::pair{kModelVZ200, kTvPal}, std::pair{kModelVZ300, kTvNtsc}}) {
        m = make_machine(model, tv);
        m->settings.effects6847 = 1;
        m->frameBuffer.fill(0);
        // Past the end too: the last instruction of a frame overshoots it.
        for (int32_t elapsed = 0; elapsed <= m->z80.cycle_period + 30; ++elapsed) {
            m->z80.cycles_left = m->z80.cycle_period - elapsed;
            bus_write(*m, io, 0x7000, 0xFF);
        }
        int rowsMarked = 0;
        for (int row = 0; row < kFrameHeight; ++row) {
            int inRow = 0;
            for (int x = 0; x < kFrameWidth; ++x) {
                if (m->frameBuffer[size_t(row * kFrameWidth + x)] != kGrey) continue;
                ++inRow;
                EXPECT_TRUE(row >= 25 && row <= 217 && x >= kPictureLeft && x < kPictureLeft + kPictureWidth)
                    << "model " << model << " row " << row << " x " << x;
            }
            if (inRow == kPictureWidth) ++rowsMarked;
        }
        EXPECT_EQ(rowsMarked, 193) << "model " << model;
    }
}

} // namespace
