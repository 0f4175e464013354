// kolt: the desktop emulator. The command line is read and checked first, so
// a bad option or a file that cannot be opened ends the program (exit code 2)
// before the main window opens (also in a message box where no terminal shows
// stderr). Then: the window with its toolbar and status bar, the display,
// the keyboard, the audio device (without one the program runs silently and
// says why), the configuration from the folder the program started in, the
// check marks, the command line's options, the reset, the command line's
// file, and the frames.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "frontend/audio_device.h"
#include "frontend/command_line.h"
#include "frontend/main_window.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void on_signal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(gSignalPipe[1], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP end the program as closing its window does, so a
// running tape recording still gets its header and every file is flushed
// (the emulator's destructor does both once the event loop ends). An open
// dialog runs an event loop of its own and would keep the program alive: the
// dialogs are dismissed and every loop is left.
void end_on_signals(QWidget& window) {
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [notifier, &window] {
        char bytes[16];
        [[maybe_unused]] const ssize_t n = read(gSignalPipe[0], bytes, sizeof bytes); // else it fires for ever
        notifier->setEnabled(false);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible()) dialog->reject();
        window.close();
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

// Our arguments, without the options Qt takes for itself (-platform offscreen
// and the like), so that ours are checked before Qt needs a display.
std::vector<std::string> own_arguments(int argc, char** argv) {
    static const std::set<std::string> qtWithValue = {"-platform", "-platformpluginpath", "-platformtheme",
                                                      "-plugin", "-qwindowgeometry", "-qwindowicon",
                                                      "-qwindowtitle", "-session", "-style", "-stylesheet",
                                                      "-display", "-geometry"};
    static const std::set<std::string> qtAlone = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (qtWithValue.count(arg)) ++i;
        else if (!qtAlone.count(arg)) args.push_back(arg);
    }
    return args;
}

// Started from the desktop menu, the current folder is the home folder: the
// data folder takes the start folder's part instead, so kolt.cfg is kept
// there. Paths given relative to where we were keep meaning the same files.
bool enter_data_folder(CommandLine& line) {
    const QString folder = MainWindow::dataFolder();
    for (std::optional<std::string>* path : {&line.rom, &line.cartridge, &line.disk2, &line.file})
        if (*path) **path = QFileInfo(QString::fromStdString(**path)).absoluteFilePath().toStdString();
    if (!QDir().mkpath(folder) || !QDir::setCurrent(folder)) {
        std::fprintf(stderr, "kolt: cannot use the data folder %s\n", folder.toLocal8Bit().constData());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    ParsedCommandLine parsed = parse_command_line(own_arguments(argc, argv));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "kolt: %s\nTry 'kolt --help' for the options.\n", parsed.error.c_str());
        // Started from a desktop launcher, nobody reads stderr: say it in a box too.
        const char* platform = std::getenv("QT_QPA_PLATFORM");
        const bool seen = !platform || std::string(platform) != "offscreen"; // nobody could close it there
        if (!isatty(STDERR_FILENO) && seen && (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"))) {
            QApplication app(argc, argv);
            QMessageBox::critical(nullptr, "KOLT",
                                  QString("KOLT cannot start: %1").arg(QString::fromStdString(parsed.error)));
        }
        return 2;
    }
    if (parsed.line.help) {
        std::fputs(command_line_usage(), stdout);
        return 0;
    }
    if (parsed.line.version) {
        std::printf("kolt %s\n", KOLT_VERSION);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName("KOLT");
    QApplication::setApplicationName("KOLT");

    if (parsed.line.startInDataFolder && !enter_data_folder(parsed.line)) return 2;

    SdlAudio audio;
    MainWindow window(&audio);
    // KOLT_REPORT_STARTUP=1 prints the time to the first presented frame, for measurements.
    if (std::getenv("KOLT_REPORT_STARTUP")) {
        window.onFirstFrame = [started] {
            const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started);
            std::fprintf(stderr, "first frame presented after %.1f ms\n", ms.count());
        };
    }
    window.show();
    end_on_signals(window);
    window.startUp(QDir::currentPath(), true, &parsed.line);
    window.activateWindow(); // take the focus where no window manager gives it
    window.raise();
    return app.exec();
}
