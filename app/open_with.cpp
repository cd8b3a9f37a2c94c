#include "app/open_with.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/bus_names.h"
#include "app/captions.h"
#include "platform/files/files.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace openwith {
namespace {

// How long a running player may take to open the file before this start opens it itself.
constexpr int kHandOverTimeoutMs = 10000;

constexpr char kUsageLine[] = "usage: korvel [-h | --help | --version] [--] [FILE | FOLDER | URI]";
constexpr char kHelp[] = R"(
Plays the MP3 files of a folder from one small window.

  FILE        an MP3 file the file list shows: its folder opens and it plays;
              while a player runs, the file goes to that one and this command ends
  FOLDER      the folder to open
  URI         a file:// URI of either (no host but localhost)
  -h, --help  show this help and exit
  --version   show the name and version and exit
  --          end the options: the argument after it is a path, whatever it
              starts with

Exit status: 0 when the window was closed or the file handed over, 1 when the
player cannot start, 2 for an argument it cannot open.
)";

std::optional<std::string> absolute(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) {
        return std::nullopt;
    }
    return std::string(resolved);
}

Opening refusal(std::string why) {
    return {{}, std::move(why)};
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// SCHEME://..., as desktops and scripts hand names over. A file whose name looks like one is
// named as ./NAME.
bool isUri(std::string_view name) {
    const std::size_t end = name.find("://");
    if (end == std::string_view::npos || end == 0 || !isAsciiLetter(name[0])) {
        return false;
    }
    return std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(end), [](char c) {
        return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    });
}

// The path of a file:// URI, its %XX decoded to the bytes they stand for.
Opening pathOfUri(std::string_view uri) {
    constexpr std::string_view kScheme = "file://";
    if (!platform::equalsIgnoringAsciiCase(uri.substr(0, kScheme.size()), kScheme)) {
        return refusal("not a file:// URI");
    }
    const std::string_view rest = uri.substr(kScheme.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos ||
        (slash > 0 && !platform::equalsIgnoringAsciiCase(rest.substr(0, slash), "localhost"))) {
        return refusal("a URI of another host");
    }
    const QByteArray path = QByteArray::fromPercentEncoding(
        QByteArray(rest.data() + slash, static_cast<qsizetype>(rest.size() - slash)));
    if (path.contains('\0')) {
        return refusal("a URI holding a zero byte");
    }
    return {{path.toStdString(), false}, {}};
}

// What the file list shows of a folder's files: the same rule, applied to one name.
bool fileListShows(const std::string& name) {
    return !platform::fs::isHidden(name) &&
           platform::fs::Pattern(platform::toAnsi(captions::kFilePattern)).matches(name);
}

// Only a folder, or a regular file that can be read, is something the lists can show: a device,
// a FIFO or a socket is not a file to play, and opening one could wait for ever.
Opening resolvePath(const std::string& path, Way way) {
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0) {
        return refusal(std::strerror(path.empty() ? ENOENT : errno));
    }
    if (S_ISDIR(info.st_mode)) {
        if (way == Way::kBus) {
            return refusal("is a folder");
        }
        const std::optional<std::string> folder = absolute(path);
        return folder ? Opening{{*folder, false}, {}} : refusal(std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return refusal("not a regular file");
    }
    if (access(path.c_str(), R_OK) != 0) {
        return refusal(std::strerror(errno));
    }
    // The folder is resolved by the system, links before "..", and the file keeps its own name.
    const std::string name = platform::files::nameOf(path);
    if (!fileListShows(name)) {
        return refusal("not an MP3 file the file list shows");
    }
    const std::optional<std::string> folder = absolute(platform::files::parentOf(path));
    if (!folder) {
        return refusal(std::strerror(errno));
    }
    return {{platform::files::join(*folder, name), true}, {}};
}

// One line, whatever the name holds: a line break or an escape sequence in it is shown, not
// obeyed.
Parsed refuse(const std::string& argument, const std::string& why) {
    std::fprintf(stderr, "korvel: %s: %s\n", platform::printable(argument).c_str(), why.c_str());
    return {{}, argument, 2};
}

}  // namespace

Opening resolve(const std::string& name, Way way) {
    if (!isUri(name)) {
        return way == Way::kBus ? refusal("not a file:// URI") : resolvePath(name, way);
    }
    const Opening uri = pathOfUri(name);
    return uri.why.empty() ? resolvePath(uri.request.path, way) : uri;
}

Parsed parseArguments(int argc, char** argv) {
    std::vector<std::string> paths;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (options && argument == "--") {
            options = false;
        } else if (options && (argument == "-h" || argument == "--help")) {
            std::printf("%s\n%s", kUsageLine, kHelp);
            return {{}, {}, 0};
        } else if (options && argument == "--version") {
            std::printf("korvel %s\n", KORVEL_VERSION);
            return {{}, {}, 0};
        } else {
            paths.push_back(argument);
        }
    }
    if (paths.empty()) {
        return {};
    }
    if (paths.size() > 1) {
        std::fprintf(stderr, "korvel: %s\n", kUsageLine);
        return {{}, {}, 2};
    }
    const Opening opening = resolve(paths[0], Way::kCommandLine);
    if (!opening.why.empty()) {
        return refuse(paths[0], opening.why);
    }
    return {opening.request, paths[0], std::nullopt};
}

bool handOver(const Request& request) {
    if (!request.isFile) {
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr ||
        !bus.interface()->isServiceRegistered(bus::kService)) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        bus::kService, bus::kPath, bus::kPlayerInterface, QStringLiteral("OpenUri"));
    call << bus::uriOf(request.path);
    return bus.call(call, QDBus::Block, kHandOverTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

}  // namespace openwith
