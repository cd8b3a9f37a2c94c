#pragma once

#include <optional>
#include <string>

namespace platform {

// The directory that holds the running executable, without a trailing "/" unless it is "/".
std::string programDirectory();

// Tests stand in a directory of their own, so that settings written by one test never reach
// another; nullopt restores the real one.
void setProgramDirectoryForTesting(std::optional<std::string> directory);

}  // namespace platform
