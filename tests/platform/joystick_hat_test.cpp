// The joystick's hat gives the four directions, as the stick does.
#include <SDL.h>
#include <gtest/gtest.h>

#include "input/sdl_joystick.h"

namespace vexalo {
namespace {

InputStateSet StatesWithHat(uint8_t hat) {
    JoystickReading reading;
    reading.present = true;
    ApplyHat(reading, hat);
    return JoystickStates(reading);
}

TEST(JoystickHat, EachDirectionAndTheDiagonals) {
    EXPECT_EQ(StatesWithHat(SDL_HAT_CENTERED), 0u);
    EXPECT_EQ(StatesWithHat(SDL_HAT_UP), StateBit(StateUp));
    EXPECT_EQ(StatesWithHat(SDL_HAT_DOWN), StateBit(StateDown));
    EXPECT_EQ(StatesWithHat(SDL_HAT_LEFT), StateBit(StateLeft));
    EXPECT_EQ(StatesWithHat(SDL_HAT_RIGHT), StateBit(StateRight));
    EXPECT_EQ(StatesWithHat(SDL_HAT_RIGHTUP), StateBit(StateRight) | StateBit(StateUp));
    EXPECT_EQ(StatesWithHat(SDL_HAT_LEFTDOWN), StateBit(StateLeft) | StateBit(StateDown));
}

TEST(JoystickHat, ACentredHatLeavesTheStickAlone) {
    JoystickReading reading;
    reading.present = true;
    reading.x = reading.axisMax;  // stick pushed right
    ApplyHat(reading, SDL_HAT_CENTERED);
    EXPECT_EQ(JoystickStates(reading), StateBit(StateRight));
    ApplyHat(reading, SDL_HAT_LEFT);  // the hat wins on its axis
    EXPECT_EQ(JoystickStates(reading), StateBit(StateLeft));
}

}  // namespace
}  // namespace vexalo
