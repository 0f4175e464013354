#include "frontend/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <utility>

#include "files/config.h"
#include "files/media_files.h"
#include "frontend/audio_device.h"
#include "frontend/command_line.h"
#include "frontend/debugger_dialog.h"
#include "frontend/display_widget.h"
#include "frontend/frame_driver.h"
#include "frontend/gamepad.h"
#include "frontend/key_mapper.h"
#include "frontend/media.h"
#include "frontend/states.h"
#include "frontend/status_bar.h"
#include "machine/cassette.h"
#include "machine/frame.h"
#include "video/picture.h"

namespace {

constexpr const char* kWindowTitle = "  KOLT - VZ200/300 Emulator";
constexpr const char* kMessageCaption = "KOLT";
constexpr const char* kFastSetting = "fastTapeAndTyping";
constexpr const char* kKeypadSetting = "joystick/keypad";
constexpr const char* kGamepadSetting = "joystick/gamepad";
// A controller is read this often at most: at the Maximum rate frames come
// thousands a second, and SDL reads the devices each time it is asked.
constexpr auto kGamepadPollPeriod = std::chrono::milliseconds(5);

const char* const kToolbarIcons[10] = {"load_vz", "save_vz", "paste", "printer", "drive1",
                                       "drive2", "play",    "record", "stop",  "debugger"};

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
        if (drive == 0 || drive == 1) w_.status_->set(drive, QString::fromStdString(text));
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
    setAcceptDrops(true);
    display_ = new DisplayWidget(this);
    display_->setMinimumSize(kFrameWidth, kShownRows);
    setCentralWidget(display_);
    status_ = new StatusFields(statusBar());
    buildMenusAndToolbar();
    resize(kFrameWidth, kShownRows);

    driver_ = new FrameDriver(this);
    driver_->runFrame = [this] { return frameStep(); };
    connect(driver_, &FrameDriver::stateChanged, this, &MainWindow::updateSound);

    screenshotFolder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (screenshotFolder.isEmpty()) screenshotFolder = QDir::homePath();

    // Each kind of dialog opens in the folder it was last used in.
    chooseFile = [this](const FileDialogRequest& r) {
        QFileDialog dialog(this);
        dialog.setNameFilter(r.filter);
        dialog.setAcceptMode(r.kind == FileDialogRequest::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(r.kind == FileDialogRequest::Open && r.mustExist ? QFileDialog::ExistingFile
                                                                           : QFileDialog::AnyFile);
        const QString folderKey = "dialogFolders/" + r.filter;
        const QString folder = QSettings().value(folderKey).toString();
        if (!folder.isEmpty()) dialog.setDirectory(folder);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        const QString chosen = dialog.selectedFiles().first();
        QSettings().setValue(folderKey, QFileInfo(chosen).absolutePath());
        return chosen;
    };
    showError = [this](const QString& caption, const QString& text) {
        QMessageBox::critical(this, caption, text);
    };
    showWarning = [this](const QString& caption, const QString& text) {
        QMessageBox::warning(this, caption, text);
    };
    askChoice = [this](const QString& caption, const QString& text, const QStringList& choices) {
        QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::NoButton, this);
        QList<QAbstractButton*> buttons;
        for (const QString& c : choices) buttons << box.addButton(c, QMessageBox::AcceptRole);
        box.setEscapeButton(buttons.isEmpty() ? nullptr : buttons.back());
        box.exec();
        return int(buttons.indexOf(box.clickedButton()));
    };
    runDebuggerDialog = [this] {
        DebuggerDialog dialog(emu_, this);
        dialog.exec();
    };
    qApp->installEventFilter(this);
    QTimer::singleShot(0, this, [this] {
        if (!scaleChosen_) runCommand(Command::SizeX2);
    });
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
        if (!info.shortcut.empty()) {
            action->setShortcut(QKeySequence(QString::fromUtf8(info.shortcut.data(), qsizetype(info.shortcut.size()))));
            action->setShortcutContext(Qt::ApplicationShortcut);
        }
        if (info.group != CheckGroup::None) {
            action->setCheckable(true);
            QActionGroup*& group = groups_[info.group];
            if (!group) group = new QActionGroup(this);
            group->addAction(action);
            action->setChecked(info.checkedInitially);
        }
        if (info.toggle) action->setCheckable(true);
        actions_[id] = action;
        if (info.toolbarSlot >= 0) toolbarCommands[size_t(info.toolbarSlot)] = id;
    }

    // File > Recent Files, before the Disk menu.
    QMenu* file = menus.at("&File|");
    QMenu* recent = new QMenu("Recent Files", file);
    file->insertMenu(menus.at("&File|Disk|")->menuAction(), recent);
    media_ = new Media(*this, recent);
    states_ = new States(*this);

    fastTapeAndTyping_ = QSettings().value(kFastSetting, true).toBool();
    action(Command::FastTapeAndTyping)->setChecked(fastTapeAndTyping_);
    action(Command::JoystickKeypad)->setChecked(QSettings().value(kKeypadSetting, true).toBool());
    action(Command::JoystickGamepad)->setChecked(QSettings().value(kGamepadSetting, true).toBool());

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

QString MainWindow::statusText(int field) const { return status_->text(field); }

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

void MainWindow::startUp(const QString& startupDir, bool runFrames, const CommandLine* line) {
    openAudio();
    startupDir_ = startupDir;
    Machine& m = emu_.m();
    config_load(m.settings, startupDir_.toStdString());
    for (const SettingField field : startup_option_order())
        if (const auto id = option_command_for(m.settings, field)) runCommand(*id);
    if (line) applyCommandLine(*line);
    updateCassetteMenu(false);
    updateJoystickSources();
    machine_reset(m);
    media_->machineReset();
    sound_clear(m.sound);
    if (line && line->disk2) media_->mountDisk(1, QString::fromStdString(*line->disk2));
    if (line && line->file) media_->open(QString::fromStdString(*line->file), Media::Source::CommandLine);
    updateActivation();
    updateRate();
    driver_->setHold(FrameDriver::NotStarted, !runFrames);
}

// What the command line sets for this run, through the commands that set the
// same from the menu, so check marks and settings agree.
void MainWindow::applyCommandLine(const CommandLine& line) {
    Machine& m = emu_.m();
    if (line.model) runCommand(*line.model == kModelVZ300 ? Command::ModelVz300 : Command::ModelVz200);
    if (line.rom) settings_set_path(m.settings.romFile, *line.rom);
    if (line.cartridge) {
        settings_set_path(m.settings.cartridgeFile, *line.cartridge);
        runCommand(Command::CartridgeEnabled);
    }
    if (line.noCartridge) runCommand(Command::CartridgeDisabled);
    if (line.fast) runCommand(Command::RateMaximum);
    scaleChosen_ = line.scale || line.fullScreen;
    if (line.scale) runCommand(*line.scale == 1 ? Command::SizeX1 : *line.scale == 2 ? Command::SizeX2 : Command::SizeX3);
    if (line.fullScreen) enterFullScreen();
}

// Without a device the machine runs all the same, silently, and says why once.
void MainWindow::openAudio() {
    if (!audio_ || audio_->isOpen()) return;
    std::string why;
    if (audio_->open(&why)) return;
    const QString reason = QString::fromStdString(why.empty() ? "no reason given" : why);
    status_->setState("1-sound", "Sound off: " + reason);
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
        setRewinding(false);
    }
    driver_->setHold(FrameDriver::Inactive, inactive);
}

// The chosen rate, or the Maximum while a tape runs, text is typed or a file
// waits for the machine to start, unless a key is held: a user typing then
// would see every key repeat.
void MainWindow::updateRate() {
    const Machine& m = emu_.m();
    const bool busy = tape_running(m.tape) || m.input.typingActive || media_->starting();
    const bool fast = fastTapeAndTyping_ && busy && keys_.none();
    driver_->setMaximumRate((!m.settings.frameRateNormal || fast) && !states_->rewinding());
    const bool showFast = fast && m.settings.frameRateNormal;
    if (showFast != showingFast_) status_->setState("3-fast", showFast ? "Fast" : "");
    showingFast_ = showFast;
}

// The streams are fed, and heard, only while frames run at the Normal rate.
// Feeding them again starts from silence rather than what the rings held.
void MainWindow::updateSound() {
    const bool fed = driver_->running() && !driver_->maximumRate() && !states_->rewinding();
    if (fed == soundFed_) return;
    soundFed_ = fed;
    if (!audio_) return;
    if (fed) sound_resume(emu_.m().sound, *audio_);
    audio_->setStreamsFed(fed);
}

void MainWindow::updateTitle() {
    const bool paused = driver_->held(FrameDriver::Paused);
    setWindowTitle(paused ? QString(kWindowTitle) + " - Paused" : QString(kWindowTitle));
    status_->setState("2-paused", paused ? "Paused" : "");
    action(Command::Pause)->setChecked(paused);
}

bool MainWindow::frameStep() {
    Machine& m = emu_.m();
    if (states_->rewinding()) {
        if (states_->rewindStep()) display_->present(m);
        return true;
    }
    if (machine_run_frame(m, emu_.io) != 0) {
        QTimer::singleShot(0, this, [this] { runCommand(Command::Debugger); });
        return false;
    }
    ++framesRun_;
    if (poll_input(m, keys_, {keypadJoystick_, gamepadHeld()})) toggleFullScreen();
    states_->recordFrame(driver_->maximumRate());
    display_->present(m);
    if (!presentedOnce_) {
        presentedOnce_ = true;
        if (onFirstFrame) onFirstFrame();
        if (!startUpWarning_.isEmpty())
            QTimer::singleShot(0, this, [this] { showWarning(kMessageCaption, std::exchange(startUpWarning_, {})); });
    }
    media_->afterFrame();
    updateRate();
    if (soundFed_ && audio_ && audio_->isOpen()) sound_frame(m, *audio_);
    return true;
}

// ---- keyboard and joystick ------------------------------------------------------

void MainWindow::setRewinding(bool on) {
    if (on == states_->rewinding()) return;
    states_->setRewinding(on);
    updateRate();
    updateSound();
}

void MainWindow::updateJoystickSources() {
    keypadJoystick_ = action(Command::JoystickKeypad)->isChecked();
    const bool gamepad = action(Command::JoystickGamepad)->isChecked();
    QSettings().setValue(kKeypadSetting, keypadJoystick_);
    QSettings().setValue(kGamepadSetting, gamepad);
    if (gamepad && !gamepad_) {
        gamepad_ = std::make_unique<Gamepad>();
        if (!gamepad_->available())
            status_->flash("No gamepads: " + QString::fromStdString(gamepad_->error()));
    }
    if (!gamepad) gamepad_.reset();
    gamepadBits_ = 0;
}

uint8_t MainWindow::gamepadHeld() {
    if (!gamepad_ || !gamepad_->available()) return 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - gamepadPolled_ >= kGamepadPollPeriod) {
        gamepadBits_ = gamepad_->poll();
        gamepadPolled_ = now;
    }
    return gamepadBits_;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    const auto* widget = qobject_cast<QWidget*>(watched);
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && widget && widget->window() == this &&
        isActiveWindow() && !QApplication::activeModalWidget() && !QApplication::activePopupWidget()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F7) {
            if (!key->isAutoRepeat()) setRewinding(type == QEvent::KeyPress);
            return true;
        }
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

// ---- dropped files --------------------------------------------------------------

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls()) return;
    for (const QUrl& url : event->mimeData()->urls())
        if (!url.isLocalFile() || media_kind_for(url.toLocalFile().toStdString()) == MediaKind::Unknown) return;
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) media_->open(url.toLocalFile(), Media::Source::Drop);
    event->acceptProposedAction();
    activateWindow();
}

// ---- commands ---------------------------------------------------------------

void MainWindow::runCommand(Command id) {
    Machine& m = emu_.m();
    const CommandInfo* info = command_info(id);
    if (info && info->field != SettingField::None) {
        apply_setting(m.settings, info->field, info->value);
        setChecked(id);
        if (info->field == SettingField::FrameRateNormal) updateRate();
        return;
    }
    switch (id) {
    case Command::LoadVz: media_->loadVz(); break;
    case Command::SaveVz: media_->saveVz(); break;
    case Command::LoadTxt: media_->loadText(); break;
    case Command::LoadBas: media_->loadBas(); break;
    case Command::ExportListing: media_->exportListing(); break;
    case Command::CopyScreenText: media_->copyScreenText(); break;
    case Command::MountDrive1: media_->mountDrive(0); break;
    case Command::MountDrive2: media_->mountDrive(1); break;
    case Command::UnmountDrive1: media_->unmountDrive(0); break;
    case Command::UnmountDrive2: media_->unmountDrive(1); break;
    case Command::Play: media_->playTape(); break;
    case Command::Record: media_->recordTape(); break;
    case Command::Stop: media_->stopTape(); break;
    case Command::MapPrinter: media_->mapPrinter(); break;
    case Command::LoadRom: media_->loadImage(true); break;
    case Command::LoadCartridge: media_->loadImage(false); break;
    case Command::LoadFont: media_->loadFont(); break;
    case Command::SaveRom: media_->saveImage(true); break;
    case Command::SaveCartridge: media_->saveImage(false); break;
    case Command::SaveScreenshot: saveScreenshot(); break;
    case Command::Reset:
        machine_reset(m);
        media_->machineReset();
        states_->forgetHistory();
        driver_->restartPacing();
        break;
    case Command::SaveState: states_->saveState(); break;
    case Command::LoadState: states_->loadState(); break;
    case Command::QuickSave: states_->quickSave(); break;
    case Command::QuickLoad: states_->quickLoad(); break;
    case Command::NextSlot: states_->nextSlot(1); break;
    case Command::PreviousSlot: states_->nextSlot(-1); break;
    case Command::RewindSecond:
        states_->rewindSeconds(1);
        display_->present(m);
        break;
    case Command::Pause:
        driver_->setHold(FrameDriver::Paused, !driver_->held(FrameDriver::Paused));
        updateTitle();
        break;
    case Command::Exit: close(); break;
    case Command::Paste: media_->paste(); break;
    case Command::SizeX1: setPictureScale(1); break;
    case Command::SizeX2: setPictureScale(2); break;
    case Command::SizeX3: setPictureScale(3); break;
    case Command::FullScreen: enterFullScreen(); break;
    case Command::RateSwitch: runCommand(m.settings.frameRateNormal ? Command::RateMaximum : Command::RateNormal); break;
    case Command::JoystickKeypad:
    case Command::JoystickGamepad: updateJoystickSources(); break;
    case Command::FastTapeAndTyping:
        fastTapeAndTyping_ = action(id)->isChecked();
        QSettings().setValue(kFastSetting, fastTapeAndTyping_);
        updateRate();
        break;
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
    case Command::LoadBitmap: media_->loadBitmap(); break;
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

bool MainWindow::report(const FileOutcome& outcome) {
    if (!outcome.message.empty()) {
        const QString text = QString::fromStdString(outcome.message);
        if (outcome.done) showWarning(kMessageCaption, text);
        else showError(kMessageCaption, text);
    }
    return outcome.done;
}

void MainWindow::updateCassetteMenu(bool running) {
    action(Command::Play)->setEnabled(!running);
    action(Command::Record)->setEnabled(!running);
    action(Command::Stop)->setEnabled(running);
}

void MainWindow::stateLoaded() {
    const Machine& m = emu_.m();
    for (const SettingField field : startup_option_order())
        if (const auto id = option_command_for(m.settings, field)) runCommand(*id);
    media_->stateLoaded();
    display_->present(m);
    driver_->restartPacing();
    updateRate();
}

// The picture as kolt-headless --screenshot writes it, under a new name.
void MainWindow::saveScreenshot() {
    QDir().mkpath(screenshotFolder);
    const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
    QString path = QDir(screenshotFolder).filePath("kolt-" + stamp + ".png");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QDir(screenshotFolder).filePath(QString("kolt-%1-%2.png").arg(stamp).arg(n));
    const std::vector<uint8_t> rgb = picture_rgb(emu_.m());
    const QImage picture(rgb.data(), kFrameWidth, kShownRows, kFrameWidth * 3, QImage::Format_RGB888);
    if (!picture.save(path, "PNG")) {
        showError(kMessageCaption, "Cannot write the screenshot " + path + ".");
        return;
    }
    status_->flash("Screenshot saved to " + QDir::toNativeSeparators(path));
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
    if (isMaximized()) showNormal();
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
