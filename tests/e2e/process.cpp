#include "e2e/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace korvel::e2e {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kPoll(10);

// The program file argv[0] names: as given when it holds a slash, else the first match in PATH.
std::string resolve(const std::string& program, const Environment& environment) {
    if (program.find('/') != std::string::npos) {
        return program;
    }
    const auto found = environment.find("PATH");
    const std::string path = found != environment.end() ? found->second : "/usr/bin:/bin";
    std::istringstream dirs(path);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    throw std::runtime_error("cannot find the program '" + program + "' in PATH " + path +
                             " (scripts/install-deps installs every tool the tests use)");
}

// argv and envp as execve takes them; built before fork, because the child of a threaded
// process may only make async-signal-safe calls.
struct ExecArgs {
    std::vector<std::string> strings;
    std::vector<char*> argv;
    std::vector<char*> envp;

    ExecArgs(const std::vector<std::string>& args, const Environment& environment) {
        strings = args;
        for (const auto& [key, value] : environment) {
            strings.push_back(key + "=" + value);
        }
        for (std::size_t i = 0; i < strings.size(); ++i) {
            (i < args.size() ? argv : envp).push_back(strings[i].data());
        }
        argv.push_back(nullptr);
        envp.push_back(nullptr);
    }
};

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        }
        read = fds[0];
        write = fds[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (read >= 0) {
            close(read);
            read = -1;
        }
    }
    void closeWrite() {
        if (write >= 0) {
            close(write);
            write = -1;
        }
    }
};

// Only async-signal-safe calls from here to execve. A failure is reported through `error` as
// the step that failed and its errno.
struct Identity {
    bool drop = false;  // run as the unprivileged user
    uid_t uid = 0;
    gid_t gid = 0;
};

[[noreturn]] void becomeChild(const Launch& launch, const std::string& program,
                              const ExecArgs& args, int out, int err, int ready, int error,
                              pid_t parent, Identity identity) {
    auto fail = [error](int step) {
        const int codes[2] = {step, errno};
        [[maybe_unused]] const ssize_t n = ::write(error, codes, sizeof codes);
        _exit(127);
    };
    setpgid(0, 0);
    if (identity.drop) {
        if (setgroups(0, nullptr) != 0 || setgid(identity.gid) != 0 || setuid(identity.uid) != 0) {
            fail(1);
        }
    }
    // Set after any change of user, which would clear it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(127);
    }
    if (!launch.directory.empty() && chdir(launch.directory.c_str()) != 0) {
        fail(2);
    }
    const int null = open("/dev/null", O_RDWR);
    if (null < 0) {
        fail(3);
    }
    if (dup2(null, 0) < 0 || dup2(out >= 0 ? out : null, 1) < 0 ||
        dup2(err >= 0 ? err : null, 2) < 0) {
        fail(3);
    }
    if (ready >= 0 && dup2(ready, 3) < 0) {
        fail(4);
    }
    // Nothing else of the test process reaches the child; the error pipe closes on exec.
    syscall(SYS_close_range, ready >= 0 ? 4u : 3u, ~0u, CLOSE_RANGE_CLOEXEC);
    execve(program.c_str(), args.argv.data(), args.envp.data());
    fail(5);
    _exit(127);
}

std::string stepName(int step) {
    switch (step) {
        case 1:
            return "drop to the unprivileged user";
        case 2:
            return "change to the working directory";
        case 3:
            return "redirect the standard streams";
        case 4:
            return "hand over the readiness descriptor";
        default:
            return "execute";
    }
}

// Starts the child; `out` and `err` (or the launch's log file) become its output streams.
pid_t spawn(const Launch& launch, int out, int err) {
    if (launch.argv.empty()) {
        throw std::invalid_argument("a launch needs a program");
    }
    const std::string program = resolve(launch.argv[0], launch.environment);
    const ExecArgs args(launch.argv, launch.environment);
    int log = -1;
    if (!launch.logFile.empty()) {
        log = open(launch.logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log < 0) {
            throw std::runtime_error("cannot open the log " + launch.logFile);
        }
        out = out >= 0 ? out : log;
        err = err >= 0 ? err : log;
    }
    Identity identity;
    if (launch.unprivileged && runningAsRoot()) {
        identity = {true, unprivilegedUid(), unprivilegedGid()};
    }
    Pipe error;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        becomeChild(launch, program, args, out, err, launch.readyFd, error.write, parent, identity);
    }
    if (log >= 0) {
        close(log);
    }
    if (pid < 0) {
        throw std::runtime_error("cannot fork for " + program);
    }
    error.closeWrite();
    int codes[2] = {0, 0};
    ssize_t got;
    do {
        got = read(error.read, codes, sizeof codes);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof codes)) {
        int status = 0;
        waitpid(pid, &status, 0);
        throw std::runtime_error("cannot start " + program + ": could not " + stepName(codes[0]) +
                                 ": " + std::strerror(codes[1]));
    }
    return pid;
}

}  // namespace

Process::Process(const Launch& launch) : name_(launch.argv.empty() ? "" : launch.argv[0]) {
    pid_ = spawn(launch, launch.stdoutFd, -1);
}

Process::~Process() {
    stop();
}

bool Process::running() {
    if (status_) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
        return false;
    }
    return true;
}

std::optional<int> Process::waitForExit(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (running()) {
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return status_;
}

void Process::stop(milliseconds grace) {
    if (!running()) {
        return;
    }
    // The whole process group: a server's helpers go with it.
    kill(-pid_, SIGTERM);
    kill(pid_, SIGTERM);
    if (!waitForExit(grace)) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        status_ = status;
    }
}

bool ToolResult::ok() const {
    return status == 0;
}

std::string ToolResult::describe() const {
    return status < 0 ? std::string("did not end in time") : describeStatus(status);
}

ToolResult runTool(const std::vector<std::string>& argv, const Environment& environment,
                   milliseconds timeout) {
    Pipe out;
    Launch launch;
    launch.argv = argv;
    launch.environment = environment;
    const pid_t pid = spawn(launch, out.write, -1);
    out.closeWrite();

    ToolResult result;
    const auto deadline = Clock::now() + timeout;
    char buffer[4096];
    bool open = true;
    while (open) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd fd{out.read, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        const ssize_t n = read(out.read, buffer, sizeof buffer);
        if (n > 0) {
            result.out.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            open = false;
        }
    }
    // The tool closed its output; give it until the deadline to end as well.
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.status = -1;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    result.status = status;
    return result;
}

std::string describeStatus(int status) {
    if (WIFEXITED(status)) {
        return "exited with " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return std::string("killed by signal ") + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    }
    return "ended with wait status " + std::to_string(status);
}

namespace {

const passwd& nobody() {
    static const passwd entry = [] {
        const passwd* found = getpwnam("nobody");
        if (found == nullptr) {
            throw std::runtime_error("no 'nobody' account to run the program unprivileged");
        }
        return *found;
    }();
    return entry;
}

}  // namespace

uid_t unprivilegedUid() {
    return nobody().pw_uid;
}
gid_t unprivilegedGid() {
    return nobody().pw_gid;
}

bool runningAsRoot() {
    return geteuid() == 0;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace korvel::e2e
