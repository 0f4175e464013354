// The desktop as a newcomer meets it: typing what the keys show, taps shorter
// than a frame, shortcuts in full screen, questions before a reset, status
// fields that fit, the recent files, About and the settings dialog.
#include <QAbstractButton>
#include <QClipboard>
#include <QMenuBar>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QtTest>

#include "frontend/media.h"
#include "frontend/recent_files.h"
#include "frontend/settings_dialog.h"
#include "frontend/status_bar.h"
#include "support/window_fixture.h"

namespace {

// Matrix rows as the machine reads them: bit cleared while the key is down.
bool down(const Machine& m, int row, int bit) { return !(m.state.keyboardRows[size_t(row)] & (1 << bit)); }
bool shift(const Machine& m) { return down(m, 2, 2); }
bool none(const Machine& m) {
    for (const uint8_t r : m.state.keyboardRows)
        if (r != 0xFF) return false;
    return true;
}

} // namespace

class DesktopTest : public QObject, protected WindowFixture {
    Q_OBJECT

    // A key event as a US layout gives it: the Qt key, its text, no scan code.
    void key(QEvent::Type type, int qtKey, const QString& text, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent event(type, qtKey, mods, text);
        QApplication::sendEvent(w_.get(), &event);
    }

private slots:
    void initTestCase() { use_test_settings(); }
    void cleanup() { finish(); }

    void byCharacterTypesTheMachinesCharacterWithItsOwnShift() {
        start();
        QVERIFY(w_->action(Command::KeyboardByCharacter)->isChecked());
        // '=' unshifted on the host: the machine's = is SHIFT and minus.
        key(QEvent::KeyPress, Qt::Key_Equal, "=");
        frames(2);
        QVERIFY(down(m(), 5, 2) && shift(m()));
        key(QEvent::KeyRelease, Qt::Key_Equal, "=");
        frames(3);
        QVERIFY(none(m()));

        // '"' is Shift and ' on the host, SHIFT and 2 on the machine.
        key(QEvent::KeyPress, Qt::Key_Shift, "");
        key(QEvent::KeyPress, Qt::Key_QuoteDbl, "\"", Qt::ShiftModifier);
        frames(2);
        QVERIFY(down(m(), 3, 1) && shift(m()));
        QVERIFY(!down(m(), 7, 2)); // not the colon the key's place would give
        key(QEvent::KeyRelease, Qt::Key_QuoteDbl, "\"", Qt::ShiftModifier);
        // ':' is Shift and ; on the host; the machine has a key of its own, without SHIFT.
        key(QEvent::KeyPress, Qt::Key_Colon, ":", Qt::ShiftModifier);
        frames(3);
        QVERIFY(down(m(), 7, 2));
        QVERIFY(!shift(m()));
        QVERIFY(!down(m(), 7, 4)); // nor the semicolon key
        // Held as long as it is down; the release lifts it even with Shift gone first.
        key(QEvent::KeyRelease, Qt::Key_Shift, "");
        frames(3);
        QVERIFY(down(m(), 7, 2));
        key(QEvent::KeyRelease, Qt::Key_Colon, ":", Qt::ShiftModifier);
        frames(3);
        QVERIFY(none(m()));

        // By Position the key's place counts, remembered for the next start.
        trigger("Options|Keyboard|By Position");
        key(QEvent::KeyPress, Qt::Key_Equal, "=");
        frames(2);
        QVERIFY(down(m(), 5, 2) && !shift(m()));
        key(QEvent::KeyRelease, Qt::Key_Equal, "=");
        closeWindow();
        start();
        QVERIFY(w_->action(Command::KeyboardByPosition)->isChecked());
        trigger("Options|Keyboard|By Character");
    }

    // A press and release between two frames is held for the machine's next two.
    void aTapBetweenTwoFramesReachesTheMachine() {
        start();
        frames(1);
        key(QEvent::KeyPress, Qt::Key_Return, "\r");
        key(QEvent::KeyRelease, Qt::Key_Return, "\r");
        frames(1);
        QVERIFY(none(m())); // the frame before the poll that saw it
        frames(1);
        QVERIFY(down(m(), 6, 2));
        frames(1);
        QVERIFY(down(m(), 6, 2));
        frames(1);
        QVERIFY(none(m()));
        // The same by character.
        key(QEvent::KeyPress, Qt::Key_Plus, "+", Qt::ShiftModifier);
        key(QEvent::KeyRelease, Qt::Key_Plus, "+", Qt::ShiftModifier);
        frames(2);
        QVERIFY(down(m(), 7, 4) && shift(m()));
    }

    void everyShortcutActsInFullScreenAndF11EvenWhilePaused() {
        start();
        w_->runCommand(Command::FullScreen);
        QVERIFY(!w_->isWindowedDisplay());
        QVERIFY(!w_->menuBar()->isVisible());

        m().z80.pc = 0x1234;
        QTest::keyClick(w_.get(), Qt::Key_F2);
        QCOMPARE(int(m().z80.pc), 0); // reset
        QApplication::clipboard()->setText("RUN");
        QTest::keyClick(w_.get(), Qt::Key_F3);
        QVERIFY(m().input.typingActive);
        const int32_t rate = m().settings.frameRateNormal;
        QTest::keyClick(w_.get(), Qt::Key_F6);
        QCOMPARE(m().settings.frameRateNormal, 1 - rate);
        w_->screenshotFolder = QString::fromStdString(dir_->file("shots"));
        QTest::keyClick(w_.get(), Qt::Key_F12);
        QCOMPARE(QDir(w_->screenshotFolder).entryList({"*.png"}).size(), 1);
        QTest::keyClick(w_.get(), Qt::Key_F9);
        QVERIFY2(w_->statusText(3).startsWith("Saved to slot"), qPrintable(w_->statusText(3)));

        QTest::keyClick(w_.get(), Qt::Key_F5);
        QVERIFY(w_->action(Command::Pause)->isChecked());
        // Paused, no frame runs: F11 acts on its own key event, each tap.
        for (int tap = 0; tap < 4; ++tap) {
            QTest::keyClick(w_.get(), Qt::Key_F11);
            QCOMPARE(w_->isWindowedDisplay(), tap % 2 == 0);
        }
        QTest::keyClick(w_.get(), Qt::Key_Escape);
        QVERIFY(w_->isWindowedDisplay());
        QVERIFY(w_->menuBar()->isVisible());
    }

    void changesThatActAtTheNextResetAsk() {
        start();
        trigger("Options|Model|VZ300 (3.5469 MHz)");
        QCOMPARE(questions_.size(), 1);
        QVERIFY(questions_[0].contains("Reset now?"));
        QVERIFY(w_->statusText(3).contains("Reset pending"));
        QCOMPARE(m().state.timing.linesPerFrame, 312); // still the model it started as
        trigger("Options|Model|VZ300 (3.5469 MHz)");    // no change, no question
        QCOMPARE(questions_.size(), 1);

        answerYes_ = true;
        trigger("Options|Model|NTSC");
        QCOMPARE(questions_.size(), 2);
        QCOMPARE(m().state.timing.linesPerFrame, 262); // reset at once
        QVERIFY(!w_->statusText(3).contains("Reset pending"));

        answerYes_ = false;
        trigger("Options|Memory|8 KB"); // acts at once, and offers the reset
        QCOMPARE(questions_.size(), 3);
        QCOMPARE(m().settings.ramTop, 0x8FFF);
        nextFile_ = QString::fromStdString(dir_->file("rom.bin"));
        std::ofstream(nextFile_.toStdString(), std::ios::binary) << std::string(16384, '\xC9');
        w_->runCommand(Command::LoadRom);
        QCOMPARE(questions_.size(), 4);
        QVERIFY(errors_.isEmpty());
    }

    void statusFieldsElideAndSayTheRateAndWhyTheyPaused() {
        start({}, false, true);
        const QString longName = "a-disk-image-with-a-name-far-too-long-for-its-field-of-the-status-bar.dsk";
        QVERIFY(w_->media().mountDisk(0, QString::fromStdString(dir_->file(longName.toStdString()))));
        w_->resize(600, w_->height());
        QTRY_VERIFY(w_->status().shownText(0).endsWith(QChar(0x2026)));
        QCOMPARE(w_->statusText(0), "D1: " + longName);
        QCOMPARE(w_->status().toolTip(0), "D1: " + longName);
        w_->status().flash(QString(300, 'x')); // a long note keeps to its third of the bar
        QTRY_VERIFY(w_->status().shownText(3).endsWith(QChar(0x2026)));
        QVERIFY(w_->status().shownText(1).startsWith("D2: N"));

        // The note's time is up after 5 s; frames ran meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(w_->statusText(3).contains("Normal"), 15000);
        QApplication::setActiveWindow(nullptr);
        QTRY_VERIFY(w_->statusText(3).contains("Paused (inactive)"));
    }

    void failedOpensStayOffTheRecentFilesWhichCanBeCleared() {
        start();
        RecentFiles& recent = w_->media().recent();
        recent.clear();
        const QString good = QString::fromStdString(dir_->file("good.txt"));
        std::ofstream(good.toStdString()) << "PRINT 1\n";
        QVERIFY(w_->media().open(good, Media::Source::Menu));
        QCOMPARE(recent.paths().size(), 1);

        const QString badVz = QString::fromStdString(dir_->file("bad.vz"));
        std::ofstream(badVz.toStdString(), std::ios::binary) << "VZF0";
        w_->media().open(badVz, Media::Source::Drop);
        frames(260); // the machine is ready for it only after start-up
        QCOMPARE(errors_.size(), 1);
        QVERIFY(errors_[0].contains(badVz)); // the box names the file
        const QString badTape = QString::fromStdString(dir_->file("noise.wav"));
        std::ofstream(badTape.toStdString(), std::ios::binary) << "not a tape at all";
        w_->media().open(badTape, Media::Source::Drop);
        frames(2);
        QCOMPARE(errors_.size(), 2);
        QVERIFY(errors_[1].contains("noise.wav"));
        QVERIFY(!w_->statusText(2).contains("noise.wav")); // a refused tape is not the cassette's
        QCOMPARE(recent.paths(), QStringList{QFileInfo(good).absoluteFilePath()});

        QMenu* menu = nullptr;
        for (QAction* a : menuItem("File")->menu()->actions())
            if (a->text() == "Recent Files") menu = a->menu();
        QVERIFY(menu);
        QAction* clear = menu->actions().last();
        QCOMPARE(clear->text(), QString("Clear List"));
        clear->trigger();
        QVERIFY(recent.paths().isEmpty());
        QVERIFY(QSettings().value("recentFiles").toStringList().isEmpty());
    }

    void aboutNamesThePlatformAndTheVersion() {
        const QString text = about_text();
        QVERIFY2(text.contains("KOLT for Linux"), qPrintable(text));
        QVERIFY(!text.contains("Windows"));
        QVERIFY(text.contains(QString("Version ") + KOLT_VERSION));
        QVERIFY(text.contains(QRegularExpression("built [A-Z][a-z]{2} [ 0-9]{2} 20[0-9]{2}")));
    }

    // The dialog's choices are the menu's: each shows and sets the same.
    void settingsDialogAgreesWithTheMenus() {
        start();
        SettingsDialog dialog(*w_, w_.get());
        auto* tabs = dialog.findChild<QTabWidget*>();
        QVERIFY(tabs);
        QStringList names;
        for (int i = 0; i < tabs->count(); ++i) names << tabs->tabText(i);
        QCOMPARE(names, (QStringList{"Machine", "Display", "Sound", "Input", "Files"}));
        QVERIFY(dialog.choice(Command::ModelVz200)->isChecked());
        QVERIFY(dialog.choice(Command::KeyboardByCharacter)->isChecked());
        dialog.choice(Command::Mem18k)->click();
        QCOMPARE(m().settings.ramTop, 0xB7FF);
        QVERIFY(w_->action(Command::Mem18k)->isChecked());
        QCOMPARE(questions_.size(), 1); // as from the menu
        dialog.choice(Command::FastTapeAndTyping)->click();
        QVERIFY(!w_->action(Command::FastTapeAndTyping)->isChecked());
        QVERIFY(!QSettings().value("fastTapeAndTyping").toBool());
        dialog.choice(Command::KeyboardByPosition)->click();
        QVERIFY(w_->action(Command::KeyboardByPosition)->isChecked());
        auto* volume = dialog.findChild<QSlider*>("volume");
        QCOMPARE(volume->value(), 50);
        volume->setValue(30);
        QCOMPARE(QSettings().value("volume").toInt(), 30);
        trigger("Options|Settings...");
        QCOMPARE(settingsRuns_, 1);
    }
};

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
