#include "sound/fluidsynth_output.h"

#include <fluidsynth.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#ifdef VEXALO_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace vexalo {

namespace {

constexpr const char* kSoundFontFolder = "/usr/share/sounds/sf2/";
// In order of preference: default-GM.sf2 is the system's chosen General MIDI font.
constexpr const char* kSoundFontNames[] = {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"};
// Audio drivers tried in turn for live play, those of this FluidSynth build only. The file driver
// would write a file and JACK may start a server of its own, so neither is tried.
constexpr const char* kAudioDrivers[] = {"pipewire",  "pulseaudio", "alsa",
                                         "coreaudio", "wasapi",     "dsound"};

bool FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// A RIFF file of SoundFont ("sfbk") or DLS form. Other files never reach FluidSynth's loaders,
// which complain loudly about them.
bool LooksLikeSoundFont(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char head[12] = {};
    const bool read = std::fread(head, 1, sizeof head, f) == sizeof head;
    std::fclose(f);
    return read && std::memcmp(head, "RIFF", 4) == 0 &&
           (std::memcmp(head + 8, "sfbk", 4) == 0 || std::memcmp(head + 8, "DLS ", 4) == 0);
}

void DiscardLogMessage(int, const char*, void*) {}

int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

#ifdef VEXALO_HAVE_ALSA
void DiscardAlsaError(const char*, int, const char*, int, const char*, ...) {}
#endif

// While it lives, FluidSynth's and ALSA's complaints about missing files and devices are not
// printed: a missing device is reported through MidiError, and the program falls back to silence.
class QuietLibraries {
   public:
    QuietLibraries() {
        for (int i = 0; i < 3; ++i) {
            previous_[i] = fluid_set_log_function(kLevels[i], DiscardLogMessage, nullptr);
        }
#ifdef VEXALO_HAVE_ALSA
        snd_lib_error_set_handler(DiscardAlsaError);
#endif
    }
    ~QuietLibraries() {
        for (int i = 0; i < 3; ++i) fluid_set_log_function(kLevels[i], previous_[i], nullptr);
#ifdef VEXALO_HAVE_ALSA
        snd_lib_error_set_handler(nullptr);
#endif
    }
    QuietLibraries(const QuietLibraries&) = delete;
    QuietLibraries& operator=(const QuietLibraries&) = delete;

   private:
    static constexpr int kLevels[3] = {FLUID_PANIC, FLUID_ERR, FLUID_WARN};
    fluid_log_function_t previous_[3] = {};
};

}  // namespace

FluidSynthOutput::FluidSynthOutput(Mode mode) : mode_(mode) {}

FluidSynthOutput::~FluidSynthOutput() {
    Close();
}

std::string FluidSynthOutput::FindSoundFont() {
    const char* chosen = std::getenv("VEXALO_SOUNDFONT");
    if (chosen != nullptr && chosen[0] != '\0') return chosen;
    for (const char* name : kSoundFontNames) {
        std::string path = std::string(kSoundFontFolder) + name;
        if (FileExists(path)) return path;
    }
    return {};
}

void FluidSynthOutput::Open() {
    Close();
    const std::string soundFont = FindSoundFont();
    if (soundFont.empty()) throw MidiError("No General MIDI SoundFont found");

    QuietLibraries quiet;
    settings_ = new_fluid_settings();
    if (settings_ == nullptr) throw MidiError("Cannot create the FluidSynth settings");
    fluid_settings_setnum(settings_, "synth.sample-rate", kSampleRate);
    fluid_settings_setnum(settings_, "synth.gain", gain_);
    fluid_settings_setint(settings_, "audio.period-size", kPeriodFrames);
    fluid_settings_setint(settings_, "audio.periods", kPeriods);
    synth_ = new_fluid_synth(settings_);
    if (synth_ == nullptr) {
        Close();
        throw MidiError("Cannot create the FluidSynth synthesizer");
    }
    if (!FileExists(soundFont) || !LooksLikeSoundFont(soundFont) ||
        fluid_synth_sfload(synth_, soundFont.c_str(), 1) == FLUID_FAILED) {
        Close();
        throw MidiError("Cannot load the SoundFont " + soundFont);
    }
    soundFontPath_ = soundFont;
    if (mode_ == Mode::Live) StartAudioDriver();
}

void FluidSynthOutput::StartAudioDriver() {
    std::vector<std::string> built;
    fluid_settings_foreach_option(
        settings_, "audio.driver", &built, [](void* data, const char*, const char* option) {
            static_cast<std::vector<std::string>*>(data)->push_back(option);
        });
    for (const char* name : kAudioDrivers) {
        if (std::find(built.begin(), built.end(), name) == built.end()) continue;
        if (fluid_settings_setstr(settings_, "audio.driver", name) != FLUID_OK) continue;
        lastPeriod_ = SteadyNanoseconds();
        driver_ = new_fluid_audio_driver2(settings_, RenderPeriod, this);
        if (driver_ != nullptr) {
            driverName_ = name;
            return;
        }
    }
    Close();
    throw MidiError("No audio output available");
}

int FluidSynthOutput::RenderPeriod(void* self, int frames, int, float*[], int nout, float* out[]) {
    auto* output = static_cast<FluidSynthOutput*>(self);
    output->lastPeriod_.store(SteadyNanoseconds(), std::memory_order_relaxed);
    if (nout < 2) return FLUID_FAILED;
    // The drivers this class starts have no separate effect buffers: the reverb and chorus are
    // mixed into the two channels, as FluidSynth's own rendering does.
    return fluid_synth_write_float(output->synth_, frames, out[0], 0, 1, out[1], 0, 1);
}

bool FluidSynthOutput::Failed() const {
    if (driver_ == nullptr) return false;
    const int64_t silent = SteadyNanoseconds() - lastPeriod_.load(std::memory_order_relaxed);
    return silent > int64_t{kStalledMilliseconds} * 1000000;
}

void FluidSynthOutput::Close() {
    if (driver_ != nullptr) delete_fluid_audio_driver(driver_);
    if (synth_ != nullptr) delete_fluid_synth(synth_);
    if (settings_ != nullptr) delete_fluid_settings(settings_);
    driver_ = nullptr;
    synth_ = nullptr;
    settings_ = nullptr;
    driverName_.clear();
}

void FluidSynthOutput::ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) {
    if (synth_ == nullptr) throw MidiError("The FluidSynth output is not open");
    const int channel = status & 0x0F;
    const int key = data1 & 0x7F;
    const int value = data2 & 0x7F;
    // FluidSynth reports a note-off for a key that is not sounding as a failure; for a MIDI
    // device that is an ordinary message, so results are not turned into errors.
    switch (status & 0xF0) {
        case 0x80: fluid_synth_noteoff(synth_, channel, key); break;
        case 0x90:
            if (value == 0) {
                fluid_synth_noteoff(synth_, channel, key);
            } else {
                fluid_synth_noteon(synth_, channel, key, value);
            }
            break;
        case 0xA0: fluid_synth_key_pressure(synth_, channel, key, value); break;
        case 0xB0: fluid_synth_cc(synth_, channel, key, value); break;
        case 0xC0: fluid_synth_program_change(synth_, channel, key); break;
        case 0xD0: fluid_synth_channel_pressure(synth_, channel, key); break;
        case 0xE0: fluid_synth_pitch_bend(synth_, channel, key | (value << 7)); break;
        default: break;  // system messages and stray data bytes
    }
}

void FluidSynthOutput::SetVolume(uint16_t left, uint16_t right) {
    const double volume = (static_cast<double>(left) + right) / 2.0;
    gain_ = kFullGain * volume / 65535.0;
    if (synth_ != nullptr) fluid_synth_set_gain(synth_, static_cast<float>(gain_));
}

void FluidSynthOutput::Render(int16_t* interleavedStereo, size_t frames) {
    if (interleavedStereo == nullptr || frames == 0) return;
    if (synth_ == nullptr || driver_ != nullptr) {
        std::fill(interleavedStereo, interleavedStereo + frames * 2, int16_t{0});
        return;
    }
    // FluidSynth counts frames in an int: render in blocks.
    constexpr size_t kBlock = 4096;
    while (frames > 0) {
        const size_t n = std::min(frames, kBlock);
        fluid_synth_write_s16(synth_, static_cast<int>(n), interleavedStereo, 0, 2,
                              interleavedStereo, 1, 2);
        interleavedStereo += n * 2;
        frames -= n;
    }
}

}  // namespace vexalo
