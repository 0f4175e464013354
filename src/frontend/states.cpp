#include "frontend/states.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include "files/state_file.h"
#include "frontend/main_window.h"
#include "frontend/media.h"
#include "frontend/recent_files.h"
#include "frontend/status_bar.h"
#include "machine/rewind.h"

namespace {

constexpr const char* kSlotSetting = "quickSlot";

} // namespace

States::States(MainWindow& window)
    : QObject(&window), w_(window), history_(std::make_unique<RewindHistory>()),
      slot_(std::clamp(QSettings().value(kSlotSetting, 1).toInt(), 1, kSlots)) {
    showSlot();
}

States::~States() = default;

QString States::slotPath(int slot) const {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QDir(folder).filePath(QString("slot-%1%2").arg(slot).arg(kStateExtension));
}

bool States::save(const QString& path) {
    Emulator& emu = w_.emulator();
    // A running recording goes on; its file is brought up to date.
    return w_.report(state_save(emu, path.toStdString()), path);
}

bool States::load(const QString& path) {
    const FileOutcome outcome = state_load(w_.emulator(), path.toStdString());
    // A load that went through but could not find every file is a warning.
    if (!w_.report(outcome, path)) return false;
    forgetHistory();
    w_.stateLoaded();
    return true;
}

void States::saveState() {
    QString path = w_.chooseFile({FileDialogRequest::Save, kStateFileFilter});
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += kStateExtension;
    save(path);
}

void States::loadState() {
    const QString path = w_.chooseFile({FileDialogRequest::Open, kStateFileFilter});
    if (!path.isEmpty() && load(path)) w_.media().recent().add(path);
}

void States::quickSave() {
    QDir().mkpath(QFileInfo(slotPath(slot_)).absolutePath());
    if (save(slotPath(slot_))) w_.status().flash(QString("Saved to slot %1").arg(slot_));
}

void States::quickLoad() {
    if (!QFileInfo::exists(slotPath(slot_))) {
        w_.status().flash(QString("Slot %1 is empty").arg(slot_));
        return;
    }
    if (load(slotPath(slot_))) w_.status().flash(QString("Loaded slot %1").arg(slot_));
}

void States::nextSlot(int step) {
    slot_ = (slot_ - 1 + step + kSlots) % kSlots + 1;
    QSettings().setValue(kSlotSetting, slot_);
    showSlot();
}

void States::showSlot() { w_.status().setState("4-slot", QString("Slot %1").arg(slot_)); }

void States::recordFrame(bool maximumRate) {
    if (++unrecorded_ < (maximumRate ? 2 : 1)) return;
    history_->record(w_.emulator(), unrecorded_);
    unrecorded_ = 0;
}

void States::setRewinding(bool on) {
    rewinding_ = on;
    w_.status().setState("2-rewind", on ? "Rewinding" : "");
}

bool States::rewindStep() {
    unrecorded_ = 0; // a frame run since the last record is undone with it
    return history_->step_back(w_.emulator()) > 0;
}

int States::rewindSeconds(int seconds) {
    unrecorded_ = 0;
    int frames = 0;
    while (frames < 50 * seconds) {
        const int32_t back = history_->step_back(w_.emulator());
        if (back == 0) break;
        frames += back;
    }
    return frames;
}

void States::forgetHistory() {
    history_->clear();
    unrecorded_ = 0;
}
