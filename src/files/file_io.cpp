#include "files/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

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

FileOutcome write_file_atomic(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return FileOutcome::refused(reason("Cannot create", path));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    // mkstemp makes the file private; give it the permissions a new file gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const bool written = done == bytes.size() && ::fchmod(fd, 0666 & ~mask) == 0 && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        errno = written ? errno : writeErrno;
        const FileOutcome failed = FileOutcome::refused(reason("Cannot write", path));
        ::unlink(temp.c_str());
        return failed;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const FileOutcome failed = FileOutcome::refused(reason("Cannot write", path));
        ::unlink(temp.c_str());
        return failed;
    }
    return FileOutcome::ok();
}

bool file_readable(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}
