// The templates are written from the same x/y/z/p/q rules as the processor's
// cycle tables, so a wrong text is a wrong rule rather than a typo in one of
// 1280 pasted strings. The index table is the unprefixed rule run again with
// index names in place of HL, H, L and (HL); the index-bit table is the CB rule
// with another memory operand. Building them at compile time lets the checks at
// the end of the tables fail the build.
#include "debugger/disassembler.h"
#include "debugger/symbols.h"

#include "z80/z80_tables.h"

namespace {

using z80_tables::op_p;
using z80_tables::op_q;
using z80_tables::op_x;
using z80_tables::op_y;
using z80_tables::op_z;

// A template under construction. Fixed capacity, so it can be built at compile
// time; an entry that outgrew it would fail the build.
struct Template {
    std::array<char, 16> chars{};
    size_t size = 0;

    constexpr void append(std::string_view s) {
        for (char c : s) chars[size++] = c;
    }
    constexpr std::string_view view() const { return {chars.data(), size}; }
    constexpr operator std::string_view() const { return view(); }
};

template <class... Parts> constexpr Template cat(const Parts&... parts) {
    Template t;
    (t.append(std::string_view(parts)), ...);
    return t;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr Template hex_byte(int v) {
    const char digits[] = {kHexDigits[(v >> 4) & 15], kHexDigits[v & 15]};
    return cat(std::string_view(digits, 2));
}

constexpr Template digit(int v) {
    const char c = char('0' + v);
    return cat(std::string_view(&c, 1));
}

using Names8 = std::array<std::string_view, 8>;
using Names4 = std::array<std::string_view, 4>;

constexpr Names8 kCc = {"NZ", "Z", "NC", "C", "PO", "PE", "P", "M"};
constexpr Names8 kAlu = {"ADD", "ADC", "SUB", "SBC", "AND", "XOR", "OR", "CP"};
constexpr Names8 kRot = {"RLC", "RRC", "RL", "RR", "SLA", "SRA", "SLL", "SRL"};

// The register names an opcode's fields select; the index table swaps them.
struct Operands {
    Names8 r;
    Names4 rp, rp2;
    std::string_view hl;
};

constexpr Operands kPlain = {
    {"B", "C", "D", "E", "H", "L", "(HL)", "A"}, {"BC", "DE", "HL", "SP"}, {"BC", "DE", "HL", "AF"}, "HL"};

constexpr std::string_view index_name(std::string_view name) {
    if (name == "HL") return "I%";
    if (name == "H") return "I%h";
    if (name == "L") return "I%l";
    if (name == "(HL)") return "(I%+^h)";
    return name;
}

constexpr Operands make_index_operands() {
    Operands o = kPlain;
    for (auto& n : o.r) n = index_name(n);
    for (auto& n : o.rp) n = index_name(n);
    for (auto& n : o.rp2) n = index_name(n);
    o.hl = index_name(o.hl);
    return o;
}

constexpr Operands kIndexed = make_index_operands();

constexpr Template main_template(int op, const Operands& o) {
    const int x = op_x(op), y = op_y(op), z = op_z(op), p = op_p(op), q = op_q(op);
    const Names8& r = o.r;
    if (x == 0) {
        switch (z) {
        case 0:
            if (y >= 4) return cat("JR ", kCc[y - 4], ",@h");
            return cat(Names4{"NOP", "EX AF,AF'", "DJNZ @h", "JR @h"}[y]);
        case 1: return q == 0 ? cat("LD ", o.rp[p], ",#h") : cat("ADD ", o.hl, ",", o.rp[p]);
        case 2: {
            const Template mem = p < 2 ? cat("(", o.rp[p], ")") : cat("(#h)");
            const std::string_view reg = p == 2 ? o.hl : "A";
            return q == 0 ? cat("LD ", mem, ",", reg) : cat("LD ", reg, ",", mem);
        }
        case 3: return cat(q == 0 ? "INC " : "DEC ", o.rp[p]);
        case 4: return cat("INC ", r[y]);
        case 5: return cat("DEC ", r[y]);
        case 6: return cat("LD ", r[y], ",*h");
        default: return cat(Names8{"RLCA", "RRCA", "RLA", "RRA", "DAA", "CPL", "SCF", "CCF"}[y]);
        }
    }
    if (x == 1) {
        if (y == 6 && z == 6) return cat("HALT");
        // Beside the memory operand H and L keep their plain names: DD 66 is LD H,(IX+d).
        if (y == 6) return cat("LD ", r[6], ",", kPlain.r[z]);
        if (z == 6) return cat("LD ", kPlain.r[y], ",", r[6]);
        return cat("LD ", r[y], ",", r[z]);
    }
    if (x == 2) return cat(kAlu[y], " ", r[z]);
    switch (z) {
    case 0: return cat("RET ", kCc[y]);
    case 1:
        if (q == 0) return cat("POP ", o.rp2[p]);
        if (p < 2) return cat(p == 0 ? "RET" : "EXX");
        return cat(p == 2 ? "LD PC," : "LD SP,", o.hl);
    case 2: return cat("JP ", kCc[y], ",#h");
    case 3:
        switch (y) {
        case 4: return cat("EX ", o.hl, ",(SP)");
        case 5: return cat("EX DE,", o.hl);
        default: return cat(Names8{"JP #h", "PFX_CB", "OUTA (*h)", "INA (*h)", "", "", "DI", "EI"}[y]);
        }
    case 4: return cat("CALL ", kCc[y], ",#h");
    case 5:
        if (q == 0) return cat("PUSH ", o.rp2[p]);
        return cat(Names4{"CALL #h", "PFX_DD", "PFX_ED", "PFX_FD"}[p]);
    case 6: return cat(kAlu[y], " *h");
    default: return cat("RST ", hex_byte(y * 8), "h");
    }
}

constexpr Template bit_template(int op, std::string_view memoryOperand) {
    const int x = op_x(op), y = op_y(op), z = op_z(op);
    const std::string_view operand = z == 6 ? memoryOperand : kPlain.r[z];
    if (x == 0) return cat(kRot[y], " ", operand);
    return cat(Names4{"", "BIT", "RES", "SET"}[x], " ", digit(y), ",", operand);
}

// ED 4x-7x with z = 4-7, by z and then y; an empty name is undefined.
constexpr std::array<Names8, 4> kEdSingles = {{
    {"NEG"},
    {"RETN", "RETI"},
    {"IM 0", "", "IM 1", "IM 2"},
    {"LD I,A", "LD R,A", "LD A,I", "LD A,R", "RRD", "RLD"},
}};

constexpr Names4 kBlockOp = {"LD", "CP", "IN", "OUT"};
constexpr Names4 kBlockStep = {"I", "D", "IR", "DR"};

constexpr Template ed_template(int op) {
    const int x = op_x(op), y = op_y(op), z = op_z(op), p = op_p(op), q = op_q(op);
    if (x == 1) {
        switch (z) {
        case 0: return cat("IN ", y == 6 ? "F" : kPlain.r[y], ",(C)");
        case 1:
            if (y != 6) return cat("OUT (C),", kPlain.r[y]);
            break;
        case 2: return cat(q == 0 ? "SBC HL," : "ADC HL,", kPlain.rp[p]);
        case 3: return q == 0 ? cat("LD (#h),", kPlain.rp[p]) : cat("LD ", kPlain.rp[p], ",(#h)");
        default:
            if (!kEdSingles[z - 4][y].empty()) return cat(kEdSingles[z - 4][y]);
        }
    } else if (x == 2 && z <= 3 && y >= 4) {
        // The repeating output instructions drop the U: OTIR, OTDR.
        if (z == 3 && y >= 6) return cat("OT", kBlockStep[y - 4]);
        return cat(kBlockOp[z], kBlockStep[y - 4]);
    }
    return cat("DB EDh,", hex_byte(op), "h");
}

template <class F> constexpr std::array<Template, 256> build(F f) {
    std::array<Template, 256> table{};
    for (int op = 0; op < 256; ++op) table[size_t(op)] = f(op);
    return table;
}

constexpr auto kMain = build([](int op) { return main_template(op, kPlain); });
constexpr auto kBit = build([](int op) { return bit_template(op, "(HL)"); });
constexpr auto kExtended = build(ed_template);
constexpr auto kIndex = build([](int op) { return main_template(op, kIndexed); });
constexpr auto kIndexBit = build([](int op) { return bit_template(op, "(I%@h)"); });

// disassemble() consumes operand bytes in one left-to-right pass. That takes
// them in the order the templates need only if every template holds at most
// one "^", at most one of "*", "@" and "#", and "^" before the other.
constexpr bool placeholders_in_order(const std::array<Template, 256>& table) {
    for (const Template& t : table) {
        const std::string_view s = t.view();
        int caret = 0, operands = 0;
        for (char c : s) {
            if (c == '^') {
                if (operands > 0) return false;
                ++caret;
            }
            operands += c == '*' || c == '@' || c == '#';
        }
        if (caret > 1 || operands > 1) return false;
    }
    return true;
}

static_assert(placeholders_in_order(kMain) && placeholders_in_order(kBit) && placeholders_in_order(kExtended));
static_assert(placeholders_in_order(kIndex) && placeholders_in_order(kIndexBit));

// Spot checks, one per rule that bends the regular pattern.
static_assert(kMain[0x22].view() == "LD (#h),HL" && kMain[0x76].view() == "HALT" && kMain[0xE9].view() == "LD PC,HL");
static_assert(kIndex[0x66].view() == "LD H,(I%+^h)" && kIndex[0x36].view() == "LD (I%+^h),*h");
static_assert(kExtended[0x70].view() == "IN F,(C)" && kExtended[0x71].view() == "DB EDh,71h");
static_assert(kExtended[0xB3].view() == "OTIR" && kExtended[0x5E].view() == "IM 2");
static_assert(kIndexBit[0x46].view() == "BIT 0,(I%@h)" && kIndexBit[0x00].view() == "RLC B");

void append_hex(std::string& out, unsigned value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHexDigits[(value >> shift) & 15];
}

} // namespace

std::string_view disasm_template(DisasmTable table, uint8_t opcode) {
    switch (table) {
    case DisasmTable::Main: return kMain[opcode].view();
    case DisasmTable::Bit: return kBit[opcode].view();
    case DisasmTable::Extended: return kExtended[opcode].view();
    case DisasmTable::Index: return kIndex[opcode].view();
    case DisasmTable::IndexBit: return kIndexBit[opcode].view();
    }
    return {};
}

Disassembly disassemble(const std::array<uint8_t, 65536>& memory, uint16_t address) {
    const auto at = [&](int offset) -> unsigned { return memory[uint16_t(address + offset)]; };
    Disassembly d;
    char letter = 0;
    int next = 1; // offset of the next operand byte
    const unsigned b0 = at(0);
    if (b0 == 0xCB || b0 == 0xED) {
        d.table = b0 == 0xCB ? DisasmTable::Bit : DisasmTable::Extended;
        d.opcode = uint8_t(at(1));
        next = 2;
    } else if (b0 == 0xDD || b0 == 0xFD) {
        letter = b0 == 0xDD ? 'X' : 'Y';
        if (at(1) == 0xCB) {
            d.table = DisasmTable::IndexBit;
            d.opcode = uint8_t(at(3));
            next = 4; // the displacement at offset 2 is read by "@"
        } else {
            d.table = DisasmTable::Index;
            d.opcode = uint8_t(at(1));
            next = 2;
        }
    } else {
        d.opcode = uint8_t(b0);
    }

    d.text.reserve(24);
    for (char c : disasm_template(d.table, d.opcode)) {
        switch (c) {
        case '%': d.text += letter; break;
        case '^':
        case '*': append_hex(d.text, at(next++), 2); break;
        case '#':
            d.hasAddress = true;
            d.address = uint16_t(at(next) | at(next + 1) << 8);
            d.addressAt = uint8_t(d.text.size());
            d.addressLength = 5; // with the "h" after it
            append_hex(d.text, d.address, 4);
            next += 2;
            break;
        case '@': {
            const unsigned e = d.table == DisasmTable::IndexBit ? at(2) : at(next++);
            if (d.table != DisasmTable::IndexBit) {
                // A relative jump; its operand is the last, so its end is the instruction's.
                d.hasAddress = true;
                d.address = uint16_t(address + next + int8_t(e));
                d.addressAt = uint8_t(d.text.size());
                d.addressLength = 4;
            }
            d.text += e < 0x80 ? '+' : '-';
            append_hex(d.text, e < 0x80 ? e : 256 - e, 2);
            break;
        }
        default: d.text += c;
        }
    }
    d.length = next;
    return d;
}

std::string disasm_text(const Disassembly& d, const SymbolTable* symbols) {
    const std::string* name = symbols && d.hasAddress ? symbol_name(*symbols, d.address) : nullptr;
    if (!name) return d.text;
    std::string text = d.text;
    return text.replace(d.addressAt, d.addressLength, *name);
}

std::string label_lines(const SymbolTable* symbols, uint16_t address) {
    std::string lines;
    if (symbols)
        for (const std::string_view name : symbols_at(*symbols, address)) (lines += name) += ":\r\n";
    return lines;
}

std::string listing_line(const std::array<uint8_t, 65536>& memory, uint16_t address, const Disassembly& d,
                         const SymbolTable* symbols) {
    std::string line;
    line.reserve(48);
    append_hex(line, address, 4);
    line += "  ";
    for (int i = 0; i < 3; ++i) {
        if (i < d.length) append_hex(line, memory[uint16_t(address + i)], 2);
        else line += "  ";
        line += ' ';
    }
    line += "   ";
    line += symbols ? disasm_text(d, symbols) : d.text;
    line += "\r\n";
    return line;
}

std::string listing_line(const std::array<uint8_t, 65536>& memory, uint16_t address) {
    return listing_line(memory, address, disassemble(memory, address));
}

std::string listing(const std::array<uint8_t, 65536>& memory, uint16_t start, uint16_t end,
                    const SymbolTable* symbols) {
    std::string text;
    for (uint32_t a = start; a <= end;) {
        const Disassembly d = disassemble(memory, uint16_t(a));
        if (symbols) text += label_lines(symbols, uint16_t(a));
        text += listing_line(memory, uint16_t(a), d, symbols);
        a += uint32_t(d.length);
    }
    return text;
}
