#include "machine/disk.h"

#include <cstdio>
#include <cstring>

#include "machine/machine.h"
#include "machine/machine_io.h"

namespace {

std::FILE* selected_image(Machine& m, MachineIo& io) {
    const int d = m.disk.selectedDrive;
    return d < 0 ? nullptr : io.disks.image[size_t(d)].get();
}

void show_status(Machine& m, MachineIo& io) {
    const int d = m.disk.selectedDrive;
    io.host->show_drive_status(d, disk_status_text(m, io, d));
}

void load_track(Machine& m, MachineIo& io) {
    DiskController& c = m.disk;
    if (std::FILE* f = selected_image(m, io)) {
        const long offset = long(c.headPosition[size_t(c.selectedDrive)]) * kHalfTrackBytes;
        if (std::fseek(f, offset, SEEK_SET) == 0) std::fread(c.trackBuffer.data(), 1, kTrackBytes, f);
        if (m.settings.diskAudio) io.host->play_disk_access_sound();
        show_status(m, io);
    } else {
        std::memset(c.trackBuffer.data(), 0, kTrackBytes);
    }
    c.trackPosition = 0;
    c.writeCount = 0;
}

// The recording's bytes in the order they were recorded. A recording longer
// than the buffer has overwritten its own beginning, so only its last
// kTrackBufferSize bytes are written, where they belong in the image.
void write_back(Machine& m, MachineIo& io) {
    DiskController& c = m.disk;
    std::FILE* f = selected_image(m, io);
    if (!f) {
        std::memset(c.trackBuffer.data(), 0, kTrackBytes);
        return;
    }
    const int32_t count = c.writeCount < kTrackBufferSize ? c.writeCount : kTrackBufferSize;
    const int32_t skipped = c.writeCount - count;
    const int32_t first = (c.writeStart + skipped) % kTrackBufferSize;
    const long offset = long(c.headPosition[size_t(c.selectedDrive)]) * kHalfTrackBytes + c.writeStart + skipped;
    const int32_t head = count < kTrackBufferSize - first ? count : kTrackBufferSize - first;
    if (std::fseek(f, offset, SEEK_SET) == 0) {
        std::fwrite(&c.trackBuffer[size_t(first)], 1, size_t(head), f);
        if (count > head) std::fwrite(c.trackBuffer.data(), 1, size_t(count - head), f);
        std::fflush(f);
    }
    if (m.settings.diskAudio) io.host->play_disk_access_sound();
    show_status(m, io);
}

// A step needs exactly one phase energised now; before, only the neighbouring
// phase's bit matters. Returns -1 (out), +1 (in) or 0.
int step_direction(uint8_t now, uint8_t before) {
    int phase = -1;
    for (int p = 0; p < 4; ++p)
        if (now & (1 << p)) phase = phase < 0 ? p : 4;
    if (phase < 0 || phase > 3) return 0;
    if (before & (1 << ((phase + 1) & 3))) return -1;
    if (before & (1 << ((phase + 3) & 3))) return 1;
    return 0;
}

// Each data bit is the second of a pair of flux samples, most significant first.
uint8_t byte_from_even_bits(uint32_t bits) {
    uint8_t value = 0;
    for (int i = 0; i < 8; ++i) value = uint8_t(value | ((bits >> (2 * i)) & 1) << i);
    return value;
}

} // namespace

void disk_port_out(Machine& m, MachineIo& io, uint8_t offset, uint8_t v) {
    if (offset != 0) return;
    DiskController& c = m.disk;
    const int drive = (v & 0x10) ? 0 : (v & 0x80) ? 1 : -1;
    if (drive != c.selectedDrive) {
        c.selectedDrive = drive;
        if (drive < 0) {
            c.lastLatch = v;
            return;
        }
        load_track(m, io);
    }
    if (c.selectedDrive < 0) {
        c.lastLatch = v;
        return;
    }

    if (const int step = step_direction(v & 0x0F, c.lastLatch & 0x0F)) {
        uint8_t& pos = c.headPosition[size_t(c.selectedDrive)];
        if (step < 0 && pos > 0) --pos;
        if (step > 0 && pos < kMaxHeadPosition) ++pos;
        if (pos % 2 == 0) {
            load_track(m, io);
            if (m.settings.diskAudio) io.host->play_disk_step_sound();
        }
    }

    if (!(v & 0x40)) {
        c.shiftRegister = c.shiftRegister << 1 | (((v ^ c.lastLatch) & 0x20) ? 1 : 0);
        c.halfCell ^= 1;
        if (c.halfCell == 0 && --c.bitCounter == 0) {
            c.shiftRegister &= 0xFFFF;
            c.trackBuffer[size_t(c.trackPosition)] = byte_from_even_bits(c.shiftRegister);
            c.trackPosition = (c.trackPosition + 1) % kTrackBufferSize;
            ++c.writeCount;
            c.bitCounter = 8;
        }
    }

    if ((v ^ c.lastLatch) & 0x40) {
        if (c.lastLatch & 0x40) { // recording begins
            c.writeStart = c.trackPosition;
            c.halfCell = 0;
        } else if (c.writeCount != 0) {
            write_back(m, io);
        }
        c.bitCounter = 8;
        c.writeCount = 0;
    }
    c.lastLatch = v;
}

uint8_t disk_port_in(Machine& m, MachineIo&, uint8_t offset) {
    DiskController& c = m.disk;
    switch (offset) {
    case 1: {
        uint8_t result = 0xFF;
        if (c.bitCounter > 0) {
            if (c.readyByte & 0x80) --c.bitCounter;
            result = uint8_t(c.shiftRegister >> c.bitCounter);
            if (c.bitCounter != 0) return result;
        } else if (c.bitCounter < 0) {
            return 0xFF;
        }
        c.shiftRegister = c.trackBuffer[size_t(c.trackPosition)];
        if (c.readyByte & 0x80) {
            c.trackPosition = (c.trackPosition + 1) % kTrackBufferSize;
            c.bitCounter = 8;
        }
        c.readyByte &= 0x7F;
        return result;
    }
    case 2:
        if (c.selectedDrive >= 0) c.readyByte |= 0x80;
        return c.readyByte;
    case 3: return c.selectedDrive >= 0 ? c.writeProtect[size_t(c.selectedDrive)] : 0xFF;
    default: return 0xFF;
    }
}

bool disk_mount(Machine& m, MachineIo& io, int drive, const std::string& path) {
    DiskController& c = m.disk;
    const size_t d = size_t(drive);
    io.disks.image[d].reset();
    io.disks.path[d].clear();
    c.writeProtect[d] = 0x00;
    FilePtr f(std::fopen(path.c_str(), "r+b"));
    if (!f) {
        c.writeProtect[d] = 0x80;
        f.reset(std::fopen(path.c_str(), "rb"));
    }
    if (!f) {
        c.writeProtect[d] = 0x00;
        f.reset(std::fopen(path.c_str(), "w+b"));
    }
    const size_t slash = path.find_last_of("/\\");
    io.disks.name[d] = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!f) return false;
    io.disks.image[d] = std::move(f);
    io.disks.path[d] = path;
    c.headPosition[d] = 0;
    return true;
}

void disk_unmount(MachineIo& io, int drive) {
    io.disks.image[size_t(drive)].reset();
    io.disks.name[size_t(drive)].clear();
    io.disks.path[size_t(drive)].clear();
}

std::string disk_status_text(const Machine& m, const MachineIo& io, int drive) {
    const uint16_t iy = m.z80.iy;
    const int track = m.state.memory[uint16_t(iy + 18)];
    const int sector = m.state.memory[uint16_t(iy + 17)];
    char ts[32];
    std::snprintf(ts, sizeof ts, "  T:%02d S:%02d", track, sector);
    return std::string(drive == 0 ? "D1: " : "D2: ") + io.disks.name[size_t(drive)] + ts;
}
