// Files into the machine, whatever brought them: the menu's file commands,
// the command line, a drop on the window and the recent-files list all come
// here, so a file behaves the same however it was opened.
//
// A file opened by its kind is started too: a .vz program is loaded and run
// (a BASIC program gets RUN typed), a .wav or .cas tape is played with CRUN
// typed, a .dsk disk is mounted, a .txt file is typed, and a .bas listing is
// stored as the ROM stores typed lines and run. A program, tape or
// text opened while the machine is still starting up after a reset waits
// until it is ready: until the BASIC ROM shows READY, or 5 s of emulated time
// where no ROM ever does (the built-in program).
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

#include "files/file_outcome.h"
#include "files/media_open.h"

class MainWindow;
class RecentFiles;
class QMenu;

class Media : public QObject {
    Q_OBJECT
public:
    enum class Source { Menu, CommandLine, Drop, Recent };

    Media(MainWindow& window, QMenu* recentMenu);

    // Opens and starts a file by its kind. False, with the reason shown, when
    // it cannot; a recent entry whose file is gone leaves the list.
    bool open(const QString& path, Source source);

    // Mounts a disk image in drive 0 or 1.
    bool mountDisk(int drive, const QString& path);

    // The menu's file commands, with their dialogs.
    void loadVz();
    void saveVz();
    void loadText();
    void loadBas();
    void exportListing();
    void copyScreenText();
    void mountDrive(int drive);
    void unmountDrive(int drive);
    void playTape();
    void recordTape();
    void stopTape();
    void mapPrinter();
    void loadImage(bool rom);
    void saveImage(bool rom);
    void loadFont();
    void loadBitmap();
    void paste();

    // After every frame: starts what waited for the machine to be ready, and
    // keeps the cassette's status field up to date.
    void afterFrame();
    // After a reset the machine starts up again.
    void machineReset();
    // After a state was loaded: the machine is ready, nothing that waited for
    // it starts any more, and the fields show the disks and the tape it
    // re-attached.
    void stateLoaded();
    // Something waits for the machine to be ready.
    bool starting() const { return startUp_.waiting(); }

    RecentFiles& recent() { return *recent_; }

private:
    bool play(const QString& path);
    void keepImage(const QString& path, bool rom);
    // Whether to type a text: when a line is longer than the machine's line
    // input takes, the user may store it as a listing instead (done here,
    // once the machine is ready) or give up.
    enum class Typing { Type, Stored, Nothing };
    Typing typeOrStore(const std::string& text);
    bool openListing(const QString& path);
    bool ready() const;
    void whenReady(std::function<void()> start);
    void showTape();

    MainWindow& w_;
    RecentFiles* recent_;
    MediaStartUp startUp_;
    QString tapeName_;
    QString tapeState_;
    bool tapeWasRunning_ = false;
    int tapeShownAt_ = 0;
};
