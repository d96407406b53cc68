// The music as a Standard MIDI File: the bytes of the format, time placed to the frame and held
// to the emulated time, what each channel track keeps, and the recorder the desktop and the
// runner use.
#include "sound/midi_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "machine/file_io.h"
#include "sound/midi_recorder.h"
#include "sound/music_recorder.h"
#include "tests/unit/image_builder.h"

namespace vexalo {
namespace {

// A reader of the files: every track's events with their absolute ticks.
struct FileEvent {
    uint64_t tick;
    std::vector<uint8_t> bytes;  // status and data, or FF, type and data (no length) for a meta
    friend bool operator==(const FileEvent&, const FileEvent&) = default;
};

struct ParsedFile {
    uint16_t format = 0, tracks = 0, division = 0;
    std::vector<std::vector<FileEvent>> track;
};

class Reader {
   public:
    explicit Reader(const std::vector<uint8_t>& b) : b_(b) {}
    ParsedFile Parse() {
        ParsedFile f;
        Expect("MThd");
        EXPECT_EQ(U32(), 6u);
        f.format = U16();
        f.tracks = U16();
        f.division = U16();
        while (at_ < b_.size()) {
            Expect("MTrk");
            const uint32_t length = U32();
            const size_t end = at_ + length;
            EXPECT_LE(end, b_.size());
            std::vector<FileEvent> events;
            uint64_t tick = 0;
            while (at_ < end && !::testing::Test::HasFailure()) {
                tick += Number();
                FileEvent e{tick, {Byte()}};
                const uint8_t status = e.bytes[0];
                EXPECT_GE(status, 0x80) << "running status is never written";
                size_t length = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
                if (status == 0xFF) {
                    e.bytes.push_back(Byte());
                    length = static_cast<size_t>(Number());
                }
                for (size_t i = 0; i < length; ++i) e.bytes.push_back(Byte());
                events.push_back(e);
            }
            EXPECT_EQ(at_, end);
            if (!events.empty()) {
                EXPECT_EQ(events.back().bytes, (std::vector<uint8_t>{0xFF, 0x2F}));
            }
            f.track.push_back(events);
            if (::testing::Test::HasFailure()) break;
        }
        return f;
    }

   private:
    uint8_t Byte() {
        if (at_ >= b_.size()) {
            ADD_FAILURE() << "the file ends inside an event";
            return 0;
        }
        return b_[at_++];
    }
    uint16_t U16() {
        const uint8_t high = Byte();
        return static_cast<uint16_t>(high << 8 | Byte());
    }
    uint32_t U32() {
        const uint32_t high = U16();
        return high << 16 | U16();
    }
    uint64_t Number() {
        uint64_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t byte = Byte();
            v = v << 7 | (byte & 0x7F);
            if (!(byte & 0x80)) return v;
        }
        ADD_FAILURE() << "a variable-length number longer than four bytes";
        return v;
    }
    void Expect(const char* type) {
        std::string got;
        for (int i = 0; i < 4; ++i) got += static_cast<char>(Byte());
        EXPECT_EQ(got, type);
    }

    const std::vector<uint8_t>& b_;
    size_t at_ = 0;
};

ParsedFile Parse(const std::vector<uint8_t>& bytes) {
    return Reader(bytes).Parse();
}

MidiEvent Short(uint64_t frame, uint8_t status, uint8_t data1, uint8_t data2) {
    MidiEvent e;
    e.frame = frame;
    e.status = status;
    e.data1 = data1;
    e.data2 = data2;
    return e;
}

MidiEvent Volume(uint64_t frame, uint16_t left, uint16_t right) {
    MidiEvent e;
    e.kind = MidiEvent::Kind::Volume;
    e.frame = frame;
    e.left = left;
    e.right = right;
    return e;
}

SmfStart MachineStart() {
    return SmfStart{{81, 81, 81, 119}, 65535};
}

// A channel track's events after its name, program and volume, without its end.
std::vector<FileEvent> Played(const ParsedFile& f, int channel) {
    const std::vector<FileEvent>& t = f.track.at(1 + channel);
    return {t.begin() + 3, t.end() - 1};
}

TEST(MidiFile, HeaderTempoTrackAndChannelTracks) {
    const ParsedFile f = Parse(BuildMidiFile({}, MachineStart(), 0, 60));
    EXPECT_EQ(f.format, 1);
    EXPECT_EQ(f.tracks, 5);
    EXPECT_EQ(f.division, 480);
    ASSERT_EQ(f.track.size(), 5u);
    const std::string product = "Vexalo Emulator";
    std::vector<uint8_t> name{0xFF, 0x03};
    name.insert(name.end(), product.begin(), product.end());
    EXPECT_EQ(f.track[0],
              (std::vector<FileEvent>{
                  {0, name}, {0, {0xFF, 0x51, 0x07, 0x9D, 0xEA}}, {960, {0xFF, 0x2F}}}));
    const char* names[4] = {"Square wave 1", "Square wave 2", "Triangle wave", "Noise"};
    for (int c = 0; c < 4; ++c) {
        const std::vector<FileEvent>& t = f.track[1 + c];
        ASSERT_EQ(t.size(), 4u);
        EXPECT_EQ(std::string(t[0].bytes.begin() + 2, t[0].bytes.end()), names[c]);
        const uint8_t ch = static_cast<uint8_t>(c);
        EXPECT_EQ(t[1], (FileEvent{0, {uint8_t(0xC0 | ch), c == 3 ? uint8_t(119) : uint8_t(81)}}));
        EXPECT_EQ(t[2], (FileEvent{0, {uint8_t(0xB0 | ch), 7, 127}}));
        EXPECT_EQ(t[3], (FileEvent{960, {0xFF, 0x2F}})) << "every track ends at the end frame";
    }
}

TEST(MidiFile, EveryFrameIsAWholeNumberOfTicksAndTenMinutesStayWithinAMillisecond) {
    EXPECT_EQ(kSmfDivision % kSmfTicksPerFrame, 0u);
    // The time a player gives tick t: t * tempo / division microseconds.
    const double frames = 10 * 60 * kConsoleFrameRate;
    double worst = 0;
    for (uint64_t frame = 0; frame <= static_cast<uint64_t>(frames) + 1; ++frame) {
        const double file = double(frame * kSmfTicksPerFrame) * kSmfTempo / kSmfDivision / 1e6;
        worst = std::max(worst, std::fabs(file - double(frame) / kConsoleFrameRate));
    }
    EXPECT_LT(worst, 0.001);
    EXPECT_GT(worst, 0.0) << "the tempo is in whole microseconds, so some drift is left";

    // And through the file: a note ten minutes in lands on its frame's tick.
    const uint64_t tenMinutes = static_cast<uint64_t>(frames);
    const ParsedFile f =
        Parse(BuildMidiFile({Short(tenMinutes, 0x90, 69, 64)}, MachineStart(), 0, 0));
    EXPECT_EQ(Played(f, 0), (std::vector<FileEvent>{{tenMinutes * 16, {0x90, 69, 64}}}));
}

TEST(MidiFile, DeltaTimesOfEveryLengthAndGapsLongerThanOneDelta) {
    const uint64_t long_gap = (0x0FFFFFFFull / 16) + 5;  // more ticks than a delta can hold
    const std::vector<MidiEvent> events = {
        Short(0, 0x90, 60, 64),        Short(7, 0x80, 60, 0),
        Short(8, 0x90, 61, 64),        Short(1024, 0x80, 61, 0),
        Short(long_gap, 0x90, 62, 64), Short(long_gap * 2 + 1, 0x80, 62, 0)};
    const std::vector<uint8_t> bytes = BuildMidiFile(events, MachineStart(), 0, 0);
    const ParsedFile f = Parse(bytes);
    std::vector<FileEvent> notes;
    for (const FileEvent& e : Played(f, 0))
        if (e.bytes[0] != 0xFF) notes.push_back(e);
    EXPECT_EQ(notes, (std::vector<FileEvent>{{0, {0x90, 60, 64}},
                                             {7 * 16, {0x80, 60, 0}},
                                             {8 * 16, {0x90, 61, 64}},
                                             {1024 * 16, {0x80, 61, 0}},
                                             {long_gap * 16, {0x90, 62, 64}},
                                             {(long_gap * 2 + 1) * 16, {0x80, 62, 0}}}));
    // 7 frames are 112 ticks (one byte), 1 frame 16 ticks and 1,016 frames 16,256 ticks (two
    // bytes).
    const std::vector<uint8_t> start = {0x00, 0x90, 60, 64,   0x70, 0x80, 60, 0, 0x10,
                                        0x90, 61,   64, 0xFF, 0x00, 0x80, 61, 0};
    const auto at = std::search(bytes.begin(), bytes.end(), start.begin(), start.end());
    EXPECT_NE(at, bytes.end()) << "the deltas are not the shortest numbers";
    EXPECT_EQ(f.track[0].back().tick, (long_gap * 2 + 1) * 16) << "all tracks end together";
}

TEST(MidiFile, ANoteRestartedOnItsOwnKeyIsWrittenOffThenOnAndEveryOtherNoteAsItCame) {
    const std::vector<MidiEvent> events = {
        Short(0, 0x90, 69, 64), Short(0, 0x80, 0, 0),     // first note, then the previous (none)
        Short(3, 0x90, 69, 64), Short(3, 0x80, 69, 0),    // the same key again
        Short(4, 0x90, 70, 64), Short(5, 0x80, 70, 0),    // a new key, then its own end later
        Short(6, 0x90, 71, 64), Short(7, 0x80, 71, 0),    // same key but not the same frame
        Short(9, 0x80, 71, 0),  Short(9, 0x90, 71, 64)};  // already in that order
    const ParsedFile f = Parse(BuildMidiFile(events, MachineStart(), 0, 0));
    EXPECT_EQ(Played(f, 0), (std::vector<FileEvent>{{0, {0x90, 69, 64}},
                                                    {0, {0x80, 0, 0}},
                                                    {48, {0x80, 69, 0}},
                                                    {48, {0x90, 69, 64}},
                                                    {64, {0x90, 70, 64}},
                                                    {80, {0x80, 70, 0}},
                                                    {96, {0x90, 71, 64}},
                                                    {112, {0x80, 71, 0}},
                                                    {144, {0x80, 71, 0}},
                                                    {144, {0x90, 71, 64}}}));
}

TEST(MidiFile, TracksKeepTheirChannelAndOnlyChangesOfProgramAndVolume) {
    const std::vector<MidiEvent> events = {
        Short(0, 0xC0, 81, 0),   Short(0, 0xC3, 119, 0),  // what the tracks start with
        Volume(0, 65535, 65535),                          // the same
        Short(1, 0x92, 80, 64),  Short(1, 0x93, 20, 64),  // triangle and noise notes
        Volume(2, 32768, 32768),                          // half: every channel's controller 7
        Volume(3, 32768, 32768),                          // no change
        Short(4, 0xC3, 5, 0),                             // a new program for the noise
        Short(5, 0x95, 60, 64),  Short(5, 0xF8, 0, 0),    // MIDI channel 5, a system message
        Volume(6, 0, 0)};
    const ParsedFile f = Parse(BuildMidiFile(events, MachineStart(), 0, 0));
    for (int c = 0; c < 4; ++c) {
        const uint8_t ch = static_cast<uint8_t>(c);
        std::vector<FileEvent> expected;
        if (c == 2) expected.push_back({16, {0x92, 80, 64}});
        if (c == 3) expected.push_back({16, {0x93, 20, 64}});
        expected.push_back({32, {uint8_t(0xB0 | ch), 7, 64}});
        if (c == 3) expected.push_back({64, {0xC3, 5}});
        expected.push_back({96, {uint8_t(0xB0 | ch), 7, 0}});
        EXPECT_EQ(Played(f, c), expected) << "channel " << c;
    }
    EXPECT_EQ(SmfVolume(0), 0);
    EXPECT_EQ(SmfVolume(65535), 127);
    EXPECT_EQ(SmfVolume(32768), 64);
}

TEST(MidiFile, TimeCountsFromTheStartFrameAndNeverRunsBackwards) {
    const std::vector<MidiEvent> events = {Short(90, 0x90, 60, 64),   // before the start
                                           Short(101, 0x80, 60, 0),   //
                                           Short(99, 0x90, 62, 64)};  // earlier than the last
    const ParsedFile f = Parse(BuildMidiFile(events, MachineStart(), 100, 110));
    EXPECT_EQ(Played(f, 0), (std::vector<FileEvent>{
                                {0, {0x90, 60, 64}}, {16, {0x80, 60, 0}}, {16, {0x90, 62, 64}}}));
    EXPECT_EQ(f.track[1].back().tick, 160u);
}

class MusicRecorderTest : public ::testing::Test {
   protected:
    std::string File(const std::string& name) const { return (dir.path() / name).string(); }
    ParsedFile Read(const std::string& name) const { return Parse(dir.Read(name)); }

    test::TempDir dir;
    uint64_t frame = 0;
    MidiRecorder device;
    MusicRecorder recorder{&device, &frame};
};

TEST_F(MusicRecorderTest, PassesEveryCallToItsDeviceAndRecordsOnlyBetweenStartAndStop) {
    recorder.Open();
    recorder.ShortMessage(0x90, 60, 64);  // before the recording
    frame = 100;
    recorder.Start(File("music.mid"));
    EXPECT_TRUE(recorder.IsRecording());
    // The beginning is on disk at once: a valid file that ends where it starts.
    const ParsedFile begun = Read("music.mid");
    ASSERT_EQ(begun.track.size(), 5u);
    EXPECT_EQ(begun.track[1].back().tick, 0u);

    recorder.ShortMessage(0x80, 60, 0);
    frame = 103;
    recorder.ShortMessage(0x90, 62, 64);
    recorder.SetVolume(0, 0);
    frame = 110;
    EXPECT_EQ(recorder.Frames(), 10u);
    recorder.Stop();
    EXPECT_FALSE(recorder.IsRecording());
    recorder.ShortMessage(0x80, 62, 0);  // after it
    recorder.Close();

    EXPECT_EQ(device.OpenCount(), 1);
    EXPECT_EQ(device.CloseCount(), 1);
    EXPECT_EQ(device.Events().size(), 5u) << "the device hears everything";
    const ParsedFile f = Read("music.mid");
    EXPECT_EQ(Played(f, 0), (std::vector<FileEvent>{
                                {0, {0x80, 60, 0}}, {48, {0x90, 62, 64}}, {48, {0xB0, 7, 0}}}));
    EXPECT_EQ(f.track[1].back().tick, 160u) << "the recording lasts to Stop";
    EXPECT_EQ(recorder.Frames(), 10u);
}

TEST_F(MusicRecorderTest, StartsFromTheProgramsAndVolumeAlreadySent) {
    recorder.ShortMessage(0xC3, 5, 0);
    recorder.SetVolume(16384, 16384);
    recorder.Start(File("music.mid"));
    recorder.Stop();
    const ParsedFile f = Read("music.mid");
    EXPECT_EQ(f.track[1][1], (FileEvent{0, {0xC0, 81}})) << "the machine's program";
    EXPECT_EQ(f.track[4][1], (FileEvent{0, {0xC3, 5}}));
    EXPECT_EQ(f.track[4][2], (FileEvent{0, {0xB3, 7, 32}}));
}

TEST_F(MusicRecorderTest, AMessageTheDeviceRefusesIsStillRecorded) {
    recorder.Start(File("music.mid"));
    device.failMessages = true;
    EXPECT_THROW(recorder.ShortMessage(0x90, 60, 64), MidiError);
    recorder.Stop();
    EXPECT_EQ(Played(Read("music.mid"), 0), (std::vector<FileEvent>{{0, {0x90, 60, 64}}}));
}

TEST_F(MusicRecorderTest, AFileThatCannotBeWrittenLosesNothing) {
    // Found at Start: no recording begins.
    EXPECT_THROW(recorder.Start(File("missing/music.mid")), FileError);
    EXPECT_FALSE(recorder.IsRecording());

    // Found at Stop: the recording is kept and can be written elsewhere.
    std::filesystem::create_directories(dir.path() / "gone");
    recorder.Start(File("gone/music.mid"));
    recorder.ShortMessage(0x90, 60, 64);
    frame = 5;
    std::filesystem::remove_all(dir.path() / "gone");
    try {
        recorder.Stop();
        ADD_FAILURE() << "Stop wrote into a removed folder";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("gone/music.mid"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(recorder.IsRecording());
    recorder.WriteTo(File("kept.mid"));
    const ParsedFile f = Read("kept.mid");
    EXPECT_EQ(Played(f, 0), (std::vector<FileEvent>{{0, {0x90, 60, 64}}}));
    EXPECT_EQ(f.track[1].back().tick, 80u);
}

TEST_F(MusicRecorderTest, StartingAgainWritesTheRunningRecordingFirst) {
    recorder.Start(File("first.mid"));
    recorder.ShortMessage(0x90, 60, 64);
    frame = 2;
    recorder.Start(File("second.mid"));
    recorder.ShortMessage(0x80, 60, 0);
    recorder.Stop();
    recorder.Stop();  // nothing runs: no effect
    EXPECT_EQ(Played(Read("first.mid"), 0), (std::vector<FileEvent>{{0, {0x90, 60, 64}}}));
    EXPECT_EQ(Played(Read("second.mid"), 0), (std::vector<FileEvent>{{0, {0x80, 60, 0}}}));
}

TEST(MusicRecorder, WithoutADeviceItOnlyRecords) {
    test::TempDir dir;
    MusicRecorder recorder(nullptr, nullptr);
    EXPECT_NO_THROW(recorder.Open());
    recorder.Start((dir.path() / "music.mid").string());
    recorder.ShortMessage(0x91, 60, 64);
    recorder.SetVolume(100, 100);
    recorder.Close();
    recorder.Stop();
    EXPECT_EQ(Played(Parse(dir.Read("music.mid")), 1),
              (std::vector<FileEvent>{{0, {0x91, 60, 64}}, {0, {0xB1, 7, 0}}}));
}

}  // namespace
}  // namespace vexalo
