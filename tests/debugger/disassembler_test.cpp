#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "debugger/disassembler.h"
#include "z80/z80_execute.h"

namespace {

// On the heap and exactly 64 KB, so the sanitizer build catches any read past the image.
using Memory = std::array<uint8_t, 65536>;

void load(Memory& m, uint16_t at, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) m[at++] = b;
}

TEST(Disassembler, TextAndLength) {
    struct Case {
        std::vector<uint8_t> bytes;
        const char* text;
        int length;
    };
    const Case cases[] = {
        {{0x00}, "NOP", 1}, {{0x21, 0x34, 0x12}, "LD HL,1234h", 3}, {{0x08}, "EX AF,AF'", 1},
        {{0x22, 0x34, 0x12}, "LD (1234h),HL", 3}, {{0x3A, 0x34, 0x12}, "LD A,(1234h)", 3},
        {{0x18, 0xFE}, "JR -02h", 2}, {{0x18, 0x05}, "JR +05h", 2}, {{0x10, 0x80}, "DJNZ -80h", 2},
        {{0x38, 0x7F}, "JR C,+7Fh", 2}, {{0xC2, 0x00, 0x80}, "JP NZ,8000h", 3}, {{0x76}, "HALT", 1},
        {{0xD3, 0x10}, "OUTA (10h)", 2}, {{0xDB, 0x10}, "INA (10h)", 2}, {{0xE3}, "EX HL,(SP)", 1},
        {{0x80}, "ADD B", 1}, {{0x9E}, "SBC (HL)", 1}, {{0xC6, 0x05}, "ADD 05h", 2}, {{0xFF}, "RST 38h", 1},
        {{0xF1}, "POP AF", 1}, {{0xE9}, "LD PC,HL", 1},
        // CB and ED
        {{0xCB, 0x30}, "SLL B", 2}, {{0xCB, 0x7E}, "BIT 7,(HL)", 2}, {{0xCB, 0xC7}, "SET 0,A", 2},
        {{0xED, 0x4C}, "DB EDh,4Ch", 2}, {{0xED, 0x71}, "DB EDh,71h", 2}, {{0xED, 0xFF}, "DB EDh,FFh", 2},
        {{0xED, 0x70}, "IN F,(C)", 2}, {{0xED, 0x79}, "OUT (C),A", 2}, {{0xED, 0x52}, "SBC HL,DE", 2},
        {{0xED, 0x7A}, "ADC HL,SP", 2}, {{0xED, 0x43, 0x00, 0x80}, "LD (8000h),BC", 4},
        {{0xED, 0x6B, 0x34, 0x12}, "LD HL,(1234h)", 4}, {{0xED, 0x4D}, "RETI", 2}, {{0xED, 0x56}, "IM 1", 2},
        {{0xED, 0x5F}, "LD A,R", 2}, {{0xED, 0x6F}, "RLD", 2}, {{0xED, 0xA3}, "OUTI", 2},
        {{0xED, 0xB3}, "OTIR", 2}, {{0xED, 0xBB}, "OTDR", 2}, {{0xED, 0xBA}, "INDR", 2},
        // DD and FD: raw displacement after (IX+, signed after DD CB
        {{0xDD, 0x7E, 0xFE}, "LD A,(IX+FEh)", 3}, {{0xDD, 0x36, 0x05, 0x3E}, "LD (IX+05h),3Eh", 4},
        {{0xDD, 0x66, 0x05}, "LD H,(IX+05h)", 3}, {{0xFD, 0x75, 0xFE}, "LD (IY+FEh),L", 3},
        {{0xDD, 0x29}, "ADD IX,IX", 2}, {{0xDD, 0x09}, "ADD IX,BC", 2}, {{0xFD, 0x65}, "LD IYh,IYl", 2},
        {{0xDD, 0xE9}, "LD PC,IX", 2}, {{0xDD, 0xEB}, "EX DE,IX", 2}, {{0xFD, 0x2A, 0x34, 0x12}, "LD IY,(1234h)", 4},
        {{0xDD, 0x8F}, "ADC A", 2}, {{0xDD, 0x76}, "HALT", 2}, {{0xDD, 0x10, 0xFE}, "DJNZ -02h", 3},
        {{0xDD, 0xDD}, "PFX_DD", 2}, {{0xFD, 0xED}, "PFX_ED", 2},
        {{0xFD, 0xCB, 0xFE, 0x46}, "BIT 0,(IY-02h)", 4}, {{0xDD, 0xCB, 0x80, 0xFE}, "SET 7,(IX-80h)", 4},
        {{0xDD, 0xCB, 0x05, 0x00}, "RLC B", 4}, {{0xDD, 0xCB, 0x05, 0x36}, "SLL (IX+05h)", 4},
    };
    auto m = std::make_unique<Memory>();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        m->fill(0);
        load(*m, 0x8000, c.bytes);
        const Disassembly d = disassemble(*m, 0x8000);
        EXPECT_EQ(d.text, c.text);
        EXPECT_EQ(d.length, c.length);
    }
}

TEST(DisassemblerListing, LineFormat) {
    auto m = std::make_unique<Memory>();
    EXPECT_EQ(listing_line(*m, 0x0000), "0000  00" + std::string(10, ' ') + "NOP\r\n");
    load(*m, 0x7AE9, {0x21, 0x34, 0x12});
    EXPECT_EQ(listing_line(*m, 0x7AE9), "7AE9  21 34 12    LD HL,1234h\r\n");
    load(*m, 0x8000, {0x10, 0xFE, 0xDD, 0x36, 0x05, 0x3E});
    EXPECT_EQ(listing_line(*m, 0x8000), "8000  10 FE       DJNZ -02h\r\n");
    EXPECT_EQ(listing_line(*m, 0x8002), "8002  DD 36 05    LD (IX+05h),3Eh\r\n"); // fourth byte not shown
}

TEST(DisassemblerListing, WalksFromInstructionToInstruction) {
    auto m = std::make_unique<Memory>();
    load(*m, 0x8000, {0x21, 0x34, 0x12, 0xDD, 0xDD, 0x21, 0x00, 0x40});
    EXPECT_EQ(listing(*m, 0x8000, 0x8005), "8000  21 34 12    LD HL,1234h\r\n"
                                           "8003  DD DD       PFX_DD\r\n"
                                           "8005  21 00 40    LD HL,4000h\r\n");
    EXPECT_EQ(listing(*m, 0x8001, 0x8001), "8001  34          INC (HL)\r\n");
    EXPECT_EQ(listing(*m, 0x8001, 0x8000), "");
}

TEST(DisassemblerListing, EndsAtTheTopOfMemoryInsteadOfWrapping) {
    auto m = std::make_unique<Memory>();
    const std::string all = listing(*m, 0x0000, 0xFFFF);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 65536);
    load(*m, 0xFFFE, {0x21, 0x34, 0x12}); // the last byte lands at 0x0000
    EXPECT_EQ(listing(*m, 0xFFFD, 0xFFFF), "FFFD  00          NOP\r\n"
                                           "FFFE  21 34 12    LD HL,1234h\r\n");
}

// Every first and second byte, the rest fixed: the length is what the chosen
// template's placeholders consume, nothing is left unexpanded, and the same
// bytes read across the end of memory give the same result.
TEST(Disassembler, EveryLeadingBytePair) {
    const int prefixLength[] = {1, 2, 2, 2, 4}; // by DisasmTable
    auto plain = std::make_unique<Memory>(), wrap2 = std::make_unique<Memory>(), wrap1 = std::make_unique<Memory>();
    for (int b0 = 0; b0 < 256; ++b0) {
        for (int b1 = 0; b1 < 256; ++b1) {
            const std::vector<uint8_t> bytes = {uint8_t(b0), uint8_t(b1), 0xFE, 0x36};
            load(*plain, 0x8000, bytes);
            load(*wrap2, 0xFFFE, bytes);
            load(*wrap1, 0xFFFF, bytes);
            const Disassembly d = disassemble(*plain, 0x8000);
            int expected = prefixLength[int(d.table)];
            for (char c : disasm_template(d.table, d.opcode)) {
                expected += c == '^' || c == '*' || (c == '@' && d.table != DisasmTable::IndexBit);
                expected += c == '#' ? 2 : 0;
            }
            SCOPED_TRACE(testing::Message() << std::hex << b0 << " " << b1 << ": " << d.text);
            ASSERT_EQ(d.length, expected);
            ASSERT_TRUE(d.length >= 1 && d.length <= 4);
            ASSERT_EQ(d.text.find_first_of("*#@^%"), std::string::npos);
            for (const Disassembly& w : {disassemble(*wrap2, 0xFFFE), disassemble(*wrap1, 0xFFFF)}) {
                ASSERT_EQ(w.text, d.text);
                ASSERT_EQ(w.length, d.length);
            }
        }
    }
}

TEST(Disassembler, IndexPrefixesDifferOnlyInTheLetter) {
    auto m = std::make_unique<Memory>();
    for (int op = 0; op < 256; ++op) {
        for (bool bitForm : {false, true}) {
            const std::vector<uint8_t> tail = bitForm ? std::vector<uint8_t>{0xCB, 0x85, uint8_t(op)}
                                                      : std::vector<uint8_t>{uint8_t(op), 0x85, 0x3E};
            m->at(0x8000) = 0xDD;
            m->at(0x9000) = 0xFD;
            load(*m, 0x8001, tail);
            load(*m, 0x9001, tail);
            const Disassembly x = disassemble(*m, 0x8000), y = disassemble(*m, 0x9000);
            SCOPED_TRACE(x.text + " / " + y.text);
            ASSERT_EQ(x.length, y.length);
            ASSERT_EQ(x.text.size(), y.text.size());
            bool differ = false;
            for (size_t i = 0; i < x.text.size(); ++i) {
                ASSERT_TRUE(x.text[i] == y.text[i] || (x.text[i] == 'X' && y.text[i] == 'Y'));
                differ |= x.text[i] != y.text[i];
            }
            EXPECT_EQ(differ, disasm_template(x.table, x.opcode).find('%') != std::string_view::npos);
        }
    }
}

// An operand naming H, L, HL or (HL).
bool uses_hl(std::string_view t) {
    const size_t blank = t.find(' ');
    for (size_t at = blank; at != std::string_view::npos && at < t.size();) {
        const size_t comma = t.find(',', at + 1);
        const std::string_view operand = t.substr(at + 1, comma == t.npos ? t.npos : comma - at - 1);
        if (operand == "H" || operand == "L" || operand == "HL" || operand == "(HL)") return true;
        at = comma;
    }
    return false;
}

TEST(DisassemblerTables, DerivedTablesFollowTheirBase) {
    for (int op = 0; op < 256; ++op) {
        SCOPED_TRACE(op);
        for (DisasmTable t : {DisasmTable::Main, DisasmTable::Bit, DisasmTable::Extended, DisasmTable::Index,
                              DisasmTable::IndexBit})
            EXPECT_FALSE(disasm_template(t, uint8_t(op)).empty());
        EXPECT_EQ(disasm_template(DisasmTable::Main, uint8_t(op)).starts_with("PFX_"),
                  op == 0xCB || op == 0xDD || op == 0xED || op == 0xFD);

        const std::string_view main = disasm_template(DisasmTable::Main, uint8_t(op));
        const std::string_view index = disasm_template(DisasmTable::Index, uint8_t(op));
        if (uses_hl(main)) EXPECT_NE(index.find("I%"), std::string_view::npos) << index;
        else EXPECT_EQ(index, main);

        std::string bit(disasm_template(DisasmTable::Bit, uint8_t(op)));
        if (const size_t at = bit.find("(HL)"); at != std::string::npos) bit.replace(at, 4, "(I%@h)");
        EXPECT_EQ(disasm_template(DisasmTable::IndexBit, uint8_t(op)), bit);
    }
}

TEST(DisassemblerTables, ExtendedTableDefinesExactlyTheDocumentedOpcodes) {
    std::set<int> defined;
    for (int op = 0x40; op < 0x80; ++op)
        if ((op & 7) <= 3 && op != 0x71) defined.insert(op); // IN, OUT, SBC/ADC HL, LD rp via (nn)
    for (int op : {0x44, 0x45, 0x4D, 0x46, 0x56, 0x5E, 0x47, 0x4F, 0x57, 0x5F, 0x67, 0x6F}) defined.insert(op);
    for (int row : {0xA0, 0xA8, 0xB0, 0xB8})
        for (int i = 0; i < 4; ++i) defined.insert(row + i);
    ASSERT_EQ(defined.size(), 59u);
    for (int op = 0; op < 256; ++op) {
        char db[16];
        std::snprintf(db, sizeof db, "DB EDh,%02Xh", op);
        const std::string_view text = disasm_template(DisasmTable::Extended, uint8_t(op));
        if (defined.count(op)) EXPECT_FALSE(text.starts_with("DB")) << std::hex << op;
        else EXPECT_EQ(text, db);
    }
}

// A system that records how far into the instruction at 0x8000 the processor
// read; a branch not taken skips its operand instead, seen in the PC. Data
// accesses stay clear of it: every pointer register is 0x4000 and the operand
// bytes are zero, so (nn) is 0x0000 and taken jumps leave the area.
struct FetchProbe {
    Memory memory{};
    int fetched = 0;
};
uint8_t z80_read_byte(FetchProbe& s, uint16_t a) {
    if (a >= 0x8000 && a < 0x8004) s.fetched = std::max(s.fetched, a - 0x8000 + 1);
    return s.memory[a];
}
void z80_write_byte(FetchProbe&, uint16_t, uint8_t) {}
uint8_t z80_port_in(FetchProbe&, uint16_t) { return 0xFF; }
void z80_port_out(FetchProbe&, uint16_t, uint8_t) {}
uint16_t z80_loop_hook(FetchProbe&, Z80Registers& r) { return r.pc; }
void z80_edfe_hook(FetchProbe&, Z80Registers&) {}

TEST(Disassembler, LengthIsWhatTheProcessorFetches) {
    auto probe = std::make_unique<FetchProbe>();
    std::vector<std::vector<uint8_t>> programs;
    for (int op = 0; op < 256; ++op) {
        const auto b = uint8_t(op);
        if (op != 0xCB && op != 0xDD && op != 0xED && op != 0xFD) programs.push_back({b, 0, 0, 0});
        programs.push_back({0xCB, b, 0, 0});
        // The processor lets a second prefix start over; the disassembler shows a two-byte PFX_ or DB line.
        if (op != 0xED) programs.push_back({0xED, b, 0, 0});
        if (op != 0xCB && op != 0xDD && op != 0xFD) programs.push_back({0xDD, b, 0, 0}), programs.push_back({0xFD, b, 0, 0});
        programs.push_back({0xDD, 0xCB, 0, b});
        programs.push_back({0xFD, 0xCB, 0, b});
    }
    for (const auto& program : programs) {
        load(probe->memory, 0x8000, program);
        Z80Registers r;
        r.cycle_period = 1000;
        z80_reset(r);
        r.pc = 0x8000;
        r.bc = r.de = r.hl = r.ix = r.iy = r.sp = 0x4000;
        probe->fetched = 0;
        z80_execute(*probe, r);
        if (r.pc > 0x8000 && r.pc <= 0x8004) probe->fetched = std::max(probe->fetched, r.pc - 0x8000);
        const Disassembly d = disassemble(probe->memory, 0x8000);
        EXPECT_EQ(d.length, probe->fetched) << std::hex << int(program[0]) << " " << int(program[1]) << " "
                                            << int(program[3]) << ": " << d.text;
    }
}

} // namespace
