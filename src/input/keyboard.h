// Keyboard matrix, numeric-keypad joystick and typing text into the machine.
//
// Once per host frame poll_input turns a snapshot of the host keys held down
// into the eight matrix rows (active low) and the joystick byte, and, while
// text is being typed, presses the keys of one character every second frame.
// After a typed RETURN the next character waits kTypingReturnWait more frames:
// the BASIC ROM spends several frames storing the line while its frame
// interrupt goes on scanning into a one-key latch, and keys typed meanwhile
// were lost (measured: no wait, 3 of 10 pasted lines intact; 4 frames, 98 of
// 150 long lines; 6 and more, all of them).
// The rows are not applied at once: the loop hook copies them into
// keyboardRows when the beam completes the first active line, a fixed point of
// the video frame far from the frame interrupt in which the ROM scans the
// keyboard. Applied at the host-frame boundary instead, which drifts through
// that scan, typed characters were lost or doubled every few seconds.
// A host key that goes down is held in the matrix for at least
// kMinimumKeyHold polls, so a tap shorter than a frame still reaches the
// ROM's scan (5 of 8 quick RETURNs were lost when the rows followed the keys
// alone). Typed text has its own pace and is not held.
// Host keys are named by PC keyboard scan codes (set 1), the codes the
// original keyboard interface used; the front end maps its events onto them.
// Keys typed by character (the default mapping of the desktop) come as the
// characters themselves and press the keys the machine types them with.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct Machine;

enum HostKey : uint8_t {
    kKeyEscape = 0x01,
    kKey1 = 0x02, kKey2, kKey3, kKey4, kKey5, kKey6, kKey7, kKey8, kKey9, kKey0,
    kKeyMinus = 0x0C, kKeyEquals = 0x0D, kKeyBack = 0x0E, kKeyTab = 0x0F,
    kKeyQ = 0x10, kKeyW, kKeyE, kKeyR, kKeyT, kKeyY, kKeyU, kKeyI, kKeyO, kKeyP,
    kKeyReturn = 0x1C, kKeyLeftControl = 0x1D,
    kKeyA = 0x1E, kKeyS, kKeyD, kKeyF, kKeyG, kKeyH, kKeyJ, kKeyK, kKeyL,
    kKeySemicolon = 0x27, kKeyApostrophe = 0x28, kKeyLeftShift = 0x2A,
    kKeyZ = 0x2C, kKeyX, kKeyC, kKeyV, kKeyB, kKeyN, kKeyM,
    kKeyComma = 0x33, kKeyPeriod = 0x34, kKeySlash = 0x35, kKeyRightShift = 0x36,
    kKeySpace = 0x39,
    kKeyNumpad7 = 0x47, kKeyNumpad8 = 0x48, kKeyNumpad9 = 0x49,
    kKeyNumpad4 = 0x4B, kKeyNumpad5 = 0x4C, kKeyNumpad6 = 0x4D,
    kKeyNumpad1 = 0x4F, kKeyNumpad2 = 0x50, kKeyNumpad3 = 0x51, kKeyNumpad0 = 0x52,
    kKeyF11 = 0x57,
    kKeyRightControl = 0x9D,
    kKeyUp = 0xC8, kKeyLeft = 0xCB, kKeyRight = 0xCD, kKeyEnd = 0xCF, kKeyDown = 0xD0,
    kKeyInsert = 0xD2, kKeyDelete = 0xD3,
};

// The letter keys A-Z in alphabetical order (their codes follow the rows of the keyboard).
inline constexpr HostKey kHostLetters[26] = {kKeyA, kKeyB, kKeyC, kKeyD, kKeyE, kKeyF, kKeyG, kKeyH, kKeyI,
                                             kKeyJ, kKeyK, kKeyL, kKeyM, kKeyN, kKeyO, kKeyP, kKeyQ, kKeyR,
                                             kKeyS, kKeyT, kKeyU, kKeyV, kKeyW, kKeyX, kKeyY, kKeyZ};

using HostKeys = std::bitset<256>; // bit k set while the host key with code k is down

// A machine key: its row (0-7) and bit in the matrix.
struct MatrixKey {
    uint8_t row;
    uint8_t bit;
};

inline constexpr MatrixKey kMatrixShift{2, 2};
inline constexpr MatrixKey kMatrixCtrl{1, 2};

// A host key's effect on the matrix: the key pressed, and CTRL with it for the
// editing keys that stand for CTRL combinations.
struct KeyBinding {
    HostKey host;
    MatrixKey key;
    bool withCtrl;
};

inline constexpr size_t kTypingBufferSize = 65536; // the text and its terminating zero
inline constexpr uint32_t kTypingPace = 2;          // frames from one typed character to the next
inline constexpr uint32_t kTypingReturnWait = 10;   // extra frames after a RETURN
inline constexpr uint8_t kMinimumKeyHold = 2;       // polls a host key's press lasts at least
inline constexpr size_t kHeldCharacters = 8;        // keys held by character at once

struct InputState {
    std::array<uint8_t, 8> pendingRows{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    bool f11Held = false;
    bool typingActive = false;
    uint32_t typingPos = 0;  // next byte of typingText
    uint32_t typingStep = 0; // frames since the last character
    uint32_t typingWait = kTypingPace; // frames the next character waits for
    std::array<char, kTypingBufferSize> typingText{};
    // The host's keys as the last poll pressed them, and how many more polls
    // each machine key (row * 8 + bit) is held whatever the host does.
    std::array<uint8_t, 8> hostRows{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::array<uint8_t, 64> keyHold{};
};

// Joystick bits, as joystickByte holds them active low.
enum JoystickBit : uint8_t {
    kJoystickUp = 1 << 0,
    kJoystickDown = 1 << 1,
    kJoystickLeft = 1 << 2,
    kJoystickRight = 1 << 3,
    kJoystickFire = 1 << 4,
};

// Where the joystick comes from: the numeric keypad, and the directions and
// fire a game controller holds (JoystickBit values set while held).
struct JoystickSources {
    bool keypad = true;
    uint8_t controllerHeld = 0;
};

// Rebuilds the pending rows and joystickByte from the held host keys, the
// characters held by character (each presses its typing_keys; while any is
// held the host's Shift keys are left out, as the character brings its own
// SHIFT) and the controller, and types the next character. A key tapped
// between two polls is passed as held for the next one. Returns true when
// F11 went down since the last poll (the host toggles full screen).
bool poll_input(Machine& m, const HostKeys& keys, JoystickSources joystick = {},
                std::span<const char> heldCharacters = {});

// Starts typing a copy of the text (CR gives RETURN; every other byte without a
// key, LF included, takes its turn and presses nothing). Typing from a text
// already in progress continues with the new one. Returns false, and changes
// nothing, when the text does not fit the typing buffer with its zero byte.
bool typing_start(Machine& m, std::string_view text);

// Text of this host ends its lines with LF, where the machine's own platform
// used CR LF; the machine presses RETURN only for CR. Puts a CR before every
// LF that has none.
std::string text_with_returns(std::string_view text);

// The keys a typed character presses: up to two, {0xFF, 0xFF} for none.
std::array<MatrixKey, 2> typing_keys(char c);

// Host key to machine key table, for the front end's help text and tests.
std::span<const KeyBinding> keyboard_bindings();
