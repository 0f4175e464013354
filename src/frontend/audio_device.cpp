#include "frontend/audio_device.h"

#include <algorithm>
#include <cstring>

#include "frontend/disk_sounds.h"

namespace {

class DeviceLock {
public:
    explicit DeviceLock(SDL_AudioDeviceID d) : d_(d) {
        if (d_) SDL_LockAudioDevice(d_);
    }
    ~DeviceLock() {
        if (d_) SDL_UnlockAudioDevice(d_);
    }

private:
    SDL_AudioDeviceID d_;
};

} // namespace

SdlAudio::~SdlAudio() {
    if (device_) SDL_CloseAudioDevice(device_);
    if (initialisedSdl_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool SdlAudio::open(std::string* error) {
    // SDL would otherwise take SIGINT and SIGTERM for an event queue we never read.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        if (error) *error = SDL_GetError();
        return false;
    }
    initialisedSdl_ = true;
    access_.samples = make_disk_access_sound();
    step_.samples = make_disk_step_sound();
    SDL_AudioSpec want{};
    want.freq = kSampleRate;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    // About 6 ms. The play cursor moves in steps of this size, and the refill
    // rule needs the ring to hold twice the samples of each step's region:
    // finer steps keep a late frame's region within the backlog it keeps.
    want.samples = 256;
    want.callback = &SdlAudio::callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
        if (error) *error = SDL_GetError();
        return false;
    }
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void SdlAudio::callback(void* self, Uint8* out, int bytes) {
    static_cast<SdlAudio*>(self)->mix(reinterpret_cast<int16_t*>(out), bytes / 2);
}

// Sums the streams and the one-shot sounds, clipping as a hardware mixer would.
void SdlAudio::mix(int16_t* out, int count) {
    for (int i = 0; i < count; ++i) {
        int sum = 0;
        if (streamsPlaying_) {
            for (Stream& s : streams_) {
                sum += s.buffer[size_t(s.position)];
                if (++s.position == kStreamBufferSamples) s.position = 0;
            }
        }
        for (OneShot* shot : {&access_, &step_}) {
            if (shot->position < 0) continue;
            sum += shot->samples[size_t(shot->position)];
            if (++shot->position == int(shot->samples.size())) shot->position = -1;
        }
        out[i] = int16_t(std::clamp(sum, -32768, 32767));
    }
}

int SdlAudio::play_cursor(int stream) {
    if (!device_ || stream < 0 || stream >= kSoundStreams) return -1;
    DeviceLock lock(device_);
    return streams_[size_t(stream)].position * 2;
}

void SdlAudio::write(int stream, int byteOffset, const int16_t* samples, int count) {
    if (!device_ || stream < 0 || stream >= kSoundStreams || byteOffset < 0) return;
    const int first = byteOffset / 2;
    const int n = std::min(count, kStreamBufferSamples - first);
    if (n <= 0) return;
    DeviceLock lock(device_);
    std::memcpy(&streams_[size_t(stream)].buffer[size_t(first)], samples, size_t(n) * 2);
}

void SdlAudio::startStreams() {
    DeviceLock lock(device_);
    streamsPlaying_ = true;
}

void SdlAudio::stopStreams() {
    DeviceLock lock(device_);
    streamsPlaying_ = false;
}

void SdlAudio::playDiskAccessSound() {
    DeviceLock lock(device_);
    access_.position = 0;
}

void SdlAudio::playDiskStepSound() {
    DeviceLock lock(device_);
    step_.position = 0;
}
