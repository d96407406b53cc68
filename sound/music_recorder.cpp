#include "sound/music_recorder.h"

#include <algorithm>

#include "sound/sound.h"

namespace vexalo {

MusicRecorder::MusicRecorder(MidiOutput* device, const uint64_t* clock)
    : device_(device), clock_(clock), events_(clock) {
    std::copy(std::begin(kChannelPrograms), std::end(kChannelPrograms), current_.program);
}

void MusicRecorder::Start(const std::string& fileName) {
    if (recording_) Stop();
    const uint64_t now = Now();
    // The file's beginning: the tracks with their programs and volume, ending at this frame.
    WriteMidiFile(fileName, {}, current_, now, now);
    events_.Clear();
    fileName_ = fileName;
    start_ = current_;
    startFrame_ = now;
    endFrame_ = now;
    recording_ = true;
}

void MusicRecorder::Stop() {
    if (!recording_) return;
    endFrame_ = std::max(startFrame_, Now());
    recording_ = false;
    WriteTo(fileName_);
}

void MusicRecorder::WriteTo(const std::string& fileName) const {
    const uint64_t end = recording_ ? std::max(startFrame_, Now()) : endFrame_;
    WriteMidiFile(fileName, events_.Events(), start_, startFrame_, end);
}

uint64_t MusicRecorder::Frames() const {
    return (recording_ ? std::max(startFrame_, Now()) : endFrame_) - startFrame_;
}

void MusicRecorder::Open() {
    if (device_) device_->Open();
}

void MusicRecorder::Close() {
    if (device_) device_->Close();
}

void MusicRecorder::ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) {
    if ((status & 0xF0) == 0xC0 && (status & 0x0F) < kSmfChannelTracks) {
        current_.program[status & 0x0F] = data1;
    }
    if (recording_) events_.ShortMessage(status, data1, data2);
    if (device_) device_->ShortMessage(status, data1, data2);
}

void MusicRecorder::SetVolume(uint16_t left, uint16_t right) {
    current_.volume = static_cast<uint16_t>((left + right) / 2);
    if (recording_) events_.SetVolume(left, right);
    if (device_) device_->SetVolume(left, right);
}

}  // namespace vexalo
