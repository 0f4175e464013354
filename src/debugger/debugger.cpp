#include "debugger/debugger.h"

#include <cstdio>
#include <memory>

#include "debugger/disassembler.h"
#include "debugger/symbols.h"
#include "files/vz_file.h"
#include "machine/bus.h"
#include "machine/frame.h"
#include "machine/machine.h"

namespace {

std::string format(const char* fmt, int value) {
    char s[32];
    std::snprintf(s, sizeof s, fmt, value);
    return s;
}

std::string bits_of(uint8_t v) {
    std::string s;
    for (int b = 7; b >= 0; --b) s += (v >> b) & 1 ? '1' : '0';
    return s;
}

struct Rgb {
    uint8_t r, g, b;
};

constexpr Rgb rgb_of(uint8_t paletteIndex) {
    const uint32_t c = palette_rgb(paletteIndex);
    return {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
}

constexpr Rgb kTextGreen = rgb_of(kGreen);
constexpr Rgb kMarkerBlue = rgb_of(kBlue);

class Pane {
public:
    Pane() : pixels_(size_t(kDebugPaneWidth) * kDebugPaneHeight * 3, 0) {}

    void set(int x, int y, Rgb c) {
        const size_t at = (size_t(y) * kDebugPaneWidth + size_t(x)) * 3;
        pixels_[at] = c.r;
        pixels_[at + 1] = c.g;
        pixels_[at + 2] = c.b;
    }

    // An 8 x 12 glyph of the built-in font at character cell (column, row).
    void glyph(int column, int row, int glyph, Rgb colour) {
        for (int r = 0; r < kGlyphRows; ++r) {
            const uint8_t bits = kBuiltinFont[size_t(glyph * kGlyphRows + r)];
            for (int k = 0; k < 8; ++k)
                set(column * 8 + k, row * kGlyphRows + r, (bits >> (7 - k)) & 1 ? colour : Rgb{0, 0, 0});
        }
    }

    std::vector<uint8_t> take() { return std::move(pixels_); }

private:
    std::vector<uint8_t> pixels_;
};

} // namespace

std::string debugger_registers_text(const Machine& m) {
    const Z80Registers& r = m.z80;
    const struct {
        const char* name;
        const char* alt;
        uint16_t value, altValue;
    } pairs[] = {{"AF  ", "AF' ", r.af, r.af_alt},
                 {"BC  ", "BC' ", r.bc, r.bc_alt},
                 {"DE  ", "DE' ", r.de, r.de_alt},
                 {"HL  ", "HL' ", r.hl, r.hl_alt}};
    std::string t;
    for (const auto& p : pairs) t += p.name + format("%04X  ", p.value) + p.alt + format("%04X", p.altValue) + "\r\n";
    t += "IX  " + format("%04X", r.ix) + "\r\n";
    t += "IY  " + format("%04X", r.iy) + "\r\n";
    t += "PC  " + format("%04X", r.pc) + "\r\n";
    t += "SP  " + format("%04X", r.sp) + "\r\n";
    t += "\r\nFlags:  SZ.A.PNC\r\n        " + bits_of(uint8_t(r.af));
    return t;
}

std::string debugger_pointers_text(const Machine& m) {
    return "Start of Basic: " + format("%04X", memory_word(m, kBasicStartPointer)) + "\r\n" +
           "End of Basic  : " + format("%04X", memory_word(m, kBasicEndPointer)) + "\r\n" +
           "Top of Memory : " + format("%04X", memory_word(m, kTopOfMemoryPointer)) + "\r\n\r\n";
}

std::string debugger_hardware_text(const Machine& m) {
    return "Scanline   :  " + format("%2d", m.state.scanline) + "\r\n" + "Intr Cycles:  " +
           format("%2d", m.z80.cycles_left) + "\r\n\r\n" + "Latch:  ..SVVCCS \r\n        " +
           bits_of(m.state.memory[kGermanLatchCopy]);
}

std::string debugger_disassembly_text(const Machine& m, const SymbolTable* symbols) {
    std::string t;
    const auto memory = std::make_unique<std::array<uint8_t, 65536>>();
    memory_view(m, *memory);
    uint16_t address = m.z80.pc;
    for (int i = 0; i < kDisassemblyLines; ++i) {
        const Disassembly d = disassemble(*memory, address);
        t += label_lines(symbols, address);
        t += listing_line(*memory, address, d, symbols);
        address = uint16_t(address + d.length);
    }
    return t;
}

bool debugger_step(Machine& m, MachineIo& io) { return machine_step(m, io) != 0; }

std::optional<uint16_t> debugger_parse_address(std::string_view typed) {
    while (!typed.empty() && typed.front() == ' ') typed.remove_prefix(1);
    while (!typed.empty() && typed.back() == ' ') typed.remove_suffix(1);
    if (typed.empty() || typed.size() > 4) return std::nullopt;
    int value = 0;
    for (const char ch : typed) {
        int c = static_cast<unsigned char>(ch);
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (!hex) return std::nullopt;
        // The machine's own conversion: lower case first, then letters, then digits.
        if (c > 0x60) c -= 0x20;
        if (c > 0x40) c -= 0x37;
        if (c > 0x2F) c -= 0x30;
        value = value * 16 + c;
    }
    return uint16_t(value);
}

std::string debugger_listing(const Machine& m, std::string_view startText, std::string_view endText,
                             const SymbolTable* symbols) {
    const auto start = address_or_symbol(startText, symbols);
    const auto end = address_or_symbol(endText, symbols);
    if (!start || !end || *end < *start) return {};
    const int last = std::min<int>(*end, *start + kListingLimit);
    const auto memory = std::make_unique<std::array<uint8_t, 65536>>();
    memory_view(m, *memory);
    return listing(*memory, *start, uint16_t(std::min(last, 0xFFFF)), symbols);
}

std::optional<uint16_t> debugger_line_address(std::string_view line, const SymbolTable* symbols) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.remove_suffix(1);
    if (!line.empty() && line.back() == ':')
        return symbols ? symbol_address(*symbols, line.substr(0, line.size() - 1)) : std::nullopt;
    if (line.size() < 6 || line.substr(4, 2) != "  ") return std::nullopt;
    return debugger_parse_address(line.substr(0, 4));
}

void debugger_set_pc(Machine& m, uint16_t pc) {
    m.z80.pc = pc;
    m.z80.int_state &= uint8_t(~kZ80Halted);
}

bool debugger_set_register(Machine& m, std::string_view name, std::string_view value,
                           const SymbolTable* symbols) {
    Z80Registers& r = m.z80;
    const struct {
        const char* name;
        uint16_t* pair;
    } pairs[] = {{"AF", &r.af},      {"BC", &r.bc},      {"DE", &r.de},      {"HL", &r.hl},
                 {"AF'", &r.af_alt}, {"BC'", &r.bc_alt}, {"DE'", &r.de_alt}, {"HL'", &r.hl_alt},
                 {"IX", &r.ix},      {"IY", &r.iy},      {"SP", &r.sp}};
    const auto v = address_or_symbol(value, symbols);
    if (!v) return false;
    if (name == "PC") {
        debugger_set_pc(m, *v);
        return true;
    }
    for (const auto& p : pairs) {
        if (name != p.name) continue;
        *p.pair = *v;
        return true;
    }
    if (name != "I" || *v > 0xFF) return false;
    r.i = uint8_t(*v);
    return true;
}

void debugger_set_flag(Machine& m, int bit, bool on) {
    const uint16_t mask = uint16_t(1u << (bit & 7));
    m.z80.af = on ? uint16_t(m.z80.af | mask) : uint16_t(m.z80.af & ~mask);
}

void debugger_poke(Machine& m, uint16_t address, uint8_t value) { memory_poke(m, address, value); }

uint16_t debugger_memory_up(uint16_t address) {
    return address > kMemoryViewStep ? uint16_t(address - kMemoryViewStep) : address;
}

uint16_t debugger_memory_down(uint16_t address) {
    return address < 0xFFF9 ? uint16_t(address + kMemoryViewStep) : address;
}

// The picture from one row above the first active row (as the debugger has
// always shown it), with the current scanline marked from line 63 on.
std::vector<uint8_t> debugger_picture_rgb(const Machine& m) {
    Pane pane;
    for (int y = 0; y < kDebugPaneHeight; ++y) {
        for (int x = 0; x < kDebugPaneWidth; ++x) {
            pane.set(x, y, rgb_of(m.frameBuffer[size_t(y + 24) * kFrameWidth + size_t(x + kPictureLeft)]));
        }
    }
    const int marker = m.state.scanline - 63;
    if (marker >= 0 && marker < kDebugPaneHeight)
        for (int x = 0; x < kDebugPaneWidth; ++x) pane.set(x, marker, kMarkerBlue);
    return pane.take();
}

std::vector<uint8_t> debugger_memory_rgb(const Machine& m, uint16_t address) {
    Pane pane;
    for (int row = 0; row < kDebugPaneHeight / kGlyphRows; ++row) {
        const uint16_t base = uint16_t(address + row * kMemoryViewStep);
        char text[32];
        int n = std::snprintf(text, sizeof text, "%04X  ", base);
        for (int j = 0; j < kMemoryViewStep; ++j)
            n += std::snprintf(text + n, sizeof text - size_t(n), "%02X ", memory_peek(m, uint16_t(base + j)));
        n += std::snprintf(text + n, sizeof text - size_t(n), "  ");
        for (int col = 0; col < n && col < 26; ++col) {
            const int c = static_cast<unsigned char>(text[col]);
            pane.glyph(col, row, c > 64 ? c - 64 : c, kTextGreen);
        }
        for (int j = 0; j < kMemoryViewStep; ++j) {
            const uint8_t b = memory_peek(m, uint16_t(base + j));
            // As the machine shows them: characters green, semigraphics blocks
            // in the colour of bits 4-6.
            if (b < 0x80) pane.glyph(26 + j, row, b & 0x3F, kTextGreen);
            else pane.glyph(26 + j, row, 64 + (b & 0x0F), rgb_of(uint8_t((b >> 4) & 7)));
        }
    }
    return pane.take();
}
