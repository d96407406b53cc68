#include "sound/midi_file.h"

#include <algorithm>
#include <initializer_list>
#include <limits>

#include "machine/file_io.h"
#include "vexalo_version.h"

namespace vexalo {

namespace {

// A delta time is a variable-length number of at most four bytes, 28 bits.
constexpr uint64_t kMaxDelta = 0x0FFFFFFF;
constexpr uint8_t kMeta = 0xFF;
constexpr uint8_t kMetaText = 0x01;
constexpr uint8_t kMetaTrackName = 0x03;
constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kVolumeController = 7;
constexpr const char* kChannelNames[kSmfChannelTracks] = {"Square wave 1", "Square wave 2",
                                                          "Triangle wave", "Noise"};

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    if (data.size() > std::numeric_limits<uint32_t>::max()) {
        throw FileError("The recording is too long for a MIDI file");
    }
    out.insert(out.end(), type, type + 4);
    PutU32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

// One track's events, each after the delta time from the one before.
class Track {
   public:
    void Event(uint64_t tick, std::initializer_list<uint8_t> bytes) {
        Delta(tick);
        data_.insert(data_.end(), bytes);
    }
    void Meta(uint64_t tick, uint8_t type, const std::string& text) {
        Delta(tick);
        data_.push_back(kMeta);
        data_.push_back(type);
        Number(text.size());
        data_.insert(data_.end(), text.begin(), text.end());
    }
    void End(uint64_t tick, std::vector<uint8_t>& file) {
        Event(tick, {kMeta, kMetaEndOfTrack, 0});
        PutChunk(file, "MTrk", data_);
    }

   private:
    // A gap longer than one delta can say is bridged by empty text events.
    void Delta(uint64_t tick) {
        uint64_t delta = tick - tick_;
        tick_ = tick;
        while (delta > kMaxDelta) {
            Number(kMaxDelta);
            data_.insert(data_.end(), {kMeta, kMetaText, 0});
            delta -= kMaxDelta;
        }
        Number(delta);
    }
    // Seven bits a byte, most significant first, bit 7 set on all but the last.
    void Number(uint64_t value) {
        uint8_t bytes[10];
        int n = 0;
        do {
            bytes[n++] = static_cast<uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value != 0 && n < 10);
        while (n > 1) data_.push_back(static_cast<uint8_t>(bytes[--n] | 0x80));
        data_.push_back(bytes[0]);
    }

    std::vector<uint8_t> data_;
    uint64_t tick_ = 0;
};

struct ChannelMessage {
    uint64_t tick;
    uint8_t status;  // with the channel in its low nibble
    uint8_t data1;
    uint8_t data2;
};

bool IsNoteOn(const ChannelMessage& m) {
    return (m.status & 0xF0) == 0x90 && m.data2 != 0;
}

bool IsNoteOff(const ChannelMessage& m) {
    return (m.status & 0xF0) == 0x80 || ((m.status & 0xF0) == 0x90 && m.data2 == 0);
}

void Write(Track& track, const ChannelMessage& m) {
    const uint8_t kind = m.status & 0xF0;
    // Program change and channel pressure carry one data byte.
    if (kind == 0xC0 || kind == 0xD0) {
        track.Event(m.tick, {m.status, static_cast<uint8_t>(m.data1 & 0x7F)});
    } else {
        track.Event(m.tick, {m.status, static_cast<uint8_t>(m.data1 & 0x7F),
                             static_cast<uint8_t>(m.data2 & 0x7F)});
    }
}

// Channel `c`'s messages (volumes as controller 7) in arrival order, with the program changes and
// volumes that change nothing left out.
std::vector<ChannelMessage> ChannelMessages(const std::vector<MidiEvent>& events,
                                            const SmfStart& start, uint64_t startFrame, int c) {
    std::vector<ChannelMessage> out;
    uint8_t program = start.program[c] & 0x7F;
    uint8_t volume = SmfVolume(start.volume);
    uint64_t frame = startFrame;
    for (const MidiEvent& e : events) {
        frame = std::max(frame, e.frame);
        const uint64_t tick = (frame - startFrame) * kSmfTicksPerFrame;
        const uint8_t status = static_cast<uint8_t>(0xB0 + c);
        if (e.kind == MidiEvent::Kind::Volume) {
            const uint8_t v = SmfVolume(static_cast<uint16_t>((e.left + e.right) / 2));
            if (v != volume) out.push_back({tick, status, kVolumeController, v});
            volume = v;
            continue;
        }
        if (e.status < 0x80 || e.status >= 0xF0 || (e.status & 0x0F) != c) continue;
        if ((e.status & 0xF0) == 0xC0) {
            if ((e.data1 & 0x7F) == program) continue;
            program = e.data1 & 0x7F;
        }
        if ((e.status & 0xF0) == 0xB0 && e.data1 == kVolumeController) {
            if ((e.data2 & 0x7F) == volume) continue;
            volume = e.data2 & 0x7F;
        }
        out.push_back({tick, e.status, e.data1, e.data2});
    }
    return out;
}

}  // namespace

uint8_t SmfVolume(uint16_t deviceVolume) {
    return static_cast<uint8_t>((deviceVolume * 127u + 32767u) / 65535u);
}

std::vector<uint8_t> BuildMidiFile(const std::vector<MidiEvent>& events, const SmfStart& start,
                                   uint64_t startFrame, uint64_t endFrame) {
    uint64_t lastFrame = std::max(startFrame, endFrame);
    for (const MidiEvent& e : events) lastFrame = std::max(lastFrame, e.frame);
    const uint64_t endTick = (lastFrame - startFrame) * kSmfTicksPerFrame;

    std::vector<uint8_t> file;
    std::vector<uint8_t> header;
    PutU16(header, 1);  // format 1: tracks played together
    PutU16(header, 1 + kSmfChannelTracks);
    PutU16(header, kSmfDivision);
    PutChunk(file, "MThd", header);

    Track tempo;
    tempo.Meta(0, kMetaTrackName, VEXALO_PRODUCT_NAME);
    tempo.Event(0, {kMeta, kMetaTempo, 3, static_cast<uint8_t>(kSmfTempo >> 16),
                    static_cast<uint8_t>(kSmfTempo >> 8), static_cast<uint8_t>(kSmfTempo)});
    tempo.End(endTick, file);

    for (int c = 0; c < kSmfChannelTracks; ++c) {
        Track track;
        track.Meta(0, kMetaTrackName, kChannelNames[c]);
        track.Event(
            0, {static_cast<uint8_t>(0xC0 + c), static_cast<uint8_t>(start.program[c] & 0x7F)});
        track.Event(0,
                    {static_cast<uint8_t>(0xB0 + c), kVolumeController, SmfVolume(start.volume)});
        const std::vector<ChannelMessage> messages = ChannelMessages(events, start, startFrame, c);
        for (size_t i = 0; i < messages.size(); ++i) {
            const ChannelMessage& m = messages[i];
            if (IsNoteOn(m) && i + 1 < messages.size()) {
                const ChannelMessage& next = messages[i + 1];
                if (IsNoteOff(next) && next.data1 == m.data1 && next.tick == m.tick) {
                    Write(track, next);
                    Write(track, m);
                    ++i;
                    continue;
                }
            }
            Write(track, m);
        }
        track.End(endTick, file);
    }
    return file;
}

void WriteMidiFile(const std::string& fileName, const std::vector<MidiEvent>& events,
                   const SmfStart& start, uint64_t startFrame, uint64_t endFrame) {
    std::vector<uint8_t> bytes;
    try {
        bytes = BuildMidiFile(events, start, startFrame, endFrame);
    } catch (const FileError& e) {
        throw FileError(fileName + ": " + e.what());
    }
    ReplaceFile(fileName, bytes.data(), bytes.size());
}

}  // namespace vexalo
