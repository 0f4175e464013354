// A font file of any content and size: a refused one leaves the table as it
// was, an accepted one is drawn. Every character and semigraphics code is on
// the screen in both colour sets; a byte after the first 960 picks the
// latch, the next the extended graphics mode.
#include <cstdint>
#include <cstring>
#include <string>

#include "files/media_files.h"
#include "fuzz_support.h"
#include "machine/frame.h"
#include "machine/machine_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::scratch_file("font.fnt");
    fuzz::write_file(path, data, size);
    Machine& m = fuzz::fresh_machine();
    const FontTable before = m.fontTable;

    const FileOutcome outcome = font_load(m, path);
    const bool fits = size >= kFontFileMin && size <= kFontFileMax;
    fuzz::require(outcome.done == fits);
    if (!fits) {
        fuzz::require(m.fontTable == before);
        return 0;
    }
    fuzz::require(std::memcmp(m.fontTable.data(), data, kFontSize) == 0);

    const uint8_t idle[] = {0xF3, 0x18, 0xFE}; // DI; JR $
    std::memcpy(&m.state.memory[0x8000], idle, sizeof idle);
    m.z80.pc = 0x8000;
    for (int i = 0; i < 512; ++i) {
        m.state.memory[0x7000 + size_t(i)] = uint8_t(i);
        m.state.extVideoRam[size_t(i)] = uint8_t(i);
    }
    m.state.latch = size > kFontSize ? data[kFontSize] : 0;
    m.state.extGfxMode = size > kFontSize + 1 ? data[kFontSize + 1] : 0;
    MachineIo io;
    for (int colourSet = 0; colourSet < 2; ++colourSet) {
        m.state.latch = uint8_t((m.state.latch & ~0x18) | colourSet << 4);
        machine_run_frame(m, io);
    }
    return 0;
}
