#include "platform/program.h"

#include "platform/files/files.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
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
    return files::parentOf(std::string_view(buffer, static_cast<std::size_t>(n)));
}

std::optional<std::string> currentDirectory() {
    // glibc sizes the buffer itself when given none, so no path is too long for it.
    const std::unique_ptr<char, void (*)(void*)> path(::getcwd(nullptr, 0), &std::free);
    if (!path || path.get()[0] != '/') {
        return std::nullopt;
    }
    return std::string(path.get());
}

void setProgramDirectoryForTesting(std::optional<std::string> directory) {
    testingDirectory() = std::move(directory);
}

}  // namespace platform
