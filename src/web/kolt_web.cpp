// The web page's side of the machine: C functions the page's script calls.
// Files the page is given live in the browser's in-memory file system under
// /files, the user's ROMs at /vzrom.v20 and /vzdos.rom, so the core opens them
// by path as the desktop does.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files/basic_listing.h"
#include "files/media_files.h"
#include "files/media_open.h"
#include "files/state_file.h"
#include "frontend/mixer.h"
#include "input/keyboard.h"
#include "machine/builtin_program.h"
#include "machine/cassette.h"
#include "machine/disk.h"
#include "machine/emulator.h"
#include "machine/frame.h"
#include "machine/machine.h"
#include "sound/sound.h"
#include "video/picture.h"
#include "video/renderer.h"

namespace {


// Disk sounds go to the page's mixer.
class WebHost : public HostInterface {
public:
    explicit WebHost(Mixer& mixer) : mixer_(mixer) {}
    void play_disk_access_sound() override { mixer_.playDiskAccessSound(); }
    void play_disk_step_sound() override { mixer_.playDiskStepSound(); }

private:
    Mixer& mixer_;
};

struct Page {
    Emulator emu;
    Mixer mixer;
    WebHost host{mixer};
    MediaStartUp startUp;
    HostKeys keys;
    uint8_t controller = 0;
    bool soundFed = false;
    std::vector<uint8_t> rgba = std::vector<uint8_t>(size_t(kFrameWidth) * kShownRows * 4, 0xFF);
    std::vector<int16_t> samples;
    std::vector<uint8_t> bytes; // the last state saved, for the page to copy out
    std::string message;        // the last refusal or warning, for the page to show
    bool pageWording = false;   // the built-in program tells how the page loads a ROM
};

Page* page = nullptr;

bool report(const FileOutcome& outcome) {
    page->message = outcome.message;
    return outcome.done;
}

// The built-in program's lines on loading a ROM, as the page does it.
constexpr const char* kPageRomLines[][2] = {
    {"TO LOAD ONE: FILE > LOAD ROM,", "TO LOAD ONE: CHOOSE THE FILE"},
    {"THEN FILE > RESET.", "UNDER THE BUTTONS."},
    {"OR PUT VZROM.V20 (LOWER CASE)", "IT IS KEPT IN THIS BROWSER"},
    {"IN THE START FOLDER, OR IN", "AND NEVER LEAVES IT."},
    {"HOME/.LOCAL/SHARE/KOLT/KOLT/ROMS", ""},
    {"AND RESTART (OR USE --ROM FILE)", ""},
};

void reset() {
    machine_reset(page->emu.m());
    if (page->pageWording)
        for (const auto& [line, text] : kPageRomLines) builtin_program_reword(page->emu.m(), line, text);
    page->startUp.machineReset();
}

} // namespace

extern "C" {

// Flags: 1 with the disk ROM, 2 for the page (the built-in program's lines
// on loading a ROM then say how the page does it; without, the machine is
// exactly the desktop's, as the tests compare).
EMSCRIPTEN_KEEPALIVE void kolt_start(int flags) {
    if (!page) {
        page = new Page;
        page->emu.io.host = &page->host;
    }
    page->emu.m().settings.cartridgeEnabled = (flags & 1) ? 1 : 0;
    page->pageWording = (flags & 2) != 0;
    reset();
}

EMSCRIPTEN_KEEPALIVE void kolt_reset() { reset(); }

// One frame, as the desktop runs it: the machine, then the keys held for the
// next one, then the sound streams.
EMSCRIPTEN_KEEPALIVE void kolt_frame() {
    Machine& m = page->emu.m();
    machine_run_frame(m, page->emu.io);
    poll_input(m, page->keys, {true, page->controller});
    machine_flush_files(page->emu.io);
    page->startUp.afterFrame(m);
    if (page->soundFed) sound_frame(m, page->mixer);
}

EMSCRIPTEN_KEEPALIVE void kolt_run_frames(int count) {
    for (int i = 0; i < count; ++i) kolt_frame();
}

// The shown 320 x 240 picture as RGBA, for the canvas.
EMSCRIPTEN_KEEPALIVE const uint8_t* kolt_picture() {
    const std::vector<uint8_t> rgb = picture_rgb(page->emu.m());
    uint8_t* out = page->rgba.data();
    for (size_t i = 0, n = rgb.size() / 3; i < n; ++i) std::memcpy(out + i * 4, &rgb[i * 3], 3);
    return out;
}

EMSCRIPTEN_KEEPALIVE int kolt_picture_width() { return kFrameWidth; }
EMSCRIPTEN_KEEPALIVE int kolt_picture_height() { return kShownRows; }

EMSCRIPTEN_KEEPALIVE void kolt_key(int code, int down) { page->keys.set(size_t(code & 0xFF), down != 0); }
EMSCRIPTEN_KEEPALIVE void kolt_keys_release() { page->keys.reset(); }
EMSCRIPTEN_KEEPALIVE void kolt_controller(int held) { page->controller = uint8_t(held); }

// Typing by character: the text goes through the machine's typing buffer.
EMSCRIPTEN_KEEPALIVE int kolt_type(const char* text) {
    if (typing_start(page->emu.m(), text_with_returns(text))) return 1;
    page->message = "The text is too long to type in (more than 65535 bytes).";
    return 0;
}

// The sound streams are fed while frames run at the normal rate.
EMSCRIPTEN_KEEPALIVE void kolt_sound_fed(int fed) {
    if (fed && !page->soundFed) sound_resume(page->emu.m().sound, page->mixer);
    page->soundFed = fed != 0;
    page->mixer.setStreamsFed(fed != 0);
}
EMSCRIPTEN_KEEPALIVE void kolt_sound_enabled(int on) { page->mixer.setStreamsEnabled(on != 0); }

// The next `count` samples (44100 Hz, signed 16-bit, mono) the page plays.
EMSCRIPTEN_KEEPALIVE const int16_t* kolt_audio(int count) {
    page->samples.resize(size_t(count));
    page->mixer.mix(page->samples.data(), count);
    return page->samples.data();
}

// Opens a file the page put at `path`, by its kind, as the desktop does.
// Returns 1 when it was opened (or will be, once the machine is ready).
EMSCRIPTEN_KEEPALIVE int kolt_open(const char* pathText, int drive) {
    const std::string path = pathText;
    Emulator& emu = page->emu;
    page->message.clear();
    switch (media_kind_for(path)) {
    case MediaKind::Program: {
        std::vector<uint8_t> bytes;
        if (!report(media_read_program(path, bytes))) return 0;
        page->startUp.whenReady([bytes] { report(media_start_program(page->emu.m(), bytes)); });
        return 1;
    }
    case MediaKind::Tape:
        page->startUp.whenReady([path] { report(media_start_tape(page->emu.m(), page->emu.io, path)); });
        return 1;
    case MediaKind::Disk:
        if (disk_mount(emu.m(), emu.io, drive, path)) return 1;
        page->message = "Cannot open or create the disk image " + path + ".";
        return 0;
    case MediaKind::Text: {
        std::string text;
        if (!report(media_read_text(path, text))) return 0;
        page->startUp.whenReady([text] { typing_start(page->emu.m(), text); });
        return 1;
    }
    case MediaKind::Listing: {
        // Checked at once, stored once the machine is ready, then run.
        std::string text;
        std::vector<uint8_t> program;
        if (!report(basic_read_listing_text(path, text))) return 0;
        if (!report(basic_program(text, kBasicProgramAddress, program))) return 0;
        page->startUp.whenReady([text] {
            if (report(basic_store_listing(page->emu.m(), text))) typing_start(page->emu.m(), "RUN\r");
        });
        return 1;
    }
    case MediaKind::State:
        if (!report(state_load(emu, path))) return 0;
        page->startUp.stateLoaded();
        return 1;
    case MediaKind::Unknown: break;
    }
    page->message = "Cannot open " + path + ": KOLT opens .vz, .wav, .cas, .dsk, .txt, .bas and .kstate files.";
    return 0;
}

EMSCRIPTEN_KEEPALIVE int kolt_save_state(const char* path) { return report(state_save(page->emu, path)); }

// The drive's image path, its writes flushed, for the page to download.
EMSCRIPTEN_KEEPALIVE const char* kolt_disk_path(int drive) {
    static std::string path;
    const DiskFiles& disks = page->emu.io.disks;
    if (drive < 0 || drive > 1 || !disks.image[size_t(drive)]) return "";
    std::fflush(disks.image[size_t(drive)].get());
    path = disks.path[size_t(drive)];
    return path.c_str();
}

// Records the cassette output into the WAV file `path` until kolt_tape_stop.
EMSCRIPTEN_KEEPALIVE int kolt_tape_record(const char* path) {
    Emulator& emu = page->emu;
    page->message.clear();
    emu.io.tape.path = path;
    if (tape_record(emu.m(), emu.io)) return 1;
    page->message = "Cannot create the tape file " + emu.io.tape.path + ".";
    return 0;
}

// Stops the tape. Returns 1 when a recording ended, its file then complete.
EMSCRIPTEN_KEEPALIVE int kolt_tape_stop() {
    const bool recorded = page->emu.m().tape.recording;
    tape_stop(page->emu.m(), page->emu.io);
    return recorded ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE int kolt_tape_recording() { return page->emu.m().tape.recording ? 1 : 0; }

// The 64 KB memory image, and whether the tape runs, for the page's tests.
EMSCRIPTEN_KEEPALIVE const uint8_t* kolt_memory() { return page->emu.m().state.memory.data(); }
EMSCRIPTEN_KEEPALIVE int kolt_tape_running() { return tape_running(page->emu.m().tape) ? 1 : 0; }

EMSCRIPTEN_KEEPALIVE const char* kolt_message() { return page->message.c_str(); }
EMSCRIPTEN_KEEPALIVE const char* kolt_screen_text() {
    static std::string text;
    text = screen_text(page->emu.m());
    return text.c_str();
}

} // extern "C"
