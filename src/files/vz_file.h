// VZ program files (.vz): a 24-byte header (bytes 0-20 a name area the loader
// ignores, byte 21 the type, 0xF1 machine code and anything else BASIC, bytes
// 22-23 the start address) followed by the program bytes.
//
// Loading copies the bytes straight into the memory image (no write
// protection, no latch, no ramTop) and either starts machine code at its
// address or installs a BASIC program by setting the start- and end-of-BASIC
// pointers. Saving writes the BASIC program between those pointers, the byte
// at the end pointer included. Files over 32768 or under 24 bytes are refused
// and change nothing; bytes that would pass 0xFFFF are not loaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file_outcome.h"

struct Machine;

inline constexpr uint16_t kBasicStartPointer = 0x78A4;
inline constexpr uint16_t kBasicEndPointer = 0x78F9;
inline constexpr uint16_t kTopOfMemoryPointer = 0x78B1;
inline constexpr size_t kVzHeaderSize = 24;
inline constexpr size_t kVzMaxFileSize = 32768;
inline constexpr uint8_t kVzTypeBasic = 0xF0;
inline constexpr uint8_t kVzTypeMachineCode = 0xF1;

FileOutcome vz_load_bytes(Machine& m, const std::vector<uint8_t>& file);
FileOutcome vz_load(Machine& m, const std::string& path);
FileOutcome vz_save(const Machine& m, const std::string& path);

