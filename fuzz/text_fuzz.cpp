// A text file of any bytes, typed into the running machine one key at a
// time through the frame loop, as Load TXT does, until the typing ends.
#include <cstdint>
#include <string>

#include "files/media_files.h"
#include "fuzz_support.h"
#include "input/keyboard.h"
#include "machine/frame.h"
#include "machine/machine_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::scratch_file("text.txt");
    fuzz::write_file(path, data, size);
    Machine& m = fuzz::fresh_machine();
    MachineIo io;

    fuzz::require(text_load(m, path).done);
    fuzz::require(m.input.typingActive);
    // A character every second frame, twelve frames after a RETURN; a zero
    // byte ends the text early.
    const size_t frames = 12 * size + 4;
    for (size_t f = 0; f < frames && m.input.typingActive; ++f) {
        poll_input(m, HostKeys{});
        machine_run_frame(m, io);
    }
    fuzz::require(!m.input.typingActive);
    return 0;
}
