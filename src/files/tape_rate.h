// The rate of the tapes we write, the recorder's and the converter's: the
// BASIC ROM's cycles are whole numbers of its samples.
#pragma once

inline constexpr int kTapeSampleRate = 22050;
