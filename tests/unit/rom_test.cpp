// The project's own test cartridges, the demo and the outside homebrew cartridges, run through
// the engine as the programs run them: checked through RAM, cartridge RAM, the log, the frame
// buffer and the MIDI messages.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "input/input_device.h"
#include "sound/midi_recorder.h"
#include "tests/unit/test_cartridge.h"

namespace vexalo {
namespace {

namespace fs = std::filesystem;

// A folder of its own under the test temporary folder, removed afterwards.
class ScratchFolder {
   public:
    explicit ScratchFolder(const std::string& name)
        : path_(fs::path(::testing::TempDir()) / ("vexalo_rom_test_" + name)) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

   private:
    fs::path path_;
};

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Input states held for the joypads, as a script or a test holds them.
struct HeldStates : StateSource {
    InputStateSet states = 0;
    InputStateSet States() override { return states; }
};

// A joypad device fed only by HeldStates, attached to pad `p` of the machine.
struct TestPad {
    InputDevice device;
    HeldStates held;
    void Attach(Machine& m, int p) {
        device.SetScriptedSource(&held);
        m.pads.device[p] = &device;
    }
};

// ---------------------------------------------------------------------------------------------
// CPU

TEST(CpuTestCartridge, PassesEverySelfCheck) {
    CartridgeRun run;
    ASSERT_TRUE(run.Start(TestCartridgePath("cpu_test")));
    run.RunFrames(30);
    EXPECT_TRUE(run.SelfCheckPassed());
    // Afterwards it counts its NMIs: exactly one per frame.
    const uint8_t before = run.Ram(0x0700);
    run.RunFrames(25);
    EXPECT_EQ(uint8_t(run.Ram(0x0700) - before), 25);
}

TEST(CpuTestCartridge, IrqWhileMaskedIsLostAndUnmaskedIrqIsTakenOnce) {
    CartridgeRun run;
    ASSERT_TRUE(run.Start(TestCartridgePath("irq_test")));
    run.RunFrames(20);
    EXPECT_TRUE(run.SelfCheckPassed());
}

TEST(UndocumentedOpcodeCartridges, PassEverySelfCheck) {
    for (const char* name : {"undocumented_rmw_test", "undocumented_test"}) {
        SCOPED_TRACE(name);
        CartridgeRun run;
        ASSERT_TRUE(run.Start(TestCartridgePath(name)));
        run.RunFrames(5);
        EXPECT_TRUE(run.SelfCheckPassed());
    }
}

TEST(JamCartridge, AJamStopsTheCpuUntilResetWithOneLogLine) {
    CartridgeRun run;
    ASSERT_TRUE(run.Start(TestCartridgePath("jam_test")));
    run.RunFrames(3);
    const uint16_t jam = run.m().cpu.PC;
    run.RunFrames(5);
    EXPECT_TRUE(run.m().cpu.Jammed);
    EXPECT_EQ(run.m().cpu.PC, jam);
    EXPECT_EQ(CartridgeByte(run.m(), jam), 0x02);
    EXPECT_EQ(run.Ram(0x0301), 1);  // reached
    EXPECT_EQ(run.Ram(0x0302), 0);  // nothing after it ran
    EXPECT_EQ(run.Ram(0x0303), 0);  // no NMI taken, though enabled
    char line[32];
    std::snprintf(line, sizeof line, "CPU jammed at $%04X", jam);
    EXPECT_EQ(run.CountLogLines(line), 1) << run.LogText();
    EXPECT_TRUE(run.m().running);  // the machine goes on; only the CPU waits

    run.engine().ResetEngine();
    EXPECT_FALSE(run.m().cpu.Jammed);
    run.RunFrames(2);
    EXPECT_EQ(run.Ram(0x0300), 2);  // started again from the reset vector
    EXPECT_EQ(run.CountLogLines(line), 2);
}

TEST(ReadModifyWriteCartridge, APpuDataTargetSeesBothWrites) {
    CartridgeRun run;
    ASSERT_TRUE(run.Start(TestCartridgePath("rmw_write_test")));
    run.RunFrames(2);
    const uint8_t expected[8] = {0x40, 0x40, 0x41, 0x70, 0x70, 0x6F, 0xA0, 0xB0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(run.Ram(uint16_t(0x0300 + i)), expected[i]) << i;
}

TEST(VblankPollCartridge, APollUnderWaySeesTheFlagBeforeTheNmiClearsIt) {
    CartridgeRun run;
    ASSERT_TRUE(run.Start(TestCartridgePath("vblank_poll_test")));
    run.RunFrames(12);
    EXPECT_GE(run.Ram(0x0300), 10);  // an NMI each frame
    EXPECT_GE(run.Ram(0x0301), 1);
    EXPECT_LE(run.Ram(0x0302), 10);  // first seen within ten frames
}

// ---------------------------------------------------------------------------------------------
// Memory map

TEST(NromMirroringCartridge, MirrorsAndUnmappedAccessesAreLoggedOnce) {
    CartridgeRun run;
    ASSERT_TRUE(run.Start(TestCartridgePath("nrom_mirroring")));
    run.RunFrames(5);
    EXPECT_TRUE(run.SelfCheckPassed());
    run.RunFrames(5);  // the cartridge now idles and touches nothing more

    EXPECT_EQ(run.CountLogLines("Ignore read at address $2008"), 1);
    EXPECT_EQ(run.CountLogLines("Ignore read at address $2000"), 1);
    EXPECT_EQ(run.CountLogLines("Ignore read at address $4014"), 1);
    EXPECT_EQ(run.CountLogLines("Ignore write at address $4018"), 1);
    EXPECT_EQ(run.CountLogLines("Ignore write at address $3456"), 1);
    EXPECT_EQ(run.LogLinesStartingWith("Ignore ").size(), 5u) << run.LogText();
}

// ---------------------------------------------------------------------------------------------
// Battery memory

TEST(BatteryCartridge, StartCounterSurvivesInTheBatteryFile) {
    ScratchFolder folder("battery");
    const fs::path image = folder.path() / "battery_test.nes";
    fs::copy_file(TestCartridgePath("battery_test"), image);
    const fs::path save = folder.path() / "battery_test.sav";

    CartridgeRun run;
    ASSERT_TRUE(run.Start(image.string()));
    run.RunFrames(10);
    EXPECT_EQ(run.Wram(0x6000), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&run.m().cart.backedMemory[1]), 6),
              "VEXALO");
    EXPECT_EQ(run.Wram(0x7FFF), 0xA5);
    const uint16_t framesFirstRun = run.WramWord(0x6010);
    EXPECT_GE(framesFirstRun, 8);
    EXPECT_FALSE(fs::exists(save));

    run.engine().FreeRom(FreeRomCall::IfStarted);
    EXPECT_EQ(run.CountLogLines("Saving backed memory file \"battery_test.sav\"."), 1);
    const std::vector<uint8_t> saved = ReadFile(save);
    ASSERT_EQ(saved.size(), 8192u);
    EXPECT_EQ(saved[0], 1);
    EXPECT_EQ(std::string(saved.begin() + 1, saved.begin() + 7), "VEXALO");
    EXPECT_EQ(saved[0x1FFF], 0xA5);
    EXPECT_EQ(saved[0x10] | saved[0x11] << 8, framesFirstRun);
    EXPECT_EQ(run.Wram(0x6000), 0) << "cartridge RAM is cleared when the cartridge is freed";

    // The second start finds the file: the counter goes on, so does the frame count.
    ASSERT_TRUE(run.Start(image.string()));
    EXPECT_EQ(run.CountLogLines("Loading backed memory file \"battery_test.sav\"."), 1);
    run.RunFrames(10);
    EXPECT_EQ(run.Wram(0x6000), 2);
    EXPECT_GT(run.WramWord(0x6010), framesFirstRun);

    // A reset starts the program again on the same memory.
    run.engine().Reset();
    run.RunFrames(3);
    EXPECT_EQ(run.Wram(0x6000), 3);
    run.engine().FreeRom(FreeRomCall::IfStarted);
    EXPECT_EQ(ReadFile(save).at(0), 3);
}

TEST(BatteryCartridge, CartridgeWithoutBatteryWritesNoFile) {
    ScratchFolder folder("no_battery");
    const fs::path image = folder.path() / "nrom_mirroring.nes";
    fs::copy_file(TestCartridgePath("nrom_mirroring"), image);
    CartridgeRun run;
    ASSERT_TRUE(run.Start(image.string()));
    run.RunFrames(5);
    EXPECT_EQ(run.Wram(0x7000), 0x5E) << "cartridge RAM works without a battery";
    run.engine().FreeRom(FreeRomCall::IfStarted);
    EXPECT_FALSE(fs::exists(folder.path() / "nrom_mirroring.sav"));
    EXPECT_TRUE(run.LogLinesStartingWith("Saving backed memory").empty());
}

// ---------------------------------------------------------------------------------------------
// Picture

// The picture ppu_test builds, made from its description (see ppu_test.s) rather than from the
// renderer: background tiles and attributes, the scroll split, then the sprites from 63 down to 0.
class PpuTestPicture {
   public:
    static constexpr const char* kGlyph[8] = {"3.......", "33......", "3.3.....", "3..3....",
                                              "3...3...", "3....3..", "3.....3.", "12121212"};
    static constexpr int kSplitLine = 124;  // sprite 0 at 120, last opaque row 3: 120 + 3 + 1
    static constexpr int kSplitScroll = 19;

    PpuTestPicture() {
        for (int y = kFirstDrawnLine; y <= kLastDrawnLine; ++y)
            for (int x = 0; x < kScreenWidth; ++x) pixels_[y][x] = Background(x, y);
        struct Sprite {
            int y, tile, attributes, x;
        };
        // Sprite n at index n; 6 is written through OAMDATA.
        const Sprite sprites[8] = {{120, 2, 0x00, 240}, {40, 1, 0x01, 100}, {40, 1, 0x42, 120},
                                   {56, 1, 0x83, 100},  {92, 3, 0x20, 12},  {16, 3, 0x21, 32},
                                   {64, 1, 0x00, 200},  {44, 3, 0x02, 104}};
        for (int n = 7; n >= 0; --n) {
            const Sprite& s = sprites[n];
            for (int r = 0; r < 8; ++r)
                for (int k = 0; k < 8; ++k) {
                    const int row = (s.attributes & 0x80) ? 7 - r : r;
                    const int column = (s.attributes & 0x40) ? 7 - k : k;
                    const int colour = SpriteColour(s.tile, row, column);
                    const int x = s.x + k, y = s.y + r;
                    if (colour == 0 || x > 255 || y > kLastDrawnLine) continue;
                    if ((s.attributes & 0x20) && (pixels_[y][x] & 3) != 0) continue;
                    pixels_[y][x] = uint8_t(16 + 4 * (s.attributes & 3) + colour);
                }
        }
    }

    uint8_t At(int x, int y) const { return pixels_[y][x]; }

    static int GlyphColour(int row, int column) {
        const char c = kGlyph[row][column];
        return c == '.' ? 0 : c - '0';
    }

   private:
    // Tile colour at a name-table position (columns 0-31, rows 0-29), and its palette.
    static int TileColour(int column, int row, int fineX, int fineY) {
        if (row == 2 && (column == 2 || column == 4)) return GlyphColour(fineY, fineX);
        if (row == 18 && column == 10) return GlyphColour(fineY, fineX);
        if (row == 12) return 1 + column % 3;
        if ((row == 15 || row == 16) && column == 0) return 1;
        return 0;
    }
    static int Palette(int column, int row) {
        int attribute = 0;
        if (row < 4 && column < 4) attribute = 0xC0;
        if (row < 4 && column >= 4 && column < 8) attribute = 0x30;
        if (row >= 12 && row < 16) attribute = (0xFFAA5500u >> (8 * ((column >> 2) & 3))) & 0xFF;
        const int shift = (column & 2) + 2 * (row & 2);
        return (attribute >> shift) & 3;
    }
    static uint8_t Background(int x, int y) {
        const int scroll = y >= kSplitLine + 2 ? kSplitScroll : 0;
        const int tableX = (x + scroll) & 255;  // both name tables hold the same bytes
        const int column = tableX >> 3, row = y >> 3;
        return uint8_t(4 * Palette(column, row) + TileColour(column, row, tableX & 7, y & 7));
    }
    static int SpriteColour(int tile, int row, int column) {
        switch (tile) {
            case 1: return GlyphColour(row, column);
            case 2: return row < 4 ? 1 : 0;
            case 3: return 3;
            default: return 0;
        }
    }

    uint8_t pixels_[kScreenHeight][kScreenWidth] = {};
};

TEST(PpuTestCartridge, DrawsTheDescribedPicture) {
    CartridgeRun run;
    ASSERT_TRUE(run.Start(TestCartridgePath("ppu_test")));
    run.RunFrames(12);

    const PpuTestPicture expected;
    int wrong = 0;
    std::string firstWrong;
    for (int y = kFirstDrawnLine; y <= kLastDrawnLine; ++y)
        for (int x = 0; x < kScreenWidth; ++x)
            if (run.Pixel(x, y) != expected.At(x, y)) {
                if (++wrong <= 10)
                    firstWrong += " (" + std::to_string(x) + "," + std::to_string(y) +
                                  ")=" + std::to_string(run.Pixel(x, y)) + " not " +
                                  std::to_string(expected.At(x, y));
            }
    EXPECT_EQ(wrong, 0) << "first differences:" << firstWrong;

    // A few landmarks spelled out, so that a failure above reads quickly.
    EXPECT_EQ(run.Pixel(16, 16), 12 + 3) << "glyph corner, palette 3";
    EXPECT_EQ(run.Pixel(17, 16), 12) << "colour 0 of palette 3 is entry 12";
    EXPECT_EQ(run.Pixel(33, 16), 16 + 4 + 3) << "behind-background sprite over colour 0";
    EXPECT_EQ(run.Pixel(32, 16), 12 + 3) << "behind-background sprite under colour 3";
    EXPECT_EQ(run.Pixel(0, 125), 1) << "last line before the split";
    EXPECT_EQ(run.Pixel(0, 126), 0) << "first line after the split";
    EXPECT_EQ(run.Pixel(237, 126), 1) << "column 0 wraps in from the mirrored name table";
    EXPECT_EQ(run.Pixel(240, 120), 17) << "sprite 0";
}

TEST(PpuTestCartridge, RegisterReadBacksPaletteAndSpriteZeroPolling) {
    CartridgeRun run;
    ASSERT_TRUE(run.Start(TestCartridgePath("ppu_test")));
    run.RunFrames(12);

    EXPECT_EQ(run.Ram(0x0300), 0xFF) << "first PPUDATA read after an address is a dummy";
    EXPECT_EQ(run.Ram(0x0301), 0x5A);
    EXPECT_EQ(run.Ram(0x0302), 0xFF);
    EXPECT_EQ(run.Ram(0x0303), 0x5A) << "$2F80 mirrors $2B80; the last two address bytes count";

    const uint8_t frames = run.Ram(0x0306);
    const uint8_t hits = run.Ram(0x0304);
    EXPECT_GE(frames, 8);
    EXPECT_TRUE(hits == frames || hits + 1 == frames)
        << "sprite-0 flag seen in " << int(hits) << " of " << int(frames) << " frames";
    EXPECT_EQ(run.Ram(0x0305), 0x40) << "PPUSTATUS when the flag was seen";

    // Palette entry i was written $10 + i, then $0F at $3F10 replaced every colour 0.
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(run.m().ppu.vram[0x3F00 + i], i % 4 == 0 ? 0x0F : 0x10 + i) << "entry " << i;
}

// ---------------------------------------------------------------------------------------------
// Joypads

TEST(JoypadTestCartridge, ReadsBothPadsEveryFrame) {
    CartridgeRun run;
    TestPad pad1, pad2;
    pad1.Attach(run.m(), 0);
    pad2.Attach(run.m(), 1);
    ASSERT_TRUE(run.Start(TestCartridgePath("joypad_test")));

    pad1.held.states = StateBit(StateButton3) | StateBit(StateLeft);   // Start, Left
    pad2.held.states = StateBit(StateButton1) | StateBit(StateRight);  // A, Right
    run.RunFrames(3);
    EXPECT_EQ(run.Ram(0x0300), 0x48);
    EXPECT_EQ(run.Ram(0x0301), 0x81);
    EXPECT_EQ(run.Ram(0x0302), 0) << "ninth read: A of pad 1, not held";
    EXPECT_EQ(run.Ram(0x0304), 0x48) << "reads without a new strobe wrap after eight";

    // A, B, Select (Button 4) and Up on pad 1; pad 2 released.
    pad1.held.states = StateBit(StateButton1) | StateBit(StateButton2) | StateBit(StateButton4) |
                       StateBit(StateUp);
    pad2.held.states = 0;
    const uint8_t frame = run.Ram(0x0303);
    run.RunFrames(2);
    EXPECT_EQ(run.Ram(0x0300), 0x17);
    EXPECT_EQ(run.Ram(0x0301), 0x00);
    EXPECT_EQ(run.Ram(0x0302), 1);
    EXPECT_EQ(run.Ram(0x0304), 0x17);
    EXPECT_EQ(uint8_t(run.Ram(0x0303) - frame), 2);
    // Each frame's reading is the state sampled at line 8 of that frame.
    EXPECT_EQ(run.Ram(0x0400 + uint8_t(frame - 1)), 0x48);
    EXPECT_EQ(run.Ram(0x0400 + frame), 0x17);
    EXPECT_EQ(run.Ram(0x0500 + uint8_t(frame - 1)), 0x81);
    EXPECT_EQ(run.Ram(0x0500 + frame), 0x00);
}

// ---------------------------------------------------------------------------------------------
// Sound

struct Note {
    uint8_t status, data1, data2;
    uint64_t frame;
    bool operator==(const Note&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Note& n) {
    return os << "$" << CartridgeRun::Hex(n.status) << " " << int(n.data1) << " " << int(n.data2)
              << " @" << n.frame;
}

// The MIDI note the machine plays for a frequency: 12 log2(f / 440 x 32), truncated, + 9;
// nothing outside 10-14000 Hz.
int NoteOf(int frequency) {
    if (frequency < 10 || frequency > 14000) return -1;
    return static_cast<int>(12.0 * std::log2(frequency * 32.0 / 440.0)) + 9;
}

// What sound_test.s plays, worked out from its register writes.
std::vector<Note> SoundTestScore() {
    std::vector<Note> score;
    const uint8_t programs[4] = {81, 81, 81, 119};
    for (int c = 0; c < 4; ++c) score.push_back({uint8_t(0xC0 + c), programs[c], 0, 0});

    int lastNote[4] = {};
    auto play = [&](int channel, int frequency, uint64_t frame) {
        const int note = NoteOf(frequency);
        if (note < 0) return;
        score.push_back({uint8_t(0x90 + channel), uint8_t(note), 64, frame});
        score.push_back({uint8_t(0x80 + channel), uint8_t(lastNote[channel]), 0, frame});
        lastNote[channel] = note;
    };
    auto off = [&](int channel, uint64_t frame) {
        score.push_back({uint8_t(0x80 + channel), uint8_t(lastNote[channel]), 0, frame});
    };

    // Frame 0: the high registers come first with period 0 (silent), then the low registers.
    play(0, 111860 / (253 + 1), 0);
    int period1 = 200;
    play(1, 111860 / (period1 + 1), 0);
    play(2, 111860 / (126 + 1), 0);
    play(3, 111860 / (15 + 1), 0);
    // One sound step a frame from frame 1: square 2 sweeps down by 7 (frequency masked to
    // 0-1023); lengths: squares 16, triangle 33, noise 5. Frame 10's NMI silences triangle
    // and noise.
    for (uint64_t frame = 1; frame <= 16; ++frame) {
        if (frame == 16) off(0, frame);
        period1 -= 7;
        play(1, (111860 / (period1 + 1)) & 1023, frame);
        if (frame == 16) off(1, frame);
        if (frame == 5) off(3, frame);
        if (frame == 10) {
            off(2, frame);
            off(3, frame);
        }
    }
    return score;
}

TEST(SoundTestCartridge, PlaysTheScoreAsMidiMessages) {
    CartridgeRun run;
    MidiRecorder recorder(&run.m().framesCompleted);
    run.m().sound.output = &recorder;
    ASSERT_TRUE(run.Start(TestCartridgePath("sound_test")));
    ASSERT_TRUE(run.m().sound.midiOpen);
    run.RunFrames(24);

    std::vector<Note> played;
    for (const MidiEvent& e : recorder.ShortMessages())
        played.push_back({e.status, e.data1, e.data2, e.frame});
    const std::vector<Note> expected = SoundTestScore();
    EXPECT_EQ(played, expected);

    // Square 1 at period 253 is A 440: note-on $90 69 64 after the program changes.
    ASSERT_GE(played.size(), 5u);
    EXPECT_EQ(played[4], (Note{0x90, 69, 64, 0}));

    // $4015 as the cartridge read it at each frame's NMI: noise ends after 5 frames, the
    // triangle is switched off at frame 10 (after that frame's reading), the squares end at 16.
    for (int frame = 1; frame < 24; ++frame) {
        const uint8_t status = frame < 5 ? 0x0F : frame <= 10 ? 0x07 : frame < 16 ? 0x03 : 0x00;
        EXPECT_EQ(run.Ram(0x0400 + frame), status) << "frame " << frame;
    }
    run.engine().FreeRom(FreeRomCall::IfStarted);
}

// ---------------------------------------------------------------------------------------------
// The benchmark's load

TEST(BusyCartridge, RunsFullFramesAndDrawsAMovingScreen) {
    CartridgeRun run;
    ASSERT_TRUE(run.Start(TestCartridgePath("busy")));
    run.RunFrames(30);
    const uint16_t frames = run.RamWord(0x0700);
    const uint32_t rounds = run.RamWord(0x0702) | uint32_t(run.Ram(0x0704)) << 16;
    const FrameBuffer before = run.Frame();
    run.RunFrames(30);
    EXPECT_EQ(uint16_t(run.RamWord(0x0700) - frames), 30);
    const uint32_t roundsAfter = run.RamWord(0x0702) | uint32_t(run.Ram(0x0704)) << 16;
    // A round is about 60 cycles, a frame 29768: some hundreds of rounds a frame.
    EXPECT_GT(roundsAfter - rounds, 30u * 200u);
    EXPECT_GE(run.DistinctDrawnValues(), 8);
    EXPECT_GT(DifferingPixels(before, run.Frame()), 1000) << "the picture scrolls";
}

// ---------------------------------------------------------------------------------------------
// The demo

TEST(DemoCartridge, DrawsPlaysAndAnswersTheJoypad) {
    CartridgeRun run;
    MidiRecorder recorder(&run.m().framesCompleted);
    run.m().sound.output = &recorder;
    TestPad pad;
    pad.Attach(run.m(), 0);
    ASSERT_TRUE(run.Start(VEXALO_DEMO_ROM));
    run.RunFrames(60);

    EXPECT_FALSE(run.DrawnRowsUniform());
    EXPECT_GE(run.DistinctDrawnValues(), 6);
    const FrameBuffer before = run.Frame();
    run.RunFrames(1);
    EXPECT_GT(DifferingPixels(before, run.Frame()), 0) << "something moves every frame";

    // The tune: notes on square 1 and on the triangle.
    int melody = 0, bass = 0;
    for (const MidiEvent& e : recorder.ShortMessages()) {
        melody += e.status == 0x90;
        bass += e.status == 0x92;
    }
    EXPECT_GE(melody, 3);
    EXPECT_GE(bass, 1);

    // Right on joypad 1 moves the ship (sprites 5-8) two pixels a frame.
    const uint8_t shipX = run.m().ppu.oam[5 * 4 + 3];
    pad.held.states = StateBit(StateRight);
    run.RunFrames(10);
    pad.held.states = 0;
    run.RunFrames(1);
    EXPECT_EQ(run.m().ppu.oam[5 * 4 + 3], shipX + 20);
    run.engine().FreeRom(FreeRomCall::IfStarted);
}

// ---------------------------------------------------------------------------------------------
// Outside cartridges

// Runs recorded from these cartridges: the picture and the work RAM after a number of whole
// frames, as checksums. A change to what the machine does shows as a changed checksum; a run
// that is meant to differ is recorded anew after its picture was looked at (vexalo-run
// --snapshot).
struct RecordedRun {
    const char* image;
    int frames;
    uint64_t frame;  // FrameChecksum
    uint64_t ram;    // RamChecksum
};

void PrintTo(const RecordedRun& run, std::ostream* out) {
    *out << run.image;
}

class OutsideCartridge : public ::testing::TestWithParam<RecordedRun> {};

TEST_P(OutsideCartridge, DrawsAndHoldsWhatWasRecorded) {
    const RecordedRun& recorded = GetParam();
    const std::string path = SharedCartridgePath(recorded.image);
    if (path.empty()) GTEST_SKIP() << recorded.image << " is not in " << VEXALO_SHARED_ROM_DIR;
    CartridgeRun run;
    ASSERT_TRUE(run.Start(path));
    // None of them executes a BRK: one would mean the program went astray.
    int brks = 0;
    run.engine().Run(int64_t(recorded.frames) * kLinesPerFrame, [&](const CpuState& cpu) {
        if (MachineBus{run.m()}.FetchByte(cpu.PC) == 0x00) ++brks;
    });
    EXPECT_EQ(brks, 0);
    EXPECT_EQ(run.m().framesCompleted, uint64_t(recorded.frames));
    EXPECT_TRUE(run.m().running);
    EXPECT_FALSE(run.DrawnRowsUniform()) << "nothing drawn";
    EXPECT_EQ(run.FrameChecksum(), recorded.frame) << std::hex << "0x" << run.FrameChecksum();
    EXPECT_EQ(run.RamChecksum(), recorded.ram) << std::hex << "0x" << run.RamChecksum();
}

// lunarlimit uses undocumented opcodes throughout, and hello_mmc1 resets its mapper with an INC
// of a $FF byte (the read-modify-write's first write).
INSTANTIATE_TEST_SUITE_P(
    Homebrew, OutsideCartridge,
    ::testing::Values(RecordedRun{"robotfindskitten.nes", 60, 0x7cf58d643662500f,
                                  0x818698f0a5e7e124},
                      RecordedRun{"mappers.nes", 60, 0x30fa531ac83e9e0, 0xfb2a57ae965449b7},
                      RecordedRun{"hello_mmc3.nes", 60, 0x95af983ce5cb47fd, 0xc4cf2b452d8eef66},
                      RecordedRun{"lunarlimit.nes", 600, 0xefe5a1b2a53c7975, 0x44b843a78b74fecd},
                      RecordedRun{"hello_mmc1.nes", 600, 0xd700a0db0b0d73fc, 0x67588dcbc0388475}));

}  // namespace
}  // namespace vexalo
