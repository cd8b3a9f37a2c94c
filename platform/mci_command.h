#pragma once

#include <string_view>

#include "platform/mci_errors.h"

// The words of one media command (mci.h), read without looking at any device: what the command
// asks for, or the error its shape alone earns. Errors that depend on what is open (263 for an
// alias that names no device, 289, 298, 302) and on the file (275, 296) are the caller's.
namespace platform::mci {

enum class Verb { Open, Play, Pause, Resume, Stop, Close, CloseAll, Set };

struct Command {
    // Not kNoError: the command is refused with this before any device is looked at, and the
    // other fields mean nothing.
    MCIERROR error = kNoError;
    Verb verb = Verb::Play;
    std::string_view alias;    // every verb but CloseAll
    std::string_view element;  // Open: the short path, not yet decoded
    bool soundOn = true;       // Set: "on" or "off"
    // Not kNoError: the command names a device but is malformed after its alias; it is refused
    // with this once the alias is found open (and with 263 when it is not).
    MCIERROR malformed = kNoError;
};

// Keywords match case-insensitively in ASCII; words are separated by runs of blanks and tabs.
// Never allocates.
Command parseCommand(std::string_view text);

// The same comparison of keywords and aliases, for the caller's own.
bool sameWord(std::string_view a, std::string_view b);

}  // namespace platform::mci
