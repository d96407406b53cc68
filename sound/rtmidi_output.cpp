#include "sound/rtmidi_output.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <streambuf>
#include <utility>

#ifdef VEXALO_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace vexalo {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool IsPortNumber(const std::string& text) {
    return !text.empty() && text.size() <= 9 &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

#ifdef VEXALO_HAVE_ALSA
void DiscardAlsaError(const char*, int, const char*, int, const char*, ...) {}
#endif

class DiscardingBuffer : public std::streambuf {
   protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// While a MIDI system is being opened, a missing one is reported through MidiError only: RtMidi
// prints its errors to std::cerr before throwing them, and ALSA prints its own.
class QuietMidiSystem {
   public:
    QuietMidiSystem() : previous_(std::cerr.rdbuf(&discard_)) {
#ifdef VEXALO_HAVE_ALSA
        snd_lib_error_set_handler(DiscardAlsaError);
#endif
    }
    ~QuietMidiSystem() {
        std::cerr.rdbuf(previous_);
#ifdef VEXALO_HAVE_ALSA
        snd_lib_error_set_handler(nullptr);
#endif
    }
    QuietMidiSystem(const QuietMidiSystem&) = delete;
    QuietMidiSystem& operator=(const QuietMidiSystem&) = delete;

   private:
    DiscardingBuffer discard_;
    std::streambuf* previous_;
};

// Once the output exists RtMidi hands its errors and warnings here instead of printing (and
// throwing) them; each call checks for one afterwards.
void KeepError(RtMidiError::Type type, const std::string& message, void* lastError) {
    if (type == RtMidiError::DEBUG_WARNING) return;
    *static_cast<std::string*>(lastError) = message.empty() ? "MIDI error" : message;
}

}  // namespace

RtMidiOutput::RtMidiOutput(std::string port)
    : port_(std::move(port)), lastError_(std::make_unique<std::string>()) {}

RtMidiOutput::~RtMidiOutput() {
    Close();
}

void RtMidiOutput::ThrowIfFailed() {
    if (lastError_->empty()) return;
    std::string message = std::move(*lastError_);
    lastError_->clear();
    throw MidiError(message);
}

unsigned int RtMidiOutput::ChoosePort(unsigned int count, std::string& name) {
    if (IsPortNumber(port_)) {
        const unsigned long number = std::stoul(port_);
        if (number >= count) {
            throw MidiError("No MIDI output port " + port_ + " (there are " +
                            std::to_string(count) + ")");
        }
        name = out_->getPortName(static_cast<unsigned int>(number));
        ThrowIfFailed();
        return static_cast<unsigned int>(number);
    }
    const std::string wanted = Lower(port_);
    for (unsigned int i = 0; i < count; ++i) {
        std::string candidate = out_->getPortName(i);
        ThrowIfFailed();
        if (Lower(candidate).find(wanted) != std::string::npos) {
            name = std::move(candidate);
            return i;
        }
    }
    throw MidiError("No MIDI output port matches \"" + port_ + "\"");
}

void RtMidiOutput::Open() {
    Close();
    try {
        QuietMidiSystem quiet;
        // The default API: the first MIDI system of this build that works.
        out_ = std::make_unique<RtMidiOut>(RtMidi::UNSPECIFIED, "Vexalo");
        lastError_->clear();
        out_->setErrorCallback(KeepError, lastError_.get());
        const unsigned int count = out_->getPortCount();
        ThrowIfFailed();
        // Some MIDI systems (JACK without a server) crash when a port is opened while none
        // exists.
        if (count == 0) throw MidiError("No MIDI output port available");
        std::string name;
        const unsigned int number = ChoosePort(count, name);
        out_->openPort(number, "Vexalo");
        ThrowIfFailed();
        if (!out_->isPortOpen()) throw MidiError("Cannot open the MIDI output port " + name);
        portName_ = name;
    } catch (const RtMidiError& e) {
        Close();
        throw MidiError(e.getMessage());
    } catch (const MidiError&) {
        Close();
        throw;
    }
}

void RtMidiOutput::Close() {
    if (out_ == nullptr) return;
    try {
        if (out_->isPortOpen()) out_->closePort();
    } catch (const RtMidiError&) {
        // The port goes away with the object below in any case.
    }
    out_.reset();
    lastError_->clear();
}

void RtMidiOutput::ShortMessage(uint8_t status, uint8_t data1, uint8_t data2) {
    if (out_ == nullptr) throw MidiError("The MIDI output port is not open");
    if (status < 0x80 || status >= 0xF0) return;  // only channel messages are sent
    const unsigned char message[3] = {status, static_cast<unsigned char>(data1 & 0x7F),
                                      static_cast<unsigned char>(data2 & 0x7F)};
    // Program change and channel pressure carry one data byte.
    const uint8_t kind = status & 0xF0;
    const size_t size = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
    try {
        out_->sendMessage(message, size);
    } catch (const RtMidiError& e) {
        throw MidiError(e.getMessage());
    }
    ThrowIfFailed();
}

void RtMidiOutput::SetVolume(uint16_t left, uint16_t right) {
    const unsigned volume = (static_cast<unsigned>(left) + right) / 2;
    const uint8_t value = static_cast<uint8_t>(volume >> 9);  // 0-127
    for (uint8_t channel = 0; channel < 4; ++channel) {
        ShortMessage(static_cast<uint8_t>(0xB0 | channel), 7, value);
    }
}

}  // namespace vexalo
