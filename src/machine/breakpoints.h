// Breakpoints: the debugger's breakpoint text and the address set compiled from it.
//
// The text is searched as plain characters: the machine stops after any
// instruction whose following PC, written as four upper-case hex digits,
// occurs in the text at a position from 0 to 75. "12345" therefore holds 1234
// and 2345, and separators are not needed. Compiling the text into a set of
// 65536 bits when it is set makes the per-instruction check one bit test.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

inline constexpr int kBreakpointTextSize = 80;
inline constexpr int kBreakpointInputLimit = 31; // characters taken from the debugger's field

struct Breakpoints {
    std::array<char, kBreakpointTextSize> text{}; // upper case, zero padded
    std::array<uint64_t, 65536 / 64> bits{};
};

// Takes at most 31 characters of typed text, upper-cases a-z, pads with zeros
// and compiles the set.
void breakpoints_set(Breakpoints& b, std::string_view typed);

inline bool breakpoint_at(const Breakpoints& b, uint16_t pc) { return (b.bits[pc >> 6] >> (pc & 63)) & 1; }
