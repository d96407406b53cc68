// The input object behind each player's joypad: a table that assigns keys to 36 input states
// (Up, Down, Left, Right, Button 1 to Button 32), fed by a shared keyboard table, an optional
// joystick and an optional scripted source. It is updated once per frame by the joypad sampling;
// nothing here is touched per memory access.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <utility>

namespace vexalo {

class Log;

// The 36 input states, in table order.
enum InputState : int {
    StateUp = 0,
    StateDown = 1,
    StateLeft = 2,
    StateRight = 3,
    StateButton1 = 4,  // Button n is StateButton1 + n - 1
    StateButton2 = 5,
    StateButton3 = 6,
    StateButton4 = 7,
    StateButton32 = 35,
};
constexpr int kInputStateCount = 36;
constexpr int kKeySlotsPerState = 3;

// Bit `state` set: that state is on.
using InputStateSet = uint64_t;
constexpr InputStateSet StateBit(int state) {
    return InputStateSet{1} << state;
}

// Three key-code slots for each input state; 0 is an empty slot.
using KeyAssignmentTable = std::array<std::array<int32_t, kKeySlotsPerState>, kInputStateCount>;

// Which keys are down, indexed by Windows virtual-key code. The window fills it from its key
// events; every player's device reads the same table.
using KeyTable = std::array<bool, 256>;

// Clears the three slots of `state` (0-35), then copies up to three codes from `keys` in order.
// A state outside 0-35 is left alone.
void AssignStateKeys(KeyAssignmentTable& table, int state, std::span<const int32_t> keys);
inline void AssignStateKeys(KeyAssignmentTable& table, int state,
                            std::initializer_list<int32_t> keys) {
    AssignStateKeys(table, state, std::span<const int32_t>(keys.begin(), keys.size()));
}

// One reading of a joystick. Axes run from axisMin to axisMax; bit n-1 of `buttons` is button n.
struct JoystickReading {
    bool present = false;  // false: nothing attached (or unplugged); the rest is ignored
    int32_t x = 0;
    int32_t y = 0;
    int32_t axisMin = -32768;
    int32_t axisMax = 32767;
    uint32_t buttons = 0;
};

// A joystick, or a set of pads. Polled once per device update, that is once per frame for each
// player using it; one source may serve both players.
class JoystickSource {
   public:
    virtual ~JoystickSource() = default;
    // Once per frame before either player's pad is read, whatever the joystick switches: a source
    // whose pads come and go notices them here and appends a line to `log` for each.
    virtual void Refresh(Log& log) { (void)log; }
    // The pad that player `player` (0 or 1) uses. A source with a single joystick gives that one
    // to either player.
    virtual JoystickReading PollPlayer(int player) {
        (void)player;
        return Poll();
    }
    // The first pad.
    virtual JoystickReading Poll() = 0;
};

// Dead zone of the directions, in percent of the half range of an axis.
constexpr int kJoystickDeadZone = 50;

// The states a joystick reading turns on: Left/Right from X, Up/Down from Y (Up at the low end),
// each only when the axis is deflected from the centre by more than `deadZonePercent` of the
// half range; Button n while button n is held.
InputStateSet JoystickStates(const JoystickReading& reading,
                             int deadZonePercent = kJoystickDeadZone);

// Any other producer of states, such as a replayed input script. Asked once per device update.
class StateSource {
   public:
    virtual ~StateSource() = default;
    virtual InputStateSet States() = 0;
};

class InputDevice {
   public:
    // All 36 x 3 slots become 0.
    void ClearKeyAssignments() { keys_ = {}; }
    void SetStateKeys(int state, std::span<const int32_t> keys) {
        AssignStateKeys(keys_, state, keys);
    }
    void SetStateKeys(int state, std::initializer_list<int32_t> keys) {
        AssignStateKeys(keys_, state, keys);
    }
    const KeyAssignmentTable& KeyAssignments() const { return keys_; }

    // Sources; each pointer is not owned and may be null (no such source).
    void SetKeyboard(const KeyTable* keys) { keyboard_ = keys; }
    void SetJoystick(JoystickSource* joystick) { joystick_ = joystick; }
    JoystickSource* Joystick() const { return joystick_; }
    void SetScriptedSource(StateSource* source) { scripted_ = source; }

    // A disabled joystick is not polled and contributes no states.
    void SetJoystickEnabled(bool enabled) { joystickEnabled_ = enabled; }
    bool JoystickEnabled() const { return joystickEnabled_; }

    // Asked on every update: while it returns false (the window is not in the foreground) every
    // state is off. Without a test the device counts as being in the foreground.
    void SetForegroundTest(std::function<bool()> test) { foreground_ = std::move(test); }

    // Re-reads the keyboard, the joystick (if enabled; the pad of `player`) and the scripted
    // source and recomputes the states; the sources' states are combined (a state is on if any
    // source turns it on).
    void Update(int player = 0);

    bool State(int state) const {
        return state >= 0 && state < kInputStateCount && (states_ & StateBit(state)) != 0;
    }
    InputStateSet States() const { return states_; }

   private:
    InputStateSet KeyboardStates() const;

    KeyAssignmentTable keys_{};
    const KeyTable* keyboard_ = nullptr;
    JoystickSource* joystick_ = nullptr;
    StateSource* scripted_ = nullptr;
    bool joystickEnabled_ = false;
    std::function<bool()> foreground_;
    InputStateSet states_ = 0;
};

}  // namespace vexalo
