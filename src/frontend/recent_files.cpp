#include "frontend/recent_files.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>

namespace {

constexpr const char* kKey = "recentFiles";

} // namespace

RecentFiles::RecentFiles(QMenu* menu, QObject* parent) : QObject(parent), menu_(menu) {
    paths_ = QSettings().value(kKey).toStringList().mid(0, kKept);
    rebuild();
}

void RecentFiles::add(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    paths_.removeAll(full);
    paths_.prepend(full);
    while (paths_.size() > kKept) paths_.removeLast();
    save();
}

void RecentFiles::remove(const QString& path) {
    paths_.removeAll(path);
    save();
}

void RecentFiles::clear() {
    paths_.clear();
    save();
}

void RecentFiles::save() {
    QSettings().setValue(kKey, paths_);
    rebuild();
}

void RecentFiles::rebuild() {
    menu_->clear();
    for (qsizetype i = 0; i < paths_.size(); ++i) {
        const QString path = paths_[i];
        // The number is the entry's accelerator; the full path says which file it is.
        QAction* a = menu_->addAction(QString("&%1 %2").arg((i + 1) % 10).arg(QDir::toNativeSeparators(path)));
        connect(a, &QAction::triggered, this, [this, path] {
            if (onChosen) onChosen(path);
        });
    }
    if (!paths_.isEmpty()) {
        menu_->addSeparator();
        connect(menu_->addAction("Clear List"), &QAction::triggered, this, &RecentFiles::clear);
    }
    menu_->setEnabled(!paths_.isEmpty());
}
