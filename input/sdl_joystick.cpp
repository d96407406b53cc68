#include "input/sdl_joystick.h"

#include <SDL.h>

#include <algorithm>

namespace vexalo {

namespace {

int InitJoystickSubsystem(uint32_t flags) {
    return SDL_InitSubSystem(flags);
}

}  // namespace

SdlJoystick::SdlJoystick() : SdlJoystick(&InitJoystickSubsystem) {}

SdlJoystick::SdlJoystick(InitFunction initSubsystem) {
    // The events part started with the joystick would otherwise turn Ctrl+C into a quit event
    // that nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (!initSubsystem || initSubsystem(SDL_INIT_JOYSTICK) != 0) {
        // The error text is only meaningful right after a failure; after a success it may be
        // a stale message from elsewhere.
        const char* message = initSubsystem ? SDL_GetError() : nullptr;
        initError_ = message && *message ? message : "joystick subsystem unavailable";
        return;
    }
    ready_ = true;
    // The joystick is read by polling once per frame; queued joystick events would only pile up.
    SDL_JoystickEventState(SDL_IGNORE);
}

SdlJoystick::~SdlJoystick() {
    if (!ready_) return;
    Close();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

void SdlJoystick::Close() {
    if (joystick_) SDL_JoystickClose(joystick_);
    joystick_ = nullptr;
}

void ApplyHat(JoystickReading& reading, uint8_t hat) {
    if (hat & SDL_HAT_LEFT) reading.x = reading.axisMin;
    if (hat & SDL_HAT_RIGHT) reading.x = reading.axisMax;
    if (hat & SDL_HAT_UP) reading.y = reading.axisMin;
    if (hat & SDL_HAT_DOWN) reading.y = reading.axisMax;
}

JoystickReading SdlJoystick::Poll() {
    JoystickReading reading;
    if (!ready_) return reading;
    // Updates the open joystick's axes and buttons and notices devices coming and going.
    SDL_JoystickUpdate();
    if (joystick_ && !SDL_JoystickGetAttached(joystick_)) Close();
    if (!joystick_) {
        if (SDL_NumJoysticks() <= 0) return reading;
        joystick_ = SDL_JoystickOpen(0);
        if (!joystick_) return reading;
    }
    reading.present = true;
    reading.axisMin = SDL_JOYSTICK_AXIS_MIN;
    reading.axisMax = SDL_JOYSTICK_AXIS_MAX;
    const int axes = SDL_JoystickNumAxes(joystick_);
    if (axes > 0) reading.x = SDL_JoystickGetAxis(joystick_, 0);
    if (axes > 1) reading.y = SDL_JoystickGetAxis(joystick_, 1);
    if (SDL_JoystickNumHats(joystick_) > 0) ApplyHat(reading, SDL_JoystickGetHat(joystick_, 0));
    const int buttons = std::min(SDL_JoystickNumButtons(joystick_), 32);
    for (int n = 0; n < buttons; ++n) {
        if (SDL_JoystickGetButton(joystick_, n)) reading.buttons |= uint32_t{1} << n;
    }
    return reading;
}

}  // namespace vexalo
