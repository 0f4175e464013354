// A bitmap file of any content: the import may write only the picture area
// 0xC000-0xD7FF, and reads nothing outside the file (the sanitizers watch).
#include <array>
#include <cstdint>
#include <vector>

#include "files/media_files.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Machine& m = fuzz::fresh_machine();
    static std::array<uint8_t, 65536> before;
    before = m.state.memory;
    const std::vector<uint8_t> file(data, data + size);

    const FileOutcome outcome = bitmap_import_bytes(m, file);
    fuzz::require(outcome.done == (size <= kBitmapFileMax));
    for (uint32_t a = 0; a < 0x10000; ++a)
        if (a < kBitmapAddress || a >= kBitmapAddress + kBitmapBytes || !outcome.done)
            fuzz::require(m.state.memory[a] == before[a]);
    return 0;
}
