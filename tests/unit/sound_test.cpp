// The sound channels as MIDI notes, checked through the messages a MidiRecorder receives. Register
// writes go through the CPU's bus, as a running program makes them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "cartridge/loader.h"
#include "machine/bus.h"
#include "machine/machine.h"
#include "sound/midi_recorder.h"
#include "sound/sound.h"
#include "sound/wav_file.h"

namespace vexalo {

// Readable messages in failed comparisons.
static void PrintTo(const MidiEvent& e, std::ostream* os) {
    char text[64];
    if (e.kind == MidiEvent::Kind::Volume) {
        std::snprintf(text, sizeof text, "volume %u/%u @%llu", e.left, e.right,
                      static_cast<unsigned long long>(e.frame));
    } else {
        std::snprintf(text, sizeof text, "$%02X %u %u @%llu", e.status, e.data1, e.data2,
                      static_cast<unsigned long long>(e.frame));
    }
    *os << text;
}

namespace {

MidiEvent Msg(uint8_t status, uint8_t data1, uint8_t data2) {
    MidiEvent e;
    e.status = status;
    e.data1 = data1;
    e.data2 = data2;
    return e;
}

MidiEvent Volume(uint16_t volume) {
    MidiEvent e;
    e.kind = MidiEvent::Kind::Volume;
    e.left = volume;
    e.right = volume;
    return e;
}

class SoundTest : public ::testing::Test {
   protected:
    void SetUp() override {
        m = std::make_unique<Machine>();
        m->sound.output = &recorder;
        ASSERT_TRUE(OpenSound(*m));
        ASSERT_TRUE(m->sound.midiOpen);
        recorder.Clear();
    }

    void Write(uint16_t address, uint8_t value) { MachineBus{*m}.WriteByte(address, value); }
    uint8_t Read(uint16_t address) { return MachineBus{*m}.ReadByte(address); }
    // The channel's period registers, low byte first as programs usually write them.
    void WritePeriodRegisters(int channel, uint16_t period, uint8_t lengthIndex = 0) {
        Write(static_cast<uint16_t>(0x4002 + 4 * channel), static_cast<uint8_t>(period));
        Write(static_cast<uint16_t>(0x4003 + 4 * channel),
              static_cast<uint8_t>((lengthIndex << 3) | ((period >> 8) & 7)));
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) SoundTick(*m);
    }
    std::vector<MidiEvent> Messages() const { return recorder.ShortMessages(); }
    std::vector<MidiEvent> Events() const { return recorder.Events(); }

    std::unique_ptr<Machine> m;
    MidiRecorder recorder;
};

TEST_F(SoundTest, OpenSendsProgramChangesThenVolumeAndForgetsOldNotes) {
    auto fresh = std::make_unique<Machine>();
    MidiRecorder out;
    fresh->sound.output = &out;
    fresh->settings.SoundVolume = 0x12345;  // only the low 16 bits reach the device
    for (int32_t& note : fresh->sound.lastNote) note = 50;

    ASSERT_TRUE(OpenSound(*fresh));
    EXPECT_TRUE(fresh->sound.midiOpen);
    EXPECT_TRUE(out.IsOpen());
    const std::vector<MidiEvent> expected = {Msg(0xC0, 81, 0), Msg(0xC1, 81, 0), Msg(0xC2, 81, 0),
                                             Msg(0xC3, 119, 0), Volume(0x2345)};
    EXPECT_EQ(out.Events(), expected);
    for (int32_t note : fresh->sound.lastNote) EXPECT_EQ(note, 0);

    // The first note-off after opening names note 0.
    out.Clear();
    fresh->ioRegisterImage[2] = 253;
    WritePeriod(*fresh, 0);
    EXPECT_EQ(out.ShortMessages(), (std::vector{Msg(0x90, 69, 64), Msg(0x80, 0, 0)}));
}

TEST_F(SoundTest, OpenFailuresReturnFalseAndLeaveTheDeviceClosed) {
    auto fresh = std::make_unique<Machine>();
    EXPECT_FALSE(OpenSound(*fresh));  // no device at all
    EXPECT_FALSE(fresh->sound.midiOpen);

    MidiRecorder refusing;
    refusing.failOpen = true;
    fresh->sound.output = &refusing;
    EXPECT_FALSE(OpenSound(*fresh));
    EXPECT_FALSE(fresh->sound.midiOpen);
    EXPECT_TRUE(refusing.Events().empty());
    EXPECT_EQ(refusing.CloseCount(), 0);

    // Opens, then fails while being set up: closed again so a later attempt finds it free.
    MidiRecorder failing;
    failing.failMessages = true;
    fresh->sound.output = &failing;
    EXPECT_FALSE(OpenSound(*fresh));
    EXPECT_FALSE(fresh->sound.midiOpen);
    EXPECT_EQ(failing.OpenCount(), 1);
    EXPECT_EQ(failing.CloseCount(), 1);
    EXPECT_FALSE(failing.IsOpen());

    // A failed open leaves the machine silent: register writes send nothing.
    fresh->sound.output = &refusing;
    refusing.failOpen = true;
    ASSERT_FALSE(OpenSound(*fresh));
    MachineBus{*fresh}.WriteByte(0x4002, 253);
    MachineBus{*fresh}.WriteByte(0x4015, 0);
    AllNotesOff(*fresh);
    EXPECT_TRUE(refusing.Events().empty());
}

TEST_F(SoundTest, PeriodWritesStartTheNewNoteBeforeStoppingThePreviousOne) {
    Write(0x4002, 253);  // with the high register still 0: period 253, 440 Hz
    EXPECT_EQ(Events(), (std::vector{Msg(0x90, 69, 64), Msg(0x80, 0, 0), Volume(65535)}));
    EXPECT_EQ(m->sound.channelPeriod[0], 253);
    EXPECT_EQ(m->sound.lastNote[0], 69);

    // The high write plays the same note again: note-on, then note-off of the same key.
    recorder.Clear();
    Write(0x4003, 0x00);
    EXPECT_EQ(Events(), (std::vector{Msg(0x90, 69, 64), Msg(0x80, 69, 0), Volume(65535)}));

    // High bits 1: period 509, 219 Hz, note 56.
    recorder.Clear();
    Write(0x4003, 0x01);
    EXPECT_EQ(m->sound.channelPeriod[0], 509);
    EXPECT_EQ(Messages(), (std::vector{Msg(0x90, 56, 64), Msg(0x80, 69, 0)}));

    // Each channel plays on its own MIDI channel, including the noise.
    recorder.Clear();
    Write(0x4006, 253);
    Write(0x400A, 126);  // 880 Hz
    Write(0x400E, 8);    // 12428 Hz
    EXPECT_EQ(Messages(), (std::vector{Msg(0x91, 69, 64), Msg(0x81, 0, 0), Msg(0x92, 81, 64),
                                       Msg(0x82, 0, 0), Msg(0x93, 126, 64), Msg(0x83, 0, 0)}));

    // Registers that are only stored send nothing and read back.
    recorder.Clear();
    for (uint16_t address : {0x4000, 0x4004, 0x4008, 0x400C, 0x4010, 0x4013}) {
        Write(address, 0x5A);
        EXPECT_EQ(Read(address), 0x5A);
    }
    EXPECT_TRUE(Events().empty());
}

TEST_F(SoundTest, FrequenciesOutsideTheRangeLeaveThePreviousNoteSounding) {
    WritePeriodRegisters(0, 253);
    ASSERT_EQ(m->sound.lastNote[0], 69);
    for (uint16_t period = 0; period <= 6; ++period) {
        recorder.Clear();
        WritePeriodRegisters(0, period);
        EXPECT_EQ(m->sound.channelPeriod[0], period);
        // Only the volume call of the write; no note-on and no note-off.
        EXPECT_TRUE(Messages().empty()) << "period " << period;
        EXPECT_EQ(m->sound.lastNote[0], 69);
    }

    recorder.Clear();
    PlayChannelFrequency(*m, 1, 9);
    PlayChannelFrequency(*m, 1, 14001);
    PlayChannelFrequency(*m, 1, 65535);
    PlayChannelFrequency(*m, 1, 0);
    EXPECT_TRUE(Events().empty());
    PlayChannelFrequency(*m, 1, 10);
    PlayChannelFrequency(*m, 1, 14000);
    EXPECT_EQ(Messages(), (std::vector{Msg(0x91, 4, 64), Msg(0x81, 0, 0), Msg(0x91, 127, 64),
                                       Msg(0x81, 4, 0)}));
}

TEST_F(SoundTest, FrequenciesBecomeNoteNumbersRoundedDown) {
    const struct {
        uint16_t frequency;
        uint8_t note;
    } table[] = {{10, 4},
                 {13, 9},
                 {14, 9},
                 {55, 33},
                 {219, 56},
                 {220, 57},
                 {440, 69},
                 {466, 69} /* just below A sharp */,
                 {467, 70},
                 {880, 81},
                 {12428, 126},
                 {13289, 127},
                 {13290, 127} /* 128 sent as 127 */,
                 {14000, 127}};
    for (const auto& row : table) {
        EXPECT_EQ(FrequencyToNote(row.frequency), row.note) << row.frequency << " Hz";
        recorder.Clear();
        PlayChannelFrequency(*m, 2, row.frequency);
        const std::vector<MidiEvent> sent = Messages();
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[0], Msg(0x92, row.note, 64)) << row.frequency << " Hz";
    }
    // Period 7 (13982 Hz) is note 128, beyond MIDI's data bytes: played as the top key.
    recorder.Clear();
    WritePeriodRegisters(3, 7);
    EXPECT_EQ(Messages().at(2), Msg(0x93, 127, 64));
    EXPECT_EQ(m->sound.lastNote[3], 127);
    recorder.Clear();
    SetChannelLevel(*m, 3, 0);
    EXPECT_EQ(Messages(), (std::vector{Msg(0x83, 127, 0)}));
}

TEST_F(SoundTest, DisablingChannelsStopsTheirNotesAndClearsTheirCounters) {
    WritePeriodRegisters(0, 253, 5);
    WritePeriodRegisters(1, 126, 5);
    WritePeriodRegisters(2, 8, 5);
    WritePeriodRegisters(3, 100, 5);
    for (int i = 0; i < 4; ++i) ASSERT_GT(m->sound.lengthCounter[i], 0);

    recorder.Clear();
    Write(0x4015, 0x0A);  // keeps channels 1 and 3
    EXPECT_EQ(Messages(), (std::vector{Msg(0x80, 69, 0), Msg(0x82, 126, 0)}));
    EXPECT_EQ(m->sound.lengthCounter[0], 0);
    EXPECT_GT(m->sound.lengthCounter[1], 0);
    EXPECT_EQ(m->sound.lengthCounter[2], 0);
    EXPECT_GT(m->sound.lengthCounter[3], 0);
    EXPECT_EQ(Read(0x4015), 0x0A);

    recorder.Clear();
    Write(0x4015, 0);
    EXPECT_EQ(Messages(), (std::vector{Msg(0x80, 69, 0), Msg(0x81, 81, 0), Msg(0x82, 126, 0),
                                       Msg(0x83, 84, 0)}));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m->sound.lengthCounter[i], 0);

    // Setting bits starts nothing.
    recorder.Clear();
    Write(0x4015, 0x0F);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(Read(0x4015), 0x0F);
    Ticks(300);
    EXPECT_TRUE(Events().empty());
}

TEST_F(SoundTest, LengthCountersEndNotesAndClearTheirEnableBits) {
    Write(0x4015, 0x0F);
    WritePeriodRegisters(0, 253, 0);   // square: (0 + 1) * 8
    WritePeriodRegisters(1, 253, 31);  // square: (31 + 1) * 8
    WritePeriodRegisters(2, 126, 1);   // triangle: 1 + 2
    WritePeriodRegisters(3, 100, 0);   // noise: 0, never counted
    EXPECT_EQ(m->sound.lengthCounter[0], 8);
    EXPECT_EQ(m->sound.lengthCounter[1], 256);
    EXPECT_EQ(m->sound.lengthCounter[2], 3);
    EXPECT_EQ(m->sound.lengthCounter[3], 0);

    recorder.Clear();
    Ticks(2);
    EXPECT_TRUE(Events().empty());
    Ticks(1);
    EXPECT_EQ(Messages(), (std::vector{Msg(0x82, 81, 0)}));
    EXPECT_EQ(Read(0x4015), 0x0B);

    recorder.Clear();
    Ticks(4);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(Read(0x4015) & 1, 1);
    Ticks(1);  // the eighth
    EXPECT_EQ(Messages(), (std::vector{Msg(0x80, 69, 0)}));
    EXPECT_EQ(Read(0x4015), 0x0A);
    EXPECT_EQ(m->sound.lengthCounter[0], 0);

    recorder.Clear();
    Ticks(247);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(m->sound.lengthCounter[1], 1);
    Ticks(1);
    EXPECT_EQ(Messages(), (std::vector{Msg(0x81, 69, 0)}));
    // The noise channel with length 0 is never stopped by the tick.
    EXPECT_EQ(Read(0x4015), 0x08);
    Ticks(1000);
    EXPECT_EQ(Read(0x4015), 0x08);
    EXPECT_EQ(Messages().size(), 1u);

    // Noise with a length index: RF >> 3.
    WritePeriodRegisters(3, 100, 3);
    EXPECT_EQ(m->sound.lengthCounter[3], 3);
    recorder.Clear();
    Ticks(3);
    EXPECT_EQ(Messages(), (std::vector{Msg(0x83, 84, 0)}));
    EXPECT_EQ(Read(0x4015), 0x00);
}

TEST_F(SoundTest, SweepsChangeThePeriodEachTick) {
    // $F9: enabled, rate 7, subtract, low field 1: the period falls by 7 a tick.
    Write(0x4001, 0xF9);
    EXPECT_TRUE(m->sound.sweepEnabled[0]);
    WritePeriodRegisters(0, 253, 1);
    recorder.Clear();
    SoundTick(*m);
    EXPECT_EQ(m->sound.channelPeriod[0], 246);
    EXPECT_EQ(Messages(), (std::vector{Msg(0x90, 69, 64), Msg(0x80, 69, 0)}));  // 452 Hz

    // Above 1023 Hz the swept frequency is masked: period 93 would be 1190 Hz (note 86), but
    // 1190 AND 1023 = 166 Hz plays note 52.
    WritePeriodRegisters(0, 100, 1);
    ASSERT_EQ(m->sound.lastNote[0], 84);  // the write itself is not masked: 1107 Hz
    recorder.Clear();
    SoundTick(*m);
    EXPECT_EQ(m->sound.channelPeriod[0], 93);
    EXPECT_EQ(Messages(), (std::vector{Msg(0x90, 52, 64), Msg(0x80, 84, 0)}));

    // Subtracting below 0 wraps: 3 - 7 = 65532, and 111860 div 65533 = 1 Hz sends nothing.
    WritePeriodRegisters(0, 3, 1);
    recorder.Clear();
    SoundTick(*m);
    EXPECT_EQ(m->sound.channelPeriod[0], 65532);
    EXPECT_TRUE(Messages().empty());

    // $B2 on square 2: rate 3, add, low field 2: up by 6 (259: 430 Hz, note 68).
    Write(0x4005, 0xB2);
    WritePeriodRegisters(1, 253, 1);
    recorder.Clear();
    SoundTick(*m);
    EXPECT_EQ(m->sound.channelPeriod[1], 259);
    EXPECT_EQ(Messages().at(0), Msg(0x91, 68, 64));

    // Bit 7 clear: no sweep, the period stays.
    Write(0x4005, 0x7A);
    EXPECT_FALSE(m->sound.sweepEnabled[1]);
    recorder.Clear();
    SoundTick(*m);
    EXPECT_EQ(m->sound.channelPeriod[1], 259);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(SoundTest, ChannelsSwitchedOffSendNothingAndFreezeTheirCounters) {
    m->settings.channelEnabled[1] = false;
    Write(0x4015, 0x0F);
    Write(0x4005, 0xF9);
    WritePeriodRegisters(1, 253, 0);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(m->sound.lengthCounter[1], 8);  // still loaded by the write
    EXPECT_EQ(m->sound.lastNote[1], 0);

    Ticks(20);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(m->sound.lengthCounter[1], 8);
    EXPECT_EQ(m->sound.channelPeriod[1], 253);  // no sweep either
    EXPECT_EQ(Read(0x4015) & 2, 2);
    SetChannelLevel(*m, 1, 0);
    SetChannelLevel(*m, 1, 65535);
    Write(0x4015, 0x0D);  // only channel 1 off
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(m->sound.lengthCounter[1], 0);  // $4015 still clears it

    // Switched on again, the setting applies from the next use on.
    m->settings.channelEnabled[1] = true;
    Write(0x4015, 0x0F);
    WritePeriodRegisters(1, 253, 0);
    recorder.Clear();
    Ticks(8);
    EXPECT_EQ(m->sound.channelPeriod[1], 253 - 8 * 7);
    EXPECT_EQ(Read(0x4015) & 2, 0);
}

TEST_F(SoundTest, AllNotesOffIgnoresTheChannelSwitches) {
    WritePeriodRegisters(0, 253);
    WritePeriodRegisters(3, 126);
    for (bool& enabled : m->settings.channelEnabled) enabled = false;
    recorder.Clear();
    AllNotesOff(*m);
    EXPECT_EQ(Events(),
              (std::vector{Msg(0x80, 69, 0), Msg(0x81, 0, 0), Msg(0x82, 0, 0), Msg(0x83, 81, 0)}));
    EXPECT_EQ(m->sound.lastNote[0], 69);  // note-offs leave lastNote alone
}

TEST_F(SoundTest, ChannelLevelIsTheGlobalVolumeAndZeroStopsTheNote) {
    SetChannelLevel(*m, 2, 0x1FFFF);
    SetChannelLevel(*m, 2, 1);
    EXPECT_EQ(Events(), (std::vector{Volume(0xFFFF), Volume(1)}));

    // With the volume setting at 0 each period write starts its note and stops it at once.
    m->settings.SoundVolume = 0;
    recorder.Clear();
    WritePeriodRegisters(0, 253);
    EXPECT_EQ(Events(), (std::vector{Msg(0x90, 69, 64), Msg(0x80, 0, 0), Msg(0x80, 69, 0),
                                     Msg(0x90, 69, 64), Msg(0x80, 69, 0), Msg(0x80, 69, 0)}));
    // The volume setting is read at each use.
    m->settings.SoundVolume = 1000;
    recorder.Clear();
    Write(0x4003, 0);
    EXPECT_EQ(Events().back(), Volume(1000));
}

TEST_F(SoundTest, WithoutAnOpenOutputRegistersAndCountersBehaveTheSame) {
    auto silent = std::make_unique<Machine>();
    MidiRecorder unopened;
    silent->sound.output = &unopened;  // never opened
    auto closed = std::make_unique<Machine>();
    MidiRecorder closedOutput;
    closed->sound.output = &closedOutput;
    ASSERT_TRUE(OpenSound(*closed));
    CloseSound(*closed);
    EXPECT_FALSE(closed->sound.midiOpen);
    EXPECT_EQ(closedOutput.Events().back(), Volume(0));
    EXPECT_EQ(closedOutput.CloseCount(), 1);
    closedOutput.Clear();
    auto noDevice = std::make_unique<Machine>();

    const struct {
        uint16_t address;
        uint8_t value;
    } script[] = {{0x4015, 0x0F}, {0x4001, 0xF9}, {0x4002, 200}, {0x4003, 0x08},
                  {0x4006, 126},  {0x4007, 0x01}, {0x400A, 50},  {0x400B, 0x10},
                  {0x400E, 9},    {0x400F, 0x18}, {0x400D, 0x92}};
    for (Machine* machine : {m.get(), silent.get(), closed.get(), noDevice.get()}) {
        for (const auto& write : script) MachineBus{*machine}.WriteByte(write.address, write.value);
        for (int i = 0; i < 12; ++i) SoundTick(*machine);
        MachineBus{*machine}.WriteByte(0x4015, 0x0D);
        for (int i = 0; i < 5; ++i) SoundTick(*machine);
    }
    ASSERT_FALSE(Messages().empty());
    for (Machine* machine : {silent.get(), closed.get(), noDevice.get()}) {
        EXPECT_EQ(machine->ioRegisterImage, m->ioRegisterImage);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(machine->sound.channelPeriod[i], m->sound.channelPeriod[i]) << i;
            EXPECT_EQ(machine->sound.lengthCounter[i], m->sound.lengthCounter[i]) << i;
            EXPECT_EQ(machine->sound.sweepEnabled[i], m->sound.sweepEnabled[i]) << i;
            // The notes are tracked as with a device, so a saved machine knows what sounds.
            EXPECT_EQ(machine->sound.lastNote[i], m->sound.lastNote[i]) << i;
            EXPECT_EQ(machine->sound.noteSounding[i], m->sound.noteSounding[i]) << i;
        }
    }
    EXPECT_TRUE(unopened.Events().empty());
    EXPECT_TRUE(closedOutput.Events().empty());
    // The script did count down and clear bits on the way: square 1 ran out last.
    EXPECT_EQ(m->ioRegisterImage[0x15], 0x0C);
}

TEST_F(SoundTest, DeviceErrorsWhilePlayingAreDroppedAndTheMachineGoesOn) {
    recorder.failMessages = true;
    EXPECT_NO_THROW({
        WritePeriodRegisters(0, 253, 0);
        Ticks(8);
        Write(0x4015, 0);
        AllNotesOff(*m);
    });
    EXPECT_EQ(m->sound.channelPeriod[0], 253);
    EXPECT_EQ(m->sound.lengthCounter[0], 0);
    EXPECT_TRUE(m->sound.midiOpen);

    // Once the device answers again, the messages flow.
    recorder.failMessages = false;
    WritePeriodRegisters(0, 126, 0);
    EXPECT_EQ(Messages().at(0), Msg(0x90, 81, 64));

    recorder.failClose = true;
    EXPECT_NO_THROW(CloseSound(*m));
    EXPECT_FALSE(m->sound.midiOpen);
}

TEST(MidiRecorderTest, StampsEventsWithTheFrameClock) {
    uint64_t frame = 0;
    MidiRecorder recorder(&frame);
    recorder.ShortMessage(0x90, 69, 64);
    frame = 17;
    recorder.SetVolume(1, 2);
    recorder.ShortMessage(0x80, 69, 0);
    ASSERT_EQ(recorder.Events().size(), 3u);
    EXPECT_EQ(recorder.Events()[0].frame, 0u);
    EXPECT_EQ(recorder.Events()[1].frame, 17u);
    EXPECT_EQ(recorder.Events()[1].left, 1);
    EXPECT_EQ(recorder.Events()[1].right, 2);
    EXPECT_EQ(recorder.ShortMessages().size(), 2u);
    EXPECT_EQ(recorder.ShortMessages()[1].frame, 17u);

    MidiRecorder noClock;
    noClock.ShortMessage(0x90, 1, 2);
    EXPECT_EQ(noClock.Events().at(0).frame, 0u);
}

class WavFileTest : public ::testing::Test {
   protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("vexalo_wav_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    static std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    static uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
    }
    static uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
        return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
    }

    std::filesystem::path dir;
};

TEST_F(WavFileTest, WritesSixteenBitStereoPcm) {
    const std::vector<int16_t> samples = {0, 1, -1, 32767, -32768, 0x1234, 7};  // odd: 3 frames
    const auto path = dir / "out.wav";
    WriteWavFile(path.string(), samples);
    const std::vector<uint8_t> b = ReadAll(path);
    ASSERT_EQ(b.size(), 44u + 12u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(U32(b, 4), b.size() - 8);
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(U32(b, 16), 16u);
    EXPECT_EQ(U16(b, 20), 1);  // PCM
    EXPECT_EQ(U16(b, 22), 2);
    EXPECT_EQ(U32(b, 24), 44100u);
    EXPECT_EQ(U32(b, 28), 44100u * 4);
    EXPECT_EQ(U16(b, 32), 4);
    EXPECT_EQ(U16(b, 34), 16);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    EXPECT_EQ(U32(b, 40), 12u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(static_cast<int16_t>(U16(b, 44 + 2 * i)), samples[i]) << i;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav.tmp"));

    // Large enough to span several write blocks; the earlier file is replaced.
    std::vector<int16_t> many(20000);
    for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<int16_t>(i * 7);
    WriteWavFile(path.string(), many);
    const std::vector<uint8_t> c = ReadAll(path);
    ASSERT_EQ(c.size(), 44u + 40000u);
    EXPECT_EQ(static_cast<int16_t>(U16(c, 44 + 2 * 19999)), many[19999]);
    EXPECT_EQ(static_cast<int16_t>(U16(c, 44 + 2 * 12345)), many[12345]);
}

TEST_F(WavFileTest, FailuresThrowAndKeepTheEarlierFile) {
    EXPECT_THROW(WriteWavFile((dir / "missing" / "out.wav").string(), {1, 2}), FileError);

    // The target is a directory: the rename fails, the temporary file goes away and the
    // directory stays.
    const auto target = dir / "taken";
    std::filesystem::create_directories(target / "inside");
    EXPECT_THROW(WriteWavFile(target.string(), {1, 2}), FileError);
    EXPECT_TRUE(std::filesystem::is_directory(target / "inside"));
    EXPECT_FALSE(std::filesystem::exists(dir / "taken.tmp"));
}

}  // namespace
}  // namespace vexalo
