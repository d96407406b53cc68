#include "sound/live_midi_output.h"

namespace vexalo {

void LiveMidiOutput::Forget() {
    for (int& key : startedKey_) key = -1;
}

void LiveMidiOutput::Open() {
    Forget();
    device_->Open();
}

void LiveMidiOutput::Close() {
    Forget();
    device_->Close();
}

void LiveMidiOutput::ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) {
    if (status < 0x80 || status >= 0xF0) {  // not a channel message: no channel's state changes
        device_->ShortMessage(status, data1, data2);
        return;
    }
    const int channel = status & 0x0F;
    const int key = data1 & 0x7F;
    const int kind = status & 0xF0;
    const bool noteOn = kind == 0x90 && (data2 & 0x7F) != 0;
    const bool noteOff = kind == 0x80 || (kind == 0x90 && !noteOn);
    const int started = startedKey_[channel];
    startedKey_[channel] = -1;
    if (noteOff && key == started) return;
    device_->ShortMessage(status, data1, data2);
    if (noteOn) startedKey_[channel] = key;
}

}  // namespace vexalo
