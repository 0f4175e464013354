// Host key events to the machine's key codes (PC scan codes, set 1), by
// physical key where the platform reports one, so the machine's keyboard is
// laid out as the keys are, whatever the host's layout. Where no scan code is
// given (some platforms, synthesized events) the Qt key stands in.
#pragma once

#include <QtGlobal>

#include <optional>

#include "input/keyboard.h"

class QKeyEvent;

std::optional<HostKey> host_key_for_native(quint32 nativeScanCode);
std::optional<HostKey> host_key_for_qt(int qtKey, bool keypad);
std::optional<HostKey> host_key_for(const QKeyEvent& event);
