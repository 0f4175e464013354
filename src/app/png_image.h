// PNG files of RGB pictures, for screenshots.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes width x height RGB bytes (top row first). Returns false with a reason.
bool png_write_rgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb,
                   std::string* error);

// Reads a PNG as RGB bytes; for tests and tools.
bool png_read_rgb(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb, std::string* error);
