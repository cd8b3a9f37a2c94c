#include "platform/media/player.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/media/feed.h"

namespace platform::media {
namespace {

// The decoder keeps a second of audio ahead of the output, which the output takes from without
// ever waiting on a decode or a read, and decodes about a tenth of a second at a time.
const std::size_t kFeedFrames = framesIn(1.0);
constexpr std::size_t kChunkFrames = 4096;

enum class OutputState { kOpening, kOpen, kFailed };

}  // namespace

struct Player::Shared {
    explicit Shared(Events told) : events(std::move(told)) {}

    Feed feed{kFeedFrames};
    const Events events;
    std::atomic<bool> closing{false};

    // The commands' state, and the output they act on. Taken by the commands and by the player's
    // thread, never by the output's own thread, which only sets the flags below.
    std::mutex mutex;
    std::shared_ptr<Output> output;
    OutputState outputState = OutputState::kOpening;
    Transport transport = Transport::kStopped;
    bool atStart = true;  // the feed holds the file's start and nothing was played of it
    bool muted = false;

    // Told by the output, on its own thread.
    std::atomic<bool> ended{false};
    std::atomic<bool> failed{false};
    std::mutex failureMutex;  // a leaf, for the failure not yet told
    std::optional<OutputFailure> failure;

    std::atomic<std::int64_t> lengthFrames{-1};
    std::atomic<bool> cancelScan{false};

    std::mutex doneMutex;
    std::condition_variable doneWaits;
    bool done = false;

    // With the mutex held: what the output told since, folded into the transport.
    void settle() {
        if (outputState == OutputState::kOpen && failed) {
            outputState = OutputState::kFailed;
            transport = Transport::kStopped;
        }
        if (transport == Transport::kPlaying && ended) {
            transport = Transport::kStopped;
        }
    }

    // With the mutex held: back to the file's first frame, silent.
    void rewind() {
        if (output) {
            output->drop([this] { feed.restart(); });
        } else {
            feed.restart();
        }
        ended = false;
        atStart = true;
    }

    // News for the commands' side, which is no longer listening once the player closes.
    void changed() {
        if (!closing) {
            events.changed();
        }
    }

    void tell(const OutputFailure& what) {
        if (!closing) {
            events.failed(what);
            events.changed();
        }
    }

    OutputEvents outputEvents() {
        return {[this] {
                    ended = true;
                    changed();
                },
                [this](OutputFailure what) {
                    failed = true;
                    {
                        std::lock_guard lock(failureMutex);
                        failure = std::move(what);
                    }
                    // The player's thread tells it and lets the output go.
                    feed.poke();
                }};
    }
};

std::variant<std::unique_ptr<Player>, DecodeError> Player::open(const std::string& path,
                                                                Events events) {
    auto shared = std::make_shared<Shared>(std::move(events));
    auto opened = Mp3Decoder::open(path, shared->closing);
    if (const DecodeError* error = std::get_if<DecodeError>(&opened)) {
        return *error;
    }
    std::unique_ptr<Mp3Decoder> decoder = std::move(std::get<std::unique_ptr<Mp3Decoder>>(opened));
    // What open decoded is there for the output from the start, before the thread has run.
    std::vector<Sample> first(decoder->openedFrames() * kChannels);
    shared->feed.append(first.data(), decoder->read(first.data(), decoder->openedFrames()), 1);
    try {
        std::thread thread(&Player::run, shared, std::move(decoder));
        return std::unique_ptr<Player>(new Player(std::move(shared), std::move(thread)));
    } catch (const std::system_error&) {
        return DecodeError::kOutOfMemory;
    }
}

Player::Player(std::shared_ptr<Shared> shared, std::thread thread)
    : shared_(std::move(shared)), thread_(std::move(thread)) {}

Player::~Player() {
    Shared& s = *shared_;
    {
        std::lock_guard lock(s.mutex);
        s.closing = true;
        // Silent now, whatever the player's thread is doing.
        if (s.output) {
            s.output->hold();
        }
    }
    s.cancelScan = true;
    s.feed.poke(/*closing=*/true);
    wakeOpeners();
    std::unique_lock lock(s.doneMutex);
    if (s.doneWaits.wait_for(lock, kReleaseWait, [&] { return s.done; })) {
        lock.unlock();
        thread_.join();
    } else {
        thread_.detach();
    }
}

void Player::play() {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    s.settle();
    if (s.transport == Transport::kPlaying) {
        return;
    }
    if (s.transport == Transport::kStopped && !s.atStart) {
        s.rewind();
    }
    s.transport = Transport::kPlaying;
    s.atStart = false;
    if (s.outputState == OutputState::kFailed) {
        s.outputState = OutputState::kOpening;
        s.feed.poke();
    } else if (s.output) {
        s.output->start();
    }
}

void Player::pause() {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    s.settle();
    if (s.transport == Transport::kPlaying) {
        s.transport = Transport::kPaused;
        if (s.output) {
            s.output->hold();
        }
    }
}

void Player::stop() {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    s.settle();
    if (!s.atStart) {
        s.rewind();
    }
    s.transport = Transport::kStopped;
}

void Player::setMuted(bool muted) {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    s.muted = muted;
    if (s.output) {
        s.output->setMuted(muted);
    }
}

PlayerStatus Player::status() {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    s.settle();
    PlayerStatus status;
    status.transport = s.transport;
    if (s.transport != Transport::kStopped && s.output) {
        status.positionUs = framesToUs(s.output->heardFrames());
    }
    const std::int64_t length = s.lengthFrames;
    status.lengthUs = length >= 0 ? framesToUs(length) : -1;
    return status;
}

// The player's thread: makes the output, decodes ahead into the feed, and scans the file.
void Player::run(std::shared_ptr<Shared> shared, std::unique_ptr<Mp3Decoder> decoder) {
    Shared& s = *shared;
    std::shared_ptr<Output> output;
    std::thread scanner;
    std::vector<Sample> chunk(kChunkFrames * kChannels);
    std::uint64_t round = 1;
    bool atEnd = false;
    for (;;) {
        std::shared_ptr<Output> failedOutput;
        bool makeOutput = false;
        {
            std::lock_guard lock(s.mutex);
            if (s.closing) {
                break;
            }
            if (output && s.failed) {
                failedOutput = std::exchange(output, nullptr);
                s.output.reset();
            }
            makeOutput = !output && s.outputState == OutputState::kOpening;
        }
        std::optional<OutputFailure> failure;
        {
            std::lock_guard lock(s.failureMutex);
            failure = std::exchange(s.failure, std::nullopt);
        }
        if (failure) {
            s.tell(*failure);
        }
        // Outside the lock: an ALSA output's thread may take its time to end.
        failedOutput.reset();
        if (makeOutput) {
            s.failed = false;
            OpenedOutput made = openOutput(s.feed, s.outputEvents(), s.closing);
            std::optional<OutputFailure> none;
            {
                std::lock_guard lock(s.mutex);
                if (auto* out = std::get_if<std::unique_ptr<Output>>(&made)) {
                    output = std::move(*out);
                    s.output = output;
                    s.outputState = OutputState::kOpen;
                    if (s.muted) {
                        output->setMuted(true);
                    }
                    if (s.transport == Transport::kPlaying) {
                        output->start();
                    }
                } else {
                    s.outputState = OutputState::kFailed;
                    s.transport = Transport::kStopped;
                    none = std::get<OutputFailure>(made);
                }
            }
            if (none) {
                s.tell(*none);
            }
            if (!scanner.joinable()) {
                // The first sound is on its way: what is left of the time goes to the length.
                scanner = std::thread([&s, &decoder] {
                    if (const auto frames = decoder->scanLength(s.cancelScan)) {
                        s.lengthFrames = *frames;
                        s.changed();
                    }
                });
            }
            continue;
        }
        const Feed::Turn turn = s.feed.wait(round, atEnd ? 0 : kChunkFrames);
        if (turn.round == 0) {
            break;
        }
        if (turn.round != round) {
            decoder->rewind();
            round = turn.round;
            atEnd = false;
            continue;
        }
        if (atEnd || !turn.room) {
            continue;
        }
        // No lock is held while the file is read and decoded.
        const std::size_t frames = decoder->read(chunk.data(), kChunkFrames);
        if (frames > 0 && s.feed.append(chunk.data(), frames, round) && output) {
            output->fed();
        }
        if (frames < kChunkFrames) {
            s.feed.markEnd(round);
            atEnd = true;
            if (output) {
                output->fed();
            }
        }
    }
    s.cancelScan = true;
    if (scanner.joinable()) {
        scanner.join();
    }
    {
        std::lock_guard lock(s.mutex);
        s.output.reset();
    }
    output.reset();
    decoder.reset();
    {
        std::lock_guard lock(s.doneMutex);
        s.done = true;
    }
    s.doneWaits.notify_all();
}

}  // namespace platform::media
