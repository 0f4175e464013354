#include "frontend/command_line.h"

#include "files/file_io.h"
#include "files/media_files.h"
#include "machine/settings.h"

ParsedCommandLine parse_command_line(const std::vector<std::string>& args) {
    ParsedCommandLine parsed;
    CommandLine& line = parsed.line;
    auto fail = [&](std::string why) {
        parsed.error = std::move(why);
        return parsed;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue = arg == "--rom" || arg == "--cartridge" || arg == "--disk2" || arg == "--model" ||
                                arg == "--scale";
        if (takesValue && i + 1 >= args.size()) return fail(arg + " needs a value");
        const std::string value = takesValue ? args[++i] : std::string();
        if (arg == "--help" || arg == "-h") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (arg == "--rom" || arg == "--cartridge" || arg == "--disk2") {
            if (!file_readable(value)) return fail("Cannot open " + value + " (given with " + arg + ")");
            (arg == "--rom" ? line.rom : arg == "--cartridge" ? line.cartridge : line.disk2) = value;
        } else if (arg == "--no-cartridge") {
            line.noCartridge = true;
        } else if (arg == "--model") {
            if (value == "vz200") line.model = kModelVZ200;
            else if (value == "vz300") line.model = kModelVZ300;
            else return fail("--model takes vz200 or vz300, not " + value);
        } else if (arg == "--scale") {
            if (value != "1" && value != "2" && value != "3") return fail("--scale takes 1, 2 or 3, not " + value);
            line.scale = value[0] - '0';
        } else if (arg == "--full-screen") {
            line.fullScreen = true;
        } else if (arg == "--fast") {
            line.fast = true;
        } else if (arg == "--start-in-data-folder") {
            line.startInDataFolder = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("Unknown option " + arg);
        } else if (line.file) {
            return fail("Only one file can be opened at start-up: " + *line.file + " and " + arg);
        } else {
            if (media_kind_for(arg) == MediaKind::Unknown)
                return fail("Cannot open " + arg + ": KOLT opens .vz, .wav, .cas, .dsk, .txt, .bas and .kstate files");
            if (!file_readable(arg)) return fail("Cannot open " + arg);
            line.file = arg;
        }
    }
    if (line.cartridge && line.noCartridge) return fail("--cartridge and --no-cartridge contradict each other");
    return parsed;
}

const char* command_line_usage() {
    return "Usage: kolt [OPTION]... [FILE]\n"
           "The VZ200/VZ300 emulator. FILE is opened by its kind: a .vz program is loaded and run,\n"
           "a .wav or .cas tape is played with CRUN typed, a .dsk disk is mounted in drive 1,\n"
           "a .txt file is typed in, a .bas listing is stored into memory and run, a .kstate state\n"
           "is loaded.\n"
           "  --rom FILE           the system ROM image for this run\n"
           "  --cartridge FILE     the cartridge image for this run (enables the cartridge)\n"
           "  --no-cartridge       no cartridge for this run\n"
           "  --model vz200|vz300  the model for this run\n"
           "  --disk2 FILE         mount a disk image in drive 2\n"
           "  --scale 1|2|3        the window's size: 320 x 240 times 1, 2 or 3\n"
           "  --full-screen        start in full screen (F11 leaves it)\n"
           "  --fast               run at the Maximum frame rate\n"
           "  --start-in-data-folder\n"
           "                       keep kolt.cfg in the data folder (~/.local/share/KOLT/KOLT)\n"
           "                       instead of the current folder, as the desktop menu entry does\n"
           "  --help               show this and end\n"
           "  --version            show the version and end\n"
           "Keys: F2 Reset, F3 Paste, F5 Pause, F6 Normal/Maximum rate, F7 rewind (held),\n"
           "F9 quick save, F10 quick load (Shift+F9/F10 choose the slot), F11 full screen,\n"
           "F12 screenshot.\n"
           "ROMs: vzrom.v20 and vzdos.rom are looked for in the current folder, then in\n"
           "~/.local/share/KOLT/KOLT/roms, then in /usr/share/kolt/roms.\n";
}
