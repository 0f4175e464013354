// How a state file's sections are compressed and its payload checked: zlib's
// format and CRC-32, behind one seam so that a build without zlib (the web
// page, which uses a JavaScript implementation of the same format) writes
// files the desktop reads and reads the desktop's.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The zlib stream of `raw`, at the fastest level. Empty when it cannot be made.
std::vector<uint8_t> section_compress(std::span<const uint8_t> raw);

// Unpacks a zlib stream into exactly `rawSize` bytes; false when the stream is
// damaged or does not give exactly that many.
bool section_uncompress(std::span<const uint8_t> packed, size_t rawSize, std::vector<uint8_t>& raw);

uint32_t section_crc32(std::span<const uint8_t> bytes);
