// The user settings as one plain record; the desktop's settings store fills and saves it.
#pragma once

#include <cstdint>
#include <string>

namespace vexalo {

struct Settings {
    int32_t FrameRate = 1;  // draw one frame in N (1-10)
    bool ViewFrequency = false;
    int32_t SoundVolume = 65535;
    bool channelEnabled[4] = {true, true, true, true};
    int32_t WIN = 0;
    std::string SCREEN;
    // Windows virtual-key codes: Up, Down, Left, Right, A, B, Start, Select.
    int32_t KeyBinding[2][8] = {{38, 40, 37, 39, 32, 17, 13, 9}, {69, 88, 83, 68, 16, 90, 81, 87}};
    bool joystickEnabled[2] = {false, false};
    // The window's picture scale, 1-6; 0 until one is chosen (a first start picks one for the
    // screen).
    int32_t WindowScale = 0;
    // 0: square pixels; 1: the television's 8:7.
    int32_t PixelAspect = 0;
    // The pace while fast-forward is held: 2, 4 or 8 times the console's, or 0 for as fast as
    // the machine can.
    int32_t FastForwardCap = 4;
    // The pace otherwise, in per cent of the console's: 100, 50 or 25.
    int32_t EmulationSpeed = 100;

    // The frame skip actually used: stored values outside 1-10 are brought into range.
    int EffectiveFrameRate() const { return FrameRate < 1 ? 1 : FrameRate > 10 ? 10 : FrameRate; }
};

}  // namespace vexalo
