// The state file's zlib format in the browser: compression by the page's
// JavaScript zlib library (pako, loaded before the module as globalThis.pako),
// so a state saved in the browser opens on the desktop and back.
#include <emscripten/emscripten.h>

#include <array>
#include <cstdlib>

#include "files/section_codec.h"

namespace {

// Returns the stream's length and leaves it in memory the caller frees; -1 on failure.
EM_JS(int, pako_deflate, (const uint8_t* raw, int size, uint8_t** out), {
    try {
        const packed = globalThis.pako.deflate(HEAPU8.subarray(raw, raw + size), {level: 1});
        const at = _malloc(Math.max(packed.length, 1));
        HEAPU8.set(packed, at);
        HEAPU32[out >> 2] = at;
        return packed.length;
    } catch (e) {
        return -1;
    }
});

// Unpacks into `raw`, which has room for `size` bytes. Returns the unpacked
// length (more than `size` when the stream holds more), or -1 when it is damaged.
EM_JS(int, pako_inflate, (const uint8_t* packed, int packedSize, uint8_t* raw, int size), {
    try {
        const out = globalThis.pako.inflate(HEAPU8.subarray(packed, packed + packedSize));
        if (!out || out.length > size) return out ? out.length : -1;
        HEAPU8.set(out, raw);
        return out.length;
    } catch (e) {
        return -1;
    }
});

constexpr std::array<uint32_t, 256> crcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = crcTable();

} // namespace

std::vector<uint8_t> section_compress(std::span<const uint8_t> raw) {
    uint8_t* at = nullptr;
    const int size = pako_deflate(raw.data(), int(raw.size()), &at);
    if (size < 0) return {};
    std::vector<uint8_t> packed(at, at + size);
    std::free(at);
    return packed;
}

bool section_uncompress(std::span<const uint8_t> packed, size_t rawSize, std::vector<uint8_t>& raw) {
    raw.resize(rawSize);
    return pako_inflate(packed.data(), int(packed.size()), raw.data(), int(rawSize)) == int(rawSize);
}

uint32_t section_crc32(std::span<const uint8_t> bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (const uint8_t b : bytes) c = kCrcTable[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}
