// A .cas byte stream of any content: parsing finds a program or says where it
// failed within the file; a program it finds is written back as the same
// stream from the sync bytes to the checksum, and, when small, survives the
// trip through the signal we record for it.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "files/tape_format.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    TapeProgram p;
    const FileOutcome r = tape_parse_cas(bytes, p);
    if (!r.done) {
        fuzz::require(r.message.rfind("Decoding failed at byte ", 0) == 0);
        const size_t at = std::stoul(r.message.substr(24));
        fuzz::require(at <= size);
        return 0;
    }
    fuzz::require(p.name.size() <= kTapeNameMax && p.name.find('\0') == std::string::npos);
    // Everything from the first sync byte to the checksum comes back as it was.
    size_t leader = 0;
    while (leader < size && data[leader] == kTapeLeaderByte) ++leader;
    const std::vector<uint8_t> written = tape_bytes(p);
    const size_t stream = written.size() - kTapeLeaderLength;
    fuzz::require(leader + stream <= size);
    fuzz::require(std::equal(written.begin() + kTapeLeaderLength, written.end(), data + leader));

    // Through the signal, with the four leader bytes the decoder needs rather
    // than 255, to keep each run short.
    if (p.data.size() > 64) return 0;
    const std::vector<uint8_t> shortLeader(written.begin() + kTapeLeaderLength - 4, written.end());
    TapeSignal s;
    s.rate = 22050;
    LevelSlicer slicer(s.rate, s.levels);
    for (const uint8_t v : tape_samples(shortLeader)) slicer.push(float(int(v) - 128) / 128.0f);
    slicer.finish();
    TapeProgram back;
    fuzz::require(tape_decode_signal(s, back).done);
    fuzz::require(back.type == p.type && back.name == p.name && back.start == p.start && back.data == p.data);
    return 0;
}
