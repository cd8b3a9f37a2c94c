// The output on the sound server (PulseAudio, or PipeWire's pulse server), through libpulse's
// threaded main loop: the loop's thread runs every callback, and everything else takes the
// loop's lock for as long as it takes to ask something of the server, never across a wait for
// an answer. Only an open waits, and only for as long as the server may take to answer.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/media/output.h"

namespace platform::media {
namespace {

using Clock = std::chrono::steady_clock;

// The server holds half a second and asks for an eighth at a time: the loop's thread only copies,
// so waking eight times a second costs nothing, and what the server holds bounds how far the
// position can run on before a stalled server is noticed. Commands act on what it holds (cork,
// flush, mute), so none of them waits for it to play out.
const std::size_t kQueuedBytes = framesIn(0.5) * kFrameBytes;
const std::size_t kRefillBytes = framesIn(0.125) * kFrameBytes;
// The server starts playing once this much has come, and the first piece after an open or a
// drop is no bigger: the first sound waits for one small copy, not for a full buffer.
const std::size_t kFirstPieceBytes = framesIn(0.02) * kFrameBytes;

void unref(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

// The connection to the sound server. The main loop's thread starts with the first open and
// stays, idle in poll() while nothing plays. The context is kept between outputs, as connecting
// costs a round trip or more, and made again once it has failed or did not answer in time. Never
// destroyed: a player's thread may still be on its way out when the program ends.
struct Server {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
};

Server& server() {
    static Server& s = *[] {
        auto* made = new Server;
        made->loop = pa_threaded_mainloop_new();
        if (made->loop != nullptr && pa_threaded_mainloop_start(made->loop) < 0) {
            pa_threaded_mainloop_free(made->loop);
            made->loop = nullptr;
        }
        return made;
    }();
    return s;
}

class Locked {
  public:
    Locked() { pa_threaded_mainloop_lock(server().loop); }
    ~Locked() { pa_threaded_mainloop_unlock(server().loop); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

void signalLoop() {
    pa_threaded_mainloop_signal(server().loop, 0);
}

enum class Wait { kDone, kFailed, kPending };

// With the loop locked: waits until `state` is no longer pending, `deadline` passes or
// `cancelled` is set. kPending when it gave up.
template <typename State>
Wait waitFor(State state, Clock::time_point deadline, const std::atomic<bool>& cancelled) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(server().loop);
    timeval when{};
    pa_gettimeofday(&when);
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    pa_timeval_add(&when, static_cast<pa_usec_t>(std::max<std::int64_t>(left.count(), 0)));
    // The wait below ends at every signal; this one comes at the deadline.
    pa_time_event* alarm = api->time_new(
        api, &when, [](pa_mainloop_api*, pa_time_event*, const timeval*, void*) { signalLoop(); },
        nullptr);
    Wait now = state();
    while (now == Wait::kPending && !cancelled.load() && Clock::now() < deadline) {
        pa_threaded_mainloop_wait(server().loop);
        now = state();
    }
    api->time_free(alarm);
    return now;
}

std::string why(const char* what, pa_context* context) {
    return context == nullptr ? std::string(what)
                              : std::string(what) + ": " + pa_strerror(pa_context_errno(context));
}

void forgetContext() {
    Server& s = server();
    if (s.context != nullptr) {
        pa_context_set_state_callback(s.context, nullptr, nullptr);
        pa_context_disconnect(s.context);
        pa_context_unref(s.context);
        s.context = nullptr;
    }
}

// With the loop locked: a context that is ready, made or waited for within `deadline`.
std::optional<OutputFailure> connectServer(Clock::time_point deadline,
                                           const std::atomic<bool>& cancelled) {
    Server& s = server();
    if (s.context == nullptr || !PA_CONTEXT_IS_GOOD(pa_context_get_state(s.context))) {
        forgetContext();
        s.context = pa_context_new(pa_threaded_mainloop_get_api(s.loop), "korvel");
        if (s.context == nullptr) {
            return OutputFailure{OutputFailure::Kind::kNoOutput,
                                 "cannot make a sound server client"};
        }
        pa_context_set_state_callback(
            s.context, [](pa_context*, void*) { signalLoop(); }, nullptr);
        // No server is started for us: where none runs, ALSA plays instead.
        if (pa_context_connect(s.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            OutputFailure failure{OutputFailure::Kind::kNoOutput,
                                  why("no sound server", s.context)};
            forgetContext();
            return failure;
        }
    }
    pa_context* const context = s.context;
    const Wait answer = waitFor(
        [context] {
            const pa_context_state_t state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY   ? Wait::kDone
                   : PA_CONTEXT_IS_GOOD(state) ? Wait::kPending
                                               : Wait::kFailed;
        },
        deadline, cancelled);
    if (answer == Wait::kDone) {
        return std::nullopt;
    }
    OutputFailure failure{answer == Wait::kFailed ? OutputFailure::Kind::kNoOutput
                                                  : OutputFailure::Kind::kServerSilent,
                          answer == Wait::kFailed ? why("no sound server", context)
                                                  : "the sound server did not answer in time"};
    // A later open tries again from the start, whatever this one met.
    if (s.context == context) {
        forgetContext();
    }
    return failure;
}

class PulseOutput final : public Output {
  public:
    PulseOutput(Feed& feed, OutputEvents events) : feed_(feed), events_(std::move(events)) {}

    // With the loop locked: makes the stream, stopped, and waits until the server has it.
    std::optional<OutputFailure> connect(Clock::time_point deadline,
                                         const std::atomic<bool>& cancelled) {
        pa_context* const context = server().context;
        const pa_sample_spec format{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(kRate),
                                    static_cast<std::uint8_t>(kChannels)};
        stream_ = pa_stream_new(context, "korvel", &format, nullptr);
        if (stream_ == nullptr) {
            return OutputFailure{OutputFailure::Kind::kNoOutput,
                                 why("the sound server refused a stream", context)};
        }
        pa_stream_set_state_callback(stream_, onState, this);
        pa_stream_set_write_callback(stream_, onWritable, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(kQueuedBytes);
        attr.prebuf = static_cast<std::uint32_t>(kFirstPieceBytes);
        attr.minreq = static_cast<std::uint32_t>(kRefillBytes);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        // Corked, so that the server fills while stopped; unmuted whatever a server that
        // remembers streams kept from a muted one before. The timing the position is read from
        // comes by itself, and moves on between updates only while the stream plays.
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_START_CORKED | PA_STREAM_START_UNMUTED | PA_STREAM_INTERPOLATE_TIMING |
            PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
            return OutputFailure{OutputFailure::Kind::kNoOutput,
                                 why("the sound server refused a stream", context)};
        }
        pa_stream* const stream = stream_;
        const Wait answer = waitFor(
            [stream] {
                const pa_stream_state_t state = pa_stream_get_state(stream);
                return state == PA_STREAM_READY   ? Wait::kDone
                       : PA_STREAM_IS_GOOD(state) ? Wait::kPending
                                                  : Wait::kFailed;
            },
            deadline, cancelled);
        if (answer == Wait::kDone) {
            return std::nullopt;
        }
        if (answer == Wait::kPending) {
            // The server stopped answering after it took the connection: the next open makes a
            // new one rather than wait on this.
            forgetContext();
            return OutputFailure{OutputFailure::Kind::kServerSilent,
                                 "the sound server did not answer in time"};
        }
        return OutputFailure{OutputFailure::Kind::kNoOutput,
                             why("the sound server refused a stream", context)};
    }

    ~PulseOutput() override {
        if (stream_ == nullptr) {
            return;
        }
        Locked locked;
        cancelDrain();
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        // Disconnecting drops what the server holds at once. A stream that failed is no longer
        // the context's, and may not be disconnected.
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
            pa_stream_disconnect(stream_);
        }
        pa_stream_unref(stream_);
    }

    void start() override { cork(false); }
    void hold() override { cork(true); }

    void drop(const std::function<void()>& restart) override {
        Locked locked;
        if (usable()) {
            unref(pa_stream_cork(stream_, 1, nullptr, nullptr));
            unref(pa_stream_flush(stream_, nullptr, nullptr));
        }
        cancelDrain();
        restart();
        base_ = playedFrames();
        writtenSinceDrop_ = 0;
        exhausted_ = false;
        fresh_ = true;
        // The server asks for a full buffer again after the flush.
    }

    void setMuted(bool muted) override {
        Locked locked;
        if (usable()) {
            unref(pa_context_set_sink_input_mute(pa_stream_get_context(stream_),
                                                 pa_stream_get_index(stream_), muted ? 1 : 0,
                                                 nullptr, nullptr));
        }
    }

    void fed() override {
        if (!starving_.load()) {
            return;
        }
        Locked locked;
        starving_ = false;
        if (usable()) {
            fill(pa_stream_writable_size(stream_));
        }
    }

    std::int64_t heardFrames() override {
        Locked locked;
        return std::clamp<std::int64_t>(playedFrames() - base_, 0, writtenSinceDrop_);
    }

  private:
    bool usable() const { return ready_ && !failed_; }

    void cork(bool corked) {
        Locked locked;
        if (usable()) {
            unref(pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr));
        }
    }

    // With the loop locked: the server's count of what it has played of the stream.
    std::int64_t playedFrames() const {
        pa_usec_t usec = 0;
        if (!usable() || pa_stream_get_time(stream_, &usec) < 0) {
            return base_;
        }
        return static_cast<std::int64_t>(usec * static_cast<pa_usec_t>(kRate) / PA_USEC_PER_SEC);
    }

    static void onState(pa_stream* stream, void* self) {
        auto* output = static_cast<PulseOutput*>(self);
        signalLoop();
        // Ready before the first write request is handled, which comes with it.
        if (pa_stream_get_state(stream) == PA_STREAM_READY) {
            output->ready_ = true;
        } else if (output->ready_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            output->fail(why("the sound server ended the stream", pa_stream_get_context(stream)));
        }
    }

    static void onWritable(pa_stream* /*unused*/, std::size_t bytes, void* self) {
        static_cast<PulseOutput*>(self)->fill(bytes);
    }

    static void onDrained(pa_stream* stream, int success, void* self) {
        auto* output = static_cast<PulseOutput*>(self);
        unref(std::exchange(output->drain_, nullptr));
        if (success != 0) {
            output->events_.ended();
        } else {
            output->fail(
                why("the sound server did not play the end", pa_stream_get_context(stream)));
        }
    }

    void fail(std::string reason) {
        if (!failed_) {
            failed_ = true;
            cancelDrain();
            events_.failed({OutputFailure::Kind::kLost, std::move(reason)});
        }
    }

    // On the loop's thread, or with the loop locked.
    void fill(std::size_t bytes) {
        while (usable() && bytes >= kFrameBytes && !exhausted_) {
            void* data = nullptr;
            std::size_t size = fresh_ ? std::min(bytes, kFirstPieceBytes) : bytes;
            if (pa_stream_begin_write(stream_, &data, &size) < 0 || data == nullptr) {
                return;
            }
            const std::size_t frames = std::min(size, bytes) / kFrameBytes;
            // Marked before the take: frames fed after it find the mark, frames fed before it
            // are taken.
            starving_ = true;
            const std::size_t got = feed_.take(static_cast<Sample*>(data), frames);
            if (got > 0) {
                pa_stream_write(stream_, data, got * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
                bytes -= got * kFrameBytes;
                writtenSinceDrop_ += static_cast<std::int64_t>(got);
                fresh_ = false;
            } else {
                pa_stream_cancel_write(stream_);
            }
            if (got < frames) {
                if (feed_.exhausted()) {
                    // What was written plays out before the end is told.
                    starving_ = false;
                    exhausted_ = true;
                    drain_ = pa_stream_drain(stream_, onDrained, this);
                }
                return;
            }
            starving_ = false;
        }
    }

    void cancelDrain() {
        if (drain_ != nullptr) {
            pa_operation_cancel(drain_);
            unref(std::exchange(drain_, nullptr));
        }
    }

    Feed& feed_;
    OutputEvents events_;
    pa_stream* stream_ = nullptr;
    pa_operation* drain_ = nullptr;
    bool ready_ = false;
    bool failed_ = false;
    bool exhausted_ = false;
    bool fresh_ = true;
    std::atomic<bool> starving_{false};
    std::int64_t base_ = 0;  // what the server had played at the last drop
    std::int64_t writtenSinceDrop_ = 0;
};

}  // namespace

OpenedOutput openPulse(Feed& feed, OutputEvents events, const std::atomic<bool>& cancelled) {
    if (server().loop == nullptr) {
        return OutputFailure{OutputFailure::Kind::kNoOutput,
                             "cannot start the sound server client's thread"};
    }
    const Clock::time_point deadline = Clock::now() + kServerAnswerTime;
    Locked locked;
    for (int attempt = 0;; ++attempt) {
        if (auto failure = connectServer(deadline, cancelled)) {
            return *failure;
        }
        auto output = std::make_unique<PulseOutput>(feed, events);
        auto failure = output->connect(deadline, cancelled);
        if (!failure) {
            return output;
        }
        // The connection kept from an earlier device may have lost its server a moment ago,
        // before its loop had seen it go: a new connection is made, once, and says what it meets.
        const pa_context* const context = server().context;
        if (attempt > 0 || context == nullptr ||
            PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
            return *failure;
        }
    }
}

void wakeOpeners() {
    if (server().loop == nullptr) {
        return;  // no loop was ever made, so no one waits on it
    }
    Locked locked;
    signalLoop();
}

}  // namespace platform::media
