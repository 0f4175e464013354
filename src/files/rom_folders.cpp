#include "files/rom_folders.h"

#include <cstdlib>

#include "files/file_io.h"

#ifndef KOLT_SYSTEM_ROM_FOLDER
#define KOLT_SYSTEM_ROM_FOLDER "/usr/share/kolt/roms"
#endif

std::string user_data_folder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/KOLT/KOLT";
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.local/share/KOLT/KOLT";
    return {};
}

std::vector<std::string> rom_search_folders(const std::string& dataFolder) {
    std::vector<std::string> folders;
    if (!dataFolder.empty()) folders.push_back(dataFolder + "/roms");
    // A build installed under another prefix looks in its own shared folder
    // first, and in the distribution's as well.
    const std::string installed = KOLT_SYSTEM_ROM_FOLDER;
    folders.push_back(installed);
    if (installed != "/usr/share/kolt/roms") folders.push_back("/usr/share/kolt/roms");
    return folders;
}

std::string rom_locate(const std::string& path, const std::vector<std::string>& folders) {
    if (path.empty() || path.front() == '/' || file_readable(path)) return path;
    for (const std::string& folder : folders) {
        const std::string candidate = folder + "/" + path;
        if (file_readable(candidate)) return candidate;
    }
    return path;
}
