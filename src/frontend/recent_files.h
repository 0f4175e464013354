// The recent-files list: the last ten files opened by any means, newest
// first, kept in the user's settings (not in kolt.cfg) and shown as the
// File > Recent Files submenu, which ends with Clear List.
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QMenu;

class RecentFiles : public QObject {
    Q_OBJECT
public:
    static constexpr int kKept = 10;

    RecentFiles(QMenu* menu, QObject* parent);

    // Choosing an entry calls this with its path.
    std::function<void(const QString& path)> onChosen;

    void add(const QString& path);
    void remove(const QString& path);
    void clear(); // Clear List
    QStringList paths() const { return paths_; }

private:
    void save();
    void rebuild();

    QMenu* menu_;
    QStringList paths_;
};
