// System MIDI ports through RtMidi, and the choice of output. None of these need a MIDI device:
// a port that is not there makes OpenSound return false and the machine runs silent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "machine/bus.h"
#include "machine/machine.h"
#include "sound/fluidsynth_output.h"
#include "sound/live_midi_output.h"
#include "sound/midi_device.h"
#include "sound/rtmidi_output.h"
#include "sound/sound.h"
#include "tests/platform/scoped_env.h"

namespace vexalo {
namespace {

using test::ScopedEnv;

TEST(RtMidiOutputTest, MissingPortsMakeOpenSoundFail) {
    // A name no port carries, and a port number far past any real count.
    for (const char* port : {"no such vexalo port 7f3a", "4000000"}) {
        RtMidiOutput output(port);
        auto m = std::make_unique<Machine>();
        m->sound.output = &output;
        EXPECT_FALSE(OpenSound(*m)) << port;
        EXPECT_FALSE(m->sound.midiOpen);
        EXPECT_FALSE(output.IsOpen());
        EXPECT_THROW(output.Open(), MidiError);
        // Silent, and the registers work as ever.
        MachineBus{*m}.WriteByte(0x4002, 253);
        EXPECT_EQ(m->sound.channelPeriod[0], 253);
        EXPECT_THROW(output.ShortMessage(0x90, 69, 64), MidiError);
        EXPECT_THROW(output.SetVolume(100, 100), MidiError);
        EXPECT_NO_THROW(output.Close());
    }
}

TEST(RtMidiOutputTest, OutputChoiceFollowsTheEnvironment) {
    {
        ScopedEnv port("VEXALO_MIDI_PORT", "no such vexalo port 7f3a");
        std::unique_ptr<MidiOutput> output = CreateMidiOutput();
        auto* live = dynamic_cast<LiveMidiOutput*>(output.get());
        ASSERT_NE(live, nullptr);
        auto* rt = dynamic_cast<RtMidiOutput*>(&live->device());
        ASSERT_NE(rt, nullptr);
        EXPECT_EQ(rt->port(), "no such vexalo port 7f3a");
        EXPECT_FALSE(rt->IsOpen());  // opening is OpenSound's job
        auto m = std::make_unique<Machine>();
        m->sound.output = output.get();
        EXPECT_FALSE(OpenSound(*m));
    }
    ScopedEnv empty("VEXALO_MIDI_PORT", "");
    std::unique_ptr<MidiOutput> output = CreateMidiOutput();
    auto* live = dynamic_cast<LiveMidiOutput*>(output.get());
    ASSERT_NE(live, nullptr);
    auto* synth = dynamic_cast<FluidSynthOutput*>(&live->device());
    ASSERT_NE(synth, nullptr);
    EXPECT_EQ(synth->mode(), FluidSynthOutput::Mode::Live);
    EXPECT_FALSE(synth->IsOpen());
}

}  // namespace
}  // namespace vexalo
