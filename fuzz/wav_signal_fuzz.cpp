// A WAV file of any content read as a tape: it is refused with a status and a
// message, or read into one clean level per sample frame at a rate we take;
// decoding the ROM's format from those levels either finds a program or says
// why, and a program it finds decodes again from the signal we would write
// for it.
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/tape_format.h"
#include "files/wav_audio.h"
#include "fuzz_support.h"
#include "machine/machine_io.h"

namespace {

TapeSignal slice(const std::vector<uint8_t>& samples) {
    TapeSignal s;
    s.rate = 22050;
    LevelSlicer slicer(s.rate, s.levels);
    for (const uint8_t v : samples) slicer.push(float(int(v) - 128) / 128.0f);
    slicer.finish();
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::scratch_file("signal.wav");
    fuzz::write_file(path, data, size);
    FilePtr f(std::fopen(path.c_str(), "rb"));
    fuzz::require(f != nullptr);
    TapeSignal signal;
    const WavRead r = wav_read_signal(f.get(), signal);
    if (r.status != WavStatus::ok) {
        fuzz::require(!r.message.empty());
        fuzz::require(r.status == WavStatus::notWav || r.status == WavStatus::notPcm ||
                      r.status == WavStatus::badFormat);
        return 0;
    }
    fuzz::require(signal.rate >= kWavMinRate && signal.rate <= kWavMaxRate);
    // A frame is at least one byte, and gives at most six levels (at 8000 Hz).
    fuzz::require(signal.levels.size() <= 6 * size);
    for (const uint8_t level : signal.levels) fuzz::require(level == kLevelHigh || level == kLevelLow);

    TapeProgram p;
    const FileOutcome decoded = tape_decode_signal(signal, p);
    if (decoded.done) fuzz::require(tape_signal_inverted(signal).has_value());
    if (!decoded.done) {
        fuzz::require(decoded.message.rfind("Decoding failed at ", 0) == 0 ||
                      decoded.message.rfind("No recording", 0) == 0);
        return 0;
    }
    fuzz::require(p.name.size() <= kTapeNameMax);
    fuzz::require(size_t(p.start) + p.data.size() <= 0xFFFF);
    TapeProgram again;
    fuzz::require(tape_decode_signal(slice(tape_samples(tape_bytes(p))), again).done);
    fuzz::require(again.type == p.type && again.name == p.name && again.start == p.start && again.data == p.data);
    return 0;
}
