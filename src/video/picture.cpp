#include "video/picture.h"

#include "machine/bus.h"
#include "machine/machine.h"

std::vector<uint8_t> picture_rgb(const Machine& m) {
    std::vector<uint8_t> rgb(size_t(kFrameWidth) * kShownRows * 3);
    size_t o = 0;
    for (int i = 0; i < kFrameWidth * kShownRows; ++i) {
        const uint32_t c = palette_rgb(m.frameBuffer[size_t(i)]);
        rgb[o++] = uint8_t(c >> 16);
        rgb[o++] = uint8_t(c >> 8);
        rgb[o++] = uint8_t(c);
    }
    return rgb;
}

std::string screen_text(const Machine& m) {
    std::string text;
    const uint8_t* screen = video_chip_ram(m); // what the picture shows, whichever bank the processor sees
    for (int row = 0; row < kTextRows; ++row) {
        for (int col = 0; col < kTextColumns; ++col) {
            const size_t offset = size_t(row * kTextColumns + col);
            const uint8_t code = screen[offset];
            if (code >= 0x80) {
                text += '#';
                continue;
            }
            const uint8_t glyph = code & 0x3F;
            if (glyph == 0x1E) text += "\xE2\x86\x91";      // up arrow
            else if (glyph == 0x1F) text += "\xE2\x86\x90"; // left arrow
            else text += char(glyph < 0x20 ? glyph + 0x40 : glyph);
        }
        text += '\n';
    }
    return text;
}
