#include "support/command_log.h"

#include "platform/mci.h"

namespace korvel::test {

CommandLog::CommandLog() {
    platform::mci::setCommandObserver([this](std::string_view command, MCIERROR result) {
        commands_.emplace_back(command);
        results_.push_back(result);
    });
}

CommandLog::~CommandLog() {
    platform::mci::setCommandObserver({});
}

void CommandLog::clear() {
    commands_.clear();
    results_.clear();
}

}  // namespace korvel::test
