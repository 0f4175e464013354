#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "debugger/debugger.h"
#include "machine/bus.h"
#include "machine/emulator.h"
#include "machine/frame.h"
#include "video/picture.h"

namespace {

std::unique_ptr<Machine> blank_machine() {
    auto m = std::make_unique<Machine>();
    m->state.timing = video_timing_for(kModelVZ200, kTvPal);
    return m;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        out.push_back(text.substr(start, at - start));
    if (start < text.size()) out.push_back(text.substr(start));
    return out;
}

uint32_t rgb_at(const std::vector<uint8_t>& pane, int x, int y) {
    const size_t at = (size_t(y) * kDebugPaneWidth + size_t(x)) * 3;
    return uint32_t(pane[at] << 16 | pane[at + 1] << 8 | pane[at + 2]);
}

TEST(DebuggerText, RegistersLineUpUnderTheFlagLetters) {
    auto m = blank_machine();
    m->z80.af = 0x1244;
    m->z80.af_alt = 0xBEEF;
    m->z80.pc = 0x7AE9;
    const auto l = lines(debugger_registers_text(*m));
    ASSERT_EQ(l.size(), 11u);
    EXPECT_EQ(l[0], "AF  1244  AF' BEEF");
    EXPECT_EQ(l[6], "PC  7AE9");
    EXPECT_EQ(l[8], "");
    EXPECT_EQ(l[9], "Flags:  SZ.A.PNC");
    EXPECT_EQ(l[10], "        01000100"); // Z and P/V set; no line end after it
    EXPECT_EQ(l[9].find('Z'), l[10].find('1'));
}

TEST(DebuggerText, PointersAndHardware) {
    auto m = blank_machine();
    m->state.memory[0x78A4] = 0xE9, m->state.memory[0x78A5] = 0x7A;
    m->state.memory[0x78F9] = 0x00, m->state.memory[0x78FA] = 0x80;
    m->state.memory[0x78B1] = 0xFF, m->state.memory[0x78B2] = 0xFF;
    m->state.memory[0x783B] = 0x29;
    m->state.scanline = 7;
    m->z80.cycles_left = -3;
    EXPECT_EQ(debugger_pointers_text(*m),
              "Start of Basic: 7AE9\r\nEnd of Basic  : 8000\r\nTop of Memory : FFFF\r\n\r\n");
    EXPECT_EQ(debugger_hardware_text(*m),
              "Scanline   :   7\r\nIntr Cycles:  -3\r\n\r\nLatch:  ..SVVCCS \r\n        00101001");
}

TEST(DebuggerText, DisassemblyFollowsInstructionLengths) {
    auto m = blank_machine();
    m->state.memory[0x0000] = 0x3E; // the operand of the second instruction, past the end of memory
    m->z80.pc = 0xFFFA;
    m->state.memory[0xFFFA] = 0x21, m->state.memory[0xFFFB] = 0x34, m->state.memory[0xFFFC] = 0x12;
    m->state.memory[0xFFFD] = 0xDD, m->state.memory[0xFFFE] = 0x36, m->state.memory[0xFFFF] = 0x05;
    const auto l = lines(debugger_disassembly_text(*m));
    ASSERT_EQ(l.size(), size_t(kDisassemblyLines));
    EXPECT_EQ(l[0], "FFFA  21 34 12    LD HL,1234h");
    EXPECT_EQ(l[1], "FFFD  DD 36 05    LD (IX+05h),3Eh"); // read across the end of memory
    EXPECT_EQ(l[2].substr(0, 6), "0001  ");
}

TEST(DebuggerInput, AddressesAndPaging) {
    EXPECT_EQ(debugger_parse_address("7e00"), 0x7E00);
    EXPECT_EQ(debugger_parse_address("FFFF"), 0xFFFF);
    EXPECT_EQ(debugger_parse_address(" 38 "), 0x0038);
    EXPECT_EQ(debugger_parse_address(""), std::nullopt);
    EXPECT_EQ(debugger_parse_address("12G4"), std::nullopt);
    EXPECT_EQ(debugger_parse_address("12345"), std::nullopt);

    EXPECT_EQ(debugger_memory_up(0x0006), 0x0006);
    EXPECT_EQ(debugger_memory_up(0x0007), 0x0001);
    EXPECT_EQ(debugger_memory_down(0xFFF8), 0xFFFE);
    EXPECT_EQ(debugger_memory_down(0xFFF9), 0xFFF9);
}

TEST(DebuggerInput, BreakpointTextIsUpperCasedAndSearchedAsCharacters) {
    Breakpoints b;
    breakpoints_set(b, "7ae9");
    EXPECT_EQ(std::string(b.text.data()), "7AE9");
    EXPECT_TRUE(breakpoint_at(b, 0x7AE9));
    breakpoints_set(b, "0038 1234");
    EXPECT_TRUE(breakpoint_at(b, 0x0038) && breakpoint_at(b, 0x1234));
    EXPECT_FALSE(breakpoint_at(b, 0x3812));
    breakpoints_set(b, "12345");
    EXPECT_TRUE(breakpoint_at(b, 0x1234) && breakpoint_at(b, 0x2345));
    breakpoints_set(b, std::string(30, ' ') + "ABCDEF"); // only 31 characters are taken
    EXPECT_FALSE(breakpoint_at(b, 0xABCD));
    breakpoints_set(b, "");
    for (uint64_t word : b.bits) EXPECT_EQ(word, 0u);
}

TEST(DebuggerListing, HeldToSixteenKilobytes) {
    auto m = blank_machine(); // all NOPs: one line a byte
    const auto whole = lines(debugger_listing(*m, "0000", "FFFF"));
    EXPECT_EQ(whole.front().substr(0, 4), "0000");
    EXPECT_EQ(whole.back().substr(0, 4), "4000");
    EXPECT_EQ(whole.size(), 0x4001u);
    EXPECT_TRUE(debugger_listing(*m, "0010", "000F").empty());
    EXPECT_TRUE(debugger_listing(*m, "zz", "0010").empty());
    EXPECT_EQ(lines(debugger_listing(*m, "FFFE", "FFFF")).size(), 2u);
}

TEST(DebuggerPanes, MemoryViewDrawsBytesAsTheMachineShowsThem) {
    auto m = blank_machine();
    m->state.memory[0x7E00] = 0xAF; // semigraphics: every quarter lit, colour 2
    m->state.memory[0x7E01] = 0x41; // an A
    const auto pane = debugger_memory_rgb(*m, 0x7E00);
    ASSERT_EQ(pane.size(), size_t(kDebugPaneWidth * kDebugPaneHeight * 3));
    for (int y = 0; y < 12; ++y)
        for (int x = 208; x < 216; ++x) ASSERT_EQ(rgb_at(pane, x, y), 0x0000FFu) << x << "," << y;
    // The A of the built-in font: row 3 is 0x08, its one set pixel at column 4.
    EXPECT_EQ(rgb_at(pane, 216 + 4, 3), 0x00FF00u);
    EXPECT_EQ(rgb_at(pane, 216 + 3, 3), 0x000000u);
    // The address text: "7E00" in green from the left edge, row 0.
    int lit = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 32; ++x) lit += rgb_at(pane, x, y) == 0x00FF00u;
    EXPECT_GT(lit, 20);
}

TEST(DebuggerPanes, PictureWithTheScanlineMarker) {
    auto m = blank_machine();
    m->frameBuffer.fill(kBuff);
    m->frameBuffer[24 * kFrameWidth + 32] = kRed; // the pane's top-left pixel
    for (const int line : {62, 255}) {
        m->state.scanline = line;
        const auto pane = debugger_picture_rgb(*m);
        int blue = 0;
        for (size_t i = 0; i < pane.size(); i += 3) blue += pane[i] == 0 && pane[i + 1] == 0 && pane[i + 2] == 255;
        EXPECT_EQ(blue, 0) << line;
        EXPECT_EQ(rgb_at(pane, 0, 0), 0xFF0000u);
    }
    m->state.scanline = 63;
    const auto marked = debugger_picture_rgb(*m);
    for (int x = 0; x < kDebugPaneWidth; ++x) ASSERT_EQ(rgb_at(marked, x, 0), 0x0000FFu);
    EXPECT_EQ(rgb_at(marked, 0, 1), 0xFFFFFFu);
}

// Edit Memory in video RAM, with the extended graphics on (the default): the
// processor, the memory view, the picture and the screen text all follow, just
// as when the processor itself writes the byte.
TEST(DebuggerMemory, EditInVideoRamIsWhatTheProcessorAndThePictureSee) {
    auto edited = std::make_unique<Machine>();
    edited->settings.romFile[0] = 0;
    machine_reset(*edited);
    edited->state.memory[0x8000] = 0x18; // JR $
    edited->state.memory[0x8001] = 0xFE;
    edited->z80.pc = 0x8000;
    auto written = std::make_unique<Machine>(*edited);
    ASSERT_GT(edited->settings.extendedGfx, 0);

    MachineIo io;
    debugger_poke(*edited, 0x7000, 0x41);
    bus_write(*written, io, 0x7000, 0x41);
    EXPECT_EQ(bus_read(*edited, 0x7000), 0x41);
    machine_run_frame(*edited, io);
    machine_run_frame(*written, io);
    EXPECT_EQ(screen_text(*edited).substr(0, 2), "A@");
    EXPECT_TRUE(edited->frameBuffer == written->frameBuffer);

    // The view shows what the processor reads, not the last byte written
    // there in some other bank.
    written->state.extGfxMode = 0x0A;
    bus_write(*written, io, 0x7000, 0x42);
    written->state.extGfxMode = 0x08;
    EXPECT_TRUE(debugger_memory_rgb(*edited, 0x7000) == debugger_memory_rgb(*written, 0x7000));

    // With another bank selected the edit lands there and the picture, which
    // shows the first bank, keeps its old byte.
    edited->state.extGfxMode = 0x0A;
    debugger_poke(*edited, 0x7000, 0x42);
    EXPECT_EQ(bus_read(*edited, 0x7000), 0x42);
    machine_run_frame(*edited, io);
    EXPECT_EQ(screen_text(*edited).substr(0, 1), "A");
}

TEST(DebuggerStep, RunsOneInstructionThroughTheMachine) {
    Emulator emu;
    Machine& m = emu.m();
    machine_reset(m);
    const uint8_t code[] = {0x3E, 0x42, 0x76}; // LD A,42h; HALT
    std::memcpy(&m.state.memory[0x8000], code, sizeof code);
    m.z80.pc = 0x8000;
    m.z80.cycles_left = 3;
    debugger_step(m, emu.io);
    EXPECT_EQ(m.z80.pc, 0x8002);
    EXPECT_EQ(z80_hi(m.z80.af), 0x42);
    EXPECT_EQ(m.z80.cycles_left, 3 - 7 + m.z80.cycle_period); // a spent slice is refilled
    // A halted CPU's steps move the clocks on to the frame interrupt.
    const int32_t scanline = m.state.scanline;
    debugger_step(m, emu.io);
    EXPECT_EQ(m.z80.pc, 0x8002);
    debugger_step(m, emu.io);
    EXPECT_NE(m.state.scanline, scanline);
}

} // namespace
