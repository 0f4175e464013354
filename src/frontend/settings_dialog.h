// Options > Settings...: every option of the Options menu in one dialog, on
// tabs (Machine, Display, Sound, Input, Files), each with a short word on
// what it does. The choices are the menu's own items: choosing one runs the
// same command the menu runs, so the two always agree, and the dialog opens
// showing the menu's check marks.
#pragma once

#include <QDialog>

class MainWindow;
class QAbstractButton;
enum class Command : int;

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(MainWindow& window, QWidget* parent);

    // The radio button or check box of a command (tests).
    QAbstractButton* choice(Command id) const;

private:
    MainWindow& w_;
};
