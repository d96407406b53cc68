// The joypad ports: $4016 strobe writes, serial reads of $4016/$4017 and the once-per-frame
// sampling of both players' input devices.
#include "input/joypad.h"

#include "input/input_device.h"
#include "machine/machine.h"

namespace vexalo {

namespace {

constexpr size_t kStrobeRegister = 0x16;  // $4016 in the register image

// Pad bit taken from each of the first eight input states (Up, Down, Left, Right, Button 1-4).
constexpr uint8_t kPadBitOfState[8] = {
    0x10,  // Up
    0x20,  // Down
    0x40,  // Left
    0x80,  // Right
    0x01,  // Button 1: A
    0x02,  // Button 2: B
    0x08,  // Button 3: Start
    0x04,  // Button 4: Select
};

}  // namespace

void WriteJoypadStrobe(Machine& m, uint8_t value) {
    uint8_t& stored = m.ioRegisterImage[kStrobeRegister];
    // Only the falling edge of the strobe rewinds both pads to their first bit (A).
    if ((stored & 1) != 0 && (value & 1) == 0) {
        m.pads.padReadIndex[0] = 0;
        m.pads.padReadIndex[1] = 0;
    }
    stored = value;
}

uint8_t ReadJoypad(Machine& m, int pad) {
    if (pad < 0 || pad > 1) return 0;
    return ReadJoypadBit(m.pads, pad);
}

void PollJoypads(Machine& m) {
    // Pads that came or went are noticed before either player reads one; a source shared by both
    // players is refreshed once.
    JoystickSource* sources[2] = {};
    for (int p = 0; p < 2; ++p) {
        if (m.pads.device[p]) sources[p] = m.pads.device[p]->Joystick();
    }
    if (sources[0]) sources[0]->Refresh(m.log);
    if (sources[1] && sources[1] != sources[0]) sources[1]->Refresh(m.log);

    for (int p = 0; p < 2; ++p) {
        m.pads.padState[p] = 0;
        InputDevice* device = m.pads.device[p];
        if (!device) continue;
        device->Update(p);
        uint8_t state = 0;
        for (int s = 0; s < 8; ++s) {
            if (device->State(s)) state |= kPadBitOfState[s];
        }
        m.pads.padState[p] = state;
    }
}

void ApplyKeyBindings(Machine& m) {
    // The input state each KeyBinding entry is assigned to, one key each.
    constexpr int kStateOfBinding[8] = {
        StateUp,       // BindUp
        StateDown,     // BindDown
        StateLeft,     // BindLeft
        StateRight,    // BindRight
        StateButton1,  // BindA
        StateButton2,  // BindB
        StateButton3,  // BindStart
        StateButton4,  // BindSelect
    };
    for (int p = 0; p < 2; ++p) {
        InputDevice* device = m.pads.device[p];
        if (!device) continue;
        device->ClearKeyAssignments();
        for (int b = 0; b < 8; ++b) {
            device->SetStateKeys(kStateOfBinding[b], {m.settings.KeyBinding[p][b]});
        }
        device->SetJoystickEnabled(m.settings.joystickEnabled[p]);
    }
}

}  // namespace vexalo
