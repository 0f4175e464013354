#include "frontend/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <utility>

#include "files/config.h"
#include "files/media_files.h"
#include "files/vz_file.h"
#include "frontend/audio_device.h"
#include "frontend/debugger_dialog.h"
#include "frontend/display_widget.h"
#include "frontend/frame_driver.h"
#include "frontend/key_mapper.h"
#include "machine/cassette.h"
#include "machine/disk.h"
#include "machine/frame.h"

namespace {

constexpr const char* kWindowTitle = "  KOLT - VZ200/300 Emulator";
constexpr const char* kMessageCaption = "KOLT";
constexpr const char* kAllFiles = "All files (*)"; // ROM dumps often have no extension

const char* const kToolbarIcons[10] = {"load_vz", "save_vz", "paste", "printer", "drive1",
                                       "drive2", "play",    "record", "stop",  "debugger"};

// The clipboard's text as the machine can type it: ASCII as it is, anything
// beyond (which has no key) as a byte that presses nothing.
std::string clipboard_bytes(const QString& text) {
    std::string bytes;
    bytes.reserve(size_t(text.size()));
    for (const QChar c : text) bytes += c.unicode() < 0x80 ? char(c.unicode()) : char(0x80);
    return bytes;
}

} // namespace

// The icons live in the library, so the program and its tests both need this.
static void init_resources() { Q_INIT_RESOURCE(kolt); }

// What the core asks of the host: disk sounds and drive status texts.
class MainWindow::Host : public HostInterface {
public:
    explicit Host(MainWindow& w) : w_(w) {}
    void play_disk_access_sound() override {
        if (w_.audio_) w_.audio_->playDiskAccessSound();
    }
    void play_disk_step_sound() override {
        if (w_.audio_) w_.audio_->playDiskStepSound();
    }
    void show_drive_status(int drive, const std::string& text) override {
        if (drive == 0 || drive == 1) w_.setStatus(drive, QString::fromStdString(text));
    }

private:
    MainWindow& w_;
};

MainWindow::MainWindow(SdlAudio* audio, QWidget* parent)
    : QMainWindow(parent), host_(std::make_unique<Host>(*this)), audio_(audio) {
    init_resources();
    emu_.io.host = host_.get();
    setWindowTitle(kWindowTitle);
    setWindowIcon(QIcon(":/icons/kolt.svg"));
    display_ = new DisplayWidget(this);
    display_->setMinimumSize(kFrameWidth, kShownRows);
    setCentralWidget(display_);
    buildMenusAndToolbar();
    buildStatusBar();
    resize(kFrameWidth, kShownRows);

    driver_ = new FrameDriver(this);
    driver_->runFrame = [this] { return frameStep(); };
    connect(driver_, &FrameDriver::stateChanged, this, &MainWindow::updateSound);

    chooseFile = [this](const FileDialogRequest& r) {
        QFileDialog dialog(this);
        dialog.setNameFilter(r.filter);
        dialog.setAcceptMode(r.kind == FileDialogRequest::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(r.kind == FileDialogRequest::Open && r.mustExist ? QFileDialog::ExistingFile
                                                                           : QFileDialog::AnyFile);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        return dialog.selectedFiles().first();
    };
    showError = [this](const QString& caption, const QString& text) {
        QMessageBox::critical(this, caption, text);
    };
    showWarning = [this](const QString& caption, const QString& text) {
        QMessageBox::warning(this, caption, text);
    };
    runDebuggerDialog = [this] {
        DebuggerDialog dialog(emu_, this);
        dialog.exec();
    };
    qApp->installEventFilter(this);
    QTimer::singleShot(0, this, [this] { runCommand(Command::SizeX2); });
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    emu_.io.host = MachineIo::default_host();
}

void MainWindow::buildMenusAndToolbar() {
    std::map<QString, QMenu*> menus;
    std::array<Command, 10> toolbarCommands{};
    for (const CommandInfo& info : command_table()) {
        const QStringList path = QString::fromUtf8(info.menuPath.data(), qsizetype(info.menuPath.size())).split('|');
        QMenu* menu = nullptr;
        QString key;
        for (qsizetype i = 0; i + 1 < path.size(); ++i) {
            key += path[i] + '|';
            auto found = menus.find(key);
            if (found == menus.end()) {
                QMenu* created = menu ? menu->addMenu(path[i]) : menuBar()->addMenu(path[i]);
                found = menus.emplace(key, created).first;
            }
            menu = found->second;
        }
        if (info.separatorBefore) menu->addSeparator();
        QAction* action = menu->addAction(path.last());
        const Command id = info.id;
        connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
        if (info.group != CheckGroup::None) {
            action->setCheckable(true);
            QActionGroup*& group = groups_[info.group];
            if (!group) group = new QActionGroup(this);
            group->addAction(action);
            action->setChecked(info.checkedInitially);
        }
        actions_[id] = action;
        if (info.toolbarSlot >= 0) toolbarCommands[size_t(info.toolbarSlot)] = id;
    }

    toolbar_ = addToolBar("Toolbar");
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setIconSize(QSize(16, 16));
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
    for (size_t k = 0; k < toolbarCommands.size(); ++k) {
        // Buttons are never greyed, unlike their menu items: they are actions of their own.
        const Command id = toolbarCommands[k];
        QAction* button = toolbar_->addAction(QIcon(QString(":/icons/%1.svg").arg(kToolbarIcons[k])),
                                              action(id)->text().remove('&'));
        button->setObjectName(QString("toolbar_%1").arg(kToolbarIcons[k]));
        connect(button, &QAction::triggered, this, [this, id] { runCommand(id); });
    }
}

void MainWindow::buildStatusBar() {
    const char* initial[3] = {"D1: None", "D2: None", "Cass: None"};
    for (int i = 0; i < 3; ++i) {
        status_[size_t(i)] = new QLabel(initial[i], this);
        status_[size_t(i)]->setMinimumWidth(1);
        // Equal stretch keeps the fields' right edges at a third, two thirds and the end.
        statusBar()->addWidget(status_[size_t(i)], 1);
    }
    // Messages of our own (sound off, and the like) keep to the right.
    status_[3] = new QLabel(this);
    statusBar()->addPermanentWidget(status_[3]);
    statusBar()->setSizeGripEnabled(true);
}

void MainWindow::setStatus(int field, const QString& text) { status_[size_t(field)]->setText(text); }

QString MainWindow::statusText(int field) const { return status_[size_t(field)]->text(); }

QAction* MainWindow::action(Command id) const {
    const auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    const int w = width();
    statusEdges_ = {w / 3, 2 * w / 3, w};
}

void MainWindow::setChecked(Command id) {
    if (QAction* a = action(id)) a->setChecked(true);
}

void MainWindow::startUp(const QString& startupDir, bool runFrames) {
    openAudio();
    startupDir_ = startupDir;
    Machine& m = emu_.m();
    config_load(m.settings, startupDir_.toStdString());
    for (const SettingField field : startup_option_order())
        if (const auto id = option_command_for(m.settings, field)) runCommand(*id);
    updateCassetteMenu(false);
    machine_reset(m);
    sound_clear(m.sound);
    updateActivation();
    driver_->setHold(FrameDriver::NotStarted, !runFrames);
}

// Without a device the machine runs all the same, silently, and says why once.
void MainWindow::openAudio() {
    if (!audio_ || audio_->isOpen()) return;
    std::string why;
    if (audio_->open(&why)) return;
    const QString reason = QString::fromStdString(why.empty() ? "no reason given" : why);
    setStatus(3, "Sound off: " + reason);
    // Said once the machine's first picture is up behind the message.
    startUpWarning_ = "Sound is off: no audio device could be opened (" + reason + "). The machine runs without sound.";
}

// ---- running --------------------------------------------------------------

bool MainWindow::isRunning() const { return driver_->running(); }

bool MainWindow::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::WindowBlocked:
        keys_.reset();
        driver_->setHold(FrameDriver::Blocked, true);
        break;
    case QEvent::WindowUnblocked:
        // Focus comes back to us with the dialog gone, though some window
        // systems never say so: frames resume without waiting to be told.
        driver_->setHold(FrameDriver::Blocked, false);
        if (!isMinimized()) {
            driver_->setHold(FrameDriver::Inactive, false);
            activateWindow();
        }
        break;
    default: break;
    }
    return QMainWindow::event(event);
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::WindowStateChange) updateActivation();
}

void MainWindow::updateActivation() {
    const bool inactive = !isActiveWindow() || isMinimized();
    if (inactive) {
        keys_.reset(); // keys released elsewhere never reach us
        modifierPresses_.fill(0);
    }
    driver_->setHold(FrameDriver::Inactive, inactive);
}

// The streams are fed, and heard, only while frames run at the Normal rate.
// Feeding them again starts from silence rather than what the rings held.
void MainWindow::updateSound() {
    const bool fed = driver_->running() && !driver_->maximumRate();
    if (fed == soundFed_) return;
    soundFed_ = fed;
    if (!audio_) return;
    if (fed) sound_resume(emu_.m().sound, *audio_);
    audio_->setStreamsFed(fed);
}

bool MainWindow::frameStep() {
    Machine& m = emu_.m();
    if (machine_run_frame(m, emu_.io) != 0) {
        QTimer::singleShot(0, this, [this] { runCommand(Command::Debugger); });
        return false;
    }
    ++framesRun_;
    if (poll_input(m, keys_)) toggleFullScreen();
    display_->present(m);
    if (!presentedOnce_) {
        presentedOnce_ = true;
        if (onFirstFrame) onFirstFrame();
        if (!startUpWarning_.isEmpty())
            QTimer::singleShot(0, this, [this] { showWarning(kMessageCaption, std::exchange(startUpWarning_, {})); });
    }
    if (soundFed_ && audio_ && audio_->isOpen()) sound_frame(m, *audio_);
    return true;
}

// ---- keyboard ---------------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    const auto* widget = qobject_cast<QWidget*>(watched);
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && widget && widget->window() == this &&
        isActiveWindow() && !QApplication::activeModalWidget() && !QApplication::activePopupWidget()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Menus keep their Alt accelerators; everything else is the machine's.
        // A release always counts, or a key let go while Alt is down would
        // stay pressed in the matrix.
        const bool forMenus = key->modifiers() & Qt::AltModifier;
        if (!key->isAutoRepeat() && (type == QEvent::KeyRelease || !forMenus)) onKey(*key);
        if (forMenus) return QMainWindow::eventFilter(watched, event);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::onKey(const QKeyEvent& key) {
    const auto host = host_key_for(key);
    if (!host) return;
    const bool down = key.type() == QEvent::KeyPress;
    // Where the platform gives no scan code, the left and right Shift (and
    // Control) keys are one key to us: it is up only when both are.
    if (key.nativeScanCode() == 0 && (*host == kKeyLeftShift || *host == kKeyLeftControl)) {
        uint8_t& presses = modifierPresses_[*host];
        presses = down ? uint8_t(std::min(presses + 1, 2)) : uint8_t(presses > 0 ? presses - 1 : 0);
        keys_.set(*host, presses > 0);
        return;
    }
    keys_.set(*host, down);
}

// ---- commands ---------------------------------------------------------------

void MainWindow::runCommand(Command id) {
    Machine& m = emu_.m();
    const CommandInfo* info = command_info(id);
    if (info && info->field != SettingField::None) {
        apply_setting(m.settings, info->field, info->value);
        setChecked(id);
        if (info->field == SettingField::FrameRateNormal) driver_->setMaximumRate(!m.settings.frameRateNormal);
        return;
    }
    switch (id) {
    case Command::LoadVz: loadVz(); break;
    case Command::SaveVz: saveVz(); break;
    case Command::LoadTxt: loadText(); break;
    case Command::MountDrive1: mountDrive(0); break;
    case Command::MountDrive2: mountDrive(1); break;
    case Command::UnmountDrive1: unmountDrive(0); break;
    case Command::UnmountDrive2: unmountDrive(1); break;
    case Command::Play: playTape(); break;
    case Command::Record: recordTape(); break;
    case Command::Stop: stopTape(); break;
    case Command::MapPrinter: mapPrinter(); break;
    case Command::LoadRom: loadImage(true); break;
    case Command::LoadCartridge: loadImage(false); break;
    case Command::LoadFont: loadFont(); break;
    case Command::SaveRom: saveImage(true); break;
    case Command::SaveCartridge: saveImage(false); break;
    case Command::Reset:
        machine_reset(m);
        driver_->restartPacing();
        break;
    case Command::Exit: close(); break;
    case Command::Paste: paste(); break;
    case Command::SizeX1: setPictureScale(1); break;
    case Command::SizeX2: setPictureScale(2); break;
    case Command::SizeX3: setPictureScale(3); break;
    case Command::FullScreen: enterFullScreen(); break;
    case Command::SpeakerEnabled:
    case Command::SpeakerDisabled:
        setChecked(id);
        if (audio_) audio_->setStreamsEnabled(id == Command::SpeakerEnabled);
        break;
    case Command::SaveConfig:
        if (!config_save(m.settings, startupDir_.toStdString()))
            showError(kMessageCaption, "The configuration could not be saved in " + startupDir_ + ".");
        break;
    case Command::Debugger: openDebugger(); break;
    case Command::LoadBitmap: loadBitmap(); break;
    case Command::About: about(); break;
    default: break;
    }
}

// The streams fall silent with the frames, and play again afterwards only as
// the Speaker option says.
void MainWindow::openDebugger() {
    if (driver_->held(FrameDriver::InDebugger)) return;
    keys_.reset();
    driver_->setHold(FrameDriver::InDebugger, true);
    runDebuggerDialog();
    driver_->setHold(FrameDriver::InDebugger, false);
}

// A refusal is an error; a note on something done (a load cut at 0xFFFF) a warning.
void MainWindow::report(const FileOutcome& outcome) {
    if (outcome.message.empty()) return;
    const QString text = QString::fromStdString(outcome.message);
    if (outcome.done) showWarning(kMessageCaption, text);
    else showError(kMessageCaption, text);
}

QString MainWindow::fileName(const QString& path) const { return QFileInfo(path).fileName(); }

void MainWindow::loadVz() {
    const QString path = chooseFile({FileDialogRequest::Open, "VZ files (*.vz)"});
    if (!path.isEmpty()) report(vz_load(emu_.m(), path.toStdString()));
}

void MainWindow::saveVz() {
    const QString path = chooseFile({FileDialogRequest::Save, "VZ files (*.vz)"});
    if (!path.isEmpty()) report(vz_save(emu_.m(), path.toStdString()));
}

void MainWindow::loadText() {
    const QString path = chooseFile({FileDialogRequest::Open, "TXT files (*.txt)"});
    if (!path.isEmpty()) report(text_load(emu_.m(), path.toStdString(), true));
}

void MainWindow::paste() {
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty()) return;
    const std::string bytes = text_with_returns(clipboard_bytes(text));
    if (!typing_start(emu_.m(), bytes))
        showError(kMessageCaption, "The clipboard's text is too long to type in (more than 65535 bytes).");
}

void MainWindow::mountDrive(int drive) {
    const QString path = chooseFile({FileDialogRequest::Open, "VZ Disk files (*.dsk)"});
    if (path.isEmpty()) return;
    if (!disk_mount(emu_.m(), emu_.io, drive, path.toStdString())) {
        setStatus(drive, drive == 0 ? "D1: None" : "D2: None");
        showError(kMessageCaption, "Cannot open or create the disk image " + path + ".");
        return;
    }
    setStatus(drive, QString(drive == 0 ? "D1: " : "D2: ") + fileName(path));
}

void MainWindow::unmountDrive(int drive) {
    disk_unmount(emu_.io, drive);
    setStatus(drive, drive == 0 ? "D1: None" : "D2: None");
}

void MainWindow::updateCassetteMenu(bool running) {
    action(Command::Play)->setEnabled(!running);
    action(Command::Record)->setEnabled(!running);
    action(Command::Stop)->setEnabled(running);
}

void MainWindow::playTape() {
    const QString path = chooseFile({FileDialogRequest::Open, "wav files (*.wav)", false});
    if (!path.isEmpty()) {
        emu_.io.tape.path = tape_path_for(path.toStdString());
        setStatus(2, "Cass: " + fileName(path));
    }
    if (const char* refused = tape_play_message(tape_play(emu_.m(), emu_.io)))
        showError(kMessageCaption, refused);
    else
        updateCassetteMenu(true);
}

void MainWindow::recordTape() {
    const QString path = chooseFile({FileDialogRequest::Save, "wav files (*.wav)"});
    if (path.isEmpty()) return; // neither an earlier tape is overwritten nor a recording started
    emu_.io.tape.path = tape_path_for(path.toStdString());
    setStatus(2, "Cass: " + fileName(path));
    if (!tape_record(emu_.m(), emu_.io)) {
        showError(kMessageCaption, "Cannot create the tape file " + QString::fromStdString(emu_.io.tape.path) + ".");
        return;
    }
    updateCassetteMenu(true);
}

void MainWindow::stopTape() {
    tape_stop(emu_.m(), emu_.io);
    updateCassetteMenu(false);
}

void MainWindow::mapPrinter() {
    const QString path = chooseFile({FileDialogRequest::Save, "txt files (*.txt)"});
    if (!path.isEmpty()) report(printer_map(emu_.io, path.toStdString()));
}

void MainWindow::loadImage(bool rom) {
    const QString path = chooseFile({FileDialogRequest::Open, kAllFiles});
    if (path.isEmpty()) return;
    const std::string p = path.toStdString();
    report(rom ? rom_load(emu_.m(), p) : cartridge_load(emu_.m(), p));
}

void MainWindow::saveImage(bool rom) {
    const QString path = chooseFile({FileDialogRequest::Save, kAllFiles});
    if (path.isEmpty()) return;
    const std::string p = path.toStdString();
    report(rom ? rom_save(emu_.m(), p) : cartridge_save(emu_.m(), p));
}

void MainWindow::loadFont() {
    const QString path = chooseFile({FileDialogRequest::Open, "Font files (*.fnt)"});
    if (!path.isEmpty()) report(font_load(emu_.m(), path.toStdString()));
}

void MainWindow::loadBitmap() {
    const QString path = chooseFile({FileDialogRequest::Open, "BMP files (*.bmp)"});
    if (!path.isEmpty()) report(bitmap_import(emu_.m(), path.toStdString()));
}

void MainWindow::about() {
    QDialog dialog(this);
    dialog.setWindowTitle("About");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel("KOLT For Windows", &dialog));
    layout->addWidget(new QLabel(QString("Built ") + __DATE__, &dialog));
    layout->addWidget(new QLabel("VZ200/300 Emulator", &dialog));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.exec();
}

// ---- screen -------------------------------------------------------------------

void MainWindow::setPictureScale(int scale) {
    setChecked(scale == 1 ? Command::SizeX1 : scale == 2 ? Command::SizeX2 : Command::SizeX3);
    if (!windowed_) leaveFullScreen();
    const QSize picture(kFrameWidth * scale, kShownRows * scale);
    const QSize around = size() - display_->size();
    resize(picture + around);
}

void MainWindow::enterFullScreen() {
    if (windowed_) savedGeometry_ = geometry();
    windowed_ = false;
    setCursor(Qt::BlankCursor);
    menuBar()->hide();
    toolbar_->hide();
    statusBar()->hide();
    display_->setFullScreenLayout(true);
    showFullScreen();
}

void MainWindow::leaveFullScreen() {
    windowed_ = true;
    unsetCursor();
    showNormal();
    menuBar()->show();
    toolbar_->show();
    statusBar()->show();
    display_->setFullScreenLayout(false);
    if (savedGeometry_.isValid()) setGeometry(savedGeometry_);
}

void MainWindow::toggleFullScreen() {
    if (windowed_) enterFullScreen();
    else leaveFullScreen();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    driver_->setHold(FrameDriver::NotStarted, true);
    QMainWindow::closeEvent(event);
}
