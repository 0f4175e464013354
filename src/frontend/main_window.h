// The main window: menu, toolbar of ten buttons, the picture, the status bar,
// and the wiring between them and the parts that do the work: the frame
// driver (frame_driver.h), files and the media they bring (media.h), the
// status fields (status_bar.h), the display (display_widget.h) and the audio
// device (audio_device.h).
//
// Every command of the command table is carried out here: option items write
// their Settings field and move their check mark; the others call the core's
// or the media's operations. Frames run while the window is active, not
// minimised, not paused and not blocked by a modal dialog (a closing dialog
// resumes them even where the window system sends no activation event). The
// machine's sound is heard only while frames run at the Normal rate and
// Speaker is Enabled. While a tape runs or text is typed, frames run at the
// Maximum rate (Fast Tape and Typing), unless a key is held down.
#pragma once

#include <QMainWindow>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

#include "files/file_outcome.h"
#include "frontend/commands.h"
#include "frontend/key_mapper.h"
#include "input/keyboard.h"
#include "machine/emulator.h"

class QAction;
class QActionGroup;
class QKeyEvent;
class DisplayWidget;
class FrameDriver;
class Gamepad;
class Media;
class SdlAudio;
class States;
class StatusFields;
struct CommandLine;

// What a file dialog is asked for; the dialog itself can be replaced (tests).
struct FileDialogRequest {
    enum Kind { Open, Save };
    Kind kind = Open;
    QString filter;        // e.g. "VZ files (*.vz)"
    bool mustExist = true; // Open dialogs: the chosen file must exist
    QString option{};      // a check box under the dialog, none when empty
    mutable bool optionChecked = false; // set by the dialog: the check box's state
};

// "KOLT for <platform>", the version and the build date.
QString about_text();

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `audio` may be null (tests); it is opened by startUp.
    explicit MainWindow(SdlAudio* audio, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up after the window: the audio device (without one the machine
    // runs silently, saying why once), configuration from `startupDir`, check
    // marks from the loaded settings, the command line's options, Stop greyed,
    // reset, mixer cleared, the command line's file; then frames run whenever
    // the window is active (unless `runFrames` is false, for tests).
    void startUp(const QString& startupDir, bool runFrames = true, const CommandLine* line = nullptr);

    Emulator& emulator() { return emu_; }
    QAction* action(Command id) const;
    QString statusText(int field) const;
    // The user's data folder: quick slots, and roms/ where a ROM chosen with
    // "Use this ROM from now on" is kept.
    static QString dataFolder();
    StatusFields& status() { return *status_; }
    Media& media() { return *media_; }
    States& states() { return *states_; }
    std::array<int, 3> statusEdges() const { return statusEdges_; }
    DisplayWidget* display() const { return display_; }
    FrameDriver* frameDriver() const { return driver_; }
    bool isRunning() const;
    bool isWindowedDisplay() const { return windowed_; }
    int volume() const { return volume_; }
    void setVolume(int percent); // 0-100 %, remembered
    HostKeyboard& keyboard() { return keyboard_; }
    uint64_t framesRun() const { return framesRun_; }

    // One frame step as the frame driver runs it; returns false when a
    // breakpoint stopped the frame (the debugger is then opened).
    bool frameStep();

    // Shows a file operation's message: a refusal as an error, a note on
    // something done (a load cut at 0xFFFF) as a warning, naming `path`
    // where the message does not. Returns whether it was done.
    bool report(const FileOutcome& outcome, const QString& path = {});
    void updateCassetteMenu(bool running);
    // A change that acts at the next reset: asks "Reset now?"; No leaves a
    // reset pending, said in the status bar.
    void offerReset(const QString& change);
    // A state was loaded: check marks, status fields and pacing follow its settings.
    void stateLoaded();

    // Where File > Save Screenshot writes: a new kolt-YYYYMMDD-HHMMSS.png here.
    QString screenshotFolder;

    // Replaceable for tests: the file dialog, and the message boxes.
    std::function<QString(const FileDialogRequest&)> chooseFile;
    std::function<void(const QString& caption, const QString& text)> showError;
    std::function<void(const QString& caption, const QString& text)> showWarning;
    // A notice that does not block (the window goes on running behind it).
    std::function<void(const QString& caption, const QString& text)> showNotice;
    // Replaceable for tests: running the settings dialog.
    std::function<void()> runSettingsDialog;
    // A question with buttons; returns the index of the one chosen (the last
    // one is the answer to Escape), or -1.
    std::function<int(const QString& caption, const QString& text, const QStringList& choices)> askChoice;
    // Replaceable for tests: running the debugger dialog.
    std::function<void()> runDebuggerDialog;
    // Replaceable for tests: a question answered Yes (true) or No.
    std::function<bool(const QString& caption, const QString& text)> askYesNo;
    // Called once, when the first frame has been presented.
    std::function<void()> onFirstFrame;

public slots:
    void runCommand(Command id);

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class Host;

    void buildMenusAndToolbar();
    void setChecked(Command id);
    void setPictureScale(int scale);
    void toggleFullScreen();
    void enterFullScreen();
    void leaveFullScreen();
    void updateActivation();
    void updateRate();
    void updateSound();
    void updateTitle();
    void showSpeed();
    void updateJoystickSources();
    void setRewinding(bool on);
    uint8_t gamepadHeld();
    void openAudio();
    void openDebugger();
    void applyCommandLine(const CommandLine& line);
    void saveScreenshot();
    void about();
    void chooseVolume();

    Emulator emu_;
    std::unique_ptr<Host> host_;
    SdlAudio* audio_;
    DisplayWidget* display_ = nullptr;
    StatusFields* status_ = nullptr;
    Media* media_ = nullptr;
    States* states_ = nullptr;
    std::array<int, 3> statusEdges_{50, 100, -1};
    std::map<Command, QAction*> actions_;
    std::map<CheckGroup, QActionGroup*> groups_;
    QToolBar* toolbar_ = nullptr;
    HostKeyboard keyboard_;
    QString startupDir_;
    std::vector<std::string> romFolders() const;
    QString startUpWarning_;
    bool windowed_ = true;
    bool scaleChosen_ = false; // by the command line; otherwise the window starts at x2
    QRect savedGeometry_;
    bool presentedOnce_ = false;
    bool soundFed_ = false;
    bool fastTapeAndTyping_ = true;
    bool keypadJoystick_ = true;
    int volume_ = 50;
    bool replaying_ = false; // settings replayed (start-up, a state loaded): no questions
    struct Replaying {
        explicit Replaying(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
        ~Replaying() { flag_ = was_; }
        bool& flag_;
        bool was_;
    };
    std::chrono::steady_clock::time_point speedSince_;
    int speedFrames_ = 0;
    QString speedText_;
    std::unique_ptr<Gamepad> gamepad_; // while Options > Joystick > Gamepad is on
    uint8_t gamepadBits_ = 0;
    std::chrono::steady_clock::time_point gamepadPolled_;
    bool showingFast_ = false;
    uint64_t framesRun_ = 0;
    FrameDriver* driver_ = nullptr;
};
