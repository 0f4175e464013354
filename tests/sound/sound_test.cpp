#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "machine/machine.h"
#include "support/audio_device_double.h"

namespace {

std::unique_ptr<Machine> make_machine() {
    auto m = std::make_unique<Machine>();
    sn76489_reset(m->sound.chip);
    sound_clear(m->sound);
    return m;
}

void write_chip(Machine& m, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) sn76489_write(m.sound.chip, b);
}

// The samples sound_frame put into a stream's ring in its last frames.
std::vector<int16_t> last_samples(const Machine& m, int stream, int count = kSamplesPerFrame) {
    const SoundStream& s = m.sound.streams[stream];
    std::vector<int16_t> v;
    for (int i = count; i > 0; --i) v.push_back(s.ring[(s.writeIndex - i) & (kSoundRingSize - 1)]);
    return v;
}

// The refill rule is the same for every stream; the tests of it use a tone
// stream, whose samples reach the device as they stand (the speaker's pass
// through its high-pass filter).
constexpr int kRule = 1;

void push_sample(Machine& m, int16_t v) {
    SoundStream& s = m.sound.streams[kRule];
    s.ring[s.writeIndex] = v;
    s.writeIndex = (s.writeIndex + 1) & (kSoundRingSize - 1);
}

// Pushes 1, 2, 3 ... as the loop hook would push speaker levels.
void push_counter(Machine& m, int count, int16_t& counter) {
    for (int i = 0; i < count; ++i) push_sample(m, ++counter);
}

// --- SN76489 register model ---------------------------------------------------

struct ChipCase {
    std::vector<uint8_t> bytes;
    std::array<int32_t, 4> frequency;
    std::array<int32_t, 4> volume;
};

TEST(SN76489, WritesGiveFrequenciesAndVolumes) {
    const ChipCase cases[] = {
        {{0x80, 0x10}, {245, 0, 0, 0}, {0, 0, 0, 0}},
        {{0x8F, 0x00}, {3935, 0, 0, 0}, {0, 0, 0, 0}},
        {{0x8F, 0x00, 0x83, 0x00}, {0, 0, 0, 0}, {0, 0, 0, 0}}, // 15741 Hz: above the limit, silenced
        {{0x84, 0x00}, {12593, 0, 0, 0}, {0, 0, 0, 0}},
        {{0x8F, 0x00, 0x01}, {1967, 0, 0, 0}, {0, 0, 0, 0}}, // a second data byte keeps the low bits
        {{0xA5, 0x7F}, {0, 62, 0, 0}, {0, 0, 0, 0}},         // only six data bits count
        {{0xC0, 0x10}, {0, 0, 245, 0}, {0, 0, 0, 0}},
        {{0x10}, {0, 0, 0, 0}, {0, 0, 0, 0}},         // data before any tone command
        {{0x90, 0x10}, {0, 0, 0, 0}, {240, 0, 0, 0}}, // an attenuation does not latch
        {{0x80, 0x90, 0x10}, {245, 0, 0, 0}, {240, 0, 0, 0}},
        {{0x95, 0xB0, 0xDE, 0xF3}, {0, 0, 0, 0}, {160, 240, 16, 192}},
        {{0x90, 0x9F}, {0, 0, 0, 0}, {0, 0, 0, 0}},
    };
    for (const ChipCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        SoundChip chip;
        sn76489_reset(chip);
        for (uint8_t b : c.bytes) sn76489_write(chip, b);
        EXPECT_EQ(chip.frequency, c.frequency);
        EXPECT_EQ(chip.volume, c.volume);
    }
}

TEST(SN76489, NoiseControlSetsTheRateOrFollowsChannelTwo) {
    SoundChip chip;
    sn76489_reset(chip);
    sn76489_write(chip, 0xE4); // mode 0 again: bit 2 does not count, nothing changes
    EXPECT_EQ(chip.noiseMode, 0);
    EXPECT_EQ(chip.frequency[3], 0);

    for (uint8_t b : {0xCE, 0x08}) sn76489_write(chip, b); // channel 2: period 142, 440 Hz
    sn76489_write(chip, 0xE3);
    EXPECT_EQ(chip.frequency[3], 440);
    for (uint8_t b : {0xC0, 0x10}) sn76489_write(chip, b);
    EXPECT_EQ(chip.frequency[3], 245);
    for (uint8_t b : {0xC3, 0x00}) sn76489_write(chip, b); // silencing channel 2 is copied too
    EXPECT_EQ(chip.frequency[3], 0);

    sn76489_write(chip, 0xE0);
    EXPECT_EQ(chip.frequency[3], 512);
    for (uint8_t b : {0xC0, 0x20}) sn76489_write(chip, b);
    EXPECT_EQ(chip.frequency[2], 122);
    EXPECT_EQ(chip.frequency[3], 512);
    sn76489_write(chip, 0xE5);
    EXPECT_EQ(chip.frequency[3], 256);
    sn76489_write(chip, 0xE2);
    EXPECT_EQ(chip.frequency[3], 128);
    EXPECT_EQ(chip.noiseMode, 2);
}

// --- sound_frame --------------------------------------------------------------

TEST(SoundFrame, ToneAmplitudeFollowsAttenuation) {
    for (auto [attenuation, amplitude] : {std::pair{0x90, 15360}, {0x95, 10240}, {0x9F, 0}}) {
        SCOPED_TRACE(attenuation);
        auto m = make_machine();
        AudioDeviceDouble dev;
        write_chip(*m, {0x80, 0x10, uint8_t(attenuation)});
        sound_frame(*m, dev);
        const auto s = last_samples(*m, 1);
        const auto [lo, hi] = std::minmax_element(s.begin(), s.end());
        EXPECT_LE(*hi, amplitude);
        EXPECT_GE(*hi, amplitude - 8);
        EXPECT_GE(*lo, -amplitude);
        EXPECT_LE(*lo, -amplitude + 8);
        for (int stream : {2, 3, 4})
            EXPECT_EQ(last_samples(*m, stream), std::vector<int16_t>(kSamplesPerFrame, 0));
    }
}

TEST(SoundFrame, PhaseRunsOnAcrossFrames) {
    auto m = make_machine();
    AudioDeviceDouble dev;
    write_chip(*m, {0x80, 0x10, 0x90, 0xAF, 0x00, 0xB0}); // 245 Hz and 3935 Hz, full volume
    for (int frame = 0; frame < 3; ++frame) {
        sound_frame(*m, dev);
        for (int stream : {1, 2}) {
            EXPECT_GE(m->sound.streams[stream].phase, 0.0f);
            EXPECT_LT(m->sound.streams[stream].phase, 6.283185f);
        }
    }
    const auto s = last_samples(*m, 1, 3 * kSamplesPerFrame);
    const double step = 6.283185 * 245 / 44100;
    for (int k = 0; k < int(s.size()); ++k)
        ASSERT_NEAR(s[k], std::sin(k * step) * 15360, 40) << "sample " << k;
}

TEST(SoundFrame, NoiseChannel) {
    auto m = make_machine();
    AudioDeviceDouble dev;
    write_chip(*m, {0xE4, 0xF0}); // straight after a reset: white noise, full volume
    sound_frame(*m, dev);
    auto noise = last_samples(*m, 4);
    const auto [lo, hi] = std::minmax_element(noise.begin(), noise.end());
    EXPECT_GE(*lo, -15360);
    EXPECT_LT(*lo, -14000);
    EXPECT_LE(*hi, 15360);
    EXPECT_GT(*hi, 14000);
    double mean = 0;
    for (int16_t v : noise) mean += v / double(noise.size());
    EXPECT_NEAR(mean, 0, 1500);

    // Channel 2 on 128 Hz, the rate of noise mode 2: still noise, not a sine.
    write_chip(*m, {0xCA, 0x1E, 0xE2}); // period 490
    ASSERT_EQ(m->sound.chip.frequency[2], m->sound.chip.frequency[3]);
    sound_frame(*m, dev);
    noise = last_samples(*m, 4);
    int largestStep = 0;
    for (size_t i = 1; i < noise.size(); ++i)
        largestStep = std::max(largestStep, std::abs(noise[i] - noise[i - 1]));
    EXPECT_GT(largestStep, 5000);

    // Mode 3: a sine on channel 2's frequency at the noise channel's own volume.
    auto t = make_machine();
    write_chip(*t, {0xCE, 0x08, 0xD0, 0xE3, 0xF4});
    sound_frame(*t, dev);
    const auto tone = last_samples(*t, 3);
    const auto follower = last_samples(*t, 4);
    for (int k = 0; k < kSamplesPerFrame; ++k) ASSERT_NEAR(follower[k], tone[k] * 11 / 15, 2) << k;
}

TEST(SoundFrame, NoiseIsDeterministicAndOwnedByTheMachine) {
    auto a = make_machine();
    AudioDeviceDouble dev;
    write_chip(*a, {0xE5, 0xF0});
    auto b = std::make_unique<Machine>(*a);
    std::srand(1);
    sound_frame(*a, dev);
    std::srand(2);
    sound_frame(*b, dev);
    EXPECT_EQ(last_samples(*a, 4), last_samples(*b, 4));
    EXPECT_NE(a->sound.noiseSeed, 1u);

    sound_frame(*a, dev);
    EXPECT_NE(last_samples(*a, 4), last_samples(*b, 4)) << "the generator must move on";
}

// --- stream_to_device: the refill rule ------------------------------------------

TEST(StreamToDevice, EqualCursorsRefillTheWholeBuffer) {
    for (int pushed : {kStreamBufferBytes - 1, kStreamBufferBytes}) {
        SCOPED_TRACE(pushed);
        auto m = make_machine();
        AudioDeviceDouble dev;
        int16_t counter = 0;
        push_counter(*m, pushed, counter);
        stream_to_device(*m, dev, kRule);
        const SoundStream& s = m->sound.streams[kRule];
        EXPECT_EQ(s.outputCursor, 0u);
        if (pushed < kStreamBufferBytes) {
            EXPECT_TRUE(dev.streams[kRule].writes.empty());
            EXPECT_EQ(s.readIndex, 0u);
            continue;
        }
        EXPECT_EQ(s.readIndex, uint32_t(kStreamBufferSamples));
        for (int i = 0; i < kStreamBufferSamples; ++i) ASSERT_EQ(dev.streams[kRule].buffer[i], i + 1);
    }
}

TEST(StreamToDevice, TooFewSamplesOrNoCursorKeepOldContents) {
    auto m = make_machine();
    AudioDeviceDouble dev;
    auto& out = dev.streams[kRule];
    out.buffer.fill(7);
    out.cursor = 1764;
    int16_t counter = 0;
    push_counter(*m, 1763, counter); // twice what the region needs, less one: not enough
    out.cursorReadable = false;      // skipped altogether
    stream_to_device(*m, dev, kRule);
    EXPECT_EQ(m->sound.streams[kRule].outputCursor, 0u);
    out.cursorReadable = true; // the cursor moves on, the old contents stay
    stream_to_device(*m, dev, kRule);
    EXPECT_TRUE(out.writes.empty());
    EXPECT_EQ(m->sound.streams[kRule].outputCursor, 1764u);
    EXPECT_EQ(m->sound.streams[kRule].readIndex, 0u);

    push_counter(*m, 1, counter);
    out.cursor = 3528;
    stream_to_device(*m, dev, kRule);
    EXPECT_EQ(m->sound.streams[kRule].outputCursor, 3528u);
    EXPECT_EQ(m->sound.streams[kRule].readIndex, 882u);
    for (int i = 0; i < kStreamBufferSamples; ++i)
        ASSERT_EQ(out.buffer[i], i >= 882 && i < 1764 ? i - 881 : 7) << i;
}

TEST(StreamToDevice, RegionAcrossTheBufferEndIsWrittenInTwoParts) {
    auto m = make_machine();
    AudioDeviceDouble dev;
    SoundStream& s = m->sound.streams[kRule];
    s.readIndex = s.writeIndex = 8000; // the ring wraps inside the first part as well
    s.outputCursor = 3528;
    dev.streams[kRule].cursor = 1764;
    int16_t counter = 0;
    push_counter(*m, 2646, counter);
    stream_to_device(*m, dev, kRule);
    const auto& buffer = dev.streams[kRule].buffer;
    for (int i = 0; i < 441; ++i) ASSERT_EQ(buffer[1764 + i], i + 1) << i;
    for (int i = 0; i < 882; ++i) ASSERT_EQ(buffer[i], 442 + i) << i;
    EXPECT_EQ(s.readIndex, (8000u + 1323u) % 8192u);
    EXPECT_EQ(s.outputCursor, 1764u);
}

TEST(StreamToDevice, DropsAtMostSixteenOfTheOldestSurplusSamples) {
    // A refill of 882 samples; the ring keeps 2205 (two refills and a half).
    for (auto [pushed, firstCopied] : {std::pair{3000, 17}, {2210, 6}, {2205, 1}}) {
        SCOPED_TRACE(pushed);
        auto m = make_machine();
        AudioDeviceDouble dev;
        dev.streams[kRule].cursor = 1764;
        int16_t counter = 0;
        push_counter(*m, pushed, counter);
        stream_to_device(*m, dev, kRule);
        EXPECT_EQ(dev.streams[kRule].buffer[0], firstCopied);
        EXPECT_EQ(dev.streams[kRule].buffer[881], firstCopied + 881);
    }
}

// --- the backlog over a long run ------------------------------------------------

struct LongRun {
    int64_t played = 0; // counter samples the device played
    int16_t firstPlayed = 0;
    uint32_t largestBacklog = 0; // ring samples held after a refill, once settled
    int firstReplayFrame = -1;
};

// Runs `frames` host frames: the loop hook's sample accumulator feeds the speaker stream
// (here its stand-in, a tone stream) with a running counter, stream_to_device refills the device, and it plays
// the next slice of the pattern. Every sample played must follow the previous
// one, at most 16 dropped samples apart.
LongRun run_machine_sound(int32_t cyclePeriod, int32_t cyclesPerSample, int frames,
                          std::vector<int> pattern) {
    auto m = make_machine();
    AudioDeviceDouble dev;
    LongRun run;
    int32_t accumulator = 0;
    int16_t counter = 0;
    int16_t last = 0;
    for (int frame = 0; frame < frames && run.firstReplayFrame < 0; ++frame) {
        accumulator += cyclePeriod;
        while (accumulator > cyclesPerSample) {
            push_sample(*m, ++counter);
            accumulator -= cyclesPerSample;
        }
        stream_to_device(*m, dev, kRule);
        const SoundStream& s = m->sound.streams[kRule];
        if (frame >= 10)
            run.largestBacklog = std::max(run.largestBacklog, (s.writeIndex - s.readIndex) & 8191u);
        dev.advance(pattern[frame % pattern.size()]);
        for (int16_t v : dev.streams[kRule].played) {
            if (run.played == 0 && v == 0) continue; // the device's silence before the first refill
            if (run.played == 0) run.firstPlayed = v;
            const uint16_t step = uint16_t(v - last);
            if (run.played > 0 && (step < 1 || step > 17)) {
                run.firstReplayFrame = frame;
                break;
            }
            last = v;
            ++run.played;
        }
    }
    return run;
}

TEST(StreamBacklog, TenMinutesOfMachineSoundNeverReplayOldSamples) {
    struct Model {
        const char* name;
        int32_t cyclePeriod, cyclesPerSample;
    };
    for (const Model& model : {Model{"VZ200", 71589, 81}, Model{"VZ300", 70938, 80}}) {
        SCOPED_TRACE(model.name);
        const int frames = 30000;
        const LongRun run =
            run_machine_sound(model.cyclePeriod, model.cyclesPerSample, frames, {kSamplesPerFrame});
        EXPECT_EQ(run.firstReplayFrame, -1);
        EXPECT_EQ(run.firstPlayed, 1) << "nothing is dropped while the streams settle";
        EXPECT_GT(run.played, int64_t(frames - 4) * kSamplesPerFrame);
        EXPECT_LE(run.largestBacklog, uint32_t(kStreamBufferSamples));
    }
}

TEST(StreamBacklog, PlayCursorJitterDoesNotReplay) {
    // The device plays 4.5 ms more or less than a frame's worth, alternately.
    const LongRun run = run_machine_sound(71589, 81, 3000, {kSamplesPerFrame + 200, kSamplesPerFrame - 200});
    EXPECT_EQ(run.firstReplayFrame, -1);
    EXPECT_LE(run.largestBacklog, uint32_t(kStreamBufferSamples));
}

} // namespace

// --- the speaker's coupling -------------------------------------------------------

// What the device plays of stream 0 while the speaker bit rests, or toggles.
std::vector<int16_t> speaker_output(const std::vector<int16_t>& levels) {
    auto m = make_machine();
    AudioDeviceDouble dev;
    std::vector<int16_t> played;
    for (size_t at = 0; at < levels.size(); at += kSamplesPerFrame) {
        for (size_t i = at; i < at + kSamplesPerFrame && i < levels.size(); ++i)
            sound_push_sample(m->sound, levels[i]);
        stream_to_device(*m, dev, 0);
        dev.advance();
        played.insert(played.end(), dev.streams[0].played.begin(), dev.streams[0].played.end());
    }
    return played;
}

TEST(SpeakerCoupling, ARestingSpeakerIsSilenceAndAToggledOneKeepsItsSwing) {
    for (int16_t rest : {int16_t(32767), int16_t(-32768)}) {
        const std::vector<int16_t> played = speaker_output(std::vector<int16_t>(50 * kSamplesPerFrame, rest));
        // After half a second at either level, nothing is heard.
        for (size_t i = 25 * kSamplesPerFrame; i < played.size(); ++i) ASSERT_LE(std::abs(played[i]), 8) << i;
    }
    // A 1 kHz square wave between the levels stays a full-swing square wave.
    std::vector<int16_t> square(50 * kSamplesPerFrame);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 22) % 2 ? int16_t(-32768) : int16_t(32767);
    const std::vector<int16_t> played = speaker_output(square);
    const auto [low, high] = std::minmax_element(played.end() - kSamplesPerFrame, played.end());
    EXPECT_GT(*high, 30000);
    EXPECT_LT(*low, -30000);
}
