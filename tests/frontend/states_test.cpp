// Save states, quick slots and rewind through the window: the menu and its
// dialogs, the function keys, a state opened by its kind, and F7 held.
#include <QKeyEvent>
#include <QtTest>

#include <functional>

#include "files/state_file.h"
#include "frontend/media.h"
#include "frontend/states.h"
#include "machine/rewind.h"
#include "support/window_fixture.h"

namespace {

// What a frame leaves behind: memory and picture.
uint64_t machine_hash(const Machine& m) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : m.state.memory) h = (h ^ b) * 1099511628211ull;
    for (uint8_t b : m.frameBuffer) h = (h ^ b) * 1099511628211ull;
    return h;
}

} // namespace

class StatesTest : public QObject, protected WindowFixture {
    Q_OBJECT

    void typeAndRun(const char* text, int frames) {
        typing_start(m(), text);
        for (int i = 0; i < frames; ++i) w_->frameStep();
    }

    void key(QEvent::Type type, int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(type, k, modifiers);
        QApplication::sendEvent(w_.get(), &event);
    }

private slots:
    void initTestCase() { use_test_settings(); }
    void cleanup() { finish(); }

    void saveAndLoadThroughTheMenuBringBackMachineAndSettings() {
        start();
        typeAndRun("SAVED", 40);
        trigger("Options|Model|VZ300 (3.5469 MHz)");
        w_->runCommand(Command::Reset);
        typeAndRun("HERE", 30);
        const uint64_t saved = machine_hash(m());
        nextFile_ = QString::fromStdString(dir_->file("game"));
        trigger("File|Save State");
        QCOMPARE(lastRequest_.filter, QString("KOLT state (*.kstate)"));
        QVERIFY(QFileInfo::exists(QString::fromStdString(dir_->file("game.kstate"))));

        trigger("Options|Model|VZ200 (3.5795 MHz)");
        w_->runCommand(Command::Reset);
        typeAndRun("LATER", 30);
        nextFile_ = QString::fromStdString(dir_->file("game.kstate"));
        trigger("File|Load State");
        QCOMPARE(machine_hash(m()), saved);
        QVERIFY(menuItem("Options|Model|VZ300 (3.5469 MHz)")->isChecked());
        QVERIFY(errors_.isEmpty());

        // Not a state: refused, and nothing changes.
        nextFile_ = QString::fromStdString(dir_->write("bad.kstate", {'n', 'o', 'p', 'e'}));
        trigger("File|Load State");
        QCOMPARE(errors_.size(), 1);
        QCOMPARE(machine_hash(m()), saved);
    }

    void aStateOpensByItsKind() {
        start();
        typeAndRun("DROPPED", 40);
        const uint64_t saved = machine_hash(m());
        QVERIFY(state_save(w_->emulator(), dir_->file("drop.kstate")).done);
        typeAndRun("MORE", 30);
        QVERIFY(machine_hash(m()) != saved);
        QVERIFY(w_->media().open(QString::fromStdString(dir_->file("drop.kstate")), Media::Source::Drop));
        QCOMPARE(machine_hash(m()), saved);
        closeWindow();

        const CommandLine line = parse_command_line({dir_->file("drop.kstate")}).line;
        start({}, false, false, &line);
        QCOMPARE(machine_hash(m()), saved);
    }

    void quickSlotsOnTheFunctionKeys() {
        start({}, false, true);
        QTRY_VERIFY(w_->isRunning());
        QCOMPARE(w_->states().slot(), 1);
        QVERIFY(w_->statusText(3).contains("Slot 1"));
        QTest::keyClick(w_.get(), Qt::Key_F9, Qt::ShiftModifier);
        QCOMPARE(w_->states().slot(), 2);
        QVERIFY(w_->statusText(3).contains("Slot 2"));
        QFile::remove(w_->states().slotPath(2));
        QTest::keyClick(w_.get(), Qt::Key_F10);
        QCOMPARE(w_->statusText(3), QString("Slot 2 is empty"));

        w_->runCommand(Command::Pause); // so that nothing moves between the keys
        QTest::keyClick(w_.get(), Qt::Key_F9);
        QVERIFY(QFileInfo::exists(w_->states().slotPath(2)));
        QVERIFY(w_->states().slotPath(2).startsWith(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)));
        const uint64_t saved = machine_hash(m());
        typeAndRun("CHANGED", 30);
        QVERIFY(machine_hash(m()) != saved);
        QTest::keyClick(w_.get(), Qt::Key_F10);
        QCOMPARE(machine_hash(m()), saved);

        QTest::keyClick(w_.get(), Qt::Key_F10, Qt::ShiftModifier);
        QTest::keyClick(w_.get(), Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(w_->states().slot(), 5); // 2, 1, then round to 5
        QCOMPARE(QSettings().value("quickSlot").toInt(), 5);
    }

    // Held F7 runs the machine back one frame per tick, each frame shown.
    void f7HeldRewindsFrameByFrame() {
        start();
        trigger("Options|Fast Tape and Typing"); // off: the typing below runs at the Normal rate
        for (int i = 0; i < 100; ++i) w_->frameStep();
        typing_start(m(), "ABCDEFGHIJ");
        std::vector<uint64_t> past;
        for (int i = 0; i < 60; ++i) {
            w_->frameStep();
            past.push_back(machine_hash(m()));
        }
        key(QEvent::KeyPress, Qt::Key_F7);
        QVERIFY(w_->states().rewinding());
        QVERIFY(w_->statusText(3).contains("Rewinding"));
        for (int back = 1; back <= 40; ++back) {
            w_->frameStep();
            QCOMPARE(machine_hash(m()), past[size_t(59 - back)]);
        }
        key(QEvent::KeyRelease, Qt::Key_F7);
        QVERIFY(!w_->states().rewinding());
        // Forward again from there, as the machine went the first time.
        for (int i = 0; i < 40; ++i) w_->frameStep();
        QCOMPARE(machine_hash(m()), past[59]);

        // From the menu: one second at a time.
        const int32_t before = w_->states().history().frames();
        trigger("File|Rewind One Second\tF7 (hold)");
        QCOMPARE(w_->states().history().frames(), before - 50);

        // At the Maximum rate every second frame is kept: a step goes back two.
        trigger("Options|Display|Frame Rate|Maximum");
        past.clear();
        for (int i = 0; i < 20; ++i) {
            w_->frameStep();
            past.push_back(machine_hash(m()));
        }
        key(QEvent::KeyPress, Qt::Key_F7);
        w_->frameStep();
        QCOMPARE(machine_hash(m()), past[17]);
        w_->frameStep();
        QCOMPARE(machine_hash(m()), past[15]);
        key(QEvent::KeyRelease, Qt::Key_F7);
    }
};

QTEST_MAIN(StatesTest)
#include "states_test.moc"
