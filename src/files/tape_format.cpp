#include "files/tape_format.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "files/vz_file.h"

namespace {

// One bit is 39 samples at 22050 Hz; a short cycle a third of it.
constexpr double kShortCycleSeconds = 13.0 / double(kTapeSampleRate);
// Leader and sync bytes that must decode in a row before a polarity is
// believed: 48 bits that noise does not make by chance.
constexpr uint64_t kSyncPattern = 0x80808080FEFEull;
constexpr uint64_t kSyncMask = 0xFFFFFFFFFFFFull;
constexpr int kSyncBytesFound = 2; // the pattern's sync bytes

std::string hex(unsigned v, int digits) {
    char s[12];
    std::snprintf(s, sizeof s, "0x%0*X", digits, v);
    return s;
}

// ---- decoding a sliced signal ----------------------------------------------

enum class CycleKind { shortCycle, longCycle, bad, end };

struct Cycle {
    CycleKind kind;
    size_t start;  // sample
    size_t length; // samples
};

// Walks a signal cycle by cycle: a high run and the low run after it.
class CycleReader {
public:
    CycleReader(const TapeSignal& s, uint8_t high) : lv_(s.levels), high_(high) {
        shortLength_ = double(s.rate) * kShortCycleSeconds;
        // Start at the first change to high: a run already under way at the
        // first sample may be only part of one.
        while (pos_ < lv_.size() && lv_[pos_] == high_) ++pos_;
        while (pos_ < lv_.size() && lv_[pos_] != high_) ++pos_;
    }

    Cycle next() {
        const size_t n = lv_.size();
        if (pos_ >= n) return {CycleKind::end, n, 0};
        const size_t start = pos_;
        const size_t highEnd = run_end(start);
        const size_t lowEnd = highEnd < n ? run_end(highEnd) : n;
        size_t low = lowEnd - highEnd;
        size_t high = highEnd - start;
        // A half that runs on (the pause after the name, held at either
        // level; the last cycle of a recording, with no change after it) is
        // taken as long as the other half of its cycle.
        if (lowEnd >= n || double(low) > 3.0 * shortLength_) low = high;
        else if (double(high) > 3.0 * shortLength_) high = low;
        pos_ = lowEnd;
        const double length = double(high + low);
        CycleKind kind = CycleKind::bad;
        if (length >= 0.5 * shortLength_ && length < 1.5 * shortLength_) kind = CycleKind::shortCycle;
        else if (length >= 1.5 * shortLength_ && length < 3.0 * shortLength_) kind = CycleKind::longCycle;
        // A recording cut off in a cycle ends there.
        if (kind == CycleKind::bad && lowEnd >= n) return {CycleKind::end, start, 0};
        return {kind, start, high + low};
    }

    double short_length() const { return shortLength_; }

private:
    size_t run_end(size_t p) const {
        const uint8_t v = lv_[p];
        while (p < lv_.size() && lv_[p] == v) ++p;
        return p;
    }

    const std::vector<uint8_t>& lv_;
    uint8_t high_;
    size_t pos_ = 0;
    double shortLength_ = 13.0;
};

// Looks for four leader bytes and two sync bytes, bit by bit, tolerating
// anything before them. Returns true with the reader just past the second
// sync byte, and the sample where the first of the two began.
bool find_sync(CycleReader& r, size_t& syncStart) {
    uint64_t window = 0;
    int shorts = 0;
    size_t firstShort = 0, lastShort = 0;
    size_t bitStarts[16] = {};
    size_t bitCount = 0;
    auto emit = [&](int bit, size_t start) {
        window = (window << 1 | uint64_t(bit)) & kSyncMask;
        bitStarts[bitCount++ % 16] = start;
    };
    for (;;) {
        const Cycle c = r.next();
        switch (c.kind) {
        case CycleKind::end: return false;
        case CycleKind::bad:
            window = 0;
            shorts = 0;
            continue;
        case CycleKind::shortCycle:
            if (shorts == 0) firstShort = c.start;
            lastShort = c.start;
            if (++shorts < 3) continue;
            emit(1, firstShort);
            break;
        case CycleKind::longCycle:
            // A 0 is one short cycle and a long one; two shorts before the
            // long one mean the first belonged to a bit begun before we looked.
            if (shorts != 1) window = 0;
            if (shorts > 0) emit(0, lastShort);
            break;
        }
        shorts = 0;
        if (window == kSyncPattern) {
            syncStart = bitStarts[(bitCount - 16) % 16];
            return true;
        }
    }
}

// ---- byte sources: a .cas stream or a decoded signal -----------------------

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The next byte; false, with reason() set, when there is none.
    virtual bool next(uint8_t& b) = 0;
    // Where the byte last asked for is, for a message, and when in the sound.
    virtual std::string where() const = 0;
    virtual std::string when() const { return {}; }
    const std::string& reason() const { return reason_; }

protected:
    std::string reason_;
};

class CasSource : public ByteSource {
public:
    CasSource(std::span<const uint8_t> bytes, size_t from) : bytes_(bytes), pos_(from) {}
    bool next(uint8_t& b) override {
        at_ = pos_;
        if (pos_ >= bytes_.size()) {
            reason_ = "the file ends";
            return false;
        }
        b = bytes_[pos_++];
        return true;
    }
    std::string where() const override { return "byte " + std::to_string(at_) + " of the file"; }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_;
    size_t at_ = 0;
};

class SignalSource : public ByteSource {
public:
    SignalSource(CycleReader& r, uint32_t rate, size_t syncStart) : r_(r), rate_(rate), sample_(syncStart) {}

    bool next(uint8_t& b) override {
        at_ = count_++;
        if (at_ < kSyncBytesFound) { // already read by the search
            b = kTapeSyncByte;
            return true;
        }
        b = 0;
        for (int bit = 0; bit < 8; ++bit) {
            int value = 0;
            if (!read_bit(value, bit == 0)) return false;
            b = uint8_t(b << 1 | value);
        }
        return true;
    }

    std::string where() const override { return "byte " + std::to_string(at_) + " after the leader"; }
    std::string when() const override {
        char seconds[48];
        std::snprintf(seconds, sizeof seconds, ", %.3f s into the sound", double(sample_) / double(rate_));
        return seconds;
    }

private:
    bool read_bit(int& value, bool firstOfByte) {
        const Cycle first = r_.next();
        if (firstOfByte) sample_ = first.start;
        if (!is_short(first)) return false;
        const Cycle second = r_.next();
        if (second.kind == CycleKind::longCycle) {
            value = 0;
            return true;
        }
        if (!is_short(second)) return false;
        const Cycle third = r_.next();
        if (!is_short(third)) return false;
        value = 1;
        return true;
    }

    bool is_short(const Cycle& c) {
        if (c.kind == CycleKind::shortCycle) return true;
        sample_ = c.start;
        char expect[64];
        std::snprintf(expect, sizeof expect, "short (about %.0f) nor long (about %.0f)", r_.short_length(),
                      2 * r_.short_length());
        switch (c.kind) {
        case CycleKind::end: reason_ = "the sound ends"; break;
        case CycleKind::longCycle: reason_ = "a long cycle stands where a bit needs a short one"; break;
        default:
            reason_ = "a signal cycle of " + std::to_string(c.length) + " samples is neither " + expect;
            break;
        }
        return false;
    }

    CycleReader& r_;
    uint32_t rate_;
    size_t sample_;
    size_t count_ = 0;
    size_t at_ = 0;
};

// Reads the program after the leader, naming each field as it goes so that a
// failure says what it hit.
FileOutcome parse_stream(ByteSource& src, TapeProgram& out) {
    const char* field = "";
    size_t dataIndex = 0;
    std::string where, when; // of the field's first byte, where it has more than one
    auto failed = [&](const std::string& reason) {
        const std::string what =
            *field ? field : "byte " + std::to_string(dataIndex) + " of the program's data";
        if (where.empty()) where = src.where(), when = src.when();
        return FileOutcome::refused("Decoding failed at " + where + " (" + what + ")" + when + ": " + reason + ".");
    };
    uint8_t b = 0;
    auto read = [&](uint8_t& v) { return src.next(v); };

    field = "the sync bytes";
    for (int i = 0; i < kTapeSyncLength; ++i) {
        if (!read(b)) return failed(src.reason());
        if (b != kTapeSyncByte) return failed(hex(b, 2) + " stands where a sync byte 0xFE belongs");
    }
    field = "the file type";
    if (!read(b)) return failed(src.reason());
    if (b != kVzTypeBasic && b != kVzTypeMachineCode)
        return failed("type " + hex(b, 2) + " is neither BASIC (0xF0) nor machine code (0xF1)");
    TapeProgram p;
    p.type = b;
    field = "the name";
    for (;;) {
        if (!read(b)) return failed(src.reason());
        if (b == 0) break;
        if (p.name.size() == kTapeNameMax) return failed("the name runs past 17 characters without its 0x00");
        p.name += char(b);
    }
    uint16_t addresses[2] = {};
    uint16_t sum = 0;
    const char* names[2] = {"the start address", "the end address"};
    for (int a = 0; a < 2; ++a) {
        field = names[a];
        uint8_t lo = 0, hi = 0;
        if (!read(lo) || !read(hi)) return failed(src.reason());
        addresses[a] = uint16_t(lo | hi << 8);
        sum = uint16_t(sum + lo + hi);
    }
    p.start = addresses[0];
    if (addresses[1] < addresses[0])
        return failed("the end address " + hex(addresses[1], 4) + " lies before the start address " +
                      hex(addresses[0], 4));
    const size_t length = size_t(addresses[1] - addresses[0]);
    p.data.reserve(length);
    field = "";
    for (dataIndex = 0; dataIndex < length; ++dataIndex) {
        if (!read(b)) return failed(src.reason());
        p.data.push_back(b);
        sum = uint16_t(sum + b);
    }
    field = "the checksum";
    uint8_t lo = 0, hi = 0;
    if (!read(lo)) return failed(src.reason());
    where = src.where(), when = src.when();
    if (!read(hi)) return failed(src.reason());
    const uint16_t recorded = uint16_t(lo | hi << 8);
    if (recorded != sum)
        return failed("the recorded checksum is " + hex(recorded, 4) + " but the bytes add up to " + hex(sum, 4));
    out = std::move(p);
    return FileOutcome::ok();
}

// The recorder's waveforms: what it appends for a change of the output after
// a short or a long interval, by the new level.
constexpr uint8_t kShortLow[] = {0x70, 0x54, 0x49, 0x43, 0x43, 0x41, 0x6D};
constexpr uint8_t kShortHigh[] = {0x9D, 0xB1, 0xBC, 0xBD, 0xC1, 0xAC};
constexpr uint8_t kLongLow[] = {0x59, 0x48, 0x3E, 0x3C, 0x3B, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x41, 0x42, 0x76};
constexpr uint8_t kLongHigh[] = {0x8B, 0xAA, 0xB7, 0xBC, 0xBE, 0xBE, 0xBD, 0xBC, 0xBB, 0xBB, 0xB8, 0xBA, 0x8D};

template <size_t N> void put(std::vector<uint8_t>& to, const uint8_t (&w)[N]) { to.insert(to.end(), w, w + N); }

} // namespace

std::span<const uint8_t> tape_waveform(bool isLong, bool high) {
    if (isLong) return high ? std::span<const uint8_t>(kLongHigh) : std::span<const uint8_t>(kLongLow);
    return high ? std::span<const uint8_t>(kShortHigh) : std::span<const uint8_t>(kShortLow);
}

std::vector<uint8_t> tape_bytes(const TapeProgram& p) {
    std::vector<uint8_t> b;
    b.reserve(kTapeLeaderLength + kTapeSyncLength + 1 + p.name.size() + 1 + 4 + p.data.size() + 2);
    b.assign(kTapeLeaderLength, kTapeLeaderByte);
    b.insert(b.end(), kTapeSyncLength, kTapeSyncByte);
    b.push_back(p.type);
    b.insert(b.end(), p.name.begin(), p.name.end());
    b.push_back(0);
    const uint16_t end = uint16_t(p.start + p.data.size());
    const uint8_t addresses[4] = {uint8_t(p.start), uint8_t(p.start >> 8), uint8_t(end), uint8_t(end >> 8)};
    uint16_t sum = 0;
    for (const uint8_t a : addresses) {
        b.push_back(a);
        sum = uint16_t(sum + a);
    }
    for (const uint8_t d : p.data) sum = uint16_t(sum + d);
    b.insert(b.end(), p.data.begin(), p.data.end());
    b.push_back(uint8_t(sum));
    b.push_back(uint8_t(sum >> 8));
    return b;
}

std::span<const uint8_t> tape_silence(bool leadIn) {
    static constexpr auto kCentre = [] {
        std::array<uint8_t, std::max(kTapeLeadInSamples, kTapePauseSamples)> a{};
        a.fill(kTapeCentre);
        return a;
    }();
    return {kCentre.data(), size_t(leadIn ? kTapeLeadInSamples : kTapePauseSamples)};
}

TapeSampleWriter::TapeSampleWriter(std::vector<uint8_t>& out) : out_(out) {
    for (const uint8_t s : tape_silence(true)) out_.push_back(s);
}

void TapeSampleWriter::push(std::span<const uint8_t> bytes) {
    for (const uint8_t byte : bytes) {
        for (int bit = 7; bit >= 0; --bit) {
            put(out_, kShortHigh);
            put(out_, kShortLow);
            if (byte >> bit & 1) {
                put(out_, kShortHigh);
                put(out_, kShortLow);
                put(out_, kShortHigh);
                put(out_, kShortLow);
            } else {
                put(out_, kLongHigh);
                put(out_, kLongLow);
            }
        }
        follow(byte);
    }
}

// Where in a program the byte just written stands; a stream that leaves the
// format (another program's leader, damage) is followed from its next sync.
void TapeSampleWriter::follow(uint8_t b) {
    switch (field_) {
    case Field::seek:
        if (b == kTapeSyncByte) field_ = Field::sync;
        break;
    case Field::sync:
        if (b == kVzTypeBasic || b == kVzTypeMachineCode) field_ = Field::name, count_ = 0;
        else if (b != kTapeSyncByte) field_ = Field::seek;
        break;
    case Field::name:
        if (b == 0) {
            for (const uint8_t s : tape_silence(false)) out_.push_back(s);
            field_ = Field::addresses, count_ = 0;
        } else if (++count_ > kTapeNameMax) {
            field_ = Field::seek;
        }
        break;
    case Field::addresses: {
        addresses_[count_++] = b;
        if (count_ < 4) break;
        const int start = addresses_[0] | addresses_[1] << 8;
        const int end = addresses_[2] | addresses_[3] << 8;
        if (end < start) field_ = Field::seek;
        else if (end == start) field_ = Field::checksum, count_ = 2;
        else field_ = Field::data, count_ = size_t(end - start);
        break;
    }
    case Field::data:
        if (--count_ == 0) field_ = Field::checksum, count_ = 2;
        break;
    case Field::checksum:
        if (--count_ == 0) field_ = Field::seek;
        break;
    }
}

std::vector<uint8_t> tape_samples(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> s;
    s.reserve(kTapeLeadInSamples + kTapePauseSamples + bytes.size() * 8 * 39);
    TapeSampleWriter w(s);
    w.push(bytes);
    return s;
}

FileOutcome tape_parse_cas(std::span<const uint8_t> bytes, TapeProgram& out) {
    size_t from = 0;
    while (from < bytes.size() && bytes[from] == kTapeLeaderByte) ++from;
    CasSource src(bytes, from);
    return parse_stream(src, out);
}

namespace {

// How far the cycles before a sample lie from a short or a long one, on
// average, in short cycles.
double misfit(const TapeSignal& signal, uint8_t high, size_t until) {
    CycleReader r(signal, high);
    double sum = 0.0;
    size_t count = 0;
    for (Cycle c = r.next(); c.kind != CycleKind::end && c.start < until; c = r.next(), ++count) {
        const double length = double(c.length) / r.short_length();
        sum += std::min(std::abs(length - 1.0), std::abs(length - 2.0));
    }
    return count ? sum / double(count) : 0.0;
}

} // namespace

std::optional<bool> tape_signal_inverted(const TapeSignal& signal) {
    // Halves of 6 and 7 samples make short cycles in either pairing, so the
    // leader may decode both ways; but paired the wrong way, every change
    // between a short and a long cycle gives one of 1.5 short cycles.
    std::optional<bool> best;
    double bestMisfit = 0.0;
    for (const bool inverted : {false, true}) {
        const uint8_t high = inverted ? kLevelLow : kLevelHigh;
        CycleReader r(signal, high);
        size_t syncStart = 0;
        if (!find_sync(r, syncStart)) continue;
        const double m = misfit(signal, high, syncStart);
        if (!best || m < bestMisfit) best = inverted, bestMisfit = m;
    }
    return best;
}

FileOutcome tape_decode_signal(const TapeSignal& signal, TapeProgram& out) {
    const std::optional<bool> inverted = tape_signal_inverted(signal);
    if (!inverted)
        return FileOutcome::refused("No recording in the ROM's format was found: no leader and sync bytes "
                                    "decode in this sound.");
    CycleReader r(signal, *inverted ? kLevelLow : kLevelHigh);
    size_t syncStart = 0;
    find_sync(r, syncStart);
    SignalSource src(r, signal.rate, syncStart);
    return parse_stream(src, out);
}

FileOutcome tape_program_from_vz(std::span<const uint8_t> file, TapeProgram& out) {
    if (file.size() < kVzHeaderSize) return FileOutcome::refused("Not a VZ file: shorter than its 24-byte header.");
    if (file.size() > kVzMaxFileSize) return FileOutcome::refused("Not a VZ file: larger than 32768 bytes.");
    TapeProgram p;
    p.type = file[21] == kVzTypeMachineCode ? kVzTypeMachineCode : kVzTypeBasic;
    for (size_t i = 4; i < 4 + kTapeNameMax && file[i] != 0; ++i) p.name += char(file[i]);
    p.start = uint16_t(file[22] | file[23] << 8);
    p.data.assign(file.begin() + kVzHeaderSize, file.end());
    if (size_t(p.start) + p.data.size() > 0xFFFF)
        return FileOutcome::refused("The program runs past 0xFFFF, where a tape's end address cannot point.");
    out = std::move(p);
    return FileOutcome::ok();
}

FileOutcome tape_program_to_vz(const TapeProgram& p, std::vector<uint8_t>& file) {
    if (p.data.size() > kVzMaxFileSize - kVzHeaderSize)
        return FileOutcome::refused("The program is longer than a VZ file can hold (32744 bytes).");
    file.assign(kVzHeaderSize, 0);
    std::memcpy(file.data(), "VZF0", 4);
    std::memcpy(file.data() + 4, p.name.data(), std::min(p.name.size(), kTapeNameMax));
    file[21] = p.type;
    file[22] = uint8_t(p.start);
    file[23] = uint8_t(p.start >> 8);
    file.insert(file.end(), p.data.begin(), p.data.end());
    return FileOutcome::ok();
}
