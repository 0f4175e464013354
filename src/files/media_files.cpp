#include "files/media_files.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "files/file_io.h"
#include "input/keyboard.h"
#include "machine/bus.h"
#include "machine/machine.h"
#include "machine/machine_io.h"

namespace {

// A longer file goes on into the addresses that follow, up to 0xFFFF.
FileOutcome load_at(Machine& m, const std::string& path, uint16_t address) {
    std::vector<uint8_t> bytes;
    bool more = false;
    const FileOutcome read = read_file_prefix(path, size_t(0x10000 - address), bytes, more);
    if (!read.done) return read;
    memory_load(m, address, bytes.data(), bytes.size());
    return FileOutcome::ok(more ? "The image runs past 0xFFFF; its last bytes were not loaded." : "");
}

std::string with_extension_if_undotted(const std::string& chosen, const char* extension) {
    return chosen.find('.') == std::string::npos ? chosen + extension : chosen;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    if (at + 4 > b.size()) return 0;
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

uint16_t le16(const std::vector<uint8_t>& b, size_t at) {
    if (at + 2 > b.size()) return 0;
    return uint16_t(b[at] | b[at + 1] << 8);
}

} // namespace

FileOutcome rom_load(Machine& m, const std::string& path) {
    settings_set_path(m.settings.romFile, path);
    const FileOutcome result = load_at(m, path, kRomAddress);
    if (result.done) m.romImageLoaded = true;
    return result;
}

FileOutcome cartridge_load(Machine& m, const std::string& path) {
    settings_set_path(m.settings.cartridgeFile, path);
    return load_at(m, path, kCartridgeAddress);
}

FileOutcome rom_save(const Machine& m, const std::string& path) {
    return write_file(path, &m.state.memory[kRomAddress], kRomSize);
}

FileOutcome cartridge_save(const Machine& m, const std::string& path) {
    return write_file(path, &m.state.memory[kCartridgeAddress], kCartridgeSize);
}

FileOutcome font_load(Machine& m, const std::string& path) {
    std::vector<uint8_t> bytes;
    const FileOutcome read = read_file_limited(path, kFontFileMax, bytes);
    if (!read.done) return read;
    if (bytes.size() < kFontFileMin)
        return FileOutcome::refused("A font file holds 960 bytes; " + path + " has only " +
                                    std::to_string(bytes.size()) + ".");
    std::memcpy(m.fontTable.data(), bytes.data(), kFontSize);
    return FileOutcome::ok();
}

// The pixel rows are taken from offset 62 (file header, information header and
// a two-entry colour table), bottom row first, each padded to four bytes; the
// bits are copied as they stand. Sizes come from the file, so every read is
// checked against it and the rearranged picture is held to 8192 bytes.
FileOutcome bitmap_import_bytes(Machine& m, const std::vector<uint8_t>& file) {
    if (file.size() > kBitmapFileMax) return FileOutcome::refused("The bitmap is larger than 65536 bytes.");
    constexpr size_t kPixelsAt = 62;
    constexpr size_t kBufferSize = 8192;
    const int32_t width = int32_t(le32(file, 18));
    const int32_t height = int32_t(le32(file, 22));
    const uint16_t bits = le16(file, 28);
    const uint32_t imageSize = le32(file, 34);
    const bool expected = width == 256 && height == 192 && imageSize == kBitmapBytes;

    std::vector<uint8_t> picture(kBufferSize, 0);
    const int64_t rowBytes = width > 0 ? int64_t(width) * bits / 8 : 0;
    const int64_t stride = (rowBytes + 3) / 4 * 4;
    size_t filled = 0;
    for (int64_t i = 0; i < height && rowBytes > 0 && filled < kBufferSize; ++i) {
        // Rows that start past the pixel-row buffer read as zeros; the product
        // is only formed where it stays small.
        const int64_t row = height - 1 - i;
        const int64_t rowStart = row <= int64_t(kBufferSize) / stride ? row * stride : int64_t(kBufferSize);
        for (int64_t k = 0; k < rowBytes && filled < kBufferSize; ++k, ++filled) {
            const int64_t at = rowStart + k;
            const bool inside = at < int64_t(kBufferSize) && kPixelsAt + size_t(at) < file.size();
            picture[filled] = inside ? file[kPixelsAt + size_t(at)] : 0;
        }
    }
    memory_load(m, kBitmapAddress, picture.data(), kBitmapBytes);
    return FileOutcome::ok(expected ? "" : kBitmapSizeMessage);
}

FileOutcome bitmap_import(Machine& m, const std::string& path) {
    std::vector<uint8_t> bytes;
    const FileOutcome read = read_file_limited(path, kBitmapFileMax, bytes);
    if (!read.done) return read;
    return bitmap_import_bytes(m, bytes);
}

FileOutcome text_load(Machine& m, const std::string& path, bool hostLineEnds) {
    std::vector<uint8_t> bytes;
    const FileOutcome read = read_file_limited(path, kTypingBufferSize - 1, bytes);
    if (!read.done) return read;
    std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (hostLineEnds) text = text_with_returns(text);
    if (!typing_start(m, text)) return FileOutcome::refused("The text does not fit the typing buffer (65535 bytes).");
    return FileOutcome::ok();
}

MediaKind media_kind_for(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return MediaKind::Unknown;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "vz") return MediaKind::Program;
    if (ext == "wav" || ext == "cas") return MediaKind::Tape;
    if (ext == "dsk") return MediaKind::Disk;
    if (ext == "txt") return MediaKind::Text;
    if (ext == "kstate") return MediaKind::State;
    if (ext == "bas") return MediaKind::Listing;
    return MediaKind::Unknown;
}

std::string printer_path_for(const std::string& chosen) { return with_extension_if_undotted(chosen, ".txt"); }

std::string tape_path_for(const std::string& chosen) { return with_extension_if_undotted(chosen, ".wav"); }

FileOutcome printer_map(MachineIo& io, const std::string& chosen, std::string* used) {
    const std::string path = printer_path_for(chosen);
    if (used) *used = path;
    FilePtr f(std::fopen(path.c_str(), "wb+"));
    if (!f) return FileOutcome::refused("Cannot create the printer file " + path + ".");
    io.printerFile = std::move(f);
    io.printerPath = path;
    io.printerPending = false;
    return FileOutcome::ok();
}
