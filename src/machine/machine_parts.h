// Which parts of the machine record a rewind step and a state load restore,
// and which they leave as they are.
//
//  - Machine: what the emulated machine is and has done. Both restore it.
//  - Setup: what it is set up with and attached to: the settings, the tape
//    transport and the level it feeds in, the disks' write protection. The
//    files themselves are not rewound, so a rewind step keeps these as they
//    are; a state carries its own and attaches its files again.
//  - Session: the debugger's and the host's: breakpoints, watchpoints and the
//    run target, the display's pixel format and palette, the sound streams
//    the host is playing, the held F11, whether a ROM was ever loaded. Both
//    keep it.
//
// Every field of Machine is listed once (machine_parts.cpp checks the count
// at compile time); a field inside a listed record has that record's part
// unless it is listed itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Machine;

enum class Part : uint8_t { Machine, Setup, Session };

struct PartRange {
    size_t begin, end; // bytes of Machine
    Part part;
};

// The whole record from byte 0 to sizeof(Machine), in order, each range with
// its part; padding belongs to the field before it.
const std::vector<PartRange>& machine_parts();

// Copies the bytes of the given part from `from` into `to`.
void machine_copy_part(Machine& to, const Machine& from, Part part);
