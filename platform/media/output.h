#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "platform/media/feed.h"

// The sound output of one player: it takes the audio of a Feed and plays it through the sound
// server (PulseAudio, or PipeWire's pulse server) where one answers, and through ALSA where none
// does.
//
// Lifecycle:
//   1. openOutput, on the player's own thread (never the window's: the server may be slow to
//      answer, and ALSA's open may wait on whatever lies behind the device), makes it stopped,
//      or says why it cannot.
//   2. start, hold, drop and setMuted come from the window's thread and never wait on the
//      server or the device: each takes the output's own short lock, asks, and returns; each is
//      heard at once on the sound server (which corks, flushes or mutes what it holds), and on
//      ALSA once the device has taken it up.
//   3. The output takes from the feed on a thread of its own (the sound server's main loop, or
//      a thread per ALSA output) and only copies: it never decodes and never reads a file. When
//      the feed runs dry before its end, it waits for `fed`.
//   4. It tells its owner, through OutputEvents, when the end of the feed has been heard and
//      when it has failed for good (a stream the server dropped or killed, a connection that is
//      gone, a device error that recovery cannot mend). A failed output plays nothing more.
//   5. Releasing it silences it; on the sound server that is at once, and it never waits for
//      what is queued.
namespace platform::media {

// Why there is no sound, as a value for whoever can tell the user.
struct OutputFailure {
    enum class Kind {
        kServerSilent,  // a sound server is there but did not answer in time, and no other output
        kNoOutput,      // no sound server runs, and ALSA has no device that opens
        kLost,          // the output failed while it played
    };
    Kind kind;
    std::string reason;  // in words, on one line
};

// Called on the output's own thread with its lock held: each must only note the news and
// return, and never call back into the output.
struct OutputEvents {
    std::function<void()> ended;                        // once per round, after its last frame
    std::function<void(OutputFailure failure)> failed;  // once; nothing is heard from then on
};

class Output {
  public:
    virtual ~Output() = default;

    virtual void start() = 0;
    virtual void hold() = 0;
    // Silences and forgets what is queued, and runs `restart` (which starts the feed's next round)
    // where nothing taken before it can be heard any more and nothing taken after it is
    // forgotten. No end is told for the round before.
    virtual void drop(const std::function<void()>& restart) = 0;
    virtual void setMuted(bool muted) = 0;
    // The feed has more than it had: an output that ran dry takes again.
    virtual void fed() = 0;
    // How much of the feed has been heard since the output was made or last dropped: what was
    // handed on, less what the server or device still holds. It stands still while held or
    // stalled.
    virtual std::int64_t heardFrames() = 0;
};

// How long a sound server that has not answered still counts as there, for one open.
inline constexpr std::chrono::milliseconds kServerAnswerTime{1000};

// The sound server first; ALSA's default device where there is none. Where the server is there
// but silent, ALSA's pulse plugin (which would wait on the same server) is not tried. Gives up
// waiting once `cancelled` is set and wakeOpeners is called.
using OpenedOutput = std::variant<std::unique_ptr<Output>, OutputFailure>;
OpenedOutput openOutput(Feed& feed, OutputEvents events, const std::atomic<bool>& cancelled);

// Wakes every open waiting on the sound server, so that one whose `cancelled` is set gives up.
void wakeOpeners();

// The two back ends, each on its own (openOutput tries them in this order).
OpenedOutput openPulse(Feed& feed, OutputEvents events, const std::atomic<bool>& cancelled);
OpenedOutput openAlsa(Feed& feed, OutputEvents events, bool avoidPulsePlugin);

}  // namespace platform::media
