#include "frontend/disk_sounds.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;

// A small deterministic noise source, so the sounds never differ between runs.
class Noise {
public:
    double next() {
        state_ = state_ * 1664525u + 1013904223u;
        return double(state_ >> 8) / double(1u << 24) * 2.0 - 1.0;
    }

private:
    uint32_t state_ = 0x2545F491u;
};

int16_t clamp16(double v) { return int16_t(std::clamp(v, -32767.0, 32767.0)); }

} // namespace

std::vector<int16_t> make_disk_access_sound() {
    std::vector<int16_t> out(kDiskAccessSamples);
    Noise noise;
    double hiss = 0;
    for (int i = 0; i < kDiskAccessSamples; ++i) {
        const double t = i / kRate;
        const double fadeIn = std::min(1.0, t / 0.08);
        const double fadeOut = std::min(1.0, (kDiskAccessSamples - i) / (0.25 * kRate));
        // Spindle motor: a 5 Hz rotation rumble over a low hum and its harmonics.
        const double hum = 0.55 * std::sin(2 * kPi * 72 * t) + 0.25 * std::sin(2 * kPi * 144 * t) +
                           0.12 * std::sin(2 * kPi * 216 * t);
        const double rotation = 0.75 + 0.25 * std::sin(2 * kPi * 5 * t);
        // Media against the head: filtered noise.
        hiss = 0.92 * hiss + 0.08 * noise.next();
        // The head seeking: short ticks every 12 ms during the first half second.
        double tick = 0;
        if (t < 0.55) {
            const double phase = std::fmod(t, 0.012);
            if (phase < 0.002) tick = std::exp(-phase * 2500) * std::sin(2 * kPi * 1800 * phase);
        }
        out[size_t(i)] = clamp16((2600 * hum * rotation + 5200 * hiss + 6000 * tick) * fadeIn * fadeOut);
    }
    return out;
}

std::vector<int16_t> make_disk_step_sound() {
    std::vector<int16_t> out(kDiskStepSamples);
    Noise noise;
    for (int i = 0; i < kDiskStepSamples; ++i) {
        const double t = i / kRate;
        // A sharp knock that rings briefly: the stepper's armature hitting its stop.
        const double envelope = std::exp(-t * 90);
        const double ring = 0.6 * std::sin(2 * kPi * 950 * t) + 0.4 * std::sin(2 * kPi * 2300 * t);
        const double knock = t < 0.003 ? noise.next() * (1 - t / 0.003) : 0;
        out[size_t(i)] = clamp16(14000 * envelope * ring + 9000 * knock);
    }
    return out;
}
