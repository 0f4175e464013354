#include "machine/builtin_program.h"

#include <cstddef>
#include <cstring>

#include "machine/machine.h"

// Assembled from resources/builtin.asm and embedded by the build; the embedding
// step refuses an image larger than the ROM area.
extern const uint8_t kBuiltinProgramImage[];
extern const size_t kBuiltinProgramImage_size;

std::span<const uint8_t> builtin_program() { return {kBuiltinProgramImage, kBuiltinProgramImage_size}; }

void install_builtin_program(Machine& m) {
    const auto p = builtin_program();
    std::memset(m.state.memory.data(), 0xFF, 0x4000);
    std::memcpy(m.state.memory.data(), p.data(), p.size());
}
