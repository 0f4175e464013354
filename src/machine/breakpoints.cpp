#include "machine/breakpoints.h"

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

void breakpoints_set(Breakpoints& b, std::string_view typed) {
    b.text.fill(0);
    b.bits.fill(0);
    for (size_t i = 0; i < typed.size() && i < size_t(kBreakpointInputLimit); ++i) {
        const unsigned char c = static_cast<unsigned char>(typed[i]);
        b.text[i] = char(c > 0x60 ? c - 0x20 : c);
    }
    // Only the upper-case hex form of a PC can match, so every four hex digits
    // in a row name exactly one address.
    for (int at = 0; at <= kBreakpointTextSize - 4; ++at) {
        int address = 0;
        for (int k = 0; k < 4 && address >= 0; ++k) {
            const int digit = hex_value(b.text[at + k]);
            address = digit < 0 ? -1 : address << 4 | digit;
        }
        if (address >= 0) b.bits[address >> 6] |= uint64_t(1) << (address & 63);
    }
}
