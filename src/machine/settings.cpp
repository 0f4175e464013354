#include "machine/settings.h"

#include <algorithm>
#include <cstring>

std::string settings_path(const char (&field)[kSettingsPathSize]) {
    return std::string(field, strnlen(field, kSettingsPathSize));
}

// Paths longer than the field are cut to 511 characters so the terminator fits;
// the bytes after it are cleared so a saved record holds no stale name.
void settings_set_path(char (&field)[kSettingsPathSize], const std::string& path) {
    const size_t n = std::min(path.size(), kSettingsPathSize - 1);
    std::memset(field, 0, kSettingsPathSize);
    std::memcpy(field, path.data(), n);
}
