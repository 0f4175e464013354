#include "frontend/key_mapper.h"

#include <QGuiApplication>
#include <QKeyEvent>

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
