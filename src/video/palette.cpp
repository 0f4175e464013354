#include "video/palette.h"

namespace {

struct Field {
    int shift = 0; // zero bits below the mask
    int width = 0; // consecutive set bits from there
};

Field mask_field(uint32_t mask) {
    Field f;
    if (mask == 0) return f;
    while (!(mask & 1)) mask >>= 1, ++f.shift;
    while (mask & 1) mask >>= 1, ++f.width;
    return f;
}

uint32_t place(uint32_t component, Field f) {
    if (f.width == 0) return 0;
    const uint32_t scaled = f.width <= 8 ? component >> (8 - f.width) : component << (f.width - 8);
    return f.shift < 32 ? scaled << f.shift : 0;
}

} // namespace

uint32_t palette_pack(uint32_t rgb, const PixelMasks& masks) {
    return place((rgb >> 16) & 0xFF, mask_field(masks.red)) | place((rgb >> 8) & 0xFF, mask_field(masks.green)) |
           place(rgb & 0xFF, mask_field(masks.blue));
}

void palette_convert(DisplayPalette& palette, const PixelMasks& masks) {
    for (int i = 0; i < kPaletteSize; ++i) {
        const uint32_t rgb = kPaletteRgb[i];
        palette.bgr0[i] = {uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16), 0};
        palette.packed[i] = palette_pack(rgb, masks);
    }
}
