// Input scripts: which buttons each player holds from which frame on, replayed through an input
// device's scripted source. Used by the headless runner and by tests.
//
// One entry a line: FRAME PLAYER BUTTONS, for example
//     120 1 START      player 1 holds Start from frame 120 on
//     121 1 -          ... and releases everything at frame 121
//     200 2 A+RIGHT    player 2 holds A and Right from frame 200 on
// FRAME is a decimal frame number (the machine's count of completed frames when the joypads are
// sampled), PLAYER is 1 or 2, BUTTONS is "-" or button names joined by "+": A B SELECT START UP
// DOWN LEFT RIGHT, in any case. "#" starts a comment; blank lines are ignored. An entry holds until
// the player's next entry; before a player's first entry nothing is held. Lines need not be in
// frame order; of two entries for the same player and frame the later line wins.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "input/input_device.h"

namespace vexalo {

struct InputScriptEntry {
    uint64_t frame = 0;
    InputStateSet states = 0;
};

struct InputScript {
    // Entries of player 1 and player 2, each sorted by frame with one entry per frame.
    std::array<std::vector<InputScriptEntry>, 2> players;

    // The states `player` (0 or 1) holds at `frame`.
    InputStateSet StatesAt(int player, uint64_t frame) const;
};

// Parses `text` into `script`. On a malformed line returns false, leaves `script` unchanged and
// sets `error` to a message naming the line, such as "line 3: unknown button \"JUMP\"".
bool ParseInputScript(std::string_view text, InputScript& script, std::string& error);

// Reads and parses the script file at `path`; a file that cannot be read is reported in `error`.
bool LoadInputScript(const std::string& path, InputScript& script, std::string& error);

// The scripted source of one player: the states of `script` at the frame read from `clock` (the
// runner points it at Machine::framesCompleted). A null clock reads as frame 0. Neither the
// script nor the clock is owned; both must outlive the source.
class InputScriptSource : public StateSource {
   public:
    InputScriptSource(const InputScript& script, int player, const uint64_t* clock)
        : script_(script), player_(player), clock_(clock) {}
    InputStateSet States() override { return script_.StatesAt(player_, clock_ ? *clock_ : 0); }

   private:
    const InputScript& script_;
    int player_;
    const uint64_t* clock_;
};

}  // namespace vexalo
