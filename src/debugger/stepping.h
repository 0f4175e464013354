// The debugger's runs to a point and its watchpoints as text.
//
// Step Over, Step Out and Run to Cursor set a run target (machine/watchpoints.h)
// and run whole frames through machine_run_frame, exactly as Run does: lines,
// interrupts, sound samples, the tape and typed text all move on. They stop at
// the target, at a breakpoint or watchpoint met on the way, or after 500 host
// frames (10 seconds of emulated time) with a message saying the target was
// not reached.
//
// Step Over runs a CALL or RST until the routine returns (to the instruction
// after it, or wherever the routine's RET leads when it skips inline data),
// and a DJNZ or repeating block instruction until the instruction after it is
// reached with the stack no deeper; anything else is one Step.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "machine/watchpoints.h"

struct Machine;
struct MachineIo;
struct SymbolTable;

inline constexpr int kRunFrameLimit = 500; // 10 seconds of emulated time

struct RunOutcome {
    bool reached = false;  // the target was reached (or Step Over made a single step)
    bool timedOut = false; // given up after kRunFrameLimit frames
    DebugStop stop;        // what stopped the run (reasons 0 after a single step or a time-out)
    std::string message;   // one line for the user
};

RunOutcome debugger_step_over(Machine& m, MachineIo& io);
RunOutcome debugger_step_out(Machine& m, MachineIo& io);
RunOutcome debugger_run_to(Machine& m, MachineIo& io, uint16_t address);

// "Stopped at breakpoint 8000" and/or "Watchpoint hit: write 7000 = 3F at 8012",
// one line each, for a stop with these reasons at stopPc; empty for no stop.
std::string debugger_stop_text(const DebugStop& stop, uint16_t stopPc);
// "write 7000 = 3F at 8012", "port read 20 = FF at 8003".
std::string watch_hit_text(const WatchHit& hit);

// A watchpoint as `kolt-headless --watch` and the debugger's entry take it:
// KIND:RANGE, KIND r, w or rw for memory and pr, pw or prw for ports, RANGE
// one address or FROM-TO, each a hex number or a symbol. `why` says what is
// wrong when it cannot be read.
std::optional<Watchpoint> watch_parse(std::string_view text, const SymbolTable* symbols, std::string* why);
// The same text back: "w:7000-77FF", "pw:20".
std::string watch_text(const Watchpoint& w);
