#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "files/media_files.h"
#include "input/keyboard.h"
#include "machine/frame.h"
#include "machine/machine.h"
#include "machine/machine_io.h"
#include "machine/ports.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t n, uint8_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7 + i / 256);
    return b;
}

class MediaFiles : public testing::Test {
protected:
    void SetUp() override { m->state.memory.fill(0xE5); }
    Bytes memory(uint32_t from, uint32_t to) const { // [from, to)
        return Bytes(m->state.memory.begin() + from, m->state.memory.begin() + to);
    }

    std::unique_ptr<Machine> m = std::make_unique<Machine>();
    TempDir dir;
};

// ---- ROM and cartridge -------------------------------------------------------

TEST_F(MediaFiles, RomLoadAndSaveRoundTrip) {
    const Bytes rom = pattern(kRomSize);
    const std::string path = dir.write("system.rom", rom);
    ASSERT_TRUE(rom_load(*m, path).done);
    EXPECT_EQ(memory(0, 0x4000), rom);
    EXPECT_EQ(m->state.memory[0x4000], 0xE5);
    EXPECT_EQ(settings_path(m->settings.romFile), path);

    ASSERT_TRUE(rom_save(*m, dir.file("copy.rom")).done);
    EXPECT_EQ(TempDir::read(dir.file("copy.rom")), rom);
}

TEST_F(MediaFiles, CartridgeSaveIsAlways10240Bytes) {
    const Bytes small = pattern(100, 3);
    const std::string path = dir.write("small.rom", small);
    ASSERT_TRUE(cartridge_load(*m, path).done);
    EXPECT_EQ(settings_path(m->settings.cartridgeFile), path);
    ASSERT_TRUE(cartridge_save(*m, dir.file("out1.rom")).done);
    Bytes expected(kCartridgeSize, 0xE5);
    std::copy(small.begin(), small.end(), expected.begin());
    EXPECT_EQ(TempDir::read(dir.file("out1.rom")), expected);

    // A longer file goes on into the addresses that follow; the save does not.
    const Bytes large = pattern(20000, 5);
    ASSERT_TRUE(cartridge_load(*m, dir.write("large.rom", large)).done);
    EXPECT_EQ(memory(0x4000, 0x4000 + 20000), large);
    ASSERT_TRUE(cartridge_save(*m, dir.file("out2.rom")).done);
    EXPECT_EQ(TempDir::read(dir.file("out2.rom")), Bytes(large.begin(), large.begin() + kCartridgeSize));
}

TEST_F(MediaFiles, LongImagesStopAtTheTopOfTheAddressSpace) {
    const Bytes cartridge = pattern(0xC000 + 50, 9);
    ASSERT_TRUE(cartridge_load(*m, dir.write("long.crt", cartridge)).done);
    EXPECT_EQ(memory(0x4000, 0x10000), Bytes(cartridge.begin(), cartridge.begin() + 0xC000));
    EXPECT_EQ(memory(0, 0x4000), Bytes(0x4000, 0xE5)); // no wrap to 0

    const Bytes rom = pattern(0x10000 + 100, 11);
    const std::string path = dir.write("long.rom", rom);
    EXPECT_TRUE(rom_load(*m, path).done);
    EXPECT_EQ(memory(0, 0x10000), Bytes(rom.begin(), rom.begin() + 0x10000));
    EXPECT_EQ(settings_path(m->settings.romFile), path);
}

TEST_F(MediaFiles, UnreadableImageKeepsMemoryButRecordsThePath) {
    const std::string path = dir.file("absent.rom");
    EXPECT_FALSE(rom_load(*m, path).done);
    EXPECT_EQ(memory(0, 0x10000), Bytes(0x10000, 0xE5));
    EXPECT_EQ(settings_path(m->settings.romFile), path);
}

// ---- fonts -------------------------------------------------------------------

// Fills the text screen with one character code and draws a frame with a
// program that only idles.
void draw_text_screen(Machine& m, uint8_t code) {
    m.settings.extendedGfx = kGfxNone;
    machine_reset(m);
    const uint8_t idle[] = {0xF3, 0x18, 0xFE}; // DI; JR $
    std::memcpy(&m.state.memory[0x8000], idle, sizeof idle);
    m.z80.pc = 0x8000;
    std::memset(&m.state.memory[0x7000], code, 512);
    m.state.latch = 0; // text mode
    MachineIo io;
    for (int i = 0; i < 2; ++i) machine_run_frame(m, io);
}

std::set<uint8_t> picture_colours(const Machine& m) {
    std::set<uint8_t> colours;
    for (int row = kTopBorderRows; row < kTopBorderRows + kActiveRows; ++row)
        for (int col = kPictureLeft; col < kPictureLeft + kPictureWidth; ++col)
            colours.insert(m.frameBuffer[size_t(row) * kFrameWidth + size_t(col)]);
    return colours;
}

TEST_F(MediaFiles, FontReplacesTheGlyphsTheScreenIsDrawnWith) {
    draw_text_screen(*m, 0x01); // "A"
    ASSERT_EQ(picture_colours(*m).size(), 2u);

    Bytes font = pattern(kFontSize);
    std::fill(font.begin() + 12, font.begin() + 24, 0xFF); // glyph 1 solid
    ASSERT_TRUE(font_load(*m, dir.write("solid.fnt", font)).done);
    EXPECT_TRUE(std::equal(font.begin(), font.end(), m->fontTable.begin()));
    draw_text_screen(*m, 0x01);
    EXPECT_EQ(picture_colours(*m).size(), 1u);
}

TEST_F(MediaFiles, FontFileSizes) {
    // A longer file gives its first 960 bytes and touches nothing else.
    const Bytes longer = pattern(2000, 0x40);
    auto before = std::make_unique<Machine>(*m);
    ASSERT_TRUE(font_load(*m, dir.write("long.fnt", longer)).done);
    EXPECT_TRUE(std::equal(m->fontTable.begin(), m->fontTable.end(), longer.begin()));
    before->fontTable = m->fontTable;
    EXPECT_EQ(std::memcmp(before.get(), m.get(), sizeof(Machine)), 0);

    const FontTable loaded = m->fontTable;
    for (size_t size : {size_t(0), size_t(959), size_t(32769)}) {
        EXPECT_FALSE(font_load(*m, dir.write("bad.fnt", pattern(size, 0x99))).done) << size;
        EXPECT_EQ(m->fontTable, loaded) << size;
    }
    EXPECT_FALSE(font_load(*m, dir.file("absent.fnt")).done);
    EXPECT_EQ(m->fontTable, loaded);
    const Bytes largest = pattern(32768, 0x21);
    ASSERT_TRUE(font_load(*m, dir.write("max.fnt", largest)).done);
    EXPECT_TRUE(std::equal(m->fontTable.begin(), m->fontTable.end(), largest.begin()));
}

// ---- bitmaps -----------------------------------------------------------------

void put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
    put16(b, at, uint16_t(v));
    put16(b, at + 2, uint16_t(v >> 16));
}

// A file header, an information header and two colours, then the pixel rows.
Bytes bitmap(int32_t width, int32_t height, uint16_t bits, uint32_t imageSize, const Bytes& pixels) {
    Bytes b(62 + pixels.size(), 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, uint32_t(62 + pixels.size()));
    put32(b, 10, 62);
    put32(b, 14, 40);
    put32(b, 18, uint32_t(width));
    put32(b, 22, uint32_t(height));
    put16(b, 26, 1);
    put16(b, 28, bits);
    put32(b, 34, imageSize);
    put32(b, 46, 2);
    put32(b, 58, 0x00FFFFFF); // second colour white
    std::copy(pixels.begin(), pixels.end(), b.begin() + 62);
    return b;
}

// Pixel rows as a file holds them, bottom row first; row r of the file is
// filled with bytes that name it.
Bytes file_rows(int rows, size_t stride) {
    Bytes pixels(size_t(rows) * stride);
    for (int r = 0; r < rows; ++r)
        for (size_t k = 0; k < stride; ++k) pixels[size_t(r) * stride + k] = uint8_t(r * 3 + k * 5 + 1);
    return pixels;
}

TEST_F(MediaFiles, BitmapRowsLandTopRowFirstAt0xC000) {
    const Bytes pixels = file_rows(192, 32);
    const Bytes file = bitmap(256, 192, 1, 6144, pixels);
    ASSERT_EQ(file.size(), 6206u);
    const FileOutcome result = bitmap_import(*m, dir.write("pic.bmp", file));
    ASSERT_TRUE(result.done);
    EXPECT_EQ(result.message, "");
    EXPECT_EQ(memory(0xC000, 0xC020), Bytes(pixels.end() - 32, pixels.end()));     // the file's last row
    EXPECT_EQ(memory(0xD7E0, 0xD800), Bytes(pixels.begin(), pixels.begin() + 32)); // its first row
    for (int i = 0; i < 192; ++i) {
        const size_t fileRow = size_t(191 - i) * 32;
        ASSERT_EQ(memory(0xC000 + 32 * uint32_t(i), 0xC020 + 32 * uint32_t(i)),
                  Bytes(pixels.begin() + long(fileRow), pixels.begin() + long(fileRow + 32)))
            << i;
    }
    EXPECT_EQ(m->state.memory[0xBFFF], 0xE5);
    EXPECT_EQ(m->state.memory[0xD800], 0xE5);

    // With image size 0 the message is shown and the import is the same.
    const auto imported = m->state.memory;
    m->state.memory.fill(0xE5);
    const FileOutcome zero = bitmap_import(*m, dir.write("zero.bmp", bitmap(256, 192, 1, 0, pixels)));
    EXPECT_TRUE(zero.done);
    EXPECT_EQ(zero.message, "Imported bitmap must be 256x192 2 color");
    EXPECT_EQ(m->state.memory, imported);
}

TEST_F(MediaFiles, BitmapRowLengthAndPaddingComeFromTheHeader) {
    // 72 pixels of 1 bit: 9 bytes a row, stored in 12.
    const Bytes narrow = file_rows(192, 12);
    const FileOutcome result = bitmap_import_bytes(*m, bitmap(72, 192, 1, 192 * 12, narrow));
    EXPECT_EQ(result.message, kBitmapSizeMessage);
    for (int i = 0; i < 192; ++i) {
        const size_t fileRow = size_t(191 - i) * 12;
        ASSERT_EQ(memory(0xC000 + 9 * uint32_t(i), 0xC009 + 9 * uint32_t(i)),
                  Bytes(narrow.begin() + long(fileRow), narrow.begin() + long(fileRow + 9)))
            << i;
    }

    // 24 bits a pixel: 768-byte rows, of which the first eight fill the area.
    const Bytes deep = file_rows(10, 768);
    bitmap_import_bytes(*m, bitmap(256, 10, 24, 7680, deep));
    for (int i = 0; i < 8; ++i) {
        const size_t fileRow = size_t(9 - i) * 768;
        ASSERT_EQ(memory(0xC000 + 768 * uint32_t(i), 0xC300 + 768 * uint32_t(i)),
                  Bytes(deep.begin() + long(fileRow), deep.begin() + long(fileRow + 768)))
            << i;
    }
}

TEST_F(MediaFiles, HostileBitmapHeadersStayInsideTheFileAndThePicture) {
    struct Case {
        int32_t width, height;
        uint16_t bits;
        uint32_t imageSize;
        size_t pixelBytes;
    };
    const Case cases[] = {
        {0x7FFFFFFF, 192, 1, 6144, 6144},
        {256, 0x7FFFFFFF, 1, 6144, 6144},
        {0x7FFFFFFF, 0x7FFFFFFF, 0xFFFF, 0xFFFFFFFF, 100},
        {-256, -192, 1, 6144, 6144},
        {256, -192, 1, 6144, 6144},
        {INT32_MIN, INT32_MIN, 0x8000, 6144, 6144},
        {256, 192, 0xFFFF, 6144, 6144},
        {256, 192, 0, 6144, 6144},
        {0x40000000, 4, 32, 6144, 6144},
        {1, 1, 1, 6144, 0},
        {256, 192, 1, 6144, 10}, // the header is right, the rows are missing
        {2048, 32, 32, 6144, 65536 - 62},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " x " << c.bits);
        m->state.memory.fill(0xE5);
        const Bytes file = bitmap(c.width, c.height, c.bits, c.imageSize, pattern(c.pixelBytes));
        const FileOutcome result = bitmap_import_bytes(*m, file);
        EXPECT_TRUE(result.done);
        if (c.width != 256 || c.height != 192) {
            EXPECT_EQ(result.message, kBitmapSizeMessage);
        }
        EXPECT_EQ(memory(0, 0xC000), Bytes(0xC000, 0xE5));
        EXPECT_EQ(memory(0xD800, 0x10000), Bytes(0x2800, 0xE5));
    }

    // Files cut inside the header.
    const Bytes header = bitmap(256, 192, 1, 6144, {});
    for (size_t size : {size_t(0), size_t(2), size_t(20), size_t(33), size_t(61)}) {
        m->state.memory.fill(0xE5);
        bitmap_import_bytes(*m, Bytes(header.begin(), header.begin() + long(size)));
        EXPECT_EQ(memory(0, 0xC000), Bytes(0xC000, 0xE5)) << size;
        EXPECT_EQ(memory(0xD800, 0x10000), Bytes(0x2800, 0xE5)) << size;
    }
}

TEST_F(MediaFiles, BitmapOver65536BytesIsRefused) {
    const Bytes file = bitmap(256, 192, 1, 6144, pattern(65536 - 62 + 1));
    EXPECT_FALSE(bitmap_import(*m, dir.write("huge.bmp", file)).done);
    EXPECT_FALSE(bitmap_import_bytes(*m, file).done);
    EXPECT_EQ(memory(0, 0x10000), Bytes(0x10000, 0xE5));
}

// ---- text --------------------------------------------------------------------

// The keys held in each polled frame while typing, as (row, bit) sets, with
// the frames that hold nothing left out.
std::vector<std::set<std::pair<int, int>>> typed_keys(Machine& m, int frames) {
    std::vector<std::set<std::pair<int, int>>> presses;
    for (int f = 0; f < frames; ++f) {
        poll_input(m, HostKeys{});
        std::set<std::pair<int, int>> held;
        for (int row = 0; row < 8; ++row)
            for (int bit = 0; bit < 8; ++bit)
                if (!(m.input.pendingRows[size_t(row)] & (1 << bit))) held.insert({row, bit});
        if (!held.empty()) presses.push_back(held);
    }
    return presses;
}

std::set<std::pair<int, int>> keys_of(char c) {
    std::set<std::pair<int, int>> keys;
    for (const MatrixKey& k : typing_keys(c))
        if (k.row < 8) keys.insert({k.row, k.bit});
    return keys;
}

TEST_F(MediaFiles, TextFilesAreTypedKeyByKey) {
    ASSERT_TRUE(text_load(*m, dir.write("in.txt", {'R', 'u', '1', '\r'})).done);
    EXPECT_EQ(typed_keys(*m, 20),
              (std::vector<std::set<std::pair<int, int>>>{keys_of('R'), keys_of('U'), keys_of('1'), keys_of('\r')}));
    EXPECT_FALSE(m->input.typingActive);

    // An empty file starts typing that ends at once.
    ASSERT_TRUE(text_load(*m, dir.write("empty.txt", {})).done);
    EXPECT_TRUE(typed_keys(*m, 6).empty());
    EXPECT_FALSE(m->input.typingActive);
}

TEST_F(MediaFiles, TextOver65535BytesIsRefused) {
    EXPECT_FALSE(text_load(*m, dir.write("huge.txt", Bytes(65536, 'A'))).done);
    EXPECT_FALSE(m->input.typingActive);
    EXPECT_FALSE(text_load(*m, dir.file("absent.txt")).done);
    EXPECT_FALSE(m->input.typingActive);

    Bytes largest(65535, 'B');
    largest.back() = 'C';
    ASSERT_TRUE(text_load(*m, dir.write("max.txt", largest)).done);
    EXPECT_TRUE(m->input.typingActive);
    EXPECT_EQ(m->input.typingText[65534], 'C');
    EXPECT_EQ(m->input.typingText[65535], 0);
}

// ---- printer -----------------------------------------------------------------

TEST(PrinterFile, ExtensionOnlyWhenThePathHasNoFullStopAnywhere) {
    EXPECT_EQ(printer_path_for("out/listing"), "out/listing.txt");
    EXPECT_EQ(printer_path_for("my.docs/listing"), "my.docs/listing");
    EXPECT_EQ(printer_path_for("listing.prn"), "listing.prn");
    EXPECT_EQ(tape_path_for("tapes/game"), "tapes/game.wav");
    EXPECT_EQ(tape_path_for("my.tapes/game"), "my.tapes/game");

    TempDir dir;
    const std::string folder = dir.file("print.out");
    std::filesystem::create_directories(folder);
    MachineIo io;
    ASSERT_TRUE(printer_map(io, folder + "/listing").done);
    EXPECT_TRUE(std::filesystem::exists(folder + "/listing"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/listing.txt"));

    if (dir.file("").find('.') != std::string::npos) GTEST_SKIP() << "the scratch folder holds a full stop";
    std::string used;
    ASSERT_TRUE(printer_map(io, dir.file("listing"), &used).done);
    EXPECT_EQ(used, dir.file("listing.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("listing.txt")));
}

TEST(PrinterFile, PrintedBytesReachTheMappedFile) {
    TempDir dir;
    auto m = std::make_unique<Machine>();
    MachineIo io;
    const std::string path = dir.write("out.txt", {'o', 'l', 'd'});
    ASSERT_TRUE(printer_map(io, path).done);
    EXPECT_EQ(TempDir::read(path), Bytes{}); // an earlier file is emptied
    port_out(*m, io, 0, 'H');
    port_out(*m, io, 14, 'i');
    port_out(*m, io, 0, 0x00);
    machine_flush_files(io);
    EXPECT_EQ(TempDir::read(path), (Bytes{'H', 'i', 0x00}));

    // A printer file that cannot be created leaves the earlier one mapped.
    EXPECT_FALSE(printer_map(io, dir.file("no/such/folder/p.txt")).done);
    port_out(*m, io, 0, '!');
    machine_flush_files(io);
    EXPECT_EQ(TempDir::read(path), (Bytes{'H', 'i', 0x00, '!'}));
}

} // namespace
