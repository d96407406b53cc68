// Qt's keys as the Windows virtual-key codes the key bindings are stored in.
#pragma once

#include <Qt>

namespace vexalo {

// The virtual-key code of a key (the keypad's digits by Qt::KeypadModifier); 0 for a key that
// has none. Covers every key the settings dialog offers, the main keyboard's digits, the
// function keys, the usual editing keys, and ` (192) and \ (220), the emulation's keys, and
// Backspace (8), held to rewind.
constexpr int kRewindKey = 8;
constexpr int kFastForwardKey = 192;
constexpr int kFrameAdvanceKey = 220;
int VirtualKeyCode(int qtKey, Qt::KeyboardModifiers modifiers);

}  // namespace vexalo
