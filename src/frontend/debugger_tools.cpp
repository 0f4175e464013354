// The debugger window's band of tools (see debugger_dialog.h): the runs to a
// point, the status line, the table of breakpoints and watchpoints, and the
// register and memory editors. Every change goes through the debugger model
// in the core; the widgets only show what it holds.
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBlock>
#include <QVBoxLayout>

#include <cstring>

#include "debugger/debugger.h"
#include "debugger/stepping.h"
#include "debugger/symbols.h"
#include "frontend/debugger_dialog.h"
#include "machine/bus.h"
#include "machine/emulator.h"

namespace {

constexpr int kHexRows = 6;
constexpr int kHexColumns = 8;
constexpr int kWatchRowBase = 0x10000; // table rows: an address, or this plus a watchpoint's index

// The register editor's boxes, in the order of DebuggerDialog::registerBoxes_.
constexpr const char* kRegisterNames[] = {"AF",  "BC", "DE", "HL", "AF'", "BC'", "DE'",
                                          "HL'", "IX", "IY", "PC", "SP",  "I"};
// The flag boxes from bit 7 down, lettered as the registers pane heads them.
constexpr const char* kFlagLetters[] = {"S", "Z", "5", "A", "3", "P", "N", "C"};

uint16_t register_value(const Z80Registers& r, int box) {
    const uint16_t values[] = {r.af,     r.bc, r.de, r.hl, r.af_alt, r.bc_alt, r.de_alt,
                               r.hl_alt, r.ix, r.iy, r.pc, r.sp,     r.i};
    return values[box];
}

QString text_of(const Breakpoints& b) {
    return QString::fromLatin1(b.text.data(), qsizetype(strnlen(b.text.data(), b.text.size())));
}

QPushButton* tool_button(const char* text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

} // namespace

QWidget* DebuggerDialog::buildTools() {
    auto* band = new QWidget(this);
    auto* column = new QVBoxLayout(band);
    column->setContentsMargins(8, 4, 8, 8);

    auto* runs = new QHBoxLayout;
    QPushButton* over = tool_button("Step Over", "stepOver", band);
    QPushButton* out = tool_button("Step Out", "stepOut", band);
    QPushButton* toCursor = tool_button("Run to Cursor", "runToCursor", band);
    QPushButton* setPc = tool_button("Set PC", "setPc", band);
    over->setToolTip("Run a CALL, RST, DJNZ or repeating block instruction to its end; step anything else");
    out->setToolTip("Run until the current routine returns");
    toCursor->setToolTip("Run until PC reaches the disassembly line the cursor is on");
    setPc->setToolTip("Set PC to the disassembly line the cursor is on");
    for (QPushButton* b : {over, out, toCursor, setPc}) runs->addWidget(b);
    status_ = new QLabel(band);
    status_->setObjectName("status");
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    runs->addWidget(status_, 1);
    column->addLayout(runs);

    auto* editors = new QHBoxLayout;
    editors->addWidget(buildStopTable(), 1);
    editors->addWidget(buildRegisterEditor());
    editors->addWidget(buildHexEditor());
    column->addLayout(editors);

    connect(over, &QPushButton::clicked, this,
            [this] { afterRun(QString::fromStdString(debugger_step_over(emu_.m(), emu_.io).message)); });
    connect(out, &QPushButton::clicked, this,
            [this] { afterRun(QString::fromStdString(debugger_step_out(emu_.m(), emu_.io).message)); });
    connect(toCursor, &QPushButton::clicked, this, [this] {
        uint16_t target;
        if (cursorLineAddress(target))
            afterRun(QString::fromStdString(debugger_run_to(emu_.m(), emu_.io, target).message));
    });
    connect(setPc, &QPushButton::clicked, this, [this] {
        uint16_t target;
        if (!cursorLineAddress(target)) return;
        debugger_set_pc(emu_.m(), target);
        showStatus(QString::asprintf("PC set to %04X", target));
        refresh();
    });
    return band;
}

QWidget* DebuggerDialog::buildStopTable() {
    auto* box = new QGroupBox("Breakpoints and Watchpoints", this);
    auto* grid = new QGridLayout(box);
    stopTable_ = new QTableWidget(0, 3, box);
    stopTable_->setObjectName("stopTable");
    stopTable_->setHorizontalHeaderLabels({"On", "Kind", "Where"});
    stopTable_->verticalHeader()->hide();
    stopTable_->horizontalHeader()->setStretchLastSection(true);
    stopTable_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    stopTable_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    stopTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    stopTable_->setSelectionMode(QAbstractItemView::SingleSelection);
    stopTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // As tall as the editors beside it make the band, whatever its own hint.
    stopTable_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    grid->addWidget(stopTable_, 0, 0, 1, 3);

    breakEntry_ = new QLineEdit(box);
    breakEntry_->setObjectName("breakEntry");
    breakEntry_->setPlaceholderText("address or symbol");
    QPushButton* addBreak = tool_button("Break", "addBreak", box);
    watchEntry_ = new QLineEdit(box);
    watchEntry_->setObjectName("watchEntry");
    watchEntry_->setPlaceholderText("w:7000-77FF");
    watchEntry_->setToolTip("KIND:RANGE: KIND r, w or rw for memory, pr, pw or prw for ports; "
                            "RANGE an address or FROM-TO, hex or symbols");
    QPushButton* addWatch = tool_button("Watch", "addWatch", box);
    QPushButton* remove = tool_button("Remove", "removeStop", box);
    grid->addWidget(breakEntry_, 1, 0);
    grid->addWidget(addBreak, 1, 1);
    grid->addWidget(watchEntry_, 2, 0);
    grid->addWidget(addWatch, 2, 1);
    grid->addWidget(remove, 1, 2, 2, 1);

    auto addBreakpoint = [this] {
        const auto a = address_or_symbol(breakEntry_->text().toStdString(), &emu_.symbols);
        if (!a) {
            showStatus("Not an address or a known symbol: " + breakEntry_->text());
            return;
        }
        if (!breakpoints_add(emu_.m().breakpoints, *a)) {
            showStatus(
                QString("The table holds at most %1 breakpoints of its own").arg(kExtraBreakpointLimit));
            return;
        }
        breakEntry_->clear();
        showStatus({});
        fillStopTable();
    };
    auto addWatchpoint = [this] {
        std::string why;
        const auto w = watch_parse(watchEntry_->text().toStdString(), &emu_.symbols, &why);
        if (!w) {
            showStatus(QString::fromStdString(why));
            return;
        }
        if (!watch_add(emu_.m().debug, *w)) {
            showStatus(QString("At most %1 watchpoints").arg(kWatchpointLimit));
            return;
        }
        watchEntry_->clear();
        showStatus({});
        fillStopTable();
    };
    connect(addBreak, &QPushButton::clicked, this, addBreakpoint);
    connect(breakEntry_, &QLineEdit::returnPressed, this, addBreakpoint);
    connect(addWatch, &QPushButton::clicked, this, addWatchpoint);
    connect(watchEntry_, &QLineEdit::returnPressed, this, addWatchpoint);

    connect(remove, &QPushButton::clicked, this, [this] {
        const int row = stopTable_->currentRow();
        if (row < 0) return;
        const int key = stopTable_->item(row, 0)->data(Qt::UserRole).toInt();
        Machine& m = emu_.m();
        if (key >= kWatchRowBase) {
            watch_remove(m.debug, key - kWatchRowBase);
        } else if (breakpoints_remove(m.breakpoints, uint16_t(key))) {
            breakpoints_->setText(text_of(m.breakpoints)); // the text may have lost it
        } else {
            showStatus("The breakpoints sharing its digits do not fit the table");
        }
        fillStopTable();
    });
    connect(stopTable_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (filling_ || item->column() != 0) return;
        const int key = item->data(Qt::UserRole).toInt();
        const bool on = item->checkState() == Qt::Checked;
        if (key >= kWatchRowBase)
            watch_enable(emu_.m().debug, key - kWatchRowBase, on);
        else
            breakpoints_enable(emu_.m().breakpoints, uint16_t(key), on);
    });
    return box;
}

QWidget* DebuggerDialog::buildRegisterEditor() {
    auto* box = new QGroupBox("Edit Registers", this);
    auto* grid = new QGridLayout(box);
    const int width = fontMetrics().horizontalAdvance("FFFF") + 12;
    for (int i = 0; i < int(registerBoxes_.size()); ++i) {
        auto* edit = new QLineEdit(box);
        edit->setObjectName(QString("reg") + kRegisterNames[i]);
        edit->setFixedWidth(width);
        registerBoxes_[size_t(i)] = edit;
        const int row = i < 12 ? i % 4 : 4, col = i < 12 ? 2 * (i / 4) : 0;
        grid->addWidget(new QLabel(kRegisterNames[i], box), row, col);
        grid->addWidget(edit, row, col + 1);
        connect(edit, &QLineEdit::editingFinished, this, [this, i, edit] {
            if (filling_) return;
            Machine& m = emu_.m();
            const uint16_t before = register_value(m.z80, i);
            if (!debugger_set_register(m, kRegisterNames[i], edit->text().toStdString(), &emu_.symbols)) {
                showStatus(QString("Not a value for %1: %2").arg(kRegisterNames[i], edit->text()));
                fillRegisterEditor();
                return;
            }
            if (register_value(m.z80, i) != before) refresh();
        });
    }
    auto* flags = new QHBoxLayout;
    for (int bit = 7; bit >= 0; --bit) {
        auto* check = new QCheckBox(kFlagLetters[7 - bit], box);
        check->setObjectName(QString("flag%1").arg(bit));
        flagBoxes_[size_t(bit)] = check;
        flags->addWidget(check);
        connect(check, &QCheckBox::toggled, this, [this, bit](bool on) {
            if (filling_) return;
            debugger_set_flag(emu_.m(), bit, on);
            refresh();
        });
    }
    grid->addLayout(flags, 5, 0, 1, 6);
    return box;
}

QWidget* DebuggerDialog::buildHexEditor() {
    auto* box = new QGroupBox("Edit Memory", this);
    auto* layout = new QVBoxLayout(box);
    hex_ = new QTableWidget(kHexRows, kHexColumns, box);
    hex_->setObjectName("memoryHex");
    QStringList columns;
    for (int c = 0; c < kHexColumns; ++c) columns << QString::asprintf("+%d", c);
    hex_->setHorizontalHeaderLabels(columns);
    hex_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    hex_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    hex_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
    hex_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    hex_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    fillHexEditor(); // sizes the sections, so the table can be made exactly as large as its cells
    const int frame = 2 * hex_->frameWidth();
    hex_->setFixedSize(
        hex_->verticalHeader()->sizeHint().width() + hex_->horizontalHeader()->length() + frame,
        hex_->horizontalHeader()->sizeHint().height() + hex_->verticalHeader()->length() + frame);
    layout->addWidget(hex_);
    layout->addStretch();
    connect(hex_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (filling_) return;
        bool ok = false;
        const uint value = item->text().trimmed().toUInt(&ok, 16);
        const uint16_t address = uint16_t(memoryViewAddress() + item->row() * kHexColumns + item->column());
        if (!ok || value > 0xFF) {
            showStatus(QString("Not a byte: %1").arg(item->text()));
            fillHexEditor();
            return;
        }
        debugger_poke(emu_.m(), address, uint8_t(value));
        showStatus(QString::asprintf("%04X = %02X", address, value));
        refresh();
    });
    return box;
}

void DebuggerDialog::fillStopTable() {
    const Machine& m = emu_.m();
    filling_ = true;
    const int selected = stopTable_->currentRow();
    stopTable_->setRowCount(0);
    auto addRow = [&](int key, bool on, const QString& kind, const QString& where) {
        const int row = stopTable_->rowCount();
        stopTable_->insertRow(row);
        auto* check = new QTableWidgetItem;
        check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        check->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        check->setData(Qt::UserRole, key);
        stopTable_->setItem(row, 0, check);
        stopTable_->setItem(row, 1, new QTableWidgetItem(kind));
        stopTable_->setItem(row, 2, new QTableWidgetItem(where));
    };
    auto named = [&](uint16_t a) {
        QString where = QString::asprintf("%04X", a);
        if (const std::string* name = symbol_name(emu_.symbols, a))
            where += "  " + QString::fromStdString(*name);
        return where;
    };
    const Breakpoints& b = m.breakpoints;
    for (const uint16_t a : breakpoints_in_text(b)) addRow(a, breakpoint_enabled(b, a), "break", named(a));
    for (int i = 0; i < b.extraCount; ++i) {
        const uint16_t a = b.extra[size_t(i)];
        addRow(a, breakpoint_enabled(b, a), "break", named(a) + "  (table)");
    }
    for (int i = 0; i < m.debug.watchCount; ++i) {
        const Watchpoint& w = m.debug.watch[size_t(i)];
        addRow(kWatchRowBase + i, w.enabled, "watch", QString::fromStdString(watch_text(w)));
    }
    if (selected >= 0 && selected < stopTable_->rowCount()) stopTable_->selectRow(selected);
    filling_ = false;
}

void DebuggerDialog::fillRegisterEditor() {
    const Z80Registers& r = emu_.m().z80;
    filling_ = true;
    for (int i = 0; i < int(registerBoxes_.size()); ++i)
        registerBoxes_[size_t(i)]->setText(
            QString::asprintf(i == 12 ? "%02X" : "%04X", unsigned(register_value(r, i))));
    for (int bit = 0; bit < 8; ++bit) flagBoxes_[size_t(bit)]->setChecked((r.af >> bit) & 1);
    filling_ = false;
}

void DebuggerDialog::fillHexEditor() {
    const Machine& m = emu_.m();
    filling_ = true;
    QStringList rows;
    for (int row = 0; row < kHexRows; ++row) {
        const uint16_t base = uint16_t(memoryViewAddress() + row * kHexColumns);
        rows << QString::asprintf("%04X", base);
        for (int col = 0; col < kHexColumns; ++col) {
            // Items are made once and then only given new text: this runs from
            // the table's own change signal, whose item must outlive it.
            QTableWidgetItem* item = hex_->item(row, col);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignCenter);
                hex_->setItem(row, col, item);
            }
            item->setText(QString::asprintf("%02X", memory_peek(m, uint16_t(base + col))));
        }
    }
    hex_->setVerticalHeaderLabels(rows);
    filling_ = false;
}

void DebuggerDialog::showStatus(const QString& text) { status_->setText(text); }

void DebuggerDialog::afterRun(const QString& message) {
    showStatus(message);
    refresh();
}

// The line the cursor is on in the disassembly pane (a listing's too).
bool DebuggerDialog::cursorLineAddress(uint16_t& address) {
    const QString line = disassembly_->textCursor().block().text();
    const auto a = debugger_line_address(line.toStdString(), &emu_.symbols);
    if (!a) {
        showStatus("Put the cursor on a line of the disassembly first");
        return false;
    }
    address = *a;
    return true;
}

void DebuggerDialog::loadSymbols() {
    const QString path = chooseSymbolFile
                             ? chooseSymbolFile()
                             : QFileDialog::getOpenFileName(this, "Load Symbols", {},
                                                            "Symbol and map files (*.sym *.map *.lbl "
                                                            "*.noi *.def *.equ *.txt);;All files (*)");
    if (path.isEmpty()) return;
    showStatus(QString::fromStdString(symbols_load(emu_.symbols, path.toStdString()).message));
    refresh();
}
