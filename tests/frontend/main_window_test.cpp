// The desktop window driven as a user would: commands, check marks, status
// texts, keys and the debugger, on the offscreen platform with no audio device.
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <fstream>

#include "files/config.h"
#include "frontend/debugger_dialog.h"
#include "frontend/display_widget.h"
#include "frontend/main_window.h"
#include "machine/frame.h"
#include "support/temp_dir.h"

namespace {

void write_wav(const std::string& path, uint32_t rate, size_t samples) {
    std::vector<uint8_t> h(44, 0);
    std::memcpy(&h[0], "RIFF", 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    h[16] = 16;
    h[20] = 1;
    h[22] = 1;
    for (int i = 0; i < 4; ++i) h[size_t(24 + i)] = uint8_t(rate >> (8 * i));
    h[34] = 8;
    std::memcpy(&h[36], "data", 4);
    h.resize(44 + samples, 0x80);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(h.data()), std::streamsize(h.size()));
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<MainWindow> w_;
    QStringList errors_;
    QString nextFile_;
    int debuggerRuns_ = 0;

    Machine& m() { return w_->emulator().m(); }

    void start(const std::function<void(Settings&)>& configure = {}) {
        dir_ = std::make_unique<TempDir>();
        if (configure) {
            Settings s;
            configure(s);
            QVERIFY(config_save(s, dir_->file("")));
        }
        w_ = std::make_unique<MainWindow>(nullptr);
        w_->showError = [this](const QString&, const QString& text) { errors_ << text; };
        w_->chooseFile = [this](const FileDialogRequest&) { return nextFile_; };
        w_->runDebuggerDialog = [this] { ++debuggerRuns_; };
        w_->show();
        QApplication::setActiveWindow(w_.get());
        w_->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
        settings_set_path(m().settings.romFile, "/nonexistent/kolt-test-rom"); // the built-in program runs
        w_->startUp(QString::fromStdString(dir_->file("")), false);
        QCoreApplication::processEvents();
        errors_.clear();
        debuggerRuns_ = 0;
    }

    void frames(int n) {
        for (int i = 0; i < n; ++i) w_->frameStep();
    }

private slots:
    void cleanup() {
        w_.reset();
        dir_.reset();
    }

    void startUpSetsCheckMarksFromTheConfiguration() {
        start([](Settings& s) {
            s.model = kModelVZ300;
            s.tvStandard = kTvNtsc;
            s.ramTop = 0x1234; // no memory item matches
            s.extendedGfx = kGfxGerman;
            s.joystickEnabled = 0;
            s.frameRateNormal = 0;
            s.diskAudio = 0;
        });
        QVERIFY(w_->action(Command::ModelVz300)->isChecked());
        QVERIFY(w_->action(Command::Ntsc)->isChecked());
        QVERIFY(w_->action(Command::GfxGerman)->isChecked());
        QVERIFY(w_->action(Command::JoystickDisabled)->isChecked());
        QVERIFY(w_->action(Command::RateMaximum)->isChecked());
        QVERIFY(w_->action(Command::DiskAudioDisabled)->isChecked());
        QVERIFY(w_->action(Command::CartridgeEnabled)->isChecked());
        for (Command c : {Command::Mem8k, Command::Mem18k, Command::Mem24k, Command::Mem34k, Command::Mem4mb})
            QVERIFY(!w_->action(c)->isChecked());
        QCOMPARE(m().settings.ramTop, 0x1234);
        QCOMPARE(m().state.timing.linesPerFrame, 262); // the reset came after the configuration
        QVERIFY(!w_->action(Command::Stop)->isEnabled());
    }

    void startsAtTwiceTheSize() {
        start();
        QVERIFY(w_->action(Command::SizeX2)->isChecked());
        QVERIFY(!w_->action(Command::SizeX1)->isChecked());
        QTRY_COMPARE(w_->display()->size(), QSize(640, 480));
        w_->runCommand(Command::SizeX3);
        QTRY_COMPARE(w_->display()->size(), QSize(960, 720));
        w_->runCommand(Command::SizeX1);
        QTRY_COMPARE(w_->display()->size(), QSize(320, 240));
        QVERIFY(w_->action(Command::SizeX1)->isChecked());
    }

    void displayShowsThePresentedFrameThroughThePalette() {
        start();
        frames(1);
        Machine& machine = m();
        machine.frameBuffer.fill(kBlack);
        machine.frameBuffer[5 * kFrameWidth + 7] = kRed;
        machine.frameBuffer[239 * kFrameWidth + 319] = 200; // past the palette
        machine.frameBuffer[240 * kFrameWidth] = kBuff;     // a row that is never shown
        w_->display()->present(machine);
        machine.frameBuffer.fill(kGreen); // not shown until presented
        QCOMPARE(w_->display()->image().pixel(7, 5), qRgb(255, 0, 0));
        QCOMPARE(w_->display()->image().pixel(8, 5), qRgb(0, 0, 0));
        QCOMPARE(w_->display()->image().pixel(319, 239), qRgb(0, 0, 0));
        QCOMPARE(w_->display()->image().height(), 240);
        w_->display()->present(machine);
        QCOMPARE(w_->display()->image().pixel(7, 5), qRgb(0, 255, 0));
    }

    void everyOptionCommandSetsItsFieldAndMark() {
        start();
        for (const CommandInfo& info : command_table()) {
            if (info.field == SettingField::None) continue;
            w_->runCommand(info.id);
            QCOMPARE(setting_value(m().settings, info.field), info.value);
            QVERIFY2(w_->action(info.id)->isChecked(), qPrintable(w_->action(info.id)->text()));
            for (const CommandInfo& other : command_table())
                if (other.group == info.group && other.id != info.id) QVERIFY(!w_->action(other.id)->isChecked());
        }
    }

    void resetTakesTheModel() {
        start();
        w_->runCommand(Command::ModelVz300);
        QCOMPARE(m().z80.cycle_period, 71589);
        w_->runCommand(Command::Reset);
        QCOMPARE(m().z80.cycle_period, 70938);
        QCOMPARE(m().settings.clockMHz, 3.5469f);
    }

    void playMessagesAndCassetteMenu() {
        start();
        nextFile_.clear(); // no tape chosen, dialog cancelled
        w_->runCommand(Command::Play);
        QCOMPARE(errors_.value(0), QString("To play a tape, first map the tape image to a wav file"));
        nextFile_ = QString::fromStdString(dir_->file("absent.wav"));
        w_->runCommand(Command::Play);
        QCOMPARE(errors_.value(1), QString("Could not open file. Please map to a valid image"));
        // Any rate from 8000 to 192000 plays; below that is refused.
        write_wav(dir_->file("slow.wav"), 4000, 100);
        nextFile_ = QString::fromStdString(dir_->file("slow.wav"));
        w_->runCommand(Command::Play);
        QCOMPARE(errors_.value(2), QString("This tape cannot be played: a WAV tape needs 8 to 32-bit PCM or "
                                           "floating-point samples at 8000 to 192000 Hz. Please map to another image"));
        QVERIFY(!w_->action(Command::Stop)->isEnabled());
        QVERIFY(w_->action(Command::Play)->isEnabled());

        write_wav(dir_->file("good.wav"), 22050, 1000);
        nextFile_ = QString::fromStdString(dir_->file("good.wav"));
        w_->runCommand(Command::Play);
        QCOMPARE(errors_.size(), 3);
        QVERIFY(w_->action(Command::Stop)->isEnabled());
        QVERIFY(!w_->action(Command::Play)->isEnabled() && !w_->action(Command::Record)->isEnabled());
        w_->runCommand(Command::Stop);
        QVERIFY(!w_->action(Command::Stop)->isEnabled());

        nextFile_ = QString::fromStdString(dir_->file("song"));
        w_->runCommand(Command::Record);
        QCOMPARE(w_->statusText(2), QString("Cass: song"));
        QVERIFY(QFile::exists(QString::fromStdString(dir_->file("song.wav"))));
        QVERIFY(w_->action(Command::Stop)->isEnabled());
        w_->runCommand(Command::Stop);
        QVERIFY(w_->action(Command::Record)->isEnabled());
    }

    void statusTextsAndEdges() {
        start();
        QCOMPARE(w_->statusText(0), QString("D1: None"));
        QCOMPARE(w_->statusText(2), QString("Cass: None"));
        nextFile_ = QString::fromStdString(dir_->file("demo.dsk"));
        w_->runCommand(Command::MountDrive2);
        QCOMPARE(w_->statusText(1), QString("D2: demo.dsk"));
        w_->runCommand(Command::UnmountDrive2);
        QCOMPARE(w_->statusText(1), QString("D2: None"));
        w_->resize(600, w_->height());
        QTRY_COMPARE(w_->statusEdges(), (std::array<int, 3>{200, 400, 600}));
        w_->resize(901, w_->height());
        QTRY_COMPARE(w_->statusEdges(), (std::array<int, 3>{300, 600, 901}));
    }

    void keysReachTheMatrixAndJoystick() {
        start();
        QTest::keyPress(w_.get(), Qt::Key_A);
        frames(2);
        QCOMPARE(m().state.keyboardRows[1], uint8_t(0xFF & ~0x10));
        QTest::keyRelease(w_.get(), Qt::Key_A);
        QTest::keyPress(w_.get(), Qt::Key_Left);
        frames(2);
        QCOMPARE(m().state.keyboardRows[4], uint8_t(0xFF & ~0x20));
        QCOMPARE(m().state.keyboardRows[1], uint8_t(0xFF & ~0x04));
        QTest::keyRelease(w_.get(), Qt::Key_Left);
        QTest::keyPress(w_.get(), Qt::Key_8, Qt::KeypadModifier);
        QTest::keyPress(w_.get(), Qt::Key_6, Qt::KeypadModifier);
        frames(1);
        QCOMPARE(m().state.joystickByte, uint8_t(0xF6));
        QTest::keyRelease(w_.get(), Qt::Key_8, Qt::KeypadModifier);
        QTest::keyRelease(w_.get(), Qt::Key_6, Qt::KeypadModifier);
        frames(2);
        QCOMPARE(m().state.joystickByte, uint8_t(0xFF));
        QCOMPARE(m().state.keyboardRows[4], uint8_t(0xFF));
    }

    // The frame driver on its real timer: 50 frames a second at Normal, and
    // none while the window is not active.
    void normalRatePacesFiftyFramesASecond() {
        dir_ = std::make_unique<TempDir>();
        w_ = std::make_unique<MainWindow>(nullptr);
        w_->show();
        QApplication::setActiveWindow(w_.get());
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        settings_set_path(m().settings.romFile, "/nonexistent/kolt-test-rom");
        w_->startUp(QString::fromStdString(dir_->file("")), true);
        QTRY_VERIFY(w_->framesRun() > 0);
        const uint64_t before = w_->framesRun();
        QTest::qWait(2000);
        const uint64_t ran = w_->framesRun() - before;
        QVERIFY2(ran >= 85 && ran <= 102, qPrintable(QString::number(ran)));
        w_->showMinimized();
        QTRY_VERIFY(!w_->isRunning());
        const uint64_t paused = w_->framesRun();
        QTest::qWait(200);
        QCOMPARE(w_->framesRun(), paused);
    }

    void f11TogglesFullScreenOncePerPress() {
        start();
        QTest::keyPress(w_.get(), Qt::Key_F11);
        frames(5); // held down over several frames: one switch
        QVERIFY(!w_->isWindowedDisplay());
        QTest::keyRelease(w_.get(), Qt::Key_F11);
        frames(1);
        QVERIFY(!w_->isWindowedDisplay());
        QTest::keyPress(w_.get(), Qt::Key_F11);
        frames(1);
        QVERIFY(w_->isWindowedDisplay());
        QTest::keyRelease(w_.get(), Qt::Key_F11);
        w_->runCommand(Command::FullScreen);
        QVERIFY(!w_->isWindowedDisplay());
        w_->runCommand(Command::FullScreen); // again while full screen: stays there
        QVERIFY(!w_->isWindowedDisplay());
        w_->runCommand(Command::SizeX2); // a window size leaves full screen
        QVERIFY(w_->isWindowedDisplay());
        QTRY_COMPARE(w_->display()->size(), QSize(640, 480));
    }

    void pasteTypesTheClipboard() {
        start();
        QApplication::clipboard()->setText("hi 42\n");
        w_->runCommand(Command::Paste);
        QVERIFY(m().input.typingActive);
        frames(40);
        QVERIFY(!m().input.typingActive);
        // The built-in program echoes what it is typed on the screen.
        const std::string screen(reinterpret_cast<const char*>(&m().state.memory[0x7000]), 512);
        bool found = false;
        for (size_t i = 0; i + 5 <= screen.size() && !found; ++i) {
            auto is = [&](size_t k, char c) { return (screen[i + k] & 0x3F) == (c & 0x3F); };
            found = is(0, 'H') && is(1, 'I') && is(2, ' ') && is(3, '4') && is(4, '2');
        }
        QVERIFY(found);
    }

    void breakpointOpensTheDebugger() {
        start();
        // The built-in program starts with a one-byte instruction: after a
        // reset the first stop is at 0001.
        breakpoints_set(m().breakpoints, "0001");
        w_->runCommand(Command::Reset);
        QVERIFY(!w_->frameStep());
        QTRY_COMPARE(debuggerRuns_, 1);
        QCOMPARE(m().z80.stop_pc, uint16_t(0x0001));
        QCOMPARE(m().z80.pc, uint16_t(0x0001));

        // Run goes on from there; the program's main loop passes its
        // breakpoint again and again, and each pass reopens the debugger.
        breakpoints_set(m().breakpoints, "");
        frames(10);
        const uint16_t loop = m().z80.pc;
        breakpoints_set(m().breakpoints, QString::asprintf("%04X", loop).toStdString());
        QVERIFY(!w_->frameStep());
        QTRY_COMPARE(debuggerRuns_, 2);
        QVERIFY(!w_->frameStep());
        QTRY_COMPARE(debuggerRuns_, 3);
        QCOMPARE(m().z80.stop_pc, loop);
    }

    void debuggerStepsListsAndCopies() {
        start();
        frames(3);
        DebuggerDialog dialog(w_->emulator(), w_.get());
        dialog.show();
        const uint16_t pc = m().z80.pc;
        auto* registers = dialog.findChild<QPlainTextEdit*>("registers");
        auto* disassembly = dialog.findChild<QPlainTextEdit*>("disassembly");
        QVERIFY(registers && disassembly);
        QVERIFY(registers->toPlainText().contains(QString::asprintf("PC  %04X", pc)));
        QTest::mouseClick(dialog.findChild<QPushButton*>("step"), Qt::LeftButton);
        QVERIFY(m().z80.pc != pc);
        QVERIFY(registers->toPlainText().contains(QString::asprintf("PC  %04X", m().z80.pc)));
        QTest::keyClick(&dialog, Qt::Key_Escape); // steps, does not close
        QVERIFY(dialog.isVisible());

        dialog.findChild<QLineEdit*>("listingStart")->setText("0000");
        dialog.findChild<QLineEdit*>("listingEnd")->setText("0004");
        QTest::mouseClick(dialog.findChild<QPushButton*>("build"), Qt::LeftButton);
        QVERIFY(disassembly->toPlainText().startsWith("0000  F3"));
        QTest::mouseClick(dialog.findChild<QPushButton*>("copy"), Qt::LeftButton);
        QVERIFY(QApplication::clipboard()->text().startsWith("0000  F3"));
        QVERIFY(QApplication::clipboard()->text().contains("\r\n"));

        dialog.findChild<QLineEdit*>("breakpoints")->setText("7ae9 0038");
        QTest::mouseClick(dialog.findChild<QPushButton*>("setBreakpoints"), Qt::LeftButton);
        QVERIFY(breakpoint_at(m().breakpoints, 0x7AE9) && breakpoint_at(m().breakpoints, 0x0038));

        dialog.findChild<QLineEdit*>("memoryAddress")->setText("7e00");
        QTest::mouseClick(dialog.findChild<QPushButton*>("memorySet"), Qt::LeftButton);
        QCOMPARE(DebuggerDialog::memoryViewAddress(), uint16_t(0x7E00));
        QTest::mouseClick(dialog.findChild<QPushButton*>("memoryDown"), Qt::LeftButton);
        QCOMPARE(dialog.findChild<QLineEdit*>("memoryAddress")->text(), QString("7E06"));
        QTest::mouseClick(dialog.findChild<QPushButton*>("run"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
