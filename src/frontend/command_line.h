// The desktop program's command line: kolt [OPTION]... [FILE]
//
// The options name what a user sets per run; FILE is opened by its kind as
// dropping it on the window does (a program is loaded and run, a tape played
// with CRUN typed, a disk mounted in drive 1, a text typed, a state loaded).
// Everything is checked before any window opens: an unknown option, a
// missing value, a file of no known kind or a file that cannot be opened is
// refused with a message, and the program ends with exit code 2.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    std::optional<std::string> rom;
    std::optional<std::string> cartridge;
    bool noCartridge = false;
    std::optional<int> model; // kModelVZ200 or kModelVZ300
    std::optional<std::string> disk2;
    std::optional<int> scale; // 1, 2 or 3
    bool fullScreen = false;
    bool fast = false;
    bool startInDataFolder = false; // the desktop entry's: kolt.cfg lives in the data folder
    std::optional<std::string> file;
    bool help = false;
    bool version = false;
};

struct ParsedCommandLine {
    CommandLine line;
    std::string error; // empty when the line can be used
};

// `args` without the program's name. Files are checked to be readable.
ParsedCommandLine parse_command_line(const std::vector<std::string>& args);

const char* command_line_usage();
