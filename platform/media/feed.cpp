#include "platform/media/feed.h"

#include <algorithm>
#include <cstring>

namespace platform::media {

Feed::Feed(std::size_t capacityFrames)
    : ring_(capacityFrames * kChannels), capacity_(capacityFrames) {}

std::size_t Feed::take(Sample* out, std::size_t frames) {
    std::size_t taken = 0;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        taken = std::min(frames, size_);
        // At most two copies: up to the ring's end, then from its start.
        const std::size_t first = std::min(taken, capacity_ - head_);
        std::memcpy(out, &ring_[head_ * kChannels], first * kFrameBytes);
        std::memcpy(out + first * kChannels, ring_.data(), (taken - first) * kFrameBytes);
        head_ = (head_ + taken) % capacity_;
        size_ -= taken;
        wake = taken > 0 && !ended_;
    }
    if (wake) {
        decoderWaits_.notify_one();
    }
    return taken;
}

bool Feed::exhausted() {
    std::lock_guard lock(mutex_);
    return ended_ && size_ == 0;
}

void Feed::restart() {
    {
        std::lock_guard lock(mutex_);
        ++round_;
        head_ = 0;
        size_ = 0;
        ended_ = false;
    }
    decoderWaits_.notify_one();
}

void Feed::poke(bool closing) {
    {
        std::lock_guard lock(mutex_);
        poked_ = true;
        closed_ = closed_ || closing;
    }
    decoderWaits_.notify_one();
}

Feed::Turn Feed::wait(std::uint64_t round, std::size_t room) {
    std::unique_lock lock(mutex_);
    const auto hasRoom = [&] { return room > 0 && roomLocked() >= room; };
    decoderWaits_.wait(lock, [&] { return closed_ || poked_ || round_ != round || hasRoom(); });
    poked_ = false;
    return {closed_ ? 0 : round_, hasRoom()};
}

bool Feed::append(const Sample* samples, std::size_t frames, std::uint64_t round) {
    std::lock_guard lock(mutex_);
    if (round != round_ || frames > roomLocked()) {
        return false;
    }
    const std::size_t tail = (head_ + size_) % capacity_;
    const std::size_t first = std::min(frames, capacity_ - tail);
    std::memcpy(&ring_[tail * kChannels], samples, first * kFrameBytes);
    std::memcpy(ring_.data(), samples + first * kChannels, (frames - first) * kFrameBytes);
    size_ += frames;
    return true;
}

void Feed::markEnd(std::uint64_t round) {
    std::lock_guard lock(mutex_);
    if (round == round_) {
        ended_ = true;
    }
}

}  // namespace platform::media
