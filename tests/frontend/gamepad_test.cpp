// A game controller as the joystick, with SDL's virtual joystick standing in
// for one: each direction and fire reach joystickByte as the keypad's do,
// merged with the keypad, and controllers come and go while it runs.
#include <gtest/gtest.h>

#include <memory>

#include "frontend/gamepad.h"
#include "input/keyboard.h"
#include "machine/machine.h"

namespace {

class GamepadTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pad.available()) << pad.error(); }
    void TearDown() override { unplug(); }

    void plug() {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        desc.name = "test pad";
        index = SDL_JoystickAttachVirtualEx(&desc);
        ASSERT_GE(index, 0) << SDL_GetError();
        joy = SDL_JoystickOpen(index);
        ASSERT_NE(joy, nullptr) << SDL_GetError();
    }
    void unplug() {
        if (!joy) return;
        SDL_JoystickClose(joy);
        SDL_JoystickDetachVirtual(index);
        joy = nullptr;
    }
    // The joystick byte after one poll, as the frame step makes it.
    uint8_t joystick_byte(const HostKeys& keys = {}, bool keypad = true) {
        poll_input(*m, keys, {keypad, pad.poll()});
        return m->state.joystickByte;
    }

    Gamepad pad;
    std::unique_ptr<Machine> m = std::make_unique<Machine>();
    SDL_Joystick* joy = nullptr;
    int index = -1;
};

TEST_F(GamepadTest, EveryDirectionAndFireFromButtonsAndStick) {
    EXPECT_EQ(joystick_byte(), 0xFF);
    EXPECT_EQ(pad.connected(), 0);
    plug();
    EXPECT_EQ(joystick_byte(), 0xFF);
    EXPECT_EQ(pad.connected(), 1);

    struct Press {
        int button;
        uint8_t expected;
    };
    const Press buttons[] = {
        {SDL_CONTROLLER_BUTTON_DPAD_UP, 0xFE},   {SDL_CONTROLLER_BUTTON_DPAD_DOWN, 0xFD},
        {SDL_CONTROLLER_BUTTON_DPAD_LEFT, 0xFB}, {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 0xF7},
        {SDL_CONTROLLER_BUTTON_A, 0xEF},         {SDL_CONTROLLER_BUTTON_B, 0xFF},
    };
    for (const Press& p : buttons) {
        SCOPED_TRACE(p.button);
        SDL_JoystickSetVirtualButton(joy, p.button, 1);
        EXPECT_EQ(joystick_byte(), p.expected);
        SDL_JoystickSetVirtualButton(joy, p.button, 0);
        EXPECT_EQ(joystick_byte(), 0xFF);
    }

    struct Tilt {
        int axis;
        int16_t value;
        uint8_t expected;
    };
    const Tilt tilts[] = {
        {SDL_CONTROLLER_AXIS_LEFTX, -32768, 0xFB}, {SDL_CONTROLLER_AXIS_LEFTX, 32767, 0xF7},
        {SDL_CONTROLLER_AXIS_LEFTY, -32768, 0xFE}, {SDL_CONTROLLER_AXIS_LEFTY, 32767, 0xFD},
        {SDL_CONTROLLER_AXIS_LEFTX, 8192, 0xFF},   {SDL_CONTROLLER_AXIS_LEFTX, 8193, 0xF7}, // the dead zone's edge
        {SDL_CONTROLLER_AXIS_LEFTY, -8192, 0xFF},  {SDL_CONTROLLER_AXIS_LEFTY, -8193, 0xFE},
        {SDL_CONTROLLER_AXIS_RIGHTX, 32767, 0xFF}, // only the left stick steers
    };
    for (const Tilt& t : tilts) {
        SCOPED_TRACE(std::to_string(t.axis) + " " + std::to_string(t.value));
        SDL_JoystickSetVirtualAxis(joy, t.axis, t.value);
        EXPECT_EQ(joystick_byte(), t.expected);
        SDL_JoystickSetVirtualAxis(joy, t.axis, 0);
        EXPECT_EQ(joystick_byte(), 0xFF);
    }

    // A diagonal with fire.
    SDL_JoystickSetVirtualAxis(joy, SDL_CONTROLLER_AXIS_LEFTX, -20000);
    SDL_JoystickSetVirtualAxis(joy, SDL_CONTROLLER_AXIS_LEFTY, 20000);
    SDL_JoystickSetVirtualButton(joy, SDL_CONTROLLER_BUTTON_A, 1);
    EXPECT_EQ(joystick_byte(), 0xE9);
}

TEST_F(GamepadTest, MergesWithTheKeypadAndFollowsPlugging) {
    plug();
    HostKeys up;
    up.set(kKeyNumpad8);
    SDL_JoystickSetVirtualButton(joy, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1);
    EXPECT_EQ(joystick_byte(up), 0xF6); // keypad up and pad right, as keypad 8 and 6 give
    EXPECT_EQ(joystick_byte(up, false), 0xF7); // keypad switched off
    // The keypad's second fire (0) stays its own.
    HostKeys zero;
    zero.set(kKeyNumpad0);
    poll_input(*m, zero, {true, pad.poll()});
    EXPECT_EQ(m->state.joystickByte, 0x77);

    unplug();
    EXPECT_EQ(joystick_byte(), 0xFF);
    EXPECT_EQ(pad.connected(), 0);
    EXPECT_EQ(joystick_byte(up), 0xFE);

    plug();
    SDL_JoystickSetVirtualButton(joy, SDL_CONTROLLER_BUTTON_DPAD_DOWN, 1);
    EXPECT_EQ(joystick_byte(), 0xFD);
    EXPECT_EQ(pad.connected(), 1);
}

} // namespace
