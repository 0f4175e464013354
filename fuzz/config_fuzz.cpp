// A configuration file of any content (every field foreign, path fields
// without a terminator), then a reset and a few frames with the sound
// synthesised: whatever the record says, the machine must run safely. Bytes
// after the 1076-byte record become a program at 0x0000, so the ports and
// the bus meet the foreign settings too.
#include <cstdint>
#include <cstring>
#include <string>

#include "files/config.h"
#include "fuzz_support.h"
#include "input/keyboard.h"
#include "machine/frame.h"
#include "machine/machine_io.h"
#include "sound/sound.h"

namespace {

// An audio device whose cursor moves one frame at a time; writes must stay
// inside its buffer.
class FrameDevice : public AudioOutput {
public:
    int play_cursor(int stream) override { return cursor_[size_t(stream)]; }
    void write(int stream, int byteOffset, const int16_t* samples, int count) override {
        fuzz::require(stream >= 0 && stream < kSoundStreams);
        fuzz::require(byteOffset >= 0 && count >= 0 && byteOffset / 2 + count <= kStreamBufferSamples);
        std::memcpy(&buffer_[size_t(byteOffset / 2)], samples, size_t(count) * 2);
    }
    void advance() {
        for (int& c : cursor_) c = (c + 2 * kSamplesPerFrame) % kStreamBufferBytes;
    }

private:
    int cursor_[kSoundStreams] = {};
    int16_t buffer_[kStreamBufferSamples] = {};
};

// A path naming a device or a pipe could block the run; names without a
// folder are looked up in the working folder and stay as the input has them.
void keep_local(char (&field)[kSettingsPathSize]) {
    if (std::memchr(field, '/', kSettingsPathSize)) field[0] = 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::scratch_file("kolt.cfg");
    const size_t record = size < sizeof(Settings) ? size : sizeof(Settings);
    fuzz::write_file(path, data, record);
    Machine& m = fuzz::fresh_machine();
    fuzz::require(config_read_file(m.settings, path));
    keep_local(m.settings.romFile);
    keep_local(m.settings.cartridgeFile);
    machine_reset(m);

    const size_t program = size - record < 0x4000 ? size - record : 0x4000;
    std::memcpy(m.state.memory.data(), data + record, program);

    MachineIo io;
    FrameDevice device;
    for (int frame = 0; frame < 3; ++frame) {
        poll_input(m, HostKeys{});
        machine_run_frame(m, io);
        sound_frame(m, device);
        device.advance();
    }
    return 0;
}
