// Symbol files of both forms, labels in the disassembly and in address boxes,
// the debugger's register and memory edits, and the breakpoint table.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "debugger/debugger.h"
#include "debugger/disassembler.h"
#include "debugger/stepping.h"
#include "debugger/symbols.h"
#include "machine/machine.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        out.push_back(text.substr(start, at - start));
    return out;
}

constexpr const char* kBothForms = "; made by hand\n"
                                   "START = $8000\n"
                                   "loop: EQU 8010H\r\n"
                                   "DEFC _main = $8020 ; addr, public\n"
                                   "count equ 32\n"
                                   "table .EQU 0x9000\n"
                                   "\n"
                                   "     0000A000  _sdcc_fn                           module\n"
                                   "9100 data\n"
                                   "vector $A100\n"
                                   "DEF _noi 0xA200\n"
                                   "bad line here\n"          // 12: no form
                                   "X = $10000\n"             // past FFFF
                                   "= $1234\n"                // no name
                                   "1234 5678\n"              // no name
                                   "9nine = 5\n"              // not a name
                                   "y EQU 12G4H\n"            // not a number
                                   "START = $8001 ; again\n"; // a name defined again moves

TEST(Symbols, BothFormsAndMalformedLinesCounted) {
    SymbolTable t;
    const SymbolRead r = symbols_read(t, kBothForms);
    EXPECT_EQ(r.defined, 10);
    EXPECT_EQ(r.skipped, 6);
    EXPECT_EQ(r.firstSkippedLine, 12);
    const std::pair<const char*, uint16_t> want[] = {
        {"START", 0x8001},    {"loop", 0x8010}, {"_main", 0x8020},  {"count", 0x0020}, {"table", 0x9000},
        {"_sdcc_fn", 0xA000}, {"data", 0x9100}, {"vector", 0xA100}, {"_noi", 0xA200}};
    for (const auto& [name, address] : want) EXPECT_EQ(symbol_address(t, name), address) << name;
    EXPECT_EQ(t.byName.size(), 9u);
    EXPECT_EQ(symbol_address(t, "Loop"), 0x8010); // case only matters between two names
    EXPECT_EQ(symbol_address(t, "nowhere"), std::nullopt);
    EXPECT_EQ(*symbol_name(t, 0x9000), "table");
    EXPECT_EQ(symbol_name(t, 0x9001), nullptr);
}

TEST(Symbols, LoadedFromAFileWithOneMessage) {
    TempDir dir;
    const std::string path = dir.file("game.sym");
    dir.write("game.sym", std::vector<uint8_t>(kBothForms, kBothForms + std::strlen(kBothForms)));
    SymbolTable t;
    SymbolRead counts;
    const FileOutcome r = symbols_load(t, path, &counts);
    EXPECT_TRUE(r.done);
    EXPECT_EQ(r.message,
              "Read 10 symbols from game.sym (9 in all). Skipped 6 malformed lines (the first is line 12).");
    EXPECT_EQ(counts.skipped, 6);
    const FileOutcome missing = symbols_load(t, dir.file("absent.sym"));
    EXPECT_FALSE(missing.done);
    EXPECT_NE(missing.message.find("absent.sym"), std::string::npos);
    EXPECT_EQ(t.byName.size(), 9u); // kept
}

TEST(Symbols, LabelsInAddressBoxes) {
    SymbolTable t;
    symbols_read(t, "main = $8000\nADD = $9000\n");
    EXPECT_EQ(address_or_symbol("main", &t), 0x8000);
    EXPECT_EQ(address_or_symbol(" main ", &t), 0x8000);
    EXPECT_EQ(address_or_symbol("ADD", &t), 0x0ADD); // four hex digits or fewer stay a number
    EXPECT_EQ(address_or_symbol("7e00", &t), 0x7E00);
    EXPECT_EQ(address_or_symbol("nomain", &t), std::nullopt);
    EXPECT_EQ(address_or_symbol("main", nullptr), std::nullopt);

    std::string why;
    const auto w = watch_parse("rw:main-9FFF", &t, &why);
    ASSERT_TRUE(w) << why;
    EXPECT_EQ(w->from, 0x8000);
    EXPECT_EQ(w->to, 0x9FFF);
}

TEST(Symbols, DisassemblyShowsLabelLinesAndNamedOperands) {
    auto m = std::make_unique<Machine>();
    const uint8_t code[] = {
        0xCD, 0x10, 0x80, // 8000 CALL 8010h
        0x18, 0xFB,       // 8003 JR -05h, to 8000
        0x21, 0x34, 0x12, // 8005 LD HL,1234h (no symbol)
        0x10, 0x06,       // 8008 DJNZ +06h, to 8010
    };
    std::copy(std::begin(code), std::end(code), m->state.memory.begin() + 0x8000);
    m->z80.pc = 0x8000;
    SymbolTable t;
    symbols_read(t, "START = $8000\nbegin = $8000\nloop EQU 8010H\n");

    const auto pane = lines(debugger_disassembly_text(*m, &t));
    ASSERT_EQ(pane.size(), size_t(kDisassemblyLines) + 3);
    EXPECT_EQ(pane[0], "START:");
    EXPECT_EQ(pane[1], "begin:");
    EXPECT_EQ(pane[2], "8000  CD 10 80    CALL loop");
    EXPECT_EQ(pane[3], "8003  18 FB       JR START");
    EXPECT_EQ(pane[4], "8005  21 34 12    LD HL,1234h");
    EXPECT_EQ(pane[5], "8008  10 06       DJNZ loop");
    EXPECT_EQ(pane[6].substr(0, 4), "800A");
    EXPECT_EQ(pane[12], "loop:");
    // Without symbols nothing changes.
    EXPECT_EQ(lines(debugger_disassembly_text(*m))[0], "8000  CD 10 80    CALL 8010h");

    const auto listed = lines(debugger_listing(*m, "begin", "8003", &t));
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0], "START:");
    EXPECT_EQ(listed[3], "8003  18 FB       JR START");

    EXPECT_EQ(debugger_line_address(pane[3], &t), 0x8003);
    EXPECT_EQ(debugger_line_address("loop:", &t), 0x8010);
    EXPECT_EQ(debugger_line_address("nowhere:", &t), std::nullopt);
    EXPECT_EQ(debugger_line_address("", &t), std::nullopt);
}

TEST(DebuggerEdits, RegistersFlagsAndMemory) {
    auto m = std::make_unique<Machine>();
    SymbolTable t;
    symbols_read(t, "main = $8000\n");
    EXPECT_TRUE(debugger_set_register(*m, "PC", "main", &t));
    EXPECT_EQ(m->z80.pc, 0x8000);
    EXPECT_TRUE(debugger_set_register(*m, "HL'", "beef"));
    EXPECT_EQ(m->z80.hl_alt, 0xBEEF);
    EXPECT_TRUE(debugger_set_register(*m, "AF", "1244"));
    EXPECT_TRUE(debugger_set_register(*m, "I", "3F"));
    EXPECT_EQ(m->z80.i, 0x3F);
    EXPECT_FALSE(debugger_set_register(*m, "I", "100"));
    EXPECT_FALSE(debugger_set_register(*m, "XY", "1"));
    EXPECT_FALSE(debugger_set_register(*m, "SP", "zz"));
    debugger_set_flag(*m, 0, true);  // C
    debugger_set_flag(*m, 6, false); // Z
    EXPECT_EQ(m->z80.af, 0x1205);
    EXPECT_NE(debugger_registers_text(*m).find("        00000101"), std::string::npos);

    debugger_poke(*m, 0x0000, 0xC3); // ROM too: the debugger writes the image itself
    EXPECT_EQ(m->state.memory[0x0000], 0xC3);
}

TEST(BreakpointTable, TextAndTableAgree) {
    Breakpoints b;
    breakpoints_set(b, "8000 8010 8020");
    EXPECT_EQ(breakpoints_in_text(b), (std::vector<uint16_t>{0x8000, 0x8010, 0x8020}));
    ASSERT_TRUE(breakpoints_remove(b, 0x8010));
    EXPECT_EQ(std::string(b.text.data()), "8000 8020");
    EXPECT_FALSE(breakpoint_at(b, 0x8010));
    EXPECT_TRUE(breakpoint_at(b, 0x8020));

    // Switched off, it stays listed; setting the text again switches it on.
    breakpoints_enable(b, 0x8000, false);
    EXPECT_FALSE(breakpoint_at(b, 0x8000));
    EXPECT_TRUE(breakpoint_listed(b, 0x8000));
    breakpoints_set(b, "8000");
    EXPECT_TRUE(breakpoint_at(b, 0x8000));
    EXPECT_FALSE(breakpoint_at(b, 0x8020));

    // The table's own breakpoints stay when the text changes.
    ASSERT_TRUE(breakpoints_add(b, 0x9000));
    breakpoints_set(b, "");
    EXPECT_TRUE(breakpoint_at(b, 0x9000));
    EXPECT_EQ(b.extraCount, 1);
    ASSERT_TRUE(breakpoints_remove(b, 0x9000));
    EXPECT_FALSE(breakpoint_at(b, 0x9000));
    EXPECT_EQ(b.extraCount, 0);

    // Taking 1234 out of "12345" keeps 2345, now in the table's list.
    breakpoints_set(b, "12345");
    ASSERT_TRUE(breakpoints_remove(b, 0x1234));
    EXPECT_FALSE(breakpoint_at(b, 0x1234));
    EXPECT_TRUE(breakpoint_at(b, 0x2345));
    EXPECT_FALSE(breakpoint_in_text(b, 0x2345));
    EXPECT_TRUE(breakpoint_listed(b, 0x2345));
    for (uint16_t a = 0; a < 0xFFFF; ++a)
        if (a != 0x2345) {
            ASSERT_FALSE(breakpoint_at(b, a)) << a;
        }
}

} // namespace
