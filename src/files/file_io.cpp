#include "files/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "machine/machine_io.h"

namespace {

std::string reason(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

} // namespace

FileOutcome read_file_limited(const std::string& path, size_t limit, std::vector<uint8_t>& out) {
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) return FileOutcome::refused(reason("Cannot open", path));
    out.clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) {
        if (out.size() + n > limit)
            return FileOutcome::refused(path + " is too large (more than " + std::to_string(limit) + " bytes).");
        out.insert(out.end(), buffer, buffer + n);
    }
    if (std::ferror(f.get())) return FileOutcome::refused(reason("Cannot read", path));
    return FileOutcome::ok();
}

FileOutcome read_file_prefix(const std::string& path, size_t limit, std::vector<uint8_t>& out, bool& more) {
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) return FileOutcome::refused(reason("Cannot open", path));
    out.assign(limit, 0);
    out.resize(std::fread(out.data(), 1, limit, f.get()));
    if (std::ferror(f.get())) return FileOutcome::refused(reason("Cannot read", path));
    more = std::fgetc(f.get()) != EOF;
    return FileOutcome::ok();
}

FileOutcome write_file(const std::string& path, const uint8_t* bytes, size_t size) {
    FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f) return FileOutcome::refused(reason("Cannot create", path));
    if (std::fwrite(bytes, 1, size, f.get()) != size) return FileOutcome::refused(reason("Cannot write", path));
    if (std::fclose(f.release()) != 0) return FileOutcome::refused(reason("Cannot write", path));
    return FileOutcome::ok();
}

FileOutcome write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    return write_file(path, bytes.data(), bytes.size());
}
