// Engine lifecycle: start, reset, stop, the battery file and the log lines of each step.
#include "cartridge/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <unistd.h>

#include "cartridge/loader.h"
#include "tests/unit/file_size_limit.h"
#include "tests/unit/image_builder.h"

namespace vexalo {
namespace {

using test::BuildImage;
using test::ImageShape;
using test::TempDir;

// Records what the engine asks of the window.
struct RecordingHost : EngineHost {
    std::vector<std::string> calls;
    void SetCartridgeCommandsEnabled(bool on) override {
        calls.push_back(on ? "enable" : "disable");
    }
    void SetStatusText(const std::string& text) override { calls.push_back("status:" + text); }
    void VideoStart() override { calls.push_back("video-start"); }
    void VideoStop() override { calls.push_back("video-stop"); }
};

// Writes $5A to $6001 and counts starts in $6000, then loops.
ImageShape BatteryImage() {
    ImageShape shape;
    shape.flags6 = HeaderBattery | HeaderVertical;
    shape.program = {0xA9, 0x5A, 0x8D, 0x01, 0x60, 0xEE, 0x00, 0x60, 0x4C, 0x08, 0xC0};
    return shape;
}

std::vector<std::string> LinesAfter(const Log& log, size_t first) {
    auto lines = log.Lines();
    return {lines.begin() + long(std::min(first, lines.size())), lines.end()};
}

TEST(BatteryFileName, TakesTheNameUpToItsFirstFullStop) {
    EXPECT_EQ(BatteryFileName("Games/", "Quest.nes"), "Games/Quest.sav");
    EXPECT_EQ(BatteryFileName("Games/", "Quest.Two.nes"), "Games/Quest.sav");
    EXPECT_EQ(BatteryFileName("", "Quest"), "sav");
}

TEST(Engine, StartLogsEachStepAndRunsTheProgram) {
    TempDir dir;
    const auto image = dir.Write("Quest.nes", BuildImage(BatteryImage()));
    RecordingHost host;
    Engine engine(&host);
    ASSERT_TRUE(engine.StartEngine(image));
    EXPECT_TRUE(engine.Running());
    EXPECT_EQ(engine.machine().log.Lines(),
              (std::vector<std::string>{"", "Loading Cartridge : \"Quest.nes\".",
                                        "iNES #0 file format found.", "[1] of PRG Rom",
                                        "[1] of CHR Ram", "Size of the cartridge : [24 Kb]",
                                        "A backed memory has been found.",
                                        "Resetting 6502 engine ...", "6502 engine started."}));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"enable", "video-start", "status:QUEST.NES"}));

    // The first frame after the reset ends at its message point, line 8.
    EXPECT_EQ(engine.RunFrames(1), 1);
    EXPECT_EQ(engine.machine().cart.backedMemory[0], 1);
    EXPECT_EQ(engine.machine().cart.backedMemory[1], 0x5A);
    EXPECT_EQ(engine.machine().scanline, kFirstDrawnLine);
    EXPECT_EQ(engine.machine().framesCompleted, 0u);
}

TEST(Engine, BatteryMemorySurvivesAStopAndAStart) {
    TempDir dir;
    const auto image = dir.Write("Quest.Two.nes", BuildImage(BatteryImage()));
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.RunFrames(2);
    engine.FreeRom(FreeRomCall::IfStarted);
    const auto saved = dir.Read("Quest.sav");
    ASSERT_EQ(saved.size(), 8192u);
    EXPECT_EQ(saved[0], 1);
    EXPECT_EQ(saved[1], 0x5A);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Quest.sav.tmp"));
    // Stopping clears the memories.
    EXPECT_EQ(engine.machine().cart.backedMemory[1], 0);

    const size_t mark = engine.machine().log.Lines().size();
    ASSERT_TRUE(engine.StartEngine(image));
    const auto lines = LinesAfter(engine.machine().log, mark);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Loading backed memory file \"Quest.sav\"."),
              lines.end());
    engine.RunFrames(1);
    EXPECT_EQ(engine.machine().cart.backedMemory[0], 2);
}

TEST(Engine, LoadingASecondImageSavesTheFirstInOrder) {
    TempDir dir;
    const auto first = dir.Write("One.nes", BuildImage(BatteryImage()));
    const auto second = dir.Write("Two.nes", BuildImage(BatteryImage()));
    dir.Write("Two.sav", std::vector<uint8_t>(8192, 7));
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(first));
    engine.RunFrames(1);
    const size_t mark = engine.machine().log.Lines().size();
    ASSERT_TRUE(engine.StartEngine(second));
    EXPECT_EQ(LinesAfter(engine.machine().log, mark),
              (std::vector<std::string>{
                  "6502 engine stopped.", "Saving backed memory file \"One.sav\".",
                  "Cartridge discharged.", "", "Loading Cartridge : \"Two.nes\".",
                  "iNES #0 file format found.", "[1] of PRG Rom", "[1] of CHR Ram",
                  "Size of the cartridge : [24 Kb]", "A backed memory has been found.",
                  "Loading backed memory file \"Two.sav\".", "Resetting 6502 engine ...",
                  "6502 engine started."}));
    EXPECT_EQ(dir.Read("One.sav")[0], 1);
    EXPECT_EQ(engine.machine().cart.backedMemory[2], 7);
}

TEST(Engine, FreeRomDisablesTheCommandsAndEndsWithDischarged) {
    TempDir dir;
    const auto image = dir.Write("Plain.nes", BuildImage({}));
    RecordingHost host;
    Engine engine(&host);
    ASSERT_TRUE(engine.StartEngine(image));
    host.calls.clear();
    engine.FreeRom(FreeRomCall::IfStarted);
    EXPECT_FALSE(engine.CartridgeStarted());
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(host.calls, (std::vector<std::string>{"disable", "video-stop", "status:"}));
    EXPECT_EQ(engine.machine().log.Lines().back(), "Cartridge discharged.");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Plain.sav"));
    // A second Free ROM has nothing to free.
    const size_t lines = engine.machine().log.Lines().size();
    engine.FreeRom(FreeRomCall::IfStarted);
    EXPECT_EQ(engine.machine().log.Lines().size(), lines);
}

TEST(Engine, ResetKeepsMemoryAndBanks) {
    TempDir dir;
    ImageShape shape = BatteryImage();
    const auto image = dir.Write("Quest.nes", BuildImage(shape));
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.RunFrames(1);
    Machine& m = engine.machine();
    m.internalRam[0x123] = 0x77;
    const uintptr_t prgPage = m.pages.cpu[4];
    const size_t mark = m.log.Lines().size();
    engine.Reset();
    EXPECT_EQ(LinesAfter(m.log, mark), std::vector<std::string>{"Resetting 6502 engine ..."});
    EXPECT_EQ(m.internalRam[0x123], 0x77);
    EXPECT_EQ(m.cart.backedMemory[0], 1);
    EXPECT_EQ(m.pages.cpu[4], prgPage);
    EXPECT_EQ(m.cpu.PC, 0xC000);
    EXPECT_EQ(m.cpu.S, 0xFF);
    engine.RunFrames(1);
    EXPECT_EQ(m.cart.backedMemory[0], 2);
}

TEST(Engine, PauseStopsAndResumesTheRunLoop) {
    TempDir dir;
    const auto image = dir.Write("Quest.nes", BuildImage(BatteryImage()));
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.Pause();
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(engine.RunFrames(1), 0);  // nothing runs while paused
    EXPECT_EQ(engine.machine().scanline, 0);
    engine.Pause();
    EXPECT_EQ(engine.RunFrames(2), 2);
    EXPECT_EQ(engine.machine().framesCompleted, 1u);
}

TEST(Engine, UnsupportedMapperLeavesTheCommandsDisabled) {
    TempDir dir;
    ImageShape shape;
    shape.flags6 = 0x50;  // mapper 5
    const auto bad = dir.Write("Bad.nes", BuildImage(shape));
    const auto good = dir.Write("Good.nes", BuildImage({}));
    RecordingHost host;
    Engine engine(&host);
    EXPECT_FALSE(engine.StartEngine(bad));
    EXPECT_FALSE(engine.CartridgeStarted());
    EXPECT_EQ(engine.machine().log.Lines().back(), "* iNES mapper #5 not supported.");
    EXPECT_TRUE(host.calls.empty());

    const size_t mark = engine.machine().log.Lines().size();
    ASSERT_TRUE(engine.StartEngine(good));
    const auto lines = LinesAfter(engine.machine().log, mark);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "6502 engine stopped."), 0);
}

TEST(Engine, StopWithNothingLoadedWritesNoBatteryFile) {
    TempDir dir;
    const auto image = dir.Write("Quest.nes", BuildImage(BatteryImage()));
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.FreeRom(FreeRomCall::IfStarted);
    std::filesystem::remove(dir.path() / "Quest.sav");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    engine.StopEngine();  // the F3 key with nothing loaded
    std::filesystem::current_path(cwd);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "sav"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Quest.sav"));
    EXPECT_EQ(engine.machine().log.Lines().back(), "Cartridge discharged.");
}

// A load that fails after the loader has taken the new name leaves nothing that a later Free ROM
// (the F3 key runs it with nothing loaded) could write into that name's battery file.
TEST(Engine, NoFailedLoadChainTouchesAnExistingBatteryFile) {
    const std::vector<uint8_t> progress(8192, 0x77);
    ImageShape unsupported = BatteryImage();
    unsupported.flags6 |= 0x50;  // mapper 5
    const std::vector<uint8_t> damaged = {'N', 'E', 'X', 0x1A};

    struct Chain {
        const char* name;
        std::vector<std::vector<uint8_t>> images;  // loaded in order; the last is b.nes
    };
    const std::vector<Chain> chains = {
        {"refused, then damaged", {BuildImage(unsupported), damaged}},
        {"started, then refused", {BuildImage(BatteryImage()), BuildImage(unsupported)}},
        {"started, then damaged", {BuildImage(BatteryImage()), damaged}},
        {"damaged alone", {damaged}},
    };
    for (const Chain& chain : chains) {
        SCOPED_TRACE(chain.name);
        TempDir dir;
        dir.Write("b.sav", progress);
        Engine engine;
        for (size_t i = 0; i < chain.images.size(); ++i) {
            const bool last = i + 1 == chain.images.size();
            const auto image = dir.Write(last ? "b.nes" : "a.nes", chain.images[i]);
            engine.StartEngine(image);
        }
        EXPECT_FALSE(engine.CartridgeStarted());
        EXPECT_TRUE(engine.machine().cart.prgRom.empty());
        engine.FreeRom(FreeRomCall::Always);  // the F3 key
        engine.FreeRom(FreeRomCall::Always);
        EXPECT_EQ(dir.Read("b.sav"), progress);
        const auto lines = engine.machine().log.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "Saving backed memory file \"b.sav\"."),
                  0);
    }
}

TEST(Engine, AnUnreadableBatteryFileIsNeverOverwritten) {
    TempDir dir;
    const auto image = dir.Write("game.nes", BuildImage(BatteryImage()));
    // A directory where the battery file should be cannot be read, even by the superuser.
    std::filesystem::create_directory(dir.path() / "game.sav");
    Engine engine;
    EXPECT_THROW(engine.StartEngine(image), FileError);
    EXPECT_FALSE(engine.CartridgeStarted());
    EXPECT_NO_THROW(engine.FreeRom(FreeRomCall::Always));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "game.sav"));

    if (geteuid() != 0) {
        std::filesystem::remove(dir.path() / "game.sav");
        dir.Write("game.sav", std::vector<uint8_t>(8192, 0x12));
        std::filesystem::permissions(dir.path() / "game.sav", std::filesystem::perms::none);
        EXPECT_THROW(engine.StartEngine(image), FileError);
        engine.FreeRom(FreeRomCall::Always);
        std::filesystem::permissions(dir.path() / "game.sav", std::filesystem::perms::owner_all);
        EXPECT_EQ(dir.Read("game.sav"), std::vector<uint8_t>(8192, 0x12));
    }
}

TEST(Engine, FreeingWithoutSavingLeavesThePreviousFile) {
    TempDir dir;
    const auto image = dir.Write("Quest.nes", BuildImage(BatteryImage()));
    dir.Write("Quest.sav", std::vector<uint8_t>(8192, 0x33));
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.RunFrames(1);
    engine.FreeRom(FreeRomCall::Always, BatterySave::Discard);
    EXPECT_FALSE(engine.CartridgeStarted());
    EXPECT_EQ(dir.Read("Quest.sav"), std::vector<uint8_t>(8192, 0x33));
}

// A save kept elsewhere through a link: the link stays, its target gets the bytes with its own
// permissions, and a battery file of another size is copied to .bak the same way.
TEST(Engine, ALinkedBatteryFileIsWrittenThroughTheLink) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "synced");
    const auto image = dir.Write("Quest.nes", BuildImage(BatteryImage()));
    dir.Write("synced/Quest.sav", std::vector<uint8_t>(100, 0x33));
    dir.Write("synced/Quest.sav.bak.real", {});
    std::filesystem::permissions(dir.path() / "synced/Quest.sav",
                                 std::filesystem::perms::owner_read |
                                     std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_read);
    std::filesystem::create_symlink("synced/Quest.sav", dir.path() / "Quest.sav");
    std::filesystem::create_symlink("synced/Quest.sav.bak.real", dir.path() / "Quest.sav.bak");
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.RunFrames(1);
    engine.FreeRom(FreeRomCall::IfStarted);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "Quest.sav"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "Quest.sav.bak"));
    const auto saved = dir.Read("synced/Quest.sav");
    ASSERT_EQ(saved.size(), 8192u);
    EXPECT_EQ(saved[0], 0x34);
    EXPECT_EQ(dir.Read("synced/Quest.sav.bak.real"), std::vector<uint8_t>(100, 0x33));
    EXPECT_EQ(std::filesystem::status(dir.path() / "synced/Quest.sav").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "synced"),
                            std::filesystem::directory_iterator()),
              2);  // no temporary file left beside the targets
}

// A save folder that went away: the failure names the battery file, not its temporary file.
TEST(Engine, AMissingSaveFolderIsReportedByTheBatteryFileName) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "games");
    const auto image = dir.Write("games/quest.nes", BuildImage(BatteryImage()));
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.RunFrames(1);
    std::filesystem::remove_all(dir.path() / "games");
    try {
        engine.FreeRom(FreeRomCall::IfStarted);
        ADD_FAILURE() << "the save could not be written";
    } catch (const FileError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("quest.sav: "), std::string::npos) << message;
        EXPECT_EQ(message.find(".tmp"), std::string::npos) << message;
    }
    EXPECT_TRUE(engine.CartridgeStarted());
}

TEST(Engine, AFailedSaveKeepsTheCartridgeAndThePreviousFile) {
    TempDir dir;
    const auto image = dir.Write("Quest.nes", BuildImage(BatteryImage()));
    dir.Write("Quest.sav", std::vector<uint8_t>(8192, 0x33));
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.RunFrames(1);
    {
        test::FileSizeLimit fullDisk(4096);
        EXPECT_THROW(engine.FreeRom(FreeRomCall::IfStarted), FileError);
    }
    EXPECT_TRUE(engine.CartridgeStarted());
    EXPECT_EQ(engine.machine().cart.backedMemory[0], 0x34);  // loaded $33, counted one start
    EXPECT_EQ(dir.Read("Quest.sav"), std::vector<uint8_t>(8192, 0x33));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Quest.sav.tmp"));

    engine.FreeRom(FreeRomCall::IfStarted);
    EXPECT_EQ(dir.Read("Quest.sav")[0], 0x34);
}

// A directory that takes no new file keeps the save in memory. The failure is made by taking
// every name the writer may give its temporary file, which binds the superuser too; without
// superuser rights a read-only directory is tried as well.
TEST(Engine, ADirectoryThatTakesNoNewFileKeepsTheSave) {
    TempDir dir;
    const auto image = dir.Write("Quest.nes", BuildImage(BatteryImage()));
    dir.Write("Quest.sav", std::vector<uint8_t>(8192, 0x33));
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.RunFrames(1);
    std::vector<std::filesystem::path> taken;
    for (int i = 0; i < 100; ++i) {
        taken.push_back(dir.path() / ("Quest.sav.tmp" + (i ? std::to_string(i) : "")));
        std::filesystem::create_directory(taken.back());
    }
    EXPECT_THROW(engine.FreeRom(FreeRomCall::IfStarted), FileError);
    for (const auto& path : taken) std::filesystem::remove(path);
    EXPECT_TRUE(engine.CartridgeStarted());
    EXPECT_EQ(engine.machine().cart.backedMemory[0], 0x34);
    EXPECT_EQ(dir.Read("Quest.sav"), std::vector<uint8_t>(8192, 0x33));

    if (geteuid() != 0) {
        std::filesystem::permissions(
            dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_THROW(engine.FreeRom(FreeRomCall::IfStarted), FileError);
        std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
        EXPECT_TRUE(engine.CartridgeStarted());
    }
    engine.FreeRom(FreeRomCall::IfStarted);
    EXPECT_EQ(dir.Read("Quest.sav")[0], 0x34);
}

TEST(Engine, ABatteryFileOfAnotherSizeIsReportedAndKept) {
    TempDir dir;
    const auto image = dir.Write("Quest.nes", BuildImage(BatteryImage()));
    std::vector<uint8_t> odd(10000, 0x44);
    dir.Write("Quest.sav", odd);
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(image));
    const auto lines = engine.machine().log.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "The backed memory file holds 10000 bytes instead of 8192; 8192 were "
                        "loaded."),
              lines.end());
    engine.FreeRom(FreeRomCall::IfStarted);
    EXPECT_EQ(dir.Read("Quest.sav.bak"), odd);
    EXPECT_EQ(dir.Read("Quest.sav").size(), 8192u);
}

TEST(Engine, AnUnreadableImageThrowsTheSystemMessage) {
    TempDir dir;
    Engine engine;
    try {
        engine.StartEngine((dir.path() / "missing.nes").string());
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(engine.CartridgeStarted());
}

// A refused image keeps its battery file's bytes in memory; the next image must not inherit them
// (nor a refused trainer) and write them into its own battery file.
TEST(Engine, ARefusedImageLeavesNoBytesToTheNextOne) {
    TempDir dir;
    ImageShape refused;
    refused.flags6 = 0x50 | HeaderBattery | HeaderTrainer;  // mapper 5
    auto refusedImage = BuildImage(refused);
    refusedImage.insert(refusedImage.begin() + 16, 512, 0xBB);  // the trainer
    const auto b = dir.Write("B.nes", refusedImage);
    dir.Write("B.sav", std::vector<uint8_t>(8192, 0xAA));
    ImageShape plain;
    plain.flags6 = HeaderBattery;
    const auto c = dir.Write("C.nes", BuildImage(plain));

    Engine engine;
    EXPECT_FALSE(engine.StartEngine(b));
    // The refused cartridge is released at once, its battery RAM with it.
    EXPECT_EQ(engine.machine().cart.backedMemory[0], 0);
    EXPECT_TRUE(engine.machine().cart.prgRom.empty());
    ASSERT_TRUE(engine.StartEngine(c));
    const auto& memory = engine.machine().cart.backedMemory;
    EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](uint8_t v) { return v == 0; }));
    engine.FreeRom(FreeRomCall::IfStarted);
    EXPECT_EQ(dir.Read("C.sav"), std::vector<uint8_t>(8192, 0));
    EXPECT_EQ(dir.Read("B.sav"), std::vector<uint8_t>(8192, 0xAA));
}

TEST(Engine, DestroyingTheEngineSavesAStartedCartridge) {
    TempDir dir;
    const auto image = dir.Write("Quest.nes", BuildImage(BatteryImage()));
    {
        Engine engine;
        ASSERT_TRUE(engine.StartEngine(image));
        engine.RunFrames(1);
    }
    EXPECT_EQ(dir.Read("Quest.sav")[1], 0x5A);
}

TEST(Engine, DestroyingTheEngineSurvivesAFailedSave) {
    TempDir dir;
    const auto image = dir.Write("Quest.nes", BuildImage(BatteryImage()));
    dir.Write("Quest.sav", std::vector<uint8_t>(8192, 0x33));
    {
        test::FileSizeLimit fullDisk(4096);
        Engine engine;
        ASSERT_TRUE(engine.StartEngine(image));
        engine.RunFrames(1);
        // The destructor logs the failure instead of throwing.
    }
    EXPECT_EQ(dir.Read("Quest.sav"), std::vector<uint8_t>(8192, 0x33));
}

class BackedMemoryFlush : public ::testing::Test {
   protected:
    void SetUp() override {
        image = dir.Write("Quest.nes", BuildImage(BatteryImage()));
        ASSERT_TRUE(engine.StartEngine(image));
        engine.RunFrames(1);  // the program wrote 1 and $5A
    }
    bool Logged(const std::string& start) const {
        const auto lines = engine.machine().log.Lines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    }

    TempDir dir;
    std::string image;
    Engine engine;
};

TEST_F(BackedMemoryFlush, WritesChangedBytesAndOnlyThem) {
    EXPECT_TRUE(engine.FlushBackedMemory());
    engine.WaitForBackedMemoryFlush();
    auto saved = dir.Read("Quest.sav");
    ASSERT_EQ(saved.size(), 8192u);
    EXPECT_EQ(saved[0], 1);
    EXPECT_EQ(saved[1], 0x5A);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Quest.sav.tmp"));

    // Unchanged bytes are not written again: a removed file stays removed.
    std::filesystem::remove(dir.path() / "Quest.sav");
    EXPECT_FALSE(engine.FlushBackedMemory());
    engine.WaitForBackedMemoryFlush();
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Quest.sav"));

    engine.machine().cart.backedMemory[100] = 0x77;
    EXPECT_TRUE(engine.FlushBackedMemory());
    engine.WaitForBackedMemoryFlush();
    saved = dir.Read("Quest.sav");
    ASSERT_EQ(saved.size(), 8192u);
    EXPECT_EQ(saved[100], 0x77);
}

TEST_F(BackedMemoryFlush, BytesLoadedFromTheFileAreNotWrittenBack) {
    engine.FreeRom(FreeRomCall::IfStarted);
    std::filesystem::remove(dir.path() / "Quest.sav");
    dir.Write("Quest.sav", std::vector<uint8_t>(8192, 0x20));
    ASSERT_TRUE(engine.StartEngine(image));
    EXPECT_FALSE(engine.FlushBackedMemory());  // nothing ran yet: memory is the file
    engine.RunFrames(1);
    EXPECT_TRUE(engine.FlushBackedMemory());
}

TEST_F(BackedMemoryFlush, AFailureKeepsThePreviousFileAndIsTriedAgain) {
    dir.Write("Quest.sav", std::vector<uint8_t>(8192, 0x33));
    {
        test::FileSizeLimit fullDisk(4096);
        EXPECT_TRUE(engine.FlushBackedMemory());
        engine.WaitForBackedMemoryFlush();
    }
    EXPECT_TRUE(Logged("Backed memory not saved: "));
    EXPECT_EQ(dir.Read("Quest.sav"), std::vector<uint8_t>(8192, 0x33));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Quest.sav.tmp"));
    EXPECT_TRUE(engine.FlushBackedMemory());  // the bytes are still to be saved
    engine.WaitForBackedMemoryFlush();
    EXPECT_EQ(dir.Read("Quest.sav")[1], 0x5A);
}

TEST_F(BackedMemoryFlush, StopWritesTheLastBytesAfterAFlushInFlight) {
    for (int i = 0; i < 20; ++i) {
        engine.machine().cart.backedMemory[200] = uint8_t(i);
        engine.FlushBackedMemory();  // does nothing while the previous one is being written
    }
    engine.machine().cart.backedMemory[200] = 0xEE;
    engine.FlushBackedMemory();
    engine.machine().cart.backedMemory[201] = 0xEF;
    engine.FreeRom(FreeRomCall::IfStarted);
    const auto saved = dir.Read("Quest.sav");
    ASSERT_EQ(saved.size(), 8192u);
    EXPECT_EQ(saved[200], 0xEE);
    EXPECT_EQ(saved[201], 0xEF);
    EXPECT_FALSE(engine.FlushBackedMemory());  // nothing started: nothing to flush
}

TEST(BackedMemoryFlushWithoutBattery, WritesNothing) {
    TempDir dir;
    const auto image = dir.Write("Plain.nes", BuildImage({}));
    Engine engine;
    ASSERT_TRUE(engine.StartEngine(image));
    engine.machine().cart.backedMemory[0] = 9;
    EXPECT_FALSE(engine.FlushBackedMemory());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Plain.sav"));
}

}  // namespace
}  // namespace vexalo
