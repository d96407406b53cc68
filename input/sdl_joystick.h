// The system's pads through SDL2. A pad SDL has a game-controller mapping for (its built-in
// database, or the file named by SDL_GAMECONTROLLERCONFIG_FILE) is read by its mapped buttons:
// A and B where the console's pad has them, Start, Back as Select, the D-pad and the left stick.
// A raw joystick without a mapping gives its buttons 1-4, its first two axes and its first hat.
// Player 1 reads the first pad and player 2 the second; with a single pad both players read it.
// Pads are picked up and let go while the machine runs, and each change is written to the log.
// Without the subsystem or without a pad it reads as nothing attached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/input_device.h"

struct _SDL_Joystick;
struct _SDL_GameController;

namespace vexalo {

// The hat (most gamepads' D-pad) as the stick pushed to its ends: a pressed direction of the hat
// (SDL's hat bits) overrides that axis, so either control steers.
void ApplyHat(JoystickReading& reading, uint8_t hat);

// Which of `padCount` pads player `player` (0 or 1) reads: the first for player 1, the second for
// player 2, the only one for either when there is one; -1 when there is none.
int PadOfPlayer(int player, int padCount);

// The names of the pads SDL lists now, in its order (the order PadOfPlayer counts in), after
// bringing the list up to date; empty when the joystick subsystem is not running.
std::vector<std::string> ConnectedPadNames();

class SdlJoystick : public JoystickSource {
   public:
    // Starts the subsystem through `initSubsystem` (SDL_InitSubSystem with the game-controller
    // flag unless a test supplies another), once for the lifetime of this object. A nonzero
    // result means no pad is ever read.
    using InitFunction = int (*)(uint32_t flags);
    SdlJoystick();
    explicit SdlJoystick(InitFunction initSubsystem);
    ~SdlJoystick() override;
    SdlJoystick(const SdlJoystick&) = delete;
    SdlJoystick& operator=(const SdlJoystick&) = delete;

    // Brings SDL's pads up to date, opens the pads that appeared and closes those that went, with
    // a line in `log` for each (and, the first time, for a subsystem or mapping file that failed).
    void Refresh(Log& log) override;
    // The pad player `player` reads, as found at the last refresh.
    JoystickReading PollPlayer(int player) override;
    JoystickReading Poll() override { return PollPlayer(0); }

    bool SubsystemReady() const { return ready_; }
    // Why the subsystem could not start; empty when it did.
    const std::string& InitError() const { return initError_; }

   private:
    struct Pad {
        int32_t instance = -1;                      // SDL's instance id
        _SDL_GameController* controller = nullptr;  // null: a raw joystick without a mapping
        _SDL_Joystick* joystick = nullptr;          // the controller's own, or opened raw
        std::string name;
    };
    void OpenNewPads(Log& log);
    static void Close(Pad& pad);

    bool ready_ = false;
    std::string initError_;
    std::vector<std::string> pending_;  // lines for the log at the next refresh
    std::vector<Pad> pads_;             // in SDL's order
    std::vector<int32_t> unopenable_;   // instances that failed to open, reported once
};

}  // namespace vexalo
