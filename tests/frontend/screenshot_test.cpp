// Screenshots of the real windows on an X display (run under Xvfb): the main
// window at x2 with the built-in program running, and the debugger. The
// pictures are checked where the emulated screen is known, and saved to
// $KOLT_SCREENSHOT_DIR (the README's pictures come from here).
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QtTest>

#include "frontend/debugger_dialog.h"
#include "frontend/display_widget.h"
#include "frontend/keyboard_help.h"
#include "frontend/main_window.h"

class ScreenshotTest : public QObject {
    Q_OBJECT

    QString outputDir() const {
        const QString dir = qEnvironmentVariable("KOLT_SCREENSHOT_DIR", QDir::currentPath());
        QDir().mkpath(dir);
        return dir;
    }

    // The window as the X server shows it, frame and all.
    QImage grab(QWidget& w) {
        QCoreApplication::processEvents();
        QTest::qWait(200);
        return w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    }

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != "xcb") QSKIP("needs an X display (run under xvfb-run)");
    }

    void mainWindowAtTwiceTheSize() {
        MainWindow w(nullptr);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        settings_set_path(w.emulator().m().settings.romFile, "/nonexistent/kolt-screenshot-rom");
        w.startUp(QDir::tempPath(), false);
        typing_start(w.emulator().m(), "HELLO\r");
        for (int i = 0; i < 60; ++i) w.frameStep();
        QTRY_COMPARE(w.display()->size(), QSize(640, 480));
        const QImage shot = grab(w);
        QVERIFY(shot.save(outputDir() + "/kolt-x2.png"));

        // The picture: black text-mode border around the light green screen,
        // dark green letters in the title row.
        const QPoint origin = w.display()->mapTo(&w, QPoint(0, 0));
        auto at = [&](int x, int y) { return shot.pixel(origin.x() + x, origin.y() + y) & 0xFFFFFF; };
        QCOMPARE(at(10, 10), 0x000000u);               // left border
        QCOMPARE(at(320, 300), 0x00FF00u);             // the screen's background
        int dark = 0;
        for (int x = 64; x < 576; ++x) dark += at(x, 62) == 0x004000u; // inside the title row
        QVERIFY(dark > 100);
    }

    void debuggerWindow() {
        MainWindow w(nullptr);
        w.show();
        settings_set_path(w.emulator().m().settings.romFile, "/nonexistent/kolt-screenshot-rom");
        w.startUp(QDir::tempPath(), false);
        for (int i = 0; i < 30; ++i) w.frameStep();
        DebuggerDialog dialog(w.emulator(), &w);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QImage shot = grab(dialog);
        QVERIFY(shot.save(outputDir() + "/kolt-debugger.png"));
        int green = 0;
        for (int y = 0; y < shot.height(); y += 2)
            for (int x = 0; x < shot.width(); x += 2) green += (shot.pixel(x, y) & 0xFFFFFF) == 0x00FF00u;
        QVERIFY(green > 2000); // the picture pane and the memory view's text
    }

    // Help > Keyboard's picture under both mappings (the README shows By Character).
    void keyboardHelpPicture() {
        for (const bool byCharacter : {true, false}) {
            const QImage picture = keyboard_help_picture(byCharacter);
            QVERIFY(picture.width() >= 800 && picture.height() >= 300);
            // Keys drawn: white key tops over the grey background, across the width.
            int keyTops = 0;
            for (int x = 0; x < picture.width(); ++x) keyTops += (picture.pixel(x, 80) & 0xFFFFFF) == 0xFAFAF8u;
            QVERIFY(keyTops > picture.width() / 2);
            QVERIFY(picture.save(outputDir() + (byCharacter ? "/kolt-keyboard.png" : "/kolt-keyboard-position.png")));
        }
        QVERIFY(keyboard_help_picture(true) != keyboard_help_picture(false));
    }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
