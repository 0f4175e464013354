// The emulator as a program holds it: one Machine (plain data, on the heap)
// and, beside it, the open files, the host interface and the debugger's
// symbols. Its destructor is the program's last word on the user's files: a
// running tape recording gets its header sizes, and printer output and disk
// write-backs are flushed.
#pragma once

#include <memory>

#include "debugger/symbols.h"
#include "machine/machine.h"
#include "machine/machine_io.h"

struct Emulator {
    std::unique_ptr<Machine> machine = std::make_unique<Machine>();
    MachineIo io;
    SymbolTable symbols; // the debugger's, kept for the session

    Emulator() = default;
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;
    ~Emulator();

    Machine& m() { return *machine; }
};
