#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/media/audio_format.h"

// MPEG-1/2 layer 1/2/3 audio read from a file and decoded by libmpg123 into the one format of
// audio_format.h. The decoder prints nothing, and a tag before the audio is stepped over, not
// read, however large.
namespace platform::media {

enum class DecodeError {
    kNotFound,  // no file by that name
    kNotAFile,  // a FIFO, a device, a folder: anything but a regular file that can be read
    kNotAudio,  // no MPEG audio that decodes
    kOutOfMemory,
};

class Mp3Decoder {
  public:
    // Opens `path` for reading without ever waiting: a FIFO with no writer, a device node, a
    // folder or anything else that is not a regular file is refused on the open descriptor
    // itself (device nodes by a look at the name first, so they are never opened), so what is
    // checked is what is decoded. The data must be MPEG audio that decodes, whatever the file is
    // called: the first frames are found (behind up to kJunkBeforeAudio bytes of anything else)
    // and decoded here, and nothing more is read. Once `cancelled` is set, reading gives up and
    // what is left reads as the end, so that a long read is never waited for.
    static std::variant<std::unique_ptr<Mp3Decoder>, DecodeError> open(
        const std::string& path, const std::atomic<bool>& cancelled);
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    // How far the first frame may lie from the start of the audio (after any tag): further than
    // that, the data is taken for something that is not audio, and refused without reading on.
    static constexpr long kJunkBeforeAudio = 1 << 20;

    // Decodes up to `frames` frames into `samples`; fewer only at the end of the audio, 0 from
    // then on. A damaged stretch in the middle, however long, is stepped over: the audio after
    // it plays. The first frames come from what open decoded.
    std::size_t read(Sample* samples, std::size_t frames);
    // Goes back to the first frame.
    void rewind();
    // How many frames open decoded, which the first read hands out without decoding anything.
    std::size_t openedFrames() const;

    // The exact length in frames, from a scan of every frame of the file, which a header or a
    // guess from the file's size cannot give (a file without a VBR header, a big tag). Reads the
    // whole file through a handle of its own, so it may run on another thread while `read` goes
    // on; gives up, with nullopt, once `cancelled` is set.
    std::optional<std::int64_t> scanLength(const std::atomic<bool>& cancelled) const;

  private:
    struct Handle;
    explicit Mp3Decoder(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

}  // namespace platform::media
