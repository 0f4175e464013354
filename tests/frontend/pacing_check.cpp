// The frame driver's pace at the Normal rate, measured on the real window
// (offscreen platform) over 60 seconds of wall time: 3000 frames, give or
// take 2. A long check with a label of its own, run alone: it measures time.
#include <QApplication>
#include <QElapsedTimer>
#include <QtTest>

#include <chrono>

#include "frontend/frame_driver.h"
#include "frontend/media.h"
#include "frontend/main_window.h"
#include "support/temp_dir.h"
#include "support/window_fixture.h"

class PacingCheck : public QObject, protected WindowFixture {
    Q_OBJECT

private slots:
    void theGridRule() {
        const FrameClock::time_point d{std::chrono::seconds(100)};
        using std::chrono::microseconds;
        // On time, or late by less than a period: the next deadline is on the grid.
        QVERIFY(next_frame_deadline(d, d + microseconds(300)) == d + microseconds(20000));
        QVERIFY(next_frame_deadline(d, d + microseconds(19999)) == d + microseconds(20000));
        // Later: no catching up, the grid restarts from the late frame.
        QVERIFY(next_frame_deadline(d, d + microseconds(20000)) == d + microseconds(40000));
        QVERIFY(next_frame_deadline(d, d + microseconds(50000)) == d + microseconds(70000));
    }

    void fiftyFramesASecondOverAMinute() {
        TempDir dir;
        MainWindow w(nullptr);
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        settings_set_path(w.emulator().m().settings.romFile, "/nonexistent/kolt-pacing-rom");
        w.startUp(QString::fromStdString(dir.file("")), true);
        QTRY_VERIFY(w.framesRun() > 10);

        const auto start = FrameClock::now();
        const uint64_t first = w.framesRun();
        QTest::qWait(60000);
        const uint64_t frames = w.framesRun() - first;
        const double seconds = std::chrono::duration<double>(FrameClock::now() - start).count();
        qInfo("%llu frames in %.3f s: %.4f frames a second", static_cast<unsigned long long>(frames), seconds,
              double(frames) / seconds);
        QVERIFY2(frames >= 2998 && frames <= 3002, qPrintable(QString::number(frames)));
    }

    // Not checked against a limit: the figures for the notes (a 60 s tape
    // and 2,000 typed characters with Fast Tape and Typing on).
    void fastTapeAndTypingTimes() {
        use_test_settings();
        start({}, false, true);
        QTRY_VERIFY(!w_->media().starting());
        write_wav(dir_->file("minute.wav"), 22050, 60 * 22050);
        nextFile_ = QString::fromStdString(dir_->file("minute.wav"));
        QElapsedTimer clock;
        clock.start();
        w_->runCommand(Command::Play);
        QTRY_VERIFY_WITH_TIMEOUT(!m().tape.playing, 120000);
        qInfo("a 60 s tape played in %.2f s", clock.elapsed() / 1000.0);

        std::string text;
        for (int i = 0; text.size() < 2000; ++i) text += "10 PRINT " + std::to_string(i) + " ABCDEFGHIJKLMNOPQRSTUVWXYZ\r";
        text.resize(2000);
        clock.restart();
        QVERIFY(typing_start(m(), text));
        QTRY_VERIFY_WITH_TIMEOUT(!m().input.typingActive, 120000);
        qInfo("2000 characters typed in %.2f s", clock.elapsed() / 1000.0);
        finish();
    }
};

QTEST_MAIN(PacingCheck)
#include "pacing_check.moc"
