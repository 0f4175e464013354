// Breakpoints: the debugger's breakpoint text and the address set compiled from it.
//
// The text is searched as plain characters: the machine stops after any
// instruction whose following PC, written as four upper-case hex digits,
// occurs in the text at a position from 0 to 75. "12345" therefore holds 1234
// and 2345, and separators are not needed. Compiling the text into a set of
// 65536 bits when it is set makes the per-instruction check one bit test.
//
// Beside the text the debugger's table keeps breakpoints of its own (added by
// address or label) and can switch any breakpoint off; both are folded into
// the same bit set, so the check stays one bit test. Removing an address from
// the text blanks its digits; a neighbour that shared them (the 2345 of
// "12345") moves to the table's own list, so no other breakpoint is lost.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

inline constexpr int kBreakpointTextSize = 80;
inline constexpr int kBreakpointInputLimit = 31; // characters taken from the debugger's field
inline constexpr int kExtraBreakpointLimit = 32;

struct Breakpoints {
    std::array<char, kBreakpointTextSize> text{}; // upper case, zero padded
    std::array<uint64_t, 65536 / 64> bits{};
    std::array<uint16_t, kExtraBreakpointLimit> extra{}; // added from the table, in the order added
    uint8_t extraCount = 0;
    std::array<uint64_t, 65536 / 64> off{}; // switched off in the table
};

// Takes at most `limit` characters of typed text (the debugger's field takes
// 31, a command line the whole text), upper-cases a-z, pads with zeros and
// compiles the set. Every address of the new text is switched on.
void breakpoints_set(Breakpoints& b, std::string_view typed, int limit = kBreakpointInputLimit);

inline bool breakpoint_at(const Breakpoints& b, uint16_t pc) { return (b.bits[pc >> 6] >> (pc & 63)) & 1; }

// The addresses the text holds, in the order they first occur.
std::vector<uint16_t> breakpoints_in_text(const Breakpoints& b);
bool breakpoint_in_text(const Breakpoints& b, uint16_t address);
bool breakpoint_listed(const Breakpoints& b, uint16_t address); // in the text or the table's list
bool breakpoint_enabled(const Breakpoints& b, uint16_t address);

// A breakpoint of the table's own, switched on; one already listed is only
// switched on. False when the table's list is full.
bool breakpoints_add(Breakpoints& b, uint16_t address);
// Takes the address out of the text and the table's list. False when the
// neighbours it shared digits with do not all fit in the table's list (the
// text is then left as it was).
bool breakpoints_remove(Breakpoints& b, uint16_t address);
void breakpoints_enable(Breakpoints& b, uint16_t address, bool on);
// Empties the text and the table's list.
void breakpoints_clear(Breakpoints& b);
