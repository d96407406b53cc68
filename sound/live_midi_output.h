// What a live MIDI device receives: the system's own messages, less one kind that would cut a
// note short. Every live output (the built-in synthesizer, a system MIDI port, the runner's
// rendered sound) passes through this one filter, so a game sounds the same on each of them;
// the recorder and the MIDI log are given the unfiltered sequence.
#pragma once

#include <memory>
#include <utility>

#include "sound/midi_output.h"

namespace vexalo {

class LiveMidiOutput : public MidiOutput {
   public:
    // Plays through `device`, which must outlive this object.
    explicit LiveMidiOutput(MidiOutput* device) : device_(device) {}
    // Plays through `device` and owns it.
    explicit LiveMidiOutput(std::unique_ptr<MidiOutput> device)
        : owned_(std::move(device)), device_(owned_.get()) {}

    MidiOutput& device() const { return *device_; }

    void Open() override;
    void Close() override;
    // A note started again on its own key is followed at once by the note-off of the channel's
    // previous note, which is that same key: a synthesizer would cut the new note. A note-off
    // (or a note-on of velocity 0) that directly follows a note-on of the same key on the same
    // channel is therefore not sent, so the note sounds on until the channel's next note or its
    // silencing. Everything else is sent as it comes.
    void ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) override;
    void SetVolume(uint16_t left, uint16_t right) override { device_->SetVolume(left, right); }
    bool Failed() const override { return device_->Failed(); }

   private:
    void Forget();

    std::unique_ptr<MidiOutput> owned_;
    MidiOutput* device_;
    // Key of the note-on just sent on each channel, or -1.
    int startedKey_[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

}  // namespace vexalo
