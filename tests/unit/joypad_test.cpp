// The joypad ports as the console program sees them: strobe writes and serial reads through the
// memory map, sampled from each player's input device.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "input/input_device.h"
#include "input/input_script.h"
#include "input/joypad.h"
#include "machine/bus.h"
#include "machine/machine.h"

namespace vexalo {
namespace {

// Windows virtual-key codes used below.
constexpr int kVkReturn = 13;
constexpr int kVkLeft = 37;
constexpr int kVkRight = 39;
constexpr int kVkSpace = 32;

// Pad bits.
constexpr uint8_t kPadA = 0x01, kPadB = 0x02, kPadSelect = 0x04, kPadStart = 0x08, kPadUp = 0x10,
                  kPadDown = 0x20, kPadLeft = 0x40, kPadRight = 0x80;

class FakeJoystick : public JoystickSource {
   public:
    JoystickReading reading;
    int polls = 0;
    JoystickReading Poll() override {
        ++polls;
        return reading;
    }
};

// A machine whose two joypads are fed from one shared key table, bound by the settings.
class JoypadTest : public ::testing::Test {
   protected:
    void SetUp() override {
        m = std::make_unique<Machine>();
        for (int p = 0; p < 2; ++p) {
            devices[p].SetKeyboard(&keys);
            m->pads.device[p] = &devices[p];
        }
        ApplyKeyBindings(*m);
    }

    void Write(uint16_t address, uint8_t value) { MachineBus{*m}.WriteByte(address, value); }
    uint8_t Read(uint16_t address) { return MachineBus{*m}.ReadByte(address); }
    void Strobe() {
        Write(0x4016, 1);
        Write(0x4016, 0);
    }
    std::vector<int> ReadBits(uint16_t address, int count) {
        std::vector<int> bits;
        for (int i = 0; i < count; ++i) bits.push_back(Read(address));
        return bits;
    }
    void Press(std::initializer_list<int> codes) {
        keys = {};
        for (int code : codes) keys[static_cast<size_t>(code)] = true;
        PollJoypads(*m);
    }

    std::unique_ptr<Machine> m;
    KeyTable keys{};
    InputDevice devices[2];
};

TEST_F(JoypadTest, SerialReadsReturnButtonsInOrderAndWrapAfterEight) {
    Press({kVkReturn});  // player 1's Start
    Strobe();
    EXPECT_EQ(ReadBits(0x4016, 8), (std::vector<int>{0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(Read(0x4016), 0);  // ninth read: A again
    EXPECT_EQ(Read(0x4016), 0);  // B
    EXPECT_EQ(Read(0x4016), 0);  // Select
    EXPECT_EQ(Read(0x4016), 1);  // Start

    // A pattern with buttons at both ends: every read is 0 or 1, bit by bit, twice round.
    Press({kVkSpace, kVkRight, 9 /* Tab: Select */});
    EXPECT_EQ(m->pads.padState[0], kPadA | kPadSelect | kPadRight);
    Strobe();
    const std::vector<int> once = {1, 0, 1, 0, 0, 0, 0, 1};
    std::vector<int> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(ReadBits(0x4016, 16), twice);
}

TEST_F(JoypadTest, OnlyAFallingStrobeEdgeRewindsBothPads) {
    Press({kVkSpace, 16 /* Shift: player 2's A */});
    Strobe();
    EXPECT_EQ(Read(0x4016), 1);
    EXPECT_EQ(Read(0x4017), 1);
    EXPECT_EQ(Read(0x4017), 0);

    // 0 after 0: no edge, both keep their positions.
    Write(0x4016, 0);
    EXPECT_EQ(m->pads.padReadIndex[0], 1);
    EXPECT_EQ(m->pads.padReadIndex[1], 2);

    // Writing 1 alone rewinds nothing; the following 0 rewinds both.
    Write(0x4016, 1);
    EXPECT_EQ(m->pads.padReadIndex[0], 1);
    EXPECT_EQ(m->ioRegisterImage[0x16], 1);
    Write(0x4016, 0);
    EXPECT_EQ(m->pads.padReadIndex[0], 0);
    EXPECT_EQ(m->pads.padReadIndex[1], 0);
    EXPECT_EQ(m->ioRegisterImage[0x16], 0);

    // Only bit 0 is the strobe: $FE after $01 is a falling edge, $03 after $01 is not.
    Read(0x4016);
    Write(0x4016, 0x01);
    Write(0x4016, 0x03);
    EXPECT_EQ(m->pads.padReadIndex[0], 1);
    Write(0x4016, 0xFE);
    EXPECT_EQ(m->pads.padReadIndex[0], 0);

    // $4017 writes never touch the joypads.
    Read(0x4017);
    Write(0x4017, 1);
    Write(0x4017, 0);
    EXPECT_EQ(m->pads.padReadIndex[1], 1);
}

TEST_F(JoypadTest, ReadsWithStrobeHeldHighStillAdvanceAndWrap) {
    Press({kVkSpace, 40 /* Down */});
    Write(0x4016, 1);
    const std::vector<int> once = {1, 0, 0, 0, 0, 1, 0, 0};
    EXPECT_EQ(ReadBits(0x4016, 8), once);
    EXPECT_EQ(ReadBits(0x4016, 8), once);
}

TEST_F(JoypadTest, ReadsOf4017AdvanceOnlyPlayerTwo) {
    Press({kVkSpace, 16});
    Strobe();
    EXPECT_EQ(ReadBits(0x4017, 5), (std::vector<int>{1, 0, 0, 0, 0}));
    EXPECT_EQ(m->pads.padReadIndex[0], 0);
    EXPECT_EQ(m->pads.padReadIndex[1], 5);
    EXPECT_EQ(Read(0x4016), 1);  // player 1 still at A
}

TEST_F(JoypadTest, OppositeDirectionsMayBeHeldTogether) {
    Press({kVkLeft, kVkRight, 38, 40});
    EXPECT_EQ(m->pads.padState[0], kPadLeft | kPadRight | kPadUp | kPadDown);
}

TEST_F(JoypadTest, SampleChangesOnlyAtPollAndDoesNotRewind) {
    Press({kVkSpace});
    Strobe();
    EXPECT_EQ(Read(0x4016), 1);
    keys = {};
    keys[kVkReturn] = true;  // pressed after the sample: not seen yet
    EXPECT_EQ(ReadBits(0x4016, 7), (std::vector<int>{0, 0, 0, 0, 0, 0, 0}));
    PollJoypads(*m);
    // Mid-sequence reads see the new sample at the current position.
    EXPECT_EQ(ReadBits(0x4016, 4), (std::vector<int>{0, 0, 0, 1}));
}

TEST_F(JoypadTest, DefaultBindingsPressTheirButtons) {
    struct Case {
        int player;
        int key;
        uint8_t bit;
    };
    const Case cases[] = {
        {0, 38, kPadUp},  {0, 40, kPadDown},  {0, 37, kPadLeft},   {0, 39, kPadRight},
        {0, 32, kPadA},   {0, 17, kPadB},     {0, 13, kPadStart},  {0, 9, kPadSelect},
        {1, 'E', kPadUp}, {1, 'X', kPadDown}, {1, 'S', kPadLeft},  {1, 'D', kPadRight},
        {1, 16, kPadA},   {1, 'Z', kPadB},    {1, 'Q', kPadStart}, {1, 'W', kPadSelect},
    };
    for (const Case& c : cases) {
        Press({c.key});
        EXPECT_EQ(m->pads.padState[c.player], c.bit) << "key " << c.key;
        EXPECT_EQ(m->pads.padState[1 - c.player], 0) << "key " << c.key;
    }
    // Escape is not bound by default.
    Press({27});
    EXPECT_EQ(m->pads.padState[0] | m->pads.padState[1], 0);
}

TEST_F(JoypadTest, CodesOutsideOneTo255NeverMatch) {
    m->settings.KeyBinding[0][BindA] = 0;
    m->settings.KeyBinding[0][BindB] = -1;
    m->settings.KeyBinding[0][BindStart] = 300;
    m->settings.KeyBinding[0][BindSelect] = 256;
    m->settings.KeyBinding[0][BindUp] = 255;
    ApplyKeyBindings(*m);
    keys.fill(true);
    PollJoypads(*m);
    EXPECT_EQ(m->pads.padState[0], kPadUp | kPadDown | kPadLeft | kPadRight);
}

TEST_F(JoypadTest, ApplyingBindingsReplacesEarlierAssignmentsAndJoystickSwitch) {
    devices[0].SetStateKeys(StateButton1, {'J', 'K', 'L'});
    devices[0].SetStateKeys(StateButton1 + 9, {'M'});
    devices[0].SetJoystickEnabled(true);
    m->settings.KeyBinding[0][BindA] = 'A';
    ApplyKeyBindings(*m);
    EXPECT_FALSE(devices[0].JoystickEnabled());
    Press({'J', 'K', 'L', 'M', kVkSpace});
    EXPECT_EQ(m->pads.padState[0], 0);
    EXPECT_FALSE(devices[0].State(StateButton1 + 9));
    Press({'A'});
    EXPECT_EQ(m->pads.padState[0], kPadA);
}

TEST_F(JoypadTest, OneJoystickDrivesBothPadsWhenBothEnabled) {
    FakeJoystick stick;
    stick.reading.present = true;
    stick.reading.x = 32767;      // full right
    stick.reading.buttons = 0x5;  // buttons 1 and 3: A and Start
    devices[0].SetJoystick(&stick);
    devices[1].SetJoystick(&stick);

    PollJoypads(*m);  // joysticks off by default
    EXPECT_EQ(m->pads.padState[0] | m->pads.padState[1], 0);
    EXPECT_EQ(stick.polls, 0);

    m->settings.joystickEnabled[0] = m->settings.joystickEnabled[1] = true;
    ApplyKeyBindings(*m);
    PollJoypads(*m);
    EXPECT_EQ(m->pads.padState[0], kPadRight | kPadA | kPadStart);
    EXPECT_EQ(m->pads.padState[1], kPadRight | kPadA | kPadStart);

    // Keyboard and joystick combine.
    Press({'E'});  // player 2's Up
    EXPECT_EQ(m->pads.padState[1], kPadRight | kPadA | kPadStart | kPadUp);

    m->settings.joystickEnabled[0] = false;
    ApplyKeyBindings(*m);
    Press({});
    EXPECT_EQ(m->pads.padState[0], 0);
    EXPECT_EQ(m->pads.padState[1], kPadRight | kPadA | kPadStart);
}

// A set of pads: one reading per player, and a line for the log at each refresh.
class FakePads : public JoystickSource {
   public:
    JoystickReading pads[2];
    std::vector<int> asked;  // the player of every poll, in order
    int refreshes = 0;
    void Refresh(Log& log) override {
        ++refreshes;
        log.Append("refresh " + std::to_string(refreshes));
    }
    JoystickReading PollPlayer(int player) override {
        asked.push_back(player);
        return pads[player];
    }
    JoystickReading Poll() override { return PollPlayer(0); }
};

TEST_F(JoypadTest, EachPlayerReadsItsOwnPadAndTheSourceIsRefreshedOncePerFrame) {
    FakePads pads;
    pads.pads[0].present = pads.pads[1].present = true;
    pads.pads[0].buttons = 0x1;  // Button 1: A
    pads.pads[1].buttons = 0x8;  // Button 4: Select
    pads.pads[1].x = -32768;     // full left
    devices[0].SetJoystick(&pads);
    devices[1].SetJoystick(&pads);

    // With both switches off nothing is read, but pads coming and going are still noticed.
    PollJoypads(*m);
    EXPECT_EQ(pads.refreshes, 1);
    EXPECT_TRUE(pads.asked.empty());
    EXPECT_EQ(m->log.Lines().back(), "refresh 1");

    m->settings.joystickEnabled[0] = m->settings.joystickEnabled[1] = true;
    ApplyKeyBindings(*m);
    PollJoypads(*m);
    EXPECT_EQ(pads.refreshes, 2);  // shared by both players, refreshed once
    EXPECT_EQ(pads.asked, (std::vector<int>{0, 1}));
    EXPECT_EQ(m->pads.padState[0], kPadA);
    EXPECT_EQ(m->pads.padState[1], kPadSelect | kPadLeft);

    // Two sources: each is refreshed.
    FakePads other;
    devices[1].SetJoystick(&other);
    PollJoypads(*m);
    EXPECT_EQ(pads.refreshes, 3);
    EXPECT_EQ(other.refreshes, 1);
    EXPECT_EQ(m->pads.padState[1], 0);
}

TEST_F(JoypadTest, BackgroundWindowReleasesEverything) {
    bool foreground = false;
    FakeJoystick stick;
    stick.reading.present = true;
    stick.reading.y = -32768;
    stick.reading.buttons = 0xF;
    InputScript script;
    std::string error;
    ASSERT_TRUE(ParseInputScript("0 1 SELECT\n0 2 B", script, error)) << error;
    auto scripted1 = std::make_unique<InputScriptSource>(script, 0, &m->framesCompleted);
    auto scripted2 = std::make_unique<InputScriptSource>(script, 1, &m->framesCompleted);
    devices[0].SetScriptedSource(scripted1.get());
    devices[1].SetScriptedSource(scripted2.get());
    for (auto& device : devices) {
        device.SetForegroundTest([&foreground] { return foreground; });
        device.SetJoystick(&stick);
    }
    m->settings.joystickEnabled[0] = m->settings.joystickEnabled[1] = true;
    ApplyKeyBindings(*m);

    Press({kVkReturn, kVkSpace, 'Q', 'W'});
    EXPECT_EQ(m->pads.padState[0], 0);
    EXPECT_EQ(m->pads.padState[1], 0);
    Strobe();
    EXPECT_EQ(ReadBits(0x4016, 8), std::vector<int>(8, 0));

    foreground = true;
    PollJoypads(*m);
    const uint8_t all = kPadA | kPadB | kPadSelect | kPadStart | kPadUp;
    EXPECT_EQ(m->pads.padState[0], all);
    EXPECT_EQ(m->pads.padState[1], all);
}

TEST_F(JoypadTest, ScriptedStatesFollowTheFrameCount) {
    InputScript script;
    std::string error;
    ASSERT_TRUE(ParseInputScript("120 1 START\n121 1 -\n200 2 a+right\n", script, error)) << error;
    auto scripted1 = std::make_unique<InputScriptSource>(script, 0, &m->framesCompleted);
    auto scripted2 = std::make_unique<InputScriptSource>(script, 1, &m->framesCompleted);
    devices[0].SetScriptedSource(scripted1.get());
    devices[1].SetScriptedSource(scripted2.get());

    const struct {
        uint64_t frame;
        uint8_t pad1, pad2;
    } expected[] = {{0, 0, 0},
                    {119, 0, 0},
                    {120, kPadStart, 0},
                    {121, 0, 0},
                    {199, 0, 0},
                    {200, 0, kPadA | kPadRight},
                    {100000, 0, kPadA | kPadRight}};
    for (const auto& e : expected) {
        m->framesCompleted = e.frame;
        PollJoypads(*m);
        EXPECT_EQ(m->pads.padState[0], e.pad1) << "frame " << e.frame;
        EXPECT_EQ(m->pads.padState[1], e.pad2) << "frame " << e.frame;
    }
    devices[0].SetScriptedSource(nullptr);
    devices[1].SetScriptedSource(nullptr);
}

TEST(JoypadPortTest, MissingDevicesAndStrayIndicesReadAsReleased) {
    auto m = std::make_unique<Machine>();
    m->pads.padState[0] = 0xFF;  // stale sample: the poll must clear it
    PollJoypads(*m);
    EXPECT_EQ(m->pads.padState[0], 0);
    ApplyKeyBindings(*m);  // no devices: nothing to do, nothing dereferenced
    MachineBus bus{*m};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(bus.ReadByte(0x4016), 0);

    // A read position outside 0-7 (never produced by the ports themselves) reads as released
    // and the index stays a byte.
    m->pads.padState[1] = 0xFF;
    m->pads.padReadIndex[1] = 200;
    EXPECT_EQ(ReadJoypad(*m, 1), 0);
    EXPECT_EQ(m->pads.padReadIndex[1], (201 & 0x17));
    EXPECT_EQ(ReadJoypad(*m, 2), 0);
    EXPECT_EQ(ReadJoypad(*m, -1), 0);
}

}  // namespace
}  // namespace vexalo
