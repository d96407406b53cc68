#include "input/input_script.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vexalo {

namespace {

struct ButtonName {
    std::string_view name;
    InputState state;
};

// Script names of the joypad buttons and the input states that press them.
constexpr ButtonName kButtonNames[] = {
    {"A", StateButton1}, {"B", StateButton2}, {"SELECT", StateButton4}, {"START", StateButton3},
    {"UP", StateUp},     {"DOWN", StateDown}, {"LEFT", StateLeft},      {"RIGHT", StateRight},
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i])) return false;
    }
    return true;
}

// Quoted for a message; long text is cut so that a garbage line cannot flood the message.
std::string Quote(std::string_view text) {
    constexpr size_t kMaxShown = 40;
    std::string quoted = "\"";
    quoted += text.substr(0, kMaxShown);
    if (text.size() > kMaxShown) quoted += "...";
    quoted += '"';
    return quoted;
}

bool ParseFrame(std::string_view text, uint64_t& frame) {
    if (text.empty()) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;  // would overflow
        value = value * 10 + digit;
    }
    frame = value;
    return true;
}

// Parses "-" or NAME+NAME+...; on failure returns false with the reason in `error`.
bool ParseButtons(std::string_view text, InputStateSet& states, std::string& error) {
    states = 0;
    if (text == "-") return true;
    size_t start = 0;
    while (true) {
        const size_t plus = text.find('+', start);
        const std::string_view name = text.substr(
            start, plus == std::string_view::npos ? std::string_view::npos : plus - start);
        if (name.empty()) {
            error = "missing button name in " + Quote(text);
            return false;
        }
        const auto found =
            std::find_if(std::begin(kButtonNames), std::end(kButtonNames),
                         [&](const ButtonName& b) { return EqualsIgnoringCase(b.name, name); });
        if (found == std::end(kButtonNames)) {
            error = "unknown button " + Quote(name) +
                    " (expected A, B, SELECT, START, UP, DOWN, LEFT, RIGHT or -)";
            return false;
        }
        states |= StateBit(found->state);
        if (plus == std::string_view::npos) return true;
        start = plus + 1;
    }
}

}  // namespace

InputStateSet InputScript::StatesAt(int player, uint64_t frame) const {
    if (player < 0 || player > 1) return 0;
    const auto& entries = players[static_cast<size_t>(player)];
    // The last entry at or before `frame`.
    const auto after =
        std::upper_bound(entries.begin(), entries.end(), frame,
                         [](uint64_t f, const InputScriptEntry& e) { return f < e.frame; });
    if (after == entries.begin()) return 0;
    return std::prev(after)->states;
}

bool ParseInputScript(std::string_view text, InputScript& script, std::string& error) {
    InputScript parsed;
    size_t lineStart = 0;
    for (size_t lineNumber = 1; lineStart <= text.size(); ++lineNumber) {
        const size_t newline = text.find('\n', lineStart);
        const size_t lineEnd = newline == std::string_view::npos ? text.size() : newline;
        std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        const size_t comment = line.find('#');
        if (comment != std::string_view::npos) line = line.substr(0, comment);

        std::string_view fields[4];
        size_t count = 0;
        size_t pos = 0;
        while (pos < line.size() && count < 4) {
            while (pos < line.size() && IsSpace(line[pos])) ++pos;
            if (pos == line.size()) break;
            const size_t begin = pos;
            while (pos < line.size() && !IsSpace(line[pos])) ++pos;
            fields[count++] = line.substr(begin, pos - begin);
        }
        if (count == 0) continue;

        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (count != 3) {
            const size_t first = line.find_first_not_of(" \t\r\v\f");
            const size_t last = line.find_last_not_of(" \t\r\v\f");
            error = where + "expected FRAME PLAYER BUTTONS, found " +
                    Quote(line.substr(first, last - first + 1));
            return false;
        }
        InputScriptEntry entry;
        if (!ParseFrame(fields[0], entry.frame)) {
            error = where + "bad frame number " + Quote(fields[0]);
            return false;
        }
        if (fields[1] != "1" && fields[1] != "2") {
            error = where + "player must be 1 or 2, found " + Quote(fields[1]);
            return false;
        }
        std::string reason;
        if (!ParseButtons(fields[2], entry.states, reason)) {
            error = where + reason;
            return false;
        }
        parsed.players[fields[1] == "1" ? 0 : 1].push_back(entry);
    }

    for (auto& entries : parsed.players) {
        // Frame order; of entries for the same frame only the last line is kept.
        std::stable_sort(
            entries.begin(), entries.end(),
            [](const InputScriptEntry& a, const InputScriptEntry& b) { return a.frame < b.frame; });
        auto kept = entries.begin();
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            const auto next = std::next(it);
            if (next != entries.end() && next->frame == it->frame) continue;
            *kept++ = *it;
        }
        entries.erase(kept, entries.end());
    }
    script = std::move(parsed);
    return true;
}

bool LoadInputScript(const std::string& path, InputScript& script, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return ParseInputScript(text.str(), script, error);
}

}  // namespace vexalo
