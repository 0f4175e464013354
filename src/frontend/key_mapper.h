// Host key events to the machine's key codes (PC scan codes, set 1), by
// physical key where the platform reports one, so the machine's keyboard is
// laid out as the keys are, whatever the host's layout. Where no scan code is
// given (some platforms, synthesized events) the Qt key stands in.
//
// By Character (the default), a key whose event brings a punctuation
// character is typed as that character, with the machine's own SHIFT
// combination, whatever key of the host makes it; letters, digits, RETURN,
// SPACE, the editing keys and the keypad stay by position, which is also the
// whole of By Position (for programs that read the matrix directly).
#pragma once

#include <QtGlobal>

#include <array>
#include <optional>
#include <span>

#include "input/keyboard.h"

class QKeyEvent;

std::optional<HostKey> host_key_for_native(quint32 nativeScanCode);
std::optional<HostKey> host_key_for_qt(int qtKey, bool keypad);
std::optional<HostKey> host_key_for(const QKeyEvent& event);

// The character a key event types by character: printable ASCII other than
// a letter, a digit or space, from a key not on the keypad.
std::optional<char> typed_character(const QKeyEvent& event);

// The host's keyboard between two polls of the machine: the keys down, and
// those pressed and released since the last poll, which count as held for
// that one poll so a tap shorter than a frame is seen.
class HostKeyboard {
public:
    bool byCharacter = true;

    // A key pressed or released (auto-repeats are left out by the caller).
    void event(const QKeyEvent& key);
    void releaseAll();
    bool anyDown() const;

    // What the next poll sees; afterPoll forgets the taps it has seen.
    const HostKeys& pollKeys();
    std::span<const char> pollCharacters();
    void afterPoll();

private:
    struct HeldCharacter {
        quint64 id = 0; // the physical key: native scan code, or the Qt key where there is none
        char c = 0;     // 0: a free slot
        bool down = false;
    };
    HostKeys keys_, tapped_, polled_;
    std::array<uint8_t, 256> modifierPresses_{}; // Shift and Control where left and right look alike
    std::array<HeldCharacter, kHeldCharacters> characters_{};
    std::array<char, kHeldCharacters> polledCharacters_{};
};
