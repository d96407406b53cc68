// The default MIDI output: FluidSynth, a General MIDI synthesizer, with a SoundFont from the
// system's sf2 folder. Live, it plays through the system's audio; offline, it plays nothing by
// itself and its owner renders the sound in step with emulated time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "sound/midi_output.h"

// FluidSynth's handles, declared here so its header stays out of ours.
struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_audio_driver_t;

namespace vexalo {

class FluidSynthOutput : public MidiOutput {
   public:
    enum class Mode { Live, Offline };
    static constexpr int kSampleRate = 44100;
    // FluidSynth's own gain at full volume.
    static constexpr double kFullGain = 0.2;
    // Live: the audio driver renders 10 ms at a time, in two such periods, so a note is heard
    // about 20 ms after it is played.
    static constexpr int kPeriodFrames = kSampleRate / 100;
    static constexpr int kPeriods = 2;
    // Live: an audio driver that has asked for no sound for this long has stopped.
    static constexpr int kStalledMilliseconds = 1000;

    explicit FluidSynthOutput(Mode mode = Mode::Live);
    ~FluidSynthOutput() override;
    FluidSynthOutput(const FluidSynthOutput&) = delete;
    FluidSynthOutput& operator=(const FluidSynthOutput&) = delete;

    // Loads the SoundFont and, live, starts an audio driver. Throws MidiError when no SoundFont
    // can be loaded or, live, when no audio output is available. Opening an open output starts
    // it afresh.
    void Open() override;
    void Close() override;
    // Note-on, note-off, controllers, program changes and pitch bend; other messages are ignored.
    // Throws MidiError when the output is not open. Played live, it sits behind a
    // LiveMidiOutput like every device.
    void ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) override;
    // Synthesizer gain kFullGain * volume / 65535 (the average of both sides).
    void SetVolume(uint16_t left, uint16_t right) override;

    // Offline: renders the next `frames` stereo frames (left, right, ...) at kSampleRate. Writes
    // silence when the output is closed or live (the audio driver consumes the sound then).
    void Render(int16_t* interleavedStereo, size_t frames);

    // Live: the audio driver has stopped taking sound since it started (an audio server that
    // went away). The synthesizer still takes every message; nothing is heard until Open.
    bool Failed() const override;

    bool IsOpen() const { return synth_ != nullptr; }
    Mode mode() const { return mode_; }
    // The SoundFont loaded by the last successful Open.
    const std::string& SoundFontPath() const { return soundFontPath_; }
    // The audio driver in use while open live ("pulseaudio", "alsa", ...).
    const std::string& AudioDriverName() const { return driverName_; }

    // The SoundFont Open loads: VEXALO_SOUNDFONT when set and not empty (whether or not the
    // file exists), else the first existing General MIDI SoundFont of the system's sf2 folder;
    // empty when there is none.
    static std::string FindSoundFont();

   private:
    void StartAudioDriver();
    // The audio driver's thread: renders one period and notes the time.
    static int RenderPeriod(void* self, int frames, int nfx, float* fx[], int nout, float* out[]);

    Mode mode_;
    _fluid_hashtable_t* settings_ = nullptr;
    _fluid_synth_t* synth_ = nullptr;
    _fluid_audio_driver_t* driver_ = nullptr;
    double gain_ = kFullGain;  // kept across Close, as a device keeps its volume
    std::string soundFontPath_;
    std::string driverName_;
    // When the audio driver last asked for sound (steady clock, nanoseconds).
    std::atomic<int64_t> lastPeriod_{0};
};

}  // namespace vexalo
