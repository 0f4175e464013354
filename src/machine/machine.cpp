#include "machine/machine.h"

#include "files/rom_folders.h"
#include "machine/builtin_program.h"

#include <cstdio>
#include <cstring>

namespace {

// Reads up to `size` bytes of a file into `dest`; what the file lacks reads 0xFF.
bool load_padded(const std::string& path, uint8_t* dest, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    const size_t got = std::fread(dest, 1, size, file);
    std::fclose(file);
    std::memset(dest + got, 0xFF, size - got);
    return true;
}

} // namespace

void machine_reload_roms(Machine& m, const std::vector<std::string>& romFolders) {
    uint8_t* memory = m.state.memory.data();
    if (!load_padded(rom_locate(settings_path(m.settings.romFile), romFolders), memory, 0x4000)) {
        // Without any system ROM the screen would stay a silent field of '@';
        // our own small program says what is missing instead.
        if (!m.romImageLoaded) install_builtin_program(m);
        return;
    }
    m.romImageLoaded = true;
    // An empty slot drives nothing onto the data bus there, and the TTL
    // inputs on the bus float high: the processor reads 0xFF (RST 38h, which
    // programs probing the slot rely on returning through the interrupt
    // handler). 0x6000-0x67FF keeps what it held.
    std::memset(memory + 0x4000, 0xFF, 0x2000);
    if (setting_enabled(m.settings.cartridgeEnabled))
        load_padded(rom_locate(settings_path(m.settings.cartridgeFile), romFolders), memory + 0x4000, 0x2800);
}

void machine_reset(Machine& m, const std::vector<std::string>& romFolders) {
    Settings& s = m.settings;
    s.clockMHz = model_clock_mhz(s.model);
    m.state.timing = video_timing_for(s.model, s.tvStandard);
    m.z80.cycle_period = model_cycle_period(s.model);
    m.state.scanline = 0;
    m.state.extGfxMode = 8;
    z80_reset(m.z80);
    machine_reload_roms(m, romFolders);
    palette_convert(m.palette, m.displayMasks);
    sn76489_reset(m.sound.chip);

    // The loop hook's clocks run on across a reset (the accumulators keep
    // their remainders), but its reference point follows the refilled budget:
    // left at the old slice's value it credited the rest of that slice again,
    // or, after a model change, most of a frame. The sampling period follows
    // the model too, so a model change keeps about 882 samples a frame (with
    // the first model's period the VZ300 fell short and its sound broke up).
    if (!m.loop.started) {
        m.loop.started = true;
        m.tape.lastChange = m.z80.cycle_period;
    }
    m.loop.lastCycleCount = m.z80.cycle_period;
    m.loop.cyclesPerSample = m.z80.cycle_period / kSamplesPerFrame;
}
