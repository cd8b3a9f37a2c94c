#include "platform/mci.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/audio_output.h"
#include "platform/mci_command.h"
#include "platform/mp3_decoder.h"
#include "platform/shortpath.h"

namespace {

using namespace platform::mci;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------------
// The change notifier. The output tells the end of a file on the audio thread, so the notifier
// is guarded there.

std::mutex notifierMutex;
ChangeNotifier changeNotifier;

void notifyChange() noexcept {
    std::lock_guard lock(notifierMutex);
    if (!changeNotifier) {
        return;
    }
    try {
        changeNotifier();
    } catch (...) {
        // The notifier only passes news on; its faults stay here.
    }
}

// ---------------------------------------------------------------------------------------------
// The device.

enum class State { Stopped, Playing, Paused };

struct Device {
    std::string alias;
    std::string path;
    std::unique_ptr<platform::audio::Mp3Decoder> decoder;
    // Set on the audio thread once the file has played to its end.
    std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
    State state = State::Stopped;
    // At its first frame, with nothing played: the output already holds the start.
    bool atStart = true;
    // How long it has played: the time up to the last pause, and since when it plays on.
    Clock::duration played{};
    Clock::time_point since{};
    // Last, so that the audio thread, which reads the decoder, stops before the rest goes.
    std::unique_ptr<platform::audio::Output> output;
};

// Only one device can be open at a time.
std::optional<Device> device;
std::uint64_t openCount = 0;

CommandObserver commandObserver;

// A device that was playing and is no longer heard has played to its end (or its data could
// not be decoded any further); either way it is stopped now.
void noteEnd(Device& d) {
    if (d.state == State::Playing && d.ended->load()) {
        d.state = State::Stopped;
        d.played = {};
    }
}

MCIERROR openDevice(const Command& command) {
    if (device) {
        return sameWord(device->alias, command.alias) ? kDuplicateAlias : kMustUseShareable;
    }
    const std::optional<std::string> path = platform::decodeShortPath(command.element);
    // No Linux path holds a NUL byte, so a short form that decodes to one names no file (and
    // the system would read only the part before it, a different file).
    if (!path || path->empty() || path->find('\0') != std::string::npos) {
        return kFileNotFound;
    }
    Device opened;
    opened.alias = std::string(command.alias);
    opened.path = *path;
    MCIERROR error = kNoError;
    opened.decoder = platform::audio::Mp3Decoder::open(*path, error);
    if (!opened.decoder) {
        return error;
    }
    // The source and the end are told on the audio thread, and the device may move (it is
    // optional's value) after this: they hold what they need, not the device.
    platform::audio::Mp3Decoder* const decoder = opened.decoder.get();
    opened.output = platform::audio::Output::open(
        [decoder](std::int16_t* samples, std::size_t frames) {
            return decoder->read(samples, frames);
        },
        [ended = opened.ended] {
            ended->store(true);
            notifyChange();
        });
    if (!opened.output) {
        return kHardware;
    }
    device = std::move(opened);
    ++openCount;
    return kNoError;
}

void startPlaying(Device& d) {
    d.since = Clock::now();
    d.state = State::Playing;
}

void pausePlaying(Device& d) {
    d.played += Clock::now() - d.since;
    d.state = State::Paused;
}

// Back to the first frame, silent.
void rewind(Device& d) {
    if (!d.atStart) {
        // With the audio thread held, so that an end told just before is forgotten too.
        d.output->drop([&d] {
            d.decoder->rewind();
            d.ended->store(false);
        });
        d.atStart = true;
    }
    d.state = State::Stopped;
    d.played = {};
}

MCIERROR deviceCommand(const Command& command) {
    if (command.verb == Verb::CloseAll) {
        if (command.malformed == kNoError) {
            device.reset();
        }
        return command.malformed;
    }
    if (!device || !sameWord(device->alias, command.alias)) {
        return kInvalidDeviceName;
    }
    if (command.malformed != kNoError) {
        return command.malformed;
    }
    Device& d = *device;
    noteEnd(d);
    switch (command.verb) {
        case Verb::Set:
            d.output->setMuted(!command.soundOn);
            return kNoError;
        case Verb::Close:
            device.reset();
            return kNoError;
        case Verb::Play:
            if (d.state == State::Stopped) {
                rewind(d);
                d.atStart = false;
                d.output->start();
                startPlaying(d);
            } else if (d.state == State::Paused) {
                d.output->start();
                startPlaying(d);
            }
            return kNoError;
        case Verb::Pause:
            if (d.state == State::Stopped) {
                return kNonapplicableFunction;
            }
            if (d.state == State::Playing) {
                d.output->hold();
                pausePlaying(d);
            }
            return kNoError;
        case Verb::Resume:
            if (d.state == State::Stopped) {
                return kNonapplicableFunction;
            }
            if (d.state == State::Paused) {
                d.output->start();
                startPlaying(d);
            }
            return kNoError;
        case Verb::Stop:
            rewind(d);
            return kNoError;
        default:
            return kUnrecognizedCommand;
    }
}

MCIERROR runCommand(std::string_view text) {
    const Command command = parseCommand(text);
    if (command.error != kNoError) {
        return command.error;
    }
    return command.verb == Verb::Open ? openDevice(command) : deviceCommand(command);
}

}  // namespace

MCIERROR mciSendStringA(const char* command, char* returnString, std::uint32_t returnLength,
                        std::uintptr_t /*callbackWindow*/) {
    const std::string_view text = command != nullptr ? std::string_view(command) : "";
    if (returnString != nullptr && returnLength != 0) {
        returnString[0] = '\0';
    }
    MCIERROR result = kNoError;
    try {
        result = runCommand(text);
    } catch (...) {
        // Only allocation can throw here, and always before anything has changed.
        result = kOutOfMemory;
    }
    if (commandObserver) {
        try {
            // A copy, so that an observer that replaces itself is not destroyed mid-call.
            const CommandObserver observer = commandObserver;
            observer(text, result);
        } catch (...) {
            // Observers only watch; the window must never see their faults.
        }
    }
    notifyChange();
    return result;
}

namespace platform::mci {

void setCommandObserver(CommandObserver observer) {
    commandObserver = std::move(observer);
}

void setOutputTap(OutputTap tap) {
    platform::audio::setTap(std::move(tap));
}

bool anyDeviceOpen() {
    return device.has_value();
}

DeviceStatus deviceStatus() {
    DeviceStatus status;
    if (!device) {
        return status;
    }
    Device& d = *device;
    noteEnd(d);
    status.playback = d.state == State::Playing  ? Playback::Playing
                      : d.state == State::Paused ? Playback::Paused
                                                 : Playback::Stopped;
    status.path = d.path;
    status.lengthUs = d.decoder->lengthUs();
    const Clock::duration played =
        d.played + (d.state == State::Playing ? Clock::now() - d.since : Clock::duration{});
    status.positionUs = std::chrono::duration_cast<std::chrono::microseconds>(played).count();
    if (status.lengthUs > 0) {
        status.positionUs = std::min(status.positionUs, status.lengthUs);
    }
    status.openCount = openCount;
    return status;
}

void setChangeNotifier(ChangeNotifier notifier) {
    std::lock_guard lock(notifierMutex);
    changeNotifier = std::move(notifier);
}

}  // namespace platform::mci
