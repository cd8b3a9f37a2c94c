#include "playback/tivoran_playback.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/mci.h"
#include "platform/text.h"
#include "support/support.h"

namespace korvel::test {
namespace {

// A short form longer than the 255-character buffer still names the file, so it still plays.
TEST(Playback, AFileWhoseShortPathIsLongerThanTheBufferPlays) {
    TempDir dir;
    const std::string deep = dir / std::string(100, '\xE9');  // three characters each
    std::filesystem::create_directory(deep);
    writeTone(deep + "/a b.mp3", kMid);
    std::vector<std::string> sent;
    platform::mci::setCommandObserver([&](std::string_view command, MCIERROR result) {
        if (command.starts_with("open"))
            sent.push_back(std::to_string(result));
    });
    Probe probe;
    Tivoran::MciPlayFile(platform::fromAnsi(deep + "\\a b.mp3"));
    platform::mci::setCommandObserver({});
    EXPECT_EQ(sent, std::vector<std::string>{"0"});
    EXPECT_TRUE(probe.tone(kMid));
    Tivoran::MciStopAll();
}

}  // namespace
}  // namespace korvel::test
