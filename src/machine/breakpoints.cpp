#include "machine/breakpoints.h"

#include <algorithm>
#include <string>

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool bit(const std::array<uint64_t, 1024>& set, uint16_t a) { return (set[a >> 6] >> (a & 63)) & 1; }
void put(std::array<uint64_t, 1024>& set, uint16_t a, bool on) {
    const uint64_t mask = uint64_t(1) << (a & 63);
    set[a >> 6] = on ? set[a >> 6] | mask : set[a >> 6] & ~mask;
}

// The address of the four characters at `at`, or -1.
int window_at(const std::array<char, kBreakpointTextSize>& text, int at) {
    int address = 0;
    for (int k = 0; k < 4 && address >= 0; ++k) {
        const int digit = hex_value(text[size_t(at + k)]);
        address = digit < 0 ? -1 : address << 4 | digit;
    }
    return address;
}

void compile(Breakpoints& b) {
    b.bits.fill(0);
    // Only the upper-case hex form of a PC can match, so every four hex digits
    // in a row name exactly one address.
    for (int at = 0; at <= kBreakpointTextSize - 4; ++at)
        if (const int address = window_at(b.text, at); address >= 0) put(b.bits, uint16_t(address), true);
    for (int i = 0; i < b.extraCount; ++i) put(b.bits, b.extra[size_t(i)], true);
    for (size_t w = 0; w < b.bits.size(); ++w) b.bits[w] &= ~b.off[w];
}

int extra_index(const Breakpoints& b, uint16_t address) {
    for (int i = 0; i < b.extraCount; ++i)
        if (b.extra[size_t(i)] == address) return i;
    return -1;
}

} // namespace

void breakpoints_set(Breakpoints& b, std::string_view typed, int limit) {
    b.text.fill(0);
    limit = std::clamp(limit, 0, kBreakpointTextSize);
    for (size_t i = 0; i < typed.size() && i < size_t(limit); ++i) {
        const unsigned char c = static_cast<unsigned char>(typed[i]);
        b.text[i] = char(c > 0x60 ? c - 0x20 : c);
    }
    for (const uint16_t a : breakpoints_in_text(b)) put(b.off, a, false);
    compile(b);
}

std::vector<uint16_t> breakpoints_in_text(const Breakpoints& b) {
    std::vector<uint16_t> found;
    for (int at = 0; at <= kBreakpointTextSize - 4; ++at) {
        const int address = window_at(b.text, at);
        if (address >= 0 && std::find(found.begin(), found.end(), address) == found.end())
            found.push_back(uint16_t(address));
    }
    return found;
}

bool breakpoint_in_text(const Breakpoints& b, uint16_t address) {
    for (int at = 0; at <= kBreakpointTextSize - 4; ++at)
        if (window_at(b.text, at) == address) return true;
    return false;
}

bool breakpoint_listed(const Breakpoints& b, uint16_t address) {
    return extra_index(b, address) >= 0 || breakpoint_in_text(b, address);
}

bool breakpoint_enabled(const Breakpoints& b, uint16_t address) {
    return breakpoint_listed(b, address) && !bit(b.off, address);
}

bool breakpoints_add(Breakpoints& b, uint16_t address) {
    if (!breakpoint_listed(b, address)) {
        if (b.extraCount == kExtraBreakpointLimit) return false;
        b.extra[b.extraCount++] = address;
    }
    put(b.off, address, false);
    compile(b);
    return true;
}

bool breakpoints_remove(Breakpoints& b, uint16_t address) {
    const std::vector<uint16_t> before = breakpoints_in_text(b);
    std::array<char, kBreakpointTextSize> text = b.text;
    for (int at = 0; at <= kBreakpointTextSize - 4; ++at)
        if (window_at(text, at) == address) std::fill_n(text.begin() + at, 4, ' ');
    // Tidy the blanks left behind: one blank between what remains, none at the
    // ends. A blank always stays between two runs, so no new address forms.
    std::string tidy;
    for (const char c : text) {
        if (c == 0) break;
        if (c == ' ' && (tidy.empty() || tidy.back() == ' ')) continue;
        tidy += c;
    }
    while (!tidy.empty() && tidy.back() == ' ') tidy.pop_back();
    std::array<char, kBreakpointTextSize> newText{};
    std::copy(tidy.begin(), tidy.end(), newText.begin());

    Breakpoints after = b;
    after.text = newText;
    const int at = extra_index(after, address);
    if (at >= 0) {
        std::copy(after.extra.begin() + at + 1, after.extra.begin() + after.extraCount,
                  after.extra.begin() + at);
        --after.extraCount;
    }
    for (const uint16_t lost : before) {
        if (lost == address || breakpoint_listed(after, lost)) continue;
        if (after.extraCount == kExtraBreakpointLimit) return false;
        after.extra[after.extraCount++] = lost;
    }
    put(after.off, address, false);
    compile(after);
    b = after;
    return true;
}

void breakpoints_enable(Breakpoints& b, uint16_t address, bool on) {
    put(b.off, address, !on);
    compile(b);
}

void breakpoints_clear(Breakpoints& b) {
    b.text.fill(0);
    b.extraCount = 0;
    b.off.fill(0);
    compile(b);
}
