#pragma once

#include <string>
#include <vector>

namespace korvel::test {

// Records every command string sent to the media layer while it lives.
class CommandLog {
  public:
    CommandLog();
    ~CommandLog();
    CommandLog(const CommandLog&) = delete;
    CommandLog& operator=(const CommandLog&) = delete;

    const std::vector<std::string>& commands() const { return commands_; }
    const std::vector<unsigned>& results() const { return results_; }
    void clear();

  private:
    std::vector<std::string> commands_;
    std::vector<unsigned> results_;
};

}  // namespace korvel::test
