#include "frontend/key_mapper.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include <algorithm>

std::optional<HostKey> host_key_for_native(quint32 code) {
    // X11 and Wayland report the Linux input code plus 8. Below 0x59 those
    // codes are the scan codes themselves; the extended keys differ.
    if (code < 8) return std::nullopt;
    const quint32 input = code - 8;
    if (input >= 1 && input < 0x59) return HostKey(input);
    switch (input) {
    case 97: return kKeyRightControl;
    case 103: return kKeyUp;
    case 105: return kKeyLeft;
    case 106: return kKeyRight;
    case 107: return kKeyEnd;
    case 108: return kKeyDown;
    case 110: return kKeyInsert;
    case 111: return kKeyDelete;
    default: return std::nullopt;
    }
}

std::optional<HostKey> host_key_for_qt(int key, bool keypad) {
    if (keypad) {
        switch (key) {
        case Qt::Key_0: case Qt::Key_Insert: return kKeyNumpad0;
        case Qt::Key_1: case Qt::Key_End: return kKeyNumpad1;
        case Qt::Key_2: case Qt::Key_Down: return kKeyNumpad2;
        case Qt::Key_3: case Qt::Key_PageDown: return kKeyNumpad3;
        case Qt::Key_4: case Qt::Key_Left: return kKeyNumpad4;
        case Qt::Key_5: case Qt::Key_Clear: return kKeyNumpad5;
        case Qt::Key_6: case Qt::Key_Right: return kKeyNumpad6;
        case Qt::Key_7: case Qt::Key_Home: return kKeyNumpad7;
        case Qt::Key_8: case Qt::Key_Up: return kKeyNumpad8;
        case Qt::Key_9: case Qt::Key_PageUp: return kKeyNumpad9;
        case Qt::Key_Enter: return kKeyReturn;
        case Qt::Key_Minus: return kKeyMinus;
        default: return std::nullopt;
        }
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return kHostLetters[key - Qt::Key_A];
    if (key >= Qt::Key_1 && key <= Qt::Key_9) return HostKey(kKey1 + (key - Qt::Key_1));
    switch (key) {
    case Qt::Key_0: return kKey0;
    case Qt::Key_Space: return kKeySpace;
    case Qt::Key_Return: case Qt::Key_Enter: return kKeyReturn;
    case Qt::Key_Shift: return kKeyLeftShift;
    case Qt::Key_Control: return kKeyLeftControl;
    case Qt::Key_Comma: return kKeyComma;
    case Qt::Key_Period: return kKeyPeriod;
    case Qt::Key_Minus: return kKeyMinus;
    case Qt::Key_Equal: return kKeyEquals;
    case Qt::Key_Semicolon: return kKeySemicolon;
    case Qt::Key_Apostrophe: return kKeyApostrophe;
    case Qt::Key_Backspace: return kKeyBack;
    case Qt::Key_Left: return kKeyLeft;
    case Qt::Key_Right: return kKeyRight;
    case Qt::Key_Up: return kKeyUp;
    case Qt::Key_Down: return kKeyDown;
    case Qt::Key_Insert: return kKeyInsert;
    case Qt::Key_Delete: return kKeyDelete;
    case Qt::Key_End: return kKeyEnd;
    case Qt::Key_F11: return kKeyF11;
    case Qt::Key_Escape: return kKeyEscape;
    case Qt::Key_Slash: return kKeySlash;
    default: return std::nullopt;
    }
}

std::optional<HostKey> host_key_for(const QKeyEvent& event) {
    const QString platform = QGuiApplication::platformName();
    const bool scanCodesAreInputCodes = platform == "xcb" || platform.startsWith("wayland");
    if (scanCodesAreInputCodes && event.nativeScanCode() != 0)
        if (auto key = host_key_for_native(event.nativeScanCode())) return key;
    return host_key_for_qt(event.key(), event.modifiers() & Qt::KeypadModifier);
}

std::optional<char> typed_character(const QKeyEvent& event) {
    if (event.modifiers() & Qt::KeypadModifier) return std::nullopt;
    const QString text = event.text();
    if (text.size() != 1) return std::nullopt;
    const char16_t c = text.at(0).unicode();
    if (c <= 0x20 || c >= 0x7F || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return std::nullopt;
    return char(c);
}

namespace {

quint64 physical_key(const QKeyEvent& event) {
    return event.nativeScanCode() != 0 ? event.nativeScanCode() : (quint64(1) << 32) | quint32(event.key());
}

} // namespace

void HostKeyboard::event(const QKeyEvent& key) {
    const bool down = key.type() == QEvent::KeyPress;
    const quint64 id = physical_key(key);
    // A key held by character is let go as it was pressed, whatever the
    // modifiers say by then.
    for (HeldCharacter& held : characters_)
        if (held.c != 0 && held.down && held.id == id) {
            if (down) return;
            held.down = false;
            return;
        }
    if (down && byCharacter)
        if (const auto c = typed_character(key)) {
            for (HeldCharacter& held : characters_)
                if (held.c == 0) {
                    held = {id, *c, true};
                    break;
                }
            return;
        }
    const auto host = host_key_for(key);
    if (!host) return;
    if (down) tapped_.set(*host);
    // Where the platform gives no scan code, the left and right Shift (and
    // Control) keys are one key to us: it is up only when both are.
    if (key.nativeScanCode() == 0 && (*host == kKeyLeftShift || *host == kKeyLeftControl)) {
        uint8_t& presses = modifierPresses_[*host];
        presses = down ? uint8_t(std::min(presses + 1, 2)) : uint8_t(presses > 0 ? presses - 1 : 0);
        keys_.set(*host, presses > 0);
        return;
    }
    keys_.set(*host, down);
}

void HostKeyboard::releaseAll() {
    keys_.reset();
    tapped_.reset();
    modifierPresses_.fill(0);
    characters_.fill({});
}

bool HostKeyboard::anyDown() const {
    if (keys_.any()) return true;
    for (const HeldCharacter& held : characters_)
        if (held.c != 0 && held.down) return true;
    return false;
}

const HostKeys& HostKeyboard::pollKeys() {
    polled_ = keys_ | tapped_;
    return polled_;
}

std::span<const char> HostKeyboard::pollCharacters() {
    for (size_t i = 0; i < characters_.size(); ++i) polledCharacters_[i] = characters_[i].c;
    return polledCharacters_;
}

void HostKeyboard::afterPoll() {
    tapped_.reset();
    for (HeldCharacter& held : characters_)
        if (!held.down) held = {};
}
