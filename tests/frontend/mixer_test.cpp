// The mixer behind the audio device, without a device: what a listener hears
// when the SN76489 plays over the speaker, when frames stop and start, and
// with the Speaker option off.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "frontend/mixer.h"
#include "machine/frame.h"
#include "machine/machine.h"
#include "machine/machine_io.h"

namespace {

class MixerTest : public testing::Test {
protected:
    void SetUp() override {
        m->settings.romFile[0] = 0;
        m->settings.extendedSound = 1;
        machine_reset(*m);
        static const uint8_t idle[] = {0xF3, 0x18, 0xFE}; // DI; JR $ : the latch is never touched
        std::copy(std::begin(idle), std::end(idle), m->state.memory.begin() + 0x8000);
        m->z80.pc = 0x8000;
        sound_clear(m->sound);
        mixer.setStreamsFed(true);
    }

    // Runs frames as the window does at the Normal rate; returns what was heard.
    std::vector<int16_t> play(int frames) {
        std::vector<int16_t> heard(size_t(frames) * kSamplesPerFrame);
        for (int f = 0; f < frames; ++f) {
            machine_run_frame(*m, io);
            sound_frame(*m, mixer);
            mixer.mix(&heard[size_t(f) * kSamplesPerFrame], kSamplesPerFrame);
        }
        return heard;
    }

    std::unique_ptr<Machine> m = std::make_unique<Machine>();
    MachineIo io;
    Mixer mixer;
};

TEST_F(MixerTest, AFullVolumeToneOverARestingSpeakerKeepsItsFullSwing) {
    for (const int16_t rest : {int16_t(32767), int16_t(-32768)}) {
        SCOPED_TRACE(rest);
        m->state.speakerLevel = rest;
        sn76489_write(m->sound.chip, 0x8F); // channel 0, period 0x3F: about 1 kHz
        sn76489_write(m->sound.chip, 0x03);
        sn76489_write(m->sound.chip, 0x90); // full volume
        const std::vector<int16_t> heard = play(40);
        const auto [low, high] = std::minmax_element(heard.end() - 10 * kSamplesPerFrame, heard.end());
        // A full-volume channel swings 15360 either way; nothing reaches the rails.
        EXPECT_GT(*high, 15000);
        EXPECT_LT(*high, 16000);
        EXPECT_LT(*low, -15000);
        EXPECT_GT(*low, -16000);
    }
}

// A held note is one smooth sine from its first sample to its last: each
// frame's refill lands just behind the device's play position and carries on
// where the previous one stopped, so nothing is skipped or heard twice.
TEST_F(MixerTest, ASteadyToneHasNoClicks) {
    sn76489_write(m->sound.chip, 0x8F); // channel 0, period 0x3F: 62967 / 64 = 983 Hz
    sn76489_write(m->sound.chip, 0x03);
    sn76489_write(m->sound.chip, 0x90); // full volume: 15360 either way
    const std::vector<int16_t> heard = play(80);
    EXPECT_GT(*std::max_element(heard.begin(), heard.end()), 15000);
    // The sine's steepest step: 15360 x 2 pi x 983 / 44100 = 2151.
    int clicks = 0, largest = 0;
    for (size_t i = 1; i < heard.size(); ++i) {
        const int jump = std::abs(heard[i] - heard[i - 1]);
        largest = std::max(largest, jump);
        if (jump > 2200) ++clicks;
    }
    EXPECT_EQ(clicks, 0) << "the largest jump is " << largest;
}

TEST_F(MixerTest, StoppedFramesAreSilentWithinTenMillisecondsAndResumeCleanly) {
    sn76489_write(m->sound.chip, 0x8F);
    sn76489_write(m->sound.chip, 0x03);
    sn76489_write(m->sound.chip, 0x90);
    play(10);
    mixer.setStreamsFed(false); // frames stop: the device goes on playing
    std::vector<int16_t> after(5 * kSamplesPerFrame);
    mixer.mix(after.data(), int(after.size()));
    EXPECT_TRUE(std::any_of(after.begin(), after.begin() + 100, [](int16_t s) { return s != 0; })) << "a fade, not a cut";
    EXPECT_TRUE(std::all_of(after.begin() + 441, after.end(), [](int16_t s) { return s == 0; }))
        << "the last frames' sound must not loop";

    // Fed again, the first thing heard is the new sound, from silence up.
    sound_resume(m->sound, mixer);
    mixer.setStreamsFed(true);
    sn76489_write(m->sound.chip, 0x9F); // the tone is now silent
    const std::vector<int16_t> heard = play(10);
    EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(MixerTest, TheSpeakerOptionSilencesTheStreamsButNotTheDiskSounds) {
    sn76489_write(m->sound.chip, 0x8F);
    sn76489_write(m->sound.chip, 0x03);
    sn76489_write(m->sound.chip, 0x90);
    mixer.setStreamsEnabled(false);
    EXPECT_FALSE(mixer.streamsAudible());
    const std::vector<int16_t> quiet = play(10);
    EXPECT_TRUE(std::all_of(quiet.begin(), quiet.end(), [](int16_t s) { return s == 0; }));
    mixer.playDiskStepSound();
    std::vector<int16_t> step(kSamplesPerFrame);
    mixer.mix(step.data(), int(step.size()));
    EXPECT_TRUE(std::any_of(step.begin(), step.end(), [](int16_t s) { return s != 0; }));
}

} // namespace
