#include "cartridge/movie.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cartridge/engine.h"
#include "machine/file_io.h"

namespace vexalo {

namespace {

constexpr std::string_view kTitle = "Vexalo input movie ";

// Script names of the pad bits, bit 0 (A) to bit 7 (Right).
constexpr const char* kPadButtons[8] = {"A", "B", "SELECT", "START", "UP", "DOWN", "LEFT", "RIGHT"};

std::string Buttons(uint8_t pad) {
    if (pad == 0) return "-";
    std::string text;
    for (int bit = 0; bit < 8; ++bit) {
        if (!(pad & (1 << bit))) continue;
        if (!text.empty()) text += '+';
        text += kPadButtons[bit];
    }
    return text;
}

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool ParseUnsigned(std::string_view text, int base, uint64_t max, uint64_t& out) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        if (digit >= base || v > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
            return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    out = v;
    return true;
}

bool ParseDigest(std::string_view text, ImageDigest& digest) {
    if (text.size() != 40) return false;
    for (size_t i = 0; i < digest.size(); ++i) {
        uint64_t byte = 0;
        if (!ParseUnsigned(text.substr(2 * i, 2), 16, 0xFF, byte)) return false;
        digest[i] = static_cast<uint8_t>(byte);
    }
    return true;
}

// "FRAME HEX" of a check line.
bool ParseCheck(std::string_view value, MovieCheck& check) {
    const size_t space = value.find(' ');
    uint64_t frame = 0, crc = 0;
    if (space == std::string_view::npos ||
        !ParseUnsigned(value.substr(0, space), 10, UINT64_MAX, frame) ||
        !ParseUnsigned(Trim(value.substr(space)), 16, UINT32_MAX, crc))
        return false;
    check = {frame, static_cast<uint32_t>(crc)};
    return true;
}

std::string Hex32(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08" PRIx32, v);
    return text;
}

}  // namespace

bool ParseMovieHeader(std::string_view text, MovieHeader& header, std::string& error) {
    MovieHeader h;
    bool hasImage = false, hasStart = false, hasFrames = false, hasStartChecksum = false;
    size_t lineStart = 0;
    for (size_t lineNumber = 1; lineStart < text.size(); ++lineNumber) {
        const size_t newline = text.find('\n', lineStart);
        const size_t lineEnd = newline == std::string_view::npos ? text.size() : newline;
        std::string_view line = Trim(text.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        if (line.empty() || line[0] != '#') continue;
        line = Trim(line.substr(1));
        if (line.substr(0, kTitle.size()) == kTitle) {
            uint64_t version = 0;
            if (!ParseUnsigned(Trim(line.substr(kTitle.size())), 10, 1000000, version)) {
                error = "line " + std::to_string(lineNumber) + ": bad movie format version";
                return false;
            }
            h.version = static_cast<int>(version);
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;  // an ordinary comment
        const std::string_view key = line.substr(0, colon);
        const std::string_view value = Trim(line.substr(colon + 1));
        bool ok = true;
        if (key == "image-sha1") {
            ok = hasImage = ParseDigest(value, h.image);
        } else if (key == "image") {
            h.imageName = value;
        } else if (key == "start") {
            if (value == "power-on") {
                h.startState.clear();
                hasStart = true;
            } else if (value.substr(0, 6) == "state ") {
                const std::string_view rest = Trim(value.substr(6));
                ok = hasStart = rest.size() > 41 && rest[40] == ' ' &&
                                ParseDigest(rest.substr(0, 40), h.startStateSha1);
                if (ok) h.startState = Trim(rest.substr(41));
            } else {
                ok = false;
            }
        } else if (key == "sound-channels") {
            ok = value.size() == 4 && value.find_first_not_of("01") == std::string_view::npos;
            for (size_t i = 0; ok && i < 4; ++i) h.soundChannels[i] = value[i] == '1';
        } else if (key == "frames") {
            ok = hasFrames = ParseUnsigned(value, 10, UINT64_MAX, h.frames);
        } else if (key == "start-checksum") {
            uint64_t crc = 0;
            ok = hasStartChecksum = ParseUnsigned(value, 16, UINT32_MAX, crc);
            h.startChecksum = static_cast<uint32_t>(crc);
        } else if (key == "check") {
            MovieCheck check;
            ok = ParseCheck(value, check);
            if (ok) h.checks.push_back(check);
        } else if (key == "pause") {
            uint64_t frame = 0;
            ok = ParseUnsigned(value, 10, UINT64_MAX, frame);
            if (ok) h.pauses.push_back(frame);
        }
        if (!ok) {
            error =
                "line " + std::to_string(lineNumber) + ": bad \"" + std::string(key) + "\" line";
            return false;
        }
    }
    if (h.version == 0 || !hasImage) {
        error = "not an input movie (no \"# image-sha1:\" line)";
        return false;
    }
    if (h.version > kMovieFormatVersion) {
        error = "a movie of a newer format (" + std::to_string(h.version) +
                ") than this program reads (" + std::to_string(kMovieFormatVersion) + ")";
        return false;
    }
    if (!hasStart || !hasFrames || !hasStartChecksum) {
        error = "the movie header lacks its \"start\", \"frames\" or \"start-checksum\" line";
        return false;
    }
    const auto byFrame = [](const MovieCheck& a, const MovieCheck& b) { return a.frame < b.frame; };
    std::stable_sort(h.checks.begin(), h.checks.end(), byFrame);
    std::sort(h.pauses.begin(), h.pauses.end());
    header = std::move(h);
    return true;
}

bool LoadMovieHeader(const std::string& movieFile, MovieHeader& header, std::string& error) {
    std::ifstream in(movieFile, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    if (!in || in.bad()) {
        error = movieFile + ": " + std::strerror(errno);
        return false;
    }
    if (!ParseMovieHeader(text.str(), header, error)) {
        error = movieFile + ": " + error;
        return false;
    }
    return true;
}

std::string MovieStatePath(const std::string& movieFile, const MovieHeader& header) {
    const std::filesystem::path state(header.startState);
    if (state.is_absolute()) return state.string();
    return (std::filesystem::path(movieFile).parent_path() / state).string();
}

bool MovieRecorder::Start(const Engine& engine, const std::string& movieFile,
                          const std::string& startStateFile, std::string& error) {
    recording_ = false;
    const Machine& m = engine.machine();
    if (!engine.CartridgeStarted()) {
        error = "no cartridge is started";
        return false;
    }
    MovieHeader h;
    h.version = kMovieFormatVersion;
    h.image = engine.ImageSha1();
    h.imageName = m.cart.romFileName;
    if (startStateFile.empty()) {
        if (m.framesCompleted != 0 || m.scanline != 0 || m.messagePointPending) {
            error =
                "the machine is not at power-on: start the cartridge again, or record from "
                "a saved state";
            return false;
        }
    } else {
        const std::vector<uint8_t> state = engine.SaveState();
        ReplaceFile(startStateFile, state.data(), state.size());
        namespace fs = std::filesystem;
        // Named beside the movie when it is there, so the two can be moved together.
        const fs::path stateAbs = fs::absolute(startStateFile);
        const fs::path movieDir = fs::absolute(movieFile).parent_path();
        h.startState =
            stateAbs.parent_path() == movieDir ? stateAbs.filename().string() : stateAbs.string();
        h.startStateSha1 = Sha1(state);
    }
    for (size_t i = 0; i < 4; ++i) h.soundChannels[i] = m.settings.channelEnabled[i];
    h.startChecksum = MachineChecksum(m);
    header_ = std::move(h);
    inputs_.clear();
    file_ = movieFile;
    generation_ = engine.Generation();
    droppedLineRests_ = engine.DroppedLineRests();
    messagePoints_ = m.messagePointsReached;
    lastFrame_ = m.framesCompleted;
    recording_ = following_ = true;
    return true;
}

bool MovieRecorder::RecordFrame(const Engine& engine) {
    if (!recording_ || !following_) return false;
    const Machine& m = engine.machine();
    const uint64_t framesRun = m.messagePointsReached - messagePoints_;
    if (framesRun == 0) return true;
    if (framesRun > 1 || engine.Generation() != generation_) {
        following_ = false;
        return false;
    }
    messagePoints_ = m.messagePointsReached;
    if (engine.DroppedLineRests() != droppedLineRests_) {
        header_.pauses.push_back(lastFrame_);
        droppedLineRests_ = engine.DroppedLineRests();
    }
    const uint64_t frame = m.framesCompleted;
    const std::array<uint8_t, 2> pads{m.pads.padState[0], m.pads.padState[1]};
    if (inputs_.empty() || inputs_.back().pads != pads) inputs_.push_back({frame, pads});
    lastFrame_ = frame;
    lastChecksum_ = MachineChecksum(m);
    ++header_.frames;
    if (header_.frames % kMovieCheckInterval == 0) header_.checks.push_back({frame, lastChecksum_});
    return true;
}

std::string MovieRecorder::Text() const {
    const MovieHeader& h = header_;
    std::string text = "# " + std::string(kTitle) + std::to_string(h.version) + "\n";
    text += "# image-sha1: " + DigestHex(h.image) + "\n";
    text += "# image: " + h.imageName + "\n";
    text += h.startState.empty()
                ? std::string("# start: power-on\n")
                : "# start: state " + DigestHex(h.startStateSha1) + " " + h.startState + "\n";
    text += "# sound-channels: ";
    for (bool on : h.soundChannels) text += on ? '1' : '0';
    text += "\n# frames: " + std::to_string(h.frames) + "\n";
    text += "# start-checksum: " + Hex32(h.startChecksum) + "\n";

    std::vector<MovieCheck> checks = h.checks;
    if (h.frames > 0 && (checks.empty() || checks.back().frame != lastFrame_))
        checks.push_back({lastFrame_, lastChecksum_});
    // In frame order: a frame's input, then its check, then a pause at its command point.
    auto check = checks.begin();
    auto pause = h.pauses.begin();
    const auto flushUpTo = [&](uint64_t frame) {
        while (true) {
            const bool c = check != checks.end() && check->frame < frame;
            const bool p = pause != h.pauses.end() && *pause < frame;
            if (!c && !p) return;
            if (c && (!p || check->frame <= *pause)) {
                text += "# check: " + std::to_string(check->frame) + " " + Hex32(check->checksum) +
                        "\n";
                ++check;
            } else {
                text += "# pause: " + std::to_string(*pause) + "\n";
                ++pause;
            }
        }
    };
    std::array<uint8_t, 2> held{};
    bool firstEntry = true;
    for (const Input& in : inputs_) {
        flushUpTo(in.frame);
        for (int p = 0; p < 2; ++p) {
            if (!firstEntry && in.pads[p] == held[p]) continue;
            text += std::to_string(in.frame) + " " + std::to_string(p + 1) + " " +
                    Buttons(in.pads[p]) + "\n";
        }
        held = in.pads;
        firstEntry = false;
    }
    flushUpTo(UINT64_MAX);
    return text;
}

void MovieRecorder::Stop() {
    if (!recording_) return;
    const std::string text = Text();
    ReplaceFile(file_, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    recording_ = false;
}

}  // namespace vexalo
