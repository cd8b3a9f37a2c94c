#include "support/support.h"

#include <pulse/simple.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <thread>
#include <utility>

#include "data/tones/tones.h"
#include "platform/mci.h"
#include "platform/program.h"

namespace korvel::test {
namespace {

constexpr int kRate = 44100;
constexpr std::size_t kWindow = kRate / 10;
constexpr double kSilence = 1e-3;  // RMS; paused, stopped and muted output is exactly zero

double rms(const std::vector<float>& s) {
    double sum = 0;
    for (float x : s) sum += double(x) * x;
    return s.empty() ? 0 : std::sqrt(sum / double(s.size()));
}

// The server, and a recording of its sink's monitor from its first start to the end of the
// program. A null sink with no one listening renders in blocks of seconds; with the recording
// there all along, it renders in short pieces, and every sound is heard as it plays.
struct SoundServer {
    TempDir dir;
    pid_t pid = -1;
    std::mutex mutex;
    std::vector<float> mono;  // newest last, bounded
    std::uint64_t total = 0;  // frames seen
    std::atomic<bool> done{false};
    std::thread recorder;
};
SoundServer* server = nullptr;

// Records the monitor in pieces of 10 ms; connects again when the server went away.
void record() {
    const std::string address = "unix:" + server->dir / "socket";
    const pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
    const pa_buffer_attr attr{std::uint32_t(-1), 0, 0, 0, std::uint32_t(kRate / 100 * 2)};
    std::vector<std::int16_t> piece(kRate / 100);
    pa_simple* in = nullptr;
    while (!server->done) {
        if (!in && !(in = pa_simple_new(address.c_str(), "korvel-tests", PA_STREAM_RECORD, "out.monitor", "probe",
                                        &format, nullptr, &attr, nullptr))) {
            sleepFor(20);
            continue;
        }
        if (pa_simple_read(in, piece.data(), piece.size() * 2, nullptr) < 0) {
            pa_simple_free(std::exchange(in, nullptr));
            continue;
        }
        std::lock_guard lock(server->mutex);
        for (std::int16_t x : piece) server->mono.push_back(float(x) / 32768);
        server->total += piece.size();
        if (server->mono.size() > 12 * kRate) server->mono.erase(server->mono.begin(), server->mono.end() - 10 * kRate);
    }
    if (in) pa_simple_free(in);
}

// From the rising zero crossings of all of `s`; 0 for silence or fewer than three.
double pitchIn(const std::vector<float>& s) {
    if (rms(s) < kSilence) return 0;
    std::size_t first = 0, last = 0, rises = 0;
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) { (rises++ == 0 ? first : last) = i; }
    }
    return rises < 3 ? 0 : double(rises - 1) * kRate / double(last - first);
}

// The pitch of the newest 100 ms.
double pitchOf(const std::vector<float>& s) { return s.size() < kWindow ? 0 : pitchIn({s.end() - kWindow, s.end()}); }

constexpr double kStepPitches[] = {600, 700, 820, 960, 1120, 1310, 1530, 1790};

std::string lettersOf(const std::vector<float>& mono) {
    constexpr std::size_t kLetter = kRate / 100;  // 10 ms
    std::string letters;
    for (std::size_t at = 0; at + kLetter <= mono.size(); at += kLetter) {
        const std::vector<float> window(mono.begin() + std::ptrdiff_t(at), mono.begin() + std::ptrdiff_t(at + kLetter));
        const double hz = pitchIn(window);
        char letter = rms(window) < kSilence ? '.' : '?';
        for (int p = 0; p < 8 && hz > 0; ++p) {
            if (std::abs(hz - kStepPitches[p]) < kStepPitches[p] * 0.03) letter = char('a' + p);
        }
        letters += letter;
    }
    return letters;
}

// Starts a PulseAudio server listening on `socketPath`, keeping its state in `runtime` (a folder of the
// private server's) and loading `module` beside the protocol, and waits until it listens.
pid_t spawnServer(const std::string& socketPath, const std::string& runtime, const char* module) {
    const std::string run = server->dir / runtime, home = server->dir / "home";
    const std::string protocol = "module-native-protocol-unix auth-anonymous=1 socket=" + socketPath;
    std::filesystem::create_directories(run);
    std::filesystem::remove(socketPath);  // a killed server leaves it behind
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the tests, however they end
        setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        setenv("HOME", home.c_str(), 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");  // where a second server would find the first's name taken
        freopen("/dev/null", "w", stderr);
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
               "--system=no", "--realtime=no", "--high-priority=no", "--disable-shm=yes", "-L", module, "-L",
               protocol.c_str(), nullptr);
        _exit(127);
    }
    // The server listens as soon as its socket is there.
    for (int i = 0; i < 500 && !std::filesystem::exists(socketPath); ++i) sleepFor(10);
    if (!std::filesystem::exists(socketPath)) throw std::runtime_error("a private sound server did not start");
    return pid;
}

}  // namespace

void startSoundServer() {
    if (!server) {
        server = new SoundServer;
        std::filesystem::create_directories(server->dir / "home");
        std::ofstream(server->dir / "alsa.conf") << "# no devices\n";
        setenv("PULSE_SERVER", ("unix:" + server->dir / "socket").c_str(), 1);
        setenv("ALSA_CONFIG_PATH", (server->dir / "alsa.conf").c_str(), 1);
        std::atexit([] {
            server->done = true;
            if (server->recorder.joinable()) server->recorder.join();
            signalSoundServer(SIGTERM);
            delete std::exchange(server, nullptr);
        });
    }
    if (server->pid > 0) return;
    server->pid = spawnServer(server->dir / "socket", "run", "module-null-sink sink_name=out rate=44100");
    if (!server->recorder.joinable()) server->recorder = std::thread(record);
}

void signalSoundServer(int signal) {
    if (server && server->pid > 0) {
        kill(server->pid, signal);
        if (signal == SIGKILL || signal == SIGTERM) {
            waitpid(server->pid, nullptr, 0);
            server->pid = -1;
        }
    }
}

ScopedEnv::ScopedEnv(std::initializer_list<std::pair<const char*, std::string>> values) {
    for (const auto& [name, value] : values) {
        const char* before = getenv(name);
        saved_.push_back({name, before ? std::optional<std::string>(before) : std::nullopt});
        setenv(name, value.c_str(), 1);
    }
}

ScopedEnv::~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
        it->second ? setenv(it->first.c_str(), it->second->c_str(), 1) : unsetenv(it->first.c_str());
}

ProgramDirectory::ProgramDirectory() { platform::setProgramDirectoryForTesting(path()); }

ProgramDirectory::~ProgramDirectory() { platform::setProgramDirectoryForTesting(std::nullopt); }

std::uint32_t send(const std::string& command) { return mciSendStringA(command.c_str(), nullptr, 0, 0); }

long entriesIn(const std::string& directory) {
    return std::distance(std::filesystem::directory_iterator(directory), {});
}

std::string contentsOf(const std::string& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

void writeSteps(const std::string& path, const std::string& steps, int rate) {
    const std::size_t step = std::size_t(rate / 10);
    tones::writeMp3(path, steps.size() * step, rate,
                    [&](std::size_t i) { return kStepPitches[steps[i / step] - 'a']; });
}

std::string stepsIn(const std::string& letters) {
    std::vector<std::pair<char, int>> runs;
    for (const char c : letters) {
        if (!runs.empty() && runs.back().first == c)
            ++runs.back().second;
        else
            runs.push_back({c, 1});
    }
    // A run of two windows or fewer beside silence is the edge of the step the silence cut (a
    // pause), whatever it sounded like: it counts for that step.
    const auto isStep = [&](std::size_t i) { return runs[i].first >= 'a' && runs[i].first <= 'h'; };
    for (std::size_t i = 0; i < runs.size(); ++i) {
        for (const int side : {-1, 1}) {
            const std::size_t edge = i + side, step = i + 2 * side;
            if (runs[i].first == '.' && step < runs.size() && runs[edge].second <= 2 && isStep(step)) {
                runs[step].second += runs[edge].second;
                runs[edge].first = '.';
            }
        }
    }
    // Then only steps count, joined where a pause or an odd letter parted them; runs of two
    // letters or fewer are the edges where two steps meet.
    std::vector<std::pair<char, int>> steps;
    for (int pass = 0; pass < 2; ++pass, runs = std::exchange(steps, {})) {
        for (const auto& [c, n] : runs) {
            if (c < 'a' || c > 'h' || (pass == 1 && n <= 2)) continue;
            if (!steps.empty() && steps.back().first == c)
                steps.back().second += n;
            else
                steps.push_back({c, n});
        }
    }
    std::string heard;
    for (const auto& [c, n] : runs) heard += n >= 8 && n <= 12 ? c : char(std::toupper(c));
    return heard;
}

ThroughAlsa::ThroughAlsa(const std::string& pulse) {
    const std::string config = server->dir / "alsa-pulse.conf";
    if (!(std::ofstream(config) << "pcm.!default { type pulse server \"unix:" << server->dir / "socket"
                                << "\" }\n"))
        throw std::runtime_error("cannot write " + config);
    signalSoundServer(SIGKILL);
    startSoundServer();
    env_.emplace(std::initializer_list<std::pair<const char*, std::string>>{{"PULSE_SERVER", pulse},
                                                                            {"ALSA_CONFIG_PATH", config}});
}

SilentServer::SilentServer() : path(server->dir / "silent"), fd(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    std::filesystem::remove(path);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 64) != 0)
        throw std::runtime_error("cannot listen on " + path);
}

SilentServer::~SilentServer() { close(fd); }

SinklessServer::SinklessServer()
    : path(server->dir / "sinkless"), pid(spawnServer(path, "run-sinkless", "module-null-source")) {}

SinklessServer::~SinklessServer() {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

double cpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// The sink renders in short pieces once the recording has had its first.
std::uint64_t Probe::mark() {
    if (!within3s([] { return frames() > 0; })) throw std::runtime_error("the private sound server is not heard");
    return frames();
}

std::vector<float> Probe::since(std::uint64_t mark) {
    std::lock_guard lock(server->mutex);
    const std::size_t n = std::min<std::uint64_t>(server->total - mark, server->mono.size());
    return {server->mono.end() - std::ptrdiff_t(n), server->mono.end()};
}

std::uint64_t Probe::frames() {
    std::lock_guard lock(server->mutex);
    return server->total;
}

bool Probe::tone(double hz) {
    const std::uint64_t mark = Probe::mark();
    return within3s([&] { return std::abs(pitchOf(since(mark)) - hz) < hz * 0.03; });
}

bool Probe::quiet() {
    const std::uint64_t mark = Probe::mark();
    return within3s([&] {
        const std::vector<float> heard = since(mark);
        return heard.size() >= kWindow && rms({heard.end() - kWindow, heard.end()}) < kSilence;
    });
}

std::string Probe::letters(int ms) {
    const std::uint64_t mark = Probe::mark(), wanted = std::uint64_t(ms) * kRate / 1000;
    sleepFor(ms);
    within3s([&] { return frames() - mark >= wanted; });
    return lettersOf(since(mark));
}

bool Probe::silentFor(int ms) {
    const std::uint64_t mark = Probe::mark();
    sleepFor(ms);
    return rms(since(mark)) < kSilence;
}

}  // namespace korvel::test
