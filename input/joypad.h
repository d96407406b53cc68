// The two joypads read serially through $4016/$4017 and sampled once per frame.
#pragma once

#include <cstdint>

namespace vexalo {

struct Machine;
class InputDevice;

struct JoypadState {
    uint8_t padState[2] = {};
    uint8_t padReadIndex[2] = {};
    InputDevice* device[2] = {};  // not owned; null reads as nothing pressed
};

// Order of KeyBinding entries.
enum KeyBindingSlot { BindUp, BindDown, BindLeft, BindRight, BindA, BindB, BindStart, BindSelect };

// The next button of pad 0 or 1 in bit 0 (A, B, Select, Start, Up, Down, Left, Right), then
// zeros: the read index stays in 0-7 from a reset, and a larger one reads as a released button.
inline uint8_t ReadJoypadBit(JoypadState& pads, int pad) {
    uint8_t& index = pads.padReadIndex[pad];
    const uint8_t result = index < 8 ? (pads.padState[pad] >> index) & 1 : 0;
    index = (index + 1) & 0x17;
    return result;
}

void WriteJoypadStrobe(Machine& m, uint8_t value);
uint8_t ReadJoypad(Machine& m, int pad);
void PollJoypads(Machine& m);
void ApplyKeyBindings(Machine& m);

}  // namespace vexalo
