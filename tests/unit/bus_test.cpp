// The CPU's memory map: RAM mirrors, battery RAM, PRG windows, the I/O dispatch and the sprite
// transfer.
#include "machine/bus.h"

#include <gtest/gtest.h>

#include "cartridge/engine.h"
#include "tests/unit/image_builder.h"

namespace vexalo {
namespace {

class BusTest : public ::testing::Test {
   protected:
    void SetUp() override {
        test::ImageShape shape;
        shape.prgPages = 2;
        auto image = test::BuildImage(shape);
        // Recognisable PRG bytes: the low byte of each offset, except where the program is.
        for (size_t i = 0; i < 16384; ++i) image[16 + i] = uint8_t(i * 7);
        path_ = dir_.Write("bus.nes", image);
        ASSERT_TRUE(engine_.StartEngine(path_));
    }
    Machine& m() { return engine_.machine(); }
    MachineBus bus() { return MachineBus{engine_.machine()}; }
    std::string LastLine() { return m().log.Lines().back(); }

    test::TempDir dir_;
    std::string path_;
    Engine engine_;
};

TEST_F(BusTest, RamIsMirroredFourTimes) {
    bus().WriteByte(0x0001, 0x11);
    EXPECT_EQ(bus().ReadByte(0x0801), 0x11);
    EXPECT_EQ(bus().ReadByte(0x1001), 0x11);
    EXPECT_EQ(bus().FetchByte(0x1801), 0x11);
    bus().WriteByte(0x1FFF, 0x22);
    EXPECT_EQ(m().internalRam[0x7FF], 0x22);
}

TEST_F(BusTest, BatteryRamIsAlwaysWritable) {
    bus().WriteByte(0x6000, 0x5C);
    bus().WriteByte(0x7FFF, 0xC5);
    EXPECT_EQ(bus().ReadByte(0x6000), 0x5C);
    EXPECT_EQ(bus().FetchByte(0x6000), 0x5C);
    EXPECT_EQ(bus().FetchByte(0x7FFF), 0xC5);
    EXPECT_EQ(m().cart.backedMemory[0x1FFF], 0xC5);
}

TEST_F(BusTest, PrgWindowsReadTheImageAndWritesGoToTheMapperOnly) {
    EXPECT_EQ(bus().ReadByte(0x8005), uint8_t(5 * 7));
    EXPECT_EQ(bus().FetchByte(0xA001), uint8_t(0x2001 * 7));
    bus().WriteByte(0x8005, 0x99);  // mapper 0 ignores writes; ROM never changes
    EXPECT_EQ(bus().ReadByte(0x8005), uint8_t(5 * 7));
    EXPECT_EQ(bus().ReadByte(0xC000), 0x4C);  // the program's JMP in the last page
}

// The CPU fetches operands and pointers two bytes at a time: at every address, including the
// last byte of each RAM mirror and window and the wrap at $FFFF, that gives what two byte
// fetches give.
TEST_F(BusTest, WordFetchesMatchTwoByteFetches) {
    for (int i = 0; i < 2048; ++i) m().internalRam[i] = uint8_t(i * 13 + 1);
    for (int i = 0; i < 8192; ++i) m().cart.backedMemory[i] = uint8_t(i * 11 + 5);
    for (int a = 0; a < 0x10000; ++a) {
        const uint16_t address = uint16_t(a);
        const uint16_t expected =
            uint16_t(bus().FetchByte(address) | bus().FetchByte(uint16_t(address + 1)) << 8);
        ASSERT_EQ(bus().FetchWord(address), expected) << std::hex << a;
    }
}

TEST_F(BusTest, UnmappedIoIsLoggedAndReadsFF) {
    EXPECT_EQ(bus().ReadByte(0x2008), 0xFF);
    EXPECT_EQ(LastLine(), "Ignore read at address $2008");
    EXPECT_EQ(bus().ReadByte(0x2000), 0xFF);
    EXPECT_EQ(LastLine(), "Ignore read at address $2000");
    EXPECT_EQ(bus().ReadByte(0x4014), 0xFF);
    EXPECT_EQ(LastLine(), "Ignore read at address $4014");
    EXPECT_EQ(bus().ReadByte(0x4018), 0xFF);
    EXPECT_EQ(LastLine(), "Ignore read at address $4018");
    bus().WriteByte(0x3456, 1);
    EXPECT_EQ(LastLine(), "Ignore write at address $3456");
    bus().WriteByte(0x5FFF, 1);
    EXPECT_EQ(LastLine(), "Ignore write at address $5FFF");
    // The side-effect-free fetch neither logs nor dispatches.
    const size_t lines = m().log.Lines().size();
    bus().FetchByte(0x2002);
    bus().FetchByte(0x4018);
    EXPECT_EQ(m().log.Lines().size(), lines);
}

TEST_F(BusTest, SoundRegistersReadBackWhatWasWritten) {
    bus().WriteByte(0x4003, 0xAB);
    EXPECT_EQ(bus().ReadByte(0x4003), 0xAB);
    bus().WriteByte(0x4011, 0x12);
    EXPECT_EQ(bus().ReadByte(0x4011), 0x12);
    bus().WriteByte(0x4017, 0x40);
    EXPECT_EQ(m().ioRegisterImage[0x17], 0x40);
}

TEST_F(BusTest, SpriteTransferCopiesRamPagesAndPrgWindows) {
    for (int i = 0; i < 256; ++i) m().internalRam[0x200 + i] = uint8_t(i ^ 0x5A);
    bus().WriteByte(0x4014, 0x02);
    EXPECT_EQ(m().ppu.oam[0], 0x5A);
    EXPECT_EQ(m().ppu.oam[255], uint8_t(255 ^ 0x5A));
    m().ppu.oam.fill(0);
    bus().WriteByte(0x4014, 0x0A);  // page numbers below $80 read RAM modulo 8 pages
    EXPECT_EQ(m().ppu.oam[1], uint8_t(1 ^ 0x5A));
    m().ppu.oam.fill(0);
    m().ppu.oamAddress = 0x40;
    bus().WriteByte(0x4014, 0x81);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(m().ppu.oam[i], bus().ReadByte(uint16_t(0x8100 + i)));
    EXPECT_EQ(m().ppu.oamAddress, 0x40);
}

TEST(LogTest, KeepsTheLastLinesAndCountsWhatWasDropped) {
    Log log(3);
    log.Append("one");
    log.AppendIgnoredRead(0x2008);
    log.AppendIgnoredWrite(0x4018);
    log.Append("four");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Ignore read at address $2008",
                                                     "Ignore write at address $4018", "four"}));
    std::vector<std::string> seen;
    EXPECT_EQ(log.Drain([&](const std::string& l) { seen.push_back(l); }), 1u);
    EXPECT_EQ(seen.size(), 3u);
    seen.clear();
    log.Append("five");
    EXPECT_EQ(log.Drain([&](const std::string& l) { seen.push_back(l); }), 0u);
    EXPECT_EQ(seen, std::vector<std::string>{"five"});
    EXPECT_EQ(log.TotalAppended(), 5u);
}

TEST(LogTest, ASinkThatAppendsToTheLogEndsItsDrain) {
    Log log(8);
    log.Append("one");
    log.Append("two");
    std::vector<std::string> seen;
    int calls = 0;
    const auto echo = [&](const std::string& l) {
        seen.push_back(l);
        if (++calls < 100) log.Append("echo " + l);  // bounded, so a faulty drain still ends
    };
    EXPECT_EQ(log.Drain(echo), 0u);
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
    seen.clear();
    EXPECT_EQ(log.Drain(echo), 0u);
    EXPECT_EQ(seen, (std::vector<std::string>{"echo one", "echo two"}));

    // A sink that appends more than the log keeps: the lines it overwrote count as dropped.
    Log small(4);
    for (const char* l : {"a", "b", "c", "d"}) small.Append(l);
    seen.clear();
    EXPECT_EQ(small.Drain([&](const std::string& l) {
        seen.push_back(l);
        for (int i = 0; i < 3; ++i) small.Append("more");
    }),
              2u);
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "d"}));  // b and c were overwritten
}

}  // namespace
}  // namespace vexalo
