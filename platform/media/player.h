#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <variant>

#include "platform/media/mp3_decoder.h"
#include "platform/media/output.h"

// One file, ready to play: its decoder on a thread of the player's own, filling a Feed, and a
// sound output (output.h) taking from it.
//
// The commands come from one thread (the window's) and return at once: each asks the output
// and never waits on the sound server, a device or the disk. The player's thread makes the
// output (which may wait up to kServerAnswerTime for a server to answer), decodes ahead of what
// is heard, and scans the file for its exact length once the output is there.
//
// What it reports is what is heard: playing, paused or stopped (a file heard to its end, and an
// output that failed or could not be had, read as stopped), how much of the file has been heard,
// and the file's exact length once the scan has it.
namespace platform::media {

enum class Transport { kStopped, kPlaying, kPaused };

struct PlayerStatus {
    Transport transport = Transport::kStopped;
    std::int64_t positionUs = 0;  // how much has been heard; 0 while stopped
    std::int64_t lengthUs = -1;   // -1 until the scan has it
};

class Player {
  public:
    // Told on the player's own threads, never under a lock of the player's.
    struct Events {
        // Something status() shows has changed: the end was heard, the output failed or could
        // not be had, the length is known. Must only pass the news on.
        std::function<void()> changed;
        // Why no sound can be had, or why it stopped: once for each failure.
        std::function<void(const OutputFailure& failure)> failed;
    };

    // Opens the file on the calling thread (a bounded read of its start, mp3_decoder.h) and
    // starts the player's thread, which makes the output. DecodeError::kOutOfMemory also stands
    // for a thread that could not be started.
    static std::variant<std::unique_ptr<Player>, DecodeError> open(const std::string& path,
                                                                   Events events);
    // Silences at once. Waits for the player's thread to end only as long as kReleaseWait, and
    // leaves it to end on its own after that: the output it releases may still be waiting on a
    // server or a device.
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    static constexpr std::chrono::milliseconds kReleaseWait{20};

    // Plays from the start when stopped, on when paused; playing, changes nothing. Where the
    // output failed or could not be had, a new one is made.
    void play();
    // Silences and keeps the position; only while playing.
    void pause();
    // Silences; the next play starts from the beginning.
    void stop();
    // Silences or restores the sound; the file goes on playing either way.
    void setMuted(bool muted);
    PlayerStatus status();

  private:
    struct Shared;
    Player(std::shared_ptr<Shared> shared, std::thread thread);
    static void run(std::shared_ptr<Shared> shared, std::unique_ptr<Mp3Decoder> decoder);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace platform::media
