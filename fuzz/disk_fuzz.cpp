// The disk controller under random port traffic over a random image. The
// input's first two bytes give the image's length, the image follows, and
// the rest is a little program of port reads and writes, armed read runs,
// recordings long enough to wrap the track buffer, head steps, unmounts and
// mounts. The controller's positions must stay in range throughout, and
// nothing may be read or written outside its buffers (the sanitizers watch).
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "machine/disk.h"
#include "machine/machine_io.h"

namespace {

class StatusHost : public HostInterface {
public:
    void show_drive_status(int drive, const std::string& text) override {
        fuzz::require(drive == 0 || drive == 1);
        fuzz::require(text.rfind(drive == 0 ? "D1: " : "D2: ", 0) == 0);
    }
};

struct Program {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool more() const { return at < size; }
    uint8_t next() { return at < size ? data[at++] : 0; }
};

void check(const Machine& m) {
    const DiskController& c = m.disk;
    fuzz::require(c.trackPosition >= 0 && c.trackPosition < kTrackBufferSize);
    fuzz::require(c.headPosition[0] <= kMaxHeadPosition && c.headPosition[1] <= kMaxHeadPosition);
    fuzz::require(c.selectedDrive >= -1 && c.selectedDrive <= 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string image = fuzz::scratch_file("image.dsk");
    static const std::string fresh = fuzz::scratch_file("fresh.dsk");
    if (size < 2) return 0;
    size_t imageSize = size_t(data[0] | data[1] << 8);
    if (imageSize > size - 2) imageSize = size - 2;
    fuzz::write_file(image, data + 2, imageSize);
    std::remove(fresh.c_str());

    Machine& m = fuzz::fresh_machine();
    m.disk = DiskController{};
    m.settings.diskAudio = 1;
    StatusHost host;
    MachineIo io;
    io.host = &host;
    fuzz::require(disk_mount(m, io, 0, image));
    fuzz::require(disk_mount(m, io, 1, fresh));

    Program p{data + 2 + imageSize, size - 2 - imageSize};
    uint8_t phase = 0x01;
    while (p.more()) {
        const uint8_t op = p.next();
        switch (op >> 4) {
        case 0x0: case 0x1: case 0x2: case 0x3:
        case 0xD: case 0xE: case 0xF:
            disk_port_out(m, io, 0, p.next());
            break;
        case 0x4:
            disk_port_in(m, io, op & 0x0F);
            break;
        case 0x5:
            disk_port_out(m, io, op & 0x0F, p.next());
            break;
        case 0x6: { // armed reads, up to 32768
            const int reads = (p.next() + 1) * 8 * ((op & 0x0F) + 1);
            for (int i = 0; i < reads; ++i) {
                disk_port_in(m, io, 2);
                disk_port_in(m, io, 1);
            }
            break;
        }
        case 0x7: { // a recording of up to 4095 bytes of pseudo-random flux
            const int bytes = (p.next() | p.next() << 8) & 0x0FFF;
            uint8_t v = uint8_t(p.next() & ~0x40);
            uint32_t noise = op * 2654435761u + 1;
            disk_port_out(m, io, 0, v);
            for (int i = 0; i < bytes * 16; ++i) {
                noise = noise * 1103515245u + 12345u;
                if (noise & 0x10000) v ^= 0x20;
                disk_port_out(m, io, 0, v);
            }
            disk_port_out(m, io, 0, uint8_t(v | 0x40));
            break;
        }
        case 0x8: { // head steps in (even op) or out (odd op) on drive 1 or 2
            const int steps = p.next() % 100;
            const uint8_t select = (op & 2) ? 0x80 : 0x10;
            for (int i = 0; i < steps; ++i) {
                phase = (op & 1) ? uint8_t(phase == 0x01 ? 0x08 : phase >> 1)
                                 : uint8_t(phase == 0x08 ? 0x01 : phase << 1);
                disk_port_out(m, io, 0, uint8_t(select | 0x40 | phase));
            }
            break;
        }
        case 0x9:
            disk_unmount(io, op & 1);
            break;
        case 0xA:
            disk_mount(m, io, op & 1, (op & 2) ? fresh : image);
            break;
        case 0xB: { // where the disk system keeps its track and sector
            m.z80.iy = uint16_t(p.next() | p.next() << 8);
            m.state.memory[uint16_t(m.z80.iy + 17)] = p.next();
            m.state.memory[uint16_t(m.z80.iy + 18)] = p.next();
            break;
        }
        case 0xC:
            m.settings.diskAudio = op & 1;
            break;
        }
        check(m);
    }
    return 0;
}
