// kolt: the desktop emulator. Start-up order: the window with its toolbar and
// status bar, the display, the keyboard, the audio device (without one the
// program runs silently and says why), then the configuration from the folder
// the program started in, the check marks, the reset, and the frames.
#include <QApplication>
#include <QDir>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "frontend/audio_device.h"
#include "frontend/main_window.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void on_signal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(gSignalPipe[1], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP end the program as closing its window does, so a
// running tape recording still gets its header and every file is flushed.
void end_on_signals(QWidget& window) {
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] { window.close(); });
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    QApplication app(argc, argv);
    QApplication::setApplicationName("KOLT");

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

    window.startUp(QDir::currentPath());
    window.activateWindow(); // take the focus where no window manager gives it
    window.raise();
    return app.exec();
}
