#include "app/headless.h"

#include <atomic>
#include <charconv>
#include <csignal>
#include <memory>
#include <cstdio>
#include <ostream>

#include "app/png_image.h"
#include "debugger/debugger.h"
#include "debugger/disassembler.h"
#include "debugger/stepping.h"
#include "debugger/symbols.h"
#include "files/basic_listing.h"
#include "files/config.h"
#include "files/file_io.h"
#include "files/media_files.h"
#include "files/rom_folders.h"
#include "files/tape_files.h"
#include "files/state_file.h"
#include "files/vz_file.h"
#include "input/keyboard.h"
#include "machine/bus.h"
#include "machine/cassette.h"
#include "machine/disk.h"
#include "machine/emulator.h"
#include "machine/frame.h"
#include "video/picture.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// Set by SIGINT or SIGTERM: the script stops between frames, and the
// Emulator's destructor still finalises a recording and flushes the files.
std::atomic<bool> gInterrupted{false};

void on_interrupt(int) { gInterrupted = true; }
constexpr int kFramesAfterTyping = 10; // lets the program in the machine take in the last key

class Script {
public:
    Script(std::ostream& out, std::ostream& err) : out_(out), err_(err) { machine_reset(m(), romFolders_); }

    int run(const std::vector<std::string>& args);

private:
    Machine& m() { return emu_.m(); }

    // Runs one frame as the frame step does at the Maximum rate; false when a
    // breakpoint or watchpoint stopped it.
    bool frame() {
        if (gInterrupted) return false;
        if (machine_run_frame(m(), emu_.io) != 0) {
            out_ << debugger_stop_text(debug_take_stop(m().debug), m().z80.stop_pc) << "\n";
            print_panes();
            return false;
        }
        poll_input(m(), HostKeys{});
        return true;
    }

    // Step Overs as the debugger makes them; false when one stopped on the way
    // or did not reach its end.
    bool step_over() {
        if (gInterrupted) return false;
        const RunOutcome r = debugger_step_over(m(), emu_.io);
        if (r.reached && !r.timedOut && (r.stop.reasons & ~kStopTarget) == 0) return true;
        out_ << r.message << "\n";
        print_panes();
        return false;
    }

    // Words of a --break text that name symbols become breakpoints of their
    // own; the rest is the breakpoint text, as long as the machine's text
    // holds it (not the debugger box's 31 characters); addresses beyond that
    // become breakpoints of their own too. False when they do not all fit.
    bool set_breakpoints(const std::string& typed) {
        breakpoints_clear(m().breakpoints);
        std::string text;
        std::vector<uint16_t> own;
        size_t i = 0;
        while (i < typed.size()) {
            const size_t end = typed.find_first_of(" ,", i);
            const std::string word = typed.substr(i, end == std::string::npos ? std::string::npos : end - i);
            // Four hex digits are an address in the text; shorter ones are not,
            // so a symbol such as "add" is still a symbol here.
            const auto address = word.size() == 4 ? debugger_parse_address(word) : std::nullopt;
            const auto named = address ? std::nullopt : symbol_address(emu_.symbols, word);
            if (named)
                own.push_back(*named);
            else if (address && text.size() + word.size() > size_t(kBreakpointTextSize))
                own.push_back(*address);
            else
                text += word;
            if (end == std::string::npos) break;
            if (text.size() < size_t(kBreakpointTextSize)) text += typed[end];
            i = end + 1;
        }
        breakpoints_set(m().breakpoints, text, kBreakpointTextSize);
        bool fit = true;
        for (const uint16_t a : own) fit = breakpoints_add(m().breakpoints, a) && fit;
        return fit;
    }

    // The debugger's four text panes, with plain line ends.
    void print_panes() {
        for (const std::string& pane :
             {debugger_registers_text(m()), debugger_pointers_text(m()), debugger_hardware_text(m()),
              debugger_disassembly_text(m(), &emu_.symbols)}) {
            std::string text;
            for (const char c : pane)
                if (c != '\r') text += c;
            out_ << text << (text.empty() || text.back() != '\n' ? "\n" : "") << "\n";
        }
    }

    static std::string hex4(uint16_t v) {
        char s[8];
        std::snprintf(s, sizeof s, "%04X", v);
        return s;
    }

    // A listing is stored as the ROM stores typed lines, then the program is
    // in memory as a loaded BASIC .vz is.
    FileOutcome load_listing(const std::string& path) {
        std::string text;
        const FileOutcome read = basic_read_listing_text(path, text);
        return read.done ? basic_store_listing(m(), text) : read;
    }

    static FileOutcome convert_listing(const std::string& from, const std::string& to, TapeProgram& p) {
        const FileOutcome read = basic_listing_file(from) ? basic_read_listing_file(from, p) : tape_read_program(from, p);
        if (!read.done) return read;
        return basic_listing_file(to) ? basic_write_listing_file(to, p) : tape_write_program(to, p);
    }

    bool check(const FileOutcome& r, const std::string& what) {
        if (!r.message.empty()) err_ << what << ": " << r.message << "\n";
        return r.done;
    }

    std::ostream& out_;
    std::ostream& err_;
    Emulator emu_;
    // Where the ROMs are looked for after the start folder, as the desktop program does.
    const std::vector<std::string> romFolders_ = rom_search_folders(user_data_folder());
};

std::string unescape_typed(const std::string& text) {
    std::string typed;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == 'r') {
                typed += '\r';
                ++i;
                continue;
            }
            if (next == '\\') {
                typed += '\\';
                ++i;
                continue;
            }
        }
        typed += text[i];
    }
    return typed;
}

bool parse_count(const std::string& s, long& value) {
    const char* end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, value);
    return r.ec == std::errc() && r.ptr == end && value >= 0;
}

int Script::run(const std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (gInterrupted) {
            err_ << "Interrupted\n";
            return kExitInterrupted;
        }
        const std::string& opt = args[i];
        auto value = [&](const char* what) -> const std::string* {
            if (i + 1 >= args.size()) {
                err_ << opt << " needs " << what << "\n";
                return nullptr;
            }
            return &args[++i];
        };

        if (opt == "--help" || opt == "-h") {
            out_ << headless_usage();
        } else if (opt == "--version") {
            out_ << "kolt-headless " << KOLT_VERSION << "\n";
        } else if (opt == "--config") {
            const std::string* path = value("a configuration file");
            if (!path) return kExitUsage;
            if (!config_read_file(m().settings, *path)) {
                err_ << "Cannot read the configuration file " << *path << "\n";
                return kExitFailed;
            }
            machine_reset(m(), romFolders_);
        } else if (opt == "--rom" || opt == "--cartridge") {
            const std::string* path = value("a file");
            if (!path) return kExitUsage;
            const FileOutcome r = opt == "--rom" ? rom_load(m(), *path) : cartridge_load(m(), *path);
            if (!check(r, opt)) return kExitFailed;
        } else if (opt == "--no-cartridge") {
            m().settings.cartridgeEnabled = 0;
        } else if (opt == "--reset") {
            machine_reset(m(), romFolders_);
        } else if (opt == "--frames") {
            const std::string* count = value("a number of frames");
            long frames = 0;
            if (!count || !parse_count(*count, frames)) {
                err_ << "--frames needs a number of frames\n";
                return kExitUsage;
            }
            for (long f = 0; f < frames && frame(); ++f) {}
        } else if (opt == "--type") {
            const std::string* text = value("a text");
            if (!text) return kExitUsage;
            if (!typing_start(m(), unescape_typed(*text))) {
                err_ << "--type: the text is too long\n";
                return kExitUsage;
            }
            bool running = true;
            while (running && m().input.typingActive) running = frame();
            for (int f = 0; running && f < kFramesAfterTyping; ++f) running = frame();
        } else if (opt == "--load") {
            const std::string* path = value("a .vz or .bas file");
            if (!path) return kExitUsage;
            if (!check(media_kind_for(*path) == MediaKind::Listing ? load_listing(*path) : vz_load(m(), *path), "--load"))
                return kExitFailed;
        } else if (opt == "--disk1" || opt == "--disk2") {
            const std::string* path = value("a disk image");
            if (!path) return kExitUsage;
            if (!disk_mount(m(), emu_.io, opt == "--disk1" ? 0 : 1, *path)) {
                err_ << "Cannot open or create the disk image " << *path << "\n";
                return kExitFailed;
            }
        } else if (opt == "--tape-play") {
            const std::string* path = value("a .wav or .cas file");
            if (!path) return kExitUsage;
            emu_.io.tape.path = tape_path_for(*path);
            const int played = tape_play(m(), emu_.io);
            if (played != kTapePlaying) {
                err_ << tape_play_message(played, emu_.io) << "\n";
                return kExitFailed;
            }
        } else if (opt == "--tape-record") {
            const std::string* path = value("a .wav file");
            if (!path) return kExitUsage;
            emu_.io.tape.path = tape_path_for(*path);
            if (!tape_record(m(), emu_.io)) {
                err_ << "Cannot create the tape file " << emu_.io.tape.path << "\n";
                return kExitFailed;
            }
        } else if (opt == "--convert") {
            const std::string* from = value("an input and an output file");
            const std::string* to = from ? value("an output file") : nullptr;
            if (!to) return kExitUsage;
            for (const std::string* path : {from, to}) {
                if (tape_file_kind(*path) == TapeFileKind::other && !basic_listing_file(*path)) {
                    err_ << "--convert: cannot tell the format of " << *path
                         << " from its extension (.vz, .cas, .wav, .bas or .txt)\n";
                    return kExitUsage;
                }
            }
            if (basic_listing_file(*from) && basic_listing_file(*to)) {
                err_ << "--convert: both files are listings; one of them must be a program (.vz, .cas or .wav)\n";
                return kExitUsage;
            }
            TapeProgram p;
            if (!check(basic_listing_file(*from) || basic_listing_file(*to) ? convert_listing(*from, *to, p)
                                                                          : tape_convert(*from, *to, &p),
                       "--convert"))
                return kExitFailed;
            char range[48];
            std::snprintf(range, sizeof range, "0x%04X, %zu bytes", p.start, p.data.size());
            out_ << "Converted " << *from << " to " << *to << ": "
                 << (p.type == kVzTypeMachineCode ? "machine code" : "BASIC") << " \"" << p.name << "\" at " << range
                 << "\n";
        } else if (opt == "--tape-stop") {
            tape_stop(m(), emu_.io);
        } else if (opt == "--printer") {
            const std::string* path = value("a file");
            if (!path || !check(printer_map(emu_.io, *path), "--printer")) return path ? kExitFailed : kExitUsage;
        } else if (opt == "--screenshot") {
            const std::string* path = value("a .png file");
            if (!path) return kExitUsage;
            std::string why;
            if (!png_write_rgb(*path, kFrameWidth, kShownRows, picture_rgb(m()), &why)) {
                err_ << "Cannot write the screenshot " << *path << ": " << why << "\n";
                return kExitFailed;
            }
        } else if (opt == "--dump-memory") {
            const std::string* path = value("a file");
            if (!path) return kExitUsage;
            const auto memory = std::make_unique<std::array<uint8_t, 65536>>();
            memory_view(m(), *memory);
            if (!check(write_file(*path, memory->data(), memory->size()), "--dump-memory"))
                return kExitFailed;
        } else if (opt == "--disassemble") {
            const std::string* from = value("a start and an end address");
            const std::string* to = from ? value("an end address") : nullptr;
            const auto start = from ? address_or_symbol(*from, &emu_.symbols) : std::nullopt;
            const auto end = to ? address_or_symbol(*to, &emu_.symbols) : std::nullopt;
            if (!start || !end) {
                err_ << "--disassemble needs two addresses (up to four hex digits each, or symbols)\n";
                return kExitUsage;
            }
            const auto memory = std::make_unique<std::array<uint8_t, 65536>>();
            memory_view(m(), *memory);
            for (const char c : listing(*memory, *start, *end, &emu_.symbols))
                if (c != '\r') out_ << c;
        } else if (opt == "--break") {
            const std::string* addresses = value("breakpoint addresses");
            if (!addresses) return kExitUsage;
            if (!set_breakpoints(*addresses)) {
                err_ << "--break: too many breakpoints (at most " << kExtraBreakpointLimit
                     << " beyond the first 80 characters)\n";
                return kExitUsage;
            }
        } else if (opt == "--save-state" || opt == "--load-state") {
            const std::string* path = value("a .kstate file");
            if (!path) return kExitUsage;
            // Files a loaded state could not re-attach are a warning, not a failure.
            const FileOutcome r = opt == "--save-state" ? state_save(emu_, *path) : state_load(emu_, *path);
            if (!check(r, opt)) return kExitFailed;
        } else if (opt == "--watch") {
            const std::string* watch = value("a watchpoint KIND:RANGE");
            if (!watch) return kExitUsage;
            std::string why;
            const auto w = watch_parse(*watch, &emu_.symbols, &why);
            if (!w) {
                err_ << "--watch: " << why << "\n";
                return kExitUsage;
            }
            if (!watch_add(m().debug, *w)) {
                err_ << "--watch: at most " << kWatchpointLimit << " watchpoints\n";
                return kExitUsage;
            }
        } else if (opt == "--step-over") {
            const std::string* count = value("a number of instructions");
            long steps = 0;
            if (!count || !parse_count(*count, steps)) {
                err_ << "--step-over needs a number of instructions\n";
                return kExitUsage;
            }
            bool going = true;
            for (long k = 0; k < steps && going; ++k) going = step_over();
            if (going) print_panes();
        } else if (opt == "--symbols") {
            const std::string* path = value("a symbol file");
            if (!path) return kExitUsage;
            SymbolRead counts;
            const FileOutcome r = symbols_load(emu_.symbols, *path, &counts);
            if (!r.done || counts.skipped) err_ << "--symbols: " << r.message << "\n";
            if (!r.done) return kExitFailed;
        } else if (opt == "--print-screen") {
            out_ << screen_text(m());
        } else if (opt == "--print-listing") {
            std::string text;
            check(basic_listing_of_memory(m(), text), "--print-listing");
            out_ << text;
        } else {
            err_ << "Unknown option " << opt << "\n" << headless_usage();
            return kExitUsage;
        }
    }
    if (gInterrupted) {
        err_ << "Interrupted\n";
        return kExitInterrupted;
    }
    return 0;
}

} // namespace

const char* headless_usage() {
    return "Usage: kolt-headless [OPTION]...\n"
           "Runs the emulated VZ200/VZ300 without a window. Options act in the order given.\n"
           "The machine starts as the desktop does: default settings, then a reset.\n"
           "  --config FILE        settings from a kolt.cfg image, then a reset\n"
           "  --rom FILE           load a system ROM image at 0x0000 (kept for later resets)\n"
           "  --cartridge FILE     load a cartridge image at 0x4000 (kept for later resets)\n"
           "  --no-cartridge       no cartridge from the next reset on\n"
           "  --reset              reset the machine\n"
           "  --frames N           run N frames (1/50 s of emulated time each)\n"
           "  --type TEXT          type TEXT as Paste does (\\r is RETURN), running the frames it needs\n"
           "  --load FILE          load a VZ program (machine code starts at once), or a BASIC\n"
           "                       listing (.bas) stored as the ROM stores typed lines\n"
           "  --disk1 FILE, --disk2 FILE   mount a disk image\n"
           "  --tape-play FILE     play a tape into the cassette input: a WAV (8, 16, 24 or 32-bit\n"
           "                       PCM or float, any channels, 8000-192000 Hz) or a .cas file\n"
           "  --tape-record FILE   record the cassette output into a WAV file\n"
           "  --tape-stop          stop playing or recording\n"
           "  --convert IN OUT     convert a program between .vz, .cas and .wav (each by its\n"
           "                       extension): a recording is decoded and its checksum checked;\n"
           "                       a .wav is written as the ROM records, 22050 Hz 8-bit mono;\n"
           "                       a BASIC program to or from its listing (.bas or .txt)\n"
           "  --printer FILE       send printer output to FILE\n"
           "  --screenshot FILE    write the 320 x 240 picture as PNG\n"
           "  --dump-memory FILE   write the 64 KB the processor sees (video RAM: its bank)\n"
           "  --print-screen       print the 16 x 32 text screen\n"
           "  --print-listing      print the BASIC program in memory as LIST shows it\n"
           "  --save-state FILE    save the whole machine as a .kstate file\n"
           "  --load-state FILE    continue from a .kstate file (its disks, tape and printer\n"
           "                       are re-attached; those missing are named on standard error)\n"
           "  --disassemble START END   print a listing of START to END (hex addresses or symbols)\n"
           "  --break ADDRS        stop at these addresses (four hex digits each, as the debugger\n"
           "                       takes them, or symbols); a stop prints what stopped it and\n"
           "                       the debugger's panes, and ends the --frames, --type or\n"
           "                       --step-over that was running\n"
           "  --watch KIND:RANGE   stop after an instruction that accesses RANGE: KIND r, w or rw\n"
           "                       for memory, pr, pw or prw for ports; RANGE an address or\n"
           "                       FROM-TO, hex or symbols (e.g. w:7000-77FF, pw:20)\n"
           "  --step-over N        N Step Overs as the debugger makes them (a CALL, RST, DJNZ or\n"
           "                       repeating block instruction runs to its end), then print the\n"
           "                       debugger's panes\n"
           "  --symbols FILE       read symbols (NAME = $ADDR, NAME EQU ADDR, or map lines of a\n"
           "                       NAME and a hex address) for addresses and the disassembly\n"
           "  --version            print the version\n"
           "Without --rom, vzrom.v20 and vzdos.rom are looked for in the current folder, then in\n"
           "~/.local/share/KOLT/KOLT/roms, then in /usr/share/kolt/roms.\n";
}

int run_headless(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::signal(SIGINT, on_interrupt);
    std::signal(SIGTERM, on_interrupt);
    Script script(out, err);
    return script.run(args);
}
