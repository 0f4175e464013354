#include "frontend/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
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
#include <QSlider>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "files/config.h"
#include "files/media_files.h"
#include "files/rom_folders.h"
#include "frontend/audio_device.h"
#include "frontend/command_line.h"
#include "frontend/debugger_dialog.h"
#include "frontend/display_widget.h"
#include "frontend/frame_driver.h"
#include "frontend/gamepad.h"
#include "frontend/key_mapper.h"
#include "frontend/keyboard_help.h"
#include "frontend/settings_dialog.h"
#include "frontend/media.h"
#include "frontend/mixer.h"
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
constexpr const char* kByCharacterSetting = "keyboard/byCharacter";
constexpr const char* kVolumeSetting = "volume";
constexpr const char* kAudioNoticeSetting = "audioNoticeShown";
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
        QCheckBox* option = nullptr;
        if (!r.option.isEmpty()) {
            // Only Qt's own dialog takes a widget of ours.
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
                option = new QCheckBox(r.option, &dialog);
                grid->addWidget(option, grid->rowCount(), 0, 1, -1);
            }
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        r.optionChecked = option && option->isChecked();
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
    askYesNo = [this](const QString& caption, const QString& text) {
        return QMessageBox::question(this, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
               QMessageBox::Yes;
    };
    showNotice = [this](const QString& caption, const QString& text) {
        auto* box = new QMessageBox(QMessageBox::Information, caption, text, QMessageBox::Ok, this);
        box->setModal(false);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->show();
    };
    runSettingsDialog = [this] {
        SettingsDialog dialog(*this, this);
        dialog.exec();
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
            addAction(action); // the window's own, so it works with the menu bar hidden (full screen)
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
    keyboard_.byCharacter = QSettings().value(kByCharacterSetting, true).toBool();
    setChecked(keyboard_.byCharacter ? Command::KeyboardByCharacter : Command::KeyboardByPosition);
    volume_ = std::clamp(QSettings().value(kVolumeSetting, Mixer::kDefaultVolume).toInt(), 0, 100);

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
    const Replaying replaying(replaying_);
    openAudio();
    startupDir_ = startupDir;
    Machine& m = emu_.m();
    config_load(m.settings, startupDir_.toStdString());
    for (const SettingField field : startup_option_order())
        if (const auto id = option_command_for(m.settings, field)) runCommand(*id);
    if (line) applyCommandLine(*line);
    updateCassetteMenu(false);
    updateJoystickSources();
    machine_reset(m, romFolders());
    media_->machineReset();
    sound_clear(m.sound);
    if (line && line->disk2) media_->mountDisk(1, QString::fromStdString(*line->disk2));
    if (line && line->file) media_->open(QString::fromStdString(*line->file), Media::Source::CommandLine);
    updateActivation();
    updateRate();
    driver_->setHold(FrameDriver::NotStarted, !runFrames);
}

// After the start folder: the data folder's roms/ and the system's ROM folder.
std::vector<std::string> MainWindow::romFolders() const {
    std::vector<std::string> folders{startupDir_.toStdString()};
    for (std::string& f : rom_search_folders(dataFolder().toStdString())) folders.push_back(std::move(f));
    return folders;
}

QString MainWindow::dataFolder() { return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation); }

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
// A box says so the first time ever (never blocking the machine or a file
// being opened); after that only the status bar does.
void MainWindow::openAudio() {
    if (!audio_ || audio_->isOpen()) return;
    std::string why;
    if (audio_->open(&why)) {
        audio_->setVolume(volume_);
        return;
    }
    const QString reason = QString::fromStdString(why.empty() ? "no reason given" : why);
    status_->setState("1-sound", "Sound off: " + reason);
    if (QSettings().value(kAudioNoticeSetting, false).toBool()) return;
    QSettings().setValue(kAudioNoticeSetting, true);
    // Said once the machine's first picture is up behind the message.
    startUpWarning_ = "Sound is off: no audio device could be opened (" + reason +
                      "). The machine runs without sound; the status bar says so while it lasts.";
}

// ---- running --------------------------------------------------------------

bool MainWindow::isRunning() const { return driver_->running(); }

bool MainWindow::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::WindowBlocked:
        keyboard_.releaseAll();
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
        keyboard_.releaseAll(); // keys released elsewhere never reach us
        setRewinding(false);
    }
    driver_->setHold(FrameDriver::Inactive, inactive);
    updateTitle();
}

// The chosen rate, or the Maximum while a tape runs, text is typed or a file
// waits for the machine to start, unless a key is held: a user typing then
// would see every key repeat.
void MainWindow::updateRate() {
    const Machine& m = emu_.m();
    const bool busy = tape_running(m.tape) || m.input.typingActive || media_->starting();
    const bool fast = fastTapeAndTyping_ && busy && !keyboard_.anyDown();
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

// The rate, and the speed over the last second where it is not 100 %.
void MainWindow::showSpeed() {
    const auto now = std::chrono::steady_clock::now();
    ++speedFrames_;
    const auto elapsed = now - speedSince_;
    if (elapsed < std::chrono::seconds(1) && !speedText_.isEmpty()) return;
    QString text = driver_->maximumRate() ? "Maximum" : "Normal";
    if (elapsed >= std::chrono::seconds(1) && elapsed < std::chrono::seconds(3)) {
        const double percent = speedFrames_ * std::chrono::duration<double>(kFramePeriod).count() /
                               std::chrono::duration<double>(elapsed).count() * 100.0;
        const int shown = int(percent + 0.5);
        if (shown < 98 || shown > 102) text += QString(" %1 %").arg(shown);
    }
    speedSince_ = now;
    speedFrames_ = 0;
    if (text != speedText_) status_->setState("5-rate", text);
    speedText_ = text;
}

void MainWindow::updateTitle() {
    const bool paused = driver_->held(FrameDriver::Paused);
    setWindowTitle(paused ? QString(kWindowTitle) + " - Paused" : QString(kWindowTitle));
    const bool away = driver_->held(FrameDriver::Inactive) && !driver_->held(FrameDriver::NotStarted);
    status_->setState("2-paused", paused ? "Paused" : away ? "Paused (inactive)" : "");
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
    showSpeed();
    poll_input(m, keyboard_.pollKeys(), {keypadJoystick_, gamepadHeld()}, keyboard_.pollCharacters());
    keyboard_.afterPoll();
    states_->recordFrame(driver_->maximumRate());
    display_->present(m);
    if (!presentedOnce_) {
        presentedOnce_ = true;
        if (onFirstFrame) onFirstFrame();
        if (!startUpWarning_.isEmpty())
            QTimer::singleShot(0, this, [this] { showNotice(kMessageCaption, std::exchange(startUpWarning_, {})); });
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
        // Acted on at the event, not at the next frame: a frame may not come
        // (Pause), and quick taps fell between two.
        if (key->key() == Qt::Key_F11 || (key->key() == Qt::Key_Escape && !windowed_)) {
            if (type == QEvent::KeyPress && !key->isAutoRepeat()) {
                if (key->key() == Qt::Key_F11) toggleFullScreen();
                else leaveFullScreen();
            }
            return true;
        }
        // Menus keep their Alt accelerators; everything else is the machine's.
        // A release always counts, or a key let go while Alt is down would
        // stay pressed in the matrix.
        const bool forMenus = key->modifiers() & Qt::AltModifier;
        if (!key->isAutoRepeat() && (type == QEvent::KeyRelease || !forMenus)) keyboard_.event(*key);
        if (forMenus) return QMainWindow::eventFilter(watched, event);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
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
        const bool changed = setting_value(m.settings, info->field) != info->value;
        apply_setting(m.settings, info->field, info->value);
        setChecked(id);
        if (info->field == SettingField::FrameRateNormal) updateRate();
        if (changed && !replaying_) {
            switch (info->field) {
            case SettingField::Model: offerReset("The model changes at the next reset."); break;
            case SettingField::TvStandard: offerReset("The TV standard changes at the next reset."); break;
            case SettingField::CartridgeEnabled: offerReset("The cartridge slot changes at the next reset."); break;
            case SettingField::RamTop:
                offerReset("The memory size has changed; the running program may have lost its memory.");
                break;
            default: break;
            }
        }
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
        status_->setState("0-reset", "");
        machine_reset(m, romFolders());
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
    case Command::KeyboardByCharacter:
    case Command::KeyboardByPosition:
        setChecked(id);
        keyboard_.releaseAll();
        keyboard_.byCharacter = id == Command::KeyboardByCharacter;
        QSettings().setValue(kByCharacterSetting, keyboard_.byCharacter);
        break;
    case Command::Volume: chooseVolume(); break;
    case Command::OpenSettings: runSettingsDialog(); break;
    case Command::KeyboardHelp: show_keyboard_help(this, keyboard_.byCharacter); break;
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
    keyboard_.releaseAll();
    driver_->setHold(FrameDriver::InDebugger, true);
    runDebuggerDialog();
    driver_->setHold(FrameDriver::InDebugger, false);
}

// A change that takes effect at the next reset: now, or later with the
// status bar saying a reset is pending.
void MainWindow::offerReset(const QString& change) {
    if (askYesNo(kMessageCaption, change + "\n\nReset now?")) runCommand(Command::Reset);
    else status_->setState("0-reset", "Reset pending");
}

bool MainWindow::report(const FileOutcome& outcome, const QString& path) {
    if (!outcome.message.empty()) {
        QString text = QString::fromStdString(outcome.message);
        if (!path.isEmpty() && !text.contains(path)) text += "\n\nFile: " + QDir::toNativeSeparators(path);
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
    const Replaying replaying(replaying_);
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

void MainWindow::setVolume(int percent) {
    volume_ = std::clamp(percent, 0, 100);
    QSettings().setValue(kVolumeSetting, volume_);
    if (audio_) audio_->setVolume(volume_);
}

// Heard as the slider moves; Cancel puts the volume back.
void MainWindow::chooseVolume() {
    const int before = volume_;
    QDialog dialog(this);
    dialog.setWindowTitle("Volume");
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(&dialog);
    auto* slider = new QSlider(Qt::Horizontal, &dialog);
    slider->setRange(0, 100);
    slider->setValue(volume_);
    slider->setMinimumWidth(240);
    const auto show = [label](int v) { label->setText(QString("Volume of all sound: %1 %").arg(v)); };
    show(volume_);
    connect(slider, &QSlider::valueChanged, &dialog, [this, show](int v) {
        show(v);
        setVolume(v);
    });
    layout->addWidget(label);
    layout->addWidget(slider);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) setVolume(before);
}

QString about_text() {
#if defined(Q_OS_LINUX)
    const char* platform = "Linux";
#elif defined(Q_OS_WIN)
    const char* platform = "Windows";
#elif defined(Q_OS_MACOS)
    const char* platform = "macOS";
#else
    const char* platform = "this platform";
#endif
    return QString("KOLT for %1\nVersion %2, built %3\nVZ200/300 Emulator").arg(platform, KOLT_VERSION, __DATE__);
}

void MainWindow::about() {
    QDialog dialog(this);
    dialog.setWindowTitle("About");
    auto* layout = new QVBoxLayout(&dialog);
    auto* text = new QLabel(about_text(), &dialog);
    text->setObjectName("aboutText");
    layout->addWidget(text);
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
