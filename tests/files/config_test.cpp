#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "files/config.h"
#include "machine/frame.h"
#include "machine/machine.h"
#include "machine/machine_io.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kRecordSize = 1076;

Bytes image_of(const Settings& s) {
    Bytes b(sizeof s);
    std::memcpy(b.data(), &s, sizeof s);
    return b;
}

void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

Settings filled_with(uint8_t byte) {
    Settings s;
    std::memset(static_cast<void*>(&s), byte, sizeof s);
    return s;
}

// The image a first start writes, byte by byte from the file format.
Bytes default_image() {
    Bytes b(kRecordSize, 0);
    put32(b, 12, 1);      // Australian graphics
    put32(b, 20, 1);      // cartridge enabled
    put32(b, 24, 1);      // joystick enabled
    put32(b, 36, 0xFFFF); // ramTop
    put32(b, 44, 128);    // SN76489 port
    b[48] = b[49] = b[50] = 1;
    std::memcpy(&b[51], "vzrom.v20", 9);
    std::memcpy(&b[563], "vzdos.rom", 9);
    return b;
}

TEST(ConfigFile, FirstStartWritesTheDefaults) {
    TempDir dir;
    Settings s = filled_with(0x5A);
    ASSERT_TRUE(config_load(s, dir.file("")));
    const Bytes file = TempDir::read(dir.file("kolt.cfg"));
    EXPECT_EQ(file.size(), kRecordSize);
    EXPECT_EQ(file, default_image());
    EXPECT_EQ(image_of(s), default_image());
}

TEST(ConfigFile, SaveAfterVz300NtscAndResetStoresTheNewClock) {
    TempDir dir;
    auto m = std::make_unique<Machine>();
    m->settings.model = kModelVZ300;
    m->settings.tvStandard = kTvNtsc;
    machine_reset(*m);
    ASSERT_TRUE(config_save(m->settings, dir.file("")));
    const Bytes file = TempDir::read(dir.file("kolt.cfg"));
    ASSERT_EQ(file.size(), kRecordSize);
    Bytes expected = default_image();
    put32(expected, 0, 1);
    put32(expected, 8, 1);
    const float clock = 3.5469f;
    std::memcpy(&expected[4], &clock, 4);
    EXPECT_EQ(file, expected);

    // And it loads back as it was saved.
    Settings loaded = filled_with(0x33);
    ASSERT_TRUE(config_load(loaded, dir.file("")));
    EXPECT_EQ(image_of(loaded), expected);
}

TEST(ConfigFile, ShortFilesFillOnlyTheLeadingPartOfAClearedRecord) {
    TempDir dir;
    // An empty file: all zeros, and the file is not rewritten by loading.
    dir.write("kolt.cfg", {});
    Settings s;
    ASSERT_TRUE(config_load(s, dir.file("")));
    EXPECT_EQ(image_of(s), Bytes(kRecordSize, 0));
    EXPECT_EQ(s.model, kModelVZ200);
    EXPECT_EQ(s.extendedGfx, kGfxNone);
    EXPECT_EQ(s.cartridgeEnabled, 0);
    EXPECT_EQ(s.ramTop, 0);
    EXPECT_EQ(s.frameRateNormal, 0);
    EXPECT_EQ(settings_path(s.romFile), "");
    EXPECT_EQ(std::filesystem::file_size(dir.file("kolt.cfg")), 0u);

    // Twelve bytes: model, clock and TV standard, nothing more.
    Bytes twelve(12, 0);
    put32(twelve, 0, 1);
    put32(twelve, 4, 0x7FC00000); // a NaN clock is never used
    put32(twelve, 8, 1);
    Bytes expected(kRecordSize, 0);
    std::copy(twelve.begin(), twelve.end(), expected.begin());

    dir.write("kolt.cfg", twelve);
    s = Settings{};
    ASSERT_TRUE(config_load(s, dir.file("")));
    EXPECT_EQ(image_of(s), expected);
    EXPECT_EQ(TempDir::read(dir.file("kolt.cfg")), twelve);

    const std::string other = dir.write("other.cfg", twelve);
    s = filled_with(0xC3);
    ASSERT_TRUE(config_read_file(s, other));
    EXPECT_EQ(image_of(s), expected);
}

TEST(ConfigFile, SaveWritesTheWholeRecordAndKeepsALongerFilesTail) {
    TempDir dir;
    dir.write("kolt.cfg", Bytes(1200, 0xAB));
    Settings s;
    // All 512 bytes of a path field are written, also past its terminator.
    std::memcpy(s.romFile, "a.rom\0stale", 11);
    ASSERT_TRUE(config_save(s, dir.file("")));
    const Bytes file = TempDir::read(dir.file("kolt.cfg"));
    ASSERT_EQ(file.size(), 1200u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + kRecordSize), image_of(s));
    EXPECT_EQ(Bytes(file.begin() + kRecordSize, file.end()), Bytes(1200 - kRecordSize, 0xAB));
    EXPECT_EQ(std::memcmp(&file[51], "a.rom\0stale", 11), 0);

    // A longer file loads its first 1076 bytes.
    Settings loaded = filled_with(0);
    ASSERT_TRUE(config_load(loaded, dir.file("")));
    EXPECT_EQ(image_of(loaded), image_of(s));

    // Saving where there is no file yet creates one.
    TempDir empty;
    ASSERT_TRUE(config_save(s, empty.file("")));
    EXPECT_EQ(TempDir::read(empty.file("kolt.cfg")), image_of(s));
}

TEST(ConfigFile, UnreachableFilesKeepTheRecord) {
    TempDir dir;
    Settings s = filled_with(0x77);
    EXPECT_FALSE(config_read_file(s, dir.file("absent.cfg")));
    EXPECT_EQ(image_of(s), image_of(filled_with(0x77)));

    // A folder that does not exist: the defaults, and nothing written.
    EXPECT_FALSE(config_load(s, dir.file("no/such/folder")));
    EXPECT_EQ(image_of(s), default_image());
    EXPECT_FALSE(config_save(s, dir.file("no/such/folder")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
}

// A kolt.cfg the user made read-only is read all the same. Root may write any
// file, so the check runs in a child that gives up root first.
TEST(ConfigFile, AReadOnlyFileIsStillRead) {
    TempDir dir;
    Settings stored;
    stored.model = kModelVZ300;
    stored.ramTop = kRamTop18k;
    ASSERT_TRUE(config_save(stored, dir.file("")));
    std::filesystem::permissions(dir.file(""), std::filesystem::perms::all);
    std::filesystem::permissions(dir.file("kolt.cfg"), std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::group_read |
                                                           std::filesystem::perms::others_read);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
        Settings s;
        if (!config_load(s, dir.file(""))) _exit(1);
        _exit(s.model == kModelVZ300 && s.ramTop == kRamTop18k ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not read, 2: the defaults instead of the file, 3: could not drop root";
    EXPECT_EQ(TempDir::read(dir.file("kolt.cfg")), image_of(stored)); // and not rewritten
}

// Every field of a foreign file is taken as it stands; the machine must still
// reset and run on it.
TEST(ConfigFile, ForeignValuesResetAndRun) {
    TempDir dir;
    Bytes foreign(kRecordSize, 0xFF);
    put32(foreign, 36, 0x12345); // ramTop beyond the address space
    put32(foreign, 44, 0xFFFFFF80); // sound chip port out of range
    const std::string path = dir.write("foreign.cfg", foreign);
    auto m = std::make_unique<Machine>();
    ASSERT_TRUE(config_read_file(m->settings, path));
    EXPECT_EQ(settings_path(m->settings.romFile).size(), kSettingsPathSize); // no terminator
    machine_reset(*m);
    MachineIo io;
    for (int i = 0; i < 3; ++i) machine_run_frame(*m, io);
    // A model other than 0 is not the VZ200, a TV standard other than 0 not PAL.
    EXPECT_EQ(m->z80.cycle_period, 70938);
    EXPECT_EQ(m->state.timing.linesPerFrame, 262);
}

} // namespace
