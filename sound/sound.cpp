// The four sound channels played as MIDI notes. A period write starts the channel's new note and
// stops its previous one; the once-per-frame tick applies sweeps and counts the length counters
// down. Register, period and counter bookkeeping is the same whether or not a MIDI output is
// open; only the messages depend on it.
#include "sound/sound.h"

#include <cmath>

#include "machine/machine.h"
#include "sound/midi_output.h"

namespace vexalo {

namespace {

constexpr uint32_t kFrequencyDividend = 111860;  // Hz = 111860 div (period + 1), every channel
constexpr uint16_t kLowestFrequency = 10;
constexpr uint16_t kHighestFrequency = 14000;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kProgramChange = 0xC0;
constexpr uint8_t kVelocity = 64;
constexpr uint8_t kChannelEnableRegister = 0x15;  // $4015 in the register image

bool ValidChannel(int channel) {
    return channel >= 0 && channel < 4;
}

bool CanSend(const Machine& m) {
    return m.sound.midiOpen && m.sound.output != nullptr;
}

// A device failure while notes are playing must not stop the machine: the message is dropped and
// the emulation carries on.
void Send(Machine& m, uint8_t status, uint8_t data1, uint8_t data2) {
    if (!CanSend(m)) return;
    try {
        m.sound.output->ShortMessage(status, data1, data2);
    } catch (const MidiError&) {
    }
}

void SendVolume(Machine& m, uint16_t volume) {
    if (!CanSend(m)) return;
    try {
        m.sound.output->SetVolume(volume, volume);
    } catch (const MidiError&) {
    }
}

// lastNote always holds a data byte we sent; the mask keeps a status bit out of the message even
// if the record were changed from outside.
uint8_t LastNote(const Machine& m, int channel) {
    return static_cast<uint8_t>(m.sound.lastNote[channel] & 0x7F);
}

void NoteOff(Machine& m, int channel) {
    m.sound.noteSounding[channel] = false;
    Send(m, static_cast<uint8_t>(kNoteOff + channel), LastNote(m, channel), 0);
}

int32_t LengthAfterPeriodWrite(int channel, uint8_t high) {
    switch (channel) {
        case 0:
        case 1: return ((high >> 3) + 1) * 8;
        case 2: return (high >> 3) + 2;
        default: return high >> 3;
    }
}

}  // namespace

uint8_t FrequencyToNote(uint16_t frequency) {
    if (frequency == 0) return 0;
    // Semitones above the A five octaves below 440 Hz, truncated toward zero; the quotient
    // frequency * 32 / 440 is exact for the octaves of A, so 55, 220, 440 and 880 Hz land on
    // their notes.
    const double x = static_cast<double>(frequency) * 32.0 / 440.0;
    const int t = static_cast<int>(std::trunc(12.0 * std::log2(x)));
    const int note = t + 9;
    // 10-14000 Hz gives 4-128; MIDI data bytes stop at 127.
    if (note < 0) return 0;
    return note > 127 ? 127 : static_cast<uint8_t>(note);
}

void WriteSweepRegister(Machine& m, int channel, uint8_t value) {
    if (!ValidChannel(channel)) return;
    m.sound.sweepEnabled[channel] = (value & 0x80) != 0;
}

void WritePeriod(Machine& m, int channel) {
    if (!ValidChannel(channel)) return;
    const uint8_t low = m.ioRegisterImage[channel * 4 + 2];
    const uint8_t high = m.ioRegisterImage[channel * 4 + 3];
    const uint16_t period = static_cast<uint16_t>((high & 7) * 256 + low);
    m.sound.channelPeriod[channel] = period;
    // Period 0 gives 111860 Hz, which as a 16-bit number is still far above the playable range.
    PlayChannelFrequency(m, channel, static_cast<uint16_t>(kFrequencyDividend / (period + 1u)));
    if (m.settings.channelEnabled[channel]) SetChannelLevel(m, channel, m.settings.SoundVolume);
    m.sound.lengthCounter[channel] = LengthAfterPeriodWrite(channel, high);
}

void WriteChannelEnable(Machine& m, uint8_t value) {
    for (int i = 0; i < 4; ++i) {
        if (value & (1 << i)) continue;
        m.sound.lengthCounter[i] = 0;
        SetChannelLevel(m, i, 0);
    }
}

void SoundTick(Machine& m) {
    for (int i = 0; i < 4; ++i) {
        // A counter is only ever set to 0 or more; "not positive" also keeps a damaged record
        // from being counted down without end.
        if (m.sound.lengthCounter[i] <= 0 || !m.settings.channelEnabled[i]) continue;
        if (m.sound.sweepEnabled[i]) {
            const uint8_t sweep = m.ioRegisterImage[i * 4 + 1];
            const int delta = ((sweep >> 4) & 7) * (sweep & 7);
            uint16_t& period = m.sound.channelPeriod[i];
            period = static_cast<uint16_t>((sweep & 0x08) ? period - delta : period + delta);
            const uint32_t frequency = (kFrequencyDividend / (period + 1u)) & 1023;
            PlayChannelFrequency(m, i, static_cast<uint16_t>(frequency));
        }
        if (--m.sound.lengthCounter[i] == 0) {
            SetChannelLevel(m, i, 0);
            m.ioRegisterImage[kChannelEnableRegister] &= static_cast<uint8_t>(~(1 << i));
        }
    }
}

// The note bookkeeping runs without an output as well (Send then sends nothing), so the record
// says which notes sound whatever device is attached.
void PlayChannelFrequency(Machine& m, int channel, uint16_t frequency) {
    if (!ValidChannel(channel)) return;
    if (frequency < kLowestFrequency || frequency > kHighestFrequency) return;
    if (!m.settings.channelEnabled[channel]) return;
    const uint8_t note = FrequencyToNote(frequency);
    // The new note starts before the previous one stops.
    Send(m, static_cast<uint8_t>(kNoteOn + channel), note, kVelocity);
    NoteOff(m, channel);
    m.sound.lastNote[channel] = note;
    m.sound.noteSounding[channel] = true;
}

void SetChannelLevel(Machine& m, int channel, int32_t level) {
    if (!ValidChannel(channel) || !m.settings.channelEnabled[channel]) return;
    if (level != 0) {
        // There is no per-channel volume: the level is the global volume setting.
        SendVolume(m, static_cast<uint16_t>(level & 0xFFFF));
    } else {
        NoteOff(m, channel);
    }
}

void AllNotesOff(Machine& m) {
    if (!CanSend(m)) return;
    for (int i = 0; i < 4; ++i) NoteOff(m, i);
}

void SilenceChannels(Machine& m) {
    for (int channel = 0; channel < 4; ++channel) SetChannelLevel(m, channel, 0);
}

void ReplaceSoundingNotes(Machine& m, const SoundState& before, bool resume) {
    for (int i = 0; i < 4; ++i) {
        if (before.noteSounding[i])
            Send(m, static_cast<uint8_t>(kNoteOff + i),
                 static_cast<uint8_t>(before.lastNote[i] & 0x7F), 0);
    }
    for (int i = 0; i < 4; ++i) {
        if (!m.sound.noteSounding[i]) continue;
        if (!resume || !m.settings.channelEnabled[i]) {
            m.sound.noteSounding[i] = false;
            continue;
        }
        Send(m, static_cast<uint8_t>(kNoteOn + i), LastNote(m, i), kVelocity);
        SendVolume(m, static_cast<uint16_t>(m.settings.SoundVolume & 0xFFFF));
    }
}

bool OpenSound(Machine& m) {
    for (int32_t& note : m.sound.lastNote) note = 0;
    for (bool& sounding : m.sound.noteSounding) sounding = false;
    m.sound.midiOpen = false;
    MidiOutput* output = m.sound.output;
    if (output == nullptr) return false;
    bool opened = false;
    try {
        output->Open();
        opened = true;
        for (int i = 0; i < 4; ++i) {
            output->ShortMessage(static_cast<uint8_t>(kProgramChange + i), kChannelPrograms[i], 0);
        }
        const uint16_t volume = static_cast<uint16_t>(m.settings.SoundVolume & 0xFFFF);
        output->SetVolume(volume, volume);
    } catch (const MidiError&) {
        // A device that opened but could not be set up is closed again, so the next attempt
        // finds it free.
        if (opened) {
            try {
                output->Close();
            } catch (const MidiError&) {
            }
        }
        return false;
    }
    m.sound.midiOpen = true;
    return true;
}

void CloseSound(Machine& m) {
    if (CanSend(m)) {
        try {
            m.sound.output->SetVolume(0, 0);
        } catch (const MidiError&) {
        }
        try {
            m.sound.output->Close();
        } catch (const MidiError&) {
        }
    }
    m.sound.midiOpen = false;
}

}  // namespace vexalo
