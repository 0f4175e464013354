#include "machine/ports.h"

#include <cstring>

#include "machine/disk.h"
#include "machine/machine.h"
#include "machine/machine_io.h"

void bank_switch(Machine& m, uint8_t value) {
    const int chosen = value == 0 ? 1 : value;
    MachineState& s = m.state;
    if (chosen == s.currentBank) return;
    std::memcpy(s.bankStore[size_t(s.currentBank)].data(), &s.memory[0xC000], kBankSize);
    ++s.bankWrites[size_t(s.currentBank)];
    std::memcpy(&s.memory[0xC000], s.bankStore[size_t(chosen)].data(), kBankSize);
    s.currentBank = chosen;
}

uint8_t port_in(Machine& m, MachineIo& io, uint8_t port) {
    uint8_t result = (port >= 16 && port <= 31) ? disk_port_in(m, io, uint8_t(port - 16)) : 0xFF;
    if (port <= 15 && io.printerFile) result &= 0xFE;
    if (setting_enabled(m.settings.joystickEnabled)) {
        m.state.joystickByte |= 0x80; // the second button reads released once seen
        if (port >= 32 && port <= 47) result = m.state.joystickByte;
    }
    return result;
}

void port_out(Machine& m, MachineIo& io, uint8_t port, uint8_t value) {
    if (m.loop.linesToPaint) render_pending_lines(m); // they show the extended-graphics mode as it was
    const Settings& cfg = m.settings;
    if (setting_enabled(cfg.extendedSound) && port == cfg.soundChipPort) sn76489_write(m.sound.chip, value);
    if (cfg.extendedGfx == kGfxAustralian && port == 32) {
        m.state.extGfxMode = value;
        return;
    }
    if (cfg.extendedGfx == kGfxGerman && port == 222) {
        m.state.extGfxMode = uint8_t((m.state.extGfxMode & 0xFC) | (value & 3));
        return;
    }
    if (port >= 16 && port <= 31) disk_port_out(m, io, uint8_t(port - 16), value);
    if ((port == 0 || port == 14) && io.printerFile) {
        std::fputc(value, io.printerFile.get());
        io.printerPending = true;
    }
    if (port >= 112 && port <= 127 && cfg.ramTop == kRamTop4mb) bank_switch(m, value);
}
