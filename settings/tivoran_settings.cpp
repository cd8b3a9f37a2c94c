#include "settings/tivoran_settings.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/ini.h"
#include "platform/program.h"
#include "platform/text.h"

namespace Tivoran {
namespace {

// The buffer the value is first read into: 254 characters and the terminator.
constexpr std::uint32_t kFirstBufferSize = 255;

// Settings are written by replacing the file through its directory (a temporary file renamed
// over it), so the directory must be writable, and an existing file must be writable too
// because the write refuses a file the user made read-only. A link that points nowhere yet is
// kept: the first save makes its target.
bool canKeepSettingsIn(const std::string& directory, const std::string& file) {
    if (access(directory.c_str(), W_OK | X_OK) != 0) {
        return false;
    }
    return !platform::files::exists(file) || access(file.c_str(), W_OK) == 0 || errno == ENOENT;
}

// The layout the package and `cmake --install` make: the program in PREFIX/bin and its desktop
// entry in PREFIX/share/applications. Such a folder belongs to the system, where a package
// manager owns every file and removes only those it knows of, so it is never written. A build
// tree, or a copy the user put somewhere, has no desktop entry there.
bool isInstalled(const std::string& programDirectory) {
    return platform::files::nameOf(programDirectory) == "bin" &&
           access((programDirectory + "/../share/applications/korvel.desktop").c_str(), F_OK) == 0;
}

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    if (const passwd* entry = getpwuid(getuid());
        entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') {
        return entry->pw_dir;
    }
    return {};
}

// The user's configuration directory. A relative XDG_CONFIG_HOME is invalid and ignored, as the
// XDG rules say; Qt's QStandardPaths (6.4) would take it as it stands, relative to wherever the
// player was started, and without HOME would answer "/.config", so the rule is kept here.
std::string configHome() {
    const char* configured = std::getenv("XDG_CONFIG_HOME");
    if (configured != nullptr && configured[0] == '/') {
        return configured;
    }
    const std::string home = homeDirectory();
    return home.empty() ? std::string() : platform::files::join(home, ".config");
}

}  // namespace

QString IniRead(const QString& section, const QString& key, const QString& file) {
    const std::string sectionText = platform::toAnsi(section);
    const std::string keyText = platform::toAnsi(key);
    const std::string fileText = platform::toAnsi(file);
    // A value that fills the buffer may have been cut; read again with more room until it
    // fits, so that a long directory path comes back whole instead of naming another directory.
    std::uint32_t size = kFirstBufferSize;
    for (;;) {
        std::vector<char> buffer(size, '\0');
        const std::uint32_t n = GetPrivateProfileStringA(sectionText.c_str(), keyText.c_str(), "",
                                                         buffer.data(), size, fileText.c_str());
        if (n < size - 1 || size > std::numeric_limits<std::uint32_t>::max() / 2) {
            return platform::fromAnsi(std::string_view(buffer.data(), n));
        }
        size *= 2;
    }
}

QString IniWrite(const QString& section, const QString& key, const QString& value,
                 const QString& file) {
    // The folder is made with the first save, private to the user as configuration is, and
    // not before: a start that only reads makes nothing.
    const std::filesystem::path folder = platform::files::parentOf(platform::toAnsi(file));
    if (std::error_code error; std::filesystem::create_directories(folder, error)) {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
    }
    return platform::fromAnsi(
        WriteProfileKey(platform::toAnsi(section).c_str(), platform::toAnsi(key).c_str(),
                        platform::toAnsi(value).c_str(), platform::toAnsi(file).c_str()));
}

namespace {

std::string settingsPath() {
    const std::string programDirectory = platform::programDirectory();
    const std::string beside = platform::files::join(programDirectory, "korvel.ini");
    const bool installed = isInstalled(programDirectory);
    if (!installed && canKeepSettingsIn(programDirectory, beside)) {
        return beside;
    }
    const std::string home = configHome();
    if (home.empty()) {
        // Nowhere better: writes beside a program of the user's own are lost, and an installed
        // program keeps nothing.
        return installed ? std::string() : beside;
    }
    return platform::files::join(platform::files::join(home, "korvel"), "korvel.ini");
}

}  // namespace

QString SettingsFile() {
    return platform::fromAnsi(settingsPath());
}

}  // namespace Tivoran
