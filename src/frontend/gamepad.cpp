#include "frontend/gamepad.h"

#include <algorithm>

#include "input/keyboard.h"

Gamepad::Gamepad() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Controllers are read while the window has the focus; SDL must not stop
    // reading them when its own (absent) window does not.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        error_ = SDL_GetError();
        return;
    }
    initialised_ = true;
    for (int i = 0; i < SDL_NumJoysticks(); ++i) open_device(i);
}

Gamepad::~Gamepad() {
    for (SDL_GameController* c : controllers_) SDL_GameControllerClose(c);
    if (initialised_) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

void Gamepad::open_device(int deviceIndex) {
    if (!SDL_IsGameController(deviceIndex)) return;
    const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(deviceIndex);
    for (SDL_GameController* c : controllers_)
        if (SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(c)) == id) return; // already open
    if (SDL_GameController* c = SDL_GameControllerOpen(deviceIndex)) controllers_.push_back(c);
}

void Gamepad::close_instance(SDL_JoystickID id) {
    const auto gone = std::find_if(controllers_.begin(), controllers_.end(), [id](SDL_GameController* c) {
        return SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(c)) == id;
    });
    if (gone == controllers_.end()) return;
    SDL_GameControllerClose(*gone);
    controllers_.erase(gone);
}

uint8_t Gamepad::poll() {
    if (!initialised_) return 0;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        if (e.type == SDL_CONTROLLERDEVICEADDED) open_device(e.cdevice.which);
        else if (e.type == SDL_CONTROLLERDEVICEREMOVED) close_instance(e.cdevice.which);
    }
    uint8_t held = 0;
    for (SDL_GameController* c : controllers_) {
        auto button = [c](SDL_GameControllerButton b) { return SDL_GameControllerGetButton(c, b) != 0; };
        const int x = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTX);
        const int y = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTY);
        if (button(SDL_CONTROLLER_BUTTON_DPAD_UP) || y < -kDeadZone) held |= kJoystickUp;
        if (button(SDL_CONTROLLER_BUTTON_DPAD_DOWN) || y > kDeadZone) held |= kJoystickDown;
        if (button(SDL_CONTROLLER_BUTTON_DPAD_LEFT) || x < -kDeadZone) held |= kJoystickLeft;
        if (button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT) || x > kDeadZone) held |= kJoystickRight;
        if (button(SDL_CONTROLLER_BUTTON_A)) held |= kJoystickFire;
    }
    return held;
}
