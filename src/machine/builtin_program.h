// The built-in program that runs when no system ROM can be found: our own Z80
// code (resources/builtin.asm, assembled at build time), which says on the
// emulated screen that no ROM was found and how to load one, echoes the keys
// typed and clicks the speaker.
#pragma once

#include <cstdint>
#include <span>

struct Machine;

std::span<const uint8_t> builtin_program();

// Copies the program to 0x0000 and fills the rest of the ROM area with 0xFF.
void install_builtin_program(Machine& m);

// Replaces one line of the program's message, as installed, with `text`,
// padded with spaces to the line's length (the lines follow each other in one
// table): how to load a ROM differs where the program is not the desktop's.
// Returns false when the line is not there or `text` is longer.
bool builtin_program_reword(Machine& m, const char* line, const char* text);
