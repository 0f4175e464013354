// The debugger window's tools driven as a user would: the table of
// breakpoints and watchpoints, register, flag and memory editing, the runs to
// a point and symbols, on the offscreen platform.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBlock>
#include <QtTest>

#include <cstring>
#include <fstream>
#include <initializer_list>

#include "debugger/stepping.h"
#include "frontend/debugger_dialog.h"
#include "machine/emulator.h"
#include "machine/frame.h"
#include "support/temp_dir.h"

class DebuggerDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Emulator> emu_;
    std::unique_ptr<DebuggerDialog> dialog_;

    Machine& m() { return emu_->m(); }
    template <class T> T* find(const char* name) {
        T* w = dialog_->findChild<T*>(name);
        if (!w) qFatal("no widget %s", name);
        return w;
    }
    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }
    QString status() { return find<QLabel>("status")->text(); }
    void load(uint16_t at, std::initializer_list<uint8_t> bytes) {
        for (const uint8_t b : bytes) m().state.memory[at++] = b;
    }
    void open() {
        dialog_ = std::make_unique<DebuggerDialog>(*emu_);
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
    }
    // Types into a box and presses Return there, as a user finishes an entry.
    void enter(const char* box, const QString& text) {
        QLineEdit* edit = find<QLineEdit>(box);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    QStringList rows() {
        auto* table = find<QTableWidget>("stopTable");
        QStringList out;
        for (int r = 0; r < table->rowCount(); ++r)
            out << QString("%1 %2 %3")
                       .arg(table->item(r, 0)->checkState() == Qt::Checked ? "on" : "off",
                            table->item(r, 1)->text(), table->item(r, 2)->text());
        return out;
    }
    void putCursorOnLine(int line) {
        auto* pane = find<QPlainTextEdit>("disassembly");
        QTextCursor c(pane->document()->findBlockByNumber(line));
        pane->setTextCursor(c);
    }

  private slots:
    void init() {
        emu_ = std::make_unique<Emulator>();
        settings_set_path(m().settings.romFile, "/nonexistent/kolt-test-rom");
        machine_reset(m());
        m().z80.pc = 0x8000;
    }
    void cleanup() {
        dialog_.reset();
        emu_.reset();
    }

    void tableShowsTheTextsBreakpointsAndTheWatchpoints() {
        open();
        find<QLineEdit>("breakpoints")->setText("8000 8010");
        click("setBreakpoints");
        enter("watchEntry", "w:7000-77ff");
        QVERIFY(dialog_->isVisible()); // Return added the watchpoint; it did not press Run
        QCOMPARE(rows(), QStringList({"on break 8000", "on break 8010", "on watch w:7000-77FF"}));
        QCOMPARE(m().debug.watchCount, uint8_t(1));
        QCOMPARE(find<QLineEdit>("watchEntry")->text(), QString());

        // Switching a row off keeps it listed and the text as it was.
        find<QTableWidget>("stopTable")->item(0, 0)->setCheckState(Qt::Unchecked);
        QVERIFY(!breakpoint_at(m().breakpoints, 0x8000));
        QCOMPARE(find<QLineEdit>("breakpoints")->text(), QString("8000 8010"));
        find<QTableWidget>("stopTable")->item(2, 0)->setCheckState(Qt::Unchecked);
        QVERIFY(!m().debug.active);

        // Removing a row of the text takes it out of the text box too.
        find<QTableWidget>("stopTable")->selectRow(1);
        click("removeStop");
        QCOMPARE(find<QLineEdit>("breakpoints")->text(), QString("8000"));
        QVERIFY(!breakpoint_at(m().breakpoints, 0x8010));
        QCOMPARE(rows(), QStringList({"off break 8000", "off watch w:7000-77FF"}));

        enter("breakEntry", "9000");
        QVERIFY(breakpoint_at(m().breakpoints, 0x9000));
        QCOMPARE(rows().at(1), QString("on break 9000  (table)"));
        enter("breakEntry", "nowhere");
        QVERIFY(status().contains("nowhere"));
        enter("watchEntry", "w:8000-7000");
        QVERIFY(status().contains("starts above its end"));
        QCOMPARE(m().debug.watchCount, uint8_t(1));

        find<QTableWidget>("stopTable")->selectRow(2);
        click("removeStop");
        QCOMPARE(m().debug.watchCount, uint8_t(0));
        QCOMPARE(find<QTableWidget>("stopTable")->rowCount(), 2);
    }

    void registersAndFlagsEditInPlace() {
        load(0x9000, {0x3E, 0x42}); // LD A,42h
        open();
        enter("regPC", "9000");
        QCOMPARE(m().z80.pc, uint16_t(0x9000));
        QVERIFY(find<QPlainTextEdit>("registers")->toPlainText().contains("PC  9000"));
        QVERIFY(find<QPlainTextEdit>("disassembly")->toPlainText().startsWith("9000  3E 42       LD A,42h"));
        enter("regHL'", "beef");
        QCOMPARE(m().z80.hl_alt, uint16_t(0xBEEF));
        QCOMPARE(find<QLineEdit>("regHL'")->text(), QString("BEEF"));

        enter("regSP", "12345");
        QVERIFY(status().contains("SP"));
        QCOMPARE(find<QLineEdit>("regSP")->text(), QString("F000")); // put back
        QCOMPARE(m().z80.sp, uint16_t(0xF000));

        m().z80.af = 0x1200;
        dialog_->step(); // LD A,42h; the boxes follow the machine
        QCOMPARE(find<QLineEdit>("regAF")->text(), QString("4200"));
        find<QCheckBox>("flag6")->click(); // Z
        find<QCheckBox>("flag0")->click(); // C
        QCOMPARE(m().z80.af, uint16_t(0x4241));
        QVERIFY(find<QPlainTextEdit>("registers")->toPlainText().endsWith("01000001"));
        find<QCheckBox>("flag6")->click();
        QCOMPARE(m().z80.af, uint16_t(0x4201));
    }

    void memoryBytesEditAsHex() {
        m().state.memory[0x9003] = 0x11;
        m().state.memory[0x9007] = 0x77;
        open();
        find<QLineEdit>("memoryAddress")->setText("9000");
        click("memorySet");
        auto* hex = find<QTableWidget>("memoryHex");
        QCOMPARE(hex->verticalHeaderItem(1)->text(), QString("9008"));
        QCOMPARE(hex->item(0, 3)->text(), QString("11"));
        hex->item(0, 3)->setText("ab");
        QCOMPARE(m().state.memory[0x9003], uint8_t(0xAB));
        QCOMPARE(hex->item(0, 3)->text(), QString("AB"));
        hex->item(1, 7)->setText("1FF");
        QCOMPARE(m().state.memory[0x900F], uint8_t(0x00));
        QCOMPARE(hex->item(1, 7)->text(), QString("00"));
        QVERIFY(status().contains("1FF"));
        click("memoryDown");
        QCOMPARE(hex->verticalHeaderItem(0)->text(), QString("9006"));
        QCOMPARE(hex->item(0, 1)->text(), QString("77"));
    }

    void runsToAPointFromTheButtons() {
        load(0x8000, {0xCD, 0x00, 0x90, 0x00, 0x00, 0x00, 0x18, 0xFE}); // CALL 9000h; NOPs; JR $
        load(0x9000, {0xC9});                                           // RET
        open();
        click("stepOver");
        QCOMPARE(m().z80.pc, uint16_t(0x8003));
        QCOMPARE(status(), QString("Step Over: now at 8003"));
        putCursorOnLine(2); // 8005
        click("runToCursor");
        QCOMPARE(m().z80.pc, uint16_t(0x8005));
        putCursorOnLine(0); // 8005 again: reached only by running on, and it never is
        click("runToCursor");
        QCOMPARE(status(), QString("Run to Cursor: 8005 not reached within 10 seconds of emulated time"));
        QCOMPARE(m().z80.pc, uint16_t(0x8006));
        load(0x8000, {0x00});
        find<QLineEdit>("listingStart")->setText("8000");
        find<QLineEdit>("listingEnd")->setText("8003");
        click("build");
        putCursorOnLine(1); // a listing's lines serve as well
        click("setPc");
        QCOMPARE(m().z80.pc, uint16_t(0x8001));
        QVERIFY(find<QPlainTextEdit>("registers")->toPlainText().contains("PC  8001"));
    }

    void symbolsLoadOnceAndServeTheSession() {
        TempDir dir;
        const std::string text = "start = $8000\nsub EQU 9000H\n    00009003  done\nthis is no symbol\n";
        dir.write("prog.sym", std::vector<uint8_t>(text.begin(), text.end()));
        load(0x8000, {0xCD, 0x00, 0x90, 0x00});
        open();
        dialog_->chooseSymbolFile = [&] { return QString::fromStdString(dir.file("prog.sym")); };
        QAction* loadAction = dialog_->findChild<QAction*>("loadSymbols");
        QVERIFY(loadAction);
        loadAction->trigger();
        QCOMPARE(status(), QString("Read 3 symbols from prog.sym (3 in all). Skipped 1 malformed line "
                                   "(the first is line 4)."));
        auto* pane = find<QPlainTextEdit>("disassembly");
        QVERIFY(pane->toPlainText().startsWith("start:\n8000  CD 00 90    CALL sub\n"));
        putCursorOnLine(0); // the label line stands for its address
        click("setPc");
        QCOMPARE(m().z80.pc, uint16_t(0x8000));

        // Kept when the window is opened again; labels serve in the address boxes.
        dialog_.reset();
        open();
        QVERIFY(find<QPlainTextEdit>("disassembly")->toPlainText().startsWith("start:\n"));
        find<QLineEdit>("memoryAddress")->setText("done");
        click("memorySet");
        QCOMPARE(DebuggerDialog::memoryViewAddress(), uint16_t(0x9003));
        enter("breakEntry", "sub");
        QCOMPARE(rows(), QStringList({"on break 9000  sub  (table)"}));
        enter("watchEntry", "rw:start-done");
        QCOMPARE(m().debug.watch[0].to, uint16_t(0x9003));
        enter("regPC", "sub");
        QCOMPARE(m().z80.pc, uint16_t(0x9000));
        dialog_->findChild<QAction*>("clearSymbols")->trigger();
        QVERIFY(emu_->symbols.byName.empty());
        QVERIFY(!find<QPlainTextEdit>("disassembly")->toPlainText().contains("sub"));
    }

    void openedByAStopSaysWhatStoppedIt() {
        load(0x8000, {0x3E, 0x3F, 0x32, 0x00, 0x70, 0x18, 0xFE}); // LD A,3Fh; LD (7000h),A; JR $
        std::string why;
        QVERIFY(watch_add(m().debug, *watch_parse("w:7000", nullptr, &why)));
        QCOMPARE(machine_run_frame(m(), emu_->io), uint8_t(1));
        open();
        QCOMPARE(status(), QString("Watchpoint hit: write 7000 = 3F at 8002"));
        QCOMPARE(rows(), QStringList({"on watch w:7000"}));
        dialog_->step();
        QCOMPARE(status(), QString());
        // Opened by the user, with nothing stopped, it says nothing.
        watch_clear(m().debug);
        machine_run_frame(m(), emu_->io);
        dialog_.reset();
        open();
        QCOMPARE(status(), QString());
    }
};

QTEST_MAIN(DebuggerDialogTest)
#include "debugger_dialog_test.moc"
