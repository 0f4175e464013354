// Opening a file by its kind, the part both front ends share: what each kind
// does to the machine, and the wait until the machine is ready for it (READY
// on the text screen, or kStartUpFrames frames after a reset, for ROMs that
// never show it). The front ends add their dialogs and status lines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "files/file_outcome.h"

struct Machine;
struct MachineIo;

inline constexpr int kStartUpFrames = 250; // 5 s: no ROM we know of takes longer to show READY

// Work held back until the machine is ready, run in the order it was asked for.
class MediaStartUp {
public:
    bool ready() const { return readySeen_ || framesSinceReset_ >= kStartUpFrames; }
    bool waiting() const { return !waiting_.empty(); }
    void whenReady(std::function<void()> start);
    void machineReset();
    // A saved machine was ready when saved, and what waited to start in the
    // machine before the load would replace the state's program.
    void stateLoaded() {
        readySeen_ = true;
        waiting_.clear();
    }
    // After each frame: looks for READY, then runs what waited for it.
    void afterFrame(const Machine& m);

private:
    int framesSinceReset_ = 0;
    bool readySeen_ = false;
    std::vector<std::function<void()>> waiting_;
};

// A .vz file's bytes, refused past the largest image the format holds.
FileOutcome media_read_program(const std::string& path, std::vector<uint8_t>& bytes);
// Loads the image and types RUN for a BASIC program (machine code starts itself).
FileOutcome media_start_program(Machine& m, const std::vector<uint8_t>& bytes);

// A text file as the machine types it, refused when it does not fit the typing buffer.
FileOutcome media_read_text(const std::string& path, std::string& text);

// Plays the tape at `path` (a name without an extension gets ".wav") and types
// CRUN. Refused, with the reason, when it cannot be played.
FileOutcome media_start_tape(Machine& m, MachineIo& io, const std::string& path);
