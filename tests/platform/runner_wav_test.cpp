// The runner's --wav: the notes a cartridge writes, rendered on the built-in synthesizer in step
// with the emulated time.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace vexalo {
namespace {

TEST(RunnerWav, RendersTheCartridgesNotesForItsEmulatedTime) {
    const auto dir = std::filesystem::path(::testing::TempDir()) / "vexalo_runner_wav";
    std::filesystem::create_directories(dir);
    const auto wav = dir / "notes.wav";
    const std::string command = std::string(VEXALO_RUNNER) + " " + VEXALO_TEST_ROM_DIR +
                                "/sound_test.nes --frames 120 --wav " + wav.string() +
                                " >/dev/null";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);

    std::ifstream in(wav, std::ios::binary);
    std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GT(b.size(), 44u);
    ASSERT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    const size_t frames = (b.size() - 44) / 4;
    // 120 frames at 60.0988 frames a second, at 44,100 samples a second.
    EXPECT_NEAR(double(frames), 120 / 60.0988 * 44100, 2.0);
    double sum = 0;
    for (size_t i = 44; i + 1 < b.size(); i += 2) {
        const double v = int16_t(b[i] | b[i + 1] << 8);
        sum += v * v;
    }
    EXPECT_GT(std::sqrt(sum / double(frames * 2)), 50.0) << "the rendering is silent";
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vexalo
