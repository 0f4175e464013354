// The state reader under damaged, cut and rewritten state files. A refused
// file must leave the machine byte for byte as it was and say why; an
// accepted one must run (two frames, under the sanitizers).
//
// Random bytes rarely get past the CRC and zlib, so a custom mutator works on
// the container: it splits a state into its sections, mutates one section's
// uncompressed body (or drops, repeats or re-versions a section), and joins
// them again with a correct CRC. One mutation in eight works on the raw
// bytes instead, for the header and the container itself. The seeds are the
// kept first-version state of the tests.
#include <cstdint>
#include <cstring>
#include <random>

#include "files/state_file.h"
#include "fuzz_support.h"
#include "input/keyboard.h"
#include "machine/emulator.h"
#include "machine/frame.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
    std::minstd_rand random(seed);
    uint32_t model = 0;
    std::vector<StateSection> sections;
    if (random() % 8 == 0 || !state_split({data, size}, model, sections).empty() || sections.empty())
        return LLVMFuzzerMutate(data, size, maxSize);

    StateSection& s = sections[random() % sections.size()];
    switch (random() % 16) {
    case 0: sections.erase(sections.begin() + std::ptrdiff_t(&s - sections.data())); break;
    case 1: sections.push_back(s); break;
    case 2: s.version = uint16_t(random() % 3); break;
    case 3: model ^= 1; break;
    default: {
        const size_t used = s.body.size();
        s.body.resize(used + 64);
        s.body.resize(LLVMFuzzerMutate(s.body.data(), used, s.body.size()));
        break;
    }
    }
    const std::vector<uint8_t> file = state_join(random() % 32 == 0 ? 2 : 1, model, sections);
    if (file.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
    std::memcpy(data, file.data(), file.size());
    return file.size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Emulator* emulator = new Emulator; // lives to the end: no files are ever attached
    static bool changed = true;               // a refusal changes nothing, so the next input starts alike
    const Machine& pristine = fuzz::pristine_machine();
    Machine& m = emulator->m();
    if (changed) std::memcpy(static_cast<void*>(&m), &pristine, sizeof m);
    changed = false;

    // Paths in the input are never opened: the state names files, it does not bring them.
    const FileOutcome r = state_decode(*emulator, {data, size}, false);
    if (!r.done) {
        fuzz::require(!r.message.empty());
        fuzz::require(std::memcmp(&pristine, &m, sizeof m) == 0);
        return 0;
    }
    changed = true;
    for (int frame = 0; frame < 2; ++frame) {
        machine_run_frame(m, emulator->io);
        poll_input(m, HostKeys{});
    }
    return 0;
}
