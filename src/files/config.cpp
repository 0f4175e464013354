#include "files/config.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "machine/settings.h"

static_assert(std::endian::native == std::endian::little, "kolt.cfg is the little-endian image of the record");

namespace {

std::string join(const std::string& dir, const char* name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

void fill_from(Settings& s, std::FILE* f) {
    std::memset(static_cast<void*>(&s), 0, sizeof s);
    std::fread(&s, 1, sizeof s, f);
}

} // namespace

// Only reading is needed here: a file the user made read-only is still read,
// and only a file that does not exist is created.
bool config_load(Settings& s, const std::string& dir) {
    const std::string path = join(dir, kConfigFileName);
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        fill_from(s, f);
        std::fclose(f);
        return true;
    }
    s = Settings{};
    if (errno != ENOENT) return false;
    std::FILE* created = std::fopen(path.c_str(), "wb");
    if (!created) return false;
    const bool written = std::fwrite(&s, 1, sizeof s, created) == sizeof s;
    return std::fclose(created) == 0 && written;
}

bool config_save(const Settings& s, const std::string& dir) {
    const std::string path = join(dir, kConfigFileName);
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f) f = std::fopen(path.c_str(), "w+b");
    if (!f) return false;
    const bool written = std::fwrite(&s, 1, sizeof s, f) == sizeof s;
    return std::fclose(f) == 0 && written;
}

bool config_read_file(Settings& s, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    fill_from(s, f);
    std::fclose(f);
    return true;
}
