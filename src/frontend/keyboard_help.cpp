#include "frontend/keyboard_help.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include <array>
#include <string_view>

#include "input/keyboard.h"

namespace {

struct Key {
    const char* legend;
    char typed; // the character typing this key alone gives; 0 for SHIFT, CTRL
};

// The machine's 45 keys in four rows.
constexpr Key kRow0[] = {{"1", '1'}, {"2", '2'}, {"3", '3'}, {"4", '4'}, {"5", '5'}, {"6", '6'},
                         {"7", '7'}, {"8", '8'}, {"9", '9'}, {"0", '0'}, {"-", '-'}};
constexpr Key kRow1[] = {{"Q", 'Q'}, {"W", 'W'}, {"E", 'E'}, {"R", 'R'}, {"T", 'T'}, {"Y", 'Y'},
                         {"U", 'U'}, {"I", 'I'}, {"O", 'O'}, {"P", 'P'}, {"RETURN", '\r'}};
constexpr Key kRow2[] = {{"CTRL", 0},  {"A", 'A'}, {"S", 'S'}, {"D", 'D'}, {"F", 'F'}, {"G", 'G'},
                         {"H", 'H'},   {"J", 'J'}, {"K", 'K'}, {"L", 'L'}, {";", ';'}, {":", ':'}};
constexpr Key kRow3[] = {{"SHIFT", 0}, {"Z", 'Z'}, {"X", 'X'}, {"C", 'C'}, {"V", 'V'}, {"B", 'B'},
                         {"N", 'N'},   {"M", 'M'}, {",", ','}, {".", '.'}, {"SPACE", ' '}};

bool same(MatrixKey a, MatrixKey b) { return a.row == b.row && a.bit == b.bit; }

MatrixKey matrix_key(const Key& k) {
    if (std::string_view(k.legend) == "CTRL") return kMatrixCtrl;
    if (std::string_view(k.legend) == "SHIFT") return kMatrixShift;
    return typing_keys(k.typed)[0];
}

QString host_key_name(HostKey h) {
    for (int i = 0; i < 26; ++i)
        if (kHostLetters[i] == h) return QString(QChar('A' + i));
    if (h >= kKey1 && h <= kKey9) return QString::number(h - kKey1 + 1);
    switch (h) {
    case kKey0: return "0";
    case kKeySpace: return "Space";
    case kKeyReturn: return "Enter";
    case kKeyLeftShift: return "Shift";
    case kKeyRightShift: return "";
    case kKeyLeftControl: return "Ctrl";
    case kKeyRightControl: return "";
    case kKeyComma: return ",";
    case kKeyPeriod: return ".";
    case kKeyMinus: return "-";
    case kKeyEquals: return "=";
    case kKeySemicolon: return ";";
    case kKeyApostrophe: return "'";
    case kKeyBack: return "Bksp";
    case kKeyLeft: return "\u2190";
    case kKeyRight: return "\u2192";
    case kKeyUp: return "\u2191";
    case kKeyDown: return "\u2193";
    case kKeyInsert: return "Ins";
    case kKeyDelete: return "Del";
    case kKeyEnd: return "End";
    default: return "?";
    }
}

// The character SHIFT gives with this key, as typing presses it.
QString shifted(MatrixKey key) {
    for (int c = 0x21; c < 0x7F; ++c) {
        const auto keys = typing_keys(char(c));
        if (same(keys[0], kMatrixShift) && same(keys[1], key)) return QString(QChar(c));
    }
    return {};
}

// The host keys that press this key, without CTRL.
QString host_keys(const Key& k, MatrixKey key, bool byCharacter) {
    const bool punctuation = k.typed != 0 && k.typed != '\r' && k.typed != ' ' &&
                             !(k.typed >= 'A' && k.typed <= 'Z') && !(k.typed >= '0' && k.typed <= '9');
    if (byCharacter && punctuation) return QString(QChar(k.typed)); // the character, from any host key
    QStringList names;
    for (const KeyBinding& b : keyboard_bindings())
        if (!b.withCtrl && same(b.key, key))
            if (const QString n = host_key_name(b.host); !n.isEmpty()) names << n;
    return names.join(" ");
}

// The host's editing keys standing for CTRL and this key.
QString ctrl_keys(MatrixKey key) {
    QStringList names;
    for (const KeyBinding& b : keyboard_bindings())
        if (b.withCtrl && same(b.key, key)) names << host_key_name(b.host);
    return names.join(" ");
}

} // namespace

QImage keyboard_help_picture(bool byCharacter) {
    constexpr int kKeySize = 62, kGap = 6, kMargin = 16, kTitle = 34, kNotes = 120;
    const std::array<std::pair<const Key*, int>, 4> rows = {
        std::pair{kRow0, int(std::size(kRow0))}, std::pair{kRow1, int(std::size(kRow1))},
        std::pair{kRow2, int(std::size(kRow2))}, std::pair{kRow3, int(std::size(kRow3))}};
    const int width = 2 * kMargin + 12 * (kKeySize + kGap) + kKeySize;
    const int height = kMargin + kTitle + 4 * (kKeySize + kGap) + kNotes;
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(236, 236, 232));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont title = p.font();
    title.setPixelSize(18);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::black);
    p.drawText(QRect(kMargin, kMargin, width - 2 * kMargin, kTitle), Qt::AlignLeft | Qt::AlignVCenter,
               QString("The machine's keyboard, host keys by %1").arg(byCharacter ? "character" : "position"));

    QFont legend = p.font();
    legend.setPixelSize(15);
    QFont small = p.font();
    small.setPixelSize(11);
    small.setBold(false);
    const QColor shiftColour(176, 30, 30), ctrlColour(20, 120, 40), hostColour(30, 60, 170);
    for (size_t r = 0; r < rows.size(); ++r) {
        const int y = kMargin + kTitle + int(r) * (kKeySize + kGap);
        int x = kMargin + int(r) * kKeySize / 3;
        for (int i = 0; i < rows[r].second; ++i) {
            const Key& k = rows[r].first[i];
            const MatrixKey key = matrix_key(k);
            const int wide = std::string_view(k.legend).size() > 1 && !(k.typed >= '0' && k.typed <= '9') ? 1 : 0;
            const QRect box(x, y, kKeySize + wide * (kKeySize / 2), kKeySize);
            x += box.width() + kGap;
            p.setPen(QPen(QColor(60, 60, 60), 1.5));
            p.setBrush(QColor(250, 250, 248));
            p.drawRoundedRect(box.adjusted(1, 1, -1, -1), 6, 6);
            const QRect inner = box.adjusted(6, 4, -6, -4);
            legend.setBold(true);
            legend.setPixelSize(std::string_view(k.legend).size() > 1 ? 12 : 17);
            p.setFont(legend);
            p.setPen(Qt::black);
            p.drawText(inner, Qt::AlignLeft | Qt::AlignTop, k.legend);
            p.setFont(small);
            p.setPen(shiftColour);
            p.drawText(inner, Qt::AlignRight | Qt::AlignTop, shifted(key));
            p.setPen(ctrlColour);
            p.drawText(inner.adjusted(0, 0, 0, -14), Qt::AlignLeft | Qt::AlignBottom, ctrl_keys(key));
            p.setPen(hostColour);
            p.drawText(inner, Qt::AlignLeft | Qt::AlignBottom, host_keys(k, key, byCharacter));
        }
    }

    QFont notes = p.font();
    notes.setPixelSize(13);
    p.setFont(notes);
    const int y = kMargin + kTitle + 4 * (kKeySize + kGap) + 4;
    const QString mapping =
        byCharacter ? "By Character: a host key that types a punctuation character types that character, with "
                      "SHIFT where the machine needs it (on most host layouts = gives =, Shift+; gives :). "
                      "Letters, digits, RETURN, SPACE and the editing keys go by position."
                    : "By Position: each host key presses the machine key in its place, whatever it types "
                      "on the host; for programs that read the keyboard matrix directly.";
    const QString lines[] = {
        QString("Blue (below): the host key that presses the machine key."),
        QString("Red (top right): the character SHIFT and the key give."),
        QString("Green: host editing keys standing for CTRL and the key (\u2190 and Bksp: CTRL+M, and so on)."),
        mapping,
        QString("Options > Keyboard switches the mapping. Keypad 8 2 4 6 and 5 (fire): the joystick."),
    };
    const QColor colours[] = {hostColour, shiftColour, ctrlColour, Qt::black, Qt::black};
    QRect line(kMargin, y, width - 2 * kMargin, 18);
    for (size_t i = 0; i < std::size(lines); ++i) {
        p.setPen(colours[i]);
        const QRect used = p.boundingRect(line, Qt::TextWordWrap, lines[i]);
        p.drawText(line.adjusted(0, 0, 0, used.height()), Qt::TextWordWrap, lines[i]);
        line.translate(0, used.height() + 2);
    }
    return image;
}

void show_keyboard_help(QWidget* parent, bool byCharacter) {
    QDialog dialog(parent);
    dialog.setWindowTitle("Keyboard");
    auto* layout = new QVBoxLayout(&dialog);
    auto* picture = new QLabel(&dialog);
    picture->setObjectName("keyboardPicture");
    picture->setPixmap(QPixmap::fromImage(keyboard_help_picture(byCharacter)));
    layout->addWidget(picture);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.exec();
}
