#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// The sound output of one device: a stream of interleaved signed 16-bit samples at kOutputRate
// with kOutputChannels channels (mci.h), played through the sound server where one answers
// (PulseAudio, or PipeWire's pulse server) and through ALSA's default device where none does.
//
// The output pulls its audio from a source on its own thread (the audio thread), ahead of time,
// and every command is heard at once, whatever is queued:
//   - a new output is stopped; on the sound server it is already filled from the source, so
//     start is heard at once;
//   - start plays (or goes on playing); hold silences and keeps what is queued;
//   - drop silences and drops what is queued, and the source is rewound before it is read again;
//   - mute silences (and unmute restores) what is queued as well as what follows; a new output
//     is not muted;
//   - once the source is exhausted and all of its audio has been heard, the end callback is
//     called, once, on the audio thread;
//   - releasing the output silences it at once, without waiting for what is queued.
// The connection to the sound server is made with the first output and kept for the ones after
// it; an output opened after the server went away (or came back) connects again. The source and
// the end callback run with the output locked, so a command never meets them halfway. Outputs
// are opened, used and released on one thread; one at a time. Nothing is printed, and an idle
// output (stopped, paused, or at its end) costs no CPU: no timers, no polling.
namespace platform::audio {

// Fills `samples` with up to `frames` frames; fewer means the source is at its end.
using Source = std::function<std::size_t(std::int16_t* samples, std::size_t frames)>;
using EndCallback = std::function<void()>;

class Output {
  public:
    // The sound server first, then ALSA's default device; nullptr when neither can play.
    static std::unique_ptr<Output> open(Source source, EndCallback ended);
    virtual ~Output() = default;

    virtual void start() = 0;
    virtual void hold() = 0;
    // `rewind` runs with the audio thread held, after the queued audio is dropped.
    virtual void drop(const std::function<void()>& rewind) = 0;
    virtual void setMuted(bool muted) = 0;
};

// The two back ends, each on its own (Output::open tries them in this order).
std::unique_ptr<Output> openPulse(Source source, EndCallback ended);
std::unique_ptr<Output> openAlsa(Source source, EndCallback ended);

// Sees every piece of audio as it is written to the sound server or device, on the audio
// thread; on the sound server, mute is applied there, after this. Empty to remove; once it
// returns, the old tap is not called again.
using Tap = std::function<void(const std::int16_t* samples, std::size_t count)>;
void setTap(Tap tap);
// Hands a written piece to the tap, for the back ends.
void tapWritten(const std::int16_t* samples, std::size_t count);

}  // namespace platform::audio
