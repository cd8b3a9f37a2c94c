#include "app/open_with.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/frmKORVEL.h"
#include "app/mpris.h"
#include "platform/controls/events.h"
#include "platform/text.h"

namespace openwith {
namespace {

// How long a running player may take to open the file before this start opens it itself.
constexpr int kHandOverTimeoutMs = 10000;

struct Split {
    std::string folder;
    std::string name;
};

Split split(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return {".", path};
    }
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::optional<std::string> absolute(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) {
        return std::nullopt;
    }
    return std::string(resolved);
}

// One line, whatever the name holds: a line break or an escape sequence in it is shown, not
// obeyed.
Parsed refuse(const char* what, const char* why) {
    std::fprintf(stderr, "korvel: %s: %s\n", platform::printable(what).c_str(), why);
    return {{}, 2};
}

// Only a folder, or a regular file that can be read, is something the lists can show: a device,
// a FIFO or a socket is not a file to play, and opening one could wait for ever.
const char* whyNotOpenable(const std::string& path, bool folderAllowed) {
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0) {
        return std::strerror(path.empty() ? ENOENT : errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return folderAllowed ? nullptr : "is a folder";
    }
    if (!S_ISREG(info.st_mode)) {
        return "not a regular file";
    }
    return access(path.c_str(), R_OK) == 0 ? nullptr : std::strerror(errno);
}

}  // namespace

Parsed parseArguments(int argc, char** argv) {
    if (argc <= 1) {
        return {};
    }
    if (argc > 2) {
        std::fputs("usage: korvel [FILE | FOLDER]\n", stderr);
        return {{}, 2};
    }
    const std::string argument = argv[1];
    if (const char* why = whyNotOpenable(argument, true)) {
        return refuse(argv[1], why);
    }
    struct stat info {};
    if (stat(argument.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        const std::optional<std::string> folder = absolute(argument);
        return folder ? Parsed{{*folder, false}, std::nullopt}
                      : refuse(argv[1], std::strerror(errno));
    }
    // The folder is resolved but the file's own name is kept: a link to an MP3 is listed (and
    // played) under its own name, in its own folder.
    const Split parts = split(argument);
    const std::optional<std::string> folder = absolute(parts.folder);
    if (!folder) {
        return refuse(argv[1], std::strerror(errno));
    }
    return {{(*folder == "/" ? "" : *folder) + "/" + parts.name, true}, std::nullopt};
}

bool handOver(const Request& request) {
    if (!request.isFile) {
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr ||
        !bus.interface()->isServiceRegistered(Mpris::kService)) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        Mpris::kService, Mpris::kPath, Mpris::kPlayerInterface, QStringLiteral("OpenUri"));
    call << Mpris::uriOf(request.path);
    return bus.call(call, QDBus::Block, kHandOverTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

namespace {

// Shows `folder` in both lists; false, with the lists as they were, when they cannot show it.
bool showFolder(frmKORVEL& window, const QString& folder) {
    try {
        window.Dir1->setPath(folder);
        // The folder may be the one shown already, with files added since.
        window.File1->setPath(folder);
        return true;
    } catch (const platform::ControlError&) {
        return false;
    }
}

int rowNamed(const frmKORVEL& window, const std::string& name) {
    for (int i = 0; i < window.File1->ListCount(); ++i) {
        if (platform::toAnsi(window.File1->item(i)->text()) == name) {
            return i;
        }
    }
    return -1;
}

}  // namespace

bool openInWindow(frmKORVEL& window, const std::string& path, bool folderAllowed) {
    if (path.empty() || path[0] != '/' || whyNotOpenable(path, folderAllowed) != nullptr) {
        return false;
    }
    struct stat info {};
    const bool isFolder = stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    const Split parts = split(path);
    const QString before = window.Dir1->Path();
    const std::string selected = platform::toAnsi(window.File1->FileName());
    if (!showFolder(window, platform::fromAnsi(isFolder ? path : parts.folder))) {
        return false;
    }
    if (isFolder) {
        return true;
    }
    if (const int row = rowNamed(window, parts.name); row >= 0) {
        window.File1->setListIndex(row);
        platform::raiseEvent([&window] { window.File1_DblClick(); });
        return true;
    }
    // A file the list does not show (not an MP3 by its name) is not opened: the window goes back
    // to where it was, with the file that was selected, and the caller hears of the failure.
    if (showFolder(window, before) && !selected.empty()) {
        if (const int row = rowNamed(window, selected); row >= 0) {
            window.File1->setListIndex(row);
        }
    }
    return false;
}

std::optional<std::string> pathOfUri(const QString& uri) {
    const QString scheme = QStringLiteral("file://");
    if (!uri.startsWith(scheme, Qt::CaseInsensitive)) {
        return std::nullopt;
    }
    QByteArray rest = uri.mid(scheme.size()).toUtf8();
    const qsizetype slash = rest.indexOf('/');
    const QByteArray host = rest.left(slash);
    if (slash < 0 || (!host.isEmpty() && host != "localhost")) {
        return std::nullopt;
    }
    const QByteArray path = QByteArray::fromPercentEncoding(rest.mid(slash));
    if (path.contains('\0')) {
        return std::nullopt;
    }
    return path.toStdString();
}

}  // namespace openwith
