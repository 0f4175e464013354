// The emulated screen as the outside world reads it: the shown 320 x 240
// picture as RGB bytes, and the text screen as characters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "video/renderer.h"

struct Machine;

// Rows 0-239 of frameBuffer through the palette, 3 bytes a pixel, top row first.
std::vector<uint8_t> picture_rgb(const Machine& m);

// The 16 rows of 32 characters of the text screen, from the video memory the
// picture is drawn from, each row ended by a newline. Codes 0x00-0x3F and
// 0x40-0x7F (the same characters, inverse) print as their characters, the
// arrows as UTF-8; semigraphics codes 0x80-0xFF print as '#'.
std::string screen_text(const Machine& m);
