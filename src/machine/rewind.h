// Rewind history: the machine's recent past, so that the front end can run it
// backwards one frame at a time, showing each, and resume from any of them.
//
// The front end calls record() after every frame step (machine_run_frame and
// poll_input) and step_back() while the user rewinds; each step restores the
// machine as it was one record earlier, frame buffer included, so the picture
// can be shown at once. Loading a state or a file between records is seen by
// the next record like any change (rewinding past it undoes it in the
// machine, not in the files); clear() forgets the past instead.
//
// A copy of the whole Machine per frame would cost 4.5 MB and far more time
// than a frame. Instead a shadow copy holds the state of the last record, and
// a record holds only the 256-byte blocks that changed since, XORed with their
// new contents and run-length coded. Only the parts a frame can change are
// compared (about 160 KB: memory, frame buffer, extended video RAM, disk and
// registers); the 4 MB bank store is compared bank by bank only where the
// machine counted a write (bankWrites), and the typing text only while typing.
//
// Memory stays under a limit (64 MB, shadow included) whatever the memory
// option: past it the oldest record is dropped while more than minFrames
// remain; otherwise old records are merged pairwise (equal spans first), so a
// program that repaints the whole screen every frame keeps its 60 seconds at
// a coarser step in the older part. step_back() says how many frames a step
// went back.
//
// Not rewound: the files (disk images, tape, printer output), and the parts
// of the record that machine_parts.h calls the setup and the session (the
// settings, the tape transport, the disks' write protection, breakpoints and
// watchpoints, the display palette, the sound streams): they keep their
// present values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "machine/machine.h"

struct Emulator;

inline constexpr size_t kRewindByteLimit = 64u << 20;
inline constexpr int32_t kRewindMinFrames = 3000; // 60 s of emulated time

class RewindHistory {
  public:
    explicit RewindHistory(size_t byteLimit = kRewindByteLimit, int32_t minFrames = kRewindMinFrames);
    ~RewindHistory();
    RewindHistory(const RewindHistory&) = delete;
    RewindHistory& operator=(const RewindHistory&) = delete;

    // After a frame: notes what changed since the last record, `frames`
    // frames ago (the desktop records every second frame at the Maximum rate,
    // where a record per frame would cost more than a tenth of the frame).
    void record(const Emulator& emu, int32_t frames = 1);
    // Restores the state one record back and returns the frames it spans (1
    // in the recent past, more where old records were merged); 0 when there is
    // nothing left. Recording afterwards continues from the restored state.
    int32_t step_back(Emulator& emu);
    // Forgets everything, returning the memory.
    void clear();

    size_t memory_bytes() const;
    int32_t frames() const { return frames_; } // emulated frames that can be stepped back over

  private:
    struct Record {
        int32_t frames = 1;
        std::vector<uint8_t> delta; // blocks: u32 offset, u16 length, runs of (skip, count, XOR bytes)
    };

    void compare_range(const uint8_t* now, size_t begin, size_t end);
    void enforce_limit();
    static Record merge(const Record& older, const Record& newer);

    size_t byteLimit_;
    int32_t minFrames_;
    std::unique_ptr<Machine> shadow_; // the machine at the last record
    bool haveShadow_ = false;
    std::deque<Record> records_;
    size_t recordBytes_ = 0;
    int32_t frames_ = 0;
    std::vector<uint8_t> scratch_;
};
