#include "machine/builtin_program.h"

#include <cstddef>
#include <cstring>

#include "machine/machine.h"

// Assembled from resources/builtin.asm and embedded by the build; the embedding
// step refuses an image larger than the ROM area.
extern const uint8_t kBuiltinProgramImage[];
extern const size_t kBuiltinProgramImage_size;

std::span<const uint8_t> builtin_program() { return {kBuiltinProgramImage, kBuiltinProgramImage_size}; }

bool builtin_program_reword(Machine& m, const char* line, const char* text) {
    const size_t n = std::strlen(line) + 1, length = std::strlen(text);
    if (length + 1 > n) return false;
    uint8_t* rom = m.state.memory.data();
    const auto p = builtin_program();
    for (size_t at = 0; at + n <= p.size(); ++at) {
        if (std::memcmp(rom + at, line, n) != 0) continue;
        std::memcpy(rom + at, text, length);
        std::memset(rom + at + length, ' ', n - 1 - length);
        return true;
    }
    return false;
}

void install_builtin_program(Machine& m) {
    const auto p = builtin_program();
    std::memset(m.state.memory.data(), 0xFF, 0x4000);
    std::memcpy(m.state.memory.data(), p.data(), p.size());
}
