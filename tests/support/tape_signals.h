// Tape recordings for tests, made here from the formats' rules: WAV files of
// any sample format, and the damage a real cassette does (resampling, a quiet
// level, an offset, inversion, noise).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace tape_test {

using Bytes = std::vector<uint8_t>;

// What our recorder appends for a change of the cassette output.
const Bytes kShortLow = {0x70, 0x54, 0x49, 0x43, 0x43, 0x41, 0x6D};
const Bytes kShortHigh = {0x9D, 0xB1, 0xBC, 0xBD, 0xC1, 0xAC};
const Bytes kLongLow = {0x59, 0x48, 0x3E, 0x3C, 0x3B, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x41, 0x42, 0x76};
const Bytes kLongHigh = {0x8B, 0xAA, 0xB7, 0xBC, 0xBE, 0xBE, 0xBD, 0xBC, 0xBB, 0xBB, 0xB8, 0xBA, 0x8D};

enum class Sample { u8, s16, s24, s32, f32 };

struct WavShape {
    uint32_t rate = 22050;
    uint16_t channels = 1;
    Sample sample = Sample::u8;
    bool extensible = false;
};

inline void put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
inline void put_tag(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

inline int sample_bits(Sample s) {
    switch (s) {
    case Sample::u8: return 8;
    case Sample::s16: return 16;
    case Sample::s24: return 24;
    default: return 32;
    }
}

// One value (-1 to 1) in the sample format, little-endian.
inline void put_sample(Bytes& b, Sample s, double x) {
    x = std::fmax(-1.0, std::fmin(x, 1.0));
    switch (s) {
    case Sample::u8: b.push_back(uint8_t(std::lround(std::fmin(x * 128.0 + 128.0, 255.0)))); break;
    case Sample::s16: put16(b, uint16_t(int16_t(std::lround(std::fmin(x * 32768.0, 32767.0))))); break;
    case Sample::s24: {
        const int32_t v = int32_t(std::lround(std::fmin(x * 8388608.0, 8388607.0)));
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
        b.push_back(uint8_t(v >> 16));
        break;
    }
    case Sample::s32: put32(b, uint32_t(int32_t(std::llround(std::fmin(x * 2147483648.0, 2147483647.0))))); break;
    case Sample::f32: {
        const float f = float(x);
        uint32_t u;
        std::memcpy(&u, &f, 4);
        put32(b, u);
        break;
    }
    }
}

// A WAV file whose channel c of frame i is frames[i] * gains[c] (gains of 1
// when not given).
inline Bytes wav_file(const WavShape& w, const std::vector<double>& frames, std::vector<double> gains = {}) {
    gains.resize(w.channels, 1.0);
    const int bits = sample_bits(w.sample);
    const uint16_t tag = w.sample == Sample::f32 ? 3 : 1;
    Bytes fmt;
    put16(fmt, w.extensible ? 0xFFFE : tag);
    put16(fmt, w.channels);
    put32(fmt, w.rate);
    put32(fmt, w.rate * w.channels * bits / 8);
    put16(fmt, w.channels * bits / 8);
    put16(fmt, bits);
    if (w.extensible) {
        put16(fmt, 22);
        put16(fmt, bits);                      // valid bits
        put32(fmt, w.channels == 1 ? 4 : 3);   // speaker mask
        put16(fmt, tag);                       // the sub-format GUID: the tag, then a fixed tail
        const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        fmt.insert(fmt.end(), tail, tail + 14);
    }
    Bytes data;
    for (const double x : frames)
        for (uint16_t c = 0; c < w.channels; ++c) put_sample(data, w.sample, x * gains[c]);
    Bytes b;
    put_tag(b, "RIFF");
    put32(b, uint32_t(4 + 8 + fmt.size() + 8 + data.size()));
    put_tag(b, "WAVE");
    put_tag(b, "fmt ");
    put32(b, uint32_t(fmt.size()));
    b.insert(b.end(), fmt.begin(), fmt.end());
    put_tag(b, "data");
    put32(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// 8-bit unsigned samples as values from -1 to 1.
inline std::vector<double> values_of(const Bytes& samples) {
    std::vector<double> v;
    v.reserve(samples.size());
    for (const uint8_t s : samples) v.push_back((double(s) - 128.0) / 128.0);
    return v;
}

// Linear interpolation from one rate to another, as a simple resampler does.
inline std::vector<double> resample(const std::vector<double>& x, uint32_t from, uint32_t to) {
    std::vector<double> y;
    const size_t n = size_t(double(x.size()) * to / from);
    y.reserve(n);
    for (size_t j = 0; j < n; ++j) {
        const double t = double(j) * from / to;
        const size_t i = size_t(t);
        const double f = t - double(i);
        const double a = x[std::min(i, x.size() - 1)];
        const double b = x[std::min(i + 1, x.size() - 1)];
        y.push_back(a + (b - a) * f);
    }
    return y;
}

// Each sample the mean of the signal over its own time (the signal held
// between the samples it is given), as a resampler that averages does: an
// edge between two samples shows as a value between the two levels.
inline std::vector<double> resample_average(const std::vector<double>& x, uint32_t from, uint32_t to) {
    std::vector<double> y;
    const size_t n = size_t(double(x.size()) * to / from);
    y.reserve(n);
    const double step = double(from) / to; // input samples per output sample
    for (size_t j = 0; j < n; ++j) {
        const double a = double(j) * step, b = a + step;
        double sum = 0.0;
        for (size_t i = size_t(a); double(i) < b && i < x.size(); ++i)
            sum += x[i] * (std::fmin(b, double(i + 1)) - std::fmax(a, double(i)));
        y.push_back(sum / step);
    }
    return y;
}

// Scaled, shifted and, when asked, turned upside down.
inline std::vector<double> degrade(std::vector<double> x, double gain, double offset, bool invert) {
    for (double& v : x) v = (invert ? -v : v) * gain + offset;
    return x;
}

// Where the ROM holds its level after a program's name, and at what level.
struct Pause {
    int samples = 66;     // at 22050 Hz; 0 for none
    uint8_t level = 0x80; // the centre, or a level of the waveforms (0xBC high, 0x44 low)
};

// A tape of these bytes (a whole program from its leader on) as our recorder
// writes the ROM's save routine, made here from the format: a lead-in at the
// centre, each bit as a short cycle and then two short ones (1) or a long one
// (0), each cycle high half first; the pause after the 0x00 that ends the
// name, found as the first 0x00 after the sync bytes and the type.
inline Bytes rom_tape(const Bytes& bytes, Pause pause = {}) {
    Bytes s(39, 0x80);
    auto put = [&](const Bytes& w) { s.insert(s.end(), w.begin(), w.end()); };
    size_t at = 0;
    while (at < bytes.size() && bytes[at] != 0xFE) ++at;
    while (at < bytes.size() && bytes[at] == 0xFE) ++at;
    size_t nameEnd = at + 1;
    while (nameEnd < bytes.size() && bytes[nameEnd] != 0) ++nameEnd;
    for (size_t i = 0; i < bytes.size(); ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            put(kShortHigh);
            put(kShortLow);
            if (bytes[i] >> bit & 1) {
                for (int c = 0; c < 2; ++c) put(kShortHigh), put(kShortLow);
            } else {
                put(kLongHigh);
                put(kLongLow);
            }
        }
        if (i == nameEnd) s.insert(s.end(), size_t(pause.samples), pause.level);
    }
    return s;
}

// A first-order high-pass, as a cassette deck's coupling capacitor makes
// it: a held level decays toward 0 with this time constant.
inline std::vector<double> ac_couple(const std::vector<double>& x, uint32_t rate, double seconds) {
    std::vector<double> y(x.size());
    const double a = seconds * rate / (seconds * rate + 1.0);
    double prevX = x.empty() ? 0.0 : x[0], prevY = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        prevY = a * (prevY + x[i] - prevX);
        prevX = x[i];
        y[i] = prevY;
    }
    return y;
}

// Gaussian noise of this RMS, the same for the same seed.
inline std::vector<double> add_noise(std::vector<double> x, double rms, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0.0, rms);
    for (double& v : x) v += n(rng);
    return x;
}

// Uniform noise over the whole 8-bit range, the same for the same seed.
inline void add_noise_burst(Bytes& samples, size_t from, size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    for (size_t i = from; i < from + count && i < samples.size(); ++i) samples[i] = uint8_t(rng() & 0xFF);
}

} // namespace tape_test
