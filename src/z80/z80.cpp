#include "z80/z80.h"

void z80_reset(Z80Registers& r) {
    r.af = r.bc = r.de = r.hl = r.ix = r.iy = r.pc = 0;
    r.af_alt = r.bc_alt = r.de_alt = r.hl_alt = 0;
    r.int_state = 0;
    r.i = 0;
    r.sp = 0xF000;
    r.cycles_left = r.cycle_period;
}
