#include "files/section_codec.h"

#include <zlib.h>

std::vector<uint8_t> section_compress(std::span<const uint8_t> raw) {
    uLongf stored = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(stored);
    if (compress2(packed.data(), &stored, raw.data(), uLong(raw.size()), Z_BEST_SPEED) != Z_OK) return {};
    packed.resize(stored);
    return packed;
}

bool section_uncompress(std::span<const uint8_t> packed, size_t rawSize, std::vector<uint8_t>& raw) {
    raw.resize(rawSize);
    uLongf got = uLongf(rawSize);
    // uncompress never writes past `got`, whatever the input claims.
    const int z = uncompress(raw.data(), &got, packed.data(), uLong(packed.size()));
    return z == Z_OK && got == rawSize;
}

uint32_t section_crc32(std::span<const uint8_t> bytes) {
    return uint32_t(crc32(0, bytes.data(), uInt(bytes.size())));
}
