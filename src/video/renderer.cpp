// Design note: a row is written as whole 8-pixel groups, one 64-bit store
// each, from small constexpr tables that expand a byte or a nibble into eight
// palette bytes (built with bit_cast, so byte i is pixel i on any host). The
// colour goes in with an add (four-colour values on a splatted base) or a
// masked XOR (two-colour and text), so no pixel takes a branch. Text looks the
// glyph row up in fontTable for every cell instead of in a table expanded per
// font: such a cache would have to notice a font load and live in the Machine,
// and the look-up is cheap. Keeping the colours of each code pre-splatted
// (8 KB of tables) beat splatting them per cell by about 10 %.
// Measured with g++ 12 -O3 on one core, per PAL VZ200 frame (312 lines, 243
// painted): a per-pixel version took 19.5 us in text, 87 us in mode 2 and
// 158 us in mode 7; this one about 8.3, 5.1 and 6.3 us at first. Colours in
// 16-byte entries (the index is one shift), the glyph offsets in a table of
// their own and eight cells per loop step took text from 5.8 to 5.3 us (CPU
// time on this machine, where modes 2 and 7 take about 4.0). At 30,000 frames
// a second a host frame has 33 us, so the lines are painted in batches
// (render_pending_lines): one painted between two instructions cost about
// twice as much, the caches then holding the processor's working set.
#include "video/renderer.h"

#include <bit>
#include <cstring>

#include "machine/bus.h"
#include "machine/machine.h"

static_assert(kTopBorderRows + kActiveRows + kBottomBorderRows == kFrameHeight);
static_assert(kPictureLeft + kPictureWidth + kPictureLeft == kFrameWidth);

namespace {

constexpr uint64_t kSplat = 0x0101010101010101;

constexpr uint64_t splat(uint8_t colour) { return colour * kSplat; }

// Byte i of the group is pixel i in memory, whatever the host's byte order.
constexpr uint64_t group(const std::array<uint8_t, 8>& pixels) { return std::bit_cast<uint64_t>(pixels); }

inline void put(uint8_t* dst, uint64_t pixels) { std::memcpy(dst, &pixels, sizeof pixels); }

// 0xFF where a bit is set, bit 7 leftmost; one pixel per bit.
constexpr std::array<uint64_t, 256> kBitMask = [] {
    std::array<uint64_t, 256> t{};
    for (int v = 0; v < 256; ++v) {
        std::array<uint8_t, 8> px{};
        for (int k = 0; k < 8; ++k) px[k] = (v >> (7 - k)) & 1 ? 0xFF : 0x00;
        t[v] = group(px);
    }
    return t;
}();

// Four bits, each a pixel two wide.
constexpr std::array<uint64_t, 16> kNibbleMask2 = [] {
    std::array<uint64_t, 16> t{};
    for (int v = 0; v < 16; ++v) {
        std::array<uint8_t, 8> px{};
        for (int k = 0; k < 8; ++k) px[k] = (v >> (3 - k / 2)) & 1 ? 0xFF : 0x00;
        t[v] = group(px);
    }
    return t;
}();

// Four two-bit colour values (bits 7-6 first), each a pixel two wide.
constexpr std::array<uint64_t, 256> kPairs2 = [] {
    std::array<uint64_t, 256> t{};
    for (int v = 0; v < 256; ++v) {
        std::array<uint8_t, 8> px{};
        for (int k = 0; k < 8; ++k) px[k] = uint8_t((v >> (6 - 2 * (k / 2))) & 3);
        t[v] = group(px);
    }
    return t;
}();

// Two two-bit colour values (a nibble), each a pixel four wide.
constexpr std::array<uint64_t, 16> kPairs4 = [] {
    std::array<uint64_t, 16> t{};
    for (int v = 0; v < 16; ++v) {
        std::array<uint8_t, 8> px{};
        for (int k = 0; k < 8; ++k) px[k] = uint8_t((v >> (2 - 2 * (k / 4))) & 3);
        t[v] = group(px);
    }
    return t;
}();

// What a character code shows: which glyph, in which colours. Two colour
// tables, as the bright colour of normal and inverse characters follows the
// colour set; an entry is 16 bytes so that the index is one shift.
struct CellColours {
    uint64_t background;
    uint64_t difference;
};
constexpr CellColours colours(uint8_t fg, uint8_t bg) { return {splat(bg), splat(fg) ^ splat(bg)}; }

constexpr std::array<CellColours, 256> cell_colours(uint8_t bright) {
    std::array<CellColours, 256> t{};
    for (int code = 0; code < 256; ++code) {
        if (code < 0x40) t[code] = colours(bright, kDarkGreen);
        else if (code < 0x80) t[code] = colours(kDarkGreen, bright);
        else t[code] = colours(uint8_t((code >> 4) & 7), kDarkGreen); // semigraphics: colour from the code
    }
    return t;
}

constexpr std::array<std::array<CellColours, 256>, 2> kCellColours = {cell_colours(kGreen),
                                                                      cell_colours(kLightOrange)};

// Offset of each code's glyph in fontTable: 64 characters shown normal and
// inverse, then the 16 semigraphics patterns.
constexpr std::array<uint16_t, 256> kGlyphOffset = [] {
    std::array<uint16_t, 256> t{};
    for (int code = 0; code < 256; ++code)
        t[code] = uint16_t((code < 0x80 ? code & 0x3F : 64 + (code & 0x0F)) * kGlyphRows);
    return t;
}();

static_assert((64 + 15) * kGlyphRows + kGlyphRows - 1 < kFontSize);

struct GraphicsGeometry {
    int bytesPerRow;
    int linesPerRow;
};

// Every mode fills the 256 picture columns. The widest reach, 192 rows of 32
// bytes, stays inside the 8 KB of extended video RAM, and the standard mode's
// 64 rows of 32 bytes inside the 2 KB at 0x7000.
constexpr std::array<GraphicsGeometry, 8> kGeometry = {{
    {16, 3}, // 0: 64 x 64, four colours, pixels 4 wide
    {16, 3}, // 1: 128 x 64, two colours
    {32, 3}, // 2: 128 x 64, four colours (the standard mode)
    {32, 2}, // 3: 128 x 96, two colours, upper nibble only
    {32, 2}, // 4: 128 x 96, four colours
    {32, 1}, // 5: 128 x 192, two colours, upper nibble only
    {32, 1}, // 6: 128 x 192, four colours
    {32, 1}, // 7: 256 x 192, two colours
}};

static_assert([] {
    for (const GraphicsGeometry& g : kGeometry)
        if ((kActiveRows / g.linesPerRow) * g.bytesPerRow > 4 * kExtVideoBankSize) return false;
    return (kActiveRows / kGeometry[2].linesPerRow) * kGeometry[2].bytesPerRow == kExtVideoBankSize;
}());

uint8_t border_colour(int latchValue) {
    if (!(latchValue & 0x08)) return kBlack;
    return latchValue & 0x10 ? kBuff : kGreen;
}

void paint_text(const Machine& m, uint8_t* picture, int line, int colourSet) {
    const uint8_t* source = video_chip_ram(m) + (line / kGlyphRows) * kTextColumns;
    const uint8_t* font = m.fontTable.data() + line % kGlyphRows;
    const CellColours* cellColours = kCellColours[colourSet].data();
#pragma GCC unroll 8
    for (int c = 0; c < kTextColumns; ++c) {
        const uint8_t code = source[c];
        const CellColours& s = cellColours[code];
        put(picture + 8 * c, s.background ^ (kBitMask[font[kGlyphOffset[code]]] & s.difference));
    }
}

void paint_graphics(const Machine& m, uint8_t* picture, int line, int colourSet) {
    const int mode = m.settings.extendedGfx > 0 ? (m.state.extGfxMode >> 2) & 7 : 2;
    const uint8_t* source = video_chip_ram(m);
    const GraphicsGeometry g = kGeometry[size_t(mode)];
    source += (line / g.linesPerRow) * g.bytesPerRow;

    const uint64_t base = splat(colourSet ? kBuff : kGreen);
    // Two-colour pixels: base where clear, dark green where set.
    const uint64_t setBits = base ^ splat(kDarkGreen);
    switch (mode) {
    case 0:
        for (int i = 0; i < 16; ++i) {
            put(picture + 16 * i, kPairs4[source[i] >> 4] + base);
            put(picture + 16 * i + 8, kPairs4[source[i] & 15] + base);
        }
        break;
    case 1:
        for (int i = 0; i < 16; ++i) {
            put(picture + 16 * i, base ^ (kNibbleMask2[source[i] >> 4] & setBits));
            put(picture + 16 * i + 8, base ^ (kNibbleMask2[source[i] & 15] & setBits));
        }
        break;
    case 3:
    case 5:
        for (int i = 0; i < 32; ++i) put(picture + 8 * i, base ^ (kNibbleMask2[source[i] >> 4] & setBits));
        break;
    case 7:
        for (int i = 0; i < 32; ++i) put(picture + 8 * i, base ^ (kBitMask[source[i]] & setBits));
        break;
    default: // 2, 4 and 6
        for (int i = 0; i < 32; ++i) put(picture + 8 * i, kPairs2[source[i]] + base);
        break;
    }
}

} // namespace

namespace {

void render_line(Machine& m, int32_t scanline) {
    MachineState& s = m.state;
    const int row = scanline - (s.timing.blankLines + s.timing.extraLines);
    // Lines above and below the border rows paint nothing; this also keeps a
    // stray scanline or timing value from reaching outside the frame.
    if (row < 0 || row >= kFrameHeight) return;
    uint8_t* px = m.frameBuffer.data() + size_t(row) * kFrameWidth;

    const int line = row - kTopBorderRows;
    if (line < 0 || line >= kActiveRows) {
        std::memset(px, border_colour(s.borderLatch), kFrameWidth);
        return;
    }

    const uint8_t latch = s.latch;
    s.borderLatch = latch;
    const int colourSet = (latch >> 4) & 1;
    const bool graphics = latch & 0x08;
    const uint8_t side = border_colour(latch);
    std::memset(px, side, kPictureLeft);
    std::memset(px + kPictureLeft + kPictureWidth, side, kFrameWidth - kPictureLeft - kPictureWidth);
    if (graphics)
        paint_graphics(m, px + kPictureLeft, line, colourSet);
    else
        paint_text(m, px + kPictureLeft, line, colourSet);
}

} // namespace

void render_scanline(Machine& m) { render_line(m, m.state.scanline); }

void render_pending_lines(Machine& m) {
    int32_t count = m.loop.linesToPaint;
    if (count == 0) return;
    m.loop.linesToPaint = 0;
    const int32_t lines = m.state.timing.linesPerFrame;
    int32_t line = m.state.scanline - count;
    while (line < 0) line += lines;
    for (; count > 0; --count) {
        render_line(m, line);
        if (++line == lines) line = 0;
    }
}
