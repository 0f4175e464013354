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
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sound/sound.h"

class Mixer : public AudioOutput {
public:
    static constexpr int kFadeSamples = 132; // 3 ms

    Mixer();

    int play_cursor(int stream) override;
    void write(int stream, int byteOffset, const int16_t* samples, int count) override;

    void setStreamsEnabled(bool enabled); // the Speaker option
    void setStreamsFed(bool fed);         // frames are running at the Normal rate
    bool streamsEnabled() const { return enabled_; }
    bool streamsAudible() const { return enabled_ && fed_; }

    // Restart from the beginning, once.
    void playDiskAccessSound();
    void playDiskStepSound();

    // The next `count` samples of the device: the streams (faded as they
    // start and stop) and the one-shot sounds, summed and clipped.
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
};
