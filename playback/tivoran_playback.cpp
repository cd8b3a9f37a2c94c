#include "playback/tivoran_playback.h"

#include <string>
#include <vector>

#include "platform/mci.h"
#include "platform/shortpath.h"
#include "platform/text.h"

namespace Tivoran {
namespace {

// The size the short path is first asked for with; a longer one is asked for again at the size
// the first call reports, so no path is too long to play.
constexpr std::uint32_t kShortPathBuffer = 255;

void send(const QString& command) {
    const std::string ansi = platform::toAnsi(command);
    mciSendStringA(ansi.c_str(), nullptr, 0, 0);
}

std::string shortPathOf(const QString& path) {
    const std::string longPath = platform::toAnsi(path);
    std::vector<char> buffer(kShortPathBuffer, '\0');
    std::uint32_t n = GetShortPathNameA(longPath.c_str(), buffer.data(), kShortPathBuffer);
    if (n >= buffer.size()) {
        buffer.assign(n, '\0');
        n = GetShortPathNameA(longPath.c_str(), buffer.data(), n);
        if (n >= buffer.size()) {
            return {};  // the path changed between the two calls
        }
    }
    return std::string(buffer.data(), n);
}

}  // namespace

void MciPlayFile(const QString& path, bool muted) {
    send(QStringLiteral("stop tivoran"));
    send(QStringLiteral("close tivoran"));
    const QString shortPath = platform::fromAnsi(shortPathOf(path));
    send(QStringLiteral("open ") + shortPath + QStringLiteral(" type mpegvideo alias tivoran"));
    if (muted) {
        send(QStringLiteral("set tivoran audio all off"));
    }
    send(QStringLiteral("play tivoran"));
}

void MciPause() {
    send(QStringLiteral("pause tivoran"));
}

void MciResume() {
    send(QStringLiteral("resume tivoran"));
}

void MciStopAll() {
    send(QStringLiteral("stop tivoran"));
    send(QStringLiteral("close all"));
}

void MciSetMute(Flag flag) {
    if (flag == kTrue) {
        send(QStringLiteral("set tivoran audio all off"));
    } else if (flag == kFalse) {
        send(QStringLiteral("set tivoran audio all on"));
    }
}

void MciSetPause(Flag flag) {
    if (flag == kTrue) {
        MciPause();
    } else if (flag == kFalse) {
        MciResume();
    }
}

}  // namespace Tivoran
