// Display palette: the thirteen colours that frameBuffer's pixel values index,
// and their two converted forms for the display: four bytes in the order blue,
// green, red, 0, and the colour packed into the display's direct-colour pixel
// format, described by its red, green and blue masks.
//
// Masks wider than 8 bits get the component shifted up; a zero mask (no such
// component, as in a palette-indexed format) contributes nothing.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int kPaletteSize = 13;

// 0x00RRGGBB, by frameBuffer pixel value.
inline constexpr std::array<uint32_t, kPaletteSize> kPaletteRgb = {
    0x00FF00, // 0 green
    0xFFFF00, // 1 yellow
    0x0000FF, // 2 blue
    0xFF0000, // 3 red
    0xFFFFFF, // 4 buff
    0x00FFFF, // 5 cyan
    0xFF00FF, // 6 magenta
    0xFF8000, // 7 orange
    0x000000, // 8 black
    0x004000, // 9 dark green
    0xA0A0A0, // 10 grey: the effects dashes
    0x401000, // 11 dark orange
    0xFFC418, // 12 light orange
};

enum PaletteIndex : uint8_t {
    kGreen = 0, kYellow, kBlue, kRed, kBuff, kCyan, kMagenta, kOrange,
    kBlack, kDarkGreen, kGrey, kDarkOrange, kLightOrange,
};

// The colour of a frameBuffer pixel value; values past the palette show black.
constexpr uint32_t palette_rgb(uint8_t index) { return index < kPaletteSize ? kPaletteRgb[index] : 0; }

struct PixelMasks {
    uint32_t red = 0x00FF0000;
    uint32_t green = 0x0000FF00;
    uint32_t blue = 0x000000FF;
};

struct DisplayPalette {
    std::array<std::array<uint8_t, 4>, kPaletteSize> bgr0{};
    std::array<uint32_t, kPaletteSize> packed{};
};

uint32_t palette_pack(uint32_t rgb, const PixelMasks& masks);
void palette_convert(DisplayPalette& palette, const PixelMasks& masks);
