// What lives beside the Machine rather than in it: the open files of the
// printer, the tape and the two disk drives, and the host interface through
// which the core asks the host for disk sounds and drive status texts.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// What the core asks of the host. The defaults do nothing, for tests and the
// headless runner.
class HostInterface {
public:
    virtual ~HostInterface() = default;
    virtual void play_disk_access_sound() {}
    virtual void play_disk_step_sound() {}
    // Status-bar text of drive 0 or 1.
    virtual void show_drive_status(int /*drive*/, const std::string& /*text*/) {}
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct TapeFiles {
    std::string path;            // the file chosen last; empty until one is
    FilePtr file;                // the WAV of the running recording
    uint32_t recordedCount = 0;
    std::vector<uint8_t> levels; // the playing tape, 0x00 or 0xFF per sample
    std::string refusal;         // why the last Play was refused, in detail
};

struct DiskFiles {
    std::array<FilePtr, 2> image;
    std::array<std::string, 2> name; // file name without its folder, for the status text
    std::array<std::string, 2> path; // as mounted, for a state to re-attach
};

struct MachineIo {
    HostInterface* host = default_host();
    FilePtr printerFile;
    std::string printerPath; // of printerFile, for a state to re-attach
    bool printerPending = false; // bytes written since the last flush
    TapeFiles tape;
    DiskFiles disks;

    static HostInterface* default_host() {
        static HostInterface none;
        return &none;
    }
};
