#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "machine/bus.h"
#include "machine/frame.h"
#include "machine/machine.h"
#include "machine/machine_io.h"
#include "machine/ports.h"
#include "support/temp_dir.h"

namespace {

std::unique_ptr<Machine> make_machine() {
    auto m = std::make_unique<Machine>();
    m->settings.romFile[0] = 0;
    machine_reset(*m);
    return m;
}

TEST(PortPrinter, StatusAndOutputOnlyWithAPrinterFile) {
    auto m = make_machine();
    MachineIo io;
    m->settings.joystickEnabled = 0;
    for (int p : {0, 1, 13, 14, 15}) EXPECT_EQ(port_in(*m, io, uint8_t(p)), 0xFF) << p;
    port_out(*m, io, 0, 'x'); // nowhere to go

    TempDir dir;
    const std::string path = dir.file("printer.txt");
    io.printerFile.reset(std::fopen(path.c_str(), "wb"));
    ASSERT_TRUE(io.printerFile);
    for (int p : {0, 1, 13, 14, 15}) EXPECT_EQ(port_in(*m, io, uint8_t(p)), 0xFE) << p;
    for (int p : {16 + 4, 48, 255}) EXPECT_EQ(port_in(*m, io, uint8_t(p)), 0xFF) << p;

    const uint8_t bytes[][2] = {{0, 'A'}, {1, 'b'}, {14, 'B'}, {13, 'c'}, {15, 'd'}, {16 + 4, 'e'},
                                {0, 0x00}, {14, 0xFF}, {32, 'f'}, {128, 'g'}};
    for (const auto& b : bytes) port_out(*m, io, b[0], b[1]);
    machine_flush_files(io);
    EXPECT_EQ(TempDir::read(path), (std::vector<uint8_t>{'A', 'B', 0x00, 0xFF}));
}

TEST(PortJoystick, ReadsOnlyWhenEnabledAndSeesBit7Set) {
    auto m = make_machine();
    MachineIo io;
    m->state.joystickByte = 0x76; // up, right and the second button
    for (int32_t off : {0, 2}) {
        m->settings.joystickEnabled = off;
        EXPECT_EQ(port_in(*m, io, 32), 0xFF);
        EXPECT_EQ(m->state.joystickByte, 0x76); // left alone while disabled
    }
    m->settings.joystickEnabled = 1;
    EXPECT_EQ(port_in(*m, io, 32), 0xF6);
    EXPECT_EQ(m->state.joystickByte, 0xF6);
    EXPECT_EQ(port_in(*m, io, 47), 0xF6);
    EXPECT_EQ(port_in(*m, io, 48), 0xFF);
    EXPECT_EQ(port_in(*m, io, 200), 0xFF);

    // Any port read sets the stored bit 7 again, not only the joystick ports.
    m->state.joystickByte = 0x7F;
    EXPECT_EQ(port_in(*m, io, 0), 0xFF);
    EXPECT_EQ(m->state.joystickByte, 0xFF);
}

TEST(PortExtendedGfx, AustralianPort32GermanPort222) {
    auto m = make_machine();
    MachineIo io;
    m->settings.extendedGfx = kGfxNone;
    port_out(*m, io, 32, 0x0B);
    port_out(*m, io, 222, 0x03);
    EXPECT_EQ(m->state.extGfxMode, 8);

    m->settings.extendedGfx = kGfxAustralian;
    m->state.extVideoRam[3 * kExtVideoBankSize] = 0x33;
    port_out(*m, io, 32, 0x0B);
    EXPECT_EQ(m->state.extGfxMode, 0x0B);
    EXPECT_EQ(bus_read(*m, 0x7000), 0x33);
    port_out(*m, io, 222, 0x00);
    port_out(*m, io, 33, 0x00);
    EXPECT_EQ(m->state.extGfxMode, 0x0B);

    m->settings.extendedGfx = kGfxGerman;
    m->state.extGfxMode = 0x1C;
    port_out(*m, io, 222, 0xFF);
    EXPECT_EQ(m->state.extGfxMode, 0x1F); // the bank bits only
    port_out(*m, io, 222, 0xFE);
    EXPECT_EQ(m->state.extGfxMode, 0x1E);
    port_out(*m, io, 32, 0x00);
    EXPECT_EQ(m->state.extGfxMode, 0x1E);
}

TEST(PortBankSwitch, RoundTripWithFourMegabytes) {
    auto m = make_machine();
    MachineIo io;
    m->settings.ramTop = kRamTop34k;
    m->state.memory[0xC000] = 0x55;
    port_out(*m, io, 0x70, 2);
    EXPECT_EQ(m->state.currentBank, 1);
    EXPECT_EQ(m->state.memory[0xC000], 0x55);

    m->settings.ramTop = kRamTop4mb;
    port_out(*m, io, 0x70, 0); // bank 0 is never shown: 0 means bank 1
    EXPECT_EQ(m->state.currentBank, 1);
    EXPECT_EQ(m->state.memory[0xC000], 0x55);

    port_out(*m, io, 0x70, 2);
    EXPECT_EQ(m->state.currentBank, 2);
    EXPECT_EQ(bus_read(*m, 0xC000), 0x00);
    bus_write(*m, io, 0xC000, 0xAA);
    bus_write(*m, io, 0xFFFF, 0xBB);
    port_out(*m, io, 0x7F, 1); // every port 112-127 switches
    EXPECT_EQ(bus_read(*m, 0xC000), 0x55);
    EXPECT_EQ(bus_read(*m, 0xFFFF), 0x00);
    port_out(*m, io, 0x75, 2);
    EXPECT_EQ(bus_read(*m, 0xC000), 0xAA);
    EXPECT_EQ(bus_read(*m, 0xFFFF), 0xBB);
    EXPECT_EQ(bus_read(*m, 0xBFFF), 0x00); // below the window nothing moves

    port_out(*m, io, 0x6F, 1);
    port_out(*m, io, 0x80, 1);
    EXPECT_EQ(m->state.currentBank, 2);
    port_out(*m, io, 0x70, 255);
    EXPECT_EQ(m->state.currentBank, 255);
    port_out(*m, io, 0x70, 2);
    EXPECT_EQ(bus_read(*m, 0xC000), 0xAA);
}

TEST(PortSoundChip, WritesReachTheChipOnlyWhenEnabled) {
    auto m = make_machine();
    MachineIo io;
    for (int32_t off : {0, 2}) {
        m->settings.extendedSound = off;
        port_out(*m, io, 128, 0x8A);
        port_out(*m, io, 128, 0x05);
        EXPECT_EQ(m->sound.chip.latched, 0) << off;
        EXPECT_EQ(m->sound.chip.frequency[0], 0) << off;
    }
    m->settings.extendedSound = 1;
    port_out(*m, io, 127, 0x8A);
    EXPECT_EQ(m->sound.chip.latched, 0);
    port_out(*m, io, 128, 0x8A);
    EXPECT_EQ(m->sound.chip.latched, 0x8A);
    port_out(*m, io, 128, 0x05);
    EXPECT_NE(m->sound.chip.frequency[0], 0);

    // Another port number; the write still goes on to that port's own device.
    m->settings.soundChipPort = 32;
    m->settings.extendedGfx = kGfxAustralian;
    port_out(*m, io, 32, 0xA3);
    EXPECT_EQ(m->sound.chip.latched, 0xA3);
    EXPECT_EQ(m->state.extGfxMode, 0xA3);
    port_out(*m, io, 128, 0xC1);
    EXPECT_EQ(m->sound.chip.latched, 0xA3);
}

TEST(PortDisk, Ports16To31ReachTheController) {
    auto m = make_machine();
    MachineIo io;
    m->settings.joystickEnabled = 0;
    EXPECT_EQ(m->disk.selectedDrive, -1);
    EXPECT_EQ(port_in(*m, io, 19), 0xFF); // write protect, no drive selected
    port_out(*m, io, 16, 0x10);
    EXPECT_EQ(m->disk.selectedDrive, 0);
    EXPECT_EQ(port_in(*m, io, 19), 0x80); // no image: protected
    EXPECT_EQ(port_in(*m, io, 18) & 0x80, 0x80);
    port_out(*m, io, 16, 0x80);
    EXPECT_EQ(m->disk.selectedDrive, 1);
    port_out(*m, io, 17, 0x10); // only the latch port selects
    EXPECT_EQ(m->disk.selectedDrive, 1);
    port_out(*m, io, 32, 0x10);
    port_out(*m, io, 0, 0x10);
    EXPECT_EQ(m->disk.selectedDrive, 1);
    port_out(*m, io, 16, 0x00);
    EXPECT_EQ(m->disk.selectedDrive, -1);
}

} // namespace
