// The playback procedures: the command strings each sends, in order, word for word.
#include "playback/tivoran_playback.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/mci.h"
#include "platform/shortpath.h"
#include "platform/text.h"
#include "support/support.h"

namespace korvel::test {
namespace {

TEST(Playback, EachProcedureSendsItsCommands) {
    TempDir dir;
    // The long name's short form is longer than the 255 characters first asked for.
    const std::string name = "a b.mp3", longName = std::string(200, 'x') + "/" + std::string(100, 'y');
    ASSERT_TRUE(std::filesystem::create_directory(dir / std::string(200, 'x')));
    ASSERT_NO_THROW(writeTone(dir / name, kLow, 0.1));
    ASSERT_NO_THROW(writeTone(dir / longName, kLow, 0.1));
    std::vector<std::string> sent;
    platform::mci::setCommandObserver([&](std::string_view c, MCIERROR) { sent.emplace_back(c); });
    const auto open = [&](const std::string& file) {
        return "open " + platform::encodeShortPath(file) + " type mpegvideo alias tivoran";
    };
    const auto play = [&](const std::string& path, bool muted) {
        return [=] { Tivoran::MciPlayFile(platform::fromAnsi(path), muted); };
    };
    const std::string stop = "stop tivoran", close = "close tivoran", start = "play tivoran",
                      off = "set tivoran audio all off", on = "set tivoran audio all on";
    // clang-format off
    const std::vector<std::pair<std::function<void()>, std::vector<std::string>>> rows = {
        {play(dir.path() + "\\" + name, false),    {stop, close, open(dir / name), start}},
        {play(dir / name, true),                   {stop, close, open(dir / name), off, start}},
        {play(dir / longName, false),              {stop, close, open(dir / longName), start}},
        {play(dir / "missing.mp3", false),         {stop, close, "open  type mpegvideo alias tivoran", start}},
        {[] { Tivoran::MciPause(); },              {"pause tivoran"}},
        {[] { Tivoran::MciResume(); },             {"resume tivoran"}},
        {[] { Tivoran::MciStopAll(); },            {stop, "close all"}},
        {[] { Tivoran::MciSetMute(-1); },          {off}},
        {[] { Tivoran::MciSetMute(0); },           {on}},
        {[] { Tivoran::MciSetMute(1); },           {}},
        {[] { Tivoran::MciSetPause(-1); },         {"pause tivoran"}},
        {[] { Tivoran::MciSetPause(0); },          {"resume tivoran"}},
        {[] { Tivoran::MciSetPause(-2); },         {}},
    };
    // clang-format on
    for (const auto& [procedure, expected] : rows) {
        sent.clear();
        procedure();
        EXPECT_EQ(sent, expected);
    }
    platform::mci::setCommandObserver({});
    send("close all");
}

}  // namespace
}  // namespace korvel::test
