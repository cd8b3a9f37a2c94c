#pragma once

#include <QString>
#include <optional>
#include <string>

class frmKORVEL;

// Opening what the file manager hands over: `korvel FILE` or `korvel FOLDER`.
namespace openwith {

// What the command line asks the window to open: an absolute path, empty for nothing.
struct Request {
    std::string path;
    bool isFile = false;
};

// Reads the command line before anything else starts. Every argument is a path, never an
// option. A folder or a regular file that can be read is accepted; a path that names nothing
// else (a device, a FIFO, a socket, a file that cannot be read, or more than one argument) is
// told in one line on stderr, control characters shown escaped, and the status to end with (2)
// comes back in `exit`.
struct Parsed {
    Request request;
    std::optional<int> exit;
};
Parsed parseArguments(int argc, char** argv);

// Where a player already runs on the session bus, hands the file to it. True when it took it.
bool handOver(const Request& request);

// Opens a folder (where `folderAllowed`), or a file's folder in both lists, selecting the file
// and playing it as a double click would. False, with the window as it was, when the path names
// nothing the lists can show: not a folder, not a regular file that can be read, or a file the
// file list does not show.
bool openInWindow(frmKORVEL& window, const std::string& path, bool folderAllowed);

// The path of a file:// URI, its %XX decoded to the bytes they stand for; nullopt for any
// other URI.
std::optional<std::string> pathOfUri(const QString& uri);

}  // namespace openwith
