// A stand-in for the host's audio device. Each stream has a looping buffer of
// kStreamBufferBytes and a play cursor that moves only when the test calls
// advance() (882 samples, one host frame, unless told otherwise); advance()
// also records what the device played meanwhile, so tests hear what a user
// would. Writes are recorded and checked to stay inside the buffer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "sound/sound.h"

class AudioDeviceDouble : public AudioOutput {
public:
    struct Write {
        int byteOffset;
        int count;
    };
    struct Stream {
        std::array<int16_t, kStreamBufferSamples> buffer{};
        int cursor = 0; // bytes
        bool cursorReadable = true;
        std::vector<Write> writes;   // since the last advance
        std::vector<int16_t> played; // by the last advance
    };
    std::array<Stream, kSoundStreams> streams;

    int play_cursor(int stream) override {
        const Stream& s = streams.at(stream);
        return s.cursorReadable ? s.cursor : -1;
    }

    void write(int stream, int byteOffset, const int16_t* samples, int count) override {
        Stream& s = streams.at(stream);
        const bool inside = byteOffset >= 0 && byteOffset % 2 == 0 && count > 0 &&
                            byteOffset / 2 + count <= kStreamBufferSamples;
        EXPECT_TRUE(inside) << "stream " << stream << " offset " << byteOffset << " count " << count;
        if (!inside) return;
        std::copy(samples, samples + count, s.buffer.begin() + byteOffset / 2);
        s.writes.push_back({byteOffset, count});
    }

    // Plays `samples` samples of every stream from its cursor on, looping.
    void advance(int samples = kSamplesPerFrame) {
        for (Stream& s : streams) {
            s.writes.clear();
            s.played.resize(samples);
            int pos = s.cursor / 2;
            for (int done = 0; done < samples;) {
                const int run = std::min(samples - done, kStreamBufferSamples - pos);
                std::copy_n(s.buffer.begin() + pos, run, s.played.begin() + done);
                done += run;
                pos = (pos + run) % kStreamBufferSamples;
            }
            s.cursor = pos * 2;
        }
    }
};
