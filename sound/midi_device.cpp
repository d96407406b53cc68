#include "sound/midi_device.h"

#include <cstdlib>

#include "sound/fluidsynth_output.h"
#include "sound/live_midi_output.h"
#include "sound/rtmidi_output.h"

namespace vexalo {

std::unique_ptr<MidiOutput> CreateMidiOutput() {
    const char* port = std::getenv("VEXALO_MIDI_PORT");
    if (port != nullptr && port[0] != '\0')
        return std::make_unique<LiveMidiOutput>(std::make_unique<RtMidiOutput>(port));
    return std::make_unique<LiveMidiOutput>(
        std::make_unique<FluidSynthOutput>(FluidSynthOutput::Mode::Live));
}

}  // namespace vexalo
