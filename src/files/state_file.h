// State files (.kstate): everything the machine is, so that it can be saved
// anywhere and continued later, frame for frame as if it had never stopped.
//
// Layout, every number little-endian:
//   header   "KOLTSTAT", u32 format version, u32 model the machine runs as
//            (0 VZ200, 1 VZ300), u32 size of what follows, u32 CRC-32 of it
//   sections one after another: u8 name length, name, u16 section version,
//            u32 stored size, u32 raw size, then the body compressed with zlib
// Bodies are written field by field, never as the bytes of the record, so
// the Machine may change without breaking old states. Rules for growing it:
//   - a reader refuses a format version above its own, and a section it
//     knows whose version is above its own;
//   - a section it does not know is skipped, so a writer may add a section
//     without raising the format version only when older readers lose
//     nothing that matters by ignoring it; anything else raises the format;
//   - a body holds exactly the fields of its version; a later reader reads
//     an older body and gives the newer fields their defaults;
//   - processor, memory, video, loop and settings must be present; a missing
//     optional section leaves what a newly made machine holds.
// A file is read and checked completely (CRC, sizes, every value that could
// index outside a buffer or keep a loop running) into a separate machine
// before anything is applied: a refused file leaves the machine as it was.
//
// Attached files (disks, tape, printer, ROM and cartridge) are named by path
// and re-attached on load; their contents are not in the state. A running
// tape recording is finalised before a save and before a load, as Stop does.
// The sound streams' rings are the host's playback buffers: not saved, and
// empty after a load.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "files/file_outcome.h"

struct Emulator;

inline constexpr uint32_t kStateFormatVersion = 1;
inline constexpr const char* kStateExtension = ".kstate";
inline constexpr const char* kStateFileFilter = "KOLT state (*.kstate)";
inline constexpr size_t kStateFileMax = 16u << 20; // a full bank store compresses far below this

// Finalises a running tape recording, then encodes the machine.
std::vector<uint8_t> state_encode(Emulator& emu);
// Writes through a temporary file renamed over `path`, so a failed save
// never destroys an older state of the same name.
FileOutcome state_save(Emulator& emu, const std::string& path);

// Applies an encoded state, or refuses it and changes nothing. When applied,
// the message (if any) names, in one sentence, the files that could not be
// re-attached. Without `reattachFiles` the attached files are left as they
// are (for tools that must not open the paths a state names).
FileOutcome state_decode(Emulator& emu, std::span<const uint8_t> bytes, bool reattachFiles = true);
FileOutcome state_load(Emulator& emu, const std::string& path);

// The container alone, for tools that rewrite sections (the fuzz target).
struct StateSection {
    std::string name;
    uint16_t version = 0;
    std::vector<uint8_t> body; // uncompressed
};

// Splits a file into its sections, checking header, CRC and sizes; returns
// an empty string, or why the file is refused.
std::string state_split(std::span<const uint8_t> file, uint32_t& model, std::vector<StateSection>& sections);
std::vector<uint8_t> state_join(uint32_t formatVersion, uint32_t model,
                                const std::vector<StateSection>& sections);
