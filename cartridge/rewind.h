// The rewind buffer: the machine's recent history, so play can run backwards frame by frame.
//
// It keeps a saved state every few frames and the joypads of every frame. A frame in between is
// reached by loading the state before it and replaying the recorded joypads, so a rewound frame
// is exactly the machine that was there. States are XOR deltas against the group's key state
// (one every `keyInterval` states), each compressed with zlib at its fastest level; the newest
// key is also held uncompressed to make the next deltas. The buffer is bounded by its memory: the
// oldest group (a key and its deltas) is dropped first.
//
// The host's frame loop calls Push after every frame it runs (RunFrames(1), at the command
// point), and StepBack while the rewind key is held, then EndRewind when it is let go.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace vexalo {

class Engine;

class RewindBuffer {
   public:
    explicit RewindBuffer(size_t memoryLimit = size_t{32} << 20, int stateInterval = 10,
                          int keyInterval = 30);

    // Records the frame the engine has just run. A frame that does not follow the last one (a
    // reset, a load, a debugger session, frames run without a push, no cartridge) starts the
    // history anew.
    void Push(Engine& engine);
    // Puts the machine at the frame before its current one, silently: the notes sounding are
    // released and nothing is sent while the frames are replayed. False (and nothing changed)
    // when the history holds no earlier frame or the engine is not running.
    bool StepBack(Engine& engine);
    // After the last StepBack: the notes the machine holds sound again.
    void EndRewind(Engine& engine);
    void Clear();

    // Bytes held: the compressed states, the uncompressed key and the joypad record.
    size_t MemoryUsed() const;
    // Frames (message points) the history reaches back: StepBack can be called this many times.
    uint64_t FramesHeld() const;

   private:
    struct Snapshot {
        uint64_t frame = 0;  // Machine::messagePointsReached
        bool key = false;
        size_t rawSize = 0;
        std::vector<uint8_t> packed;  // compressed state (key) or delta against its key
    };

    std::vector<uint8_t> Unpack(size_t index);
    void DropOldestGroup();

    size_t memoryLimit_;
    int stateInterval_;
    int keyInterval_;
    std::deque<Snapshot> states_;
    std::deque<std::array<uint8_t, 2>> pads_;  // of frames firstPadFrame_ on
    uint64_t firstPadFrame_ = 0;
    uint64_t lastFrame_ = 0;
    uint64_t generation_ = 0;
    int statesSinceKey_ = 0;
    size_t packedBytes_ = 0;
    std::vector<uint8_t> keyRaw_;  // the newest key state, uncompressed
    uint64_t keyRawFrame_ = 0;
};

}  // namespace vexalo
