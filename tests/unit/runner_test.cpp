// The headless runner as a user calls it: exit status, printed log, trace, peek, snapshot, and
// every kind of damaged image.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/unit/image_builder.h"

namespace vexalo {
namespace {

using test::BuildImage;
using test::ImageShape;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

class RunnerTest : public ::testing::Test {
   protected:
    // `prefix` runs in the shell before the runner (a limit, say).
    RunResult Run(const std::string& args, const std::string& prefix = "") {
        const auto out = dir_.path() / "stdout.txt";
        const auto err = dir_.path() / "stderr.txt";
        const std::string command = prefix + std::string(VEXALO_RUNNER) + " " + args + " >" +
                                    out.string() + " 2>" + err.string();
        const int raw = std::system(command.c_str());
        RunResult r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadText(out);
        r.err = ReadText(err);
        return r;
    }
    static std::string ReadText(const std::filesystem::path& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string Image(const std::string& name, const std::vector<uint8_t>& bytes) {
        return dir_.Write(name, bytes);
    }

    test::TempDir dir_;
};

TEST_F(RunnerTest, RunsAnImageAndPrintsItsLog) {
    const auto image = Image("ok.nes", BuildImage({}));
    const RunResult r = Run(image + " --frames 3");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Loading Cartridge : \"ok.nes\".\niNES #0 file format found.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("6502 engine started."), std::string::npos);
    EXPECT_NE(r.out.find("Cartridge discharged."), std::string::npos);
}

TEST_F(RunnerTest, DamagedImagesAreRefusedWithTheirLogLine) {
    std::vector<uint8_t> wrongSignature = BuildImage({});
    wrongSignature[0] = 'n';
    ImageShape noPrg;
    noPrg.prgPages = 0;
    ImageShape mapper6;
    mapper6.flags6 = 0x60;
    std::vector<uint8_t> promisesMore = BuildImage({});
    promisesMore[4] = 200;  // 200 PRG pages promised, one present
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        int status;
        const char* line;
    } cases[] = {
        {"empty.nes", {}, 2, "Unsupported file format."},
        {"short.nes",
         {'N', 'E', 'S', 0x1A, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         2,
         "Unsupported file format."},
        {"signature.nes", wrongSignature, 2, "Unsupported file format."},
        {"noprg.nes", BuildImage(noPrg), 2, "no program"},
        {"mapper.nes", BuildImage(mapper6), 2, "* iNES mapper #6 not supported."},
        {"promises.nes", promisesMore, 0, "6502 engine started."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult r = Run(Image(c.name, c.bytes) + " --frames 5");
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
}

TEST_F(RunnerTest, AnUnreadableFileGivesTheSystemMessage) {
    const RunResult missing = Run((dir_.path() / "missing.nes").string());
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
    const RunResult directory = Run(dir_.path().string());
    EXPECT_EQ(directory.status, 1);
    EXPECT_FALSE(directory.err.empty());
}

TEST_F(RunnerTest, AFailedSaveIsReported) {
    ImageShape shape;
    shape.flags6 = 0x02;                                   // battery
    shape.program = {0xEE, 0x00, 0x60, 0x4C, 0x03, 0xC0};  // INC $6000, then loop
    const auto image = Image("save.nes", BuildImage(shape));
    // Files may not grow past 2 KB, as on a full disk: the battery file cannot be written.
    const RunResult r = Run(image + " --frames 1", "trap '' XFSZ; ulimit -f 4; exec ");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("save.sav: File too large"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "save.sav"));
    EXPECT_NE(r.out.find("Saving backed memory file \"save.sav\"."), std::string::npos);
}

TEST_F(RunnerTest, TraceListsEachInstructionBeforeItExecutes) {
    ImageShape shape;
    // LDX #$10; DEX; BNE -3 ($FD); JMP $C005
    shape.program = {0xA2, 0x10, 0xCA, 0xD0, 0xFD, 0x4C, 0x05, 0xC0};
    const auto image = Image("trace.nes", BuildImage(shape));
    const auto trace = dir_.path() / "trace.txt";
    const RunResult r = Run(image + " --frames 1 --trace " + trace.string());
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in(trace);
    std::string l1, l2, l3, l4;
    std::getline(in, l1);
    std::getline(in, l2);
    std::getline(in, l3);
    std::getline(in, l4);
    EXPECT_EQ(l1, "C000  A:00 X:00 Y:00 P:22 S:FF  LDX #10");
    EXPECT_EQ(l2, "C002  A:00 X:10 Y:00 P:20 S:FF  DEX");
    EXPECT_EQ(l3, "C003  A:00 X:0F Y:00 P:20 S:FF  BNE FD");
    EXPECT_EQ(l4, "C002  A:00 X:0F Y:00 P:20 S:FF  DEX");
}

TEST_F(RunnerTest, TracingDoesNotChangeWhatTheMachineDoes) {
    ImageShape shape;
    // Counts in $0200/$0201 and reads $2002 each pass (a read with side effects).
    shape.program = {0xEE, 0x00, 0x02, 0xD0, 0x03, 0xEE, 0x01,
                     0x02, 0xAD, 0x02, 0x20, 0x4C, 0x00, 0xC0};
    const auto image = Image("count.nes", BuildImage(shape));
    const RunResult plain = Run(image + " --frames 4 --peek 200:2");
    const RunResult traced =
        Run(image + " --frames 4 --peek 200:2 --trace " + (dir_.path() / "t.txt").string());
    ASSERT_EQ(plain.status, 0);
    const auto peekLine = [](const std::string& out) {
        const size_t at = out.find("0200:");
        return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
    };
    EXPECT_FALSE(peekLine(plain.out).empty());
    EXPECT_EQ(peekLine(plain.out), peekLine(traced.out));
}

TEST_F(RunnerTest, PeekPrintsBytesAfterTheRun) {
    ImageShape shape;
    shape.program = {0xA9, 0x42, 0x8D, 0x00, 0x03, 0xA9, 0x43, 0x8D, 0x01, 0x03, 0x4C, 0x0A, 0xC0};
    const RunResult r =
        Run(Image("peek.nes", BuildImage(shape)) + " --frames 1 --peek 300:3 " + "--peek C000");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("0300: 42 43 00\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("C000: A9\n"), std::string::npos) << r.out;
}

TEST_F(RunnerTest, SnapshotWritesAn8BitBitmapAndBenchEndsTheOutput) {
    const auto bmp = dir_.path() / "shot.bmp";
    const RunResult r =
        Run(Image("snap.nes", BuildImage({})) + " --frames 2 --bench --snapshot " + bmp.string());
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in(bmp, std::ios::binary);
    std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GE(b.size(), 54u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(b[18] | b[19] << 8, 256);  // width
    EXPECT_EQ(b[22] | b[23] << 8, 240);  // height
    EXPECT_EQ(b[28], 8);                 // bits per pixel
    EXPECT_EQ(b.size(), 54u + 1024u + 256u * 240u);
    const size_t last = r.out.rfind("frames: 2  seconds: ");
    ASSERT_NE(last, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frames/s: ", last), std::string::npos);
    EXPECT_EQ(r.out.find('\n', last), r.out.size() - 1);
}

TEST_F(RunnerTest, InputScriptHoldsButtonsFromItsFrame) {
    const auto script = dir_.path() / "input.txt";
    std::ofstream(script) << "# Start from frame 10, then A with Right on player 2\n"
                             "10 1 START\n"
                             "12 2 a+right\n";
    const std::string image = std::string(VEXALO_TEST_ROM_DIR) + "/joypad_test.nes";
    // PAD1 and PAD2 ($0300, $0301) hold the bits in read order: A in bit 0, Start bit 3,
    // Right bit 7.
    const RunResult before = Run(image + " --frames 8 --peek 300:2 --input " + script.string());
    const RunResult after = Run(image + " --frames 20 --peek 300:2 --input " + script.string());
    EXPECT_NE(before.out.find("0300: 00 00\n"), std::string::npos) << before.out << before.err;
    EXPECT_NE(after.out.find("0300: 08 81\n"), std::string::npos) << after.out << after.err;

    std::ofstream(script) << "10 3 START\n";
    const RunResult bad = Run(image + " --input " + script.string());
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("line 1"), std::string::npos) << bad.err;
}

TEST_F(RunnerTest, MidiLogHasEveryMessageWithItsFrame) {
    const auto log = dir_.path() / "notes.txt";
    const std::string image = std::string(VEXALO_TEST_ROM_DIR) + "/sound_test.nes";
    const RunResult r = Run(image + " --frames 30 --midi-log " + log.string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = ReadText(log);
    // The program changes when the output opens, then square 1 at period 253: note 69.
    EXPECT_EQ(text.rfind("0 C0 51 00\n0 C1 51 00\n0 C2 51 00\n0 C3 77 00\n", 0), 0u) << text;
    EXPECT_NE(text.find(" 90 45 40\n"), std::string::npos) << text;
}

TEST_F(RunnerTest, SmfWritesTheMusicAndRefusesAFileItCannotWriteBeforeRunning) {
    const std::string image = std::string(VEXALO_TEST_ROM_DIR) + "/sound_test.nes";
    const auto smf = dir_.path() / "music.mid";
    const RunResult r = Run(image + " --frames 30 --smf " + smf.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(smf).rfind(std::string("MThd\0\0\0\6\0\1\0\5", 12), 0), 0u);

    const auto nowhere = dir_.path() / "missing" / "music.mid";
    const RunResult bad = Run(image + " --frames 30 --smf " + nowhere.string());
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find(nowhere.string()), std::string::npos) << bad.err;
    EXPECT_EQ(bad.out.find("6502 engine started."), std::string::npos) << "it ran: " << bad.out;
}

TEST_F(RunnerTest, VersionNeedsNoImage) {
    const RunResult r = Run("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("vexalo-run (Vexalo Emulator) ", 0), 0u) << r.out;
}

TEST_F(RunnerTest, BadOptionsAreRefused) {
    const auto image = Image("ok.nes", BuildImage({}));
    EXPECT_EQ(Run(image + " --frames x").status, 64);
    EXPECT_EQ(Run(image + " --peek 10000").status, 64);
    EXPECT_EQ(Run(image + " --frame-skip 0").status, 64);
    EXPECT_EQ(Run("").status, 64);
}

}  // namespace
}  // namespace vexalo
