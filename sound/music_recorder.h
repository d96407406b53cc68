// Recording what the machine plays into a Standard MIDI File, from any frame on. The recorder
// sits between the machine and its MIDI device (Machine::sound.output points at it): every call
// goes on to the device unchanged, and while a recording runs the messages are also kept with the
// frame in which they came. Stop writes the file.
#pragma once

#include <cstdint>
#include <string>

#include "sound/midi_file.h"
#include "sound/midi_output.h"
#include "sound/midi_recorder.h"

namespace vexalo {

class MusicRecorder : public MidiOutput {
   public:
    // `device` may be null: then the recorder only records, and opening always succeeds. The
    // device must outlive the recorder. `clock` counts the emulated frames
    // (Machine::framesCompleted); a null clock reads as frame 0.
    MusicRecorder(MidiOutput* device, const uint64_t* clock);

    // Starts a recording at the current frame, writing the file's beginning at once so a name
    // that cannot be written is found now rather than at the end. Throws FileError (and is then
    // not recording). A running recording is stopped and written first.
    void Start(const std::string& fileName);
    // Ends the recording at the current frame and writes the whole file. Throws FileError when
    // it cannot be written; the recording is kept, and WriteTo can write it elsewhere.
    // Does nothing when no recording runs.
    void Stop();
    // Writes the last recording (the running one up to now) to another file. Throws FileError.
    void WriteTo(const std::string& fileName) const;

    bool IsRecording() const { return recording_; }
    // The file named by the last Start.
    const std::string& FileName() const { return fileName_; }
    // Frames from the start of the last recording to its end (or to now while it runs).
    uint64_t Frames() const;

    void Open() override;
    void Close() override;
    // Recorded first, then sent: a device that fails on a message does not lose it from the file.
    void ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) override;
    void SetVolume(uint16_t left, uint16_t right) override;

   private:
    uint64_t Now() const { return clock_ ? *clock_ : 0; }

    MidiOutput* device_;
    const uint64_t* clock_;
    // What each channel has now, seen from the messages that went through: where a recording
    // starts.
    SmfStart current_;
    SmfStart start_;
    MidiRecorder events_;  // the recording's messages, stamped with the clock
    std::string fileName_;
    uint64_t startFrame_ = 0;
    uint64_t endFrame_ = 0;
    bool recording_ = false;
};

}  // namespace vexalo
