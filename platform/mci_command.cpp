#include "platform/mci_command.h"

#include <array>
#include <cstddef>
#include <optional>

#include "platform/text.h"

namespace platform::mci {
namespace {

// No accepted command has more than six words; two more are enough to tell that a command is
// too long, so parsing needs no allocation at all.
constexpr std::size_t kMaxWords = 8;

struct Words {
    std::array<std::string_view, kMaxWords> word{};
    std::size_t count = 0;

    std::string_view operator[](std::size_t i) const { return i < count ? word[i] : ""; }
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

Words splitWords(std::string_view text) {
    Words words;
    std::size_t i = 0;
    while (i < text.size() && words.count < kMaxWords) {
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && !isBlank(text[i])) {
            ++i;
        }
        if (i > start) {
            words.word[words.count++] = text.substr(start, i - start);
        }
    }
    return words;
}

Command refused(MCIERROR error) {
    Command command;
    command.error = error;
    return command;
}

// open ELEMENT type mpegvideo alias A, the two clauses in either order.
Command parseOpen(const Words& words) {
    if (words.count < 2 || sameWord(words[1], "type") || sameWord(words[1], "alias")) {
        return refused(kMissingDeviceName);
    }
    std::optional<std::string_view> type;
    std::optional<std::string_view> alias;
    for (std::size_t i = 2; i < words.count; i += 2) {
        const bool isType = sameWord(words[i], "type");
        const bool isAlias = sameWord(words[i], "alias");
        if ((!isType && !isAlias) || i + 1 >= words.count || (isType && type) ||
            (isAlias && alias)) {
            return refused(kUnrecognizedKeyword);
        }
        (isType ? type : alias) = words[i + 1];
    }
    if (!alias) {
        return refused(kMissingDeviceName);
    }
    if (!type || !sameWord(*type, "mpegvideo")) {
        return refused(kInvalidDeviceName);
    }
    Command command;
    command.verb = Verb::Open;
    command.element = words[1];
    command.alias = *alias;
    return command;
}

}  // namespace

// Keywords and aliases match without regard to case, in ASCII only, as the window's own
// commands are ASCII.
bool sameWord(std::string_view a, std::string_view b) {
    return equalsIgnoringAsciiCase(a, b);
}

Command parseCommand(std::string_view text) {
    const Words words = splitWords(text);
    if (words.count == 0) {
        return refused(kUnrecognizedCommand);
    }
    if (sameWord(words[0], "open")) {
        return parseOpen(words);
    }
    static constexpr std::pair<std::string_view, Verb> kVerbs[] = {
        {"play", Verb::Play}, {"pause", Verb::Pause}, {"resume", Verb::Resume},
        {"stop", Verb::Stop}, {"close", Verb::Close}, {"set", Verb::Set}};
    Command command;
    command.error = kUnrecognizedCommand;
    for (const auto& [word, verb] : kVerbs) {
        if (sameWord(words[0], word)) {
            command.error = kNoError;
            command.verb = verb;
        }
    }
    if (command.error != kNoError) {
        return command;
    }
    if (words.count < 2) {
        return refused(kMissingDeviceName);
    }
    command.alias = words[1];
    if (command.verb == Verb::Close && sameWord(words[1], "all")) {
        command.verb = Verb::CloseAll;
        command.alias = {};
    }
    if (command.verb == Verb::Set) {
        const bool shape = words.count == 5 && sameWord(words[2], "audio") &&
                           sameWord(words[3], "all") &&
                           (sameWord(words[4], "on") || sameWord(words[4], "off"));
        command.soundOn = sameWord(words[4], "on");
        command.malformed = shape ? kNoError : kUnrecognizedKeyword;
    } else if (words.count != 2) {
        command.malformed = kUnrecognizedKeyword;
    }
    return command;
}

}  // namespace platform::mci
