// The audio path end to end: SDL's disk driver stands in for the sound card,
// and the speaker clicks of the built-in program (it clicks on every key it
// echoes) must reach the file it writes.
#include <gtest/gtest.h>

#include <SDL2/SDL.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "frontend/audio_device.h"
#include "input/keyboard.h"
#include "machine/emulator.h"
#include "machine/frame.h"
#include "support/temp_dir.h"

TEST(SdlAudio, SpeakerClicksReachTheDevice) {
    TempDir dir;
    const std::string out = dir.file("audio.raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);

    Emulator emu;
    settings_set_path(emu.m().settings.romFile, "/nonexistent/kolt-audio-rom");
    machine_reset(emu.m());
    sound_clear(emu.m().sound);
    {
        SdlAudio audio;
        std::string why;
        ASSERT_TRUE(audio.open(&why)) << why;
        audio.setStreamsFed(true); // as the window does while frames run at the Normal rate
        for (int i = 0; i < 30; ++i) machine_run_frame(emu.m(), emu.io), poll_input(emu.m(), HostKeys{});
        typing_start(emu.m(), "KOLT SOUND");
        auto deadline = std::chrono::steady_clock::now();
        for (int frame = 0; frame < 75; ++frame) {
            machine_run_frame(emu.m(), emu.io);
            poll_input(emu.m(), HostKeys{});
            sound_frame(emu.m(), audio);
            deadline += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(deadline);
        }
    }
    const std::vector<uint8_t> raw = TempDir::read(out);
    ASSERT_GT(raw.size(), 44100u); // more than half a second was played
    int loudHigh = 0, loudLow = 0, changes = 0;
    int16_t previous = 0;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        const int16_t s = int16_t(raw[i] | raw[i + 1] << 8);
        loudHigh += s > 6000; // a full-scale click plays at -12 dBFS (8192) at the default volume
        loudLow += s < -6000;
        changes += (s > 0) != (previous > 0);
        previous = s;
    }
    EXPECT_GT(loudHigh, 100);
    EXPECT_GT(loudLow, 100);
    EXPECT_GT(changes, 20); // clicks, not a constant level
}
