// Input movies: recorded through the library frame by frame as the desktop does, replayed by the
// runner with --verify (a fresh process), which must match, report the first frame a changed input
// makes differ, and refuse a movie of another image.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cartridge/movie.h"
#include "input/input_script.h"
#include "tests/unit/image_builder.h"
#include "tests/unit/test_cartridge.h"

namespace vexalo {
namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Verified {
    int status = -1;
    std::string out;
};

Verified Verify(const std::string& image, const std::string& movie, const std::string& dir) {
    const std::string out = dir + "/verify.txt";
    const std::string command = std::string(VEXALO_RUNNER) + " " + image + " --input " + movie +
                                " --verify >" + out + " 2>&1";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out)};
}

// Plays `frames` frames of `image` as the desktop does (RunFrames(1), joypads from `script`)
// and records them. With `warmUp` frames the movie starts from a state saved after them; `pauseAt`
// pauses and resumes at that frame's command point.
std::string Record(const std::string& image, const std::string& dir, int64_t frames,
                   int64_t warmUp = 0, int64_t pauseAt = -1) {
    InputScript script;
    std::string error;
    EXPECT_TRUE(
        ParseInputScript("0 1 RIGHT\n20 1 A+RIGHT\n21 2 START\n45 1 -\n70 2 B+UP\n"
                         "71 1 SELECT\n130 2 -\n200 1 LEFT+DOWN\n",
                         script, error))
        << error;
    CartridgeRun run;
    Machine& m = run.m();
    InputDevice devices[2];
    InputScriptSource sources[2] = {{script, 0, &m.framesCompleted},
                                    {script, 1, &m.framesCompleted}};
    for (int p = 0; p < 2; ++p) {
        devices[p].SetScriptedSource(&sources[p]);
        m.pads.device[p] = &devices[p];
    }
    if (!run.Start(image)) return {};
    Engine& engine = run.engine();
    engine.RunFrames(warmUp);
    const std::string movie = dir + "/play.movie";
    MovieRecorder recorder;
    EXPECT_TRUE(recorder.Start(engine, movie, warmUp ? dir + "/play.state" : "", error)) << error;
    for (int64_t i = 0; i < frames; ++i) {
        EXPECT_EQ(engine.RunFrames(1), 1);
        EXPECT_TRUE(recorder.RecordFrame(engine));
        if (static_cast<int64_t>(m.framesCompleted) == pauseAt) {
            engine.Pause();
            engine.Pause();
        }
    }
    recorder.Stop();
    EXPECT_EQ(recorder.FramesRecorded(), static_cast<uint64_t>(frames));
    return movie;
}

TEST(Movie, ARecordedMovieReplaysInTheRunnerWithEveryCheckpointMatching) {
    test::TempDir dir;
    const std::string joypad = TestCartridgePath("joypad_test");
    const std::string movie = Record(joypad, dir.path().string(), 250, 0, 100);
    const std::string text = ReadText(movie);
    EXPECT_NE(text.find("# start: power-on\n"), std::string::npos) << text;
    EXPECT_NE(text.find("# pause: 100\n"), std::string::npos) << text;
    Verified v = Verify(joypad, movie, dir.path().string());
    EXPECT_EQ(v.status, 0) << v.out;
    // A check every 60 frames (59, 119, 179, 239), the last frame's and the start's.
    EXPECT_NE(v.out.find("Movie verified: all 6 checkpoints matched over 250 frames."),
              std::string::npos)
        << v.out;

    // Without --verify the movie is an input script like any other.
    const std::string run = std::string(VEXALO_RUNNER) + " " + joypad + " --input " + movie +
                            " --frames 30 --peek 300:2 >" + dir.path().string() + "/plain.txt";
    EXPECT_EQ(std::system(run.c_str()), 0);
    EXPECT_NE(ReadText(dir.path().string() + "/plain.txt").find("0300: 81 08"), std::string::npos);

    // From a saved state, on an outside cartridge with a scanline counter.
    const std::string mmc3 = SharedCartridgePath("hello_mmc3.nes");
    if (mmc3.empty()) GTEST_SKIP() << "no shared cartridge hello_mmc3.nes";
    const std::string fromState = Record(mmc3, dir.path().string(), 200, 50, 120);
    EXPECT_NE(ReadText(fromState).find("# start: state "), std::string::npos);
    v = Verify(mmc3, fromState, dir.path().string());
    EXPECT_EQ(v.status, 0) << v.out;
    EXPECT_NE(v.out.find("checkpoints matched over 200 frames."), std::string::npos) << v.out;

    // A start state that is not the movie's is refused.
    std::ofstream(dir.path() / "play.state", std::ios::app) << "x";
    v = Verify(mmc3, fromState, dir.path().string());
    EXPECT_EQ(v.status, 2) << v.out;
    EXPECT_NE(v.out.find("is not the start state of"), std::string::npos) << v.out;
}

TEST(Movie, AChangedInputIsReportedAtTheFirstCheckpointAfterIt) {
    test::TempDir dir;
    const std::string joypad = TestCartridgePath("joypad_test");
    const std::string movie = Record(joypad, dir.path().string(), 250);
    std::string text = ReadText(movie);
    // Player 2 pressed B+UP at frame 70; make it B alone. Checks are at 59, 119, 179...
    const size_t at = text.find("\n70 2 B+UP\n");
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, 11, "\n70 2 B\n");
    std::ofstream(movie) << text;
    const Verified v = Verify(joypad, movie, dir.path().string());
    EXPECT_EQ(v.status, 3) << v.out;
    // "Movie differs at frame 119: machine checksum XXXXXXXX, the movie has YYYYYYYY (2 of 6 ..."
    const size_t line = v.out.find("Movie differs at frame 119: machine checksum ");
    ASSERT_NE(line, std::string::npos) << v.out;
    const std::string rest = v.out.substr(line + 45);
    ASSERT_GE(rest.size(), 60u) << v.out;
    EXPECT_EQ(rest.find_first_not_of("0123456789abcdef"), 8u) << v.out;
    EXPECT_EQ(rest.substr(8, 16), ", the movie has ") << v.out;
    EXPECT_EQ(rest.substr(24).find_first_not_of("0123456789abcdef"), 8u) << v.out;
    EXPECT_EQ(rest.substr(32, 28), " (2 of 6 checkpoints matched") << v.out;
}

TEST(Movie, AMovieOfAnotherImageIsRefused) {
    test::TempDir dir;
    const std::string movie = Record(TestCartridgePath("joypad_test"), dir.path().string(), 10);
    const std::string other = dir.Write("other.nes", test::BuildImage({}));
    const Verified v = Verify(other, movie, dir.path().string());
    EXPECT_EQ(v.status, 2) << v.out;
    EXPECT_NE(v.out.find("is a movie of another image (joypad_test.nes, SHA-1 "), std::string::npos)
        << v.out;
    EXPECT_EQ(v.out.find("Movie verified"), std::string::npos);
}

}  // namespace
}  // namespace vexalo
