#include "files/wav_audio.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

constexpr long kPlainHeaderSize = 44;
constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr uint32_t kMaxChannels = 64;
// No cassette side is longer than an hour; and the levels, a byte a sample,
// stay within 256 MB (23 minutes at 192 kHz, 1.7 hours at 44.1 kHz).
constexpr uint64_t kMaxSeconds = 3600;
constexpr uint64_t kMaxSamples = uint64_t(1) << 28;
constexpr double kWindowSeconds = 0.002;
constexpr float kHysteresis = 0.15f;       // of the recent swing
constexpr float kHysteresisFloor = 0.002f; // of full scale (-1 to 1)
constexpr double kSwingSeconds = 0.02;     // how long the recent swing is remembered
constexpr float kFullSwing = 0.75f;        // a window that sees this much of it may move the centre
// Below 22050 Hz the levels come at a multiple of the rate that reaches
// 44100, edges placed between the samples where the signal crosses (at
// 22050 and above a sample is a sixth of a short half-cycle or less).
constexpr uint32_t kCoarseBelow = 22050;
constexpr uint32_t kFineRate = 44100;

// The part of the extensible header's sub-format GUID after its first two
// bytes (which hold the plain format tag).
constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

const char* compressed_name(uint16_t tag) {
    switch (tag) {
    case 0x0002: return "Microsoft ADPCM";
    case 0x0006: return "A-law";
    case 0x0007: return "mu-law";
    case 0x0011: return "IMA ADPCM";
    case 0x0031: return "GSM 6.10";
    case 0x0050: return "MPEG";
    case 0x0055: return "MPEG Layer 3";
    case 0x00FF: return "AAC";
    case 0x2000: return "AC-3";
    default: return nullptr;
    }
}

WavRead fail(WavStatus status, std::string message) { return {status, std::move(message)}; }

std::string hex4(uint16_t v) {
    char s[8];
    std::snprintf(s, sizeof s, "%04X", v);
    return s;
}

struct Layout {
    std::array<uint8_t, 40> fmt{}; // the format chunk's fields, zero past its size
    bool haveFormat = false;
    long dataOffset = kPlainHeaderSize;
    uint64_t dataSize = 0; // 0: to the end of the file
};

// Walks the RIFF chunks from offset 12 for "fmt " and "data". Without a
// "fmt " chunk the fields are taken from their usual offsets in the header.
Layout find_chunks(std::FILE* f, const uint8_t* head, size_t headSize) {
    Layout l;
    if (headSize >= kPlainHeaderSize) std::memcpy(l.fmt.data(), head + 20, 16);
    long offset = 12;
    for (int chunks = 0; chunks < 64; ++chunks) {
        uint8_t chunk[8];
        if (std::fseek(f, offset, SEEK_SET) != 0 || std::fread(chunk, 1, 8, f) != 8) break;
        const uint32_t size = le32(chunk + 4);
        if (!l.haveFormat && std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            l.fmt.fill(0);
            const size_t want = std::min<size_t>(size, l.fmt.size());
            if (std::fread(l.fmt.data(), 1, want, f) == want) l.haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            l.dataOffset = offset + 8;
            l.dataSize = size == 0xFFFFFFFFu ? 0 : size;
            return l;
        }
        const long next = offset + 8 + long(size) + long(size & 1);
        if (next <= offset || next > 0x7FFFFFFFL - 16) break;
        offset = next;
    }
    return l;
}

// One sample of `bytes` bytes as -1 to 1.
float sample_value(const uint8_t* p, int bytes, bool isFloat) {
    if (isFloat) {
        double v;
        if (bytes == 4) {
            float x;
            std::memcpy(&x, p, 4);
            v = x;
        } else {
            std::memcpy(&v, p, 8);
        }
        return std::isfinite(v) ? float(std::clamp(v, -8.0, 8.0)) : 0.0f;
    }
    switch (bytes) {
    case 1: return float(int(p[0]) - 128) / 128.0f;
    case 2: return float(int16_t(le16(p))) / 32768.0f;
    case 3: return float(int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8) / 8388608.0f;
    default: return float(double(int32_t(le32(p))) / 2147483648.0);
    }
}

// Each channel's sign in the mix, against the channel that swings most over
// the first seconds: channels in antiphase then add up instead of
// cancelling. Beyond 8 channels (no tape has them) all count as they are.
std::vector<float> channel_signs(std::FILE* f, uint64_t frames, uint32_t channels, size_t sampleBytes, bool isFloat,
                                 uint32_t rate) {
    std::vector<float> signs(channels, 1.0f);
    if (channels < 2 || channels > 8) return signs;
    const size_t frameBytes = sampleBytes * channels;
    uint64_t left = std::min<uint64_t>(frames, uint64_t(rate) * 10);
    std::vector<double> sum(channels, 0.0), products(channels * channels, 0.0);
    std::vector<uint8_t> block(4096 * frameBytes);
    uint64_t looked = 0;
    float x[8];
    while (left > 0) {
        const size_t want = size_t(std::min<uint64_t>(left, 4096));
        const size_t got = std::fread(block.data(), frameBytes, want, f);
        for (size_t i = 0; i < got; ++i) {
            for (uint32_t c = 0; c < channels; ++c)
                x[c] = sample_value(block.data() + i * frameBytes + c * sampleBytes, int(sampleBytes), isFloat);
            for (uint32_t a = 0; a < channels; ++a) {
                sum[a] += x[a];
                for (uint32_t b = a; b < channels; ++b) products[a * channels + b] += double(x[a]) * x[b];
            }
        }
        looked += got;
        if (got < want) break;
        left -= got;
    }
    if (looked == 0) return signs;
    const double n = double(looked);
    auto covariance = [&](uint32_t a, uint32_t b) {
        if (a > b) std::swap(a, b);
        return products[a * channels + b] / n - (sum[a] / n) * (sum[b] / n);
    };
    uint32_t loudest = 0;
    for (uint32_t c = 1; c < channels; ++c)
        if (covariance(c, c) > covariance(loudest, loudest)) loudest = c;
    for (uint32_t c = 0; c < channels; ++c)
        if (covariance(c, loudest) < 0) signs[c] = -1.0f;
    return signs;
}

} // namespace

WavRead wav_read_signal(std::FILE* f, TapeSignal& out) {
    out = {};
    uint8_t head[kPlainHeaderSize];
    const size_t headSize = std::fread(head, 1, sizeof head, f);
    if (headSize < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return fail(WavStatus::notWav,
                    "This file is not a WAV file (it does not begin with RIFF and WAVE), so it cannot be played as a tape.");
    const Layout l = find_chunks(f, head, headSize);
    if (!l.haveFormat && headSize < kPlainHeaderSize)
        return fail(WavStatus::badFormat, "This WAV file has no format chunk, so its samples cannot be read.");

    uint16_t tag = le16(&l.fmt[0]);
    if (tag == kTagExtensible) {
        if (le16(&l.fmt[16]) < 22 || std::memcmp(&l.fmt[26], kGuidTail, sizeof kGuidTail) != 0)
            return fail(WavStatus::notPcm, "This WAV file holds audio of an extensible format that is not PCM, "
                                           "which cannot be played as a tape.");
        tag = le16(&l.fmt[24]);
    }
    if (tag != kTagPcm && tag != kTagFloat) {
        const char* name = compressed_name(tag);
        return fail(WavStatus::notPcm,
                    name ? "This WAV file holds compressed audio (format 0x" + hex4(tag) + ", " + name +
                               "), which cannot be played as a tape."
                         : "This WAV file holds audio in format 0x" + hex4(tag) +
                               ", which is not PCM and cannot be played as a tape.");
    }
    const uint32_t channels = le16(&l.fmt[2]);
    const uint32_t rate = le32(&l.fmt[4]);
    const uint32_t bits = le16(&l.fmt[14]);
    const bool isFloat = tag == kTagFloat;
    const bool bitsOk = isFloat ? (bits == 32 || bits == 64) : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    if (!bitsOk)
        return fail(WavStatus::badFormat, "This WAV file has " + std::to_string(bits) + "-bit " +
                                              (isFloat ? "floating-point " : "") +
                                              "samples; a tape needs 8, 16, 24 or 32-bit integer or 32 or "
                                              "64-bit floating-point samples.");
    if (channels == 0 || channels > kMaxChannels)
        return fail(WavStatus::badFormat, "This WAV file has " + std::to_string(channels) +
                                              " channels; a tape needs 1 to 64.");
    if (rate < kWavMinRate || rate > kWavMaxRate)
        return fail(WavStatus::badFormat, "This WAV file has " + std::to_string(rate) +
                                              " samples a second; a tape plays at 8000 to 192000.");

    if (std::fseek(f, 0, SEEK_END) != 0) return fail(WavStatus::badFormat, "This WAV file cannot be read.");
    const long fileSize = std::ftell(f);
    uint64_t dataBytes = fileSize > l.dataOffset ? uint64_t(fileSize - l.dataOffset) : 0;
    if (l.dataSize != 0 && l.dataSize < dataBytes) dataBytes = l.dataSize;
    const size_t sampleBytes = bits / 8;
    const size_t frameBytes = sampleBytes * channels;
    const uint64_t frames = dataBytes / frameBytes;
    if (frames > std::min(uint64_t(rate) * kMaxSeconds, kMaxSamples))
        return fail(WavStatus::badFormat, "This WAV file is too long for a tape: at most an hour, and at most " +
                                              std::to_string(kMaxSamples / uint64_t(rate)) + " s at " +
                                              std::to_string(rate) + " samples a second.");
    if (std::fseek(f, l.dataOffset, SEEK_SET) != 0) return fail(WavStatus::badFormat, "This WAV file cannot be read.");
    std::vector<float> signs = channel_signs(f, frames, channels, bits / 8, isFloat, rate);
    if (std::fseek(f, l.dataOffset, SEEK_SET) != 0) return fail(WavStatus::badFormat, "This WAV file cannot be read.");
    for (float& sign : signs) sign /= float(channels);

    LevelSlicer slicer(rate, out.levels);
    out.rate = slicer.rate();
    out.levels.reserve(size_t(frames) * (out.rate / rate));
    std::vector<uint8_t> block(std::max<size_t>(65536 / frameBytes, 1) * frameBytes);
    uint64_t left = frames;
    while (left > 0) {
        const size_t want = size_t(std::min<uint64_t>(left, block.size() / frameBytes));
        const size_t got = std::fread(block.data(), frameBytes, want, f);
        for (size_t i = 0; i < got; ++i) {
            const uint8_t* frame = block.data() + i * frameBytes;
            float sum = 0.0f;
            for (uint32_t c = 0; c < channels; ++c)
                sum += signs[c] * sample_value(frame + c * sampleBytes, int(sampleBytes), isFloat);
            slicer.push(sum);
        }
        if (got < want) break;
        left -= got;
    }
    slicer.finish();
    return {};
}

LevelSlicer::LevelSlicer(uint32_t rate, std::vector<uint8_t>& out)
    : out_(out), rate_(rate), half_(std::max<size_t>(1, size_t(std::lround(double(rate) * kWindowSeconds)))),
      factor_(rate < kCoarseBelow ? (kFineRate + rate - 1) / rate : 1), ring_(2 * half_ + 1), maxQ_(2 * half_ + 2),
      minQ_(2 * half_ + 2), decay_(float(std::exp(-1.0 / (double(rate) * kSwingSeconds)))) {}

void LevelSlicer::push(float x) {
    const size_t n = ring_.size();
    const uint64_t index = received_++;
    ring_[index % n] = x;
    const size_t cap = maxQ_.size();
    // A new sample retires every queued one it dominates: those can never again be the extreme.
    while (maxSize_ > 0 && ring_[maxQ_[(maxHead_ + maxSize_ - 1) % cap] % n] <= x) --maxSize_;
    maxQ_[(maxHead_ + maxSize_++) % cap] = index;
    while (minSize_ > 0 && ring_[minQ_[(minHead_ + minSize_ - 1) % cap] % n] >= x) --minSize_;
    minQ_[(minHead_ + minSize_++) % cap] = index;
    if (received_ > half_) emit();
}

void LevelSlicer::finish() {
    while (emitted_ < received_) emit();
}

// Delivers the level of sample emitted_, whose window reaches half_ samples
// on either side (fewer at the ends). The centre moves only with a window
// that sees most of the recent swing: one that holds a pause and part of a
// cycle would put it off to one side and invent an edge in the pause. The
// band is a share of that swing, so it does not shrink through a pause.
void LevelSlicer::emit() {
    const size_t n = ring_.size();
    const size_t cap = maxQ_.size();
    const uint64_t i = emitted_++;
    const uint64_t first = i > half_ ? i - half_ : 0;
    while (maxQ_[maxHead_] < first) maxHead_ = (maxHead_ + 1) % cap, --maxSize_;
    while (minQ_[minHead_] < first) minHead_ = (minHead_ + 1) % cap, --minSize_;
    const float hi = ring_[maxQ_[maxHead_] % n];
    const float lo = ring_[minQ_[minHead_] % n];
    const float halfRange = (hi - lo) * 0.5f;
    swing_ = std::max(halfRange, swing_ * decay_);
    if (halfRange >= kFullSwing * swing_) centre_ = (hi + lo) * 0.5f;
    const float band = std::max(swing_ * kHysteresis, kHysteresisFloor);
    const float x = ring_[i % n];
    bool high = high_;
    if (x > centre_ + band) high = true;
    else if (x < centre_ - band) high = false;
    const uint8_t before = high_ ? kLevelHigh : kLevelLow, after = high ? kLevelHigh : kLevelLow;
    out_.insert(out_.end(), factor_, before);
    if (high == high_) return;
    // The band decides that the level changed; the edge goes where the
    // signal crossed the centre, which may be some samples back (a slow or
    // AC-coupled edge) and between two samples. The band's own crossing
    // would put rising and falling edges at different heights of a sloped
    // edge, and lengthen one half of every cycle at the other's expense.
    // Only a steady slope is followed back: a pause held near the centre
    // stays where it was.
    const uint64_t oldest = std::max(i > half_ ? i - half_ : 0, lastEdge_);
    const float sign = high ? 1.0f : -1.0f, margin = band * 0.5f;
    uint64_t j = i;
    while (j > oldest) {
        const float v = sign * (ring_[(j - 1) % n] - centre_);
        if (v <= margin || v >= sign * (ring_[j % n] - centre_)) break;
        --j;
    }
    double at = double(j); // in samples; the levels of sample k stand for k - 1 < t <= k
    if (j > 0 && j > oldest) {
        const float previous = ring_[(j - 1) % n], next = ring_[j % n];
        if (next != previous)
            at = double(j - 1) + std::clamp(double(centre_ - previous) / double(next - previous), 0.0, 1.0);
    }
    const size_t last = out_.size();
    for (uint64_t k = j; k <= i; ++k)
        for (uint32_t step = 0; step < factor_; ++step)
            if (double(k) - 1.0 + double(step + 1) / factor_ >= at) out_[last - size_t(i - k + 1) * factor_ + step] = after;
    high_ = high;
    lastEdge_ = j;
}

std::vector<uint8_t> wav_header_8bit_mono(uint32_t samples) {
    std::vector<uint8_t> h(kPlainHeaderSize, 0);
    std::memcpy(&h[0], "RIFF", 4);
    put32(&h[4], samples + 36);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put32(&h[16], 16);
    h[20] = 1; // PCM
    h[22] = 1; // mono
    put32(&h[24], kTapeSampleRate);
    put32(&h[28], kTapeSampleRate);
    h[32] = 1; // block align
    h[34] = 8; // bits per sample
    std::memcpy(&h[36], "data", 4);
    put32(&h[40], samples);
    return h;
}
