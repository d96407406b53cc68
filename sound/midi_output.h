// The MIDI device behind the sound channels. Called per note and per volume change, never per
// memory access.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace vexalo {

// A failure of the MIDI device; what() holds its message.
class MidiError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
};

class MidiOutput {
   public:
    virtual ~MidiOutput() = default;
    // Select the device and open it for short messages. Throws MidiError when it cannot.
    virtual void Open() = 0;
    virtual void Close() = 0;
    // Sent at once. Throws MidiError on failure.
    virtual void ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) = 0;
    // Output volume, 0-65535 each side.
    virtual void SetVolume(uint16_t left, uint16_t right) = 0;
    // The open device stopped playing by itself (an audio server that went away). It still
    // takes messages; reopening it may bring it back.
    virtual bool Failed() const { return false; }
};

}  // namespace vexalo
