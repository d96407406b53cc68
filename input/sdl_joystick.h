// The system's first joystick through SDL2's joystick subsystem. Without the subsystem or without
// a joystick it reads as nothing attached; a joystick plugged in later is picked up and one that
// is unplugged is let go. One instance may serve both players.
#pragma once

#include <cstdint>
#include <string>

#include "input/input_device.h"

struct _SDL_Joystick;

namespace vexalo {

// The hat (most gamepads' D-pad) as the stick pushed to its ends: a pressed direction of the hat
// (SDL's hat bits) overrides that axis, so either control steers.
void ApplyHat(JoystickReading& reading, uint8_t hat);

class SdlJoystick : public JoystickSource {
   public:
    // Starts the subsystem through `initSubsystem` (SDL_InitSubSystem with the joystick flag
    // unless a test supplies another), once for the lifetime of this object. A nonzero result
    // means no joystick is ever read.
    using InitFunction = int (*)(uint32_t flags);
    SdlJoystick();
    explicit SdlJoystick(InitFunction initSubsystem);
    ~SdlJoystick() override;
    SdlJoystick(const SdlJoystick&) = delete;
    SdlJoystick& operator=(const SdlJoystick&) = delete;

    // Brings the joystick's state up to date and reads the first joystick.
    JoystickReading Poll() override;

    bool SubsystemReady() const { return ready_; }
    // Why the subsystem could not start; empty when it did.
    const std::string& InitError() const { return initError_; }

   private:
    void Close();

    bool ready_ = false;
    std::string initError_;
    _SDL_Joystick* joystick_ = nullptr;
};

}  // namespace vexalo
