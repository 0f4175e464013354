// A tape file of any content: starting playback either refuses it with a
// format code and a message or plays it, and playing runs through its levels
// (clean highs and lows, at most one per byte of the file at 22050 Hz and
// above, at most six below, where 8000 Hz levels come at 48000) to the
// end, leaving the signal low when it ends by itself and at rest after Stop;
// the machine reads the signal as the cassette input bit.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "machine/bus.h"
#include "machine/cassette.h"
#include "machine/machine_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::scratch_file("tape.wav");
    fuzz::write_file(path, data, size);
    Machine& m = fuzz::fresh_machine();
    MachineIo io;
    io.tape.path = path;

    const int result = tape_play(m, io);
    fuzz::require(result == kTapePlaying || result == kTapeBadFormat || result == kTapeNotPcm ||
                  result == kTapeNotWav);
    fuzz::require(m.tape.playing == (result == kTapePlaying));
    fuzz::require((result == kTapePlaying) == tape_play_message(result, io).empty());
    if (result != kTapePlaying) return 0;
    fuzz::require(io.tape.levels.size() <= size * 6);

    // 1000 T-states take at least two samples at the lowest rate.
    const size_t calls = io.tape.levels.size() / 2 + 4;
    for (size_t i = 0; i < calls && m.tape.playing; ++i) {
        tape_advance(m, io, 1000);
        if (m.tape.playing) fuzz::require(m.state.tapeLevel == 0x00 || m.state.tapeLevel == 0xFF);
        // The cassette input bit reads 0 exactly while the level is above 181.
        fuzz::require(((bus_read(m, 0x68FF) & 0x40) == 0) == (m.state.tapeLevel > 181));
    }
    fuzz::require(!m.tape.playing);
    fuzz::require(m.state.tapeLevel == 0x00);
    fuzz::require(io.tape.levels.empty());

    // Once more, stopped by hand half-way.
    fuzz::require(tape_play(m, io) == kTapePlaying);
    for (size_t i = 0; i < calls / 2 && m.tape.playing; ++i) tape_advance(m, io, 1000);
    const bool wasPlaying = m.tape.playing;
    tape_stop(m, io);
    fuzz::require(!m.tape.playing && io.tape.levels.empty());
    fuzz::require(m.state.tapeLevel == (wasPlaying ? 0x80 : 0x00));
    return 0;
}
