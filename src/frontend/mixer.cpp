#include "frontend/mixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frontend/disk_sounds.h"

Mixer::Mixer() {
    access_.samples = make_disk_access_sound();
    step_.samples = make_disk_step_sound();
}

int Mixer::play_cursor(int stream) {
    if (stream < 0 || stream >= kSoundStreams) return -1;
    return streams_[size_t(stream)].position * 2;
}

void Mixer::write(int stream, int byteOffset, const int16_t* samples, int count) {
    if (stream < 0 || stream >= kSoundStreams || byteOffset < 0) return;
    const int first = byteOffset / 2;
    const int n = std::min(count, kStreamBufferSamples - first);
    if (n <= 0) return;
    std::memcpy(&streams_[size_t(stream)].buffer[size_t(first)], samples, size_t(n) * 2);
    cleared_ = false;
}

void Mixer::setStreamsEnabled(bool enabled) { enabled_ = enabled; }

void Mixer::setStreamsFed(bool fed) { fed_ = fed; }

void Mixer::setVolume(int percent) {
    volume_ = std::clamp(percent, 0, 100);
    gain_scale_ = kFullVolumeGain * float(volume_) / 100.0f;
}

float mixer_soft_limit(float x) {
    constexpr float knee = 0.5f;
    const float a = std::fabs(x);
    if (a <= knee) return x;
    const float bent = knee + (1.0f - knee) * std::tanh((a - knee) / (1.0f - knee));
    return std::copysign(bent, x);
}

void Mixer::playDiskAccessSound() { access_.position = 0; }

void Mixer::playDiskStepSound() { step_.position = 0; }

void Mixer::mix(int16_t* out, int count) {
    const bool audible = streamsAudible();
    for (int i = 0; i < count; ++i) {
        int sum = 0;
        if (audible && gain_ < kFadeSamples) ++gain_;
        if (!audible && gain_ > 0) --gain_;
        if (gain_ > 0) {
            int streams = 0;
            for (const Stream& s : streams_) streams += s.buffer[size_t(s.position)];
            sum = streams * gain_ / kFadeSamples;
        }
        for (Stream& s : streams_)
            if (++s.position == kStreamBufferSamples) s.position = 0;
        for (OneShot* shot : {&access_, &step_}) {
            if (shot->position < 0) continue;
            sum += shot->samples[size_t(shot->position)];
            if (++shot->position == int(shot->samples.size())) shot->position = -1;
        }
        const float limited = mixer_soft_limit(float(sum) * gain_scale_ / 32768.0f);
        out[i] = int16_t(std::lrint(std::clamp(limited * 32768.0f, -32767.0f, 32767.0f)));
    }
    // Faded out: what the buffers hold is old, and must not be heard again.
    if (gain_ == 0 && !audible && !cleared_) {
        for (Stream& s : streams_) s.buffer.fill(0);
        cleared_ = true;
    }
}
