// FluidSynth as the machine's MIDI output, rendered offline: the note a period write starts is
// measured in the rendered sound. No sound card is needed.
#include <gtest/gtest.h>

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "machine/bus.h"
#include "machine/machine.h"
#include "sound/fluidsynth_output.h"
#include "sound/live_midi_output.h"
#include "sound/sound.h"
#include "tests/platform/scoped_env.h"

namespace vexalo {
namespace {

constexpr int kRate = FluidSynthOutput::kSampleRate;

using test::ScopedEnv;

// A machine whose sound goes to an offline FluidSynth; the sound is rendered a frame's worth at
// a time, as the runner does in step with emulated time.
class Player {
   public:
    explicit Player(int32_t volume = 65535) : m(std::make_unique<Machine>()) {
        m->settings.SoundVolume = volume;
        m->sound.output = &live;
    }
    void Write(uint16_t address, uint8_t value) { MachineBus{*m}.WriteByte(address, value); }
    // Appends `seconds` of sound to `samples`, one emulated frame (1/60.0988 s) at a time.
    void Render(double seconds) {
        const auto frames = static_cast<size_t>(seconds * kRate);
        size_t done = 0;
        double owed = 0;
        while (done < frames) {
            owed += kRate / 60.0988;
            size_t n = static_cast<size_t>(owed);
            if (n > frames - done) n = frames - done;
            owed -= static_cast<double>(n);
            const size_t at = samples.size();
            samples.resize(at + 2 * n);
            output.Render(samples.data() + at, n);
            done += n;
        }
    }

    FluidSynthOutput output{FluidSynthOutput::Mode::Offline};
    LiveMidiOutput live{&output};  // as every live output is played
    std::unique_ptr<Machine> m;
    std::vector<int16_t> samples;  // interleaved stereo
};

double Rms(const std::vector<int16_t>& stereo, double fromSecond, double toSecond) {
    const size_t from = static_cast<size_t>(fromSecond * kRate) * 2;
    const size_t to = std::min(stereo.size(), static_cast<size_t>(toSecond * kRate) * 2);
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += static_cast<double>(stereo[i]) * stereo[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// The fundamental of the left channel from `fromSecond` on, by autocorrelation: the shortest lag
// whose correlation comes close to the best one, refined between samples. A sawtooth's harmonics
// cross zero many times a period, so zero crossings would not do.
double MeasurePitch(const std::vector<int16_t>& stereo, double fromSecond) {
    constexpr size_t kWindow = 8192;
    constexpr size_t kMinLag = 20;   // 2205 Hz
    constexpr size_t kMaxLag = 800;  // 55 Hz
    const size_t first = static_cast<size_t>(fromSecond * kRate);
    if (stereo.size() / 2 < first + kWindow + kMaxLag + 1) return 0;
    std::vector<double> x(kWindow + kMaxLag + 1);
    double mean = 0;
    for (size_t i = 0; i < x.size(); ++i) mean += x[i] = stereo[2 * (first + i)];
    mean /= static_cast<double>(x.size());
    for (double& v : x) v -= mean;

    std::vector<double> r(kMaxLag + 2, 0.0);
    double best = 0;
    for (size_t lag = kMinLag - 1; lag <= kMaxLag + 1; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = 0; i < kWindow; ++i) {
            xy += x[i] * x[i + lag];
            xx += x[i] * x[i];
            yy += x[i + lag] * x[i + lag];
        }
        r[lag] = (xx > 0 && yy > 0) ? xy / std::sqrt(xx * yy) : 0;
        if (lag >= kMinLag && lag <= kMaxLag) best = std::max(best, r[lag]);
    }
    if (best < 0.5) return 0;  // nothing periodic
    for (size_t lag = kMinLag; lag <= kMaxLag; ++lag) {
        if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            const double below = r[lag - 1], at = r[lag], above = r[lag + 1];
            const double curve = below - 2 * at + above;
            const double shift = curve != 0 ? 0.5 * (below - above) / curve : 0;
            return kRate / (static_cast<double>(lag) + shift);
        }
    }
    return 0;
}

class FluidSynthTest : public ::testing::Test {
   protected:
    void SetUp() override {
        if (FluidSynthOutput::FindSoundFont().empty()) {
            GTEST_SKIP() << "no General MIDI SoundFont installed";
        }
    }
};

TEST_F(FluidSynthTest, SquareOneAtPeriod253SoundsAtA440) {
    Player p;
    ASSERT_TRUE(OpenSound(*p.m));
    ASSERT_TRUE(p.output.IsOpen());
    EXPECT_FALSE(p.output.SoundFontPath().empty());
    p.Render(0.2);
    EXPECT_LT(Rms(p.samples, 0, 0.2), 2.0) << "sound before any note";

    p.Write(0x4015, 0x0F);
    p.Write(0x4002, 253);
    p.Write(0x4003, 0x08);
    p.Render(0.6);
    EXPECT_GT(Rms(p.samples, 0.3, 0.8), 300.0);
    EXPECT_NEAR(MeasurePitch(p.samples, 0.4), 440.0, 3.0);

    // Period 126 is 880 Hz, an octave up: the pitch follows the notes, not a fixed tone.
    p.Write(0x4002, 126);
    p.Render(0.5);
    EXPECT_NEAR(MeasurePitch(p.samples, 1.0), 880.0, 6.0);

    // The triangle channel plays on its own MIDI channel with the same instrument.
    Player t;
    ASSERT_TRUE(OpenSound(*t.m));
    t.Write(0x400A, 253);
    t.Render(0.6);
    EXPECT_NEAR(MeasurePitch(t.samples, 0.2), 440.0, 3.0);
}

TEST_F(FluidSynthTest, RewrittenNotesSoundOnAndSilencedNotesStop) {
    Player p;
    ASSERT_TRUE(OpenSound(*p.m));
    // Low then high register: the second write starts note 69 again and then stops the
    // channel's previous note, which is 69 too. The note sounds on.
    p.Write(0x4002, 253);
    p.Write(0x4003, 0x00);
    p.Render(0.5);
    const double playing = Rms(p.samples, 0.2, 0.5);
    ASSERT_GT(playing, 300.0);
    p.Write(0x4015, 0);  // note-off on every channel
    p.Render(2.0);
    EXPECT_LT(Rms(p.samples, 2.0, 2.5), playing * 0.05);

    // The same note written after the silence starts again.
    p.Write(0x4002, 253);
    p.Render(0.5);
    EXPECT_GT(Rms(p.samples, 2.7, 3.0), playing * 0.5);
    EXPECT_NEAR(MeasurePitch(p.samples, 2.7), 440.0, 3.0);

    // With the volume setting at 0 each write stops its own note at once.
    Player quiet(0);
    ASSERT_TRUE(OpenSound(*quiet.m));
    quiet.Write(0x4002, 253);
    quiet.Write(0x4003, 0x00);
    quiet.Render(0.5);
    EXPECT_LT(Rms(quiet.samples, 0.2, 0.5), 2.0);
}

TEST_F(FluidSynthTest, VolumeScalesTheOutput) {
    Player full(65535);
    Player half(32768);
    for (Player* p : {&full, &half}) {
        ASSERT_TRUE(OpenSound(*p->m));
        p->Write(0x4002, 253);
        p->Render(0.6);
    }
    const double loud = Rms(full.samples, 0.2, 0.6);
    const double quiet = Rms(half.samples, 0.2, 0.6);
    ASSERT_GT(loud, 300.0);
    EXPECT_NEAR(quiet / loud, 32768.0 / 65535.0, 0.05);

    // Volume 0 silences the synthesizer; after the next volume call notes sound again.
    full.output.SetVolume(0, 0);
    full.Render(0.2);
    EXPECT_LT(Rms(full.samples, 0.7, 0.8), loud * 0.03);  // only the reverb's tail is left
    full.output.SetVolume(65535, 65535);
    full.Write(0x4002, 126);
    full.Render(0.4);
    EXPECT_GT(Rms(full.samples, 0.9, 1.2), loud * 0.5);

    // Closing renders silence and sends nothing further.
    CloseSound(*full.m);
    EXPECT_FALSE(full.output.IsOpen());
    std::vector<int16_t> after(2000, 123);
    full.output.Render(after.data(), after.size() / 2);
    for (int16_t s : after) ASSERT_EQ(s, 0);
    EXPECT_THROW(full.output.ShortMessage(0x90, 69, 64), MidiError);
}

TEST(FluidSynthSoundFontTest, UnusableSoundFontsMakeOpenSoundFail) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "vexalo_fluidsynth_test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    {
        std::ofstream garbage(dir / "garbage.sf2", std::ios::binary);
        for (int i = 0; i < 5000; ++i) garbage.put(static_cast<char>(i * 37 + 11));
        // A SoundFont's signature over a body of nonsense.
        std::ofstream broken(dir / "broken.sf2", std::ios::binary);
        broken.write("RIFF\x10\0\0\0sfbkLIST\xff\xff\xff\x7f", 20);
        for (int i = 0; i < 5000; ++i) broken.put(static_cast<char>(i * 13 + 5));
    }
    const std::string cases[] = {(dir / "missing.sf2").string(), dir.string(),
                                 (dir / "garbage.sf2").string(), (dir / "broken.sf2").string()};
    for (const std::string& path : cases) {
        ScopedEnv soundFont("VEXALO_SOUNDFONT", path);
        EXPECT_EQ(FluidSynthOutput::FindSoundFont(), path);
        for (auto mode : {FluidSynthOutput::Mode::Offline, FluidSynthOutput::Mode::Live}) {
            Player p;
            FluidSynthOutput output(mode);
            p.m->sound.output = &output;
            EXPECT_FALSE(OpenSound(*p.m)) << path;
            EXPECT_FALSE(p.m->sound.midiOpen);
            EXPECT_FALSE(output.IsOpen());
            // The machine runs on, silent.
            p.Write(0x4002, 253);
            EXPECT_EQ(p.m->sound.lengthCounter[0], 8);
            EXPECT_THROW(output.Open(), MidiError);
        }
    }
    std::filesystem::remove_all(dir);

    // An empty setting means "not set": the system's SoundFont is used.
    ScopedEnv empty("VEXALO_SOUNDFONT", "");
    const std::string found = FluidSynthOutput::FindSoundFont();
    if (!found.empty()) {
        EXPECT_TRUE(std::filesystem::exists(found)) << found;
    }
}

TEST_F(FluidSynthTest, LiveOutputOpensOnlyWithAnAudioDevice) {
    // Whether this machine has an audio device or not, the live output either plays through a
    // named driver or fails cleanly, and is closed again either way.
    FluidSynthOutput output(FluidSynthOutput::Mode::Live);
    auto m = std::make_unique<Machine>();
    m->sound.output = &output;
    const bool opened = OpenSound(*m);
    EXPECT_EQ(output.IsOpen(), opened);
    EXPECT_EQ(output.AudioDriverName().empty(), !opened);
    if (opened) MachineBus{*m}.WriteByte(0x4002, 253);
    EXPECT_EQ(m->sound.lastNote[0], opened ? 69 : 0);
    // Live, the audio driver takes the sound; closed, there is none. Render gives silence.
    std::vector<int16_t> buffer(64, 5);
    output.Render(buffer.data(), 32);
    for (int16_t s : buffer) EXPECT_EQ(s, 0);
    CloseSound(*m);
    EXPECT_FALSE(output.IsOpen());
}

TEST_F(FluidSynthTest, LivePlaysThroughTheSystemsAudio) {
    // An ALSA configuration whose default device swallows the sound stands in for a sound card.
    std::vector<std::string> drivers;
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_foreach_option(
        settings, "audio.driver", &drivers, [](void* data, const char*, const char* option) {
            static_cast<std::vector<std::string>*>(data)->push_back(option);
        });
    delete_fluid_settings(settings);
    if (std::find(drivers.begin(), drivers.end(), "alsa") == drivers.end()) {
        GTEST_SKIP() << "this FluidSynth has no ALSA driver";
    }
    const std::filesystem::path config =
        std::filesystem::temp_directory_path() / "vexalo_fluidsynth_test_asound.conf";
    std::ofstream(config) << "pcm.!default { type null }\n";
    ScopedEnv alsa("ALSA_CONFIG_PATH", config.string());

    FluidSynthOutput output(FluidSynthOutput::Mode::Live);
    auto m = std::make_unique<Machine>();
    m->sound.output = &output;
    ASSERT_TRUE(OpenSound(*m));
    EXPECT_FALSE(output.AudioDriverName().empty());
    MachineBus{*m}.WriteByte(0x4002, 253);
    EXPECT_EQ(m->sound.lastNote[0], 69);
    // Opening again starts afresh instead of leaving a second driver running.
    ASSERT_TRUE(OpenSound(*m));
    CloseSound(*m);
    EXPECT_FALSE(output.IsOpen());
    std::filesystem::remove(config);
}

}  // namespace
}  // namespace vexalo
