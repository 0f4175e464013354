// Disk controller and two drives behind ports 16-31, each backed by a .dsk image.
//
// The disk operating system in the cartridge drives the stepper phases, shifts
// the raw bit stream of a track in and out through three ports and formats its
// sectors itself; the controller only moves the heads (in half-tracks, 0-80),
// shifts bits and bytes through a track buffer and moves whole tracks between
// the buffer and the image (track t at byte t x 2480). Port 16 out: bits 0-3
// stepper phases, bit 4 select drive 1, bit 5 write data (a change records a
// flux change), bit 6 write request (low = record), bit 7 select drive 2.
// Ports in: 17 data, 18 ready (bit 7), 19 write protect. There is no motor,
// index or bit timing, and nothing checks the image's contents or size.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct Machine;
struct MachineIo;

inline constexpr int kTrackBytes = 2480;
inline constexpr int kTrackBufferSize = 3172;  // room for a write that runs past the track
inline constexpr int kHalfTrackBytes = 1240;
inline constexpr int kMaxHeadPosition = 80;

struct DiskController {
    int32_t selectedDrive = -1; // -1 none, 0 drive 1, 1 drive 2
    std::array<uint8_t, 2> writeProtect{0x80, 0x80}; // port 19: 0x80 protected, 0x00 writable
    std::array<uint8_t, 2> headPosition{kMaxHeadPosition, kMaxHeadPosition};
    uint8_t lastLatch = 0;
    std::array<uint8_t, kTrackBufferSize> trackBuffer{};
    int32_t trackPosition = 0;
    int32_t bitCounter = 8;
    uint32_t shiftRegister = 0;
    uint8_t readyByte = 0;
    uint8_t halfCell = 0;
    int32_t writeStart = 0;
    int32_t writeCount = 0;
};

uint8_t disk_port_in(Machine& m, MachineIo& io, uint8_t offset);
void disk_port_out(Machine& m, MachineIo& io, uint8_t offset, uint8_t value);

// Opens the image read-write, else read-only (write protected), else creates
// it; the head goes to 0. Returns false when all three fail (drive left empty).
bool disk_mount(Machine& m, MachineIo& io, int drive, const std::string& path);
void disk_unmount(MachineIo& io, int drive);

// "D1: name  T:07 S:03" from the disk system's work area at IY.
std::string disk_status_text(const Machine& m, const MachineIo& io, int drive);
