#include "frontend/audio_device.h"

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
    static_cast<SdlAudio*>(self)->mixer_.mix(reinterpret_cast<int16_t*>(out), bytes / 2);
}

int SdlAudio::play_cursor(int stream) {
    if (!device_) return -1;
    DeviceLock lock(device_);
    return mixer_.play_cursor(stream);
}

void SdlAudio::write(int stream, int byteOffset, const int16_t* samples, int count) {
    if (!device_) return;
    DeviceLock lock(device_);
    mixer_.write(stream, byteOffset, samples, count);
}

void SdlAudio::setStreamsEnabled(bool enabled) {
    DeviceLock lock(device_);
    mixer_.setStreamsEnabled(enabled);
}

void SdlAudio::setStreamsFed(bool fed) {
    DeviceLock lock(device_);
    mixer_.setStreamsFed(fed);
}

bool SdlAudio::streamsAudible() {
    DeviceLock lock(device_);
    return mixer_.streamsAudible();
}

void SdlAudio::playDiskAccessSound() {
    DeviceLock lock(device_);
    mixer_.playDiskAccessSound();
}

void SdlAudio::playDiskStepSound() {
    DeviceLock lock(device_);
    mixer_.playDiskStepSound();
}

void SdlAudio::setVolume(int percent) {
    DeviceLock lock(device_);
    mixer_.setVolume(percent);
}
