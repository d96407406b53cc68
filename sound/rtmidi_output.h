// A MIDI output through a system MIDI port (an external synthesizer or a software one such as a
// sequencer client), reached with RtMidi.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sound/midi_output.h"

class RtMidiOut;

namespace vexalo {

class RtMidiOutput : public MidiOutput {
   public:
    // `port`: a port number, or a part of the port's name (the first port whose name contains
    // it, ignoring case).
    explicit RtMidiOutput(std::string port);
    ~RtMidiOutput() override;
    RtMidiOutput(const RtMidiOutput&) = delete;
    RtMidiOutput& operator=(const RtMidiOutput&) = delete;

    // Throws MidiError when there is no MIDI system, no port, no matching port, or the port
    // cannot be opened. Opening an open output starts it afresh.
    void Open() override;
    void Close() override;
    void ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) override;
    // Channel volume (controller 7) on channels 0-3: there is no device-wide volume on a port.
    void SetVolume(uint16_t left, uint16_t right) override;

    bool IsOpen() const { return out_ != nullptr; }
    const std::string& port() const { return port_; }
    // The name of the port opened by the last successful Open.
    const std::string& PortName() const { return portName_; }

   private:
    void ThrowIfFailed();
    unsigned int ChoosePort(unsigned int count, std::string& name);

    std::string port_;
    std::string portName_;
    // The last error RtMidi reported to its callback, empty when none; on the heap so the
    // callback's pointer to it stays valid.
    std::unique_ptr<std::string> lastError_;
    std::unique_ptr<RtMidiOut> out_;
};

}  // namespace vexalo
