#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

namespace korvel::test {
namespace {

using namespace std::chrono_literals;

// A copy of the built program in a directory of its own, so its settings land there.
class ProcessTest : public testing::Test {
  protected:
    void SetUp() override {
        program = dir / "korvel";
        std::filesystem::copy_file(KORVEL_BINARY, program);
        std::filesystem::create_directory(dir / "music");
    }

    // Starts the program in `cwd` with exactly `env`, its stderr going to a file.
    pid_t start(const std::vector<std::string>& env, const std::string& cwd) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(cwd.c_str()) != 0)
                _exit(126);
            FILE* err = std::freopen((dir / "stderr").c_str(), "w", stderr);
            if (err == nullptr)
                _exit(126);
            std::vector<char*> envp;
            for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
            envp.push_back(nullptr);
            char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
            execve(program.c_str(), argv, envp.data());
            _exit(127);
        }
        return pid;
    }

    // Waits, bounded, for the process to end; its wait status, or -1 if it did not end.
    static int waitEnd(pid_t pid, std::chrono::milliseconds timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid)
                return status;
            std::this_thread::sleep_for(20ms);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }

    // True once the process catches `sig`: its handler is in place.
    static bool waitCatches(pid_t pid, int sig, std::chrono::milliseconds timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            std::ifstream status("/proc/" + std::to_string(pid) + "/status");
            std::string line;
            while (std::getline(status, line)) {
                if (line.rfind("SigCgt:", 0) == 0) {
                    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
                    if (mask & (1ull << (sig - 1)))
                        return true;
                }
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    std::string read(const std::string& path) const {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TempDir dir;
    std::string program;
};

TEST_F(ProcessTest, WithoutADisplayItSaysSoInOneLineAndExitsWithOne) {
    const pid_t pid = start({"PATH=/usr/bin:/bin", "HOME=" + dir.path()}, dir.path());
    const int status = waitEnd(pid, 10s);
    ASSERT_NE(status, -1) << "the program did not end";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = read(dir / "stderr");
    EXPECT_NE(err.find("display"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

TEST_F(ProcessTest, EachCloseSignalSavesTheDirectoryAndEndsCleanly) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        std::filesystem::remove(dir / "korvel.ini");
        const pid_t pid = start({"PATH=/usr/bin:/bin", "HOME=" + dir.path(),
                                 "QT_QPA_PLATFORM=offscreen", "SDL_AUDIODRIVER=dummy"},
                                dir / "music");
        ASSERT_TRUE(waitCatches(pid, sig, 10s)) << "the program never caught the signal";
        kill(pid, sig);
        const int status = waitEnd(pid, 10s);
        ASSERT_NE(status, -1) << "the program did not end";
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_NE(read(dir / "korvel.ini").find("path=" + (dir / "music")), std::string::npos);
        EXPECT_EQ(read(dir / "stderr"), "") << "the program printed something";
    }
}

}  // namespace
}  // namespace korvel::test
