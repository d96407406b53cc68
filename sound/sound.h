// The four sound channels played as MIDI notes.
#pragma once

#include <cstdint>

namespace vexalo {

struct Machine;
class MidiOutput;

// The General MIDI program each channel gets when the output opens, counting from 0: Lead 2
// (sawtooth) for the tones, Reverse Cymbal for the noise.
constexpr uint8_t kChannelPrograms[4] = {81, 81, 81, 119};

struct SoundState {
    bool sweepEnabled[4] = {};
    uint16_t channelPeriod[4] = {};
    int32_t lengthCounter[4] = {};
    int32_t lastNote[4] = {};
    // The channel's lastNote is sounding (its note-on sent, no note-off since). Kept with or
    // without an output, so a saved machine knows which notes to resume.
    bool noteSounding[4] = {};
    bool midiOpen = false;
    MidiOutput* output = nullptr;  // not owned; null means no device
};

void WriteSweepRegister(Machine& m, int channel, uint8_t value);
void WritePeriod(Machine& m, int channel);
void WriteChannelEnable(Machine& m, uint8_t value);
void SoundTick(Machine& m);
void PlayChannelFrequency(Machine& m, int channel, uint16_t frequency);
void SetChannelLevel(Machine& m, int channel, int32_t level);
void AllNotesOff(Machine& m);
// Level 0 for channels 0 to 3, as the run loop does when it stops.
void SilenceChannels(Machine& m);
// After the channels' state was replaced (a loaded state, a rewind): `before` holds the notes
// that were sounding, which get their note-offs; then every channel whose loaded state has a
// note sounding gets it again (note-on and the volume), so a held note resumes; with `resume`
// false (a paused machine) nothing sounds.
void ReplaceSoundingNotes(Machine& m, const SoundState& before, bool resume = true);
bool OpenSound(Machine& m);
void CloseSound(Machine& m);

// The note number PlayChannelFrequency sends for a frequency of 10-14000 Hz (128 is sent as 127).
uint8_t FrequencyToNote(uint16_t frequency);

}  // namespace vexalo
