// The host's audio device: SDL2 at 44100 Hz, signed 16-bit, mono, with our own
// small mixer in the audio callback. It holds five looping 2205-sample stream
// buffers, whose play cursors the core's refill rule reads, and two one-shot
// buffers for the disk sounds. Everything the core touches is guarded by the
// device lock, as the callback runs on SDL's thread.
#pragma once

#include <SDL2/SDL.h>

#include <array>
#include <string>
#include <vector>

#include "sound/sound.h"

class SdlAudio : public AudioOutput {
public:
    SdlAudio() = default;
    SdlAudio(const SdlAudio&) = delete;
    SdlAudio& operator=(const SdlAudio&) = delete;
    ~SdlAudio() override;

    // Opens the default device and starts the streams playing silence.
    bool open(std::string* error);
    bool isOpen() const { return device_ != 0; }

    int play_cursor(int stream) override;
    void write(int stream, int byteOffset, const int16_t* samples, int count) override;

    // Speaker Enabled and Disabled, and around the debugger: the five streams
    // only; the disk sounds play on.
    void startStreams();
    void stopStreams();
    bool streamsPlaying() const { return streamsPlaying_; }

    // Restart from the beginning, once.
    void playDiskAccessSound();
    void playDiskStepSound();

private:
    struct Stream {
        std::array<int16_t, kStreamBufferSamples> buffer{};
        int position = 0;
    };
    struct OneShot {
        std::vector<int16_t> samples;
        int position = -1; // -1 when not playing
    };

    static void callback(void* self, Uint8* out, int bytes);
    void mix(int16_t* out, int count);

    SDL_AudioDeviceID device_ = 0;
    bool initialisedSdl_ = false;
    std::array<Stream, kSoundStreams> streams_{};
    bool streamsPlaying_ = true;
    OneShot access_, step_;
};
