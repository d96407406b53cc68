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

void WriteJoypadStrobe(Machine& m, uint8_t value);
uint8_t ReadJoypad(Machine& m, int pad);
void PollJoypads(Machine& m);
void ApplyKeyBindings(Machine& m);

}  // namespace vexalo
