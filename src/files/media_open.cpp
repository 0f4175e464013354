#include "files/media_open.h"

#include <utility>

#include "files/file_io.h"
#include "files/media_files.h"
#include "files/vz_file.h"
#include "input/keyboard.h"
#include "machine/cassette.h"
#include "machine/machine_io.h"
#include "video/picture.h"

void MediaStartUp::whenReady(std::function<void()> start) {
    if (ready() && waiting_.empty()) start();
    else waiting_.push_back(std::move(start));
}

void MediaStartUp::machineReset() {
    framesSinceReset_ = 0;
    readySeen_ = false;
}

void MediaStartUp::afterFrame(const Machine& m) {
    if (!ready()) {
        ++framesSinceReset_;
        readySeen_ = screen_text(m).find("READY") != std::string::npos;
    }
    if (ready() && !waiting_.empty()) {
        auto starts = std::exchange(waiting_, {});
        for (auto& start : starts) start();
    }
}

FileOutcome media_read_program(const std::string& path, std::vector<uint8_t>& bytes) {
    return read_file_limited(path, kVzMaxFileSize, bytes);
}

FileOutcome media_start_program(Machine& m, const std::vector<uint8_t>& bytes) {
    FileOutcome outcome = vz_load_bytes(m, bytes);
    if (outcome.done && bytes.size() > 21 && bytes[21] != kVzTypeMachineCode) typing_start(m, "RUN\r");
    return outcome;
}

FileOutcome media_read_text(const std::string& path, std::string& text) {
    std::vector<uint8_t> bytes;
    FileOutcome outcome = read_file_limited(path, kTypingBufferSize - 1, bytes);
    if (!outcome.done) return outcome;
    text = text_with_returns(std::string(bytes.begin(), bytes.end()));
    if (text.size() >= kTypingBufferSize)
        return FileOutcome::refused("The text does not fit the typing buffer (65535 bytes).");
    return outcome;
}

FileOutcome media_start_tape(Machine& m, MachineIo& io, const std::string& path) {
    if (!path.empty()) io.tape.path = tape_path_for(path);
    const int result = tape_play(m, io);
    if (result != kTapePlaying) return FileOutcome::refused(tape_play_message(result, io));
    typing_start(m, "CRUN\r");
    return FileOutcome::ok();
}
