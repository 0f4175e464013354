// Scanline renderer of the MC6847 picture.
//
// Each line the beam completes (228 T-states) is painted into frameBuffer as
// border, text/semigraphics or graphics from the latch, the extended-graphics
// mode register and video memory as they are at that moment, so mid-frame
// changes show part-way down the picture. The loop counts completed lines and
// render_pending_lines paints them before any of that can change. frameBuffer holds
// palette indices: 25 top-border rows, 192 active rows, 26 bottom-border rows,
// each 320 pixels (32 border, 256 picture, 32 border). Not emulated: the
// 6847's external character generator and its alphanumeric-inverse pin.
#pragma once

#include <array>
#include <cstdint>

struct Machine;

inline constexpr int kFrameWidth = 320;
inline constexpr int kFrameHeight = 243;
inline constexpr int kShownRows = 240;  // rows 240-242 are painted but never shown
inline constexpr int kPictureLeft = 32; // first column of the 256-pixel picture
inline constexpr int kPictureWidth = 256;
inline constexpr int kTopBorderRows = 25;
inline constexpr int kActiveRows = 192;
inline constexpr int kBottomBorderRows = 26;
inline constexpr uint16_t kVideoRamAddress = 0x7000;
inline constexpr int kTextColumns = 32;
inline constexpr int kTextRows = 16;
inline constexpr int kFontGlyphs = 80; // 64 characters and 16 semigraphics patterns
inline constexpr int kGlyphRows = 12;
inline constexpr int kFontSize = kFontGlyphs * kGlyphRows;

using FrameBuffer = std::array<uint8_t, kFrameWidth * kFrameHeight>;
using FontTable = std::array<uint8_t, kFontSize>;

// Paints the line m.state.scanline has just completed (at most one row).
void render_scanline(Machine& m);

// Paints the lines the loop has completed since the last call, in order. The
// loop only counts them (LoopState::linesToPaint); they are painted before
// anything they show can change (a write to the latch or video memory, a port
// write) and before the frame step returns, so the picture is the same as if
// each had been painted as it completed, with far fewer trips.
void render_pending_lines(Machine& m);
