#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "machine/disk.h"
#include "machine/machine.h"
#include "machine/machine_io.h"
#include "support/temp_dir.h"

namespace {

// Port 16 bits.
constexpr uint8_t kDrive1 = 0x10;
constexpr uint8_t kFlux = 0x20;
constexpr uint8_t kIdle = 0x40; // write request high: not recording
constexpr uint8_t kDrive2 = 0x80;

constexpr size_t kFortyTracks = 40 * kTrackBytes;
// Large enough that a head at half-track 80 still finds a whole track.
constexpr size_t kToPosition80 = 80 * kHalfTrackBytes + kTrackBytes;

// Every span of the image differs from every other, so a track read from the
// wrong offset shows.
uint8_t image_byte(size_t i) { return uint8_t(i * 7 + i / 251); }

std::vector<uint8_t> make_image(size_t size) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i) image[i] = image_byte(i);
    return image;
}

struct RecordingHost : HostInterface {
    std::vector<std::string> sounds;
    std::vector<std::string> statuses;
    void play_disk_access_sound() override { sounds.push_back("access"); }
    void play_disk_step_sound() override { sounds.push_back("step"); }
    void show_drive_status(int drive, const std::string& text) override {
        statuses.push_back(std::to_string(drive) + " " + text);
    }
};

class Disk : public testing::Test {
protected:
    void SetUp() override { io.host = &host; }

    void out(uint8_t v) { disk_port_out(*m, io, 0, v); }
    uint8_t in(int port) { return disk_port_in(*m, io, uint8_t(port - 16)); }
    uint8_t armed_read() {
        in(18);
        return in(17);
    }
    // Each byte takes eight armed reads; the track position moves on by one.
    void skip_bytes(int count) {
        for (int i = 0; i < 8 * count; ++i) armed_read();
    }

    std::string mount(int drive, const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir.write(name, bytes);
        EXPECT_TRUE(disk_mount(*m, io, drive, path));
        return path;
    }

    // Records bytes as the disk system does: lowering bit 6 starts the
    // recording, each data bit is a clock flux sample followed by the data
    // sample (bit 5 changes for a 1), raising bit 6 ends it.
    void record(uint8_t latch, const std::vector<uint8_t>& bytes) {
        uint8_t v = uint8_t(latch & ~kIdle);
        out(v);
        for (uint8_t b : bytes) {
            for (int bit = 7; bit >= 0; --bit) {
                v ^= kFlux;
                out(v);
                if ((b >> bit) & 1) v ^= kFlux;
                out(v);
            }
        }
        out(uint8_t(v | kIdle));
    }

    std::vector<uint8_t> track_buffer(size_t n = kTrackBytes) const {
        return std::vector<uint8_t>(m->disk.trackBuffer.begin(), m->disk.trackBuffer.begin() + long(n));
    }
    void poison_track_buffer() { m->disk.trackBuffer.fill(0xEE); }

    std::unique_ptr<Machine> m = std::make_unique<Machine>();
    RecordingHost host;
    MachineIo io;
    TempDir dir;
};

std::vector<uint8_t> span_of(const std::vector<uint8_t>& image, size_t offset, size_t n = kTrackBytes) {
    return std::vector<uint8_t>(image.begin() + long(offset), image.begin() + long(offset + n));
}

TEST_F(Disk, SixteenSamplesStoreOneByteAtHeadPositionTimes1240PlusWriteStart) {
    const std::vector<uint8_t> image = make_image(kFortyTracks);
    const std::string path = mount(0, "a.dsk", image);
    // Drive 1 selected with phase 0; then in to half-track 3 (an odd position:
    // the transfer offset is the middle of track 1).
    for (uint8_t v : {0x51, 0x52, 0x54, 0x58}) out(v);
    ASSERT_EQ(m->disk.headPosition[0], 3);
    skip_bytes(3);
    const uint8_t latch = kDrive1 | kIdle | 0x08;

    // Fifteen samples are not a byte: nothing is stored or written back.
    host.sounds.clear();
    out(latch & ~kIdle);
    for (int i = 0; i < 15; ++i) out(uint8_t((latch & ~kIdle) ^ (i % 2 ? kFlux : 0)));
    out(latch);
    EXPECT_EQ(TempDir::read(path), image);
    EXPECT_TRUE(host.sounds.empty());

    record(latch, {0xC9, 0x00, 0xFF});
    std::vector<uint8_t> expected = image;
    expected[3 * 1240 + 3] = 0xC9;
    expected[3 * 1240 + 4] = 0x00;
    expected[3 * 1240 + 5] = 0xFF;
    EXPECT_EQ(TempDir::read(path), expected);

    // A write-back leaves the track position after the bytes it recorded.
    record(latch, {0x5A});
    expected[3 * 1240 + 6] = 0x5A;
    EXPECT_EQ(TempDir::read(path), expected);
}

TEST_F(Disk, SteppingFollowsThePhasesAndClampsAtBothEnds) {
    const std::vector<uint8_t> image = make_image(kToPosition80);
    mount(0, "a.dsk", image);
    EXPECT_EQ(m->disk.headPosition[0], 0);
    EXPECT_EQ(m->disk.headPosition[1], kMaxHeadPosition);

    out(kDrive1 | kIdle | 0x02); // selection loads track 0; phase 1 alone, nothing before: no step
    EXPECT_EQ(track_buffer(), span_of(image, 0));
    host.sounds.clear();

    // Out from 0: held at 0, but track 0 is loaded again and the step sounds.
    poison_track_buffer();
    out(kDrive1 | kIdle | 0x01);
    EXPECT_EQ(m->disk.headPosition[0], 0);
    EXPECT_EQ(track_buffer(), span_of(image, 0));
    EXPECT_EQ(host.sounds, (std::vector<std::string>{"access", "step"}));

    // 0 -> 1 lands on an odd position: nothing loaded, no sound.
    host.sounds.clear();
    poison_track_buffer();
    out(kDrive1 | kIdle | 0x02);
    EXPECT_EQ(m->disk.headPosition[0], 1);
    EXPECT_EQ(m->disk.trackBuffer[0], 0xEE);
    EXPECT_TRUE(host.sounds.empty());

    // 1 -> 2 loads track 1, the bytes at 2480.
    out(kDrive1 | kIdle | 0x04);
    EXPECT_EQ(m->disk.headPosition[0], 2);
    EXPECT_EQ(track_buffer(), span_of(image, 2480));
    EXPECT_EQ(host.sounds, (std::vector<std::string>{"access", "step"}));

    // 2 -> 3 loads nothing.
    host.sounds.clear();
    poison_track_buffer();
    out(kDrive1 | kIdle | 0x08);
    EXPECT_EQ(m->disk.headPosition[0], 3);
    EXPECT_EQ(m->disk.trackBuffer[0], 0xEE);
    EXPECT_TRUE(host.sounds.empty());

    // Two phases energised never step, whatever came before.
    for (uint8_t v : {0x03, 0x09, 0x0C, 0x0F, 0x06}) {
        out(uint8_t(kDrive1 | kIdle | v));
        EXPECT_EQ(m->disk.headPosition[0], 3) << int(v);
    }

    // With phases 1 and 3 both set before and phase 0 now, the step-out rule
    // wins.
    out(kDrive1 | kIdle | 0x0A);
    out(kDrive1 | kIdle | 0x01);
    EXPECT_EQ(m->disk.headPosition[0], 2);

    // Stepping in all the way: held at 80, which is even, so it reloads.
    uint8_t phase = 0x01;
    for (int i = 0; i < 100; ++i) {
        phase = uint8_t(phase == 0x08 ? 0x01 : phase << 1);
        out(uint8_t(kDrive1 | kIdle | phase));
    }
    EXPECT_EQ(m->disk.headPosition[0], kMaxHeadPosition);
    host.sounds.clear();
    poison_track_buffer();
    phase = uint8_t(phase == 0x08 ? 0x01 : phase << 1);
    out(uint8_t(kDrive1 | kIdle | phase));
    EXPECT_EQ(m->disk.headPosition[0], kMaxHeadPosition);
    EXPECT_EQ(track_buffer(), span_of(image, 80 * 1240));
    EXPECT_EQ(host.sounds, (std::vector<std::string>{"access", "step"}));

    // And out again one half-track at a time.
    for (int i = 0; i < 3; ++i) {
        phase = uint8_t(phase == 0x01 ? 0x08 : phase >> 1);
        out(uint8_t(kDrive1 | kIdle | phase));
    }
    EXPECT_EQ(m->disk.headPosition[0], 77);
}

TEST_F(Disk, EightArmedReadsDeliverTheTopBitsThenTheWholeByte) {
    std::vector<uint8_t> image = make_image(kFortyTracks);
    image[0] = 0xA5;
    image[1] = 0x3C;
    mount(0, "a.dsk", image);
    out(kDrive1 | kIdle);
    skip_bytes(1); // the first eight reads fetch byte 0

    std::vector<uint8_t> got;
    for (int i = 0; i < 8; ++i) got.push_back(armed_read());
    EXPECT_EQ(got, (std::vector<uint8_t>{0x01, 0x02, 0x05, 0x0A, 0x14, 0x29, 0x52, 0xA5}));

    // The whole-byte read fetched the next byte and cleared the ready bit:
    // reads now consume nothing until port 18 arms them again.
    const uint8_t unarmed = in(17);
    EXPECT_EQ(in(17), unarmed);
    EXPECT_EQ(in(17), unarmed);

    got.clear();
    for (int i = 0; i < 8; ++i) got.push_back(armed_read());
    EXPECT_EQ(got, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x03, 0x07, 0x0F, 0x1E, 0x3C}));
    EXPECT_EQ(m->disk.trackPosition, 3);
}

TEST_F(Disk, DriveSelection) {
    std::vector<uint8_t> one(kFortyTracks, 0x11), two(kFortyTracks, 0x22);
    mount(0, "one.dsk", one);
    mount(1, "two.dsk", two);

    out(0x90 | kIdle); // bit 4 wins over bit 7
    EXPECT_EQ(track_buffer(), span_of(one, 0));
    EXPECT_EQ(in(18) & 0x80, 0x80);
    EXPECT_EQ(in(19), 0x00);

    out(kDrive2 | kIdle);
    EXPECT_EQ(track_buffer(), span_of(two, 0));

    // Deselecting loads nothing; with the ready bit cleared by a fetch, port
    // 18 does not set it again, and port 19 reads 0xFF.
    skip_bytes(1);
    poison_track_buffer();
    out(kIdle);
    EXPECT_EQ(m->disk.trackBuffer[0], 0xEE);
    EXPECT_EQ(in(18) & 0x80, 0x00);
    EXPECT_EQ(in(19), 0xFF);
    EXPECT_EQ(in(16), 0xFF);
    EXPECT_EQ(in(20), 0xFF);

    // A drive is reloaded at its own head position when selected, odd ones included.
    std::vector<uint8_t> image = make_image(kFortyTracks);
    mount(0, "pattern.dsk", image);
    for (uint8_t v : {0x01, 0x02}) out(uint8_t(kDrive1 | kIdle | v));
    ASSERT_EQ(m->disk.headPosition[0], 1);
    out(kDrive2 | kIdle);
    poison_track_buffer();
    out(kDrive1 | kIdle | 0x02);
    EXPECT_EQ(m->disk.headPosition[0], 1);
    EXPECT_EQ(track_buffer(), span_of(image, 1240));

    // A selected drive without an image reads as zeros.
    disk_unmount(io, 1);
    poison_track_buffer();
    out(kDrive2 | kIdle);
    EXPECT_EQ(track_buffer(), std::vector<uint8_t>(kTrackBytes, 0));
    EXPECT_EQ(m->disk.trackBuffer[kTrackBytes], 0xEE);
}

TEST_F(Disk, ReadOnlyImageIsWriteProtected) {
    const std::vector<uint8_t> image = make_image(kFortyTracks);
    const std::string locked = dir.write("locked.dsk", image);
    ::chmod(locked.c_str(), 0444);
    if (::access(locked.c_str(), W_OK) == 0) {
        // Running with rights that write read-only files: a read-only kernel
        // attribute file stands in, as nobody can open it for writing.
        const char* attribute = "/sys/kernel/mm/transparent_hugepage/hpage_pmd_size";
        std::FILE* probe = std::fopen(attribute, "r+b");
        if (probe) std::fclose(probe);
        if (probe || ::access(attribute, R_OK) != 0) GTEST_SKIP() << "no file here is read-only for this user";
        ASSERT_TRUE(disk_mount(*m, io, 0, attribute));
        out(kDrive1 | kIdle);
        EXPECT_EQ(in(19), 0x80);
        return;
    }

    ASSERT_TRUE(disk_mount(*m, io, 0, locked));
    out(kDrive1 | kIdle);
    EXPECT_EQ(in(19), 0x80);
    EXPECT_EQ(track_buffer(), span_of(image, 0));
    // A write anyway fails silently and the image stays as it was.
    record(kDrive1 | kIdle, {0x12, 0x34});
    EXPECT_EQ(TempDir::read(locked), image);
}

TEST_F(Disk, MissingFileIsCreatedWritable) {
    const std::string fresh = dir.file("new.dsk");
    ASSERT_TRUE(disk_mount(*m, io, 0, fresh));
    EXPECT_EQ(std::filesystem::file_size(fresh), 0u);
    out(kDrive1 | kIdle);
    EXPECT_EQ(in(19), 0x00);
    skip_bytes(2);
    record(kDrive1 | kIdle, {0x77});
    EXPECT_EQ(TempDir::read(fresh), (std::vector<uint8_t>{0x00, 0x00, 0x77}));

    // A mount that cannot even create the file leaves the drive empty.
    EXPECT_FALSE(disk_mount(*m, io, 1, dir.file("no/such/folder/x.dsk")));
    poison_track_buffer();
    out(kDrive2 | kIdle);
    EXPECT_EQ(m->disk.trackBuffer[0], 0x00);
}

TEST_F(Disk, RecordingThatWrapsTheBufferIsWrittenBackInRecordingOrder) {
    const std::vector<uint8_t> image = make_image(kFortyTracks);
    const std::string path = mount(0, "a.dsk", image);
    out(kDrive1 | kIdle);

    // Starts 2 bytes before the end of the buffer and runs on past its start.
    skip_bytes(kTrackBufferSize - 2);
    std::vector<uint8_t> bytes(10);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(0xB0 + i);
    record(kDrive1 | kIdle, bytes);
    std::vector<uint8_t> expected = image;
    std::copy(bytes.begin(), bytes.end(), expected.begin() + kTrackBufferSize - 2);
    EXPECT_EQ(TempDir::read(path), expected);
}

TEST_F(Disk, RecordingLongerThanTheBufferKeepsItsLatestBytesInPlace) {
    const std::vector<uint8_t> image = make_image(kFortyTracks);
    const std::string path = mount(0, "a.dsk", image);
    out(kDrive1 | kIdle);
    skip_bytes(5);

    std::vector<uint8_t> bytes(kTrackBufferSize + 20);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 13 + 1);
    record(kDrive1 | kIdle, bytes);

    // The first 20 bytes were overwritten in the buffer; the rest are in the
    // image where a recording starting at position 5 puts them, and nothing
    // outside the recording changed.
    const std::vector<uint8_t> after = TempDir::read(path);
    ASSERT_EQ(after.size(), image.size());
    for (size_t i = 20; i < bytes.size(); ++i) ASSERT_EQ(after[5 + i], bytes[i]) << i;
    EXPECT_EQ(span_of(after, 0, 5), span_of(image, 0, 5));
    const size_t end = 5 + bytes.size();
    EXPECT_EQ(span_of(after, end, image.size() - end), span_of(image, end, image.size() - end));
}

TEST_F(Disk, HostHearsTheDriveAndSeesItsStatus) {
    m->z80.iy = 0x7F00;
    m->state.memory[0x7F12] = 7;  // track
    m->state.memory[0x7F11] = 3;  // sector
    mount(0, "GAMES.DSK", make_image(kFortyTracks));
    mount(1, "work.dsk", make_image(kFortyTracks));
    EXPECT_TRUE(host.sounds.empty()); // mounting loads nothing
    EXPECT_TRUE(host.statuses.empty());

    out(kDrive1 | kIdle);
    EXPECT_EQ(host.sounds, (std::vector<std::string>{"access"}));
    EXPECT_EQ(host.statuses, (std::vector<std::string>{"0 D1: GAMES.DSK  T:07 S:03"}));

    // IY + 17 and IY + 18 wrap at 65536; values over 99 keep all their digits.
    m->z80.iy = 0xFFF0;
    m->state.memory[0x0002] = 123;
    m->state.memory[0x0001] = 0;
    host.statuses.clear();
    out(kDrive2 | kIdle);
    EXPECT_EQ(host.statuses, (std::vector<std::string>{"1 D2: work.dsk  T:123 S:00"}));

    // A write-back is heard and shown too.
    host.sounds.clear();
    host.statuses.clear();
    record(kDrive2 | kIdle, {0x42});
    EXPECT_EQ(host.sounds, (std::vector<std::string>{"access"}));
    EXPECT_EQ(host.statuses.size(), 1u);

    // With disk sounds off the status still changes.
    m->settings.diskAudio = 0;
    host.sounds.clear();
    host.statuses.clear();
    out(kDrive1 | kIdle | 0x01);
    out(kDrive1 | kIdle | 0x02);
    out(kDrive1 | kIdle | 0x04);
    EXPECT_TRUE(host.sounds.empty());
    EXPECT_EQ(host.statuses.size(), 2u); // the selection and the step to an even position

    // A drive without an image is silent.
    m->settings.diskAudio = 1;
    disk_unmount(io, 1);
    host.sounds.clear();
    host.statuses.clear();
    out(kDrive2 | kIdle);
    EXPECT_TRUE(host.sounds.empty());
    EXPECT_TRUE(host.statuses.empty());
}

} // namespace
