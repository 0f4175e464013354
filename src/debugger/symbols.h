// Symbols: names for addresses, read from the files assemblers and C
// compilers write, for the debugger's disassembly and address boxes.
//
// Two forms are read, line by line (a ';' starts a comment; blank lines are
// ignored):
//   definitions  NAME = VALUE, NAME EQU VALUE (also "NAME:", ".EQU", and a
//                leading DEFC), VALUE being $hhhh, #hhhh, 0xhhhh, hhhhH (a
//                leading digit) or decimal digits, as an assembler reads them;
//   map lines    ADDR NAME [more], NAME ADDR [more] or DEF NAME ADDR, ADDR
//                being 4 to 8 hex digits, or hex digits with a $ or 0x before
//                or an H after (a leading digit), as linkers list them.
// A name starts with a letter or one of _ . @ ? and goes on with those, digits
// and $, up to 64 characters. Values past FFFF and lines of no form are
// skipped and counted. A name defined again takes its new address.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_outcome.h"

inline constexpr size_t kSymbolNameLimit = 64;
inline constexpr size_t kSymbolFileLimit = 16 * 1024 * 1024;

struct Symbol {
    std::string name;
    uint16_t address = 0;
};

struct SymbolTable {
    std::vector<Symbol> byAddress; // by address, then name
    std::vector<Symbol> byName;    // by name
};

struct SymbolRead {
    int defined = 0;          // lines that defined a name
    int skipped = 0;          // malformed lines
    int firstSkippedLine = 0; // 1-based; 0 when none
};

SymbolRead symbols_read(SymbolTable& table, std::string_view text);

// Reads a symbol file into the table. The message says how many names were
// read and how many lines were skipped, or why the file could not be read.
FileOutcome symbols_load(SymbolTable& table, const std::string& path, SymbolRead* counts = nullptr);

void symbols_clear(SymbolTable& table);

// The address of a name: the exact name, or else the one name that matches
// it ignoring case.
std::optional<uint16_t> symbol_address(const SymbolTable& table, std::string_view name);

// The names at an address, in order; the first is the one shown for it.
std::vector<std::string_view> symbols_at(const SymbolTable& table, uint16_t address);
const std::string* symbol_name(const SymbolTable& table, uint16_t address);

// What the debugger's address boxes take: one to four hex digits as before,
// or else a name.
std::optional<uint16_t> address_or_symbol(std::string_view typed, const SymbolTable* table);
