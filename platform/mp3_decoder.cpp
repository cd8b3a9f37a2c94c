#include "platform/mp3_decoder.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace platform::audio {
namespace {

using namespace platform::mci;

constexpr std::size_t kFrameBytes = sizeof(std::int16_t) * kOutputChannels;

// Returns a descriptor, or -1 with `error` set.
int openRegularFile(const std::string& path, MCIERROR& error) {
    // A look at the name first spares device nodes from being opened at all; the check on the
    // descriptor below is the one that counts, as the name may change in between.
    struct stat named {};
    if (stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
        error = kInvalidFile;
        return -1;
    }
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        switch (errno) {
            case ENOENT:
            case ENOTDIR:
            case ENAMETOOLONG:
            case ELOOP:
                error = kFileNotFound;
                return -1;
            default:
                error = kInvalidFile;
                return -1;
        }
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        error = kInvalidFile;
        return -1;
    }
    return fd;
}

}  // namespace

struct Mp3Decoder::Handle {
    mpg123_handle* mpg = nullptr;
    int fd = -1;
    // What the open decoded to prove the data playable, handed out first.
    std::vector<unsigned char> first;
    std::size_t firstUsed = 0;

    ~Handle() {
        if (mpg != nullptr) {
            mpg123_close(mpg);
            mpg123_delete(mpg);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
};

std::unique_ptr<Mp3Decoder> Mp3Decoder::open(const std::string& path, MCIERROR& error) {
    auto handle = std::make_unique<Handle>();
    handle->fd = openRegularFile(path, error);
    if (handle->fd < 0) {
        return nullptr;
    }
    int status = MPG123_OK;
    handle->mpg = mpg123_new(nullptr, &status);
    if (handle->mpg == nullptr) {
        error = kOutOfMemory;
        return nullptr;
    }
    mpg123_handle* const mpg = handle->mpg;
    // By default libmpg123 describes on stderr every damaged frame, junk byte and odd tag it
    // meets; the return codes already tell. A tag is stepped over rather than read: a picture
    // in it can be megabytes, and nothing here shows what a tag says.
    mpg123_param(mpg, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_SKIP_ID3V2, 0.0);
    // One output format for every file: the decoder resamples and spreads mono to both sides.
    mpg123_format_none(mpg);
    mpg123_format(mpg, kOutputRate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    // The descriptor is the one checked above; libmpg123 reads and seeks it, never closes it.
    if (mpg123_open_fd(mpg, handle->fd) != MPG123_OK ||
        mpg123_getformat(mpg, &rate, &channels, &encoding) != MPG123_OK || rate != kOutputRate ||
        channels != kOutputChannels) {
        error = kInvalidFile;
        return nullptr;
    }
    // A frame header can be found in data that is not audio; a frame that decodes cannot.
    handle->first.resize(4608 * kFrameBytes);
    std::size_t done = 0;
    status = mpg123_read(mpg, handle->first.data(), handle->first.size(), &done);
    if ((status != MPG123_OK && status != MPG123_DONE) || done == 0) {
        error = kInvalidFile;
        return nullptr;
    }
    handle->first.resize(done - done % kFrameBytes);
    std::unique_ptr<Mp3Decoder> decoder(new Mp3Decoder(std::move(handle)));
    const off_t samples = mpg123_length(mpg);
    decoder->lengthUs_ = samples > 0 ? std::int64_t{samples} * 1000000 / kOutputRate : -1;
    return decoder;
}

Mp3Decoder::Mp3Decoder(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

Mp3Decoder::~Mp3Decoder() = default;

std::size_t Mp3Decoder::read(std::int16_t* samples, std::size_t frames) {
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
        const int status = mpg123_read(h.mpg, out + filled, wanted - filled, &done);
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
    mpg123_seek(handle_->mpg, 0, SEEK_SET);
}

}  // namespace platform::audio
