// Save states, quick-save slots and rewind, for the window.
//
// File > Save State and Load State go through dialogs; F9 saves and F10 loads
// the quick slot (slot 1 to 5, chosen with Shift+F9 and Shift+F10 and shown in
// the status bar), kept as slot-N.kstate in the user's data folder. A state
// loaded by any means brings its settings with it, so the window's check
// marks, status fields and cassette menu follow.
//
// Rewind: every frame run is recorded in a history of the last minute or
// more (at most 64 MB). While F7 is held, each frame tick steps the machine
// one recorded frame back and shows it, at the Normal pace; letting go runs on
// from there. File > Rewind One Second steps back 50 frames at once. A reset
// or a loaded state starts a new history: what came before is another past.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class MainWindow;
class RewindHistory;

class States : public QObject {
    Q_OBJECT
public:
    static constexpr int kSlots = 5;

    explicit States(MainWindow& window);
    ~States() override;

    void saveState();
    void loadState();
    // A state file opened by its kind (command line, drop, recent files).
    bool load(const QString& path);

    void quickSave();
    void quickLoad();
    void nextSlot(int step); // +1 or -1, wrapping within 1-5
    int slot() const { return slot_; }
    QString slotPath(int slot) const;

    // After every frame run: remember it. At the Maximum rate every second
    // frame is recorded, which keeps recording within a tenth of the frame.
    void recordFrame(bool maximumRate);
    // While F7 is held frames go backwards instead.
    void setRewinding(bool on);
    bool rewinding() const { return rewinding_; }
    // One frame tick while rewinding: steps back and shows it. False when the
    // history is used up.
    bool rewindStep();
    int rewindSeconds(int seconds);
    void forgetHistory();
    const RewindHistory& history() const { return *history_; }

private:
    bool save(const QString& path);
    void showSlot();

    MainWindow& w_;
    std::unique_ptr<RewindHistory> history_;
    int slot_ = 1;
    int32_t unrecorded_ = 0; // frames run since the last record
    bool rewinding_ = false;
};
