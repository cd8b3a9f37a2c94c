#include "platform/media/mp3_decoder.h"

#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/files/files.h"

namespace platform::media {
namespace {

// What open decodes to prove the data playable: four layer III frames. A frame header can be
// found in data that is not audio; four frames that decode cannot.
constexpr std::size_t kProbeFrames = 4 * 1152;

struct MpgDeleter {
    void operator()(mpg123_handle* mpg) const {
        mpg123_close(mpg);
        mpg123_delete(mpg);
    }
};
using Mpg = std::unique_ptr<mpg123_handle, MpgDeleter>;

// A decoder handle set up as every one here is: quiet, tags stepped over, the one output format.
Mpg newHandle(long resyncLimit) {
    Mpg mpg(mpg123_new(nullptr, nullptr));
    if (!mpg) {
        return mpg;
    }
    // By default libmpg123 describes on stderr every damaged frame, junk byte and odd tag it
    // meets; the return codes already tell. A tag is stepped over rather than read: a picture in
    // it can be megabytes, and nothing here shows what a tag says.
    mpg123_param(mpg.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_SKIP_ID3V2, 0.0);
    mpg123_param(mpg.get(), MPG123_RESYNC_LIMIT, resyncLimit, 0.0);
    mpg123_format_none(mpg.get());
    mpg123_format(mpg.get(), kRate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    return mpg;
}

// libmpg123's own limit on junk inside the audio is a kilobyte, after which it takes the file
// for ended; a damaged download or a stray block in the middle is then the end of the song.
constexpr long kResyncWithoutLimit = -1;

// Reads the file through a buffer of its own, at a position of its own. libmpg123's own reader
// makes a system call for every byte while it looks for the next frame in junk, so a megabyte of
// junk cost seconds; and a second handle on the same descriptor (the length scan) never moves
// this one's position.
class BufferedReader {
  public:
    BufferedReader(int fd, const std::atomic<bool>* cancelled) : fd_(fd), cancelled_(cancelled) {}
    BufferedReader(const BufferedReader&) = delete;
    BufferedReader& operator=(const BufferedReader&) = delete;

    static mpg123_ssize_t read(void* self, void* out, std::size_t bytes) {
        return static_cast<BufferedReader*>(self)->read(static_cast<unsigned char*>(out), bytes);
    }
    static off_t seek(void* self, off_t offset, int whence) {
        return static_cast<BufferedReader*>(self)->seek(offset, whence);
    }

  private:
    static constexpr std::size_t kBufferBytes = 64 * 1024;

    mpg123_ssize_t read(unsigned char* out, std::size_t bytes) {
        if (cancelled_->load()) {
            return -1;
        }
        if (at_ == filled_ && !refill()) {
            return filled_ == 0 && failed_ ? -1 : 0;
        }
        const std::size_t n = std::min(bytes, filled_ - at_);
        std::memcpy(out, buffer_.data() + at_, n);
        at_ += n;
        return static_cast<mpg123_ssize_t>(n);
    }

    bool refill() {
        start_ += static_cast<off_t>(filled_);
        at_ = filled_ = 0;
        ssize_t n = 0;
        do {
            n = pread(fd_, buffer_.data(), buffer_.size(), start_);
        } while (n < 0 && errno == EINTR);
        failed_ = n < 0;
        filled_ = static_cast<std::size_t>(std::max<ssize_t>(n, 0));
        return filled_ > 0;
    }

    off_t seek(off_t offset, int whence) {
        struct stat info {};
        const off_t now = start_ + static_cast<off_t>(at_);
        const off_t base = whence == SEEK_SET       ? 0
                           : whence == SEEK_CUR     ? now
                           : fstat(fd_, &info) == 0 ? info.st_size
                                                    : -1;
        if (base < 0 || base + offset < 0) {
            return -1;
        }
        const off_t target = base + offset;
        if (target >= start_ && target <= start_ + static_cast<off_t>(filled_)) {
            at_ = static_cast<std::size_t>(target - start_);
        } else {
            start_ = target;
            at_ = filled_ = 0;
        }
        return target;
    }

    const int fd_;
    const std::atomic<bool>* const cancelled_;
    std::vector<unsigned char> buffer_ = std::vector<unsigned char>(kBufferBytes);
    off_t start_ = 0;  // where in the file the buffer begins
    std::size_t at_ = 0;
    std::size_t filled_ = 0;
    bool failed_ = false;
};

// Opens `reader`'s file on `mpg`.
bool openThrough(mpg123_handle* mpg, BufferedReader& reader) {
    return mpg123_replace_reader_handle(mpg, BufferedReader::read, BufferedReader::seek, nullptr) ==
               MPG123_OK &&
           mpg123_open_handle(mpg, &reader) == MPG123_OK;
}

}  // namespace

struct Mp3Decoder::Handle {
    int fd = -1;
    std::unique_ptr<BufferedReader> reader;
    Mpg mpg;  // last made, first gone: it reads through the reader
    // What open decoded to prove the data playable, handed out first.
    std::vector<unsigned char> first;
    std::size_t firstUsed = 0;

    ~Handle() {
        mpg.reset();
        reader.reset();
        if (fd >= 0) {
            close(fd);
        }
    }
};

std::variant<std::unique_ptr<Mp3Decoder>, DecodeError> Mp3Decoder::open(
    const std::string& path, const std::atomic<bool>& cancelled) {
    auto handle = std::make_unique<Handle>();
    files::Refusal why = files::Refusal::kNone;
    handle->fd = files::openRegular(path, why);
    if (handle->fd < 0) {
        return why == files::Refusal::kMissing ? DecodeError::kNotFound : DecodeError::kNotAFile;
    }
    // The limit that makes a file of anything but audio a quick refusal also bounds how much
    // junk may stand before the first frame.
    handle->mpg = newHandle(kJunkBeforeAudio);
    if (!handle->mpg) {
        return DecodeError::kOutOfMemory;
    }
    mpg123_handle* const mpg = handle->mpg.get();
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    // The descriptor is the one checked above; libmpg123 reads it, never closes it.
    handle->reader = std::make_unique<BufferedReader>(handle->fd, &cancelled);
    if (!openThrough(mpg, *handle->reader) ||
        mpg123_getformat(mpg, &rate, &channels, &encoding) != MPG123_OK || rate != kRate ||
        channels != kChannels) {
        return DecodeError::kNotAudio;
    }
    handle->first.resize(kProbeFrames * kFrameBytes);
    std::size_t done = 0;
    const int status = mpg123_read(mpg, handle->first.data(), handle->first.size(), &done);
    if ((status != MPG123_OK && status != MPG123_DONE) || done == 0) {
        return DecodeError::kNotAudio;
    }
    handle->first.resize(done - done % kFrameBytes);
    mpg123_param(mpg, MPG123_RESYNC_LIMIT, kResyncWithoutLimit, 0.0);
    return std::unique_ptr<Mp3Decoder>(new Mp3Decoder(std::move(handle)));
}

Mp3Decoder::Mp3Decoder(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

Mp3Decoder::~Mp3Decoder() = default;

std::size_t Mp3Decoder::openedFrames() const {
    return handle_->first.size() / kFrameBytes;
}

std::size_t Mp3Decoder::read(Sample* samples, std::size_t frames) {
    auto* out = reinterpret_cast<unsigned char*>(samples);
    const std::size_t wanted = frames * kFrameBytes;
    std::size_t filled = 0;
    Handle& h = *handle_;
    if (h.firstUsed < h.first.size()) {
        filled = std::min(wanted, h.first.size() - h.firstUsed);
        std::memcpy(out, h.first.data() + h.firstUsed, filled);
        h.firstUsed += filled;
    }
    while (filled < wanted) {
        std::size_t done = 0;
        const int status = mpg123_read(h.mpg.get(), out + filled, wanted - filled, &done);
        filled += done;
        // A new format midway is met by the fixed output format; anything else but more audio
        // is the end.
        if (status != MPG123_OK && status != MPG123_NEW_FORMAT) {
            break;
        }
        if (done == 0 && status == MPG123_OK) {
            break;
        }
    }
    return filled / kFrameBytes;
}

void Mp3Decoder::rewind() {
    handle_->firstUsed = handle_->first.size();
    mpg123_seek(handle_->mpg.get(), 0, SEEK_SET);
}

std::optional<std::int64_t> Mp3Decoder::scanLength(const std::atomic<bool>& cancelled) const {
    BufferedReader reader(handle_->fd, &cancelled);
    Mpg mpg = newHandle(kResyncWithoutLimit);
    if (!mpg || !openThrough(mpg.get(), reader) || mpg123_scan(mpg.get()) != MPG123_OK ||
        cancelled.load()) {
        return std::nullopt;
    }
    const off_t frames = mpg123_length(mpg.get());
    return frames >= 0 ? std::optional<std::int64_t>(frames) : std::nullopt;
}

}  // namespace platform::media
