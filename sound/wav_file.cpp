#include "sound/wav_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "machine/file_io.h"

namespace vexalo {

namespace {

constexpr int kChannels = 2;
constexpr int kBytesPerSample = 2;
constexpr size_t kHeaderSize = 44;

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void WriteWavFile(const std::string& fileName, const std::vector<int16_t>& interleavedStereo) {
    const size_t frames = interleavedStereo.size() / kChannels;
    const uint64_t dataBytes = static_cast<uint64_t>(frames) * kChannels * kBytesPerSample;
    // The RIFF sizes are 32-bit: the whole file must stay below 4 GB.
    if (dataBytes > std::numeric_limits<uint32_t>::max() - (kHeaderSize - 8)) {
        throw FileError("Cannot write " + fileName + ": the sound is too long for a WAV file");
    }

    uint8_t header[kHeaderSize] = {};
    std::memcpy(header, "RIFF", 4);
    PutU32(header + 4, static_cast<uint32_t>(dataBytes + kHeaderSize - 8));
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    PutU32(header + 16, 16);  // size of the format chunk
    PutU16(header + 20, 1);   // PCM
    PutU16(header + 22, kChannels);
    PutU32(header + 24, kWavSampleRate);
    PutU32(header + 28, kWavSampleRate * kChannels * kBytesPerSample);  // bytes per second
    PutU16(header + 32, kChannels * kBytesPerSample);                   // bytes per frame
    PutU16(header + 34, 8 * kBytesPerSample);                           // bits per sample
    std::memcpy(header + 36, "data", 4);
    PutU32(header + 40, static_cast<uint32_t>(dataBytes));

    // Samples go out little-endian whatever the host's byte order.
    std::vector<uint8_t> bytes(header, header + kHeaderSize);
    bytes.resize(kHeaderSize + dataBytes);
    for (size_t i = 0; i < frames * kChannels; ++i) {
        PutU16(bytes.data() + kHeaderSize + i * kBytesPerSample,
               static_cast<uint16_t>(interleavedStereo[i]));
    }
    ReplaceFile(fileName, bytes.data(), bytes.size());
}

}  // namespace vexalo
