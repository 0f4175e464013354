// Watchpoints and the debugger's run targets: what the watched frame loop
// checks besides the breakpoints (see frame.cpp).
//
// A watchpoint is an inclusive range of memory addresses or of ports and the
// accesses to watch (read, write or both). The list is compiled into bit sets
// so the watched loop's check of an access is one bit test. An instruction
// that makes a watched access completes, then the machine stops; the first
// such access of the instruction is kept as the hit. Instruction bytes fetched
// by the processor are not data reads (a breakpoint covers those), and the
// pushes of an accepted interrupt go through the ordinary bus, unwatched.
//
// A run target stops the machine when it is reached: an address (for Run to
// Cursor, and for Step Over with the stack no deeper than at the start) and/or
// a return (for Step Out and Step Over a call: the first RET, RETI or RETN
// taken that leaves SP above a given value, so the return of an interrupt
// taken meanwhile does not count). While nothing is watched and no target is
// set, frames run the ordinary loop and none of this costs anything.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int kWatchpointLimit = 16;

// Access bits of a watchpoint and of a hit.
inline constexpr uint8_t kWatchRead = 1;
inline constexpr uint8_t kWatchWrite = 2;
inline constexpr uint8_t kWatchPort = 4; // the range is of ports, 00-FF

struct Watchpoint {
    uint16_t from = 0, to = 0; // inclusive
    uint8_t access = 0;
    bool enabled = true;
};

// The access that stopped the machine; access 0 is none.
struct WatchHit {
    uint8_t access = 0; // kWatchRead or kWatchWrite, with kWatchPort for a port
    uint16_t address = 0;
    uint8_t value = 0;
    uint16_t pc = 0; // where the instruction that made the access starts
};

struct RunTarget {
    bool toAddress = false;
    uint16_t address = 0;
    bool sameLevel = false; // the address counts only with SP at or above `sp`
    uint16_t sp = 0;
    bool toReturn = false;
    uint16_t returnAbove = 0;
};

// Why a run stopped; a breakpoint and a watchpoint can stop the same
// instruction, so a stop holds a set of these.
enum StopReason : uint8_t { kStopBreakpoint = 1, kStopWatchpoint = 2, kStopTarget = 4 };

struct DebugStop {
    uint8_t reasons = 0; // StopReason bits; 0: no stop
    WatchHit hit;
};

struct DebugState {
    std::array<Watchpoint, kWatchpointLimit> watch{};
    uint8_t watchCount = 0;
    std::array<uint64_t, 1024> readBits{}, writeBits{};
    std::array<uint64_t, 4> portReadBits{}, portWriteBits{};
    RunTarget target;
    DebugStop stop;      // of the last run or step; cleared by each and taken by the debugger
    bool active = false; // an enabled watchpoint or a target: frames run the watched loop
};

inline bool watch_bit(const std::array<uint64_t, 1024>& set, uint16_t a) {
    return (set[a >> 6] >> (a & 63)) & 1;
}
inline bool watch_bit(const std::array<uint64_t, 4>& set, uint8_t port) {
    return (set[port >> 6] >> (port & 63)) & 1;
}

// False when the list is full or the range is empty or a port range passes FF.
bool watch_add(DebugState& d, const Watchpoint& w);
void watch_remove(DebugState& d, int index);
void watch_enable(DebugState& d, int index, bool on);
void watch_clear(DebugState& d);

void debug_set_target(DebugState& d, const RunTarget& t);
void debug_clear_target(DebugState& d);

// The stop record of the last run or step, cleared; reasons 0 when it did not
// stop or the stop was already taken.
DebugStop debug_take_stop(DebugState& d);
