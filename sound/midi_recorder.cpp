#include "sound/midi_recorder.h"

namespace vexalo {

void MidiRecorder::Open() {
    if (failOpen) throw MidiError("The MIDI recorder was told to fail on open");
    open_ = true;
    ++openCount_;
}

void MidiRecorder::Close() {
    if (failClose) throw MidiError("The MIDI recorder was told to fail on close");
    open_ = false;
    ++closeCount_;
}

void MidiRecorder::ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) {
    if (failMessages) throw MidiError("The MIDI recorder was told to fail on messages");
    MidiEvent e;
    e.kind = MidiEvent::Kind::ShortMessage;
    e.frame = Now();
    e.status = status;
    e.data1 = data1;
    e.data2 = data2;
    events_.push_back(e);
}

void MidiRecorder::SetVolume(uint16_t left, uint16_t right) {
    if (failMessages) throw MidiError("The MIDI recorder was told to fail on messages");
    MidiEvent e;
    e.kind = MidiEvent::Kind::Volume;
    e.frame = Now();
    e.left = left;
    e.right = right;
    events_.push_back(e);
}

std::vector<MidiEvent> MidiRecorder::ShortMessages() const {
    std::vector<MidiEvent> out;
    for (const MidiEvent& e : events_) {
        if (e.kind == MidiEvent::Kind::ShortMessage) out.push_back(e);
    }
    return out;
}

}  // namespace vexalo
