// Saved states: a machine saved, run on, loaded back and run the same frames again does exactly
// what it did the first time, on every test and outside cartridge; damaged and foreign states
// are refused and change nothing; slots keep their previous file.
#include <gtest/gtest.h>

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cartridge/mapper.h"
#include "cartridge/rewind.h"
#include "input/input_device.h"
#include "machine/save_state.h"
#include "sound/midi_recorder.h"
#include "tests/unit/image_builder.h"
#include "tests/unit/test_cartridge.h"
#include "vexalo_version.h"

namespace vexalo {
namespace {

// Buttons that change every few frames, as a function of the frame, so a run replayed from a
// saved frame sees the same presses.
class FramePattern : public StateSource {
   public:
    FramePattern(const uint64_t* clock, int player) : clock_(clock), player_(player) {}
    InputStateSet States() override {
        const uint64_t step = (*clock_ + 3 * player_) / 6;
        return (step % 4 == 3) ? 0 : StateBit(static_cast<int>((step * 5) % 8));
    }

   private:
    const uint64_t* clock_;
    int player_;
};

// A started cartridge with patterned joypads and a recorded MIDI output.
struct PlayedRun {
    explicit PlayedRun(const std::string& image) {
        m().sound.output = &recorder;
        recorder.SetClock(&m().framesCompleted);
        for (int p = 0; p < 2; ++p) {
            devices[p].SetScriptedSource(&patterns[p]);
            m().pads.device[p] = &devices[p];
        }
        started = run.Start(image);
    }
    Machine& m() { return run.m(); }

    // What M frames did: the registers before every instruction, and the MIDI messages.
    struct Outcome {
        uint64_t trace = 14695981039346656037ull;
        std::vector<MidiEvent> midi;
        std::array<uint8_t, 2048> ram{};
        std::array<uint8_t, kBackedMemorySize> wram{};
        FrameBuffer frame{};
    };
    Outcome Play(int frames) {
        Outcome o;
        const size_t first = recorder.Events().size();
        auto hook = [&o](const CpuState& s) {
            const uint64_t regs = uint64_t(s.PC) | uint64_t(s.A) << 16 | uint64_t(s.X) << 24 |
                                  uint64_t(s.Y) << 32 | uint64_t(s.P) << 40 | uint64_t(s.S) << 48;
            o.trace = (o.trace ^ regs) * 1099511628211ull;
        };
        for (int f = 0; f < frames; ++f) {
            run.engine().Run(kLinesPerFrame / 2, hook);  // yields away from the message point
            run.engine().RunFrames(1);                   // ... and at it
        }
        o.midi.assign(recorder.Events().begin() + static_cast<std::ptrdiff_t>(first),
                      recorder.Events().end());
        o.ram = m().internalRam;
        o.wram = m().cart.backedMemory;
        o.frame = m().frame;
        return o;
    }

    // The recorder and the devices outlive the engine, which closes the sound when it goes.
    MidiRecorder recorder;
    InputDevice devices[2];
    CartridgeRun run;
    FramePattern patterns[2] = {{&run.m().framesCompleted, 0}, {&run.m().framesCompleted, 1}};
    ::testing::AssertionResult started = ::testing::AssertionFailure();
};

void ExpectSameOutcome(const PlayedRun::Outcome& a, const PlayedRun::Outcome& b) {
    EXPECT_EQ(a.trace, b.trace);
    EXPECT_EQ(a.midi, b.midi);
    EXPECT_EQ(a.ram, b.ram);
    EXPECT_EQ(a.wram, b.wram);
    EXPECT_EQ(DifferingPixels(a.frame, b.frame), 0);
}

std::vector<std::string> AllCartridges() {
    std::vector<std::string> images;
    for (const char* dir : {VEXALO_TEST_ROM_DIR, VEXALO_SHARED_ROM_DIR}) {
        std::error_code ec;
        for (std::filesystem::recursive_directory_iterator it(dir, ec), end; !ec && it != end;
             it.increment(ec))
            if (it->path().extension() == ".nes") images.push_back(it->path().string());
    }
    return images;
}

TEST(SaveState, RoundTripRepeatsTraceRamPictureAndMidiOnEveryCartridge) {
    test::TempDir dir;
    const std::vector<std::string> images = AllCartridges();
    ASSERT_GT(images.size(), 20u);
    for (const std::string& original : images) {
        SCOPED_TRACE(original);
        // A copy, so a battery cartridge writes its file into the temporary folder.
        const auto image = dir.path() / std::filesystem::path(original).filename();
        std::filesystem::copy_file(original, image,
                                   std::filesystem::copy_options::overwrite_existing);
        PlayedRun played(image.string());
        ASSERT_TRUE(played.started);
        played.Play(90);
        Engine& engine = played.run.engine();
        const std::vector<uint8_t> state = engine.SaveState();
        const auto untimed = SaveMachineState(played.m(), engine.ImageSha1());
        const PlayedRun::Outcome first = played.Play(40);
        ASSERT_TRUE(engine.LoadState(state)) << played.run.LogText();
        // Every saved field came back: the loaded machine saves as the same bytes.
        EXPECT_EQ(SaveMachineState(played.m(), engine.ImageSha1()), untimed);
        played.recorder.Clear();  // the load's own note-offs and resumed notes
        ExpectSameOutcome(first, played.Play(40));
    }
}

TEST(SaveState, AFlashedProgramAndPatternRamBanksComeBack) {
    // The self-flashing board changes its PRG-ROM in memory: the state holds it.
    PlayedRun played(TestCartridgePath("unrom512_flash_test"));
    ASSERT_TRUE(played.started);
    ASSERT_TRUE(MapperWritesPrgRom(played.m()));
    played.Play(30);
    const std::vector<uint8_t> prg = played.m().cart.prgRom;
    const auto banks = played.m().mapper.patternRamBanks;
    const std::vector<uint8_t> state = played.run.engine().SaveState();
    played.m().cart.prgRom.assign(prg.size(), 0xEA);
    played.m().mapper.patternRamBanks.fill(0x55);
    ASSERT_TRUE(played.run.engine().LoadState(state));
    EXPECT_EQ(played.m().cart.prgRom, prg);
    EXPECT_EQ(played.m().mapper.patternRamBanks, banks);
}

// The file's checksum made right again after a test changed its bytes.
void FixChecksum(std::vector<uint8_t>& file) {
    const size_t body = file.size() - 4;
    const uint32_t crc = static_cast<uint32_t>(crc32(0, file.data(), static_cast<uInt>(body)));
    for (int i = 0; i < 4; ++i) file[body + i] = static_cast<uint8_t>(crc >> (8 * i));
}

TEST(SaveState, ForeignNewerDamagedAndTruncatedStatesAreRefusedAndChangeNothing) {
    PlayedRun other(TestCartridgePath("ppu_test"));
    ASSERT_TRUE(other.started);
    other.Play(10);
    const std::vector<uint8_t> foreign = other.run.engine().SaveState();

    PlayedRun played(TestCartridgePath("cpu_test"));
    ASSERT_TRUE(played.started);
    Engine& engine = played.run.engine();
    played.Play(20);
    const std::vector<uint8_t> good = engine.SaveState();
    played.Play(20);
    const std::vector<uint8_t> before = SaveMachineState(played.m(), engine.ImageSha1());

    std::vector<uint8_t> newer = good;
    newer[4] = kStateFormatVersion + 1;
    FixChecksum(newer);
    std::vector<uint8_t> flipped = good;
    flipped[good.size() / 2] ^= 0x01;
    std::vector<uint8_t> outOfRange = good;  // the CPU chunk follows INFO; CyclesPerLine to 0
    const std::string infoVersion = VEXALO_PRODUCT_VERSION;
    const size_t cpu = 8 + 8 + 20 + 2 + infoVersion.size() + 16;
    ASSERT_EQ(std::string(outOfRange.begin() + cpu, outOfRange.begin() + cpu + 4), "CPU ");
    std::fill_n(outOfRange.begin() + cpu + 8 + 7, 4, 0);
    FixChecksum(outOfRange);
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* reason;
    } cases[] = {
        {"other image", foreign, "it is a state of another image"},
        {"newer", newer, "saved in a newer format (2) than this program reads (1)"},
        {"bad checksum", flipped, "the file is damaged or truncated (bad checksum)"},
        {"out of range", outOfRange, "the file is damaged (a value out of range)"},
        {"empty", {}, "not a saved state"},
        {"signature only", {'V', 'X', 'S', 'T'}, "the file is truncated"},
        {"half", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2),
         "the file is damaged or truncated (bad checksum)"},
        {"last byte missing", std::vector<uint8_t>(good.begin(), good.end() - 1),
         "the file is damaged or truncated (bad checksum)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(engine.LoadState(c.bytes, c.name));
        EXPECT_EQ(
            played.run.CountLogLines(std::string("State not loaded: ") + c.name + ": " + c.reason),
            1)
            << played.run.LogText();
        EXPECT_EQ(SaveMachineState(played.m(), engine.ImageSha1()), before);
    }
    // A chunk cut off inside a file whose checksum matches is refused too.
    std::vector<uint8_t> cut(good.begin(), good.end() - 4 - 100);
    cut.resize(cut.size() + 4);
    FixChecksum(cut);
    EXPECT_FALSE(engine.LoadState(cut, "cut"));
    EXPECT_EQ(played.run.CountLogLines("State not loaded: cut: the file is damaged (a chunk is "
                                       "cut off)"),
              1);
    // An unknown chunk is skipped: a later version's file still loads.
    std::vector<uint8_t> extended(good.begin(), good.end() - 4);
    const uint8_t unknown[] = {'N', 'E', 'W', '!', 3, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0};
    extended.insert(extended.end(), std::begin(unknown), std::end(unknown));
    FixChecksum(extended);
    EXPECT_TRUE(engine.LoadState(extended)) << played.run.LogText();
    // Undo load gives back the machine the load replaced.
    EXPECT_TRUE(engine.UndoLoadState());
    EXPECT_EQ(SaveMachineState(played.m(), engine.ImageSha1()), before);
}

TEST(SaveState, SlotsKeepThePreviousFileAndShowTheirPicture) {
    test::TempDir dir;
    PlayedRun played(TestCartridgePath("ppu_test"));
    ASSERT_TRUE(played.started);
    Engine& engine = played.run.engine();
    engine.SetStateDirectory((dir.path() / "states").string());
    StateInfo info;
    EXPECT_FALSE(engine.StateSlotInfo(3, info));
    EXPECT_FALSE(engine.LoadStateSlot(3));
    EXPECT_EQ(played.run.CountLogLines("State not loaded: slot 3 is empty."), 1);

    played.Play(10);
    engine.SaveStateSlot(3);
    const FrameBuffer firstPicture = played.m().frame;
    played.Play(30);
    engine.SaveStateSlot(3);  // over the first: that one is kept for undo
    ASSERT_TRUE(engine.StateSlotInfo(3, info));
    EXPECT_EQ(info.frame, played.m().framesCompleted);
    EXPECT_EQ(info.picture, played.m().frame);
    EXPECT_GT(info.savedAt, 1600000000);
    EXPECT_TRUE(engine.UndoSaveStateSlot(3));
    EXPECT_FALSE(engine.UndoSaveStateSlot(3));
    ASSERT_TRUE(engine.StateSlotInfo(3, info));
    EXPECT_EQ(info.picture, firstPicture);
    ASSERT_TRUE(engine.LoadStateSlot(3));
    EXPECT_EQ(played.m().frame, firstPicture);
    EXPECT_EQ(played.m().framesCompleted, info.frame);
    EXPECT_FALSE(engine.StateSlotFile(10).size());
}

// The machine of every frame as it was played, then rewound one frame at a time: each rewound
// frame is the very machine that was there, and play goes on from it as it did the first time.
TEST(Rewind, SteppingBackGivesExactlyTheMachinesThatWereThere) {
    for (const std::string& image :
         {TestCartridgePath("mmc3_test"), TestCartridgePath("action53_test"),
          SharedCartridgePath("hello_mmc1.nes")}) {
        if (image.empty()) continue;
        SCOPED_TRACE(image);
        PlayedRun played(image);
        ASSERT_TRUE(played.started);
        Engine& engine = played.run.engine();
        RewindBuffer rewind;
        std::map<uint64_t, std::vector<uint8_t>> seen;
        const auto now = [&] { return SaveMachineState(played.m(), engine.ImageSha1()); };
        for (int f = 0; f < 200; ++f) {
            engine.RunFrames(1);
            rewind.Push(engine);
            seen[played.m().messagePointsReached] = now();
        }
        const uint64_t last = played.m().messagePointsReached;
        EXPECT_EQ(rewind.FramesHeld(), 199u);
        for (int back = 1; back <= 150; ++back) {
            ASSERT_TRUE(rewind.StepBack(engine));
            ASSERT_EQ(played.m().messagePointsReached, last - back);
            ASSERT_EQ(now(), seen[last - back]) << back << " frames back";
        }
        rewind.EndRewind(engine);
        for (int f = 1; f <= 30; ++f) {
            engine.RunFrames(1);
            rewind.Push(engine);
            ASSERT_EQ(now(), seen[last - 150 + f]) << f << " frames after the rewind";
        }
        EXPECT_EQ(rewind.FramesHeld(), 199u - 150u + 30u);
    }
}

TEST(Rewind, TheOldestHistoryGoesFirstWhenTheMemoryIsFull) {
    PlayedRun played(TestCartridgePath("mmc3_test"));
    ASSERT_TRUE(played.started);
    Engine& engine = played.run.engine();
    const size_t limit = 200 * 1024;
    RewindBuffer rewind(limit, 5, 10);
    for (int f = 0; f < 600; ++f) {
        engine.RunFrames(1);
        rewind.Push(engine);
        ASSERT_LE(rewind.MemoryUsed(), limit);
    }
    EXPECT_GT(rewind.FramesHeld(), 40u);
    EXPECT_LT(rewind.FramesHeld(), 599u);
    // A reset starts the history anew: nothing before it can be replayed into it.
    engine.Reset();
    engine.RunFrames(1);
    rewind.Push(engine);
    EXPECT_EQ(rewind.FramesHeld(), 0u);
    EXPECT_FALSE(rewind.StepBack(engine));
}

std::string ReadText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// MIDI log lines ("FRAME STATUS DATA1 DATA2") from frame `first` on.
std::string MidiFrom(const std::string& log, uint64_t first) {
    std::istringstream in(log);
    std::string line, kept;
    while (std::getline(in, line))
        if (std::stoull(line) >= first) kept += line + "\n";
    return kept;
}

TEST(SaveState, TheRunnerContinuesInAFreshProcessAsInOneRun) {
    test::TempDir dir;
    const auto p = [&dir](const char* name) { return (dir.path() / name).string(); };
    const std::string image = p("demo.nes"), script = p("input.txt");
    std::filesystem::copy_file(VEXALO_DEMO_ROM, image);
    std::ofstream(script) << "30 1 A\n120 1 -\n";
    const std::string run = std::string(VEXALO_RUNNER) + " " + image + " --input " + script;
    const std::string after = " --peek 0:800 --peek 6000:2000 >";
    ASSERT_EQ(
        std::system((run + " --frames 150 --trace " + p("whole.trace") + " --midi-log " +
                     p("whole.midi") + " --snapshot " + p("whole.bmp") + after + p("whole.out"))
                        .c_str()),
        0);
    ASSERT_EQ(
        std::system((run + " --frames 100 --save-state " + p("saved.state") + " >" + p("first.out"))
                        .c_str()),
        0);
    ASSERT_EQ(std::system((run + " --frames 50 --load-state " + p("saved.state") + " --trace " +
                           p("rest.trace") + " --midi-log " + p("rest.midi") + " --snapshot " +
                           p("rest.bmp") + after + p("rest.out"))
                              .c_str()),
              0);
    const std::string whole = ReadText(p("whole.trace")), rest = ReadText(p("rest.trace"));
    ASSERT_GT(rest.size(), 1000u);
    ASSERT_LT(rest.size(), whole.size());
    EXPECT_EQ(whole.substr(whole.size() - rest.size()), rest);
    EXPECT_EQ(ReadText(p("whole.bmp")), ReadText(p("rest.bmp")));
    const auto peeks = [](const std::string& out) { return out.substr(out.find("\n0000:")); };
    EXPECT_EQ(peeks(ReadText(p("whole.out"))), peeks(ReadText(p("rest.out"))));
    // Frame 100 also holds the notes the load resumed.
    const std::string wholeMidi = MidiFrom(ReadText(p("whole.midi")), 101);
    EXPECT_GT(wholeMidi.size(), 0u);
    EXPECT_EQ(wholeMidi, MidiFrom(ReadText(p("rest.midi")), 101));
}

}  // namespace
}  // namespace vexalo
