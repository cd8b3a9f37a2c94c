#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/media/audio_format.h"

namespace platform::media {

// Decoded audio on its way from the decoder's thread to an output: a bounded queue of frames.
//
// The decoder appends what it decodes and, at the file's end, marks the end; the output takes
// frames out as the sound server or device asks for them. Nothing here decodes, reads a file or
// waits on anything but this queue's own lock, so an output that takes from it never waits
// behind the decoder. The lock is a leaf: nothing else is taken while it is held.
//
// A restart (a stop) empties the queue and begins a new round. Whatever the decoder appends for
// an older round is refused, so nothing decoded before a restart is heard after it.
class Feed {
  public:
    explicit Feed(std::size_t capacityFrames);

    // The output's side. Copies up to `frames` frames into `out`; fewer when the decoder is
    // behind or the end is near.
    std::size_t take(Sample* out, std::size_t frames);
    // The end is marked and every frame before it has been taken.
    bool exhausted();

    // The controller's side: empties the queue and starts a new round, which the decoder begins
    // again from the file's start. Wakes the decoder.
    void restart();
    // Wakes the decoder to look at what else it has to do; and, with `closing`, for good.
    void poke(bool closing = false);

    // The decoder's side. Waits until the round is not `round` any more, a poke came, or (with
    // `room` above 0) there is room for `room` frames. Tells the round then current, 0 once the
    // feed is closed (rounds count from 1), and whether there is that room.
    struct Turn {
        std::uint64_t round;
        bool room;
    };
    Turn wait(std::uint64_t round, std::size_t room);
    // Appends `frames` frames decoded for `round`; false, appending nothing, when the round is
    // over.
    bool append(const Sample* samples, std::size_t frames, std::uint64_t round);
    void markEnd(std::uint64_t round);

  private:
    std::size_t roomLocked() const { return capacity_ - size_; }

    std::mutex mutex_;
    std::condition_variable decoderWaits_;
    std::vector<Sample> ring_;
    const std::size_t capacity_;  // in frames
    std::size_t head_ = 0;        // the oldest frame
    std::size_t size_ = 0;        // frames queued
    std::uint64_t round_ = 1;
    bool ended_ = false;
    bool poked_ = false;
    bool closed_ = false;
};

}  // namespace platform::media
