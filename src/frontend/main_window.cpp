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

#include <thread>

#include "files/config.h"
#include "files/media_files.h"
#include "files/vz_file.h"
#include "frontend/audio_device.h"
#include "frontend/debugger_dialog.h"
#include "frontend/display_widget.h"
#include "frontend/key_mapper.h"
#include "machine/cassette.h"
#include "machine/disk.h"
#include "machine/frame.h"

namespace {

constexpr const char* kWindowTitle = "  KOLT - VZ200/300 Emulator";
constexpr const char* kMessageCaption = "KOLT";
constexpr auto kFramePeriod = std::chrono::microseconds(20000);
constexpr auto kTimerEarly = std::chrono::microseconds(1500); // the timer wakes this early, then sleeps precisely
constexpr auto kMaximumSlice = std::chrono::milliseconds(12);  // frames run back to back for this long

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

    frameTimer_ = new QTimer(this);
    frameTimer_->setSingleShot(true);
    frameTimer_->setTimerType(Qt::PreciseTimer);
    connect(frameTimer_, &QTimer::timeout, this, &MainWindow::onFrameTimer);

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
    startupDir_ = startupDir;
    Machine& m = emu_.m();
    config_load(m.settings, startupDir_.toStdString());
    for (const SettingField field : startup_option_order())
        if (const auto id = option_command_for(m.settings, field)) runCommand(*id);
    updateCassetteMenu(false);
    machine_reset(m);
    sound_clear(m.sound);
    deadline_ = std::chrono::steady_clock::now();
    framesEnabled_ = runFrames;
    updateRunning();
}

// ---- running --------------------------------------------------------------

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::WindowStateChange) {
        if (!isActiveWindow()) keys_.reset(); // keys released elsewhere never reach us
        updateRunning();
    }
}

void MainWindow::updateRunning() {
    running_ = isActiveWindow() && !isMinimized();
    if (running_ && framesEnabled_ && !frameTimer_->isActive()) scheduleFrame();
}

void MainWindow::scheduleFrame() {
    if (!framesEnabled_ || !running_) return;
    if (!emu_.m().settings.frameRateNormal) {
        frameTimer_->start(0);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - now - kTimerEarly);
    frameTimer_->start(int(std::max<int64_t>(0, wait.count())));
}

void MainWindow::onFrameTimer() {
    if (!running_ || inDebugger_ || QApplication::activeModalWidget()) return; // resumed by activation
    if (emu_.m().settings.frameRateNormal) {
        // Finish the wait precisely, then count the next deadline from now: a
        // late frame does not wait, and lost time is not made up.
        std::this_thread::sleep_until(deadline_);
        deadline_ = std::max(deadline_, std::chrono::steady_clock::now()) + kFramePeriod;
        frameStep();
    } else {
        const auto sliceEnd = std::chrono::steady_clock::now() + kMaximumSlice;
        while (std::chrono::steady_clock::now() < sliceEnd && !emu_.m().settings.frameRateNormal)
            if (!frameStep()) break;
        deadline_ = std::chrono::steady_clock::now();
    }
    scheduleFrame();
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
    }
    if (m.settings.frameRateNormal && audio_ && audio_->isOpen()) sound_frame(m, *audio_);
    return true;
}

// ---- keyboard ---------------------------------------------------------------

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && isActiveWindow() &&
        !QApplication::activeModalWidget() && !QApplication::activePopupWidget()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Menus keep their Alt accelerators; everything else is the machine's.
        if (key->modifiers() & Qt::AltModifier) return QMainWindow::eventFilter(watched, event);
        if (!key->isAutoRepeat())
            if (const auto host = host_key_for(*key)) keys_.set(*host, type == QEvent::KeyPress);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- commands ---------------------------------------------------------------

void MainWindow::runCommand(Command id) {
    Machine& m = emu_.m();
    const CommandInfo* info = command_info(id);
    if (info && info->field != SettingField::None) {
        apply_setting(m.settings, info->field, info->value);
        setChecked(id);
        if (info->field == SettingField::FrameRateNormal) {
            deadline_ = std::chrono::steady_clock::now();
            if (frameTimer_->isActive()) scheduleFrame();
        }
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
        deadline_ = std::chrono::steady_clock::now();
        break;
    case Command::Exit: close(); break;
    case Command::Paste: paste(); break;
    case Command::SizeX1: setPictureScale(1); break;
    case Command::SizeX2: setPictureScale(2); break;
    case Command::SizeX3: setPictureScale(3); break;
    case Command::FullScreen: enterFullScreen(); break;
    case Command::SpeakerEnabled:
        setChecked(id);
        if (audio_) audio_->startStreams();
        break;
    case Command::SpeakerDisabled:
        setChecked(id);
        if (audio_) audio_->stopStreams();
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

void MainWindow::openDebugger() {
    if (inDebugger_) return;
    inDebugger_ = true;
    keys_.reset();
    if (audio_) audio_->stopStreams();
    runDebuggerDialog();
    // Whatever the Speaker choice was, the streams play again.
    if (audio_) audio_->startStreams();
    inDebugger_ = false;
    deadline_ = std::chrono::steady_clock::now();
    updateRunning();
    scheduleFrame();
}

void MainWindow::report(const FileOutcome& outcome) {
    if (!outcome.message.empty()) showError(kMessageCaption, QString::fromStdString(outcome.message));
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
    if (!disk_mount(emu_.m(), emu_.io, drive, path.toStdString()))
        showError(kMessageCaption, "Cannot open or create the disk image " + path + ".");
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
    const QString path = chooseFile({FileDialogRequest::Open, "All files (*.*)"});
    if (path.isEmpty()) return;
    const std::string p = path.toStdString();
    report(rom ? rom_load(emu_.m(), p) : cartridge_load(emu_.m(), p));
}

void MainWindow::saveImage(bool rom) {
    const QString path = chooseFile({FileDialogRequest::Save, "All files (*.*)"});
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
    menuBar()->hide();
    toolbar_->hide();
    statusBar()->hide();
    display_->setFullScreenLayout(true);
    showFullScreen();
}

void MainWindow::leaveFullScreen() {
    windowed_ = true;
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
    frameTimer_->stop();
    framesEnabled_ = false;
    QMainWindow::closeEvent(event);
}
