#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "machine/frame.h"
#include "machine/machine.h"
#include "machine/machine_io.h"
#include "support/temp_dir.h"

namespace {

struct TimingCase {
    int32_t model, tv;
    int32_t linesPerFrame, firstActive, pictureEnd, interrupt;
    float clock;
    int32_t cyclePeriod;
};

TEST(MachineReset, TimingForEveryModelAndTvStandard) {
    const TimingCase cases[] = {
        {kModelVZ200, kTvPal, 312, 63, 255, 306, 3.5795f, 71589},
        {kModelVZ300, kTvPal, 310, 62, 254, 304, 3.5469f, 70938},
        {kModelVZ200, kTvNtsc, 264, 39, 231, 258, 3.5795f, 71589},
        {kModelVZ300, kTvNtsc, 262, 38, 230, 256, 3.5469f, 70938},
    };
    auto m = std::make_unique<Machine>();
    for (const TimingCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " tv " << c.tv);
        m->settings.model = c.model;
        m->settings.tvStandard = c.tv;
        machine_reset(*m);
        const VideoTiming& t = m->state.timing;
        EXPECT_EQ(t.linesPerFrame, c.linesPerFrame);
        EXPECT_EQ(t.blankLines + t.extraLines + t.topBorderLines + t.activeLines + t.bottomBorderLines +
                      t.extraLinesLower + t.syncLines,
                  t.linesPerFrame);
        EXPECT_EQ(first_active_line(t), c.firstActive);
        EXPECT_EQ(t.pictureEndLine, c.pictureEnd);
        EXPECT_EQ(t.interruptLine, c.interrupt);
        EXPECT_EQ(m->settings.clockMHz, c.clock);
        EXPECT_EQ(m->z80.cycle_period, c.cyclePeriod);
        EXPECT_EQ(m->z80.cycles_left, c.cyclePeriod);
    }
}

TEST(MachineReset, ModelChangeWaitsForTheReset) {
    auto m = std::make_unique<Machine>();
    machine_reset(*m);
    m->settings.model = kModelVZ300;
    m->settings.tvStandard = kTvNtsc;
    EXPECT_EQ(m->state.timing.linesPerFrame, 312);
    EXPECT_EQ(m->z80.cycle_period, 71589);
    machine_reset(*m);
    EXPECT_EQ(m->state.timing.linesPerFrame, 262);
    EXPECT_EQ(m->state.timing.interruptLine, 256);
    EXPECT_EQ(m->z80.cycle_period, 70938);
}

TEST(MachineReset, IsAWarmStartOfTheProcessor) {
    auto m = std::make_unique<Machine>();
    m->settings.romFile[0] = 0; // no ROM: memory outside the ROM area must be left alone
    m->state.memory[0x7000] = 0x41;
    m->state.memory[0x9000] = 0x55;
    m->state.extVideoRam[100] = 0x66;
    m->state.latch = 0x18;
    m->state.scanline = 200;
    m->state.extGfxMode = 0x1F;
    m->state.bankStore[7][3] = 9;
    m->z80.pc = 0x1234;
    m->z80.int_state = 0x87;
    machine_reset(*m);
    EXPECT_EQ(m->state.memory[0x7000], 0x41);
    EXPECT_EQ(m->state.memory[0x9000], 0x55);
    EXPECT_EQ(m->state.extVideoRam[100], 0x66);
    EXPECT_EQ(m->state.latch, 0x18);
    EXPECT_EQ(m->state.bankStore[7][3], 9);
    EXPECT_EQ(m->state.scanline, 0);
    EXPECT_EQ(m->state.extGfxMode, 8);
    EXPECT_EQ(m->z80.pc, 0);
    EXPECT_EQ(m->z80.sp, 0xF000);
    EXPECT_EQ(m->z80.int_state, 0);
}

class RomReload : public testing::Test {
protected:
    void SetUp() override {
        m = std::make_unique<Machine>();
        m->state.memory.fill(0xAA);
    }
    void use_rom(const std::string& path) { settings_set_path(m->settings.romFile, path); }
    void use_cartridge(const std::string& path) { settings_set_path(m->settings.cartridgeFile, path); }

    TempDir dir;
    std::unique_ptr<Machine> m;
};

TEST_F(RomReload, ShortRomReadsAsFFPastItsEnd) {
    use_rom(dir.write("half.rom", std::vector<uint8_t>(8192, 0x12)));
    m->settings.cartridgeEnabled = 0;
    machine_reset(*m);
    EXPECT_EQ(m->state.memory[0x0000], 0x12);
    EXPECT_EQ(m->state.memory[0x1FFF], 0x12);
    EXPECT_EQ(m->state.memory[0x2000], 0xFF);
    EXPECT_EQ(m->state.memory[0x3FFF], 0xFF);
    EXPECT_TRUE(m->romImageLoaded);
}

TEST_F(RomReload, DisabledCartridgeLeavesFillerAndKeepsTheUpperArea) {
    use_rom(dir.write("sys.rom", std::vector<uint8_t>(16384, 0x01)));
    use_cartridge(dir.write("dos.rom", std::vector<uint8_t>(10240, 0x02)));
    m->settings.cartridgeEnabled = 0;
    machine_reset(*m);
    EXPECT_EQ(m->state.memory[0x3FFF], 0x01);
    EXPECT_EQ(m->state.memory[0x4000], 0xFF);
    EXPECT_EQ(m->state.memory[0x5FFF], 0xFF);
    EXPECT_EQ(m->state.memory[0x6000], 0xAA);
    EXPECT_EQ(m->state.memory[0x67FF], 0xAA);
    EXPECT_EQ(m->state.memory[0x6800], 0xAA);

    m->settings.cartridgeEnabled = 2; // only exactly 1 counts as enabled
    machine_reset(*m);
    EXPECT_EQ(m->state.memory[0x4000], 0xFF);

    m->settings.cartridgeEnabled = 1;
    machine_reset(*m);
    EXPECT_EQ(m->state.memory[0x4000], 0x02);
    EXPECT_EQ(m->state.memory[0x67FF], 0x02);
    EXPECT_EQ(m->state.memory[0x6800], 0xAA);
}

// What a program finds in the empty slot: 0xFF as data, and a call into it
// runs RST 38h into the ROM's interrupt handler, returning address pushed.
TEST_F(RomReload, ProgramReadingTheEmptySlotSeesFF) {
    std::vector<uint8_t> rom(16384, 0x00);
    const uint8_t handler[] = {0xE1, 0x22, 0x04, 0x90, 0x18, 0xFE}; // POP HL / LD (9004),HL / JR $
    std::copy(std::begin(handler), std::end(handler), rom.begin() + 0x38);
    use_rom(dir.write("sys.rom", rom));
    m->settings.cartridgeEnabled = 0;
    m->settings.ramTop = 0xFFFF;
    machine_reset(*m);
    m->state.memory[0x6000] = 0x66; // kept by the reset, read as it stands
    const uint8_t program[] = {
        0x3A, 0x00, 0x40, 0x32, 0x00, 0x90, // LD A,(4000) / LD (9000),A
        0x3A, 0x85, 0x55, 0x32, 0x01, 0x90, // LD A,(5585) / LD (9001),A
        0x3A, 0xFF, 0x5F, 0x32, 0x02, 0x90, // LD A,(5FFF) / LD (9002),A
        0x3A, 0x00, 0x60, 0x32, 0x03, 0x90, // LD A,(6000) / LD (9003),A
        0x3E, 0x12, 0x32, 0x00, 0x40,       // LD A,12 / LD (4000),A: no effect without Write to Cartridge
        0x3A, 0x00, 0x40, 0x32, 0x06, 0x90, // LD A,(4000) / LD (9006),A
        0x31, 0x00, 0xC0, 0xCD, 0x00, 0x40, // LD SP,C000 / CALL 4000
    };
    std::copy(std::begin(program), std::end(program), m->state.memory.begin() + 0x8000);
    m->z80.pc = 0x8000;
    MachineIo io;
    machine_run_frame(*m, io);
    EXPECT_EQ(m->state.memory[0x9000], 0xFF);
    EXPECT_EQ(m->state.memory[0x9001], 0xFF);
    EXPECT_EQ(m->state.memory[0x9002], 0xFF);
    EXPECT_EQ(m->state.memory[0x9003], 0x66);
    EXPECT_EQ(m->state.memory[0x9006], 0xFF);
    EXPECT_EQ(memory_word(*m, 0x9004), 0x4001); // the byte at 4000 ran as RST 38h
}

TEST_F(RomReload, ShortCartridgeIsPaddedAndMissingOneLeavesFiller) {
    use_rom(dir.write("sys.rom", std::vector<uint8_t>(16384, 0x01)));
    use_cartridge(dir.write("dos.rom", std::vector<uint8_t>(100, 0x02)));
    machine_reset(*m);
    EXPECT_EQ(m->state.memory[0x4063], 0x02);
    EXPECT_EQ(m->state.memory[0x4064], 0xFF);
    EXPECT_EQ(m->state.memory[0x67FF], 0xFF);

    m->state.memory[0x6000] = 0x33;
    use_cartridge(dir.file("absent.rom"));
    machine_reset(*m);
    EXPECT_EQ(m->state.memory[0x4000], 0xFF);
    EXPECT_EQ(m->state.memory[0x6000], 0x33);
}

TEST_F(RomReload, MissingRomTouchesNeitherRomNorCartridgeOnceARomWasLoaded) {
    m->romImageLoaded = true; // otherwise the built-in program stands in for the ROM
    use_rom(dir.file("absent.rom"));
    use_cartridge(dir.write("dos.rom", std::vector<uint8_t>(10240, 0x02)));
    machine_reset(*m);
    EXPECT_EQ(m->state.memory[0x0000], 0xAA);
    EXPECT_EQ(m->state.memory[0x4000], 0xAA);
}

TEST(SettingsRecord, DefaultsAndPathFields) {
    Settings s;
    EXPECT_EQ(s.extendedGfx, kGfxAustralian);
    EXPECT_EQ(s.ramTop, 0xFFFF);
    EXPECT_EQ(s.soundChipPort, 128);
    EXPECT_EQ(settings_path(s.romFile), "vzrom.v20");
    EXPECT_EQ(settings_path(s.cartridgeFile), "vzdos.rom");

    // A foreign record without a terminator ends at the field's end.
    std::memset(s.romFile, 'x', sizeof s.romFile);
    EXPECT_EQ(settings_path(s.romFile).size(), kSettingsPathSize);

    settings_set_path(s.romFile, std::string(600, 'y'));
    EXPECT_EQ(settings_path(s.romFile).size(), kSettingsPathSize - 1);
}

TEST(Palette, ConvertedFormsFollowTheDisplayMasks) {
    DisplayPalette p;
    palette_convert(p, PixelMasks{});
    for (int i = 0; i < kPaletteSize; ++i) EXPECT_EQ(p.packed[i], kPaletteRgb[i]) << i;
    EXPECT_EQ(p.bgr0[kOrange], (std::array<uint8_t, 4>{0x00, 0x80, 0xFF, 0}));
    EXPECT_EQ(p.bgr0[kLightOrange], (std::array<uint8_t, 4>{0x18, 0xC4, 0xFF, 0}));

    palette_convert(p, PixelMasks{0xF800, 0x07E0, 0x001F}); // 5-6-5
    EXPECT_EQ(p.packed[kOrange], (0x1Fu << 11) | (0x20u << 5));
    EXPECT_EQ(p.packed[kGrey], (0x14u << 11) | (0x28u << 5) | 0x14u);

    palette_convert(p, PixelMasks{0x000000FF, 0x0000FF00, 0x00FF0000}); // blue in the high byte
    EXPECT_EQ(p.packed[kLightOrange], 0x18C4FFu);

    palette_convert(p, PixelMasks{0, 0, 0}); // indexed format: nothing to pack
    EXPECT_EQ(p.packed[kBuff], 0u);
}

} // namespace
