// Z80 disassembler: one instruction of the emulated memory as a line of
// assembly text with its length, and the listing lines the debugger shows.
//
// Five tables of 256 text templates (unprefixed, CB, ED, DD/FD, DD CB/FD CB)
// are generated at compile time from the opcode's bit fields; placeholders in
// a template stand for operand bytes and the index letter. The bytes are read
// straight from the 64 KB image with the address wrapped to 16 bits, so
// looking has no side effect and never sees what the bus would map there
// (keyboard rows, unpopulated memory). It does not compute jump targets, and
// it shows DD or FD followed by another prefix as a two-byte "PFX_" line where
// the processor would let the second prefix start over.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct SymbolTable;

enum class DisasmTable : uint8_t { Main, Bit, Extended, Index, IndexBit };

// The template of one opcode. "*h" stands for an operand byte, "#h" for an
// operand word, "@h" for a signed displacement (+05h, -02h), "^h" for the raw
// displacement byte of an indexed operand, "%" for the index letter X or Y.
std::string_view disasm_template(DisasmTable table, uint8_t opcode);

struct Disassembly {
    std::string text; // the expanded template, without address or bytes
    int length = 1;   // 1 to 4 bytes
    DisasmTable table = DisasmTable::Main;
    uint8_t opcode = 0; // the index of the template used in `table`
    // The address the instruction names, where it names one: a word operand
    // ("#h") or a relative jump's target; and where its text is in `text`.
    bool hasAddress = false;
    uint16_t address = 0;
    uint8_t addressAt = 0, addressLength = 0;
};

// The text with the named address written as its symbol, where it has one.
std::string disasm_text(const Disassembly& d, const SymbolTable* symbols);

Disassembly disassemble(const std::array<uint8_t, 65536>& memory, uint16_t address);

// "AAAA  B0 B1 B2    TEXT\r\n": the first three bytes of the instruction,
// blanks in place of missing ones; a fourth byte is not shown.
std::string listing_line(const std::array<uint8_t, 65536>& memory, uint16_t address);
std::string listing_line(const std::array<uint8_t, 65536>& memory, uint16_t address, const Disassembly& d,
                         const SymbolTable* symbols = nullptr);

// "NAME:\r\n" for each symbol at the address (nothing without symbols).
std::string label_lines(const SymbolTable* symbols, uint16_t address);

// The lines of the instructions from start whose address is not above end;
// empty when end is below start. The walk counts addresses past 0xFFFF
// instead of wrapping them, so it always ends: an instruction reaching over
// 0xFFFF (its bytes read wrapped) is the last line. With symbols, each
// instruction a symbol names gets a label line before it and the addresses
// its operands name are written as symbols.
std::string listing(const std::array<uint8_t, 65536>& memory, uint16_t start, uint16_t end,
                    const SymbolTable* symbols = nullptr);
