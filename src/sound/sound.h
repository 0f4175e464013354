// Sound: the SN76489 register model and the five sound streams.
//
// Stream 0 is the machine's one-bit sound: the loop hook pushes one sample of
// speakerLevel into its ring every cycles-per-sample T-states. Streams 1-4 are
// the SN76489's three tone channels and its noise channel, synthesised once per
// frame by sound_frame as 882 samples of a sine (or noise) each. The host's
// audio device plays each stream from a looping buffer of 2205 samples;
// stream_to_device refills the part already played, against the play cursor
// the device reports through the AudioOutput interface, and keeps each ring's
// backlog from growing past about two refills. The speaker stream reaches the
// device AC-coupled, through a first-order high-pass at 5 Hz, as a real
// speaker behind its capacitor: a speaker bit resting at either level is
// silence, and its level does not push the SN76489's tones into clipping.
// Everything is 44100 Hz, signed 16-bit, mono. Not emulated: the SN76489's periodic noise and its
// square waves (tones are sines, as the original design chose).
#pragma once

#include <array>
#include <cstdint>

struct Machine;

inline constexpr int kSoundRingSize = 8192;
inline constexpr int kSoundStreams = 5;
inline constexpr int kStreamBufferSamples = 2205;               // 50 ms
inline constexpr int kStreamBufferBytes = kStreamBufferSamples * 2;
inline constexpr int kSamplesPerFrame = 882;
inline constexpr int kSampleRate = 44100;

struct SoundChip {
    std::array<int32_t, 4> frequency{}; // Hz of tone channels 0-2 and the noise channel; 0 = silent
    std::array<int32_t, 4> volume{};    // (15 - attenuation) x 16
    uint8_t noiseMode = 0;
    uint8_t latched = 0;                // last tone-frequency command byte; 0 = none yet
};

struct SoundStream {
    uint32_t readIndex = 0;
    uint32_t writeIndex = 0;
    uint32_t outputCursor = 0; // byte offset in the device buffer written up to
    std::array<int16_t, kSoundRingSize> ring{};
    float phase = 0.0f;
};

// The speaker's high-pass: the last input and output samples.
struct SpeakerCoupling {
    float input = 0.0f;
    float output = 0.0f;
};

struct SoundState {
    SoundChip chip;
    std::array<SoundStream, kSoundStreams> streams{};
    uint32_t noiseSeed = 1; // the machine's own pseudo-random generator for the noise channel
    SpeakerCoupling coupling;
};

// What the host's audio device offers: per stream a looping buffer of
// kStreamBufferBytes with a readable play cursor, written between lock and unlock.
// The cursor should move smoothly with playback (within a few milliseconds),
// not in jumps of a whole mixing period.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Byte offset of the play cursor in the stream's buffer, or -1 when it cannot be read.
    virtual int play_cursor(int stream) = 0;
    // Writes samples into the stream's buffer from a byte offset; the region never wraps.
    virtual void write(int stream, int byteOffset, const int16_t* samples, int count) = 0;
};

void sn76489_reset(SoundChip& chip);
void sn76489_write(SoundChip& chip, uint8_t value);

// The SN76489 channels' 882 samples, then every stream to the device. The noise
// channel is a sine at channel 2's frequency in noise mode 3, else white noise
// from noiseSeed.
void sound_frame(Machine& m, AudioOutput& out);
// Refills the region played since the last call when the ring holds at least as
// many samples as the region has bytes; otherwise the region plays again. The
// output cursor follows the play cursor either way; a cursor that cannot be read
// skips the stream. A ring holding more than two and a half refills first drops
// up to 16 of its oldest samples.
void stream_to_device(Machine& m, AudioOutput& out, int stream);

// Start-up state of the mixer: indices, cursors, rings and phases cleared.
void sound_clear(SoundState& sound);

// When frames run again after a pause (or after the Maximum rate): what the
// rings hold from before is dropped and each stream's refills start at its
// play cursor, so nothing old is heard.
void sound_resume(SoundState& sound, AudioOutput& out);

// The loop hook's sample: one speakerLevel into stream 0's ring.
inline void sound_push_sample(SoundState& sound, int16_t level) {
    SoundStream& s = sound.streams[0];
    s.ring[s.writeIndex] = level;
    s.writeIndex = (s.writeIndex + 1) & (kSoundRingSize - 1);
}
