#include "platform/mci.h"

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "platform/mci_command.h"
#include "platform/media/player.h"
#include "platform/shortpath.h"

namespace {

using namespace platform::mci;
namespace media = platform::media;

// ---------------------------------------------------------------------------------------------
// What the device's own threads tell: guarded, as they tell it there.

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

std::mutex reporterMutex;
FailureReporter failureReporter;
std::array<bool, 3> kindTold{};

void reportFailure(const media::OutputFailure& failure) noexcept {
    std::lock_guard lock(reporterMutex);
    bool& told = kindTold[static_cast<std::size_t>(failure.kind)];
    if (told || !failureReporter) {
        return;
    }
    told = true;
    const char* what =
        failure.kind == media::OutputFailure::Kind::kLost ? "the sound stopped: " : "no sound: ";
    try {
        failureReporter(what + failure.reason);
    } catch (...) {
        // The reporter only tells; its faults stay here.
    }
}

// ---------------------------------------------------------------------------------------------
// The device.

struct Device {
    std::string alias;
    std::string path;
    std::unique_ptr<media::Player> player;
};

// Only one device can be open at a time.
std::optional<Device> device;
std::uint64_t openCount = 0;

CommandObserver commandObserver;

// The decoder's refusals, as the command layer numbers them.
MCIERROR errorFor(media::DecodeError error) {
    switch (error) {
        case media::DecodeError::kNotFound:
            return kFileNotFound;
        case media::DecodeError::kNotAFile:
        case media::DecodeError::kNotAudio:
            return kInvalidFile;
        case media::DecodeError::kOutOfMemory:
            return kOutOfMemory;
    }
    return kInvalidFile;
}

MCIERROR openDevice(const Command& command) {
    if (device) {
        return sameWord(device->alias, command.alias) ? kDuplicateAlias : kMustUseShareable;
    }
    const std::optional<std::string> path = platform::decodeShortPath(command.element);
    if (!path || path->empty()) {
        return kFileNotFound;
    }
    auto opened = media::Player::open(*path, {notifyChange, reportFailure});
    if (const auto* error = std::get_if<media::DecodeError>(&opened)) {
        return errorFor(*error);
    }
    device = Device{std::string(command.alias), *path,
                    std::move(std::get<std::unique_ptr<media::Player>>(opened))};
    ++openCount;
    return kNoError;
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
    media::Player& player = *device->player;
    const bool stopped = player.status().transport == media::Transport::kStopped;
    switch (command.verb) {
        case Verb::Set:
            player.setMuted(!command.soundOn);
            return kNoError;
        case Verb::Close:
            device.reset();
            return kNoError;
        case Verb::Play:
            player.play();
            return kNoError;
        case Verb::Pause:
            if (stopped) {
                return kNonapplicableFunction;
            }
            player.pause();
            return kNoError;
        case Verb::Resume:
            if (stopped) {
                return kNonapplicableFunction;
            }
            player.play();
            return kNoError;
        case Verb::Stop:
            player.stop();
            return kNoError;
        case Verb::Open:
        case Verb::CloseAll:
            break;  // handled before
    }
    return kUnrecognizedCommand;
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
    } catch (const std::bad_alloc&) {
        // Allocation fails before anything has changed: the device is opened, or a command's
        // words are read, whole or not at all.
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

bool anyDeviceOpen() {
    return device.has_value();
}

DeviceStatus deviceStatus() {
    DeviceStatus status;
    if (!device) {
        return status;
    }
    const media::PlayerStatus now = device->player->status();
    status.playback = now.transport == media::Transport::kPlaying  ? Playback::Playing
                      : now.transport == media::Transport::kPaused ? Playback::Paused
                                                                   : Playback::Stopped;
    status.path = device->path;
    status.lengthUs = now.lengthUs;
    status.positionUs = now.lengthUs > 0 ? std::min(now.positionUs, now.lengthUs) : now.positionUs;
    status.openCount = openCount;
    return status;
}

void setChangeNotifier(ChangeNotifier notifier) {
    std::lock_guard lock(notifierMutex);
    changeNotifier = std::move(notifier);
}

void setFailureReporter(FailureReporter reporter) {
    std::lock_guard lock(reporterMutex);
    failureReporter = std::move(reporter);
    kindTold = {};
}

}  // namespace platform::mci
