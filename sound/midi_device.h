// The MIDI output the program plays its sound on.
#pragma once

#include <memory>

#include "sound/midi_output.h"

namespace vexalo {

// A system MIDI port through RtMidi when the environment variable VEXALO_MIDI_PORT names one (a
// port number or a part of its name); otherwise FluidSynth playing through the system's audio.
// Either is returned inside the LiveMidiOutput that every live device sits behind.
// The output is not opened here: OpenSound does that, and a missing device only makes it return
// false.
std::unique_ptr<MidiOutput> CreateMidiOutput();

}  // namespace vexalo
