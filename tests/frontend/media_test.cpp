// Opening files in one step, and the conveniences around it: the command
// line, drops, recent files, fast tape and typing, Pause, the function keys,
// screenshots and the picture's shape. The window runs on the offscreen
// platform; frames are run by hand unless a test needs the frame driver.
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QProcess>
#include <QtTest>

#include "files/state_file.h"
#include "files/basic_listing.h"
#include "frontend/display_widget.h"
#include "frontend/frame_driver.h"
#include "frontend/media.h"
#include "frontend/recent_files.h"
#include "machine/cassette.h"
#include "support/window_fixture.h"
#include "video/picture.h"

namespace {

std::vector<uint8_t> vz_file(uint8_t type, uint16_t start, std::vector<uint8_t> program) {
    std::vector<uint8_t> file(24 + program.size(), 0);
    std::memcpy(file.data(), "VZF0TEST", 8);
    file[21] = type;
    file[22] = uint8_t(start);
    file[23] = uint8_t(start >> 8);
    std::copy(program.begin(), program.end(), file.begin() + 24);
    return file;
}

// LD A,5Ah; LD (9000h),A; JR $
const std::vector<uint8_t> kMarker = {0x3E, 0x5A, 0x32, 0x00, 0x90, 0x18, 0xFE};

} // namespace

class MediaTest : public QObject, protected WindowFixture {
    Q_OBJECT

    // The built-in program echoes what is typed on the last three rows.
    bool echoShows(const char* text) {
        const std::string screen = screen_text(m());
        return screen.find(text, screen.size() - 3 * 33) != std::string::npos;
    }

    // Runs frames until `done` or `limit` frames.
    template <class Done> bool runUntil(Done done, int limit = 2000) {
        for (int i = 0; i < limit; ++i) {
            if (done()) return true;
            w_->frameStep();
        }
        return done();
    }

    CommandLine parse(std::vector<std::string> args) {
        const ParsedCommandLine parsed = parse_command_line(args);
        if (!parsed.error.empty()) qWarning("%s", parsed.error.c_str());
        return parsed.line;
    }

    void drop(const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w_.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w_.get(), &dropped);
    }

private slots:
    void initTestCase() { use_test_settings(); }
    void cleanup() { finish(); }

    void eachKindFromTheCommandLineStarts() {
        dir_ = std::make_unique<TempDir>();
        const std::string code = dir_->write("marker.vz", vz_file(0xF1, 0x8000, kMarker));
        const std::string basic = dir_->write("prog.vz", vz_file(0xF0, 0x7AE9, {0x00, 0x00, 0x00}));
        const std::string text = dir_->write("hello.txt", {'H', 'I', ' ', '4', '2', '\n'});
        const std::string disk = dir_->file("work.dsk");
        std::ofstream(disk).put('\0');
        write_wav(dir_->file("song.wav"), 22050, 22050);

        CommandLine line = parse({code, "--disk2", disk});
        start({}, false, false, &line);
        QVERIFY(runUntil([&] { return m().state.memory[0x9000] == 0x5A; }));
        QCOMPARE(w_->statusText(1), QString("D2: work.dsk"));
        closeWindow();

        line = parse({basic});
        start({}, false, false, &line);
        QVERIFY(runUntil([&] { return echoShows("RUN"); })); // the built-in program echoes what is typed
        QCOMPARE(memory_word(m(), 0x78A4), uint16_t(0x7AE9));
        closeWindow();

        line = parse({dir_->file("song.wav")});
        start({}, false, false, &line);
        QVERIFY(runUntil([&] { return echoShows("CRUN"); }));
        QVERIFY(m().tape.playing);
        QVERIFY(w_->statusText(2).startsWith("Cass: song.wav  playing"));
        closeWindow();

        line = parse({disk});
        start({}, false, false, &line);
        QVERIFY(w_->emulator().io.disks.image[0] != nullptr);
        QCOMPARE(w_->statusText(0), QString("D1: work.dsk"));
        closeWindow();

        line = parse({text});
        start({}, false, false, &line);
        QVERIFY(runUntil([&] { return echoShows("HI 42"); }));
    }

    // A state loaded while a program from the command line still waits for
    // the machine to start up is the machine now: the program does not
    // replace it afterwards.
    void aStateLoadedBeforeTheMachineWasReadyIsKept() {
        dir_ = std::make_unique<TempDir>();
        const std::string code = dir_->write("marker.vz", vz_file(0xF1, 0x8000, kMarker));
        start();
        const std::string state = dir_->file("early.kstate");
        QVERIFY(state_save(w_->emulator(), state).done);
        closeWindow();

        CommandLine line = parse({code});
        start({}, false, false, &line);
        QVERIFY(w_->media().starting());
        QVERIFY(w_->media().open(QString::fromStdString(state), Media::Source::Drop));
        QVERIFY(!w_->media().starting());
        QVERIFY(!runUntil([&] { return m().state.memory[0x9000] == 0x5A; }, 400));
    }

    // A stop signal ends the program cleanly (exit code 0, files finalised by
    // the normal end), even while a modal error box runs its own event loop:
    // the file given on the command line is no program.
    void aStopSignalEndsTheProgram() {
        TempDir dir;
        dir.write("bad.vz", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'r', 'o', 'g', 'r', 'a', 'm'});
        QProcess kolt;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SDL_AUDIODRIVER", "kolt-no-such-driver");
        kolt.setProcessEnvironment(env);
        kolt.setWorkingDirectory(QString::fromStdString(dir.file("")));
        kolt.start(KOLT_BINARY, {"bad.vz"});
        QVERIFY(kolt.waitForStarted(5000));
        QTest::qWait(3000); // the first frames, then the error box
        QCOMPARE(kolt.state(), QProcess::Running);
        kolt.terminate(); // SIGTERM
        QVERIFY2(kolt.waitForFinished(10000), "kolt did not end on SIGTERM");
        QCOMPARE(kolt.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kolt.exitCode(), 0);
    }

    // A listing is stored straight into memory and run; what is in memory
    // comes back out as a listing, and the screen as text.
    void listingsOpenExportAndTheScreenCopies() {
        dir_ = std::make_unique<TempDir>();
        const std::string listing = "20 END\n10 CLS\n";
        const std::string bas = dir_->write("prog.bas", std::vector<uint8_t>(listing.begin(), listing.end()));
        CommandLine line = parse({bas});
        start({}, false, false, &line);
        QVERIFY(runUntil([&] { return echoShows("RUN"); })); // stored, then RUN typed
        const std::vector<uint8_t> stored = {0xEF, 0x7A, 0x0A, 0x00, 0x84, 0x00, 0xF5, 0x7A,
                                             0x14, 0x00, 0x80, 0x00, 0x00, 0x00};
        QVERIFY(std::equal(stored.begin(), stored.end(), m().state.memory.begin() + 0x7AE9));
        QCOMPARE(memory_word(m(), 0x78F9), uint16_t(0x7AF7));
        QVERIFY(menuItem("File|Recent Files")->menu()->actions()[0]->text().endsWith("prog.bas"));

        nextFile_ = QString::fromStdString(dir_->file("out"));
        trigger("File|Export BASIC Listing");
        QCOMPARE(lastRequest_.kind, FileDialogRequest::Save);
        const std::vector<uint8_t> out = TempDir::read(dir_->file("out.bas"));
        QCOMPARE(std::string(out.begin(), out.end()), std::string("10 CLS\n20 END\n"));

        trigger("Edit|Copy Screen Text");
        const QStringList rows = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 16);
        for (const QString& row : rows) QCOMPARE(row.size(), 32);
        QVERIFY(rows.contains("RUN" + QString(29, ' '))); // the echo of what was typed

        // A pasted line the machine's input would cut: asked, and stored instead.
        QVERIFY(runUntil([&] { return !m().input.typingActive; }));
        QStringList asked;
        w_->askChoice = [&](const QString&, const QString& text, const QStringList&) {
            asked << text;
            return 0;
        };
        QApplication::clipboard()->setText("5 PRINT \"" + QString(70, 'A') + "\"\n");
        trigger("Edit|Paste");
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked[0].contains("80 characters"));
        QVERIFY(!m().input.typingActive);
        std::string text;
        QVERIFY(basic_listing_of_memory(m(), text).done);
        QCOMPARE(text, "5 PRINT \"" + std::string(70, 'A') + "\"\n");
        // A short line is typed without a word.
        QApplication::clipboard()->setText("X");
        trigger("Edit|Paste");
        QCOMPARE(asked.size(), 1);
        QVERIFY(m().input.typingActive);
    }

    void dropsOpenAsTheCommandLineDoes() {
        dir_ = std::make_unique<TempDir>();
        const std::string code = dir_->write("marker.vz", vz_file(0xF1, 0x8000, kMarker));
        for (const char* name : {"one.dsk", "two.dsk"}) std::ofstream(dir_->file(name)).put('\0');
        start();
        drop({QString::fromStdString(code)});
        QVERIFY(runUntil([&] { return m().state.memory[0x9000] == 0x5A; }));
        drop({QString::fromStdString(dir_->file("one.dsk"))});
        drop({QString::fromStdString(dir_->file("two.dsk"))}); // drive 1 is taken: drive 2
        QCOMPARE(w_->statusText(0), QString("D1: one.dsk"));
        QCOMPARE(w_->statusText(1), QString("D2: two.dsk"));

        // Files of no known kind are not taken.
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir_->write("notes.doc", {1})))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QApplication::sendEvent(w_.get(), &enter);
        QVERIFY(!enter.isAccepted());
    }

    void badCommandLinesAreRefusedBeforeAnyWindow() {
        TempDir dir;
        const std::string rom = dir.write("rom.bin", {1, 2, 3});
        const std::vector<std::vector<std::string>> bad = {
            {"--bogus"},        {"--rom"},          {"--rom", dir.file("absent")}, {"--model", "vz100"},
            {"--scale", "4"},   {dir.file("x.vz")}, {rom},                         {"a.vz", "b.vz"},
        };
        for (const auto& args : bad) QVERIFY2(!parse_command_line(args).error.empty(), args[0].c_str());
        const ParsedCommandLine good = parse_command_line({"--rom", rom, "--model", "vz300", "--scale", "3", "--fast"});
        QVERIFY2(good.error.empty(), good.error.c_str());
        QCOMPARE(*good.line.model, 1);
        QCOMPARE(*good.line.scale, 3);

        // The program itself says why and ends with code 2, needing no display.
        QProcess kolt;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        kolt.setProcessEnvironment(env);
        kolt.start(KOLT_BINARY, {"--model", "vz100"});
        QVERIFY(kolt.waitForFinished(10000));
        QCOMPARE(kolt.exitCode(), 2);
        QVERIFY(kolt.readAllStandardError().contains("--model takes vz200 or vz300"));

        // Asking for a cartridge and for none at once is a mistake in the line, in either order.
        const QString cartridge = QString::fromStdString(rom);
        for (const QStringList& args : {QStringList{"--cartridge", cartridge, "--no-cartridge"},
                                        QStringList{"--no-cartridge", "--cartridge", cartridge}}) {
            kolt.start(KOLT_BINARY, args);
            QVERIFY(kolt.waitForFinished(10000));
            QCOMPARE(kolt.exitStatus(), QProcess::NormalExit);
            QCOMPARE(kolt.exitCode(), 2);
            QVERIFY(kolt.readAllStandardError().contains("--cartridge and --no-cartridge contradict each other"));
        }
    }

    void recentFilesOutliveTheWindowAndLoseVanishedFiles() {
        dir_ = std::make_unique<TempDir>();
        const std::string first = dir_->write("first.vz", vz_file(0xF1, 0x8000, kMarker));
        const std::string second = dir_->write("second.txt", {'A'});
        QSettings().clear();
        start();
        drop({QString::fromStdString(first)});
        drop({QString::fromStdString(second)});
        // A program joins the list once it has loaded, when the machine is ready.
        QVERIFY(runUntil([&] { return w_->media().recent().paths().size() == 2; }));
        closeWindow();

        start();
        QMenu* recent = menuItem("File|Recent Files")->menu();
        QCOMPARE(recent->actions().size(), 2 + 2); // and a separator and Clear List
        // Newest first: the text was typed at once, the program loaded later.
        QVERIFY(recent->actions()[0]->text().endsWith("first.vz"));
        QVERIFY(recent->actions()[1]->text().endsWith("second.txt"));
        std::filesystem::remove(first);
        recent->actions()[0]->trigger();
        QCOMPARE(errors_.size(), 1);
        QCOMPARE(recent->actions().size(), 1 + 2);
        recent->actions()[0]->trigger(); // re-opened as its kind: typed
        QVERIFY(runUntil([&] { return m().input.typingActive; }));
    }

    void fastTapeRunsAtTheMaximumUntilTheTapeEnds() {
        dir_ = std::make_unique<TempDir>();
        write_wav(dir_->file("short.wav"), 22050, 11025); // half a second
        start();
        QVERIFY(runUntil([&] { return !w_->media().starting(); }, 300));
        QVERIFY(!w_->frameDriver()->maximumRate());
        nextFile_ = QString::fromStdString(dir_->file("short.wav"));
        w_->runCommand(Command::Play);
        w_->frameStep();
        QVERIFY(w_->frameDriver()->maximumRate());
        QVERIFY(runUntil([&] { return !m().tape.playing; }, 100));
        w_->frameStep();
        QVERIFY(!w_->frameDriver()->maximumRate()); // the chosen rate again
        QVERIFY2(w_->statusText(2).endsWith("ended"), qPrintable(w_->statusText(2)));

        // Off: the tape plays at the chosen rate.
        trigger("Options|Fast Tape and Typing");
        w_->runCommand(Command::Stop);
        w_->runCommand(Command::Play);
        w_->frameStep();
        QVERIFY(m().tape.playing && !w_->frameDriver()->maximumRate());
        QVERIFY(!QSettings().value("fastTapeAndTyping").toBool());
    }

    void functionKeysReachTheirCommands() {
        start({}, false, true);
        QTRY_VERIFY(w_->isRunning());
        QTest::keyClick(w_.get(), Qt::Key_F5);
        QVERIFY(!w_->isRunning());
        QVERIFY(w_->windowTitle().endsWith("Paused"));
        QVERIFY(w_->statusText(3).startsWith("Paused"));
        const uint64_t paused = w_->framesRun();
        QTest::qWait(100);
        QCOMPARE(w_->framesRun(), paused);
        QTest::keyClick(w_.get(), Qt::Key_F5);
        QTRY_VERIFY(w_->framesRun() > paused);
        QVERIFY(!w_->windowTitle().contains("Paused"));

        QTest::keyClick(w_.get(), Qt::Key_F6);
        QCOMPARE(m().settings.frameRateNormal, uint8_t(0));
        QTest::keyClick(w_.get(), Qt::Key_F6);
        QCOMPARE(m().settings.frameRateNormal, uint8_t(1));

        QApplication::clipboard()->setText("X");
        QTest::keyClick(w_.get(), Qt::Key_F3);
        QVERIFY(m().input.typingActive);

        m().z80.pc = 0x1234;
        QTest::keyClick(w_.get(), Qt::Key_F2);
        QVERIFY(m().z80.pc < 0x0100); // reset, and running again from the start

        w_->screenshotFolder = QString::fromStdString(dir_->file("pictures"));
        QTest::keyClick(w_.get(), Qt::Key_F12);
        QCOMPARE(QDir(w_->screenshotFolder).entryList({"kolt-*.png"}).size(), 1);
        // No function key reaches the machine's keyboard.
        QCOMPARE(m().state.keyboardRows, (std::array<uint8_t, 8>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    }

    void aScreenshotIsThePictureAsTheCommandLineRunnerWritesIt() {
        start();
        runUntil([] { return false; }, 60);
        w_->screenshotFolder = QString::fromStdString(dir_->file("pictures"));
        w_->runCommand(Command::SaveScreenshot);
        w_->runCommand(Command::SaveScreenshot); // the same second: a new name all the same
        const QStringList files = QDir(w_->screenshotFolder).entryList({"kolt-*.png"});
        QCOMPARE(files.size(), 2);
        QVERIFY2(QRegularExpression("^kolt-\\d{8}-\\d{6}\\.png$").match(files[1]).hasMatch(), qPrintable(files[1]));
        QCOMPARE(files[0], files[1].chopped(4) + "-2.png");
        QVERIFY(w_->statusText(3).startsWith("Screenshot saved to "));
        const QImage saved(QDir(w_->screenshotFolder).filePath(files[0]));
        QCOMPARE(saved.size(), QSize(320, 240));
        const std::vector<uint8_t> rgb = picture_rgb(m());
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x) {
                const uint8_t* p = &rgb[size_t(y * 320 + x) * 3];
                QCOMPARE(saved.pixel(x, y), qRgb(p[0], p[1], p[2]));
            }
    }

    void thePictureKeepsItsShape() {
        start();
        w_->runCommand(Command::SizeX2);
        QTRY_COMPARE(w_->display()->pictureRect(), QRect(0, 0, 640, 480));
        w_->resize(1100, 700);
        QTRY_VERIFY(w_->display()->width() > 900);
        const QRect r = w_->display()->pictureRect();
        QCOMPARE(r.width() * 3, r.height() * 4);
        QVERIFY(r.width() % 320 == 0); // whole machine pixels
        QCOMPARE(r.center().x(), w_->display()->rect().center().x());
        w_->display()->resize(330, 300); // room for one: centred on black
        QCOMPARE(w_->display()->pictureRect(), QRect(5, 30, 320, 240));
    }
};

QTEST_MAIN(MediaTest)
#include "media_test.moc"
