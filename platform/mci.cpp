#include "platform/mci.h"

#include "platform/shortpath.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <SDL.h>
#include <SDL_mixer.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace {

using namespace platform::mci;

// ---------------------------------------------------------------------------------------------
// Words of a command.

// No accepted command has more than six words; two more are enough to tell that a command is
// too long, so parsing needs no allocation at all.
constexpr std::size_t kMaxWords = 8;

struct Words {
    std::array<std::string_view, kMaxWords> word{};
    std::size_t count = 0;

    std::string_view operator[](std::size_t i) const { return i < count ? word[i] : ""; }
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

Words splitWords(std::string_view text) {
    Words words;
    std::size_t i = 0;
    while (i < text.size() && words.count < kMaxWords) {
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && !isBlank(text[i])) {
            ++i;
        }
        if (i > start) {
            words.word[words.count++] = text.substr(start, i - start);
        }
    }
    return words;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Keywords and aliases match without regard to case, in ASCII only, as the window's own
// commands are ASCII.
bool sameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The sound libraries. SDL_mixer brings some forty libraries with it (its MIDI, tracker and codec
// back ends and theirs), and linking them would make every start of the program load them and
// keep their pages, though only playing needs them. So they are loaded with the first device and
// then kept for the rest of the program's life.

struct SoundLibrary {
    decltype(&::Mix_CloseAudio) Mix_CloseAudio = nullptr;
    decltype(&::Mix_FreeMusic) Mix_FreeMusic = nullptr;
    decltype(&::Mix_GetMusicPosition) Mix_GetMusicPosition = nullptr;
    decltype(&::Mix_HaltMusic) Mix_HaltMusic = nullptr;
    decltype(&::Mix_HookMusicFinished) Mix_HookMusicFinished = nullptr;
    decltype(&::Mix_MusicDuration) Mix_MusicDuration = nullptr;
    decltype(&::Mix_LoadMUSType_RW) Mix_LoadMUSType_RW = nullptr;
    decltype(&::Mix_OpenAudioDevice) Mix_OpenAudioDevice = nullptr;
    decltype(&::Mix_PauseMusic) Mix_PauseMusic = nullptr;
    decltype(&::Mix_PlayMusic) Mix_PlayMusic = nullptr;
    decltype(&::Mix_PlayingMusic) Mix_PlayingMusic = nullptr;
    decltype(&::Mix_ResumeMusic) Mix_ResumeMusic = nullptr;
    decltype(&::Mix_SetPostMix) Mix_SetPostMix = nullptr;
    decltype(&::Mix_VolumeMusic) Mix_VolumeMusic = nullptr;
    decltype(&::SDL_AllocRW) SDL_AllocRW = nullptr;
    decltype(&::SDL_FreeRW) SDL_FreeRW = nullptr;
    decltype(&::SDL_InitSubSystem) SDL_InitSubSystem = nullptr;
    decltype(&::SDL_LogSetOutputFunction) SDL_LogSetOutputFunction = nullptr;
    decltype(&::SDL_QuitSubSystem) SDL_QuitSubSystem = nullptr;
    decltype(&::SDL_SetError) SDL_SetError = nullptr;
    decltype(&::SDL_SetHint) SDL_SetHint = nullptr;
};

SoundLibrary lib;
bool libraryLoaded = false;

bool loadSoundLibrary() {
    if (libraryLoaded) {
        return true;
    }
    // Global, so that the decoder library it brings meets this program's mpg123_new below, and
    // libasound's handler can be found by name. Lazy, as most of what these libraries offer is
    // never called, and binding it all would delay the first sound.
    void* handle = dlopen("libSDL2_mixer-2.0.so.0", RTLD_LAZY | RTLD_GLOBAL);
    if (handle == nullptr) {
        return false;
    }
    SoundLibrary l;
    bool complete = true;
    auto find = [&](auto& function, const char* name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
        complete = complete && function != nullptr;
    };
    find(l.Mix_CloseAudio, "Mix_CloseAudio");
    find(l.Mix_FreeMusic, "Mix_FreeMusic");
    find(l.Mix_GetMusicPosition, "Mix_GetMusicPosition");
    find(l.Mix_HaltMusic, "Mix_HaltMusic");
    find(l.Mix_HookMusicFinished, "Mix_HookMusicFinished");
    find(l.Mix_MusicDuration, "Mix_MusicDuration");
    find(l.Mix_LoadMUSType_RW, "Mix_LoadMUSType_RW");
    find(l.Mix_OpenAudioDevice, "Mix_OpenAudioDevice");
    find(l.Mix_PauseMusic, "Mix_PauseMusic");
    find(l.Mix_PlayMusic, "Mix_PlayMusic");
    find(l.Mix_PlayingMusic, "Mix_PlayingMusic");
    find(l.Mix_ResumeMusic, "Mix_ResumeMusic");
    find(l.Mix_SetPostMix, "Mix_SetPostMix");
    find(l.Mix_VolumeMusic, "Mix_VolumeMusic");
    find(l.SDL_AllocRW, "SDL_AllocRW");
    find(l.SDL_FreeRW, "SDL_FreeRW");
    find(l.SDL_InitSubSystem, "SDL_InitSubSystem");
    find(l.SDL_LogSetOutputFunction, "SDL_LogSetOutputFunction");
    find(l.SDL_QuitSubSystem, "SDL_QuitSubSystem");
    find(l.SDL_SetError, "SDL_SetError");
    find(l.SDL_SetHint, "SDL_SetHint");
    if (!complete) {
        return false;
    }
    lib = l;
    libraryLoaded = true;
    return true;
}

// ---------------------------------------------------------------------------------------------
// The output tap. It runs on the audio thread, so it is only touched under its mutex; holding
// the mutex while it runs also means that once setOutputTap returns, the old tap is never
// called again.

std::mutex tapMutex;
OutputTap outputTap;

void SDLCALL postMix(void* /*unused*/, Uint8* stream, int length) {
    std::lock_guard lock(tapMutex);
    if (!outputTap || stream == nullptr || length <= 0) {
        return;
    }
    try {
        outputTap(reinterpret_cast<const std::int16_t*>(stream),
                  static_cast<std::size_t>(length) / sizeof(std::int16_t));
    } catch (...) {
        // An exception must not unwind through SDL's C frames; the tap only observes.
    }
}

// ---------------------------------------------------------------------------------------------
// The sound output.

void SDLCALL discardLogMessage(void* /*unused*/, int /*category*/, SDL_LogPriority /*priority*/,
                               const char* /*message*/) {}

void discardAlsaMessage(const char* /*file*/, int /*line*/, const char* /*function*/, int /*error*/,
                        const char* /*format*/, ...) {}

// SDL's ALSA backend leaves libasound's error handler alone, and that one writes to stderr
// whenever a device is missing (as on a machine with no sound card). libasound comes with SDL,
// so once SDL is loaded it is there when it is there at all.
void quietAlsa() {
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    const auto setHandler =
        reinterpret_cast<SetHandler>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"));
    if (setHandler != nullptr) {
        setHandler(discardAlsaMessage);
    }
}

// ---------------------------------------------------------------------------------------------
// The change notifier. The mixer calls musicFinished on the audio thread at the end of a file
// (and on the window's thread when music is halted), so the notifier is guarded like the tap.

std::mutex notifierMutex;
ChangeNotifier changeNotifier;

void notifyChange() noexcept {
    std::lock_guard lock(notifierMutex);
    if (!changeNotifier) {
        return;
    }
    try {
        changeNotifier();
    } catch (...) {
        // The notifier only passes news on; its faults stay here.
    }
}

void SDLCALL musicFinished() {
    notifyChange();
}

// Frames the mixer hands on at a time. A larger block wakes the audio thread less often but is
// heard later: a pause, mute or stop reaches the speakers up to two blocks after the command.
constexpr int kMixFrames = 2048;

bool outputOpen = false;
// The audio subsystem (for PulseAudio, the connection to the sound server) outlives the devices:
// bringing it up again for every file was most of the time between a double click and the sound.
bool audioReady = false;

bool startAudio() {
    if (audioReady) {
        return true;
    }
    if (!loadSoundLibrary()) {
        return false;
    }
    // The program prints nothing of its own, and SDL's log goes to stderr by default.
    lib.SDL_LogSetOutputFunction(discardLogMessage, nullptr);
    quietAlsa();
    // SDL would otherwise install its own SIGINT and SIGTERM handlers with the audio subsystem
    // (it brings up the event subsystem), and an interrupt from the terminal would stop ending
    // the program while a file is open.
    lib.SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    lib.SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "korvel");
    audioReady = lib.SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    return audioReady;
}

void stopAudio() {
    if (audioReady) {
        lib.SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audioReady = false;
    }
}

bool openDevice() {
    // No format change is allowed: SDL converts to whatever the device wants, so the mix (and
    // the tap) always has the rate and channel count this layer promises.
    return lib.Mix_OpenAudioDevice(kOutputRate, AUDIO_S16SYS, kOutputChannels, kMixFrames, nullptr,
                                   0) == 0;
}

bool openOutput() {
    if (outputOpen) {
        return true;
    }
    const bool wasReady = audioReady;
    if (!startAudio()) {
        return false;
    }
    if (!openDevice()) {
        // A connection kept from an earlier device may have gone stale (the sound server was
        // restarted, say): one fresh start before giving up.
        stopAudio();
        if (!wasReady || !startAudio() || !openDevice()) {
            stopAudio();
            return false;
        }
    }
    lib.Mix_SetPostMix(postMix, nullptr);
    lib.Mix_HookMusicFinished(musicFinished);
    outputOpen = true;
    return true;
}

void closeOutput() {
    if (!outputOpen) {
        return;
    }
    lib.Mix_SetPostMix(nullptr, nullptr);
    lib.Mix_HookMusicFinished(nullptr);
    lib.Mix_CloseAudio();
    outputOpen = false;
}

// ---------------------------------------------------------------------------------------------
// Reading an open descriptor through SDL. SDL's own file reader opens by name, which would
// open the file a second time (and could meet a different file there); this one reads the
// descriptor that was checked.

int descriptorOf(SDL_RWops* rw) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(rw->hidden.unknown.data1));
}

Sint64 SDLCALL descriptorSize(SDL_RWops* rw) {
    struct stat info {};
    if (fstat(descriptorOf(rw), &info) != 0) {
        return lib.SDL_SetError("cannot stat the file");
    }
    return static_cast<Sint64>(info.st_size);
}

Sint64 SDLCALL descriptorSeek(SDL_RWops* rw, Sint64 offset, int whence) {
    int how = SEEK_SET;
    switch (whence) {
        case RW_SEEK_SET:
            how = SEEK_SET;
            break;
        case RW_SEEK_CUR:
            how = SEEK_CUR;
            break;
        case RW_SEEK_END:
            how = SEEK_END;
            break;
        default:
            return lib.SDL_SetError("unknown seek origin");
    }
    const off_t position = lseek(descriptorOf(rw), static_cast<off_t>(offset), how);
    if (position < 0) {
        return lib.SDL_SetError("cannot seek in the file");
    }
    return static_cast<Sint64>(position);
}

size_t SDLCALL descriptorRead(SDL_RWops* rw, void* buffer, size_t size, size_t count) {
    if (size == 0 || count == 0) {
        return 0;
    }
    if (count > SIZE_MAX / size) {
        lib.SDL_SetError("read too large");
        return 0;
    }
    const std::size_t wanted = size * count;
    std::size_t done = 0;
    auto* out = static_cast<unsigned char*>(buffer);
    while (done < wanted) {
        const ssize_t got = read(descriptorOf(rw), out + done, wanted - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            if (got < 0) {
                lib.SDL_SetError("cannot read the file");
            }
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done / size;
}

size_t SDLCALL descriptorWrite(SDL_RWops* /*rw*/, const void* /*buffer*/, size_t /*size*/,
                               size_t /*count*/) {
    lib.SDL_SetError("the file is open for reading only");
    return 0;
}

int SDLCALL descriptorClose(SDL_RWops* rw) {
    const int result = close(descriptorOf(rw));
    lib.SDL_FreeRW(rw);
    return result == 0 ? 0 : -1;
}

// Takes ownership of the descriptor only when it returns a reader.
SDL_RWops* readerFor(int fd) {
    SDL_RWops* rw = lib.SDL_AllocRW();
    if (rw == nullptr) {
        return nullptr;
    }
    rw->type = SDL_RWOPS_UNKNOWN;
    rw->size = descriptorSize;
    rw->seek = descriptorSeek;
    rw->read = descriptorRead;
    rw->write = descriptorWrite;
    rw->close = descriptorClose;
    rw->hidden.unknown.data1 = reinterpret_cast<void*>(static_cast<std::intptr_t>(fd));
    rw->hidden.unknown.data2 = nullptr;
    return rw;
}

// Opens the file for reading without ever waiting: a FIFO with no writer, a device node or
// anything else that is not a regular file is refused on the open descriptor itself, so what
// is checked is what is read.
struct OpenedFile {
    int fd = -1;
    MCIERROR error = kNoError;
};

OpenedFile openRegularFile(const std::string& path) {
    // A look at the name first spares device nodes from being opened at all; the check on the
    // descriptor below is the one that counts, as the name may change in between.
    struct stat named {};
    if (stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
        return {-1, kInvalidFile};
    }
    int fd = -1;
    do {
        fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        switch (errno) {
            case ENOENT:
            case ENOTDIR:
            case ENAMETOOLONG:
            case ELOOP:
                return {-1, kFileNotFound};
            default:
                return {-1, kInvalidFile};
        }
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return {-1, kInvalidFile};
    }
    return {fd, kNoError};
}

// ---------------------------------------------------------------------------------------------
// The device.

enum class State { Stopped, Playing, Paused };

struct Device {
    std::string alias;
    std::string path;
    Mix_Music* music = nullptr;
    State state = State::Stopped;
    bool soundOn = true;
};

// Only one device can be open at a time (the mixer has a single music stream).
std::optional<Device> device;
std::uint64_t openCount = 0;

CommandObserver commandObserver;

// A device that was playing and is no longer heard has played to its end (or its data could
// not be decoded any further); either way it is stopped now.
void noteEnd(Device& d) {
    if (d.state == State::Playing && lib.Mix_PlayingMusic() == 0) {
        d.state = State::Stopped;
    }
}

void applySound(const Device& d) {
    lib.Mix_VolumeMusic(d.soundOn ? MIX_MAX_VOLUME : 0);
}

// Closing the output waits for its last blocks to drain, which costs two blocks every time.
// The window closes one file and opens the next within one handler, so while a loop of events
// runs on this thread the output, silent from the close on, is released only once control gets
// back to that loop: a next file opened before then keeps it. Without a loop, at once.
bool releasePending = false;

void releaseOutputSoon() {
    QCoreApplication* const loop = QCoreApplication::instance();
    if (loop == nullptr || loop->thread() != QThread::currentThread()) {
        closeOutput();
        return;
    }
    if (releasePending) {
        return;
    }
    releasePending = true;
    QTimer::singleShot(0, loop, [] {
        releasePending = false;
        if (!device) {
            closeOutput();
        }
    });
}

void closeDevice() {
    if (!device) {
        return;
    }
    lib.Mix_HaltMusic();
    lib.Mix_FreeMusic(device->music);
    device.reset();
    releaseOutputSoon();
}

bool isOpenKeyword(std::string_view word) {
    return sameWord(word, "type") || sameWord(word, "alias");
}

MCIERROR openCommand(const Words& words) {
    // open ELEMENT type mpegvideo alias A, the two clauses in either order.
    if (words.count < 2 || isOpenKeyword(words[1])) {
        return kMissingDeviceName;
    }
    const std::string_view element = words[1];
    std::optional<std::string_view> type;
    std::optional<std::string_view> alias;
    for (std::size_t i = 2; i < words.count; i += 2) {
        const bool isType = sameWord(words[i], "type");
        const bool isAlias = sameWord(words[i], "alias");
        if ((!isType && !isAlias) || i + 1 >= words.count || (isType && type) ||
            (isAlias && alias)) {
            return kUnrecognizedKeyword;
        }
        (isType ? type : alias) = words[i + 1];
    }
    if (!alias) {
        return kMissingDeviceName;
    }
    if (!type || !sameWord(*type, "mpegvideo")) {
        return kInvalidDeviceName;
    }
    if (device) {
        return sameWord(device->alias, *alias) ? kDuplicateAlias : kMustUseShareable;
    }

    const std::optional<std::string> path = platform::decodeShortPath(element);
    // No Linux path holds a NUL byte, so a short form that decodes to one names no file (and
    // the system would read only the part before it, a different file).
    if (!path || path->empty() || path->find('\0') != std::string::npos) {
        return kFileNotFound;
    }
    Device opened;
    opened.alias = std::string(*alias);
    opened.path = *path;
    const OpenedFile file = openRegularFile(*path);
    if (file.error != kNoError) {
        return file.error;
    }

    // Taken in this order, released in the reverse one on every failure below.
    if (!openOutput()) {
        close(file.fd);
        return kHardware;
    }
    SDL_RWops* reader = readerFor(file.fd);
    if (reader == nullptr) {
        closeOutput();
        close(file.fd);
        return kOutOfMemory;
    }
    // The mixer's music volume is global and outlives any one piece of music; a new device
    // starts with its sound on whatever the last one was set to.
    applySound(opened);
    // Only MPEG audio is accepted; the loader closes the reader (and so the descriptor) itself
    // when it refuses the data.
    opened.music = lib.Mix_LoadMUSType_RW(reader, MUS_MP3, 1);
    if (opened.music == nullptr) {
        closeOutput();
        return kInvalidFile;
    }
    device = std::move(opened);
    ++openCount;
    return kNoError;
}

MCIERROR deviceCommand(const Words& words) {
    const std::string_view verb = words[0];
    if (words.count < 2) {
        return kMissingDeviceName;
    }
    const bool closeAll = sameWord(verb, "close") && sameWord(words[1], "all");
    if (!closeAll && (!device || !sameWord(device->alias, words[1]))) {
        return kInvalidDeviceName;
    }

    if (sameWord(verb, "set")) {
        const bool shape = words.count == 5 && sameWord(words[2], "audio") &&
                           sameWord(words[3], "all") &&
                           (sameWord(words[4], "on") || sameWord(words[4], "off"));
        if (!shape) {
            return kUnrecognizedKeyword;
        }
        device->soundOn = sameWord(words[4], "on");
        applySound(*device);
        return kNoError;
    }

    if (words.count != 2) {
        return kUnrecognizedKeyword;
    }
    if (sameWord(verb, "close")) {
        closeDevice();
        return kNoError;
    }

    Device& d = *device;
    noteEnd(d);
    if (sameWord(verb, "play")) {
        if (d.state == State::Paused) {
            lib.Mix_ResumeMusic();
            d.state = State::Playing;
        } else if (d.state == State::Stopped) {
            // Music that cannot even be started has nothing left to play: it is at its end,
            // which leaves the device stopped as after any other end.
            d.state = lib.Mix_PlayMusic(d.music, 1) == 0 ? State::Playing : State::Stopped;
        }
        return kNoError;
    }
    if (sameWord(verb, "pause")) {
        if (d.state == State::Stopped) {
            return kNonapplicableFunction;
        }
        lib.Mix_PauseMusic();
        d.state = State::Paused;
        return kNoError;
    }
    if (sameWord(verb, "resume")) {
        if (d.state == State::Stopped) {
            return kNonapplicableFunction;
        }
        if (d.state == State::Paused) {
            lib.Mix_ResumeMusic();
            d.state = State::Playing;
        }
        return kNoError;
    }
    // stop
    lib.Mix_HaltMusic();
    d.state = State::Stopped;
    return kNoError;
}

MCIERROR runCommand(std::string_view text) {
    const Words words = splitWords(text);
    if (words.count == 0) {
        return kUnrecognizedCommand;
    }
    const std::string_view verb = words[0];
    if (sameWord(verb, "open")) {
        return openCommand(words);
    }
    for (const std::string_view known : {"play", "pause", "resume", "stop", "close", "set"}) {
        if (sameWord(verb, known)) {
            return deviceCommand(words);
        }
    }
    return kUnrecognizedCommand;
}

}  // namespace

// SDL_mixer makes its decoder handles with libmpg123's default parameters, and by default
// libmpg123 describes on stderr every damaged frame, junk byte and odd tag it meets, while
// SDL_mixer offers no way to reach the handle. This definition takes the place of the library's
// (the dynamic linker looks in the program before the libraries it loads), hands over to the
// library's own and asks the new handle to be quiet. Decoding is unchanged: the messages only
// repeat what the return codes already tell.
extern "C" mpg123_handle* mpg123_new(const char* decoder, int* error) {
    using Create = mpg123_handle* (*)(const char*, int*);
    using SetParameter = int (*)(mpg123_handle*, enum mpg123_parms, long, double);
    static const auto create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "mpg123_new"));
    static const auto setParameter =
        reinterpret_cast<SetParameter>(dlsym(RTLD_NEXT, "mpg123_param"));
    if (create == nullptr) {
        if (error != nullptr) {
            *error = MPG123_ERR;
        }
        return nullptr;
    }
    mpg123_handle* handle = create(decoder, error);
    if (handle != nullptr && setParameter != nullptr) {
        // A tag is stepped over rather than read: a picture in it can be megabytes, and
        // nothing here shows what a tag says.
        setParameter(handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_SKIP_ID3V2, 0.0);
    }
    return handle;
}

MCIERROR mciSendStringA(const char* command, char* returnString, std::uint32_t returnLength,
                        std::uintptr_t /*callbackWindow*/) {
    const std::string_view text = command != nullptr ? std::string_view(command) : "";
    if (returnString != nullptr && returnLength != 0) {
        returnString[0] = '\0';
    }
    MCIERROR result = kNoError;
    try {
        result = runCommand(text);
    } catch (...) {
        // Only allocation can throw here, and always before anything has changed.
        result = kOutOfMemory;
    }
    if (commandObserver) {
        try {
            // A copy, so that an observer that replaces itself is not destroyed mid-call.
            const CommandObserver observer = commandObserver;
            observer(text, result);
        } catch (...) {
            // Observers only watch; the window must never see their faults.
        }
    }
    notifyChange();
    return result;
}

namespace platform::mci {

void setCommandObserver(CommandObserver observer) {
    commandObserver = std::move(observer);
}

void setOutputTap(OutputTap tap) {
    std::lock_guard lock(tapMutex);
    outputTap = std::move(tap);
}

bool anyDeviceOpen() {
    return device.has_value();
}

DeviceStatus deviceStatus() {
    DeviceStatus status;
    if (!device) {
        return status;
    }
    noteEnd(*device);
    status.playback = device->state == State::Playing  ? Playback::Playing
                      : device->state == State::Paused ? Playback::Paused
                                                       : Playback::Stopped;
    status.path = device->path;
    const double seconds = lib.Mix_MusicDuration(device->music);
    status.lengthUs = seconds > 0 ? static_cast<std::int64_t>(seconds * 1e6) : -1;
    const double played =
        device->state == State::Stopped ? 0 : lib.Mix_GetMusicPosition(device->music);
    status.positionUs = played > 0 ? static_cast<std::int64_t>(played * 1e6) : 0;
    status.openCount = openCount;
    return status;
}

void setChangeNotifier(ChangeNotifier notifier) {
    std::lock_guard lock(notifierMutex);
    changeNotifier = std::move(notifier);
}

}  // namespace platform::mci
