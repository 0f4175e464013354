// The status bar: the three fields of the drives and the cassette, whose
// right edges sit at a third, two thirds and the end of the window, and a
// field of our own at the right for the program's states (sound off, Paused,
// the quick-save slot) and for short-lived notes (where a screenshot went).
// A text longer than its field is cut with an ellipsis and shown whole on
// hover; our own field takes at most a third of the bar, so a long note
// never squeezes the drives and the cassette.
#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <map>

class ElidedLabel;
class QStatusBar;
class QTimer;

class StatusFields : public QObject {
    Q_OBJECT
public:
    static constexpr int kNotes = 3; // the field index of our own field

    explicit StatusFields(QStatusBar* bar);

    void set(int field, const QString& text);
    QString text(int field) const;      // the whole text
    QString shownText(int field) const; // as it fits its field
    QString toolTip(int field) const;

    // A lasting state, shown until cleared with an empty text; states show in
    // the order of their keys.
    void setState(const QString& key, const QString& text);
    // A note shown for five seconds in place of the states.
    void flash(const QString& text);

private:
    void showNotes();

    bool eventFilter(QObject* watched, QEvent* event) override;

    QStatusBar* bar_;
    std::array<ElidedLabel*, 4> fields_{};
    std::map<QString, QString> states_;
    QString flash_;
    QTimer* flashTimer_;
};
