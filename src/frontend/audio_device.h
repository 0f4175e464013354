// The host's audio device: SDL2 at 44100 Hz, signed 16-bit, mono, playing
// the Mixer (its five looping stream buffers, whose play cursors the core's
// refill rule reads, and the two disk sounds). Every call is made under the
// device lock, as the mixing runs on SDL's thread. Unopened, it is a silent
// stand-in: cursors cannot be read, so the core writes nothing to it.
#pragma once

#include <SDL2/SDL.h>

#include <string>

#include "frontend/mixer.h"
#include "sound/sound.h"

class SdlAudio : public AudioOutput {
public:
    SdlAudio() = default;
    SdlAudio(const SdlAudio&) = delete;
    SdlAudio& operator=(const SdlAudio&) = delete;
    ~SdlAudio() override;

    // Opens the default device and starts it playing silence; on failure
    // `error` gets SDL's reason.
    bool open(std::string* error);
    bool isOpen() const { return device_ != 0; }

    int play_cursor(int stream) override;
    void write(int stream, int byteOffset, const int16_t* samples, int count) override;

    void setStreamsEnabled(bool enabled);
    void setStreamsFed(bool fed);
    bool streamsAudible();
    void setVolume(int percent);

    void playDiskAccessSound();
    void playDiskStepSound();

private:
    static void callback(void* self, Uint8* out, int bytes);

    SDL_AudioDeviceID device_ = 0;
    bool initialisedSdl_ = false;
    Mixer mixer_;
};
