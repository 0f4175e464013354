// The debugger's model: everything the debugger window shows and does, as
// functions over the Machine, so the window only displays texts and pixels.
//
// Four text panes (registers, BASIC system pointers, hardware, 18 lines of
// disassembly from PC), two drawn panes (the picture with a marker on the
// current scanline, and a memory view drawn with the built-in font), Step,
// breakpoints, the listing of an address range and the memory view's address.
// Reading never goes through the processor's bus, so looking changes nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Machine;
struct MachineIo;
struct SymbolTable;

inline constexpr int kDebugPaneWidth = 256;
inline constexpr int kDebugPaneHeight = 192;
inline constexpr int kDisassemblyLines = 18;
inline constexpr int kListingLimit = 0x4000;
inline constexpr int kMemoryViewStep = 6; // bytes per memory view row

std::string debugger_registers_text(const Machine& m);
std::string debugger_pointers_text(const Machine& m);
std::string debugger_hardware_text(const Machine& m);
// With symbols, a label line stands before each instruction a symbol names and
// operand addresses are written as symbols; the 18 instruction lines stay.
std::string debugger_disassembly_text(const Machine& m, const SymbolTable* symbols = nullptr);

// One instruction through the machine's loop hook, as when running. True when
// it hit a watchpoint (machine.debug.stop says which).
bool debugger_step(Machine& m, MachineIo& io);

// An address typed into one of the four-character boxes. One to four hex
// digits (either case, blanks around them ignored) are read as hex; four
// digits give exactly what the machine's own conversion gives. Anything else
// (empty, other characters) is no address: the caller keeps what it had.
std::optional<uint16_t> debugger_parse_address(std::string_view typed);

// The listing from start to end, the end held to start + 0x4000; empty when
// end is below start or either address cannot be read. With symbols, either
// address may be a symbol and the listing shows them (see listing()).
std::string debugger_listing(const Machine& m, std::string_view startText, std::string_view endText,
                             const SymbolTable* symbols = nullptr);

// The address of a line of the disassembly pane or a listing: its first four
// hex digits, or for a label line ("NAME:") the symbol's address.
std::optional<uint16_t> debugger_line_address(std::string_view line, const SymbolTable* symbols);

// Moves execution to `pc`: a halted CPU leaves its HALT, as it would
// otherwise resume one byte past the new PC at the next interrupt.
void debugger_set_pc(Machine& m, uint16_t pc);

// Register edits as the debugger's boxes make them. Names are those of the
// registers pane (AF BC DE HL AF' BC' DE' HL' IX IY PC SP) and I; the value is
// an address box's text (hex or a symbol). False, changing nothing, for an
// unknown name or a value that is no address or, for I, above FF.
bool debugger_set_register(Machine& m, std::string_view name, std::string_view value,
                           const SymbolTable* symbols = nullptr);
void debugger_set_flag(Machine& m, int bit, bool on);

// A byte of the memory image, written directly (not through the bus): ROM
// and cartridge areas change too, as a loaded file changes them.
void debugger_poke(Machine& m, uint16_t address, uint8_t value);

// Memory view paging: 6 bytes back (only from above 6) or on (only below 0xFFF9).
uint16_t debugger_memory_up(uint16_t address);
uint16_t debugger_memory_down(uint16_t address);

// 256 x 192 RGB pixels (3 bytes each, top row first).
std::vector<uint8_t> debugger_picture_rgb(const Machine& m);
std::vector<uint8_t> debugger_memory_rgb(const Machine& m, uint16_t address);
