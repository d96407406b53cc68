// Pads on SDL's virtual joysticks, read by the joypad test cartridge through the whole input path:
// SDL, the pad source, the players' input devices, the frame's sampling and the serial ports the
// console program reads. A pad with a game-controller mapping, a raw joystick without one, two
// pads for two players, and pads attached and detached while the machine runs.
#include <SDL.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "input/input_device.h"
#include "input/joypad.h"
#include "input/sdl_joystick.h"
#include "tests/platform/scoped_env.h"
#include "tests/unit/test_cartridge.h"

namespace vexalo {
namespace {

// Pad bits as the cartridge stores them: A in bit 0 ... Right in bit 7.
constexpr uint8_t kPadA = 0x01, kPadB = 0x02, kPadSelect = 0x04, kPadStart = 0x08, kPadUp = 0x10,
                  kPadDown = 0x20, kPadLeft = 0x40, kPadRight = 0x80;
// Where joypad_test keeps the bytes it read from each pad in the last frame.
constexpr uint16_t kPadByte[2] = {0x0300, 0x0301};

// A pad with every game-controller button and axis: SDL gives it a mapping in which virtual
// button n is controller button n and virtual axis n is controller axis n.
SDL_VirtualJoystickDesc ControllerDesc(const char* name) {
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.button_mask = (1u << SDL_CONTROLLER_BUTTON_MAX) - 1;
    desc.axis_mask = (1u << SDL_CONTROLLER_AXIS_MAX) - 1;
    desc.name = name;
    return desc;
}

// A joystick SDL knows no mapping for: two axes, six buttons, one hat. A mapping names a pad by
// its USB vendor and product, which `vendor` and `product` give (none by default).
SDL_VirtualJoystickDesc RawDesc(const char* name, uint16_t vendor = 0, uint16_t product = 0) {
    SDL_VirtualJoystickDesc desc{};
    desc.vendor_id = vendor;
    desc.product_id = product;
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_UNKNOWN;
    desc.naxes = 2;
    desc.nbuttons = 6;
    desc.nhats = 1;
    desc.name = name;
    return desc;
}

int DeviceIndexOf(SDL_JoystickID instance) {
    for (int index = 0; index < SDL_NumJoysticks(); ++index) {
        if (SDL_JoystickGetDeviceInstanceID(index) == instance) return index;
    }
    return -1;
}

// A virtual joystick attached from construction until Detach or destruction, moved through a
// handle of its own. Its new positions count from SDL's next joystick update, as a real pad's do.
class VirtualPad {
   public:
    explicit VirtualPad(const SDL_VirtualJoystickDesc& desc) {
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        if (index < 0) return;
        instance_ = SDL_JoystickGetDeviceInstanceID(index);
        handle_ = SDL_JoystickOpen(index);
    }
    ~VirtualPad() { Detach(); }
    VirtualPad(const VirtualPad&) = delete;
    VirtualPad& operator=(const VirtualPad&) = delete;

    bool Attached() const { return handle_ != nullptr; }
    bool Mapped() const { return SDL_IsGameController(DeviceIndexOf(instance_)) == SDL_TRUE; }
    void Button(int button, bool down) { SDL_JoystickSetVirtualButton(handle_, button, down); }
    void Axis(int axis, int16_t value) { SDL_JoystickSetVirtualAxis(handle_, axis, value); }
    void Hat(uint8_t value) { SDL_JoystickSetVirtualHat(handle_, 0, value); }
    std::string Guid() const {
        char text[33] = {};
        SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(handle_), text, sizeof text);
        return text;
    }
    void Detach() {
        if (!handle_) return;
        SDL_JoystickClose(handle_);
        handle_ = nullptr;
        SDL_JoystickDetachVirtual(DeviceIndexOf(instance_));
    }

   private:
    SDL_JoystickID instance_ = -1;
    SDL_Joystick* handle_ = nullptr;
};

// The joypad test cartridge running with both players' joystick switches on and their devices
// reading the system's pads, as the desktop program sets them up.
class GameControllerTest : public ::testing::Test {
   protected:
    void SetUp() override {
        if (!stick_.SubsystemReady()) GTEST_SKIP() << stick_.InitError();
        if (SDL_NumJoysticks() > 0) GTEST_SKIP() << "a pad is attached to this machine";
        for (int p = 0; p < 2; ++p) {
            devices_[p].SetJoystick(&stick_);
            run_.m().pads.device[p] = &devices_[p];
        }
        SetSwitches(true, true);
        ASSERT_TRUE(run_.Start(TestCartridgePath("joypad_test")));
    }

    void SetSwitches(bool player1, bool player2) {
        run_.m().settings.joystickEnabled[0] = player1;
        run_.m().settings.joystickEnabled[1] = player2;
        ApplyKeyBindings(run_.m());
    }
    // What the cartridge read from pad `p` after two more frames.
    uint8_t Read(int p) {
        run_.RunFrames(2);
        return run_.Ram(kPadByte[p]);
    }
    std::vector<uint8_t> ReadBoth() {
        run_.RunFrames(2);
        return {run_.Ram(kPadByte[0]), run_.Ram(kPadByte[1])};
    }
    int Lines(const std::string& line) const { return run_.CountLogLines(line); }

    SdlJoystick stick_;
    InputDevice devices_[2];
    CartridgeRun run_;
};

using Both = std::vector<uint8_t>;

TEST_F(GameControllerTest, MappedPadGivesTheJoypadButtonsWhereAPlayerExpectsThem) {
    VirtualPad pad(ControllerDesc("Vexalo Test Pad"));
    ASSERT_TRUE(pad.Attached()) << SDL_GetError();
    ASSERT_TRUE(pad.Mapped());
    EXPECT_EQ(ReadBoth(), (Both{0, 0}));
    EXPECT_EQ(Lines("Game controller connected: Vexalo Test Pad"), 1) << run_.LogText();

    const struct {
        SDL_GameControllerButton button;
        uint8_t bits;
    } cases[] = {
        {SDL_CONTROLLER_BUTTON_B, kPadA},  // the right face button
        {SDL_CONTROLLER_BUTTON_A, kPadB},  // the bottom face button
        {SDL_CONTROLLER_BUTTON_BACK, kPadSelect},
        {SDL_CONTROLLER_BUTTON_START, kPadStart},
        {SDL_CONTROLLER_BUTTON_DPAD_UP, kPadUp},
        {SDL_CONTROLLER_BUTTON_DPAD_DOWN, kPadDown},
        {SDL_CONTROLLER_BUTTON_DPAD_LEFT, kPadLeft},
        {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, kPadRight},
        {SDL_CONTROLLER_BUTTON_X, 0},
        {SDL_CONTROLLER_BUTTON_Y, 0},
        {SDL_CONTROLLER_BUTTON_GUIDE, 0},
        {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 0},
    };
    for (const auto& c : cases) {
        pad.Button(c.button, true);
        // A single pad serves either player whose switch is on.
        EXPECT_EQ(ReadBoth(), (Both{c.bits, c.bits})) << "controller button " << c.button;
        pad.Button(c.button, false);
    }
    EXPECT_EQ(ReadBoth(), (Both{0, 0}));

    // Held together, as on the console's pad.
    pad.Button(SDL_CONTROLLER_BUTTON_B, true);
    pad.Button(SDL_CONTROLLER_BUTTON_START, true);
    pad.Button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
    pad.Button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
    EXPECT_EQ(Read(0), kPadA | kPadStart | kPadLeft | kPadUp);
    for (int b = 0; b < SDL_CONTROLLER_BUTTON_MAX; ++b) pad.Button(b, false);

    // The left stick steers past half its travel; the D-pad wins on its axis.
    pad.Axis(SDL_CONTROLLER_AXIS_LEFTX, 12000);
    EXPECT_EQ(Read(0), 0);
    pad.Axis(SDL_CONTROLLER_AXIS_LEFTX, 20000);
    EXPECT_EQ(Read(0), kPadRight);
    pad.Axis(SDL_CONTROLLER_AXIS_LEFTY, SDL_JOYSTICK_AXIS_MIN);
    EXPECT_EQ(Read(0), kPadRight | kPadUp);
    pad.Button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
    EXPECT_EQ(Read(0), kPadLeft | kPadUp);
    pad.Button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, false);
    pad.Axis(SDL_CONTROLLER_AXIS_LEFTX, 0);
    pad.Axis(SDL_CONTROLLER_AXIS_LEFTY, SDL_JOYSTICK_AXIS_MAX);
    EXPECT_EQ(Read(0), kPadDown);
    // The right stick is not a direction.
    pad.Axis(SDL_CONTROLLER_AXIS_LEFTY, 0);
    pad.Axis(SDL_CONTROLLER_AXIS_RIGHTX, SDL_JOYSTICK_AXIS_MAX);
    EXPECT_EQ(Read(0), 0);

    // A switch turned off leaves that player to the keyboard alone.
    pad.Button(SDL_CONTROLLER_BUTTON_START, true);
    SetSwitches(false, true);
    EXPECT_EQ(ReadBoth(), (Both{0, kPadStart}));
}

TEST_F(GameControllerTest, RawJoystickGivesButtonsOneToFourTheHatAndTheAxes) {
    VirtualPad stick(RawDesc("Vexalo Raw Stick"));
    ASSERT_TRUE(stick.Attached()) << SDL_GetError();
    ASSERT_FALSE(stick.Mapped());
    EXPECT_EQ(ReadBoth(), (Both{0, 0}));
    EXPECT_EQ(Lines("Joystick connected: Vexalo Raw Stick (no controller mapping: buttons 1-4)"), 1)
        << run_.LogText();

    const uint8_t bitOfButton[6] = {kPadA, kPadB, kPadStart, kPadSelect, 0, 0};
    for (int b = 0; b < 6; ++b) {
        stick.Button(b, true);
        EXPECT_EQ(ReadBoth(), (Both{bitOfButton[b], bitOfButton[b]})) << "button " << b + 1;
        stick.Button(b, false);
    }

    stick.Hat(SDL_HAT_RIGHTUP);
    EXPECT_EQ(Read(0), kPadRight | kPadUp);
    stick.Hat(SDL_HAT_CENTERED);
    stick.Axis(0, SDL_JOYSTICK_AXIS_MIN);
    stick.Axis(1, SDL_JOYSTICK_AXIS_MAX);
    EXPECT_EQ(Read(0), kPadLeft | kPadDown);
    stick.Hat(SDL_HAT_RIGHT);
    EXPECT_EQ(Read(0), kPadRight | kPadDown);
}

TEST_F(GameControllerTest, TwoPadsServeTwoPlayersAndPadsComeAndGoWhileRunning) {
    EXPECT_EQ(ReadBoth(), (Both{0, 0}));
    const uint8_t framesBefore = run_.Ram(0x0303);

    auto first = std::make_unique<VirtualPad>(ControllerDesc("Vexalo First Pad"));
    ASSERT_TRUE(first->Attached()) << SDL_GetError();
    first->Button(SDL_CONTROLLER_BUTTON_START, true);
    EXPECT_EQ(ReadBoth(), (Both{kPadStart, kPadStart}));
    EXPECT_EQ(Lines("Game controller connected: Vexalo First Pad"), 1) << run_.LogText();

    // A second pad: player 2 moves to it, player 1 keeps the first.
    auto second = std::make_unique<VirtualPad>(RawDesc("Vexalo Second Stick"));
    ASSERT_TRUE(second->Attached()) << SDL_GetError();
    second->Button(0, true);
    EXPECT_EQ(ReadBoth(), (Both{kPadStart, kPadA}));
    SetSwitches(false, true);
    EXPECT_EQ(ReadBoth(), (Both{0, kPadA})) << "player 2 reads the second pad alone";
    SetSwitches(true, true);

    // The first pad unplugged: the one left serves both players again.
    first->Detach();
    EXPECT_EQ(ReadBoth(), (Both{kPadA, kPadA}));
    EXPECT_EQ(Lines("Game controller disconnected: Vexalo First Pad"), 1) << run_.LogText();

    // Plugged in again, it comes after the one already there.
    first = std::make_unique<VirtualPad>(ControllerDesc("Vexalo First Pad"));
    first->Button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
    EXPECT_EQ(ReadBoth(), (Both{kPadA, kPadUp}));
    EXPECT_EQ(Lines("Game controller connected: Vexalo First Pad"), 2) << run_.LogText();

    // Pressed pads that go away release their buttons; the machine runs on.
    second.reset();
    first.reset();
    EXPECT_EQ(ReadBoth(), (Both{0, 0}));
    EXPECT_EQ(Lines("Joystick disconnected: Vexalo Second Stick"), 1) << run_.LogText();
    EXPECT_EQ(Lines("Game controller disconnected: Vexalo First Pad"), 2) << run_.LogText();
    EXPECT_EQ(uint8_t(run_.Ram(0x0303) - framesBefore), 12) << "one NMI per frame throughout";
    EXPECT_TRUE(run_.LogLinesStartingWith("Game controller could not").empty());
}

// A mapping file named by SDL's environment variable turns a raw joystick into a mapped pad; a
// file that cannot be read is reported in the log.
TEST(GameControllerMappingFile, UserMappingsAreReadAndAnUnreadableFileIsReported) {
    namespace fs = std::filesystem;
    if (SDL_WasInit(SDL_INIT_JOYSTICK) != 0) GTEST_SKIP() << "SDL's pads are already running";
    constexpr uint16_t kVendor = 0x1209, kProduct = 0x0001;  // an open test vendor and product
    std::string guid;
    {
        SdlJoystick probe;
        if (!probe.SubsystemReady()) GTEST_SKIP() << probe.InitError();
        if (SDL_NumJoysticks() > 0) GTEST_SKIP() << "a pad is attached to this machine";
        VirtualPad stick(RawDesc("Vexalo Mapped Stick", kVendor, kProduct));
        ASSERT_TRUE(stick.Attached()) << SDL_GetError();
        ASSERT_FALSE(stick.Mapped());
        guid = stick.Guid();
    }
    ASSERT_EQ(SDL_WasInit(SDL_INIT_JOYSTICK), 0u) << "the subsystem stops with its last user";

    const fs::path file = fs::path(::testing::TempDir()) / "vexalo_pad_mappings.txt";
    // Buttons 0-3 of the stick as Back, Start, the bottom and the right face button.
    std::ofstream(file)
        << "# a comment line\n"
        << guid
        << ",Vexalo Mapped Stick,back:b0,start:b1,a:b2,b:b3,dpup:h0.1,"
           "dpright:h0.2,dpdown:h0.4,dpleft:h0.8,leftx:a0,lefty:a1,platform:Linux,\n";
    {
        test::ScopedEnv env("SDL_GAMECONTROLLERCONFIG_FILE", file.string());
        SdlJoystick stick;
        ASSERT_TRUE(stick.SubsystemReady()) << stick.InitError();
        VirtualPad mapped(RawDesc("Vexalo Mapped Stick", kVendor, kProduct));
        ASSERT_TRUE(mapped.Mapped()) << "the mapping file was not used";
        auto machine = std::make_unique<Machine>();
        Machine& m = *machine;
        InputDevice device;
        device.SetJoystick(&stick);
        device.SetJoystickEnabled(true);
        m.pads.device[0] = &device;
        mapped.Button(0, true);  // Back: Select
        mapped.Button(3, true);  // right face button: A
        mapped.Hat(SDL_HAT_DOWN);
        PollJoypads(m);
        WriteJoypadStrobe(m, 1);
        WriteJoypadStrobe(m, 0);
        uint8_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= uint8_t(ReadJoypad(m, 0) << i);
        EXPECT_EQ(bits, kPadA | kPadSelect | kPadDown);
        EXPECT_EQ(m.log.Lines(),
                  std::vector<std::string>{"Game controller connected: Vexalo Mapped Stick"});
    }
    fs::remove(file);
    {
        const std::string missing = (fs::path(::testing::TempDir()) / "no_such_file.txt").string();
        test::ScopedEnv env("SDL_GAMECONTROLLERCONFIG_FILE", missing);
        SdlJoystick stick;
        ASSERT_TRUE(stick.SubsystemReady()) << stick.InitError();
        Log log;
        stick.Refresh(log);
        stick.Refresh(log);
        const std::vector<std::string> lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u) << "reported once";
        EXPECT_EQ(lines[0].rfind("Game controller mappings not read from \"" + missing + "\": ", 0),
                  0u)
            << lines[0];
    }
}

}  // namespace
}  // namespace vexalo
