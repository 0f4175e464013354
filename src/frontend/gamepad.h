// Game controllers as the machine's joystick, through SDL2's game controller
// subsystem (the window stays Qt's; SDL is used without video).
//
// Every controller SDL knows is opened when it is plugged in and closed when
// it is pulled out, also while the machine runs; the directions and fire of
// all of them are merged. Directions come from the d-pad and from the left
// stick past a dead zone of a quarter of its travel (sticks rest a few
// percent off centre, and a diagonal must be pushed well over before it
// counts); fire is the A button. poll() drains SDL's event queue, which
// nothing else in the program reads, so it does not grow. The result is in
// JoystickBit values for poll_input, which merges it with the keypad exactly
// as the keypad's own bits.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

class Gamepad {
public:
    static constexpr int16_t kDeadZone = 8192;

    Gamepad();
    ~Gamepad();
    Gamepad(const Gamepad&) = delete;
    Gamepad& operator=(const Gamepad&) = delete;

    // False when SDL's game controller subsystem could not start; error() says why.
    bool available() const { return initialised_; }
    const std::string& error() const { return error_; }

    // Takes in controllers plugged in or out since the last call and returns
    // the JoystickBit values held now. Once per host frame.
    uint8_t poll();
    int connected() const { return int(controllers_.size()); }

private:
    void open_device(int deviceIndex);
    void close_instance(SDL_JoystickID id);

    bool initialised_ = false;
    std::string error_;
    std::vector<SDL_GameController*> controllers_;
};
