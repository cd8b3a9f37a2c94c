#include "settings/tivoran_settings.h"

#include <gtest/gtest.h>

#include "platform/program.h"
#include "platform/text.h"
#include "support/support.h"

namespace korvel::test {
namespace {

// Settings live beside the program where they can be written there, else in the user's
// configuration directory; a value written through the chosen file reads back whole, however
// long, so a long directory path never comes back as another directory.
TEST(Settings, TheChosenFileKeepsALongPathWhole) {
    TempDir dir;
    setenv("HOME", (dir / "home").c_str(), 1);
    const std::vector<std::tuple<std::string, std::string, std::string>> rows = {
        {dir.path(), "", dir / "korvel.ini"},
        {dir / "absent", dir / "config", dir / "config/korvel/korvel.ini"},
        {dir / "absent", "relative/config", dir / "home/.config/korvel/korvel.ini"},
    };
    const QString value = QString::fromStdString("/" + std::string(400, 'v') + " \xC3\xA9");
    for (const auto& [program, config, expected] : rows) {
        SCOPED_TRACE(expected);
        platform::setProgramDirectoryForTesting(program);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        const QString file = Tivoran::SettingsFile();
        EXPECT_EQ(platform::toAnsi(file), expected);
        Tivoran::IniWrite("korvel", "path", value, file);
        EXPECT_EQ(Tivoran::IniRead("korvel", "path", file), value);
    }
}

}  // namespace
}  // namespace korvel::test
