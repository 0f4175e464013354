// I/O ports: the printer, the disk controller, the joystick, the extended
// graphics registers, the SN76489 and the 4 MB bank switch.
//
//   0-15     printer status (bit 0 low = ready while a printer file is mapped);
//            OUT 0 and OUT 14 print a byte
//   16-31    disk controller (given port - 16)
//   32-47    joystick (active low); OUT 32 sets the Australian mode register
//   112-127  bank switch of the 4 MB expansion ("4mb" only)
//   222      German mode register: the bank bits only
//   soundChipPort (128 unless edited) feeds the SN76489
// Ports are 8-bit; unanswered reads give 0xFF, unanswered writes vanish.
#pragma once

#include <cstdint>

struct Machine;
struct MachineIo;

uint8_t port_in(Machine& m, MachineIo& io, uint8_t port);
void port_out(Machine& m, MachineIo& io, uint8_t port, uint8_t value);

// Shows bank v (bank 1 for v = 0) at 0xC000-0xFFFF, saving the shown one first.
void bank_switch(Machine& m, uint8_t value);
