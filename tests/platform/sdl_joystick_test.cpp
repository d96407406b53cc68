// SDL2's pads with no pad attached, and with a subsystem that cannot start.
#include <gtest/gtest.h>

#include <SDL.h>

#include <memory>
#include <string>
#include <vector>

#include "input/input_device.h"
#include "input/joypad.h"
#include "input/sdl_joystick.h"
#include "machine/machine.h"

namespace vexalo {
namespace {

int FailingInit(uint32_t) {
    return SDL_SetError("no joystick support in this test");
}

int InitCalls = 0;
int CountingFailingInit(uint32_t flags) {
    ++InitCalls;
    return FailingInit(flags);
}

TEST(SdlJoystickTest, NoJoystickAttachedYieldsNoStates) {
    SdlJoystick stick;
    if (!stick.SubsystemReady())
        GTEST_SKIP() << "joystick subsystem unavailable: " << stick.InitError();
    EXPECT_TRUE(stick.InitError().empty());
    if (SDL_NumJoysticks() > 0) GTEST_SKIP() << "a joystick is attached to this machine";
    Log log;
    for (int i = 0; i < 3; ++i) {
        stick.Refresh(log);
        for (int player = 0; player < 2; ++player) {
            const JoystickReading reading = stick.PollPlayer(player);
            EXPECT_FALSE(reading.present);
            EXPECT_EQ(JoystickStates(reading), 0u);
        }
    }
    EXPECT_TRUE(log.Lines().empty()) << "no pad came or went";

    // One instance serving both players, both enabled: both pads read as released.
    auto m = std::make_unique<Machine>();
    InputDevice devices[2];
    for (int p = 0; p < 2; ++p) {
        devices[p].SetJoystick(&stick);
        m->pads.device[p] = &devices[p];
        m->settings.joystickEnabled[p] = true;
    }
    ApplyKeyBindings(*m);
    PollJoypads(*m);
    EXPECT_EQ(m->pads.padState[0], 0);
    EXPECT_EQ(m->pads.padState[1], 0);
}

TEST(SdlJoystickTest, FailedSubsystemStartIsReportedAndReadsAsNothing) {
    InitCalls = 0;
    {
        SdlJoystick stick(&CountingFailingInit);
        EXPECT_FALSE(stick.SubsystemReady());
        EXPECT_EQ(stick.InitError(), "no joystick support in this test");
        Log log;
        for (int i = 0; i < 3; ++i) {
            stick.Refresh(log);
            const JoystickReading reading = stick.Poll();
            EXPECT_FALSE(reading.present);
            EXPECT_EQ(JoystickStates(reading), 0u);
        }
        EXPECT_EQ(InitCalls, 1);  // started once, not retried per poll
        EXPECT_EQ(log.Lines(),
                  std::vector<std::string>{
                      "Game controllers unavailable: no joystick support in this test"});
    }

    SdlJoystick none(nullptr);
    EXPECT_FALSE(none.SubsystemReady());
    EXPECT_FALSE(none.InitError().empty());
    EXPECT_FALSE(none.Poll().present);
}

TEST(SdlJoystickTest, SeveralInstancesStartAndStopIndependently) {
    auto first = std::make_unique<SdlJoystick>();
    if (!first->SubsystemReady()) GTEST_SKIP() << first->InitError();
    if (SDL_NumJoysticks() > 0) GTEST_SKIP() << "a joystick is attached to this machine";
    SdlJoystick second;
    EXPECT_TRUE(second.SubsystemReady());
    first.reset();  // the subsystem stays up for the other instance
    EXPECT_NE(SDL_WasInit(SDL_INIT_JOYSTICK), 0u);
    EXPECT_FALSE(second.Poll().present);
}

}  // namespace
}  // namespace vexalo
