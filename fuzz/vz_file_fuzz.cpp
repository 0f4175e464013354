// A .vz file of any content: loading it must write nothing but its program
// bytes (up to 0xFFFF) and, for BASIC, the two pointers; a refused file must
// change nothing. The loaded program then runs for a frame, whatever it is.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "files/vz_file.h"
#include "fuzz_support.h"
#include "machine/frame.h"
#include "machine/machine_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Machine& m = fuzz::fresh_machine();
    MachineIo io;
    const std::vector<uint8_t> file(data, data + size);
    static std::array<uint8_t, 65536> before;
    before = m.state.memory;
    const uint16_t pcBefore = m.z80.pc;

    const FileOutcome outcome = vz_load_bytes(m, file);
    const bool fits = size >= kVzHeaderSize && size <= kVzMaxFileSize;
    fuzz::require(outcome.done == fits);
    if (!fits) {
        fuzz::require(m.state.memory == before && m.z80.pc == pcBefore);
        return 0;
    }

    const uint32_t start = uint32_t(file[22] | file[23] << 8);
    const uint32_t end = std::min<uint32_t>(start + uint32_t(size - kVzHeaderSize), 0x10000);
    const bool basic = file[21] != kVzTypeMachineCode;
    // The BASIC pointers are set after the copy, so they win where a program
    // covers them.
    const uint16_t endPointer = uint16_t(start + (size - kVzHeaderSize));
    uint8_t pointerBytes[0x10000 / 8] = {};
    if (basic) {
        const uint8_t values[4] = {file[22], file[23], uint8_t(endPointer), uint8_t(endPointer >> 8)};
        const uint16_t where[4] = {kBasicStartPointer, uint16_t(kBasicStartPointer + 1), kBasicEndPointer,
                                   uint16_t(kBasicEndPointer + 1)};
        for (int i = 0; i < 4; ++i) {
            fuzz::require(m.state.memory[where[i]] == values[i]);
            pointerBytes[where[i] / 8] |= uint8_t(1 << (where[i] % 8));
        }
    }
    for (uint32_t a = 0; a < 0x10000; ++a) {
        if (pointerBytes[a / 8] & (1 << (a % 8))) continue;
        if (a >= start && a < end) fuzz::require(m.state.memory[a] == file[kVzHeaderSize + (a - start)]);
        else fuzz::require(m.state.memory[a] == before[a]);
    }
    fuzz::require(basic ? m.z80.pc == pcBefore : m.z80.pc == start);

    machine_run_frame(m, io);
    return 0;
}
