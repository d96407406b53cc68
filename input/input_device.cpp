#include "input/input_device.h"

#include <algorithm>

namespace vexalo {

void AssignStateKeys(KeyAssignmentTable& table, int state, std::span<const int32_t> keys) {
    if (state < 0 || state >= kInputStateCount) return;
    auto& slots = table[static_cast<size_t>(state)];
    slots.fill(0);
    const size_t count = std::min(keys.size(), slots.size());
    std::copy_n(keys.begin(), count, slots.begin());
}

namespace {

// -1 for a deflection beyond the dead zone towards the low end, +1 towards the high end, else 0.
// Works on doubled values so that the centre of an even-sized range needs no fraction.
int AxisDirection(int32_t value, int32_t axisMin, int32_t axisMax, int deadZonePercent) {
    const int64_t span = int64_t{axisMax} - axisMin;  // twice the half range
    if (span <= 0) return 0;
    const int64_t offset = 2 * int64_t{value} - (int64_t{axisMin} + axisMax);  // twice the offset
    const int64_t deadZone = std::clamp(deadZonePercent, 0, 100);
    const int64_t magnitude = offset < 0 ? -offset : offset;
    if (magnitude * 100 <= deadZone * span) return 0;
    return offset < 0 ? -1 : 1;
}

}  // namespace

InputStateSet JoystickStates(const JoystickReading& reading, int deadZonePercent) {
    if (!reading.present) return 0;
    InputStateSet states = 0;
    const int dx = AxisDirection(reading.x, reading.axisMin, reading.axisMax, deadZonePercent);
    const int dy = AxisDirection(reading.y, reading.axisMin, reading.axisMax, deadZonePercent);
    if (dx < 0) states |= StateBit(StateLeft);
    if (dx > 0) states |= StateBit(StateRight);
    if (dy < 0) states |= StateBit(StateUp);
    if (dy > 0) states |= StateBit(StateDown);
    for (int n = 0; n < 32; ++n) {
        if (reading.buttons & (uint32_t{1} << n)) states |= StateBit(StateButton1 + n);
    }
    return states;
}

InputStateSet InputDevice::KeyboardStates() const {
    if (!keyboard_) return 0;
    InputStateSet states = 0;
    for (int state = 0; state < kInputStateCount; ++state) {
        for (int32_t code : keys_[static_cast<size_t>(state)]) {
            // Only codes 1-255 name a key; 0, negative and larger codes never match.
            if (code >= 1 && code <= 255 && (*keyboard_)[static_cast<size_t>(code)]) {
                states |= StateBit(state);
                break;
            }
        }
    }
    return states;
}

void InputDevice::Update(int player) {
    states_ = 0;
    if (foreground_ && !foreground_()) return;
    InputStateSet states = KeyboardStates();
    if (joystickEnabled_ && joystick_) states |= JoystickStates(joystick_->PollPlayer(player));
    if (scripted_) states |= scripted_->States();
    states_ = states & (StateBit(kInputStateCount) - 1);
}

}  // namespace vexalo
