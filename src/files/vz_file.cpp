#include "files/vz_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "files/file_io.h"
#include "machine/bus.h"
#include "machine/machine.h"

namespace {

// Bytes 0-20: a magic "VZF0" and the program's name, as other tools expect;
// the name is the file's, upper case, at most 16 characters.
void fill_name_area(uint8_t* header, const std::string& path) {
    std::memcpy(header, "VZF0", 4);
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    for (size_t i = 0; i < name.size() && i < 16; ++i)
        header[4 + i] = uint8_t(std::toupper(static_cast<unsigned char>(name[i])));
}

} // namespace

FileOutcome vz_load_bytes(Machine& m, const std::vector<uint8_t>& file) {
    if (file.size() < kVzHeaderSize) return FileOutcome::refused("Not a VZ file: shorter than its 24-byte header.");
    if (file.size() > kVzMaxFileSize) return FileOutcome::refused("Not a VZ file: larger than 32768 bytes.");
    const uint16_t start = uint16_t(file[22] | file[23] << 8);
    const size_t n = file.size() - kVzHeaderSize;
    const size_t fits = std::min(n, size_t(0x10000 - start));
    memory_load(m, start, file.data() + kVzHeaderSize, fits);
    if (file[21] == kVzTypeMachineCode) {
        // A halted processor would otherwise step past the first byte when
        // the next interrupt wakes it.
        m.z80.pc = start;
        m.z80.int_state &= uint8_t(~kZ80Halted);
    } else {
        const uint16_t end = uint16_t(start + n);
        m.state.memory[kBasicStartPointer] = file[22];
        m.state.memory[kBasicStartPointer + 1] = file[23];
        m.state.memory[kBasicEndPointer] = uint8_t(end);
        m.state.memory[kBasicEndPointer + 1] = uint8_t(end >> 8);
    }
    return FileOutcome::ok(fits < n ? "The program runs past 0xFFFF; its last bytes were not loaded." : "");
}

FileOutcome vz_load(Machine& m, const std::string& path) {
    std::vector<uint8_t> bytes;
    const FileOutcome read = read_file_limited(path, kVzMaxFileSize, bytes);
    if (!read.done) return read;
    return vz_load_bytes(m, bytes);
}

FileOutcome vz_save(const Machine& m, const std::string& path) {
    const uint16_t start = memory_word(m, kBasicStartPointer);
    const uint16_t end = memory_word(m, kBasicEndPointer);
    if (end < start) return FileOutcome::refused("There is no BASIC program to save: its end lies before its start.");
    const size_t length = size_t(end - start) + 1;
    if (length > kVzMaxFileSize - kVzHeaderSize)
        return FileOutcome::refused("The BASIC program is longer than a VZ file can hold (32744 bytes).");
    std::vector<uint8_t> file(kVzHeaderSize + length, 0);
    fill_name_area(file.data(), path);
    file[21] = kVzTypeBasic;
    file[22] = m.state.memory[kBasicStartPointer];
    file[23] = m.state.memory[kBasicStartPointer + 1];
    std::memcpy(file.data() + kVzHeaderSize, &m.state.memory[start], length);
    return write_file(path, file);
}
