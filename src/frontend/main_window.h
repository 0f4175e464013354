// The main window: menu, toolbar of ten buttons, the picture, a three-field
// status bar, and the frame driver that runs the machine between events.
//
// Every command of the command table is carried out here: option items write
// their Settings field and move their check mark; the others call the core's
// file, tape, disk and machine operations and add the dialogs and messages.
// Frames run through the FrameDriver while the window is active, not
// minimised and not blocked by a modal dialog (a closing dialog resumes them
// even where the window system sends no activation event). The machine's
// sound is heard only while frames run at the Normal rate and Speaker is
// Enabled.
#pragma once

#include <QMainWindow>

#include <functional>
#include <map>
#include <memory>

#include "files/file_outcome.h"
#include "frontend/commands.h"
#include "input/keyboard.h"
#include "machine/emulator.h"

class QAction;
class QActionGroup;
class QLabel;
class QKeyEvent;
class DisplayWidget;
class FrameDriver;
class SdlAudio;

// What a file dialog is asked for; the dialog itself can be replaced (tests).
struct FileDialogRequest {
    enum Kind { Open, Save };
    Kind kind = Open;
    QString filter;        // e.g. "VZ files (*.vz)"
    bool mustExist = true; // Open dialogs: the chosen file must exist
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // `audio` may be null (tests); it is opened by startUp.
    explicit MainWindow(SdlAudio* audio, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up after the window: the audio device (without one the machine
    // runs silently, saying why once), configuration from `startupDir`, check
    // marks from the loaded settings, Stop greyed, reset, mixer cleared; then
    // frames run whenever the window is active (unless `runFrames` is false,
    // for tests).
    void startUp(const QString& startupDir, bool runFrames = true);

    Emulator& emulator() { return emu_; }
    QAction* action(Command id) const;
    QString statusText(int field) const;
    std::array<int, 3> statusEdges() const { return statusEdges_; }
    DisplayWidget* display() const { return display_; }
    bool isRunning() const;
    FrameDriver* frameDriver() const { return driver_; }
    bool isWindowedDisplay() const { return windowed_; }
    const HostKeys& heldKeys() const { return keys_; }
    uint64_t framesRun() const { return framesRun_; }

    // One frame step as the frame driver runs it; returns false when a
    // breakpoint stopped the frame (the debugger is then opened).
    bool frameStep();

    // Replaceable for tests: the file dialog, and the message boxes.
    std::function<QString(const FileDialogRequest&)> chooseFile;
    std::function<void(const QString& caption, const QString& text)> showError;
    std::function<void(const QString& caption, const QString& text)> showWarning;
    // Replaceable for tests: running the debugger dialog.
    std::function<void()> runDebuggerDialog;
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

private:
    class Host;

    void buildMenusAndToolbar();
    void buildStatusBar();
    void setStatus(int field, const QString& text);
    void setChecked(Command id);
    void setPictureScale(int scale);
    void toggleFullScreen();
    void enterFullScreen();
    void leaveFullScreen();
    void updateActivation();
    void updateSound();
    void updateCassetteMenu(bool running);
    void openAudio();
    void openDebugger();
    void onKey(const QKeyEvent& key);
    void report(const FileOutcome& outcome);
    QString fileName(const QString& path) const;

    // Commands with dialogs.
    void loadVz();
    void saveVz();
    void loadText();
    void mountDrive(int drive);
    void unmountDrive(int drive);
    void playTape();
    void recordTape();
    void stopTape();
    void mapPrinter();
    void loadImage(bool rom);
    void saveImage(bool rom);
    void loadFont();
    void loadBitmap();
    void paste();
    void about();

    Emulator emu_;
    std::unique_ptr<Host> host_;
    SdlAudio* audio_;
    DisplayWidget* display_ = nullptr;
    std::array<QLabel*, 4> status_{}; // D1, D2, cassette, and messages
    std::array<int, 3> statusEdges_{50, 100, -1};
    std::map<Command, QAction*> actions_;
    std::map<CheckGroup, QActionGroup*> groups_;
    QToolBar* toolbar_ = nullptr;
    HostKeys keys_;
    QString startupDir_;
    QString startUpWarning_;
    std::array<uint8_t, 256> modifierPresses_{}; // Shift and Control where left and right look alike
    bool windowed_ = true;
    QRect savedGeometry_;
    bool presentedOnce_ = false;
    bool soundFed_ = false;
    uint64_t framesRun_ = 0;
    FrameDriver* driver_ = nullptr;
};
