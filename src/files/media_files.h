// The other file commands: ROM and cartridge images, character fonts, the
// 256 x 192 two-colour bitmap import, text files typed into the machine, and
// the printer's output file. Each takes a path and says what happened, so the
// desktop only adds its dialog. Bytes go straight into the memory image (no
// write protection, no latch); nothing is written outside the 64 KB image or a
// buffer, whatever the file holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file_outcome.h"

struct Machine;
struct MachineIo;

inline constexpr uint16_t kRomAddress = 0x0000;
inline constexpr uint16_t kCartridgeAddress = 0x4000;
inline constexpr size_t kRomSize = 16384;
inline constexpr size_t kCartridgeSize = 10240;
inline constexpr uint16_t kBitmapAddress = 0xC000;
inline constexpr size_t kBitmapBytes = 6144;
inline constexpr size_t kFontFileMin = 960;
inline constexpr size_t kFontFileMax = 32768;
inline constexpr size_t kBitmapFileMax = 65536;
inline constexpr const char* kBitmapSizeMessage = "Imported bitmap must be 256x192 2 color";

// Copies the whole file to 0x0000 (ROM) or 0x4000 (cartridge), stopping at
// 0xFFFF, and records the path for the next reset, even when it cannot be read.
FileOutcome rom_load(Machine& m, const std::string& path);
FileOutcome cartridge_load(Machine& m, const std::string& path);
FileOutcome rom_save(const Machine& m, const std::string& path);
FileOutcome cartridge_save(const Machine& m, const std::string& path);

// The first 960 bytes replace the font; files under 960 or over 32768 bytes are refused.
FileOutcome font_load(Machine& m, const std::string& path);

// Rows land top row first at 0xC000. A file that is not 256 x 192 with 6144
// bytes of pixels is imported all the same, with kBitmapSizeMessage.
FileOutcome bitmap_import_bytes(Machine& m, const std::vector<uint8_t>& file);
FileOutcome bitmap_import(Machine& m, const std::string& path);

// Types the file's text into the machine; refused when it does not fit 65535
// bytes. With `hostLineEnds`, lines ended by LF alone are typed with RETURN.
FileOutcome text_load(Machine& m, const std::string& path, bool hostLineEnds = false);

// Opens the printer's output file, replacing an earlier one. Returns the path used.
FileOutcome printer_map(MachineIo& io, const std::string& chosen, std::string* used = nullptr);

// What a file given on the command line or dropped on the window is opened as,
// by its extension in any case: .vz, .wav or .cas, .dsk, .txt, .kstate, and
// .bas (a BASIC listing).
enum class MediaKind { Unknown, Program, Tape, Disk, Text, State, Listing };
MediaKind media_kind_for(const std::string& path);

// The printer and tape files get ".txt" and ".wav" when the chosen path holds
// no full stop at all, even in a folder name.
std::string printer_path_for(const std::string& chosen);
std::string tape_path_for(const std::string& chosen);
