#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "support/support.h"

int main(int argc, char** argv) {
    // Tests never make a sound or open a window on a real desktop, whoever runs them.
    korvel::test::startSoundServer();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
