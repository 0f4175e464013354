// What the fuzz targets share: a scratch folder for inputs that must be files
// (in memory under /dev/shm when there is one, so the runs do not wear the
// disk), and a machine reset once that every input starts from, so the same
// input always does the same thing.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "machine/machine.h"

namespace fuzz {

// One folder per process, named after it. A run that crashes or is killed
// for a timeout cannot clean up, so each new one removes the folders of
// processes that are gone. Never destroyed, so the clean-up at exit still
// finds it.
inline const std::filesystem::path& scratch_folder() {
    static const std::filesystem::path* folder = [] {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        const std::string prefix = "kolt-fuzz-";
        for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(prefix, 0) != 0) continue;
            const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
            if (pid > 0 && !std::filesystem::exists("/proc/" + std::to_string(pid), ec))
                std::filesystem::remove_all(entry.path(), ec);
        }
        auto* mine = new std::filesystem::path(base / (prefix + std::to_string(::getpid())));
        std::filesystem::create_directories(*mine, ec);
        if (ec) std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratch_folder(), ignored);
        });
        return mine;
    }();
    return *folder;
}

inline std::string scratch_file(const char* name) { return (scratch_folder() / name).string(); }

inline void write_file(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

// A machine after a first reset, without any ROM file: the built-in program
// stands in for the system ROM, so nothing depends on the working folder.
inline const Machine& pristine_machine() {
    static const std::unique_ptr<Machine> m = [] {
        auto fresh = std::make_unique<Machine>();
        fresh->settings.romFile[0] = 0;
        fresh->settings.cartridgeFile[0] = 0;
        machine_reset(*fresh);
        return fresh;
    }();
    return *m;
}

// A machine to reuse from input to input, reset to the pristine one.
inline Machine& fresh_machine() {
    static const std::unique_ptr<Machine> m = std::make_unique<Machine>();
    *m = pristine_machine();
    return *m;
}

// A check the fuzzer reports as a crash.
inline void require(bool condition) {
    if (!condition) __builtin_trap();
}

} // namespace fuzz
