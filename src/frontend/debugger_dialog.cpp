#include "frontend/debugger_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

#include "debugger/debugger.h"
#include "debugger/stepping.h"
#include "debugger/symbols.h"
#include "machine/emulator.h"

namespace {

// Kept while the dialog is closed, for the whole run.
uint16_t gMemoryViewAddress = 0;

QString panel_text(const std::string& text) {
    QString t = QString::fromStdString(text);
    t.remove('\r');
    return t;
}

QPixmap pane_pixmap(const std::vector<uint8_t>& rgb) {
    const QImage image(rgb.data(), kDebugPaneWidth, kDebugPaneHeight, kDebugPaneWidth * 3, QImage::Format_RGB888);
    return QPixmap::fromImage(image.copy());
}

} // namespace

DebuggerDialog::DebuggerDialog(Emulator& emu, QWidget* parent) : QDialog(parent), emu_(emu) {
    setWindowTitle("KOLT Debugger");
    QFont font("Courier New", 10);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    setFont(font);
    const QFontMetrics metrics(font);
    // Dialog units: a quarter of the average character width, an eighth of its height.
    const double ux = metrics.averageCharWidth() / 4.0, uy = metrics.height() / 8.0;

    auto* menus = new QMenuBar(this);
    QMenu* file = menus->addMenu("&File");
    QAction* loadSymbolsAction = file->addAction("&Load Symbols...");
    loadSymbolsAction->setObjectName("loadSymbols");
    QAction* clearSymbols = file->addAction("&Clear Symbols");
    clearSymbols->setObjectName("clearSymbols");
    const int top = menus->sizeHint().height();

    auto place = [&](QWidget* w, int x, int y, int width, int height) {
        w->setGeometry(int(x * ux), top + int(y * uy), int(width * ux), int(height * uy));
    };
    auto group = [&](const char* title, int x, int y, int width, int height) {
        auto* box = new QGroupBox(title, this);
        place(box, x, y, width, height);
        box->lower();
    };
    auto pane = [&](int x, int y, int width, int height, bool scroll) {
        auto* edit = new QPlainTextEdit(this);
        edit->setReadOnly(true);
        edit->setLineWrapMode(QPlainTextEdit::NoWrap);
        edit->setVerticalScrollBarPolicy(scroll ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        place(edit, x, y, width, height);
        return edit;
    };
    auto button = [&](const char* text, int x, int y, int width, int height) {
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(false);
        place(b, x, y, width, height);
        return b;
    };
    auto edit = [&](int x, int y, int width, int height) {
        auto* e = new QLineEdit(this);
        place(e, x, y, width, height);
        return e;
    };
    auto label = [&](const char* text, int x, int y, int width, int height) {
        auto* l = new QLabel(text, this);
        place(l, x, y, width, height);
    };
    auto picture = [&](int x, int y, int width, int height) {
        auto* l = new QLabel(this);
        l->setFrameShape(QFrame::Box);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        place(l, x, y, width, height);
        l->setMinimumSize(kDebugPaneWidth + 2, kDebugPaneHeight + 2);
        return l;
    };

    group("Disassembly", 7, 7, 193, 187);
    disassembly_ = pane(15, 16, 181, 153, true);
    disassembly_->setObjectName("disassembly");
    stepButton_ = button("Step", 15, 175, 42, 14);
    stepButton_->setObjectName("step");
    runButton_ = button("Run", 61, 175, 42, 14);
    runButton_->setObjectName("run");
    runButton_->setDefault(true);

    group("Registers", 354, 7, 101, 116);
    registers_ = pane(360, 18, 90, 99, false);
    registers_->setObjectName("registers");
    group("Display", 206, 7, 144, 116);
    picture_ = picture(212, 19, 131, 99);
    picture_->setObjectName("picture");
    group("System Pointers", 354, 128, 102, 69);
    pointers_ = pane(358, 137, 91, 52, false);
    pointers_->setObjectName("pointers");
    group("Hardware", 354, 200, 102, 74);
    hardware_ = pane(357, 210, 93, 57, false);
    hardware_->setObjectName("hardware");

    group("Breakpoints", 7, 240, 192, 34);
    breakpoints_ = edit(14, 251, 133, 13);
    breakpoints_->setObjectName("breakpoints");
    breakpoints_->setMaxLength(kBreakpointInputLimit);
    setBreakpointsButton_ = button("Set", 151, 251, 42, 14);
    setBreakpointsButton_->setObjectName("setBreakpoints");

    group("Listing", 7, 199, 192, 34);
    label("Start Addr", 14, 214, 23, 9);
    listingStart_ = edit(37, 212, 24, 13);
    listingStart_->setObjectName("listingStart");
    label("End ", 67, 214, 16, 9);
    listingEnd_ = edit(83, 212, 24, 13);
    listingEnd_->setObjectName("listingEnd");
    auto* build = button("Build", 118, 211, 35, 14);
    build->setObjectName("build");
    auto* copy = button("Copy", 159, 211, 34, 14);
    copy->setObjectName("copy");

    group("Memory", 206, 129, 144, 145);
    memory_ = picture(212, 140, 131, 99);
    memory_->setObjectName("memory");
    label("Start Addr", 212, 248, 23, 9);
    memoryAddress_ = edit(235, 246, 24, 13);
    memoryAddress_->setObjectName("memoryAddress");
    memoryAddress_->setMaxLength(int(kSymbolNameLimit)); // four hex digits, or a symbol
    auto* memorySet = button("Set", 264, 246, 22, 14);
    memorySet->setObjectName("memorySet");
    auto* up = button("Up", 290, 246, 22, 14);
    up->setObjectName("memoryUp");
    auto* down = button("Down", 316, 246, 22, 14);
    down->setObjectName("memoryDown");

    const int width = int(462 * ux), panesBottom = top + int(281 * uy);
    menus->setGeometry(0, 0, width, top);
    tools_ = buildTools();
    tools_->setGeometry(0, panesBottom, width, tools_->sizeHint().height());
    setFixedSize(width, panesBottom + tools_->sizeHint().height());

    connect(stepButton_, &QPushButton::clicked, this, &DebuggerDialog::step);
    connect(runButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(setBreakpointsButton_, &QPushButton::clicked, this, [this] {
        breakpoints_set(emu_.m().breakpoints, breakpoints_->text().toStdString());
        fillStopTable();
    });
    connect(build, &QPushButton::clicked, this, [this] {
        disassembly_->setPlainText(
            panel_text(debugger_listing(emu_.m(), listingStart_->text().toStdString(),
                                        listingEnd_->text().toStdString(), &emu_.symbols)));
    });
    connect(copy, &QPushButton::clicked, this, [this] {
        // The clipboard gets the pane's text with the machine's CR LF line ends.
        QString text = disassembly_->toPlainText();
        text.replace('\n', "\r\n");
        QApplication::clipboard()->setText(text);
    });
    connect(memorySet, &QPushButton::clicked, this, [this] {
        if (const auto a = address_or_symbol(memoryAddress_->text().toStdString(), &emu_.symbols))
            gMemoryViewAddress = *a;
        drawPanes();
        fillHexEditor();
    });
    connect(loadSymbolsAction, &QAction::triggered, this, &DebuggerDialog::loadSymbols);
    connect(clearSymbols, &QAction::triggered, this, [this] {
        symbols_clear(emu_.symbols);
        showStatus("Symbols cleared.");
        refresh();
    });
    connect(up, &QPushButton::clicked, this, [this] { pageMemory(debugger_memory_up(gMemoryViewAddress)); });
    connect(down, &QPushButton::clicked, this, [this] { pageMemory(debugger_memory_down(gMemoryViewAddress)); });

    const auto& text = emu_.m().breakpoints.text;
    breakpoints_->setText(QString::fromLatin1(text.data(), qsizetype(strnlen(text.data(), text.size()))));
    memoryAddress_->setText(QString::asprintf("%04X", gMemoryViewAddress));

    // Opened by a stop: say what stopped the machine.
    Machine& m = emu_.m();
    const DebugStop stop = debug_take_stop(m.debug);
    if (stop.reasons) showStatus(QString::fromStdString(debugger_stop_text(stop, m.z80.stop_pc)));
    refresh();
}

// Closing moves the focus out of a register box, whose editing-finished
// signal would then reach a dialog already half destroyed.
DebuggerDialog::~DebuggerDialog() {
    for (QLineEdit* box : registerBoxes_) box->disconnect(this);
}

void DebuggerDialog::refresh() {
    const Machine& m = emu_.m();
    disassembly_->setPlainText(panel_text(debugger_disassembly_text(m, &emu_.symbols)));
    registers_->setPlainText(panel_text(debugger_registers_text(m)));
    pointers_->setPlainText(panel_text(debugger_pointers_text(m)));
    hardware_->setPlainText(panel_text(debugger_hardware_text(m)));
    drawPanes();
    fillStopTable();
    fillRegisterEditor();
    fillHexEditor();
}

void DebuggerDialog::drawPanes() {
    picture_->setPixmap(pane_pixmap(debugger_picture_rgb(emu_.m())));
    memory_->setPixmap(pane_pixmap(debugger_memory_rgb(emu_.m(), gMemoryViewAddress)));
}

void DebuggerDialog::pageMemory(uint16_t address) {
    gMemoryViewAddress = address;
    memoryAddress_->setText(QString::asprintf("%04X", address));
    drawPanes();
    fillHexEditor();
}

void DebuggerDialog::step() {
    Machine& m = emu_.m();
    const bool hit = debugger_step(m, emu_.io);
    showStatus(hit ? QString::fromStdString(debugger_stop_text(debug_take_stop(m.debug), m.z80.stop_pc)) : QString());
    refresh();
}

// Escape steps, as the Step button stands where a dialog's cancel would be.
// Enter in the breakpoint box sets the breakpoints, as its Set button does;
// Return in the tools' boxes has applied what was typed there. Neither goes on
// to press Run and close the window.
void DebuggerDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        step();
        return;
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && focusWidget() == breakpoints_) {
        setBreakpointsButton_->click();
        return;
    }
    if (enter && tools_->isAncestorOf(focusWidget())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

uint16_t DebuggerDialog::memoryViewAddress() { return gMemoryViewAddress; }
