// A MIDI output that plays nothing and keeps every message it is given, for tests and for the
// headless runner. Each entry is stamped with the frame number read from an optional clock (the
// runner points it at Machine::framesCompleted).
#pragma once

#include <cstdint>
#include <vector>

#include "sound/midi_output.h"

namespace vexalo {

struct MidiEvent {
    enum class Kind : uint8_t { ShortMessage, Volume };
    Kind kind = Kind::ShortMessage;
    uint64_t frame = 0;  // the clock's value when the event arrived (0 without a clock)
    // Kind::ShortMessage
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    // Kind::Volume
    uint16_t left = 0;
    uint16_t right = 0;

    friend bool operator==(const MidiEvent&, const MidiEvent&) = default;
};

class MidiRecorder : public MidiOutput {
   public:
    explicit MidiRecorder(const uint64_t* clock = nullptr) : clock_(clock) {}

    void SetClock(const uint64_t* clock) { clock_ = clock; }

    // Open and Close throw MidiError when told to fail; otherwise they only track the state.
    void Open() override;
    void Close() override;
    // Recorded whether or not the recorder is open, so a test sees any message sent out of turn.
    // Throws MidiError (and records nothing) while `failMessages` is set.
    void ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) override;
    void SetVolume(uint16_t left, uint16_t right) override;

    bool IsOpen() const { return open_; }
    int OpenCount() const { return openCount_; }
    int CloseCount() const { return closeCount_; }

    // Every event in arrival order.
    const std::vector<MidiEvent>& Events() const { return events_; }
    // Only the short messages, in arrival order.
    std::vector<MidiEvent> ShortMessages() const;
    void Clear() { events_.clear(); }

    bool failOpen = false;
    bool failClose = false;
    bool failMessages = false;  // short messages and volume calls

   private:
    uint64_t Now() const { return clock_ ? *clock_ : 0; }

    const uint64_t* clock_;
    std::vector<MidiEvent> events_;
    bool open_ = false;
    int openCount_ = 0;
    int closeCount_ = 0;
};

}  // namespace vexalo
