#pragma once

#include <optional>
#include <string>

namespace platform {

// The directory that holds the running executable, without a trailing "/" unless it is "/".
std::string programDirectory();

// The process's current directory, absolute; nullopt when it cannot be named (it was removed, or
// lies outside the process's root). There is no guess: a relative name resolved against any other
// directory could find a different file. So a relative name then names nothing, and only where
// some directory must be shown (the lists at start) does the caller fall back, to "/".
std::optional<std::string> currentDirectory();

// Tests stand in a directory of their own, so that settings written by one test never reach
// another; nullopt restores the real one.
void setProgramDirectoryForTesting(std::optional<std::string> directory);

}  // namespace platform
