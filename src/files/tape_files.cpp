#include "files/tape_files.h"

#include <algorithm>
#include <cctype>

#include "files/file_io.h"
#include "files/vz_file.h"
#include "machine/machine_io.h"

namespace {

// Several programs, and an hour of signal at 312 samples a byte.
constexpr size_t kCasFileMax = 256 << 10;
constexpr size_t kCasPiece = 4096; // bytes turned into samples at a time

bool ends_with(const std::string& s, const char* suffix) {
    const size_t n = std::char_traits<char>::length(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
    return true;
}

FileOutcome unknown_kind(const std::string& path) {
    return FileOutcome::refused("Cannot tell the format of " + path + " from its extension (.vz, .cas or .wav).");
}

} // namespace

TapeFileKind tape_file_kind(const std::string& path) {
    if (ends_with(path, ".vz")) return TapeFileKind::vz;
    if (ends_with(path, ".cas")) return TapeFileKind::cas;
    if (ends_with(path, ".wav")) return TapeFileKind::wav;
    return TapeFileKind::other;
}

WavRead tape_read_signal(const std::string& path, TapeSignal& out) {
    out = {};
    if (tape_file_kind(path) == TapeFileKind::cas) {
        std::vector<uint8_t> bytes;
        const FileOutcome r = read_file_limited(path, kCasFileMax, bytes);
        if (!r.done) {
            FilePtr probe(std::fopen(path.c_str(), "rb"));
            return {probe ? WavStatus::badFormat : WavStatus::cannotOpen, r.message};
        }
        if (bytes.empty()) return {WavStatus::badFormat, "This .cas file is empty."};
        out.rate = kTapeSampleRate;
        out.levels.reserve(bytes.size() * 8 * 39 + kTapeLeadInSamples + kTapePauseSamples);
        LevelSlicer slicer(out.rate, out.levels);
        std::vector<uint8_t> samples;
        TapeSampleWriter writer(samples);
        for (size_t from = 0; from < bytes.size(); from += kCasPiece) {
            writer.push({bytes.data() + from, std::min(kCasPiece, bytes.size() - from)});
            for (const uint8_t s : samples) slicer.push(float(int(s) - 128) / 128.0f);
            samples.clear();
        }
        slicer.finish();
        return {};
    }
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) return {WavStatus::cannotOpen, "Cannot open " + path + "."};
    return wav_read_signal(f.get(), out);
}

FileOutcome tape_read_program(const std::string& path, TapeProgram& out) {
    std::vector<uint8_t> bytes;
    switch (tape_file_kind(path)) {
    case TapeFileKind::vz: {
        const FileOutcome r = read_file_limited(path, kVzMaxFileSize, bytes);
        return r.done ? tape_program_from_vz(bytes, out) : r;
    }
    case TapeFileKind::cas: {
        const FileOutcome r = read_file_limited(path, kCasFileMax, bytes);
        return r.done ? tape_parse_cas(bytes, out) : r;
    }
    case TapeFileKind::wav: {
        TapeSignal signal;
        const WavRead r = tape_read_signal(path, signal);
        if (r.status != WavStatus::ok) return FileOutcome::refused(r.message);
        return tape_decode_signal(signal, out);
    }
    default: return unknown_kind(path);
    }
}

FileOutcome tape_write_program(const std::string& path, const TapeProgram& p) {
    std::vector<uint8_t> bytes;
    switch (tape_file_kind(path)) {
    case TapeFileKind::vz: {
        const FileOutcome r = tape_program_to_vz(p, bytes);
        if (!r.done) return r;
        break;
    }
    case TapeFileKind::cas: bytes = tape_bytes(p); break;
    case TapeFileKind::wav: {
        const std::vector<uint8_t> samples = tape_samples(tape_bytes(p));
        bytes = wav_header_8bit_mono(uint32_t(samples.size()));
        bytes.insert(bytes.end(), samples.begin(), samples.end());
        break;
    }
    default: return unknown_kind(path);
    }
    return write_file_atomic(path, bytes);
}

FileOutcome tape_convert(const std::string& in, const std::string& out, TapeProgram* converted) {
    if (tape_file_kind(in) == TapeFileKind::other) return unknown_kind(in);
    if (tape_file_kind(out) == TapeFileKind::other) return unknown_kind(out);
    TapeProgram p;
    const FileOutcome read = tape_read_program(in, p);
    if (!read.done) return read;
    const FileOutcome written = tape_write_program(out, p);
    if (written.done && converted) *converted = std::move(p);
    return written;
}
