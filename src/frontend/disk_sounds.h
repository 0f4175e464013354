// The two disk-drive sounds, synthesised by our own code: the drive's access
// sound (motor hum, head chatter and media hiss for about 1.9 s, 83,723
// samples) and the head-step click (about 65 ms, 2,875 samples). 44100 Hz,
// signed 16-bit, mono; the same samples on every run.
#pragma once

#include <cstdint>
#include <vector>

inline constexpr int kDiskAccessSamples = 83723;
inline constexpr int kDiskStepSamples = 2875;

std::vector<int16_t> make_disk_access_sound();
std::vector<int16_t> make_disk_step_sound();
