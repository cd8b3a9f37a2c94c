#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/mci.h"

// MPEG-1/2 layer 1/2/3 audio read from a file, decoded by libmpg123 into what the sound output
// takes: interleaved signed 16-bit samples at kOutputRate with kOutputChannels channels (mci.h),
// whatever rate and channel count the file has, so every file plays at its own pitch. The
// decoder prints nothing, and a tag before the audio is stepped over, not read, however large.
namespace platform::audio {

class Mp3Decoder {
  public:
    // Opens `path` for reading without ever waiting: a FIFO with no writer, a device node, a
    // directory or anything else that is not a regular file is refused on the open descriptor
    // itself (and device nodes by a look at the name first, so they are never opened), so what
    // is checked is what is decoded. The data must be MPEG audio that decodes, whatever the
    // file is called: the first frame is found and decoded here, and nothing more is read.
    // `error` receives mci::kFileNotFound (no such file), kInvalidFile (not a regular file, or
    // not playable MPEG audio) or kOutOfMemory; nullptr then.
    static std::unique_ptr<Mp3Decoder> open(const std::string& path, MCIERROR& error);
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    // Decodes up to `frames` frames into `samples`; fewer only at the end of the audio (or
    // where the data cannot be decoded any further), 0 from then on.
    std::size_t read(std::int16_t* samples, std::size_t frames);
    // Goes back to the first frame.
    void rewind();
    // The decoder's estimate of the length in microseconds, -1 when unknown.
    std::int64_t lengthUs() const { return lengthUs_; }

  private:
    struct Handle;
    explicit Mp3Decoder(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
    std::int64_t lengthUs_ = -1;
};

}  // namespace platform::audio
