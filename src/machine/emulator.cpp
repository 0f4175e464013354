#include "machine/emulator.h"

#include "machine/cassette.h"
#include "machine/frame.h"

Emulator::~Emulator() {
    tape_stop(*machine, io);
    machine_flush_files(io);
}
