// vexalo-run: the headless runner. Loads an image the way the desktop does (printing the same log
// lines), resets the machine and runs it unpaced for a number of frames.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cartridge/engine.h"
#include "cartridge/loader.h"
#include "cartridge/movie.h"
#include "debugger/disassembler.h"
#include "input/input_device.h"
#include "input/input_script.h"
#include "input/joypad.h"
#include "machine/bitmap_file.h"
#include "machine/bus.h"
#include "machine/palette.h"
#include "machine/renderer.h"
#include "sound/midi_recorder.h"
#include "sound/music_recorder.h"
#include "sound/wav_file.h"
#include "vexalo_version.h"
#ifdef VEXALO_WITH_PLATFORM
#include "sound/fluidsynth_output.h"
#include "sound/live_midi_output.h"
#endif

using namespace vexalo;

namespace {

void Usage() {
    std::fputs(
        VEXALO_PRODUCT_NAME
        " " VEXALO_PRODUCT_VERSION
        ", headless runner\n"
        "usage: vexalo-run IMAGE [options]\n"
        "  --frames N           run N frames (default 60)\n"
        "  --frame-skip N       draw one frame in N (default 1)\n"
        "  --trace FILE         one line per executed instruction ('-' for standard output)\n"
        "  --peek ADDR[:LEN]    after the run, print LEN bytes from ADDR (hexadecimal)\n"
        "  --snapshot FILE.bmp  after the run, save the picture as a bitmap\n"
        "  --bench              print the emulation speed as the last line\n"
        "  --input SCRIPT       hold joypad buttons from a script: lines 'FRAME PLAYER BUTTONS'\n"
        "  --verify             replay the --input movie from its start and check its machine\n"
        "                       checksums (exit status 0 when all match, 3 at the first that "
        "differs)\n"
        "  --midi-log FILE      write every MIDI message with its frame number\n"
        "  --smf FILE.mid       write the music as a Standard MIDI File, one track a channel\n"
        "  --wav FILE           render the notes on the built-in synthesizer into a WAV file\n"
        "  --load-state FILE    before the run, load a saved state of the image\n"
        "  --save-state FILE    after the run, save the machine as a state\n"
        "  --version            print the version and exit\n",
        stderr);
}

void Version() {
    std::puts("vexalo-run (" VEXALO_PRODUCT_NAME ") " VEXALO_PRODUCT_VERSION
              "\n" VEXALO_LEGAL_COPYRIGHT);
}

struct Peek {
    uint16_t address;
    int length;
};

struct Options {
    std::string image;
    int64_t frames = 60;
    int frameSkip = 1;
    std::string trace;
    std::vector<Peek> peeks;
    std::string snapshot;
    bool bench = false;
    std::string input;
    bool verify = false;
    bool framesGiven = false;
    std::string midiLog;
    std::string smf;
    std::string wav;
    std::string loadState;
    std::string saveState;
    bool version = false;
};

bool ParseNumber(const char* text, int base, long long min, long long max, long long& out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, base);
    if (errno || end == text || *end || v < min || v > max) return false;
    out = v;
    return true;
}

bool ParsePeek(const std::string& arg, Peek& peek) {
    const size_t colon = arg.find(':');
    long long address = 0, length = 1;
    if (!ParseNumber(arg.substr(0, colon).c_str(), 16, 0, 0xFFFF, address)) return false;
    if (colon != std::string::npos &&
        !ParseNumber(arg.substr(colon + 1).c_str(), 16, 1, 0x10000, length))
        return false;
    peek = {static_cast<uint16_t>(address), static_cast<int>(length)};
    return true;
}

// Returns false (after saying why) on a malformed command line.
bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long long n = 0;
        if (arg == "--frames" && hasValue && ParseNumber(argv[i + 1], 10, 0, 1LL << 40, n)) {
            o.frames = n;
            o.framesGiven = true;
            ++i;
        } else if (arg == "--frame-skip" && hasValue && ParseNumber(argv[i + 1], 10, 1, 10, n)) {
            o.frameSkip = static_cast<int>(n);
            ++i;
        } else if (arg == "--trace" && hasValue) {
            o.trace = argv[++i];
        } else if (arg == "--peek" && hasValue) {
            Peek p;
            if (!ParsePeek(argv[++i], p)) {
                std::fprintf(stderr, "vexalo-run: bad --peek value '%s'\n", argv[i]);
                return false;
            }
            o.peeks.push_back(p);
        } else if (arg == "--snapshot" && hasValue) {
            o.snapshot = argv[++i];
        } else if (arg == "--input" && hasValue) {
            o.input = argv[++i];
        } else if (arg == "--midi-log" && hasValue) {
            o.midiLog = argv[++i];
        } else if (arg == "--load-state" && hasValue) {
            o.loadState = argv[++i];
        } else if (arg == "--save-state" && hasValue) {
            o.saveState = argv[++i];
        } else if (arg == "--smf" && hasValue) {
            o.smf = argv[++i];
        } else if (arg == "--wav" && hasValue) {
#ifdef VEXALO_WITH_PLATFORM
            o.wav = argv[++i];
#else
            std::fputs("vexalo-run: built without the synthesizer; --wav is not available\n",
                       stderr);
            return false;
#endif
        } else if (arg == "--verify") {
            o.verify = true;
        } else if (arg == "--bench") {
            o.bench = true;
        } else if (arg == "--help" || arg == "-h") {
            return false;
        } else if (arg == "--version") {
            o.version = true;
            return true;
        } else if (!arg.empty() && arg[0] != '-' && o.image.empty()) {
            o.image = arg;
        } else {
            std::fprintf(stderr, "vexalo-run: bad argument '%s'\n", arg.c_str());
            return false;
        }
    }
    if (o.image.empty()) {
        std::fputs("vexalo-run: no image given\n", stderr);
        return false;
    }
    if (o.verify &&
        (o.input.empty() || o.framesGiven || !o.trace.empty() || !o.loadState.empty())) {
        std::fputs(
            "vexalo-run: --verify needs --input MOVIE and takes its frames and start from "
            "the movie (no --frames, --load-state or --trace)\n",
            stderr);
        return false;
    }
    return true;
}

void PrintLog(Log& log) {
    const uint64_t dropped = log.Drain([](const std::string& line) { std::puts(line.c_str()); });
    if (dropped) std::printf("(%" PRIu64 " earlier log lines not kept)\n", dropped);
}

// A bus for listing instructions without touching the machine: every read is the
// side-effect-free fetch, so tracing never changes what the machine does.
struct ListingBus {
    const MachineBus& bus;
    uint8_t FetchByte(uint16_t a) const { return bus.FetchByte(a); }
    uint8_t ReadByte(uint16_t a) const { return bus.FetchByte(a); }
};

struct TraceHook {
    std::FILE* out;
    const Machine* m;
    void operator()(const CpuState& s) const {
        MachineBus bus{const_cast<Machine&>(*m)};
        ListingBus listing{bus};
        uint16_t address = s.PC;
        std::string text;
        DisassembleAt(listing, address, text);
        std::fprintf(out, "%04X  A:%02X X:%02X Y:%02X P:%02X S:%02X  %s\n", s.PC, s.A, s.X, s.Y,
                     s.P, s.S, text.c_str());
    }
};

// Hands every message to several outputs (the recorder and the synthesizer). An output that
// cannot be opened is left out, so the recorder still records without a SoundFont.
class TeeOutput : public MidiOutput {
   public:
    void Add(MidiOutput* output) { outputs_.push_back(output); }
    void Open() override {
        open_.clear();
        std::string failure;
        for (MidiOutput* o : outputs_) {
            try {
                o->Open();
                open_.push_back(o);
            } catch (const MidiError& e) {
                failure = e.what();
                std::fprintf(stderr, "vexalo-run: %s\n", e.what());
            }
        }
        if (open_.empty()) throw MidiError(failure);
    }
    void Close() override {
        for (MidiOutput* o : open_) o->Close();
        open_.clear();
    }
    void ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) override {
        for (MidiOutput* o : open_) o->ShortMessage(status, data1, data2);
    }
    void SetVolume(uint16_t left, uint16_t right) override {
        for (MidiOutput* o : open_) o->SetVolume(left, right);
    }
    bool Empty() const { return outputs_.empty(); }

   private:
    std::vector<MidiOutput*> outputs_;
    std::vector<MidiOutput*> open_;
};

void WriteMidiLog(const std::string& fileName, const MidiRecorder& recorder) {
    std::FILE* f = std::fopen(fileName.c_str(), "w");
    if (!f) throw FileError(fileName + ": " + std::strerror(errno));
    for (const MidiEvent& e : recorder.ShortMessages())
        std::fprintf(f, "%" PRIu64 " %02X %02X %02X\n", e.frame, e.status, e.data1, e.data2);
    if (std::fclose(f) != 0) throw FileError(fileName + ": " + std::strerror(errno));
}

std::vector<uint8_t> ReadFileBytes(const std::string& fileName) {
    std::FILE* f = std::fopen(fileName.c_str(), "rb");
    if (!f) throw FileError(fileName + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    const bool failed = std::ferror(f);
    std::fclose(f);
    if (failed) throw FileError(fileName + ": " + std::strerror(errno));
    return bytes;
}

// Replays a movie as the desktop recorded it: from its start, one frame per RunFrames(1), whose
// command point is where its checks were taken and its pauses made. Returns the exit status: 0
// when every check matched, 2 for a movie of another image or start state, 3 when a checksum
// differs (reported with its frame).
int VerifyMovie(Engine& engine, const std::string& movieFile, const MovieHeader& movie,
                int64_t& framesRun) {
    Machine& m = engine.machine();
    if (engine.ImageSha1() != movie.image) {
        std::fprintf(stderr,
                     "vexalo-run: %s is a movie of another image (%s, SHA-1 %s); %s has SHA-1 %s\n",
                     movieFile.c_str(), movie.imageName.c_str(), DigestHex(movie.image).c_str(),
                     m.cart.romFileName.c_str(), DigestHex(engine.ImageSha1()).c_str());
        return 2;
    }
    if (!movie.startState.empty()) {
        const std::string stateFile = MovieStatePath(movieFile, movie);
        const std::vector<uint8_t> state = ReadFileBytes(stateFile);
        if (Sha1(state) != movie.startStateSha1) {
            std::fprintf(stderr,
                         "vexalo-run: %s is not the start state of %s (its SHA-1 is %s, the "
                         "movie's %s)\n",
                         stateFile.c_str(), movieFile.c_str(), DigestHex(Sha1(state)).c_str(),
                         DigestHex(movie.startStateSha1).c_str());
            return 2;
        }
        const bool loaded = engine.LoadState(state, stateFile);
        PrintLog(m.log);
        if (!loaded) return 2;
    }
    const auto differs = [&](const char* where, uint32_t expected, size_t matched) {
        std::printf("Movie differs %s: machine checksum %08" PRIx32 ", the movie has %08" PRIx32
                    " (%zu of %zu checkpoints matched before it).\n",
                    where, MachineChecksum(m), expected, matched, movie.checks.size() + 1);
        return 3;
    };
    if (MachineChecksum(m) != movie.startChecksum)
        return differs("at its start", movie.startChecksum, 0);
    auto check = movie.checks.begin();
    auto pause = movie.pauses.begin();
    const auto pauseAt = [&](uint64_t frame) {
        while (pause != movie.pauses.end() && *pause < frame) ++pause;
        for (; pause != movie.pauses.end() && *pause == frame; ++pause) {
            engine.Pause();  // stops there, dropping the rest of line 8 as the recording did
            engine.Pause();
        }
    };
    pauseAt(m.framesCompleted);
    for (framesRun = 0; static_cast<uint64_t>(framesRun) < movie.frames; ++framesRun) {
        if (engine.RunFrames(1) != 1) {
            std::printf("Movie differs at frame %" PRIu64 ": the machine stopped.\n",
                        m.framesCompleted);
            return 3;
        }
        const uint64_t frame = m.framesCompleted;
        for (; check != movie.checks.end() && check->frame <= frame; ++check) {
            if (check->frame == frame && MachineChecksum(m) == check->checksum) continue;
            const std::string where = "at frame " + std::to_string(check->frame);
            return differs(where.c_str(), check->checksum,
                           static_cast<size_t>(check - movie.checks.begin()) + 1);
        }
        pauseAt(frame);
    }
    if (check != movie.checks.end()) {
        std::printf("Movie differs at frame %" PRIu64 ": the movie ends before its check there.\n",
                    check->frame);
        return 3;
    }
    std::printf("Movie verified: all %zu checkpoints matched over %" PRId64 " frames.\n",
                movie.checks.size() + 1, framesRun);
    return 0;
}

// The console's frame rate: the WAV file follows the emulated time.
constexpr double kFramesPerSecond = 60.0988;

int Run(const Options& o) {
    // Sound: the recorder for --midi-log, the music file for --smf, the offline synthesizer for
    // --wav; silent otherwise. They outlive the engine, which closes them.
    MidiRecorder recorder;
    TeeOutput outputs;
    if (!o.midiLog.empty()) outputs.Add(&recorder);
#ifdef VEXALO_WITH_PLATFORM
    FluidSynthOutput synthesizer(FluidSynthOutput::Mode::Offline);
    LiveMidiOutput heard(&synthesizer);  // what a person would hear, as on the desktop
    if (!o.wav.empty()) outputs.Add(&heard);
#endif
    std::vector<int16_t> samples;
    Engine engine;
    Machine& m = engine.machine();
    recorder.SetClock(&m.framesCompleted);
    MusicRecorder music(nullptr, &m.framesCompleted);
    if (!o.smf.empty()) {
        music.Start(o.smf);  // a file that cannot be written stops the run before it begins
        outputs.Add(&music);
    }
    if (!outputs.Empty()) m.sound.output = &outputs;
    m.settings.FrameRate = o.frameSkip;

    MovieHeader movie;
    if (o.verify) {
        std::string error;
        if (!LoadMovieHeader(o.input, movie, error)) throw FileError(error);
        for (size_t i = 0; i < 4; ++i) m.settings.channelEnabled[i] = movie.soundChannels[i];
    }

    // Both joypads follow the script (frame numbers count from 0, the first frame after reset).
    InputScript script;
    if (!o.input.empty()) {
        std::string error;
        if (!LoadInputScript(o.input, script, error)) {
            // A script that cannot be read names its file; a malformed line names its number.
            throw FileError(error.rfind("line ", 0) == 0 ? o.input + ": " + error : error);
        }
    }
    InputDevice devices[2];
    InputScriptSource sources[2] = {{script, 0, &m.framesCompleted},
                                    {script, 1, &m.framesCompleted}};
    for (int p = 0; p < 2; ++p) {
        devices[p].SetScriptedSource(&sources[p]);
        m.pads.device[p] = &devices[p];
    }
    ApplyKeyBindings(m);

    const bool started = engine.StartEngine(o.image);
    PrintLog(m.log);
    if (!started) return 2;
    if (!outputs.Empty() && !m.sound.midiOpen)
        std::fputs("vexalo-run: the MIDI output could not be opened; the run is silent\n", stderr);
    if (!o.loadState.empty()) {
        const bool loaded = engine.LoadStateFile(o.loadState);  // throws when it cannot be read
        PrintLog(m.log);
        if (!loaded) return 2;
    }

    std::FILE* trace = nullptr;
    if (!o.trace.empty()) {
        trace = o.trace == "-" ? stdout : std::fopen(o.trace.c_str(), "w");
        if (!trace) throw FileError(o.trace + ": " + std::strerror(errno));
    }

    const auto begin = std::chrono::steady_clock::now();
    int status = 0;
    int64_t framesRun = o.frames;
    if (o.verify) status = VerifyMovie(engine, o.input, movie, framesRun);
    for (int64_t frame = 0; !o.verify && frame < o.frames && engine.Running(); ++frame) {
        // Whole frames of 244 lines from the reset (line 0 to line 0), so a run of N frames
        // ends right after the Nth frame was shown.
        if (trace)
            engine.Run(kLinesPerFrame, TraceHook{trace, &m});
        else
            engine.Run(kLinesPerFrame);
#ifdef VEXALO_WITH_PLATFORM
        if (!o.wav.empty()) {
            const auto due =
                static_cast<size_t>((frame + 1) * FluidSynthOutput::kSampleRate / kFramesPerSecond);
            const size_t have = samples.size() / 2;
            samples.resize(due * 2);
            synthesizer.Render(samples.data() + have * 2, due - have);
        }
#endif
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (trace && trace != stdout && std::fclose(trace) != 0)
        throw FileError(o.trace + ": " + std::strerror(errno));

    if (!o.snapshot.empty()) {
        RenderSprites(m, kFirstDrawnLine);
        WriteBitmapFile(o.snapshot, m.frame.data(), BuildColourTable(m.ppu.vram));
    }
    MachineBus bus{m};
    for (const Peek& p : o.peeks) {
        std::printf("%04X:", p.address);
        for (int i = 0; i < p.length; ++i)
            std::printf(" %02X", bus.FetchByte(static_cast<uint16_t>(p.address + i)));
        std::printf("\n");
    }
    if (!o.saveState.empty()) engine.SaveStateFile(o.saveState);
    PrintLog(m.log);
    try {
        // Writes the battery file as the desktop does; a verification leaves it alone.
        engine.FreeRom(FreeRomCall::IfStarted,
                       o.verify ? BatterySave::Discard : BatterySave::Write);
    } catch (const FileError&) {
        PrintLog(m.log);  // the log says which file was being saved
        throw;
    }
    PrintLog(m.log);
    if (!o.midiLog.empty()) WriteMidiLog(o.midiLog, recorder);
    music.Stop();
    if (!o.wav.empty()) WriteWavFile(o.wav, samples);
    if (o.bench) {
        std::printf("frames: %" PRId64 "  seconds: %.3f  frames/s: %.0f\n", framesRun, seconds,
                    seconds > 0 ? framesRun / seconds : 0.0);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Usage();
        return 64;
    }
    if (options.version) {
        Version();
        return 0;
    }
    try {
        return Run(options);
    } catch (const FileError& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "vexalo-run: %s\n", e.what());
        return 1;
    }
}
