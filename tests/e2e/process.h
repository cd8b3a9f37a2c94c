#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvel::e2e {

using Environment = std::map<std::string, std::string>;

// How to start a child process. The child gets exactly `environment`, nothing inherited, so
// nothing of the shell that runs the tests leaks into what the program sees.
struct Launch {
    std::vector<std::string> argv;  // argv[0] is looked up in PATH when it holds no slash
    Environment environment;
    std::string directory;      // working directory; empty keeps the test's own
    std::string logFile;        // stdout and stderr go here; empty sends them to /dev/null
    int stdoutFd = -1;          // stdout goes here instead of the log when set
    int readyFd = -1;           // a descriptor handed to the child as its descriptor 3
    bool unprivileged = false;  // when the tests run as root, run the child as "nobody"
};

// A child process that lives no longer than this object: it is stopped (SIGTERM, then SIGKILL)
// and reaped when the object goes, and killed by the kernel when the test process dies first.
class Process {
  public:
    explicit Process(const Launch& launch);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& name() const { return name_; }

    // True while the child has not ended.
    bool running();

    // Waits (bounded) for the child to end by itself; its wait status, or nothing when it is
    // still running when the time is up.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

    // Asks the child to end (SIGTERM), kills it when it does not in time, and reaps it.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

  private:
    pid_t pid_ = -1;
    std::string name_;
    std::optional<int> status_;
};

// What a short-lived tool printed and how it ended.
struct ToolResult {
    int status = -1;  // wait status; -1 when the tool did not end in time and was killed
    std::string out;  // standard output
    bool ok() const;
    std::string describe() const;
};

// Runs a tool to its end, bounded by `timeout`, and collects its standard output.
ToolResult runTool(const std::vector<std::string>& argv, const Environment& environment,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// "exited with 0", "killed by signal 9", ...
std::string describeStatus(int status);

// The uid and gid of the unprivileged account a root test run drops to.
uid_t unprivilegedUid();
gid_t unprivilegedGid();

// Whether the tests run with root's powers, which ignore file permissions.
bool runningAsRoot();

// A file's whole content; empty when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace korvel::e2e
