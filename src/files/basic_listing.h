// BASIC programs as text: a program's stored lines as LIST shows them, and a
// listing turned into the bytes the BASIC ROM stores for the same lines typed.
//
// A stored line is the address of the next line and the line number (both
// little-endian), the text with keywords as one-byte tokens, and 0x00; a
// next-line address of 0x0000 ends the program. Reading a listing follows the
// ROM's typing: keywords are tokens wherever they begin, `?` is PRINT, ELSE is
// stored as `:` ELSE and `'` as `:` REM `'`; strings, the rest of a line after
// REM or `'`, and DATA up to a `:` outside quotes are stored as typed; spaces
// are kept, letters become upper case, only the spaces after the line number
// are dropped. A line number alone removes that line, and a repeated number
// keeps the last line, as typing does. Lines come out sorted.
//
// Characters with no ASCII form on the machine (control codes, lower case,
// block graphics, codes without a keyword) are written as {XX}, two hex
// digits, and {XX} is read back as that byte, never as part of a keyword. A
// line whose plain text would read back as other bytes (possible only in
// programs made elsewhere) is written with its plain characters as {XX} too,
// so a program always comes back byte for byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_outcome.h"

struct Machine;
struct TapeProgram;

inline constexpr uint16_t kBasicProgramAddress = 0x7AE9;
inline constexpr size_t kBasicLineMax = 255;      // stored text bytes of one line
inline constexpr uint32_t kBasicLineNumberMax = 65529;

// The listing of a stored program, one text line per program line, each
// ended by '\n'. Lines are taken one after another up to the end mark, so a
// stale next-line address cannot send the listing round in circles.
// `unlisted` receives how many bytes follow the end mark (the one byte a
// saved program carries past it not counted). A program that stops without
// its end mark is listed as far as its lines are whole, with a warning.
FileOutcome basic_listing(std::span<const uint8_t> program, std::string& text, size_t* unlisted = nullptr);

// The stored program (lines and the two-byte end mark) for a listing, linked
// for `start`. A line without a line number, with one over 65529, or storing
// more than 255 bytes is refused with its line in the listing, and `program`
// is left as it was.
FileOutcome basic_program(std::string_view listing, uint16_t start, std::vector<uint8_t>& program);

// The stored text of one line (what follows the line number), as typing it stores it.
std::vector<uint8_t> basic_crunch(std::string_view text);

// The program in memory, between the start-of-BASIC pointer and its end mark.
FileOutcome basic_listing_of_memory(const Machine& m, std::string& text);

// Stores a listing's program at the start-of-BASIC pointer and sets the
// end-of-program word just past its end mark, as the ROM does after typing;
// refused, changing nothing, when the program does not fit below the top of memory.
FileOutcome basic_store_listing(Machine& m, std::string_view listing);

// A listing file (.bas or .txt) to a program and back, for the converter.
bool basic_listing_file(const std::string& path);
FileOutcome basic_read_listing_text(const std::string& path, std::string& text);
FileOutcome basic_read_listing_file(const std::string& path, TapeProgram& out);
FileOutcome basic_write_listing_file(const std::string& path, const TapeProgram& p);
