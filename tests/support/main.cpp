#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <vector>

#include "support/support.h"

int main(int argc, char** argv) {
    // Tests never reach the user's session bus, make a sound or open a window on a real desktop,
    // whoever runs them: the program runs again on a session bus of its own.
    if (!getenv("KORVEL_TEST_BUS")) {
        setenv("KORVEL_TEST_BUS", "1", 1);
        std::vector<char*> command = {const_cast<char*>("dbus-run-session"), const_cast<char*>("--")};
        command.insert(command.end(), argv, argv + argc + 1);
        execvp(command[0], command.data());
        return 127;
    }
    korvel::test::startSoundServer();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
