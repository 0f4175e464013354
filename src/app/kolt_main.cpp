// kolt: the desktop emulator. Start-up order: the window with its toolbar and
// status bar, the display, the keyboard, the audio device (the program ends
// if it cannot be opened), then the configuration from the folder the program
// started in, the check marks, the reset, and the frames.
#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <string>

#include "frontend/audio_device.h"
#include "frontend/main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("KOLT");

    SdlAudio audio;
    MainWindow window(&audio);
    window.show();

    std::string why;
    if (!audio.open(&why)) {
        QMessageBox::critical(&window, "KOLT", "Error initializing DirectSound.");
        return 1;
    }
    window.startUp(QDir::currentPath());
    window.activateWindow(); // take the focus where no window manager gives it
    window.raise();
    return app.exec();
}
