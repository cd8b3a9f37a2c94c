#include "platform/program.h"

#include <unistd.h>

#include <climits>
#include <utility>

namespace platform {
namespace {

std::optional<std::string>& testingDirectory() {
    static std::optional<std::string> directory;
    return directory;
}

}  // namespace

std::string programDirectory() {
    if (testingDirectory()) {
        return *testingDirectory();
    }
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) {
        return ".";
    }
    std::string exe(buffer, static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

void setProgramDirectoryForTesting(std::optional<std::string> directory) {
    testingDirectory() = std::move(directory);
}

}  // namespace platform
