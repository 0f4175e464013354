#include "input/keyboard.h"

#include <algorithm>
#include <cstring>

#include "machine/machine.h"

namespace {

// The matrix, row by row, as the keys are wired (bit 5 down to bit 0):
//   0: R Q E - W T      1: F A D CTRL S G     2: V Z C SHIFT X B    3: 4 1 3 - 2 5
//   4: M SPACE , - . N  5: 7 0 8 MINUS 9 6    6: U P I RETURN O Y   7: J ; K : L H
constexpr MatrixKey key(int row, int bit) { return MatrixKey{uint8_t(row), uint8_t(bit)}; }

constexpr MatrixKey kR = key(0, 5), kQ = key(0, 4), kE = key(0, 3), kW = key(0, 1), kT = key(0, 0);
constexpr MatrixKey kF = key(1, 5), kA = key(1, 4), kD = key(1, 3), kS = key(1, 1), kG = key(1, 0);
constexpr MatrixKey kV = key(2, 5), kZ = key(2, 4), kC = key(2, 3), kX = key(2, 1), kB = key(2, 0);
constexpr MatrixKey k4 = key(3, 5), k1 = key(3, 4), k3 = key(3, 3), k2 = key(3, 1), k5 = key(3, 0);
constexpr MatrixKey kM = key(4, 5), kSpace = key(4, 4), kComma = key(4, 3), kStop = key(4, 1), kN = key(4, 0);
constexpr MatrixKey k7 = key(5, 5), k0 = key(5, 4), k8 = key(5, 3), kMinus = key(5, 2), k9 = key(5, 1), k6 = key(5, 0);
constexpr MatrixKey kU = key(6, 5), kP = key(6, 4), kI = key(6, 3), kReturn = key(6, 2), kO = key(6, 1), kY = key(6, 0);
constexpr MatrixKey kJ = key(7, 5), kSemicolon = key(7, 4), kK = key(7, 3), kColon = key(7, 2), kL = key(7, 1),
                    kH = key(7, 0);
constexpr MatrixKey kShift = kMatrixShift, kCtrl = kMatrixCtrl;

constexpr MatrixKey kLetters[26] = {kA, kB, kC, kD, kE, kF, kG, kH, kI, kJ, kK, kL, kM,
                                    kN, kO, kP, kQ, kR, kS, kT, kU, kV, kW, kX, kY, kZ};
constexpr MatrixKey kDigits[10] = {k0, k1, k2, k3, k4, k5, k6, k7, k8, k9};
constexpr HostKey kHostDigits[10] = {kKey0, kKey1, kKey2, kKey3, kKey4, kKey5, kKey6, kKey7, kKey8, kKey9};

constexpr auto build_bindings() {
    std::array<KeyBinding, 56> b{};
    size_t n = 0;
    for (int i = 0; i < 26; ++i) b[n++] = {kHostLetters[i], kLetters[i], false};
    for (int i = 0; i < 10; ++i) b[n++] = {kHostDigits[i], kDigits[i], false};
    const KeyBinding rest[] = {
        {kKeySpace, kSpace, false},      {kKeyReturn, kReturn, false},
        {kKeyLeftShift, kShift, false},  {kKeyRightShift, kShift, false},
        {kKeyLeftControl, kCtrl, false}, {kKeyRightControl, kCtrl, false},
        {kKeyComma, kComma, false},      {kKeyPeriod, kStop, false},
        {kKeyMinus, kMinus, false},      {kKeyEquals, kMinus, false},
        {kKeySemicolon, kSemicolon, false}, {kKeyApostrophe, kColon, false},
        // The editing keys are the machine's CTRL combinations.
        {kKeyBack, kM, true},            {kKeyLeft, kM, true},
        {kKeyRight, kComma, true},       {kKeyUp, kStop, true},
        {kKeyDown, kSpace, true},        {kKeyInsert, kL, true},
        {kKeyDelete, kSemicolon, true},  {kKeyEnd, kColon, true},
    };
    for (const KeyBinding& k : rest) b[n++] = k;
    return b;
}

constexpr auto kBindings = build_bindings();

constexpr MatrixKey kNone{0xFF, 0xFF};

struct JoystickBinding {
    HostKey host;
    uint8_t bit;
};
constexpr JoystickBinding kJoystick[] = {
    {kKeyNumpad8, 0}, {kKeyNumpad2, 1}, {kKeyNumpad4, 2}, {kKeyNumpad6, 3}, {kKeyNumpad5, 4}, {kKeyNumpad0, 7},
};

void press(std::array<uint8_t, 8>& rows, MatrixKey k) {
    if (k.row < 8) rows[k.row] = uint8_t(rows[k.row] & ~(1 << k.bit));
}

void type_next(Machine& m) {
    InputState& in = m.input;
    if (++in.typingStep < in.typingWait) return;
    in.typingStep = 0;
    const char c = in.typingText[in.typingPos];
    if (c == 0) {
        in.typingActive = false;
        in.typingWait = kTypingPace;
        return;
    }
    ++in.typingPos;
    in.typingWait = c == '\r' ? kTypingPace + kTypingReturnWait : kTypingPace;
    for (const MatrixKey& k : typing_keys(c)) press(in.pendingRows, k);
}

} // namespace

std::array<MatrixKey, 2> typing_keys(char ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z') c = uint8_t(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return {kLetters[c - 'A'], kNone};
    if (c >= '0' && c <= '9') return {kDigits[c - '0'], kNone};
    switch (c) {
    case '\r': return {kReturn, kNone};
    case ' ': return {kSpace, kNone};
    case ',': return {kComma, kNone};
    case '.': return {kStop, kNone};
    case '-': return {kMinus, kNone};
    case ':': return {kColon, kNone};
    case ';': return {kSemicolon, kNone};
    case '!': return {kShift, k1};
    case '"': return {kShift, k2};
    case '#': return {kShift, k3};
    case '$': return {kShift, k4};
    case '%': return {kShift, k5};
    case '&': return {kShift, k6};
    case '\'': return {kShift, k7};
    case '(': return {kShift, k8};
    case ')': return {kShift, k9};
    case '@': return {kShift, k0};
    case '=': return {kShift, kMinus};
    case '*': return {kShift, kColon};
    case '+': return {kShift, kSemicolon};
    case '<': return {kShift, kComma};
    case '>': return {kShift, kStop};
    case '/': return {kShift, kK};
    case '?': return {kShift, kL};
    case '[': return {kShift, kO};
    case ']': return {kShift, kP};
    case '\\': return {kShift, kM};
    case '^': return {kShift, kN};
    default: return {kNone, kNone};
    }
}

std::span<const KeyBinding> keyboard_bindings() { return kBindings; }

bool poll_input(Machine& m, const HostKeys& keys, JoystickSources joystick, std::span<const char> heldCharacters) {
    InputState& in = m.input;

    bool toggleFullScreen = false;
    if (keys[kKeyF11]) {
        toggleFullScreen = !in.f11Held;
        in.f11Held = true;
    } else {
        in.f11Held = false;
    }

    std::array<uint8_t, 8> host{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    bool byCharacter = false;
    for (const char c : heldCharacters) {
        if (c == 0) continue;
        byCharacter = true;
        for (const MatrixKey& k : typing_keys(c)) press(host, k);
    }
    for (const KeyBinding& b : kBindings) {
        if (!keys[b.host]) continue;
        if (byCharacter && (b.host == kKeyLeftShift || b.host == kKeyRightShift)) continue;
        press(host, b.key);
        if (b.withCtrl) press(host, kMatrixCtrl);
    }
    // A key that went down since the last poll stays down for kMinimumKeyHold
    // polls, unless another key goes down first: the next key of someone
    // typing quickly must not meet the SHIFT of the last one (a quote and
    // then a semicolon gave a plus at 80 ms a key).
    std::array<uint8_t, 8> newlyDown{};
    bool anyNewlyDown = false;
    for (size_t row = 0; row < 8; ++row) {
        newlyDown[row] = uint8_t(~host[row] & in.hostRows[row]);
        anyNewlyDown = anyNewlyDown || newlyDown[row] != 0;
    }
    for (size_t row = 0; row < 8; ++row) {
        in.hostRows[row] = host[row];
        for (int bit = 0; bit < 8; ++bit) {
            uint8_t& hold = in.keyHold[row * 8 + size_t(bit)];
            if (anyNewlyDown && (host[row] & (1 << bit))) hold = 0; // released, and another key came
            if (newlyDown[row] & (1 << bit)) hold = kMinimumKeyHold;
            if (hold > 0) {
                host[row] = uint8_t(host[row] & ~(1 << bit));
                --hold;
            }
        }
    }
    in.pendingRows = host;

    m.state.joystickByte = uint8_t(~(joystick.controllerHeld & 0x1F));
    if (joystick.keypad)
        for (const JoystickBinding& j : kJoystick)
            if (keys[j.host]) m.state.joystickByte = uint8_t(m.state.joystickByte & ~(1 << j.bit));

    if (in.typingActive) type_next(m);
    return toggleFullScreen;
}

bool typing_start(Machine& m, std::string_view text) {
    InputState& in = m.input;
    if (text.size() >= kTypingBufferSize) return false;
    if (!text.empty()) std::memcpy(in.typingText.data(), text.data(), text.size());
    in.typingText[text.size()] = 0;
    in.typingPos = 0;
    in.typingActive = true;
    return true;
}

std::string text_with_returns(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    char previous = 0;
    for (const char c : text) {
        if (c == '\n' && previous != '\r') out += '\r';
        out += c;
        previous = c;
    }
    return out;
}
