// Design note. The SN76489 is a register model, not a tone generator: each
// write turns into a frequency in Hz and a volume, and once per frame
// sound_frame draws 882 samples per channel as single-precision sines (or noise)
// straight from those values. The phase is carried across frames and wrapped by
// whole periods only after the frame's 882 steps.
//
// The refill rule copies a region only when the ring holds twice as many samples
// as the region needs (samples are compared with bytes). The machine, however,
// produces about 884 (VZ200) or 887 (VZ300) samples per frame against the
// device's 882, so left alone the backlog grows until the write index laps the
// read index: measured with the device double, old sound was replayed for the
// first time after about 71 s on the VZ200 and 27 s on the VZ300, and again
// each lap. So before each copy a ring holding more than two refills' worth
// plus half a refill of slack drops its oldest surplus, at most 16 samples (0.4
// ms) a frame, too few to hear. The slack lets the play cursor run up to about
// 5 ms ahead in a frame without the ring falling below what the rule needs;
// without it every such jitter replayed a region. Dropping never takes a ring
// below what this frame's refill needs.
#include "sound/sound.h"

#include <algorithm>
#include <cmath>

#include "machine/machine.h"

namespace {

constexpr double kTwoPi = 6.283185;
constexpr int32_t kToneClock = 62967; // Hz for period 0; a period p gives kToneClock / (p + 1)
constexpr int32_t kMaxToneHz = 15000;
constexpr uint32_t kRingMask = kSoundRingSize - 1;
constexpr uint32_t kBufferBytes = kStreamBufferBytes;
constexpr uint32_t kBacklogTarget = 2 * kSamplesPerFrame + kSamplesPerFrame / 2;
constexpr uint32_t kMaxDropPerFrame = 16;
// exp(-2 pi 5 Hz / 44100 Hz): the speaker's high-pass pole.
constexpr float kCouplingPole = 0.999288f;

// A linear congruential generator; its 15 upper bits are 0-32767.
int next_noise(uint32_t& seed) {
    seed = seed * 1103515245u + 12345u;
    return int((seed >> 16) & 0x7FFF);
}

// The speaker samples as they leave the ring: without their resting level.
void couple(SpeakerCoupling& c, const int16_t* in, int16_t* out, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const float x = in[i];
        c.output = kCouplingPole * (c.output + x - c.input);
        c.input = x;
        out[i] = int16_t(std::clamp(std::lround(c.output), -32768L, 32767L));
    }
}

// Copies count ring samples from readIndex on into the device, splitting where
// the ring wraps.
void copy_from_ring(SoundState& sound, AudioOutput& out, int stream, uint32_t byteOffset, uint32_t count) {
    SoundStream& s = sound.streams[size_t(stream)];
    while (count > 0) {
        const uint32_t run = std::min(count, uint32_t(kSoundRingSize) - s.readIndex);
        const int16_t* samples = &s.ring[s.readIndex];
        std::array<int16_t, kStreamBufferSamples> coupled;
        if (stream == 0) {
            couple(sound.coupling, samples, coupled.data(), run); // a run never exceeds the device buffer
            samples = coupled.data();
        }
        out.write(stream, int(byteOffset), samples, int(run));
        s.readIndex = (s.readIndex + run) & kRingMask;
        byteOffset += run * 2;
        count -= run;
    }
}

} // namespace

void sn76489_reset(SoundChip& chip) { chip = SoundChip{}; }

void sn76489_write(SoundChip& chip, uint8_t v) {
    if (v & 0x80) {
        switch (v & 0xF0) {
        case 0x80:
        case 0xA0:
        case 0xC0: chip.latched = v; break; // the low bits wait for the data byte
        case 0xE0: {
            const uint8_t mode = v & 3; // bit 2 (periodic or white) is not modelled
            if (mode != chip.noiseMode) {
                chip.noiseMode = mode;
                chip.frequency[3] = mode == 3 ? chip.frequency[2] : 512 >> mode;
            }
            break;
        }
        default: chip.volume[(v >> 5) & 3] = (15 - (v & 0x0F)) * 16; break; // 0x90, 0xB0, 0xD0, 0xF0
        }
        return;
    }
    if ((chip.latched & 0xC0) == 0) return; // no tone command since the reset
    const int channel = (chip.latched >> 5) & 3;
    const int32_t period = (v & 0x3F) * 16 + (chip.latched & 0x0F);
    int32_t f = kToneClock / (period + 1);
    if (f > kMaxToneHz) f = 0;
    if (f != chip.frequency[channel]) {
        if (channel == 2 && chip.noiseMode == 3) chip.frequency[3] = f;
        chip.frequency[channel] = f;
    }
}

void sound_frame(Machine& m, AudioOutput& out) {
    SoundState& sound = m.sound;
    const SoundChip& chip = sound.chip;
    for (int c = 0; c < 4; ++c) {
        SoundStream& s = sound.streams[c + 1];
        const float amplitude = float(chip.volume[c] / 16 * 1024);
        const float increment = float(kTwoPi * chip.frequency[c] / kSampleRate);
        // Mode 3 is the one noise setting that follows channel 2, and only then
        // is the noise channel a tone. Deciding by comparing the two frequencies
        // instead left the noise silent after a reset (both 0) and turned it into
        // a sine when channel 2 happened to sit on the noise rate.
        const bool noise = c == 3 && chip.noiseMode != 3;
        float phase = s.phase;
        uint32_t w = s.writeIndex;
        if (amplitude == 0.0f) {
            // A silent channel: the same phase and noise steps, without the sines.
            for (int i = 0; i < kSamplesPerFrame; ++i) {
                if (noise) next_noise(sound.noiseSeed);
                s.ring[w] = 0;
                w = (w + 1) & kRingMask;
                phase += increment;
            }
        } else {
            for (int i = 0; i < kSamplesPerFrame; ++i) {
                const float sample =
                    noise ? (float(next_noise(sound.noiseSeed)) / 32768.0f * 2.0f - 1.0f) * amplitude
                          : std::sin(phase) * amplitude;
                s.ring[w] = int16_t(sample); // truncated toward zero
                w = (w + 1) & kRingMask;
                phase += increment;
            }
        }
        s.phase = std::fmod(phase, float(kTwoPi));
        s.writeIndex = w;
    }
    for (int i = 0; i < kSoundStreams; ++i) stream_to_device(m, out, i);
}

void stream_to_device(Machine& m, AudioOutput& out, int stream) {
    SoundStream& s = m.sound.streams[stream];
    const int cursor = out.play_cursor(stream);
    if (cursor < 0 || cursor >= kStreamBufferBytes) return;
    const uint32_t play = uint32_t(cursor) & ~1u; // whole samples only, so writes stay aligned
    // The part played since the last refill; equal cursors mean the whole buffer.
    const uint32_t writable =
        play > s.outputCursor ? play - s.outputCursor : play + kBufferBytes - s.outputCursor;
    uint32_t available = (s.writeIndex - s.readIndex) & kRingMask;

    const uint32_t keep = std::max(kBacklogTarget, writable);
    if (available > keep) {
        const uint32_t drop = std::min(available - keep, kMaxDropPerFrame);
        s.readIndex = (s.readIndex + drop) & kRingMask;
        available -= drop;
    }

    // Too few samples: the region keeps its old contents, which play again.
    if (available >= writable) {
        const uint32_t first = std::min(writable, kBufferBytes - s.outputCursor);
        copy_from_ring(m.sound, out, stream, s.outputCursor, first / 2);
        copy_from_ring(m.sound, out, stream, 0, (writable - first) / 2);
    }
    s.outputCursor = (s.outputCursor + writable) % kBufferBytes;
}

void sound_clear(SoundState& sound) {
    for (SoundStream& s : sound.streams) s = SoundStream{};
    sound.coupling = SpeakerCoupling{};
}

void sound_resume(SoundState& sound, AudioOutput& out) {
    for (int i = 0; i < kSoundStreams; ++i) {
        SoundStream& s = sound.streams[size_t(i)];
        s.readIndex = s.writeIndex;
        const int cursor = out.play_cursor(i);
        if (cursor >= 0 && cursor < kStreamBufferBytes) s.outputCursor = uint32_t(cursor) & ~1u;
    }
}
