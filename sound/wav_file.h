// Writing rendered sound as a WAV file: 16-bit PCM, two channels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexalo {

constexpr int kWavSampleRate = 44100;

// Writes interleaved stereo samples (left, right, left, ...) as a 16-bit stereo PCM WAV file at
// 44100 Hz; an odd trailing sample is dropped. Written to a temporary file beside the target and
// renamed into place, so a failed write leaves any earlier file untouched. Throws FileError with
// the system's message.
void WriteWavFile(const std::string& fileName, const std::vector<int16_t>& interleavedStereo);

}  // namespace vexalo
