// The output where no sound server answers: ALSA's default device, written by a thread of the
// output's own. The thread sleeps in poll() on the device and on a wake-up descriptor; commands
// only leave word for it and wake it, so that no command ever waits on the device, whatever lies
// behind it (a plugin may wait on a server of its own).
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/media/output.h"

namespace platform::media {
namespace {

// What the device holds. The device has no server to cork or mute on, so a command is heard
// once what is queued has gone out, or at once where it can be dropped: a quarter second.
constexpr unsigned kQueuedUs = 250000;
// Errors that recovery mends (an underrun, a suspend) may come again and again from a device that
// is going away: after this many in a row, with a pause before each, the device counts as failed.
constexpr int kRecoveriesInARow = 8;
constexpr auto kRecoveryPause = std::chrono::milliseconds(20);
// The frames written at a time where the device does not tell its period: a common one.
constexpr snd_pcm_uframes_t kPeriodWhenUntold = 1024;
// How long the thread waits on the device before it asks it again.
constexpr int kDeviceWaitMs = static_cast<int>(kQueuedUs / 1000);

void discardMessage(const char* /*file*/, int /*line*/, const char* /*function*/, int /*error*/,
                    const char* /*format*/, ...) {}

std::string why(const char* what, int error) {
    return std::string(what) + ": " + snd_strerror(error);
}

// Whether ALSA's default device is the pulse plugin, which plays through a sound server itself.
bool defaultIsPulsePlugin() {
    snd_config_t* pcm = nullptr;
    if (snd_config_update() < 0 ||
        snd_config_search_definition(snd_config, "pcm", "default", &pcm) < 0) {
        return false;
    }
    snd_config_t* type = nullptr;
    const char* name = nullptr;
    const bool pulse = snd_config_search(pcm, "type", &type) >= 0 &&
                       snd_config_get_string(type, &name) >= 0 && std::string_view(name) == "pulse";
    snd_config_delete(pcm);
    return pulse;
}

class AlsaOutput final : public Output {
  public:
    AlsaOutput(snd_pcm_t* pcm, int wake, Feed& feed, OutputEvents events)
        : pcm_(pcm), wake_(wake), feed_(feed), events_(std::move(events)) {
        snd_pcm_uframes_t buffer = 0;
        snd_pcm_uframes_t period = 0;
        snd_pcm_get_params(pcm_, &buffer, &period);
        period_ = period > 0 ? period : kPeriodWhenUntold;
        snd_pcm_hw_params_t* params = nullptr;
        snd_pcm_hw_params_alloca(&params);
        canPause_ = snd_pcm_hw_params_current(pcm_, params) == 0 &&
                    snd_pcm_hw_params_can_pause(params) == 1;
        piece_.resize(period_ * kChannels);
        thread_ = std::thread([this] { run(); });
    }

    ~AlsaOutput() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        kick();
        thread_.join();
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
        close(wake_);
    }

    void start() override {
        ask([this] { want_ = Want::kPlaying; });
    }
    void hold() override {
        ask([this] { want_ = Want::kPaused; });
    }

    void drop(const std::function<void()>& restart) override {
        ask([&] {
            want_ = Want::kStopped;
            dropping_ = true;
            restart();
        });
    }

    void setMuted(bool muted) override {
        ask([&] {
            muted_ = muted;
            // What is queued was written before: taken back, it is written again as it now sounds.
            retake_ = true;
        });
    }

    void fed() override {
        if (starving_.exchange(false)) {
            kick();
        }
    }

    std::int64_t heardFrames() override { return heard_.load(); }

  private:
    enum class Want { kStopped, kPlaying, kPaused };
    enum class Now { kStopped, kRunning, kPaused, kEnded, kFailed };

    template <typename Change>
    void ask(Change change) {
        {
            std::lock_guard lock(mutex_);
            change();
        }
        kick();
    }

    void kick() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }

    // What the commands ask, taken in one go under the lock.
    struct Asked {
        Want want;
        bool drop;
        bool retake;
        bool quit;
    };

    Asked takeAsked() {
        std::lock_guard lock(mutex_);
        return {want_, std::exchange(dropping_, false), std::exchange(retake_, false), quit_};
    }

    // Carries out the commands, without the lock: the device may take its time.
    void follow(const Asked& asked) {
        if (asked.drop) {
            snd_pcm_drop(pcm_);
            snd_pcm_prepare(pcm_);
            now_ = Now::kStopped;
            written_ = 0;
            heard_ = 0;
            exhausted_ = false;
            pending_ = {};
        }
        if (asked.want == Want::kPaused && now_ == Now::kRunning) {
            if (!canPause_ || snd_pcm_pause(pcm_, 1) < 0) {
                // A device that cannot pause drops what it holds; that part is not heard.
                snd_pcm_drop(pcm_);
                snd_pcm_prepare(pcm_);
            }
            now_ = Now::kPaused;
        }
        if (asked.want == Want::kPlaying && (now_ == Now::kPaused || now_ == Now::kStopped)) {
            if (now_ == Now::kPaused && snd_pcm_state(pcm_) == SND_PCM_STATE_PAUSED) {
                snd_pcm_pause(pcm_, 0);
            }
            now_ = Now::kRunning;
        }
        if (asked.retake && now_ == Now::kRunning) {
            const snd_pcm_sframes_t queued = snd_pcm_rewindable(pcm_);
            // The frames taken back are not written again: muted or not, they are the stretch
            // that went by while the mute changed, and the file plays on from where it is now.
            if (queued > 0) {
                snd_pcm_rewind(pcm_, static_cast<snd_pcm_uframes_t>(queued));
            }
        }
    }

    // Mends an error the device returned; false, with the output failed, when it cannot be.
    bool recover(int error) {
        if (++recoveriesInARow_ > kRecoveriesInARow) {
            return fail(why("the ALSA device keeps failing", error));
        }
        std::this_thread::sleep_for(kRecoveryPause);
        const int recovered = snd_pcm_recover(pcm_, error, 1);
        return recovered >= 0 || fail(why("the ALSA device failed", recovered));
    }

    bool fail(std::string reason) {
        std::lock_guard lock(mutex_);
        now_ = Now::kFailed;
        events_.failed({OutputFailure::Kind::kLost, std::move(reason)});
        return false;
    }

    void noteHeard() {
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm_, &delay) < 0) {
            delay = 0;
        }
        heard_ = std::max<std::int64_t>(0, written_ - std::max<snd_pcm_sframes_t>(delay, 0));
    }

    enum class Next { kGoOn, kWaitDevice, kWaitWord };

    // Takes a piece from the feed where the device has room for one.
    Next take(bool muted) {
        const snd_pcm_sframes_t room = snd_pcm_avail_update(pcm_);
        if (room == -EAGAIN) {
            return Next::kWaitDevice;
        }
        // A plugin whose own source failed may mark the device as broken without returning an
        // error from here: the device's state tells.
        const snd_pcm_state_t state = snd_pcm_state(pcm_);
        const int broken = room < 0                              ? static_cast<int>(room)
                           : state == SND_PCM_STATE_XRUN         ? -EPIPE
                           : state == SND_PCM_STATE_SUSPENDED    ? -ESTRPIPE
                           : state == SND_PCM_STATE_DISCONNECTED ? -ENODEV
                                                                 : 0;
        if (broken < 0) {
            return recover(broken) ? Next::kGoOn : Next::kWaitWord;
        }
        if (static_cast<snd_pcm_uframes_t>(room) < period_) {
            // A device starts by itself only once full: one that is nearly so starts now.
            if (state == SND_PCM_STATE_PREPARED) {
                const int started = snd_pcm_start(pcm_);
                return started >= 0 || recover(started) ? Next::kGoOn : Next::kWaitWord;
            }
            // A device that woke the wait without taking anything is not asked again at once.
            if (room == roomBefore_) {
                std::this_thread::sleep_for(kRecoveryPause);
            }
            roomBefore_ = room;
            return Next::kWaitDevice;
        }
        roomBefore_ = -1;
        {
            // Under the lock, so that a drop asked for after this take finds it written, and one
            // asked before is carried out first.
            std::lock_guard lock(mutex_);
            if (dropping_ || quit_) {
                return Next::kGoOn;
            }
            starving_ = true;
            pending_ = {0, feed_.take(piece_.data(), period_)};
            if (pending_.second < period_ && feed_.exhausted()) {
                exhausted_ = true;
            }
            if (pending_.second == period_ || exhausted_) {
                starving_ = false;
            }
        }
        if (muted) {
            std::fill(piece_.begin(), piece_.end(), Sample{0});
        }
        return pending_.second == 0 && !exhausted_ ? Next::kWaitWord : Next::kGoOn;
    }

    // Writes what was taken and is not written yet; where the device takes no more for now, the
    // rest waits while the commands are looked at.
    Next write() {
        auto& [from, to] = pending_;
        while (from < to) {
            const snd_pcm_sframes_t n =
                snd_pcm_writei(pcm_, piece_.data() + from * kChannels, to - from);
            if (n == -EAGAIN) {
                return Next::kWaitDevice;
            }
            if (n < 0) {
                if (!recover(static_cast<int>(n))) {
                    return Next::kWaitWord;
                }
                continue;
            }
            from += static_cast<std::size_t>(n);
            written_ += n;
            recoveriesInARow_ = 0;
        }
        noteHeard();
        // A file shorter than the device's start threshold must still be started.
        if (exhausted_ && snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
            snd_pcm_start(pcm_);
        }
        return Next::kGoOn;
    }

    // Once the feed is exhausted: whether everything written has been heard.
    bool playedOut() {
        snd_pcm_sframes_t delay = 0;
        return snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING || snd_pcm_delay(pcm_, &delay) < 0 ||
               delay <= 0;
    }

    Next step() {
        const Asked asked = takeAsked();
        if (asked.quit) {
            return Next::kWaitWord;
        }
        if (now_ == Now::kFailed) {
            return Next::kWaitWord;
        }
        follow(asked);
        if (now_ != Now::kRunning) {
            return Next::kWaitWord;
        }
        if (pending_.first < pending_.second) {
            return write();
        }
        if (!exhausted_) {
            const Next taken = take(muted());
            return taken == Next::kGoOn ? write() : taken;
        }
        noteHeard();
        if (!playedOut()) {
            return Next::kWaitDevice;
        }
        std::lock_guard lock(mutex_);
        // A drop asked for meanwhile begins a new round, whose end this is not.
        if (!dropping_) {
            now_ = Now::kEnded;
            events_.ended();
        }
        return Next::kGoOn;
    }

    bool muted() {
        std::lock_guard lock(mutex_);
        return muted_;
    }

    void run() {
        const int count = std::max(snd_pcm_poll_descriptors_count(pcm_), 0);
        std::vector<pollfd> fds(1 + static_cast<std::size_t>(count));
        fds[0] = {wake_, POLLIN, 0};
        snd_pcm_poll_descriptors(pcm_, fds.data() + 1, static_cast<unsigned>(count));
        for (;;) {
            const Next next = step();
            {
                std::lock_guard lock(mutex_);
                if (quit_) {
                    return;
                }
            }
            if (next == Next::kGoOn) {
                continue;
            }
            for (pollfd& fd : fds) {
                fd.revents = 0;
            }
            // A device behind which something failed may never wake the poll: it is asked again
            // after a while, and its answer tells.
            const bool device = next == Next::kWaitDevice;
            poll(fds.data(), device ? fds.size() : 1, device ? kDeviceWaitMs : -1);
            if (fds[0].revents != 0) {
                std::uint64_t n = 0;
                [[maybe_unused]] const ssize_t r = ::read(wake_, &n, sizeof n);
            }
            if (device) {
                unsigned short events = 0;
                snd_pcm_poll_descriptors_revents(pcm_, fds.data() + 1, static_cast<unsigned>(count),
                                                 &events);
            }
        }
    }

    snd_pcm_t* const pcm_;
    const int wake_;
    Feed& feed_;
    OutputEvents events_;
    snd_pcm_uframes_t period_ = kPeriodWhenUntold;
    bool canPause_ = false;
    std::vector<Sample> piece_;

    // The thread's own.
    Now now_ = Now::kStopped;
    std::int64_t written_ = 0;                     // frames written since the last drop
    std::pair<std::size_t, std::size_t> pending_;  // the frames of piece_ still to be written
    bool exhausted_ = false;
    int recoveriesInARow_ = 0;
    snd_pcm_sframes_t roomBefore_ = -1;  // the room at the last wait on the device
    std::atomic<std::int64_t> heard_{0};
    std::atomic<bool> starving_{false};

    std::mutex mutex_;  // what the commands ask
    Want want_ = Want::kStopped;
    bool dropping_ = false;
    bool retake_ = false;
    bool muted_ = false;
    bool quit_ = false;
    std::thread thread_;  // last: it uses everything above
};

}  // namespace

OpenedOutput openAlsa(Feed& feed, OutputEvents events, bool avoidPulsePlugin) {
    // libasound describes every missing device and odd configuration on stderr.
    static const bool quiet = (snd_lib_error_set_handler(discardMessage), true);
    (void)quiet;
    if (avoidPulsePlugin && defaultIsPulsePlugin()) {
        return OutputFailure{OutputFailure::Kind::kNoOutput,
                             "ALSA's default device is that same sound server"};
    }
    snd_pcm_t* pcm = nullptr;
    if (const int error = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        error < 0) {
        return OutputFailure{OutputFailure::Kind::kNoOutput,
                             why("ALSA has no default device", error)};
    }
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int set = wake < 0
                        ? -errno
                        : snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                                             kChannels, kRate, 1, kQueuedUs);
    if (set < 0) {
        if (wake >= 0) {
            close(wake);
        }
        snd_pcm_close(pcm);
        return OutputFailure{OutputFailure::Kind::kNoOutput,
                             why("ALSA's default device cannot play", set)};
    }
    return std::make_unique<AlsaOutput>(pcm, wake, feed, std::move(events));
}

OpenedOutput openOutput(Feed& feed, OutputEvents events, const std::atomic<bool>& cancelled) {
    OpenedOutput pulse = openPulse(feed, events, cancelled);
    if (std::holds_alternative<std::unique_ptr<Output>>(pulse)) {
        return pulse;
    }
    const OutputFailure& onServer = std::get<OutputFailure>(pulse);
    const bool silent = onServer.kind == OutputFailure::Kind::kServerSilent;
    OpenedOutput alsa = openAlsa(feed, std::move(events), silent);
    if (std::holds_alternative<std::unique_ptr<Output>>(alsa)) {
        return alsa;
    }
    return OutputFailure{onServer.kind,
                         onServer.reason + "; " + std::get<OutputFailure>(alsa).reason};
}

}  // namespace platform::media
