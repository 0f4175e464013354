// The debugger window: a modal dialog over the main window showing the
// stopped machine (disassembly from PC, registers, BASIC pointers, hardware,
// the picture and a memory view) with Step (also on Escape), Run, breakpoints,
// a listing that can be copied, and memory paging. All its texts and pixels
// come from the debugger model in the core; no frame runs while it is open.
//
// Below the panes the machine's own layout leaves off, a band of tools: Step
// Over, Step Out, Run to Cursor and Set PC (from the disassembly line the
// cursor is on), a status line saying what stopped the machine, one table of
// breakpoints and watchpoints, the registers and flags as editable boxes, and
// the bytes from the memory view's address as editable hex. The File menu
// loads symbols, which the Emulator keeps for the session. Return in the
// band's boxes applies them and never presses Run, the default button.
#pragma once

#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>

struct Emulator;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QWidget;

class DebuggerDialog : public QDialog {
    Q_OBJECT
public:
    DebuggerDialog(Emulator& emu, QWidget* parent = nullptr);
    ~DebuggerDialog() override;

    void step();
    static uint16_t memoryViewAddress();

    // Replaceable for tests: the symbol file the user picks (empty: none).
    std::function<QString()> chooseSymbolFile;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildTools();
    QWidget* buildStopTable();
    QWidget* buildRegisterEditor();
    QWidget* buildHexEditor();

    void refresh();
    void drawPanes();
    void pageMemory(uint16_t address);
    void fillStopTable();
    void fillRegisterEditor();
    void fillHexEditor();
    void showStatus(const QString& text);
    void afterRun(const QString& message);
    bool cursorLineAddress(uint16_t& address);
    void loadSymbols();

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

    QWidget* tools_ = nullptr;
    QLabel* status_ = nullptr;
    QTableWidget* stopTable_ = nullptr;
    QLineEdit* breakEntry_ = nullptr;
    QLineEdit* watchEntry_ = nullptr;
    std::array<QLineEdit*, 13> registerBoxes_{};
    std::array<QCheckBox*, 8> flagBoxes_{}; // by bit
    QTableWidget* hex_ = nullptr;
    bool filling_ = false; // the editors are being filled from the machine, not edited
};
