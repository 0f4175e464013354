// The mixer behind the audio device: five looping 2205-sample stream buffers
// (the machine's speaker and the SN76489's four channels) whose play cursors
// the core's refill rule reads, and two one-shot buffers for the disk sounds.
// It holds no lock and knows nothing of SDL: the device calls mix() from its
// thread and guards every other call with its lock.
//
// The streams are heard only while the Speaker option is on and frames feed
// them at the Normal rate. Whenever either stops, they fade out within 3 ms
// and their buffers are cleared, so a stopped machine is silence rather than
// its last 50 ms played over and over; when they are fed again they fade in
// from that silence. The play cursors move on all the while, as a device's do.
// The disk sounds play whatever the streams do.
//
// The sum goes to the device scaled by the Volume option and through a soft
// limiter: the speaker alone is a full-scale square (measured: a one-bit
// music demo holds 78 % of its samples at the rails), harsh at full level and
// with no room left for the SN76489 and the disk sounds, which a hard clip
// then squared off. At the default volume a full-scale speaker plays at
// -12 dBFS; above half scale the limiter bends the sum smoothly towards full
// scale without reaching it. The machine's own levels are left as they are.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sound/sound.h"

class Mixer : public AudioOutput {
public:
    static constexpr int kFadeSamples = 132; // 3 ms
    static constexpr int kDefaultVolume = 50; // percent
    // The gain at 100 %: one full-scale stream reaches half scale (-6 dBFS).
    static constexpr float kFullVolumeGain = 0.5f;

    Mixer();

    int play_cursor(int stream) override;
    void write(int stream, int byteOffset, const int16_t* samples, int count) override;

    void setStreamsEnabled(bool enabled); // the Speaker option
    void setStreamsFed(bool fed);         // frames are running at the Normal rate
    bool streamsEnabled() const { return enabled_; }
    bool streamsAudible() const { return enabled_ && fed_; }
    void setVolume(int percent); // 0 to 100, clamped
    int volume() const { return volume_; }

    // Restart from the beginning, once.
    void playDiskAccessSound();
    void playDiskStepSound();

    // The next `count` samples of the device: the streams (faded as they
    // start and stop) and the one-shot sounds, summed, scaled and limited.
    void mix(int16_t* out, int count);

private:
    struct Stream {
        std::array<int16_t, kStreamBufferSamples> buffer{};
        int position = 0;
    };
    struct OneShot {
        std::vector<int16_t> samples;
        int position = -1; // -1 when not playing
    };

    std::array<Stream, kSoundStreams> streams_{};
    OneShot access_, step_;
    bool enabled_ = true;
    bool fed_ = false;
    int gain_ = 0; // 0 to kFadeSamples
    bool cleared_ = true;
    int volume_ = kDefaultVolume;
    float gain_scale_ = kFullVolumeGain * kDefaultVolume / 100.0f;
};

// The limiter: the identity up to half scale, then a smooth bend that
// approaches full scale (1.0) and never reaches it.
float mixer_soft_limit(float x);
