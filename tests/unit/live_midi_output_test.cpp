// The filter in front of every live MIDI device: a retriggered note is not cut by the note-off
// that follows it, and every other message reaches the device unchanged.
#include "sound/live_midi_output.h"

#include <gtest/gtest.h>

#include <vector>

#include "machine/bus.h"
#include "machine/machine.h"
#include "sound/midi_recorder.h"
#include "sound/sound.h"

namespace vexalo {
namespace {

struct Message {
    uint8_t status, data1, data2;
    friend bool operator==(const Message&, const Message&) = default;
};

std::vector<Message> Received(const MidiRecorder& device) {
    std::vector<Message> out;
    for (const MidiEvent& e : device.ShortMessages()) out.push_back({e.status, e.data1, e.data2});
    return out;
}

class LiveMidiOutputTest : public ::testing::Test {
   protected:
    void Send(std::initializer_list<Message> messages) {
        for (const Message& m : messages) live.ShortMessage(m.status, m.data1, m.data2);
    }
    MidiRecorder device;
    LiveMidiOutput live{&device};
};

TEST_F(LiveMidiOutputTest, ANoteStartedAgainIsNotCutByItsOwnNoteOff) {
    live.Open();
    Send({{0x90, 69, 64}, {0x80, 69, 0}});
    EXPECT_EQ(Received(device), (std::vector<Message>{{0x90, 69, 64}}));
    // Only the note-off right after the note-on is held back: the next one stops the note.
    Send({{0x80, 69, 0}});
    EXPECT_EQ(Received(device).back(), (Message{0x80, 69, 0}));
    // A note-on of velocity 0 is a note-off too.
    device.Clear();
    Send({{0x91, 60, 64}, {0x91, 60, 0}, {0x91, 60, 0}});
    EXPECT_EQ(Received(device), (std::vector<Message>{{0x91, 60, 64}, {0x91, 60, 0}}));
}

TEST_F(LiveMidiOutputTest, OtherKeysChannelsAndMessagesPassUnchanged) {
    live.Open();
    const std::vector<Message> sent = {
        {0xC0, 81, 0},  {0x90, 69, 64}, {0x80, 0, 0},   // the previous note was another key
        {0x90, 70, 64}, {0x81, 70, 0},                  // same key, other channel
        {0x92, 40, 64}, {0xB2, 7, 100}, {0x82, 40, 0},  // a message in between
    };
    for (const Message& m : sent) live.ShortMessage(m.status, m.data1, m.data2);
    EXPECT_EQ(Received(device), sent);
}

TEST_F(LiveMidiOutputTest, OpeningAgainForgetsTheLastNote) {
    live.Open();
    Send({{0x90, 69, 64}});
    live.Close();
    live.Open();
    Send({{0x80, 69, 0}});
    EXPECT_EQ(Received(device).back(), (Message{0x80, 69, 0}));
    EXPECT_EQ(device.OpenCount(), 2);
    EXPECT_EQ(device.CloseCount(), 1);
}

// The machine's own sequence for a retriggered note (on 69, off 69) reaches the recorder whole
// and a live device without the note-off, whatever device that is.
TEST(LiveMidiOutputMachine, TheRecorderKeepsTheSystemsSequence) {
    MidiRecorder recorded;
    MidiRecorder device;
    LiveMidiOutput live{&device};
    for (MidiOutput* output :
         {static_cast<MidiOutput*>(&recorded), static_cast<MidiOutput*>(&live)}) {
        Machine m;
        m.sound.output = output;
        ASSERT_TRUE(OpenSound(m));
        MachineBus bus{m};
        bus.WriteByte(0x4002, 253);
        bus.WriteByte(0x4003, 0x08);
    }
    const auto all = Received(recorded);
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[all.size() - 2], (Message{0x90, 69, 64}));
    EXPECT_EQ(all.back(), (Message{0x80, 69, 0}));
    const auto heard = Received(device);
    ASSERT_EQ(heard.size(), all.size() - 1);
    EXPECT_EQ(heard.back(), (Message{0x90, 69, 64}));
}

}  // namespace
}  // namespace vexalo
