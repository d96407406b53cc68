#include "cartridge/rewind.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "cartridge/engine.h"
#include "input/input_device.h"
#include "machine/save_state.h"
#include "sound/sound.h"

namespace vexalo {

namespace {

std::vector<uint8_t> Compress(const std::vector<uint8_t>& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(size);
    if (compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 1) != Z_OK)
        throw std::runtime_error("rewind: compression failed");
    packed.resize(size);
    packed.shrink_to_fit();
    return packed;
}

std::vector<uint8_t> Decompress(const std::vector<uint8_t>& packed, size_t rawSize) {
    std::vector<uint8_t> raw(rawSize);
    uLongf size = static_cast<uLongf>(rawSize);
    if (uncompress(raw.data(), &size, packed.data(), static_cast<uLong>(packed.size())) != Z_OK ||
        size != rawSize)
        throw std::runtime_error("rewind: a state does not decompress");
    return raw;
}

void Xor(std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    for (size_t i = 0; i < a.size(); ++i) a[i] ^= b[i];
}

// Joypad bits (A, B, Select, Start, Up, Down, Left, Right) back to the input states they come
// from, so the replay samples the same pad bytes.
InputStateSet StatesOfPad(uint8_t pad) {
    constexpr int kStateOfBit[8] = {StateButton1, StateButton2, StateButton4, StateButton3,
                                    StateUp,      StateDown,    StateLeft,    StateRight};
    InputStateSet states = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (pad & (1 << bit)) states |= StateBit(kStateOfBit[bit]);
    return states;
}

class RecordedPad : public StateSource {
   public:
    InputStateSet States() override { return states; }
    InputStateSet states = 0;
};

}  // namespace

RewindBuffer::RewindBuffer(size_t memoryLimit, int stateInterval, int keyInterval)
    : memoryLimit_(memoryLimit),
      stateInterval_(std::max(1, stateInterval)),
      keyInterval_(std::max(1, keyInterval)) {}

void RewindBuffer::Clear() {
    states_.clear();
    pads_.clear();
    packedBytes_ = 0;
    statesSinceKey_ = 0;
    keyRaw_.clear();
}

size_t RewindBuffer::MemoryUsed() const {
    return packedBytes_ + keyRaw_.size() + pads_.size() * sizeof(pads_[0]) +
           states_.size() * sizeof(Snapshot);
}

uint64_t RewindBuffer::FramesHeld() const {
    return states_.empty() ? 0 : lastFrame_ - states_.front().frame;
}

void RewindBuffer::Push(Engine& engine) {
    const Machine& m = engine.machine();
    const uint64_t frame = m.messagePointsReached;
    const bool follows = !states_.empty() && generation_ == engine.Generation() &&
                         frame == lastFrame_ + 1 && m.messagePointPending;
    if (!follows) {
        Clear();
        if (!engine.CartridgeStarted() || !m.messagePointPending) return;
        generation_ = engine.Generation();
        firstPadFrame_ = frame;
    }
    lastFrame_ = frame;
    pads_.push_back({m.pads.padState[0], m.pads.padState[1]});
    if (!states_.empty() && frame - states_.back().frame < uint64_t(stateInterval_)) return;

    Snapshot s;
    s.frame = frame;
    std::vector<uint8_t> raw = SaveMachineState(m, engine.ImageSha1());
    s.rawSize = raw.size();
    s.key = keyRaw_.size() != raw.size() || statesSinceKey_ >= keyInterval_;
    if (s.key) {
        s.packed = Compress(raw);
        keyRaw_ = std::move(raw);
        keyRawFrame_ = frame;
        statesSinceKey_ = 0;
    } else {
        Xor(raw, keyRaw_);
        s.packed = Compress(raw);
        ++statesSinceKey_;
    }
    packedBytes_ += s.packed.size();
    states_.push_back(std::move(s));
    while (MemoryUsed() > memoryLimit_ && states_.size() > 1 &&
           std::count_if(states_.begin(), states_.end(), [](const Snapshot& x) { return x.key; }) >
               1)
        DropOldestGroup();
}

void RewindBuffer::DropOldestGroup() {
    do {
        packedBytes_ -= states_.front().packed.size();
        states_.pop_front();
    } while (!states_.empty() && !states_.front().key);
    while (firstPadFrame_ < states_.front().frame) {
        pads_.pop_front();
        ++firstPadFrame_;
    }
}

std::vector<uint8_t> RewindBuffer::Unpack(size_t index) {
    const Snapshot& s = states_[index];
    std::vector<uint8_t> raw = Decompress(s.packed, s.rawSize);
    if (s.key) return raw;
    size_t key = index;
    while (!states_[key].key) --key;  // the oldest state is always a key
    if (states_[key].frame == keyRawFrame_ && !keyRaw_.empty()) {
        Xor(raw, keyRaw_);
    } else {
        Xor(raw, Decompress(states_[key].packed, states_[key].rawSize));
    }
    return raw;
}

bool RewindBuffer::StepBack(Engine& engine) {
    Machine& m = engine.machine();
    if (states_.empty() || !engine.Running() || generation_ != engine.Generation() ||
        m.messagePointsReached != lastFrame_ || lastFrame_ == states_.front().frame)
        return false;
    const uint64_t target = lastFrame_ - 1;
    size_t index = states_.size() - 1;
    while (states_[index].frame > target) --index;

    // Everything after the target goes; the newest key is taken afresh when it was dropped.
    const std::vector<uint8_t> raw = Unpack(index);
    if (states_[index].key) {
        keyRaw_ = raw;
        keyRawFrame_ = states_[index].frame;
    }
    while (states_.size() > index + 1) {
        if (states_.back().frame == keyRawFrame_) keyRaw_.clear();
        packedBytes_ -= states_.back().packed.size();
        states_.pop_back();
    }
    if (keyRaw_.empty()) {
        size_t key = index;
        while (!states_[key].key) --key;
        keyRaw_ = Unpack(key);
        keyRawFrame_ = states_[key].frame;
    }
    statesSinceKey_ = 0;
    for (size_t i = states_.size(); i-- > 0 && !states_[i].key;) ++statesSinceKey_;

    // Load the state and replay the recorded joypads up to the target, with no sound, no host.
    const SoundState before = m.sound;
    MidiOutput* output = m.sound.output;
    MachineHost* host = m.host;
    InputDevice* devices[2] = {m.pads.device[0], m.pads.device[1]};
    RecordedPad recorded[2];
    InputDevice replay[2];
    for (int p = 0; p < 2; ++p) {
        replay[p].SetScriptedSource(&recorded[p]);
        m.pads.device[p] = &replay[p];
    }
    m.sound.output = nullptr;
    m.host = nullptr;
    std::string error;
    const bool loaded = LoadMachineState(m, engine.ImageSha1(), raw, error, false);
    for (uint64_t f = states_[index].frame + 1; loaded && f <= target; ++f) {
        const auto& pads = pads_[f - firstPadFrame_];
        for (int p = 0; p < 2; ++p) recorded[p].states = StatesOfPad(pads[p]);
        engine.RunFrames(1);
    }
    m.sound.output = output;
    m.host = host;
    for (int p = 0; p < 2; ++p) m.pads.device[p] = devices[p];
    SoundState sounding = m.sound;
    m.sound = before;
    AllNotesOff(m);  // the device goes silent while the game runs backwards
    m.sound = sounding;
    m.sound.output = output;

    while (firstPadFrame_ + pads_.size() > target + 1) pads_.pop_back();
    lastFrame_ = target;
    return loaded;
}

void RewindBuffer::EndRewind(Engine& engine) {
    Machine& m = engine.machine();
    const SoundState silent{};
    ReplaceSoundingNotes(m, silent, m.running);
}

}  // namespace vexalo
