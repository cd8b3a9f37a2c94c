#pragma once

#include <optional>
#include <string>

// The ways in from outside the window: the command line (`korvel FILE`, `korvel FOLDER`, a
// file:// URI of either, and the options) and the bus's OpenUri, which share one rule for what
// opens.
namespace openwith {

// What a way in asks the window to open: an absolute path, empty for nothing.
struct Request {
    std::string path;
    bool isFile = false;
};

// The command line takes a path (relative to the current folder) or a file:// URI, of a folder or
// a file; the bus takes only a file:// URI, and only of a file, as a player's OpenUri does.
enum class Way { kCommandLine, kBus };

// What a name opens, or why it opens nothing.
struct Opening {
    Request request;  // when `why` is empty
    std::string why;  // for a person: "not an MP3 file the file list shows"
};

// The one rule for what opens, the same on the command line and over the bus: a folder, or a
// file the file list would show (a regular file that can be read, whose name matches the list's
// pattern and is not hidden). A URI is file:// with no host but localhost, and is percent-decoded;
// any other URI names nothing. A name is resolved as the system resolves it, links followed before
// "..", so that it never names another file than the one the system would open; the file's own
// name is kept, so that a link to an MP3 is listed, and played, under its own name in its folder.
Opening resolve(const std::string& name, Way way);

// Reads the command line before anything else starts. "-h" and "--help" print the usage on stdout
// and "--version" the name and version, and `exit` is then 0; "--" ends the options, and every
// other argument is a path or a URI, never an option, so a file named "-reverse" is a file and Qt
// sees none of them. One argument at most, and one that `resolve` accepts: anything else is told
// in one line on stderr, control characters shown escaped, and `exit` is 2.
struct Parsed {
    Request request;
    std::string argument;  // as the user gave it, for messages
    std::optional<int> exit;
};
Parsed parseArguments(int argc, char** argv);

// Where a player already runs on the session bus, hands the file to it. True when it took it.
bool handOver(const Request& request);

}  // namespace openwith
