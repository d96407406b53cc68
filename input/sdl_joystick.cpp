#include "input/sdl_joystick.h"

#include <SDL.h>

#include <algorithm>

#include "machine/log.h"

namespace vexalo {

namespace {

int InitGameControllerSubsystem(uint32_t flags) {
    return SDL_InitSubSystem(flags);
}

// The mapped buttons that give Button 1 to Button 4 (A, B, Start, Select). The console's pad has
// B to the left of A; a gamepad's bottom face button (SDL's A) and its right one (SDL's B) sit
// the same way, so the right one is A and the bottom one B, whatever their labels say.
constexpr SDL_GameControllerButton kButtonOfState[4] = {
    SDL_CONTROLLER_BUTTON_B,      // Button 1: A
    SDL_CONTROLLER_BUTTON_A,      // Button 2: B
    SDL_CONTROLLER_BUTTON_START,  // Button 3: Start
    SDL_CONTROLLER_BUTTON_BACK,   // Button 4: Select
};

std::string PadNameAt(int index) {
    const char* name = SDL_IsGameController(index) ? SDL_GameControllerNameForIndex(index)
                                                   : SDL_JoystickNameForIndex(index);
    return name && *name ? name : "unnamed pad";
}

bool Listed(int32_t instance, int count) {
    for (int index = 0; index < count; ++index) {
        if (SDL_JoystickGetDeviceInstanceID(index) == instance) return true;
    }
    return false;
}

// The D-pad's buttons as the hat bits they stand for.
constexpr struct {
    SDL_GameControllerButton button;
    uint8_t hat;
} kDpad[4] = {
    {SDL_CONTROLLER_BUTTON_DPAD_UP, SDL_HAT_UP},
    {SDL_CONTROLLER_BUTTON_DPAD_DOWN, SDL_HAT_DOWN},
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, SDL_HAT_LEFT},
    {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, SDL_HAT_RIGHT},
};

// An attached pad's reading with its stick at `x`, `y` on SDL's axis range.
JoystickReading AttachedReading(int32_t x, int32_t y) {
    JoystickReading reading;
    reading.present = true;
    reading.axisMin = SDL_JOYSTICK_AXIS_MIN;
    reading.axisMax = SDL_JOYSTICK_AXIS_MAX;
    reading.x = x;
    reading.y = y;
    return reading;
}

JoystickReading ReadController(SDL_GameController* controller) {
    JoystickReading reading =
        AttachedReading(SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_LEFTX),
                        SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_LEFTY));
    uint8_t dpad = SDL_HAT_CENTERED;
    for (const auto& direction : kDpad) {
        if (SDL_GameControllerGetButton(controller, direction.button)) dpad |= direction.hat;
    }
    ApplyHat(reading, dpad);
    for (int n = 0; n < 4; ++n) {
        if (SDL_GameControllerGetButton(controller, kButtonOfState[n]))
            reading.buttons |= uint32_t{1} << n;
    }
    return reading;
}

JoystickReading ReadRawJoystick(SDL_Joystick* joystick) {
    const int axes = SDL_JoystickNumAxes(joystick);
    JoystickReading reading = AttachedReading(axes > 0 ? SDL_JoystickGetAxis(joystick, 0) : 0,
                                              axes > 1 ? SDL_JoystickGetAxis(joystick, 1) : 0);
    if (SDL_JoystickNumHats(joystick) > 0) ApplyHat(reading, SDL_JoystickGetHat(joystick, 0));
    const int buttons = std::min(SDL_JoystickNumButtons(joystick), 32);
    for (int n = 0; n < buttons; ++n) {
        if (SDL_JoystickGetButton(joystick, n)) reading.buttons |= uint32_t{1} << n;
    }
    return reading;
}

}  // namespace

void ApplyHat(JoystickReading& reading, uint8_t hat) {
    if (hat & SDL_HAT_LEFT) reading.x = reading.axisMin;
    if (hat & SDL_HAT_RIGHT) reading.x = reading.axisMax;
    if (hat & SDL_HAT_UP) reading.y = reading.axisMin;
    if (hat & SDL_HAT_DOWN) reading.y = reading.axisMax;
}

int PadOfPlayer(int player, int padCount) {
    if (padCount <= 0 || player < 0 || player > 1) return -1;
    return padCount == 1 ? 0 : player;
}

std::vector<std::string> ConnectedPadNames() {
    std::vector<std::string> names;
    if (SDL_WasInit(SDL_INIT_JOYSTICK) == 0) return names;
    SDL_JoystickUpdate();  // notices pads plugged in while no machine was running
    const int count = SDL_NumJoysticks();
    for (int index = 0; index < count; ++index) names.push_back(PadNameAt(index));
    return names;
}

SdlJoystick::SdlJoystick() : SdlJoystick(&InitGameControllerSubsystem) {}

SdlJoystick::SdlJoystick(InitFunction initSubsystem) {
    // The events part started with the joystick would otherwise turn Ctrl+C into a quit event
    // that nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Face buttons by where they sit, not by what is printed on them (see kButtonOfState); the
    // environment variable of the same name still overrides this.
    SDL_SetHint(SDL_HINT_GAMECONTROLLER_USE_BUTTON_LABELS, "0");
    if (!initSubsystem || initSubsystem(SDL_INIT_GAMECONTROLLER) != 0) {
        // The error text is only meaningful right after a failure; after a success it may be
        // a stale message from elsewhere.
        const char* message = initSubsystem ? SDL_GetError() : nullptr;
        initError_ = message && *message ? message : "game controller subsystem unavailable";
        pending_.push_back("Game controllers unavailable: " + initError_);
        return;
    }
    ready_ = true;
    // The pads are read by polling once per frame; queued events would only pile up.
    SDL_JoystickEventState(SDL_IGNORE);
    SDL_GameControllerEventState(SDL_IGNORE);
    // SDL reads the user's mapping file itself when it starts, but silently skips one it cannot
    // read; reading it once more tells why.
    const char* file = SDL_GetHint(SDL_HINT_GAMECONTROLLERCONFIG_FILE);
    if (file && *file && SDL_GameControllerAddMappingsFromFile(file) < 0) {
        pending_.push_back(std::string("Game controller mappings not read from \"") + file +
                           "\": " + SDL_GetError());
    }
}

SdlJoystick::~SdlJoystick() {
    if (!ready_) return;
    for (Pad& pad : pads_) Close(pad);
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

void SdlJoystick::Close(Pad& pad) {
    if (pad.controller) {
        SDL_GameControllerClose(pad.controller);
    } else if (pad.joystick) {
        SDL_JoystickClose(pad.joystick);
    }
    pad.controller = nullptr;
    pad.joystick = nullptr;
}

void SdlJoystick::Refresh(Log& log) {
    for (const std::string& line : pending_) log.Append(line);
    pending_.clear();
    if (!ready_) return;
    // Updates the open pads' buttons and axes and notices devices coming and going.
    SDL_JoystickUpdate();
    const int count = SDL_NumJoysticks();
    for (auto pad = pads_.begin(); pad != pads_.end();) {
        if (Listed(pad->instance, count)) {
            ++pad;
            continue;
        }
        log.Append(
            (pad->controller ? "Game controller disconnected: " : "Joystick disconnected: ") +
            pad->name);
        Close(*pad);
        pad = pads_.erase(pad);
    }
    std::erase_if(unopenable_, [count](int32_t instance) { return !Listed(instance, count); });
    OpenNewPads(log);
}

void SdlJoystick::OpenNewPads(Log& log) {
    const int count = SDL_NumJoysticks();
    size_t placed = 0;  // pads_[0, placed) stand in SDL's order
    for (int index = 0; index < count; ++index) {
        const int32_t instance = SDL_JoystickGetDeviceInstanceID(index);
        auto found = std::find_if(pads_.begin() + placed, pads_.end(),
                                  [instance](const Pad& pad) { return pad.instance == instance; });
        if (found == pads_.end()) {
            if (instance < 0 ||
                std::find(unopenable_.begin(), unopenable_.end(), instance) != unopenable_.end())
                continue;
            Pad pad;
            pad.instance = instance;
            pad.name = PadNameAt(index);
            // A pad with a mapping that still fails to open as a controller is read raw.
            if (SDL_IsGameController(index)) pad.controller = SDL_GameControllerOpen(index);
            pad.joystick = pad.controller ? SDL_GameControllerGetJoystick(pad.controller)
                                          : SDL_JoystickOpen(index);
            if (!pad.joystick) {
                log.Append("Game controller could not be opened: " + pad.name + " (" +
                           SDL_GetError() + ")");
                Close(pad);
                unopenable_.push_back(instance);
                continue;
            }
            log.Append(pad.controller ? "Game controller connected: " + pad.name
                                      : "Joystick connected: " + pad.name +
                                            " (no controller mapping: buttons 1-4)");
            pads_.push_back(std::move(pad));
            found = pads_.end() - 1;
        }
        std::iter_swap(pads_.begin() + static_cast<std::ptrdiff_t>(placed), found);
        ++placed;
    }
}

JoystickReading SdlJoystick::PollPlayer(int player) {
    const int index = PadOfPlayer(player, static_cast<int>(pads_.size()));
    if (index < 0) return {};
    const Pad& pad = pads_[static_cast<size_t>(index)];
    return pad.controller ? ReadController(pad.controller) : ReadRawJoystick(pad.joystick);
}

}  // namespace vexalo
