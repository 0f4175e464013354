// The desktop window driven as a user would: commands, check marks, status
// texts, keys and the debugger, on the offscreen platform with no audio device.
#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

#include <SDL.h>

#include <cstring>
#include <fstream>

#include "files/config.h"
#include "frontend/audio_device.h"
#include "frontend/debugger_dialog.h"
#include "frontend/display_widget.h"
#include "frontend/main_window.h"
#include "machine/frame.h"
#include "support/window_fixture.h"
#include "support/temp_dir.h"

class MainWindowTest : public QObject, protected WindowFixture {
    Q_OBJECT

private slots:
    // The user's own settings (recent files, options of ours) are not touched.
    void initTestCase() { use_test_settings(); }
    void cleanup() { finish(); }

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

        // The same picture again is not taken (nor drawn); a change in the
        // shown rows is, and one in the row below them is not.
        const uint64_t taken = w_->display()->picturesTaken();
        w_->display()->present(machine);
        QCOMPARE(w_->display()->picturesTaken(), taken);
        machine.frameBuffer[240 * kFrameWidth] = kRed;
        w_->display()->present(machine);
        QCOMPARE(w_->display()->picturesTaken(), taken);
        machine.frameBuffer[239 * kFrameWidth + 319] = kRed;
        w_->display()->present(machine);
        QCOMPARE(w_->display()->picturesTaken(), taken + 1);
        QCOMPARE(w_->display()->image().pixel(319, 239), qRgb(255, 0, 0));
    }

    // Expected values are the menu's own texts and the record's values.
    void optionItemsSetTheirFieldAndTheOnlyMarkInTheirMenu() {
        start();
        QCOMPARE(checkMenus().size(), 16);
        for (const QList<QAction*>& items : checkMenus()) {
            int marks = 0;
            for (QAction* a : items) marks += a->isChecked();
            QVERIFY2(marks == 1, qPrintable(items.first()->text()));
        }
        struct Item {
            const char* path;
            std::function<bool(const Settings&)> holds;
        };
        const Item items[] = {
            {"Options|Memory|8 KB", [](const Settings& s) { return s.ramTop == 0x8FFF; }},
            {"Options|Memory|18 KB", [](const Settings& s) { return s.ramTop == 0xB7FF; }},
            {"Options|Memory|24 KB", [](const Settings& s) { return s.ramTop == 0xCFFF; }},
            {"Options|Memory|34 KB", [](const Settings& s) { return s.ramTop == 0xF7FF; }},
            {"Options|Memory|4 MB", [](const Settings& s) { return s.ramTop == 0xFFFF; }},
            {"Options|Model|VZ300 (3.5469 MHz)", [](const Settings& s) { return s.model == 1; }},
            {"Options|Model|VZ200 (3.5795 MHz)", [](const Settings& s) { return s.model == 0; }},
            {"Options|Model|NTSC", [](const Settings& s) { return s.tvStandard == 1; }},
            {"Options|Model|PAL", [](const Settings& s) { return s.tvStandard == 0; }},
            {"Options|Display|6847 Effects|On", [](const Settings& s) { return s.effects6847 == 1; }},
            {"Options|Display|Frame Rate|Maximum", [](const Settings& s) { return s.frameRateNormal == 0; }},
            {"Options|Display|6847 Effects|Off", [](const Settings& s) { return s.effects6847 == 0; }},
            {"Options|Display|Frame Rate|Normal", [](const Settings& s) { return s.frameRateNormal == 1; }},
            {"Options|Cartridge|Disabled", [](const Settings& s) { return s.cartridgeEnabled == 0; }},
            {"Options|Cartridge|Enabled", [](const Settings& s) { return s.cartridgeEnabled == 1; }},
            {"Options|Joystick|Enabled", [](const Settings& s) { return s.joystickEnabled == 1; }},
            {"Options|Joystick|Disabled", [](const Settings& s) { return s.joystickEnabled == 0; }},
            {"Options|Cassette Audio|Disabled", [](const Settings& s) { return s.cassetteAudio == 0; }},
            {"Options|Cassette Audio|Enabled", [](const Settings& s) { return s.cassetteAudio == 1; }},
            {"Options|Disk Audio|Disabled", [](const Settings& s) { return s.diskAudio == 0; }},
            {"Options|Disk Audio|Enabled", [](const Settings& s) { return s.diskAudio == 1; }},
            {"Options|Extended GFX|None", [](const Settings& s) { return s.extendedGfx == 0; }},
            {"Options|Extended GFX|German", [](const Settings& s) { return s.extendedGfx == 2; }},
            {"Options|Extended GFX|Australian", [](const Settings& s) { return s.extendedGfx == 1; }},
            {"Options|Extended Sound|SN76489", [](const Settings& s) { return s.extendedSound == 1; }},
            {"Options|Extended Sound|None", [](const Settings& s) { return s.extendedSound == 0; }},
            {"Options|Write to ROM|Enabled", [](const Settings& s) { return s.writeToRom == 1; }},
            {"Options|Write to ROM|Disabled", [](const Settings& s) { return s.writeToRom == 0; }},
            {"Options|Write to Cartridge|Enabled", [](const Settings& s) { return s.writeToCartridge == 1; }},
            {"Options|Write to Cartridge|Disabled", [](const Settings& s) { return s.writeToCartridge == 0; }},
        };
        for (const Item& item : items) {
            trigger(item.path);
            QVERIFY2(item.holds(m().settings), item.path);
            QVERIFY2(menuItem(item.path)->isChecked(), item.path);
            for (const QList<QAction*>& menu : checkMenus()) {
                int marks = 0;
                for (QAction* a : menu) marks += a->isChecked();
                QVERIFY2(marks == 1, item.path);
            }
        }
    }

    void romAndCartridgeImagesThroughTheWindow() {
        start();
        std::vector<uint8_t> rom(16384), cartridge(10240);
        for (size_t i = 0; i < rom.size(); ++i) rom[i] = uint8_t(i * 7 + 1);
        for (size_t i = 0; i < cartridge.size(); ++i) cartridge[i] = uint8_t(i * 5 + 3);
        const std::vector<uint8_t> before(m().state.memory.begin(), m().state.memory.end());

        nextFile_ = QString::fromStdString(dir_->write("vzrom", rom)); // a dump without an extension
        trigger("File|Load ROM");
        const QString patterns = lastRequest_.filter.section('(', 1).section(')', 0, 0);
        QVERIFY2(QDir::match(patterns.split(' '), "vzrom"), qPrintable(lastRequest_.filter));
        QVERIFY(std::equal(rom.begin(), rom.end(), m().state.memory.begin()));
        QCOMPARE(settings_path(m().settings.romFile), dir_->file("vzrom"));
        QCOMPARE(m().state.memory[0x4000], before[0x4000]);

        nextFile_ = QString::fromStdString(dir_->write("dos.rom", cartridge));
        trigger("File|Load Cartridge");
        QVERIFY(std::equal(cartridge.begin(), cartridge.end(), m().state.memory.begin() + 0x4000));
        QCOMPARE(m().state.memory[0x3FFF], rom[0x3FFF]); // the ROM area is untouched
        QCOMPARE(m().state.memory[0x6800], before[0x6800]);
        QCOMPARE(settings_path(m().settings.cartridgeFile), dir_->file("dos.rom"));
        QCOMPARE(settings_path(m().settings.romFile), dir_->file("vzrom"));

        nextFile_ = QString::fromStdString(dir_->file("saved"));
        trigger("File|Save ROM");
        QCOMPARE(TempDir::read(dir_->file("saved")), rom);
        QVERIFY(errors_.isEmpty() && warnings_.isEmpty());

        // A ROM image that runs past 0xFFFF is loaded as far as it goes, with a warning.
        nextFile_ = QString::fromStdString(dir_->write("long.rom", std::vector<uint8_t>(70000, 0x3C)));
        trigger("File|Load ROM");
        QCOMPARE(m().state.memory[0xFFFF], uint8_t(0x3C));
        QCOMPARE(warnings_.size(), 1);
        QVERIFY(errors_.isEmpty());
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
        QVERIFY(errors_.value(1).startsWith("Could not open file. Please map to a valid image\n"));
        QVERIFY(errors_.value(1).endsWith("absent.wav")); // the box names the file
        // Any rate from 8000 to 192000 plays; below that is refused.
        write_wav(dir_->file("slow.wav"), 4000, 100);
        nextFile_ = QString::fromStdString(dir_->file("slow.wav"));
        w_->runCommand(Command::Play);
        // The window says exactly what is wrong with the file.
        QVERIFY2(errors_.value(2).startsWith("This WAV file has 4000 samples a second; a tape plays at 8000 to 192000.\n"),
                 qPrintable(errors_.value(2)));
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
        QVERIFY2(w_->statusText(2).startsWith("Cass: song  recording"), qPrintable(w_->statusText(2)));
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
        nextFile_ = QString::fromStdString(dir_->file("no/such/folder/lost.dsk"));
        w_->runCommand(Command::MountDrive1);
        QCOMPARE(errors_.size(), 1);
        QCOMPARE(w_->statusText(0), QString("D1: None")); // not the file that could not be mounted
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

    void joystickFromTheKeypadAndAGamepadAsChosen() {
        start();
        QVERIFY(menuItem("Options|Joystick|Keypad")->isChecked());
        QVERIFY(menuItem("Options|Joystick|Gamepad")->isChecked());
        trigger("Options|Joystick|Keypad"); // off: the keypad is only keys now
        QVERIFY(!QSettings().value("joystick/keypad").toBool());
        QTest::keyPress(w_.get(), Qt::Key_8, Qt::KeypadModifier);
        frames(1);
        QCOMPARE(m().state.joystickByte, uint8_t(0xFF));
        QTest::keyRelease(w_.get(), Qt::Key_8, Qt::KeypadModifier);

        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        QVERIFY2(index >= 0, SDL_GetError());
        SDL_Joystick* pad = SDL_JoystickOpen(index);
        SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 1);
        QTest::qWait(20); // the controller is read every 5 ms at most
        frames(1);
        QCOMPARE(m().state.joystickByte, uint8_t(0xEF)); // fire, as keypad 5 gives it
        trigger("Options|Joystick|Gamepad"); // off
        frames(1);
        QCOMPARE(m().state.joystickByte, uint8_t(0xFF));
        SDL_JoystickClose(pad);
        SDL_JoystickDetachVirtual(index);
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
        QCOMPARE(w_->cursor().shape(), Qt::BlankCursor); // no pointer over the full-screen picture
        QTest::keyRelease(w_.get(), Qt::Key_F11);
        frames(1);
        QVERIFY(!w_->isWindowedDisplay());
        QTest::keyPress(w_.get(), Qt::Key_F11);
        frames(1);
        QVERIFY(w_->isWindowedDisplay());
        QCOMPARE(w_->cursor().shape(), Qt::ArrowCursor);
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
        dialog.setWindowModality(Qt::ApplicationModal); // as it runs from the window
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
        // Enter in the box sets them too, and leaves the window open.
        auto* box = dialog.findChild<QLineEdit*>("breakpoints");
        box->setText("8000");
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
        QVERIFY(breakpoint_at(m().breakpoints, 0x8000) && !breakpoint_at(m().breakpoints, 0x7AE9));
        QVERIFY(dialog.isVisible());

        dialog.findChild<QLineEdit*>("memoryAddress")->setText("7e00");
        QTest::mouseClick(dialog.findChild<QPushButton*>("memorySet"), Qt::LeftButton);
        QCOMPARE(DebuggerDialog::memoryViewAddress(), uint16_t(0x7E00));
        QTest::mouseClick(dialog.findChild<QPushButton*>("memoryDown"), Qt::LeftButton);
        QCOMPARE(dialog.findChild<QLineEdit*>("memoryAddress")->text(), QString("7E06"));
        QTest::mouseClick(dialog.findChild<QPushButton*>("run"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void keysLetGoWhileAltOrTheOtherShiftIsDownAreReleased() {
        start();
        QTest::keyPress(w_.get(), Qt::Key_A);
        frames(2);
        QCOMPARE(m().state.keyboardRows[1], uint8_t(0xFF & ~0x10));
        QTest::keyPress(w_.get(), Qt::Key_Alt, Qt::AltModifier);
        QTest::keyRelease(w_.get(), Qt::Key_A, Qt::AltModifier);
        QTest::keyRelease(w_.get(), Qt::Key_Alt);
        frames(2);
        QCOMPARE(m().state.keyboardRows[1], uint8_t(0xFF));

        // Both Shift keys down, one let go: the machine's SHIFT stays down.
        // (Events without scan codes, as platforms without them send.)
        auto shift = [this](QEvent::Type type, Qt::KeyboardModifiers modifiers) {
            QKeyEvent event(type, Qt::Key_Shift, modifiers);
            QApplication::sendEvent(w_.get(), &event);
        };
        shift(QEvent::KeyPress, Qt::NoModifier);
        shift(QEvent::KeyPress, Qt::ShiftModifier);
        shift(QEvent::KeyRelease, Qt::ShiftModifier);
        frames(2);
        QCOMPARE(m().state.keyboardRows[2], uint8_t(0xFF & ~0x04));
        shift(QEvent::KeyRelease, Qt::ShiftModifier);
        frames(2);
        QCOMPARE(m().state.keyboardRows[2], uint8_t(0xFF));
    }

    // Sound is heard only while frames run at the Normal rate, and the
    // Speaker choice holds through the debugger.
    void soundFollowsTheFramesTheRateAndTheSpeakerChoice() {
        start({}, true, true);
        QVERIFY(audio_->isOpen());
        QTRY_VERIFY(audio_->streamsAudible());
        w_->runCommand(Command::RateMaximum);
        QVERIFY(w_->isRunning());
        QVERIFY(!audio_->streamsAudible());
        w_->runCommand(Command::RateNormal);
        QVERIFY(audio_->streamsAudible());

        w_->runCommand(Command::SpeakerDisabled);
        QVERIFY(!audio_->streamsAudible());
        bool silentInDebugger = false;
        inDebugger_ = [&] { silentInDebugger = !audio_->streamsAudible() && !w_->isRunning(); };
        w_->runCommand(Command::Debugger);
        QVERIFY(silentInDebugger);
        QVERIFY(w_->action(Command::SpeakerDisabled)->isChecked());
        QVERIFY(!audio_->streamsAudible());
        w_->runCommand(Command::SpeakerEnabled);
        inDebugger_ = [&] { silentInDebugger = !audio_->streamsAudible(); };
        silentInDebugger = false;
        w_->runCommand(Command::Debugger);
        QVERIFY(silentInDebugger);
        QVERIFY(audio_->streamsAudible());
    }

    void withoutAnAudioDeviceTheMachineRunsSilentlyAndSaysWhy() {
        const QByteArray driver = qgetenv("SDL_AUDIODRIVER");
        qputenv("SDL_AUDIODRIVER", "kolt-no-such-driver");
        start({}, true, true);
        qputenv("SDL_AUDIODRIVER", driver);
        QVERIFY(!audio_->isOpen());
        QVERIFY2(w_->statusText(3).startsWith("Sound off: "), qPrintable(w_->statusText(3)));
        const uint64_t before = w_->framesRun();
        QTRY_VERIFY(w_->framesRun() > before + 5); // no box holds the machine
        QCOMPARE(notices_.size(), 1);             // the first time ever, over the running machine
        QVERIFY(warnings_.isEmpty());

        // Every later start says it in the status bar alone.
        closeWindow();
        qputenv("SDL_AUDIODRIVER", "kolt-no-such-driver");
        start({}, true, true);
        qputenv("SDL_AUDIODRIVER", driver);
        QTRY_VERIFY(w_->framesRun() > 5);
        QVERIFY(notices_.isEmpty());
        QVERIFY(w_->statusText(3).startsWith("Sound off: "));
    }

    // A modal box stops the frames; when it closes they run again, even
    // where the window system never says the window is active again.
    void framesResumeWhenADialogCloses() {
        start({}, false, true);
        QTRY_VERIFY(w_->isRunning());
        bool stoppedWhileOpen = false;
        QTimer::singleShot(50, [&] {
            stoppedWhileOpen = !w_->isRunning();
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
        });
        QMessageBox box(QMessageBox::Information, "KOLT", "a message", QMessageBox::Ok, w_.get());
        box.exec();
        QVERIFY(stoppedWhileOpen);
        QTRY_VERIFY(w_->isRunning());

        QEvent blocked(QEvent::WindowBlocked), unblocked(QEvent::WindowUnblocked);
        QApplication::sendEvent(w_.get(), &blocked);
        QApplication::setActiveWindow(nullptr); // the box took the focus ...
        QVERIFY(!w_->isRunning());
        QApplication::sendEvent(w_.get(), &unblocked); // ... and no activation follows its closing
        QVERIFY(w_->isRunning());
        const uint64_t before = w_->framesRun();
        QTRY_VERIFY(w_->framesRun() > before);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
