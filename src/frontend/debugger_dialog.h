// The debugger window: a modal dialog over the main window showing the
// stopped machine (disassembly from PC, registers, BASIC pointers, hardware,
// the picture and a memory view) with Step (also on Escape), Run, breakpoints,
// a listing that can be copied, and memory paging. All its texts and pixels
// come from the debugger model in the core; no frame runs while it is open.
#pragma once

#include <QDialog>

#include <cstdint>

struct Emulator;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class DebuggerDialog : public QDialog {
    Q_OBJECT
public:
    DebuggerDialog(Emulator& emu, QWidget* parent = nullptr);

    void step();
    static uint16_t memoryViewAddress();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();
    void drawPanes();
    void pageMemory(uint16_t address);

    Emulator& emu_;
    QPlainTextEdit* disassembly_ = nullptr;
    QPlainTextEdit* registers_ = nullptr;
    QPlainTextEdit* pointers_ = nullptr;
    QPlainTextEdit* hardware_ = nullptr;
    QLabel* picture_ = nullptr;
    QLabel* memory_ = nullptr;
    QLineEdit* breakpoints_ = nullptr;
    QLineEdit* listingStart_ = nullptr;
    QLineEdit* listingEnd_ = nullptr;
    QLineEdit* memoryAddress_ = nullptr;
    QPushButton* stepButton_ = nullptr;
    QPushButton* runButton_ = nullptr;
    QPushButton* setBreakpointsButton_ = nullptr;
};
