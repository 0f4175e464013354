// Where the system ROM and the cartridge image are found.
//
// The settings name them by path, "vzrom.v20" and "vzdos.rom" unless the user
// chose others. A relative path is looked for in the folder the program
// started in first, then in each of the search folders in turn: the user's
// data folder (roms/ under it) and the system's shared folder, where a package
// or an administrator puts the images for everyone. So an installed program
// finds its ROMs from whatever folder it is started in. An absolute path is
// used as it stands.
#pragma once

#include <string>
#include <vector>

// The user's data folder of the desktop program: $XDG_DATA_HOME/KOLT/KOLT, or
// ~/.local/share/KOLT/KOLT; empty where neither variable is set.
std::string user_data_folder();

// The folders after the start folder: `dataFolder`/roms (when not empty),
// then the system's ROM folders.
std::vector<std::string> rom_search_folders(const std::string& dataFolder);

// The path to open for `path`: itself when it is absolute or can be read from
// the start folder, else the first search folder that holds it, else itself.
std::string rom_locate(const std::string& path, const std::vector<std::string>& folders);
