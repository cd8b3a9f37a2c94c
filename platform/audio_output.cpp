#include "platform/audio_output.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <mutex>

#include "platform/mci.h"

namespace platform::audio {
namespace {

using mci::kOutputChannels;
using mci::kOutputRate;

constexpr std::size_t kFrameBytes = sizeof(std::int16_t) * kOutputChannels;

std::size_t bytesFor(double seconds) {
    return static_cast<std::size_t>(seconds * kOutputRate) * kFrameBytes;
}

// The server holds two seconds and asks for half a second at a time: the audio thread wakes
// about twice a second while a file plays. Every command acts on the server's buffer (cork,
// flush, mute), so none of them waits for what is queued.
const std::size_t kQueued = bytesFor(2.0);
const std::size_t kRefill = bytesFor(0.5);
// The server starts playing once this much has come, and the first piece after an open or a
// stop is no bigger: the first sound waits for one small decode, not for a full buffer.
const std::size_t kFirstPiece = bytesFor(0.02);

std::mutex tapMutex;
Tap tap;

void unref(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

// ---------------------------------------------------------------------------------------------
// The connection to the sound server. The main loop's thread is the audio thread; it starts with
// the first output and stays, idle in poll() while nothing plays. The context is kept between
// outputs, as connecting costs a round trip or more, and replaced when the server went away.

pa_threaded_mainloop* loop = nullptr;
pa_context* context = nullptr;

void signalLoop(pa_context* /*unused*/, void* /*unused*/) {
    pa_threaded_mainloop_signal(loop, 0);
}

// With the loop locked.
bool connectServer() {
    if (context != nullptr && pa_context_get_state(context) == PA_CONTEXT_READY) {
        return true;
    }
    if (context != nullptr) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "korvel");
    if (context == nullptr) {
        return false;
    }
    pa_context_set_state_callback(context, signalLoop, nullptr);
    // No server is started for us: where none runs, ALSA plays instead.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return false;
    }
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_READY) {
            return true;
        }
        if (!PA_CONTEXT_IS_GOOD(state)) {
            return false;
        }
        pa_threaded_mainloop_wait(loop);
    }
}

class Locked {
  public:
    Locked() { pa_threaded_mainloop_lock(loop); }
    ~Locked() { pa_threaded_mainloop_unlock(loop); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

class PulseOutput final : public Output {
  public:
    PulseOutput(Source source, EndCallback ended)
        : source_(std::move(source)), ended_(std::move(ended)) {}

    // With the loop locked.
    bool connect() {
        const pa_sample_spec format{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(kOutputRate),
                                  static_cast<std::uint8_t>(kOutputChannels)};
        stream_ = pa_stream_new(context, "korvel", &format, nullptr);
        if (stream_ == nullptr) {
            return false;
        }
        pa_stream_set_state_callback(stream_, signalState, nullptr);
        pa_stream_set_write_callback(stream_, onWritable, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(kQueued);
        attr.prebuf = static_cast<std::uint32_t>(kFirstPiece);
        attr.minreq = static_cast<std::uint32_t>(kRefill);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        // Corked, so that the server fills while stopped; unmuted whatever a server that
        // remembers streams kept from a muted one before.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_START_UNMUTED);
        if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
            return false;
        }
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) {
                return true;
            }
            if (!PA_STREAM_IS_GOOD(state)) {
                return false;
            }
            pa_threaded_mainloop_wait(loop);
        }
    }

    ~PulseOutput() override {
        if (stream_ == nullptr) {
            return;
        }
        Locked locked;
        cancelDrain();
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        // Disconnecting drops what the server holds at once.
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }

    void start() override {
        Locked locked;
        unref(pa_stream_cork(stream_, 0, nullptr, nullptr));
    }

    void hold() override {
        Locked locked;
        unref(pa_stream_cork(stream_, 1, nullptr, nullptr));
    }

    void drop(const std::function<void()>& rewind) override {
        Locked locked;
        unref(pa_stream_cork(stream_, 1, nullptr, nullptr));
        unref(pa_stream_flush(stream_, nullptr, nullptr));
        cancelDrain();
        rewind();
        exhausted_ = false;
        fresh_ = true;
        // The server asks for a full buffer again after the flush.
    }

    void setMuted(bool muted) override {
        Locked locked;
        unref(pa_context_set_sink_input_mute(context, pa_stream_get_index(stream_), muted ? 1 : 0,
                                             nullptr, nullptr));
    }

  private:
    static void signalState(pa_stream* /*unused*/, void* /*unused*/) {
        pa_threaded_mainloop_signal(loop, 0);
    }

    static void onWritable(pa_stream* /*unused*/, std::size_t bytes, void* self) {
        static_cast<PulseOutput*>(self)->fill(bytes);
    }

    static void onDrained(pa_stream* /*unused*/, int success, void* self) {
        auto* output = static_cast<PulseOutput*>(self);
        unref(output->drain_);
        output->drain_ = nullptr;
        if (success != 0 && output->ended_) {
            output->ended_();
        }
    }

    // On the audio thread (or with the loop locked).
    void fill(std::size_t bytes) {
        while (bytes >= kFrameBytes && !exhausted_) {
            void* data = nullptr;
            std::size_t size = fresh_ ? std::min(bytes, kFirstPiece) : bytes;
            if (pa_stream_begin_write(stream_, &data, &size) < 0 || data == nullptr) {
                return;
            }
            auto* samples = static_cast<std::int16_t*>(data);
            const std::size_t frames = std::min(size, bytes) / kFrameBytes;
            const std::size_t got = source_(samples, frames);
            if (got > 0) {
                tapWritten(samples, got * kOutputChannels);
                pa_stream_write(stream_, data, got * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
                bytes -= got * kFrameBytes;
                fresh_ = false;
            } else {
                pa_stream_cancel_write(stream_);
            }
            if (got < frames) {
                // What was written plays out before the end is told.
                exhausted_ = true;
                drain_ = pa_stream_drain(stream_, onDrained, this);
            }
        }
    }

    void cancelDrain() {
        if (drain_ != nullptr) {
            pa_operation_cancel(drain_);
            pa_operation_unref(drain_);
            drain_ = nullptr;
        }
    }

    Source source_;
    EndCallback ended_;
    pa_stream* stream_ = nullptr;
    pa_operation* drain_ = nullptr;
    bool exhausted_ = false;
    bool fresh_ = true;
};

}  // namespace

std::unique_ptr<Output> openPulse(Source source, EndCallback ended) {
    if (loop == nullptr) {
        pa_threaded_mainloop* created = pa_threaded_mainloop_new();
        if (created == nullptr) {
            return nullptr;
        }
        if (pa_threaded_mainloop_start(created) < 0) {
            pa_threaded_mainloop_free(created);
            return nullptr;
        }
        loop = created;
    }
    auto output = std::make_unique<PulseOutput>(std::move(source), std::move(ended));
    bool connected = false;
    {
        Locked locked;
        connected = connectServer() && output->connect();
    }
    return connected ? std::move(output) : nullptr;
}

std::unique_ptr<Output> Output::open(Source source, EndCallback ended) {
    // Each output asks the sound server first, so that one that comes back is used again.
    if (auto output = openPulse(source, ended)) {
        return output;
    }
    return openAlsa(std::move(source), std::move(ended));
}

void setTap(Tap newTap) {
    std::lock_guard lock(tapMutex);
    tap = std::move(newTap);
}

void tapWritten(const std::int16_t* samples, std::size_t count) {
    std::lock_guard lock(tapMutex);
    if (!tap) {
        return;
    }
    try {
        tap(samples, count);
    } catch (...) {
        // The tap only observes; its faults must not unwind through the sound library.
    }
}

}  // namespace platform::audio
