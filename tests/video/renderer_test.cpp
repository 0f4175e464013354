// Scanline renderer: pixels of known cells worked out by hand, the geometry of
// every graphics mode, where each scanline lands, and whole-frame checksums.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "machine/machine.h"

namespace {

using Cell = std::array<uint8_t, 8>;

std::unique_ptr<Machine> make_machine(int32_t extendedGfx) {
    auto m = std::make_unique<Machine>();
    m->state.timing = video_timing_for(kModelVZ200, kTvPal);
    m->settings.extendedGfx = extendedGfx;
    m->state.extGfxMode = 8;
    return m;
}

const uint8_t* frame_row(const Machine& m, int row) { return m.frameBuffer.data() + row * kFrameWidth; }

// Paints active line `line` (0-191) and returns its frame row.
const uint8_t* paint_line(Machine& m, int line) {
    m.state.scanline = first_active_line(m.state.timing) + line;
    render_scanline(m);
    return frame_row(m, kTopBorderRows + line);
}

std::vector<uint8_t> span(const uint8_t* row, int from, int to) { return {row + from, row + to}; }
std::vector<uint8_t> run(int count, uint8_t colour) { return std::vector<uint8_t>(size_t(count), colour); }

Cell cell(const uint8_t* row, int column) {
    Cell c;
    std::copy_n(row + kPictureLeft + 8 * column, 8, c.begin());
    return c;
}

Cell glyph_cell(uint8_t bits, uint8_t fg, uint8_t bg) {
    Cell c;
    for (int k = 0; k < 8; ++k) c[size_t(k)] = (bits >> (7 - k)) & 1 ? fg : bg;
    return c;
}

TEST(RenderText, CharacterInverseAndColourSet) {
    auto m = make_machine(kGfxNone);
    m->state.memory[0x7000] = 0x01; // "A": glyph row 3 is 0x08
    const uint8_t* row = paint_line(*m, 3);
    EXPECT_EQ(span(row, 0, 32), run(32, kBlack));
    EXPECT_EQ(span(row, 288, 320), run(32, kBlack));
    EXPECT_EQ(cell(row, 0), (Cell{9, 9, 9, 9, 0, 9, 9, 9}));
    EXPECT_EQ(cell(paint_line(*m, 0), 0), glyph_cell(0x00, kGreen, kDarkGreen));

    m->state.memory[0x7000] = 0x41;
    EXPECT_EQ(cell(paint_line(*m, 3), 0), (Cell{0, 0, 0, 0, 9, 0, 0, 0}));
    m->state.latch = 0x10;
    EXPECT_EQ(cell(paint_line(*m, 3), 0), (Cell{12, 12, 12, 12, 9, 12, 12, 12}));
    m->state.memory[0x7000] = 0x01;
    EXPECT_EQ(cell(paint_line(*m, 3), 0), (Cell{9, 9, 9, 9, 12, 9, 9, 9}));
    EXPECT_EQ(span(frame_row(*m, kTopBorderRows + 3), 0, 32), run(32, kBlack));
}

TEST(RenderText, ReadsEveryGlyphRowOfTheLoadedFont) {
    constexpr uint8_t kRows[12] = {0x81, 0x42, 0x24, 0x18, 0xF0, 0x0F, 0xAA, 0x55, 0xCC, 0x33, 0xE0, 0x07};
    auto m = make_machine(kGfxNone);
    for (int r = 0; r < 12; ++r) {
        m->fontTable[size_t(1 * 12 + r)] = kRows[r];
        m->fontTable[size_t(79 * 12 + r)] = uint8_t(~kRows[r]);
    }
    m->state.memory[0x7000] = 0x41;               // inverse, first cell
    m->state.memory[0x7000 + 7 * 32 + 16] = 0xBF; // semigraphics pattern 15 in red, mid-screen
    m->state.memory[0x7000 + 511] = 0x01;         // last cell
    for (int r = 0; r < 12; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(cell(paint_line(*m, r), 0), glyph_cell(kRows[r], kDarkGreen, kGreen));
        EXPECT_EQ(cell(paint_line(*m, 7 * 12 + r), 16), glyph_cell(uint8_t(~kRows[r]), kRed, kDarkGreen));
        EXPECT_EQ(cell(paint_line(*m, 180 + r), 31), glyph_cell(kRows[r], kGreen, kDarkGreen));
    }
}

TEST(RenderText, SemigraphicsIgnoreTheColourSet) {
    auto m = make_machine(kGfxNone);
    m->state.memory[0x7000] = 0x8F; // all four quarters, green
    m->state.memory[0x7001] = 0xF0; // no quarter lit, although its colour is orange
    m->state.memory[0x7002] = 0xFA; // the two left quarters, orange
    for (uint8_t latch : {0x00, 0x10}) {
        m->state.latch = latch;
        for (int line = 0; line < 12; ++line) {
            const uint8_t* row = paint_line(*m, line);
            EXPECT_EQ(cell(row, 0), glyph_cell(0xFF, kGreen, kDarkGreen));
            EXPECT_EQ(cell(row, 1), glyph_cell(0x00, kGreen, kDarkGreen));
            EXPECT_EQ(cell(row, 2), glyph_cell(0xF0, kOrange, kDarkGreen));
        }
    }
}

TEST(RenderGraphics, StandardModeFourColours) {
    auto m = make_machine(kGfxNone);
    m->state.memory[0x7000] = 0x1B;
    m->state.memory[0x7000 + 32] = 0xE4;
    m->state.latch = 0x08;
    for (int line = 0; line < 3; ++line)
        EXPECT_EQ(cell(paint_line(*m, line), 0), (Cell{0, 0, 1, 1, 2, 2, 3, 3}));
    const uint8_t* row = paint_line(*m, 3);
    EXPECT_EQ(cell(row, 0), (Cell{3, 3, 2, 2, 1, 1, 0, 0}));
    EXPECT_EQ(span(row, 0, 32), run(32, kGreen));
    EXPECT_EQ(span(row, 40, 320), run(280, kGreen));
    m->state.latch = 0x18;
    row = paint_line(*m, 3);
    EXPECT_EQ(cell(row, 0), (Cell{7, 7, 6, 6, 5, 5, 4, 4}));
    EXPECT_EQ(span(row, 0, 32), run(32, kBuff));
    EXPECT_EQ(span(row, 288, 320), run(32, kBuff));
}

struct Geometry {
    int mode, bytesPerRow, linesPerRow, pixelsPerByte, width;
    bool fourColour;
};

// Per mode: the first pixel of byte 0, the last of byte 1, a full byte opening
// the second source row and the last byte shown; the byte after it never shows.
TEST(RenderGraphics, GeometryOfEveryMode) {
    const Geometry modes[] = {
        {0, 16, 3, 4, 4, true}, {1, 16, 3, 8, 2, false}, {2, 32, 3, 4, 2, true}, {3, 32, 2, 4, 2, false},
        {4, 32, 2, 4, 2, true}, {5, 32, 1, 4, 2, false}, {6, 32, 1, 4, 2, true}, {7, 32, 1, 8, 1, false},
    };
    auto m = make_machine(kGfxAustralian);
    m->state.latch = 0x08;
    for (const Geometry& g : modes) {
        SCOPED_TRACE(g.mode);
        const uint8_t first = g.fourColour ? 0xC0 : 0x80;
        const uint8_t last = g.fourColour ? 0x03 : g.pixelsPerByte == 4 ? 0x10 : 0x01;
        const uint8_t set = g.fourColour ? kRed : kDarkGreen;
        const int shown = (192 / g.linesPerRow) * g.bytesPerRow;
        const int byteWidth = g.pixelsPerByte * g.width;
        ASSERT_EQ(g.bytesPerRow * byteWidth, kPictureWidth);
        m->state.extVideoRam.fill(0);
        m->state.extVideoRam[0] = first;
        m->state.extVideoRam[1] = last;
        m->state.extVideoRam[size_t(g.bytesPerRow)] = 0xFF;
        m->state.extVideoRam[size_t(shown - 1)] = last;
        m->state.extVideoRam[size_t(shown)] = 0xFF;
        m->state.extGfxMode = uint8_t(g.mode << 2);

        std::vector<uint8_t> top = run(kPictureWidth, kGreen);
        std::fill_n(top.begin(), g.width, set);
        std::fill_n(top.begin() + 2 * byteWidth - g.width, g.width, set);
        std::vector<uint8_t> second = run(kPictureWidth, kGreen);
        std::fill_n(second.begin(), byteWidth, set);
        std::vector<uint8_t> bottom = run(kPictureWidth, kGreen);
        std::fill_n(bottom.end() - g.width, g.width, set);

        for (int line = 0; line < g.linesPerRow; ++line) {
            EXPECT_EQ(span(paint_line(*m, line), 32, 288), top);
            EXPECT_EQ(span(paint_line(*m, g.linesPerRow + line), 32, 288), second);
        }
        EXPECT_EQ(span(paint_line(*m, 2 * g.linesPerRow), 32, 288), run(kPictureWidth, kGreen));
        EXPECT_EQ(span(paint_line(*m, 191), 32, 288), bottom);
    }
}

TEST(RenderGraphics, Modes3And5ShowOnlyTheUpperNibble) {
    auto m = make_machine(kGfxGerman);
    m->state.latch = 0x18;
    m->state.extVideoRam[0] = 0x0F;
    m->state.extVideoRam[1] = 0xA5;
    for (uint8_t mode : {3, 5}) {
        m->state.extGfxMode = uint8_t(mode << 2);
        EXPECT_EQ(span(paint_line(*m, 0), 32, 48),
                  (std::vector<uint8_t>{4, 4, 4, 4, 4, 4, 4, 4, 9, 9, 4, 4, 9, 9, 4, 4}));
    }
}

TEST(RenderSource, StandardRamWithoutExtendedGraphicsFirstBankWithIt) {
    auto m = make_machine(kGfxNone);
    m->state.memory[0x7000] = 0x1B; // also "[" in text mode: glyph row 3 is 0x38
    m->state.extVideoRam[0] = 0x80;
    m->state.extVideoRam[3 * 2048] = 0xFF; // the bank the processor sees
    m->state.extGfxMode = 0xFF;            // mode 7, bank 3, and the unused high bits
    m->state.latch = 0x08;
    EXPECT_EQ(cell(paint_line(*m, 0), 0), (Cell{0, 0, 1, 1, 2, 2, 3, 3}));
    m->state.latch = 0x00;
    EXPECT_EQ(cell(paint_line(*m, 3), 0), glyph_cell(0x38, kGreen, kDarkGreen));

    for (int32_t gfx : {kGfxAustralian, kGfxGerman}) {
        SCOPED_TRACE(gfx);
        m->settings.extendedGfx = gfx;
        m->state.latch = 0x08;
        EXPECT_EQ(cell(paint_line(*m, 0), 0), (Cell{9, 0, 0, 0, 0, 0, 0, 0}));
        m->state.latch = 0x00;
        EXPECT_EQ(cell(paint_line(*m, 3), 0), glyph_cell(0x00, kGreen, kDarkGreen));
    }
}

TEST(RenderBorder, KeepsTheModeAndColourSetOfTheLastActiveLine) {
    const struct {
        uint8_t latch, colour;
    } cases[] = {{0x00, kBlack}, {0x10, kBlack}, {0x08, kGreen},
                 {0x18, kBuff},  {0xE7, kBlack}, {0xFF, kBuff}};
    auto m = make_machine(kGfxNone);
    const int top = m->state.timing.blankLines + m->state.timing.extraLines;
    auto border = [&](int scanline, int row) {
        m->state.scanline = scanline;
        render_scanline(*m);
        return span(frame_row(*m, row), 0, kFrameWidth);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.latch));
        m->state.latch = c.latch;
        paint_line(*m, 191);
        m->state.latch = c.latch ^ 0x18; // too late for this frame's borders
        EXPECT_EQ(border(top + 217, 217), run(kFrameWidth, c.colour));
        EXPECT_EQ(border(top + 242, 242), run(kFrameWidth, c.colour));
        EXPECT_EQ(border(top, 0), run(kFrameWidth, c.colour));
        EXPECT_EQ(border(top + 24, 24), run(kFrameWidth, c.colour));
    }
}

// Every scanline of a video frame, and some no frame has, one at a time on a
// frame of sentinel bytes: exactly the expected row is painted, whole, or none.
TEST(RenderPlacement, RowsForEveryModelAndTvStandard) {
    const struct {
        int32_t model, tv;
        int firstRowScanline;
    } cases[] = {{kModelVZ200, kTvPal, 38},
                 {kModelVZ300, kTvPal, 37},
                 {kModelVZ200, kTvNtsc, 14},
                 {kModelVZ300, kTvNtsc, 13}};
    auto m = std::make_unique<Machine>();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " tv " << c.tv);
        m->settings.model = c.model;
        m->settings.tvStandard = c.tv;
        machine_reset(*m);
        m->state.latch = 0x00;
        m->state.borderLatch = 0x18; // until the first active line
        FrameBuffer untouched;
        untouched.fill(0xEE);
        int wrongScanlines = 0;
        for (int scanline = -3; scanline < m->state.timing.linesPerFrame + 40; ++scanline) {
            m->frameBuffer = untouched;
            m->state.scanline = scanline;
            render_scanline(*m);
            const int row = scanline - c.firstRowScanline;
            if (row < 0 || row >= kFrameHeight) {
                wrongScanlines += m->frameBuffer != untouched;
                continue;
            }
            uint8_t* painted = m->frameBuffer.data() + row * kFrameWidth;
            const uint8_t want = row < 25 ? kBuff : kBlack;
            EXPECT_EQ(painted[0], want) << "row " << row;
            EXPECT_EQ(painted[kFrameWidth / 2] == want, row < 25 || row >= 217) << "row " << row;
            const bool whole = !std::memchr(painted, 0xEE, kFrameWidth);
            std::memset(painted, 0xEE, kFrameWidth);
            wrongScanlines += !whole || m->frameBuffer != untouched;
        }
        EXPECT_EQ(wrongScanlines, 0);
        EXPECT_EQ(m->fontTable, kBuiltinFont); // what lies after the frame in memory
    }
}

TEST(RenderFrame, ModeChangeShowsPartWayDown) {
    auto m = make_machine(kGfxAustralian);
    m->state.extVideoRam.fill(0x55); // inverse "U" in text, yellow in mode 2, stripes in mode 7
    const VideoTiming& t = m->state.timing;
    const int active = first_active_line(t);
    for (int scanline = 0; scanline < t.linesPerFrame; ++scanline) {
        if (scanline == active + 100) m->state.latch = 0x08;
        if (scanline == active + 150) m->state.extGfxMode = 0x1C;
        m->state.scanline = scanline;
        render_scanline(*m);
    }
    EXPECT_EQ(frame_row(*m, 0)[0], kBlack);
    const uint8_t* text = frame_row(*m, kTopBorderRows + 99);
    EXPECT_EQ(text[0], kBlack);
    EXPECT_EQ(cell(text, 0), glyph_cell(0x22, kDarkGreen, kGreen));
    const uint8_t* mode2 = frame_row(*m, kTopBorderRows + 100);
    EXPECT_EQ(mode2[0], kGreen);
    EXPECT_EQ(span(mode2, 32, 288), run(kPictureWidth, kYellow));
    EXPECT_EQ(cell(frame_row(*m, kTopBorderRows + 149), 31), (Cell{1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(cell(frame_row(*m, kTopBorderRows + 150), 0), (Cell{0, 9, 0, 9, 0, 9, 0, 9}));
    EXPECT_EQ(cell(frame_row(*m, kTopBorderRows + 191), 31), (Cell{0, 9, 0, 9, 0, 9, 0, 9}));
    EXPECT_EQ(span(frame_row(*m, 217), 0, kFrameWidth), run(kFrameWidth, kGreen));
}

uint32_t fnv1a(const FrameBuffer& frame) {
    uint32_t h = 2166136261u;
    for (uint8_t b : frame) h = (h ^ b) * 16777619u;
    return h;
}

// Whole frames of pseudo-random video RAM, one per picture kind; the sums were
// recorded after the frames were checked pixel by pixel against a separate,
// per-pixel rendering of the rules.
TEST(RenderFrame, GoldenChecksums) {
    const struct {
        uint8_t latch, extGfxMode;
        uint32_t sum;
    } cases[] = {
        {0x00, 0x08, 0xBE73D3BF}, {0x10, 0x08, 0xD87D2E37}, // text, both colour sets
        {0x08, 0x00, 0x11BBC8B9}, {0x18, 0x04, 0x2E0AA7F7}, {0x08, 0x08, 0x5713A867},
        {0x18, 0x0C, 0xFB68B3E9}, {0x08, 0x10, 0xE02D2DA9}, {0x18, 0x14, 0x18C12DC5},
        {0x08, 0x18, 0xB4FA25C9}, {0x18, 0x1C, 0x05D5D3D1},
    };
    for (const auto& c : cases) {
        auto m = make_machine(kGfxAustralian);
        uint32_t seed = 1;
        for (uint8_t& b : m->state.extVideoRam) {
            seed = seed * 1103515245u + 12345u;
            b = uint8_t(seed >> 16);
        }
        m->state.latch = c.latch;
        m->state.borderLatch = c.latch;
        m->state.extGfxMode = c.extGfxMode;
        for (int scanline = 0; scanline < m->state.timing.linesPerFrame; ++scanline) {
            m->state.scanline = scanline;
            render_scanline(*m);
        }
        EXPECT_EQ(fnv1a(m->frameBuffer), c.sum) << std::hex << "latch " << int(c.latch) << " mode register "
                                                << int(c.extGfxMode) << " sum 0x" << fnv1a(m->frameBuffer);
    }
}

} // namespace
