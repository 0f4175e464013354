// Whole-file reads and writes with the size limits the formats set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file_outcome.h"

// Whether the file can be opened for reading.
bool file_readable(const std::string& path);

// Reads a whole file of at most `limit` bytes; a larger one is refused unread.
FileOutcome read_file_limited(const std::string& path, size_t limit, std::vector<uint8_t>& out);

// Reads at most `limit` bytes from the start of a file; `more` tells whether
// the file goes on past them.
FileOutcome read_file_prefix(const std::string& path, size_t limit, std::vector<uint8_t>& out, bool& more);

// Creates or truncates the file and writes the bytes; a failure is reported.
FileOutcome write_file(const std::string& path, const std::vector<uint8_t>& bytes);
FileOutcome write_file(const std::string& path, const uint8_t* bytes, size_t size);

// Writes the bytes to a temporary file beside `path` and renames it over
// `path` only when every byte is on disk: a failure leaves `path` as it was
// and no temporary file behind.
FileOutcome write_file_atomic(const std::string& path, const std::vector<uint8_t>& bytes);
