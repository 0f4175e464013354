// Help > Keyboard: a picture of the machine's keys, drawn here, with the host
// key that presses each under the current mapping (By Character or By
// Position), the character SHIFT gives with it, and the host's editing keys
// that stand for the machine's CTRL combinations. Everything on it comes from
// the keyboard tables in src/input, so it cannot disagree with them.
#pragma once

#include <QImage>

class QWidget;

QImage keyboard_help_picture(bool byCharacter);

// A dialog showing the picture; it does not block the machine's frames
// beyond what any dialog does.
void show_keyboard_help(QWidget* parent, bool byCharacter);
