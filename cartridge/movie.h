// Input movies: a recording of both joypads from power-on or from a saved state, in the
// runner's input-script format (input/input_script.h), so a runner that only knows scripts still
// replays it. What makes it a movie are comment lines that the script parser ignores:
//
//     # Vexalo input movie 1
//     # image-sha1: 3f0c...(40 hex digits: SHA-1 of the image's PRG and CHR pages)
//     # image: quest.nes
//     # start: power-on                       or   # start: state SHA1 FILE
//     # sound-channels: 1111
//     # frames: 600
//     # start-checksum: 1a2b3c4d
//     0 1 -
//     0 2 -
//     59 1 START
//     # check: 59 89abcdef
//     ...
//
// "start: state" names the state file the movie starts from (relative to the movie's folder
// unless absolute) with the SHA-1 of the file's bytes, so a replay refuses another state. The
// frames are the machine's frame numbers (Machine::framesCompleted, 0 for the first frame after
// power-on) and "frames" the number of frames recorded. "check: FRAME CRC" is the machine
// checksum (MachineChecksum in machine/save_state.h) at the command point of that frame, every
// 60 frames and at the last one; "start-checksum" is the machine's before the first frame.
// "pause: FRAME" marks a Pause at that frame's command point that dropped the rest of its
// line 8 (see cartridge/engine.h), which a replay repeats. "sound-channels" are the four
// channel switches of the settings, which the machine's length counters follow.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "machine/save_state.h"

namespace vexalo {

class Engine;

constexpr int kMovieFormatVersion = 1;
constexpr uint64_t kMovieCheckInterval = 60;

struct MovieCheck {
    uint64_t frame = 0;
    uint32_t checksum = 0;
};

struct MovieHeader {
    int version = 0;
    ImageDigest image{};
    std::string imageName;
    std::string startState;  // empty: power-on; else the file as the movie names it
    ImageDigest startStateSha1{};
    std::array<bool, 4> soundChannels{true, true, true, true};
    uint64_t frames = 0;
    uint32_t startChecksum = 0;
    std::vector<MovieCheck> checks;  // in frame order
    std::vector<uint64_t> pauses;    // in frame order
};

// Reads the movie's comment lines. False with `error` ("line 7: bad check line", "not an input
// movie (no "# image-sha1:" line)") for a script without a movie header or a damaged one.
bool ParseMovieHeader(std::string_view text, MovieHeader& header, std::string& error);
// The same from a file; a file that cannot be read is reported in `error`.
bool LoadMovieHeader(const std::string& movieFile, MovieHeader& header, std::string& error);
// The start state's file: as named, or beside the movie for a relative name.
std::string MovieStatePath(const std::string& movieFile, const MovieHeader& header);

// Records a movie in the desktop. Start it at power-on (right after StartEngine) or from the
// machine as it is; call RecordFrame after every RunFrames(1) that ran a frame; Stop writes it.
class MovieRecorder {
   public:
    // Starts a movie of the engine's cartridge, to be written to `movieFile`. With
    // `startStateFile` empty the movie starts at power-on, and the machine must be as StartEngine
    // left it (no frame run yet). Otherwise the machine as it is now is written to that file (a
    // state, through the temporary-file-and-rename writer) and the movie starts from it. False
    // with `error` when no cartridge is started or the machine is not at power-on; throws
    // FileError when the state cannot be written. A recording in progress is dropped.
    bool Start(const Engine& engine, const std::string& movieFile,
               const std::string& startStateFile, std::string& error);
    // Takes the joypad bytes the frame just run sampled (Machine::pads) and, every 60 frames, the
    // machine checksum. A call without a new frame records nothing. Returns false, and records
    // no more, once the machine no longer follows from the movie's start: after a reset, a load,
    // a debugger session or a new cartridge (Engine::Generation), or more than one frame run since
    // the last call.
    // Stop still writes what was recorded up to there.
    bool RecordFrame(const Engine& engine);
    // Writes the movie through the temporary-file-and-rename writer and ends the recording.
    // Throws FileError when it cannot be written; the recording is kept, so Stop can be tried
    // again, after SetFile for another file if need be.
    void Stop();
    void SetFile(const std::string& movieFile) { file_ = movieFile; }

    bool Recording() const { return recording_; }
    uint64_t FramesRecorded() const { return header_.frames; }
    // The movie's text as Stop would write it.
    std::string Text() const;

   private:
    struct Input {
        uint64_t frame;
        std::array<uint8_t, 2> pads;
    };
    bool recording_ = false;
    bool following_ = false;  // the machine still follows from the start
    std::string file_;
    MovieHeader header_;
    std::vector<Input> inputs_;  // the frames at which a pad's bytes changed
    uint64_t generation_ = 0;
    uint64_t droppedLineRests_ = 0;
    uint64_t messagePoints_ = 0;  // Machine::messagePointsReached at the last frame
    uint64_t lastFrame_ = 0;      // the frame of the last call, or the start's
    uint32_t lastChecksum_ = 0;
};

}  // namespace vexalo
