// The configuration file kolt.cfg: the 1076-byte image of the Settings record,
// little-endian, no header, no version. Read once at start-up from the folder
// the program started in (written with the defaults when missing) and written
// only by "Save Config", which keeps the bytes of a longer file past 1076.
// A short or foreign file loads as far as it goes, without validation.
#pragma once

#include <string>

struct Settings;

inline constexpr const char* kConfigFileName = "kolt.cfg";

// Loads dir/kolt.cfg into the settings; creates it with the defaults when it
// cannot be opened. Returns false when the defaults are kept because the file
// could be neither opened nor created.
bool config_load(Settings& s, const std::string& dir);

// Writes the record over the start of dir/kolt.cfg, creating it when missing.
bool config_save(const Settings& s, const std::string& dir);

// Reads a settings image from any file, for the command-line runner: the record
// is cleared, then filled from the file as far as it goes. False when the file
// cannot be read (the settings then stay as they were).
bool config_read_file(Settings& s, const std::string& path);
