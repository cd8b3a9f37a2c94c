// The output where no sound server answers: ALSA's default device, written by a thread of the
// output's own that sleeps in poll() on the device and on a wake-up descriptor for commands.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio_output.h"
#include "platform/mci.h"

namespace platform::audio {
namespace {

using mci::kOutputChannels;
using mci::kOutputRate;

// What the device holds. The device has no server to cork or mute on, so a command is heard
// once what is queued has gone out, or at once where it can be dropped: a quarter second.
constexpr unsigned kQueuedUs = 250000;

void discardMessage(const char* /*file*/, int /*line*/, const char* /*function*/, int /*error*/,
                    const char* /*format*/, ...) {}

class AlsaOutput final : public Output {
  public:
    AlsaOutput(snd_pcm_t* pcm, int wake, Source source, EndCallback ended)
        : pcm_(pcm), wake_(wake), source_(std::move(source)), ended_(std::move(ended)) {
        snd_pcm_uframes_t buffer = 0;
        snd_pcm_uframes_t period = 0;
        snd_pcm_get_params(pcm_, &buffer, &period);
        period_ = period > 0 ? period : 1024;
        snd_pcm_hw_params_t* params = nullptr;
        snd_pcm_hw_params_alloca(&params);
        canPause_ = snd_pcm_hw_params_current(pcm_, params) == 0 &&
                    snd_pcm_hw_params_can_pause(params) == 1;
        piece_.resize(period_ * kOutputChannels);
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

    void start() override { command(Want::Playing); }
    void hold() override { command(Want::Paused); }

    void drop(const std::function<void()>& rewind) override {
        std::lock_guard lock(mutex_);
        want_ = Want::Stopped;
        drop_ = true;
        rewind();
        exhausted_ = false;
        kick();
    }

    void setMuted(bool muted) override {
        std::lock_guard lock(mutex_);
        muted_ = muted;
        // What is queued was written before: taken back, it is written again as it now sounds.
        retake_ = true;
        kick();
    }

  private:
    enum class Want { Stopped, Playing, Paused };
    enum class Now { Stopped, Running, Paused, Ended };

    void command(Want want) {
        std::lock_guard lock(mutex_);
        want_ = want;
        kick();
    }

    void kick() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }

    // Carries out the last command, with the mutex held.
    void follow() {
        if (drop_) {
            snd_pcm_drop(pcm_);
            snd_pcm_prepare(pcm_);
            now_ = Now::Stopped;
            drop_ = false;
        }
        if (want_ == Want::Paused && now_ == Now::Running) {
            if (!canPause_ || snd_pcm_pause(pcm_, 1) < 0) {
                // A device that cannot pause drops what it holds; that part is not heard.
                snd_pcm_drop(pcm_);
                snd_pcm_prepare(pcm_);
            }
            now_ = Now::Paused;
        }
        if (want_ == Want::Playing && (now_ == Now::Paused || now_ == Now::Stopped)) {
            if (now_ == Now::Paused && snd_pcm_state(pcm_) == SND_PCM_STATE_PAUSED) {
                snd_pcm_pause(pcm_, 0);
            }
            now_ = Now::Running;
        }
        if (retake_) {
            retake_ = false;
            const snd_pcm_sframes_t queued = snd_pcm_rewindable(pcm_);
            if (now_ == Now::Running && queued > 0) {
                snd_pcm_rewind(pcm_, static_cast<snd_pcm_uframes_t>(queued));
            }
        }
    }

    // Writes what the device has room for; false when it has none and the thread should wait.
    bool write() {
        const snd_pcm_sframes_t room = snd_pcm_avail_update(pcm_);
        if (room < 0) {
            snd_pcm_recover(pcm_, static_cast<int>(room), 1);
            return true;
        }
        if (static_cast<snd_pcm_uframes_t>(room) < period_) {
            return false;
        }
        const std::size_t frames = std::min<std::size_t>(static_cast<std::size_t>(room), period_);
        const std::size_t got = source_(piece_.data(), frames);
        if (muted_) {
            std::fill(piece_.begin(), piece_.end(), std::int16_t{0});
        }
        tapWritten(piece_.data(), got * kOutputChannels);
        std::size_t done = 0;
        while (done < got) {
            const snd_pcm_sframes_t n =
                snd_pcm_writei(pcm_, piece_.data() + done * kOutputChannels, got - done);
            if (n == -EAGAIN) {
                snd_pcm_wait(pcm_, 100);
                continue;
            }
            if (n < 0) {
                if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) {
                    break;
                }
                continue;
            }
            done += static_cast<std::size_t>(n);
        }
        if (got < frames) {
            exhausted_ = true;
            // A file shorter than the device's start threshold must still be started.
            if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
                snd_pcm_start(pcm_);
            }
        }
        return true;
    }

    // Once the source is exhausted: whether everything written has been heard.
    bool playedOut() {
        snd_pcm_sframes_t delay = 0;
        return snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING || snd_pcm_delay(pcm_, &delay) < 0 ||
               delay <= 0;
    }

    void run() {
        const int count = snd_pcm_poll_descriptors_count(pcm_);
        std::vector<pollfd> fds(1 + static_cast<std::size_t>(std::max(count, 0)));
        fds[0] = {wake_, POLLIN, 0};
        snd_pcm_poll_descriptors(pcm_, fds.data() + 1, static_cast<unsigned>(count));
        std::unique_lock lock(mutex_);
        while (!quit_) {
            follow();
            bool waitDevice = false;
            if (now_ == Now::Running && !exhausted_) {
                waitDevice = !write();
            } else if (now_ == Now::Running) {
                if (playedOut()) {
                    now_ = Now::Ended;
                    if (ended_) {
                        ended_();
                    }
                } else {
                    waitDevice = true;
                }
            }
            if (!waitDevice && now_ == Now::Running) {
                continue;
            }
            lock.unlock();
            for (pollfd& fd : fds) {
                fd.revents = 0;
            }
            poll(fds.data(), waitDevice ? fds.size() : 1, -1);
            if (fds[0].revents != 0) {
                std::uint64_t n = 0;
                [[maybe_unused]] const ssize_t r = ::read(wake_, &n, sizeof n);
            }
            if (waitDevice) {
                unsigned short events = 0;
                snd_pcm_poll_descriptors_revents(pcm_, fds.data() + 1, static_cast<unsigned>(count),
                                                 &events);
            }
            lock.lock();
        }
    }

    snd_pcm_t* const pcm_;
    const int wake_;
    Source source_;
    EndCallback ended_;
    snd_pcm_uframes_t period_ = 1024;
    bool canPause_ = false;
    std::vector<std::int16_t> piece_;

    std::mutex mutex_;  // everything below, and the source
    Want want_ = Want::Stopped;
    Now now_ = Now::Stopped;
    bool drop_ = false;
    bool retake_ = false;
    bool muted_ = false;
    bool exhausted_ = false;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<Output> openAlsa(Source source, EndCallback ended) {
    // libasound describes every missing device and odd configuration on stderr.
    static const bool quiet = (snd_lib_error_set_handler(discardMessage), true);
    (void)quiet;
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        return nullptr;
    }
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0 || snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                                       kOutputChannels, kOutputRate, 1, kQueuedUs) < 0) {
        if (wake >= 0) {
            close(wake);
        }
        snd_pcm_close(pcm);
        return nullptr;
    }
    return std::make_unique<AlsaOutput>(pcm, wake, std::move(source), std::move(ended));
}

}  // namespace platform::audio
