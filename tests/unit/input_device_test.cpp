// The input device layer: key assignment, keyboard, joystick dead zone, foreground gating, and
// input scripts.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "input/input_device.h"
#include "input/input_script.h"

namespace vexalo {
namespace {

class FakeJoystick : public JoystickSource {
   public:
    JoystickReading reading;
    int polls = 0;
    JoystickReading Poll() override {
        ++polls;
        return reading;
    }
};

class FixedStates : public StateSource {
   public:
    explicit FixedStates(InputStateSet s) : states(s) {}
    InputStateSet states;
    InputStateSet States() override { return states; }
};

TEST(AssignStateKeysTest, ClearsAllThreeSlotsThenCopiesUpToThree) {
    KeyAssignmentTable table{};
    AssignStateKeys(table, StateLeft, {1, 2, 3});
    EXPECT_EQ(table[StateLeft], (std::array<int32_t, 3>{1, 2, 3}));

    AssignStateKeys(table, StateLeft, {9});
    EXPECT_EQ(table[StateLeft], (std::array<int32_t, 3>{9, 0, 0}));

    const std::vector<int32_t> many = {4, 5, 6, 7, 8};
    AssignStateKeys(table, StateButton32, many);
    EXPECT_EQ(table[StateButton32], (std::array<int32_t, 3>{4, 5, 6}));

    AssignStateKeys(table, StateLeft, std::span<const int32_t>{});
    EXPECT_EQ(table[StateLeft], (std::array<int32_t, 3>{0, 0, 0}));

    // Out-of-range states change nothing.
    const KeyAssignmentTable before = table;
    AssignStateKeys(table, -1, {1});
    AssignStateKeys(table, kInputStateCount, {1});
    EXPECT_EQ(table, before);
}

TEST(InputDeviceTest, KeyboardMatchesAnySlotOfAState) {
    KeyTable keys{};
    InputDevice device;
    device.SetKeyboard(&keys);
    device.SetStateKeys(StateButton1 + 20, {65, 66, 67});
    device.SetStateKeys(StateUp, {38});

    for (int code : {65, 66, 67}) {
        keys = {};
        keys[static_cast<size_t>(code)] = true;
        device.Update();
        EXPECT_EQ(device.States(), StateBit(StateButton1 + 20)) << code;
    }
    keys = {};
    keys[38] = true;
    keys[68] = true;
    device.Update();
    EXPECT_EQ(device.States(), StateBit(StateUp));
    EXPECT_TRUE(device.State(StateUp));
    EXPECT_FALSE(device.State(-1));
    EXPECT_FALSE(device.State(kInputStateCount));

    device.ClearKeyAssignments();
    keys.fill(true);
    device.Update();
    EXPECT_EQ(device.States(), 0u);
    for (const auto& slots : device.KeyAssignments()) {
        EXPECT_EQ(slots, (std::array<int32_t, 3>{0, 0, 0}));
    }
}

TEST(InputDeviceTest, WithoutSourcesNothingIsOn) {
    InputDevice device;
    device.SetStateKeys(StateUp, {38});
    device.SetJoystickEnabled(true);  // enabled, but no joystick attached to the device
    device.Update();
    EXPECT_EQ(device.States(), 0u);
}

TEST(JoystickStatesTest, DirectionsNeedMoreThanHalfTheHalfRange) {
    JoystickReading r;
    r.present = true;
    r.axisMin = 0;
    r.axisMax = 100;  // centre 50, half range 50

    const struct {
        int32_t x, y;
        InputStateSet expected;
    } cases[] = {
        {50, 50, 0},
        {75, 25, 0},  // exactly 50 %: not on
        {76, 50, StateBit(StateRight)},
        {24, 50, StateBit(StateLeft)},
        {50, 24, StateBit(StateUp)},
        {50, 76, StateBit(StateDown)},
        {0, 100, StateBit(StateLeft) | StateBit(StateDown)},
        {100, 0, StateBit(StateRight) | StateBit(StateUp)},
    };
    for (const auto& c : cases) {
        r.x = c.x;
        r.y = c.y;
        EXPECT_EQ(JoystickStates(r), c.expected) << c.x << "," << c.y;
    }

    // SDL's axis range -32768..32767 has its centre at -0.5.
    r.axisMin = -32768;
    r.axisMax = 32767;
    r.y = 0;
    r.x = 16383;
    EXPECT_EQ(JoystickStates(r), 0u);
    r.x = 16384;
    EXPECT_EQ(JoystickStates(r), StateBit(StateRight));
    r.x = -16384;
    EXPECT_EQ(JoystickStates(r), 0u);
    r.x = -16385;
    EXPECT_EQ(JoystickStates(r), StateBit(StateLeft));

    // A different dead zone moves the threshold.
    r.x = 10000;
    EXPECT_EQ(JoystickStates(r, 25), StateBit(StateRight));
    EXPECT_EQ(JoystickStates(r, 50), 0u);
}

TEST(JoystickStatesTest, ButtonsAbsenceAndDegenerateRanges) {
    JoystickReading r;
    r.present = true;
    r.x = r.y = 0;
    r.buttons = 0x80000005u;  // buttons 1, 3 and 32
    EXPECT_EQ(JoystickStates(r),
              StateBit(StateButton1) | StateBit(StateButton3) | StateBit(StateButton32));

    r.present = false;  // unplugged: whatever it last said counts for nothing
    r.x = 32767;
    EXPECT_EQ(JoystickStates(r), 0u);

    r.present = true;
    r.buttons = 0;
    r.axisMin = r.axisMax = 7;  // no range: no direction
    EXPECT_EQ(JoystickStates(r), 0u);
    r.axisMin = 10;
    r.axisMax = -10;
    EXPECT_EQ(JoystickStates(r), 0u);

    // The widest possible range computes without overflow.
    r.axisMin = INT32_MIN;
    r.axisMax = INT32_MAX;
    r.x = INT32_MAX;
    r.y = INT32_MIN;
    EXPECT_EQ(JoystickStates(r), StateBit(StateRight) | StateBit(StateUp));
    EXPECT_EQ(JoystickStates(r, 1000), 0u);  // dead zones beyond 100 % mean the whole range
    EXPECT_EQ(JoystickStates(r, -5), StateBit(StateRight) | StateBit(StateUp));
}

TEST(InputDeviceTest, SourcesCombineAndDisabledJoystickIsNotRead) {
    KeyTable keys{};
    FakeJoystick stick;
    stick.reading.present = true;
    stick.reading.x = -32768;
    stick.reading.buttons = 0x2;
    FixedStates scripted(StateBit(StateDown));
    InputDevice device;
    device.SetKeyboard(&keys);
    device.SetJoystick(&stick);
    device.SetScriptedSource(&scripted);
    device.SetStateKeys(StateButton1, {32});
    keys[32] = true;

    device.Update();
    EXPECT_EQ(stick.polls, 0);
    EXPECT_EQ(device.States(), StateBit(StateButton1) | StateBit(StateDown));

    device.SetJoystickEnabled(true);
    device.Update();
    EXPECT_EQ(stick.polls, 1);
    EXPECT_EQ(device.States(), StateBit(StateButton1) | StateBit(StateDown) | StateBit(StateLeft) |
                                   StateBit(StateButton2));

    // States beyond the 36 a source might report are dropped.
    scripted.states = ~InputStateSet{0};
    device.Update();
    EXPECT_EQ(device.States(), StateBit(kInputStateCount) - 1);
}

TEST(InputDeviceTest, BackgroundTurnsEveryStateOff) {
    KeyTable keys{};
    keys.fill(true);
    FakeJoystick stick;
    stick.reading.present = true;
    stick.reading.buttons = 0xFFFFFFFFu;
    FixedStates scripted(StateBit(StateUp));
    bool foreground = true;
    int asked = 0;
    InputDevice device;
    device.SetKeyboard(&keys);
    device.SetJoystick(&stick);
    device.SetJoystickEnabled(true);
    device.SetScriptedSource(&scripted);
    device.SetStateKeys(StateRight, {39});
    device.SetForegroundTest([&] {
        ++asked;
        return foreground;
    });

    device.Update();
    EXPECT_NE(device.States(), 0u);
    foreground = false;
    device.Update();
    EXPECT_EQ(device.States(), 0u);
    EXPECT_EQ(asked, 2);
    foreground = true;
    device.Update();
    EXPECT_TRUE(device.State(StateRight));
    EXPECT_TRUE(device.State(StateButton32));
}

// --- Input scripts ---

InputScript Parse(std::string_view text) {
    InputScript script;
    std::string error;
    EXPECT_TRUE(ParseInputScript(text, script, error)) << error;
    return script;
}

TEST(InputScriptTest, ParsesEntriesCommentsAndNames) {
    const InputScript script = Parse(
        "# demo run\n"
        "\n"
        "120 1 START        # press start\r\n"
        "  121\t1 -\n"
        "200 2 a+Right+select+B\n"
        "300 2 up+DOWN+left\n"
        "300 1 A");  // no final newline

    const InputStateSet start = StateBit(StateButton3);
    EXPECT_EQ(script.StatesAt(0, 0), 0u);
    EXPECT_EQ(script.StatesAt(0, 119), 0u);
    EXPECT_EQ(script.StatesAt(0, 120), start);
    EXPECT_EQ(script.StatesAt(0, 121), 0u);
    EXPECT_EQ(script.StatesAt(0, 299), 0u);
    EXPECT_EQ(script.StatesAt(0, 300), StateBit(StateButton1));
    EXPECT_EQ(script.StatesAt(0, UINT64_MAX), StateBit(StateButton1));

    EXPECT_EQ(script.StatesAt(1, 199), 0u);
    EXPECT_EQ(script.StatesAt(1, 200), StateBit(StateButton1) | StateBit(StateRight) |
                                           StateBit(StateButton4) | StateBit(StateButton2));
    EXPECT_EQ(script.StatesAt(1, 300),
              StateBit(StateUp) | StateBit(StateDown) | StateBit(StateLeft));

    EXPECT_EQ(script.StatesAt(2, 300), 0u);
    EXPECT_EQ(script.StatesAt(-1, 300), 0u);
}

TEST(InputScriptTest, LinesOutOfOrderAreSortedAndTheLaterDuplicateWins) {
    const InputScript script = Parse(
        "50 1 B\n"
        "10 1 A\n"
        "10 2 UP\n"
        "50 1 START\n"
        "18446744073709551615 1 LEFT\n");
    EXPECT_EQ(script.StatesAt(0, 9), 0u);
    EXPECT_EQ(script.StatesAt(0, 10), StateBit(StateButton1));
    EXPECT_EQ(script.StatesAt(0, 50), StateBit(StateButton3));
    EXPECT_EQ(script.StatesAt(0, UINT64_MAX - 1), StateBit(StateButton3));
    EXPECT_EQ(script.StatesAt(0, UINT64_MAX), StateBit(StateLeft));
    EXPECT_EQ(script.StatesAt(1, 1000), StateBit(StateUp));
    EXPECT_EQ(script.players[0].size(), 3u);
}

TEST(InputScriptTest, MalformedLinesAreRejectedWithTheirLineNumber) {
    const struct {
        const char* text;
        const char* expected;  // part of the message
    } cases[] = {
        {"120 1", "line 1: expected FRAME PLAYER BUTTONS"},
        {"# ok\n120 1 A B", "line 2: expected FRAME PLAYER BUTTONS"},
        {"\n\n12a 1 A", "line 3: bad frame number \"12a\""},
        {"-5 1 A", "line 1: bad frame number"},
        {"18446744073709551616 1 A", "line 1: bad frame number"},
        {"1 0 A", "line 1: player must be 1 or 2, found \"0\""},
        {"1 3 A", "line 1: player must be 1 or 2"},
        {"1 01 A", "line 1: player must be 1 or 2"},
        {"1 1 JUMP", "line 1: unknown button \"JUMP\""},
        {"1 1 A++B", "line 1: missing button name in \"A++B\""},
        {"1 1 A+", "line 1: missing button name"},
        {"1 1 +", "line 1: missing button name"},
        {"1 1 --", "line 1: unknown button \"--\""},
        {"1 1 A+-", "line 1: unknown button \"-\""},
        {"1 1 A\n2 1 START\n3 2 STRAT", "line 3: unknown button \"STRAT\""},
    };
    for (const auto& c : cases) {
        InputScript script = Parse("5 1 A");
        std::string error;
        EXPECT_FALSE(ParseInputScript(c.text, script, error)) << c.text;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << " -> " << error;
        // A refused script leaves the previous one as it was.
        EXPECT_EQ(script.StatesAt(0, 5), StateBit(StateButton1)) << c.text;
    }

    // Long garbage is cut short in the message.
    std::string error;
    InputScript script;
    EXPECT_FALSE(ParseInputScript(std::string(5000, 'x'), script, error));
    EXPECT_LT(error.size(), 200u);
}

TEST(InputScriptTest, EmptyTextIsAnEmptyScript) {
    const InputScript script = Parse("");
    EXPECT_TRUE(script.players[0].empty());
    EXPECT_TRUE(script.players[1].empty());
    EXPECT_EQ(Parse("\n# nothing\n   \n").StatesAt(0, 0), 0u);
}

TEST(InputScriptTest, LoadsFromAFileAndReportsAMissingOne) {
    const std::filesystem::path dir = ::testing::TempDir();
    const std::filesystem::path path = dir / "vexalo_input_script_test.txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << "3 2 SELECT\n";
    }
    InputScript script;
    std::string error;
    ASSERT_TRUE(LoadInputScript(path.string(), script, error)) << error;
    EXPECT_EQ(script.StatesAt(1, 3), StateBit(StateButton4));
    std::filesystem::remove(path);

    EXPECT_FALSE(LoadInputScript(path.string(), script, error));
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
    EXPECT_EQ(script.StatesAt(1, 3), StateBit(StateButton4));
}

TEST(InputScriptTest, SourceReadsTheClockOnEveryUpdate) {
    const InputScript script = Parse("10 1 A\n20 1 -\n15 2 B");
    uint64_t clock = 0;
    InputScriptSource player1(script, 0, &clock);
    InputScriptSource player2(script, 1, &clock);
    InputScriptSource unclocked(script, 1, nullptr);
    EXPECT_EQ(player1.States(), 0u);
    clock = 10;
    EXPECT_EQ(player1.States(), StateBit(StateButton1));
    EXPECT_EQ(player2.States(), 0u);
    clock = 15;
    EXPECT_EQ(player2.States(), StateBit(StateButton2));
    clock = 20;
    EXPECT_EQ(player1.States(), 0u);
    EXPECT_EQ(unclocked.States(), 0u);  // frame 0

    InputDevice device;
    device.SetScriptedSource(&player2);
    device.Update();
    EXPECT_EQ(device.States(), StateBit(StateButton2));
}

}  // namespace
}  // namespace vexalo
