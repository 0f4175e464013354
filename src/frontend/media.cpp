#include "frontend/media.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include "files/basic_listing.h"
#include "files/file_io.h"
#include "files/media_files.h"
#include "files/vz_file.h"
#include "frontend/main_window.h"
#include "frontend/recent_files.h"
#include "frontend/states.h"
#include "frontend/status_bar.h"
#include "input/keyboard.h"
#include "machine/cassette.h"
#include "machine/disk.h"
#include "video/picture.h"

namespace {

constexpr const char* kAllFiles = "All files (*)"; // ROM dumps often have no extension
constexpr const char* kTapeFiles = "Tapes (*.wav *.cas)";
constexpr int kTapeShownEvery = 10; // frames between updates of the cassette's field
constexpr size_t kLineInputLength = 64; // characters the ROM's line input takes; it drops the rest
constexpr const char* kListingFiles = "BAS files (*.bas)";

// The longest line of a text, lines ended by CR or LF.
size_t longest_line(const std::string& text) {
    size_t longest = 0, run = 0;
    for (const char c : text) {
        run = c == '\r' || c == '\n' ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

// The clipboard's text as the machine can type it: ASCII as it is, anything
// beyond (which has no key) as a byte that presses nothing.
std::string clipboard_bytes(const QString& text) {
    std::string bytes;
    bytes.reserve(size_t(text.size()));
    for (const QChar c : text) bytes += c.unicode() < 0x80 ? char(c.unicode()) : char(0x80);
    return bytes;
}

QString file_name(const QString& path) { return QFileInfo(path).fileName(); }

} // namespace

Media::Media(MainWindow& window, QMenu* recentMenu) : QObject(&window), w_(window), recent_(new RecentFiles(recentMenu, this)) {
    recent_->onChosen = [this](const QString& path) { open(path, Source::Recent); };
}

// ---- opening by kind ----------------------------------------------------------

bool Media::open(const QString& path, Source source) {
    const std::string p = path.toStdString();
    if (!QFileInfo(path).isFile()) {
        if (source == Source::Recent) recent_->remove(path);
        w_.showError("KOLT", "Cannot open " + path + ": the file is not there any more." +
                                 (source == Source::Recent ? " It has been taken off the recent files." : ""));
        return false;
    }
    bool opened = false;
    switch (media_kind_for(p)) {
    case MediaKind::Program: {
        std::vector<uint8_t> bytes;
        if (!w_.report(media_read_program(p, bytes), path)) break;
        // Only a file that was opened joins the recent files, and some are
        // found wanting only when the machine is ready for them.
        whenReady([this, bytes, path] {
            if (w_.report(media_start_program(w_.emulator().m(), bytes), path)) recent_->add(path);
        });
        return true;
    }
    case MediaKind::Tape:
        whenReady([this, path] {
            if (!play(path)) return;
            recent_->add(path);
            typing_start(w_.emulator().m(), "CRUN\r");
        });
        return true;
    case MediaKind::Disk: {
        const bool drive1Full = w_.emulator().io.disks.image[0] != nullptr;
        opened = mountDisk(source != Source::CommandLine && drive1Full ? 1 : 0, path);
        break;
    }
    case MediaKind::Text: {
        std::string text;
        if (!w_.report(media_read_text(p, text), path)) break;
        const Typing choice = typeOrStore(text);
        if (choice == Typing::Type) whenReady([this, text] { typing_start(w_.emulator().m(), text); });
        opened = choice != Typing::Nothing;
        break;
    }
    case MediaKind::Listing:
        opened = openListing(path);
        break;
    case MediaKind::State:
        opened = w_.states().load(path);
        break;
    case MediaKind::Unknown:
        w_.showError("KOLT",
                     "Cannot open " + path + ": KOLT opens .vz, .wav, .cas, .dsk, .txt, .bas and .kstate files.");
        break;
    }
    if (opened) recent_->add(path);
    return opened;
}

// A listing is checked at once, so a bad line is reported before anything
// waits, and stored into memory once the machine is ready, then run.
bool Media::openListing(const QString& path) {
    std::string text;
    std::vector<uint8_t> program;
    if (!w_.report(basic_read_listing_text(path.toStdString(), text), path)) return false;
    if (!w_.report(basic_program(text, kBasicProgramAddress, program), path)) return false;
    whenReady([this, text] {
        Machine& machine = w_.emulator().m();
        if (w_.report(basic_store_listing(machine, text))) typing_start(machine, "RUN\r");
    });
    return true;
}

Media::Typing Media::typeOrStore(const std::string& text) {
    const size_t longest = longest_line(text);
    if (longest <= kLineInputLength) return Typing::Type;
    const int choice = w_.askChoice(
        "KOLT",
        QString("A line of this text has %1 characters. The machine's line input takes %2 and drops the rest "
                "without a word.\n\nStore the text as a BASIC listing instead? Its lines then replace the "
                "program in memory, stored as the ROM stores typed lines, none of them cut.")
            .arg(longest)
            .arg(kLineInputLength),
        {"Store as Listing", "Type Anyway", "Cancel"});
    if (choice == 1) return Typing::Type;
    if (choice != 0) return Typing::Nothing;
    std::vector<uint8_t> program;
    if (!w_.report(basic_program(text, kBasicProgramAddress, program))) return Typing::Nothing;
    whenReady([this, text] { w_.report(basic_store_listing(w_.emulator().m(), text)); });
    return Typing::Stored;
}

bool Media::ready() const { return startUp_.ready(); }

void Media::whenReady(std::function<void()> start) { startUp_.whenReady(std::move(start)); }

void Media::machineReset() { startUp_.machineReset(); }

void Media::stateLoaded() {
    startUp_.stateLoaded(); // the state is the machine now: what waited to start in the old one would replace it
    const Emulator& emu = w_.emulator();
    for (int d = 0; d < 2; ++d) {
        const std::string& name = emu.io.disks.name[size_t(d)];
        const bool mounted = emu.io.disks.image[size_t(d)] != nullptr;
        w_.status().set(d, QString(d == 0 ? "D1: " : "D2: ") + (mounted ? QString::fromStdString(name) : "None"));
    }
    tapeName_ = emu.io.tape.path.empty() ? QString() : file_name(QString::fromStdString(emu.io.tape.path));
    tapeState_.clear();
    tapeWasRunning_ = tape_running(emu.machine->tape);
    showTape();
    w_.updateCassetteMenu(tape_running(emu.machine->tape));
}

void Media::afterFrame() {
    startUp_.afterFrame(w_.emulator().m());
    const bool running = tape_running(w_.emulator().m().tape);
    if (running || running != tapeWasRunning_) {
        if (++tapeShownAt_ >= kTapeShownEvery || running != tapeWasRunning_) showTape();
    }
}

// "Cass: name", and while the tape runs how far it has come; a playback that
// reached the end of its file says so until the tape is stopped or changed.
void Media::showTape() {
    tapeShownAt_ = 0;
    const Emulator& emu = w_.emulator();
    const TapeState& t = emu.machine->tape;
    const TapeProgress progress = tape_progress(*emu.machine, emu.io);
    if (t.playing) tapeState_ = QString("playing %1%").arg(progress.percent);
    else if (t.recording) tapeState_ = QString("recording %1 s").arg(progress.seconds);
    else if (tapeWasRunning_ && !tapeState_.startsWith("recording")) tapeState_ = "ended";
    tapeWasRunning_ = tape_running(t);
    const QString name = tapeName_.isEmpty() ? "None" : tapeName_;
    w_.status().set(2, "Cass: " + name + (tapeState_.isEmpty() ? "" : "  " + tapeState_));
}

// ---- the menu's commands --------------------------------------------------------

void Media::loadVz() {
    const QString path = w_.chooseFile({FileDialogRequest::Open, "VZ files (*.vz)"});
    if (path.isEmpty()) return;
    if (w_.report(vz_load(w_.emulator().m(), path.toStdString()), path)) recent_->add(path);
}

void Media::saveVz() {
    const QString path = w_.chooseFile({FileDialogRequest::Save, "VZ files (*.vz)"});
    if (!path.isEmpty()) w_.report(vz_save(w_.emulator().m(), path.toStdString()), path);
}

void Media::loadText() {
    const QString path = w_.chooseFile({FileDialogRequest::Open, "TXT files (*.txt)"});
    if (path.isEmpty()) return;
    const std::string p = path.toStdString();
    std::vector<uint8_t> bytes;
    if (!w_.report(read_file_limited(p, kTypingBufferSize - 1, bytes), path)) return;
    const Typing choice = typeOrStore(text_with_returns(std::string(bytes.begin(), bytes.end())));
    if (choice == Typing::Nothing) return;
    if (choice == Typing::Stored || w_.report(text_load(w_.emulator().m(), p, true), path)) recent_->add(path);
}

void Media::loadBas() {
    const QString path = w_.chooseFile({FileDialogRequest::Open, kListingFiles});
    if (!path.isEmpty()) open(path, Source::Menu);
}

void Media::exportListing() {
    std::string text;
    const FileOutcome listed = basic_listing_of_memory(w_.emulator().m(), text);
    if (text.empty()) {
        w_.showError("KOLT", "There is no BASIC program in memory to export.");
        return;
    }
    QString path = w_.chooseFile({FileDialogRequest::Save, kListingFiles});
    if (path.isEmpty()) return;
    if (!QFileInfo(path).fileName().contains('.')) path += ".bas";
    if (w_.report(write_file_atomic(path.toStdString(), std::vector<uint8_t>(text.begin(), text.end())), path))
        w_.report(listed);
}

void Media::copyScreenText() {
    QGuiApplication::clipboard()->setText(QString::fromUtf8(screen_text(w_.emulator().m())));
}

void Media::paste() {
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty()) return;
    const std::string bytes = text_with_returns(clipboard_bytes(text));
    if (typeOrStore(bytes) != Typing::Type) return;
    if (!typing_start(w_.emulator().m(), bytes))
        w_.showError("KOLT", "The clipboard's text is too long to type in (more than 65535 bytes).");
}

bool Media::mountDisk(int drive, const QString& path) {
    Emulator& emu = w_.emulator();
    if (!disk_mount(emu.m(), emu.io, drive, path.toStdString())) {
        w_.status().set(drive, drive == 0 ? "D1: None" : "D2: None");
        w_.showError("KOLT", "Cannot open or create the disk image " + path + ".");
        return false;
    }
    w_.status().set(drive, QString(drive == 0 ? "D1: " : "D2: ") + file_name(path));
    return true;
}

void Media::mountDrive(int drive) {
    const QString path = w_.chooseFile({FileDialogRequest::Open, "VZ Disk files (*.dsk)", false});
    if (!path.isEmpty() && mountDisk(drive, path)) recent_->add(path);
}

void Media::unmountDrive(int drive) {
    disk_unmount(w_.emulator().io, drive);
    w_.status().set(drive, drive == 0 ? "D1: None" : "D2: None");
}

bool Media::play(const QString& path) {
    Emulator& emu = w_.emulator();
    const std::string previousPath = emu.io.tape.path;
    const QString previousName = tapeName_;
    if (!path.isEmpty()) {
        emu.io.tape.path = tape_path_for(path.toStdString());
        tapeName_ = file_name(path);
    }
    tapeState_.clear();
    showTape();
    const int result = tape_play(emu.m(), emu.io);
    if (result != kTapePlaying) {
        const QString message = QString::fromStdString(tape_play_message(result, emu.io));
        w_.showError("KOLT", emu.io.tape.path.empty()
                                 ? message
                                 : message + "\n\nFile: " + QString::fromStdString(emu.io.tape.path));
        // A refused tape is not the cassette's.
        emu.io.tape.path = previousPath;
        tapeName_ = previousName;
        showTape();
        return false;
    }
    w_.updateCassetteMenu(true);
    showTape();
    return true;
}

void Media::playTape() {
    const QString path = w_.chooseFile({FileDialogRequest::Open, kTapeFiles, false});
    if (play(path) && !path.isEmpty()) recent_->add(path);
}

void Media::recordTape() {
    const QString path = w_.chooseFile({FileDialogRequest::Save, "wav files (*.wav)"});
    if (path.isEmpty()) return; // neither an earlier tape is overwritten nor a recording started
    Emulator& emu = w_.emulator();
    emu.io.tape.path = tape_path_for(path.toStdString());
    tapeName_ = file_name(path);
    tapeState_.clear();
    showTape();
    if (!tape_record(emu.m(), emu.io)) {
        w_.showError("KOLT", "Cannot create the tape file " + QString::fromStdString(emu.io.tape.path) + ".");
        return;
    }
    w_.updateCassetteMenu(true);
    showTape();
}

void Media::stopTape() {
    Emulator& emu = w_.emulator();
    tape_stop(emu.m(), emu.io);
    tapeState_.clear();
    tapeWasRunning_ = false;
    showTape();
    w_.updateCassetteMenu(false);
}

void Media::mapPrinter() {
    const QString path = w_.chooseFile({FileDialogRequest::Save, "txt files (*.txt)"});
    if (!path.isEmpty()) w_.report(printer_map(w_.emulator().io, path.toStdString()), path);
}

void Media::loadImage(bool rom) {
    FileDialogRequest request{FileDialogRequest::Open, kAllFiles};
    request.option = "Use this ROM from now on";
    const QString path = w_.chooseFile(request);
    if (path.isEmpty()) return;
    const std::string p = path.toStdString();
    Machine& m = w_.emulator().m();
    if (!w_.report(rom ? rom_load(m, p) : cartridge_load(m, p), path)) return;
    if (request.optionChecked) keepImage(path, rom);
    w_.offerReset(rom ? "The program running now started from the old ROM." : "The new cartridge starts at the next reset.");
}

// A ROM image covers at most the 64 KB the load fills.
constexpr size_t kRomFileMax = 65536;

// A copy in the data folder under the name the settings look for, so every
// later start finds it, from any folder. Written beside and renamed, so a
// failed copy leaves the one kept before.
void Media::keepImage(const QString& path, bool rom) {
    const Settings defaults;
    const QString name = QString::fromStdString(settings_path(rom ? defaults.romFile : defaults.cartridgeFile));
    const QString folder = MainWindow::dataFolder() + "/roms";
    const QString kept = folder + "/" + name;
    if (QFileInfo(path).absoluteFilePath() == QFileInfo(kept).absoluteFilePath()) return;
    std::vector<uint8_t> bytes;
    if (!w_.report(read_file_limited(path.toStdString(), kRomFileMax, bytes), path)) return;
    if (!QDir().mkpath(folder)) {
        w_.showError("KOLT", "Cannot create the folder " + folder + " to keep " + file_name(path) + " in.");
        return;
    }
    if (!w_.report(write_file_atomic(kept.toStdString(), bytes), kept)) return;
    w_.status().flash(file_name(path) + " is used from now on (kept as " + kept + ")");
}

void Media::saveImage(bool rom) {
    const QString path = w_.chooseFile({FileDialogRequest::Save, kAllFiles});
    if (path.isEmpty()) return;
    const std::string p = path.toStdString();
    const Machine& m = w_.emulator().m();
    w_.report(rom ? rom_save(m, p) : cartridge_save(m, p), path);
}

void Media::loadFont() {
    const QString path = w_.chooseFile({FileDialogRequest::Open, "Font files (*.fnt)"});
    if (!path.isEmpty()) w_.report(font_load(w_.emulator().m(), path.toStdString()), path);
}

void Media::loadBitmap() {
    const QString path = w_.chooseFile({FileDialogRequest::Open, "BMP files (*.bmp)"});
    if (!path.isEmpty()) w_.report(bitmap_import(w_.emulator().m(), path.toStdString()), path);
}
