// The music a cartridge plays as a Standard MIDI File, format 1: a tempo track, then one track
// per sound channel (square 1, square 2, triangle, noise) with its name, program and volume, and
// every message placed on the emulated frame in which the machine sent it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "machine/frame_pacer.h"
#include "sound/midi_recorder.h"

namespace vexalo {

// Time: a quarter note lasts 30 frames and a frame 16 ticks, so every frame falls on a whole
// tick. The tempo is 30 frame periods in whole microseconds (499,178 µs, about 120 beats a
// minute); it is 0.12 µs short of 30 periods, so the file runs ahead of the emulated time by
// 0.04 µs a second, 0.024 ms over ten minutes.
constexpr uint32_t kSmfTicksPerFrame = 16;
constexpr uint32_t kSmfFramesPerQuarter = 30;
constexpr uint16_t kSmfDivision = kSmfTicksPerFrame * kSmfFramesPerQuarter;  // ticks per quarter
constexpr uint32_t kSmfTempo =
    static_cast<uint32_t>(kSmfFramesPerQuarter * 1e6 / kConsoleFrameRate + 0.5);  // µs / quarter
static_assert(kSmfTempo == 499178 && kSmfDivision == 480);

// The sound channels that get a track of their own: MIDI channels 0 to 3.
constexpr int kSmfChannelTracks = 4;

// What each channel track holds at its start, before the first recorded event.
struct SmfStart {
    uint8_t program[kSmfChannelTracks] = {};
    uint16_t volume = 65535;  // the device volume, 0-65535, written as controller 7
};

// The bytes of the file. `events` are in arrival order; an event's frame counts from `startFrame`
// (earlier frames count as `startFrame`, and a frame earlier than the one before it as that one,
// so time never runs backwards). Every track ends at `endFrame` or at its last event, whichever
// is later.
//
// Note events go out as they came, but for one case: a note-on directly followed, on the same
// channel in the same frame, by the note-off of that same key (the machine starts a note before
// it stops the channel's previous one, and both may be the same key) is written note-off first,
// so a player hears the note go on instead of being cut at once. Program changes and volumes are
// written only when they change what the channel already has. Messages on MIDI channels 4-15
// and system messages are left out.
std::vector<uint8_t> BuildMidiFile(const std::vector<MidiEvent>& events, const SmfStart& start,
                                   uint64_t startFrame, uint64_t endFrame);

// Writes BuildMidiFile's bytes to a temporary file renamed into place. Throws FileError.
void WriteMidiFile(const std::string& fileName, const std::vector<MidiEvent>& events,
                   const SmfStart& start, uint64_t startFrame, uint64_t endFrame);

// Controller 7's value for a device volume: 0-65535 scaled to 0-127, rounded.
uint8_t SmfVolume(uint16_t deviceVolume);

}  // namespace vexalo
