#include "app/open_with.h"

#include <sys/stat.h>

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

Parsed refuse(const char* what, const char* why) {
    std::fprintf(stderr, "korvel: %s: %s\n", what, why);
    return {{}, 2};
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
    struct stat info {};
    if (argument.empty() || stat(argument.c_str(), &info) != 0) {
        return refuse(argv[1], std::strerror(argument.empty() ? ENOENT : errno));
    }
    if (S_ISDIR(info.st_mode)) {
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

bool openInWindow(frmKORVEL& window, const std::string& path) {
    struct stat info {};
    if (path.empty() || path[0] != '/' || stat(path.c_str(), &info) != 0) {
        return false;
    }
    const bool isFolder = S_ISDIR(info.st_mode);
    const Split parts = split(path);
    const QString folder = platform::fromAnsi(isFolder ? path : parts.folder);
    try {
        window.Dir1->setPath(folder);
        // The folder may be the one shown already, with files added since.
        window.File1->setPath(folder);
    } catch (const platform::ControlError&) {
        return false;
    }
    if (isFolder) {
        return true;
    }
    for (int i = 0; i < window.File1->ListCount(); ++i) {
        if (platform::toAnsi(window.File1->item(i)->text()) == parts.name) {
            window.File1->setListIndex(static_cast<std::int16_t>(i));
            platform::raiseEvent([&window] { window.File1_DblClick(); });
            break;
        }
    }
    return true;
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
