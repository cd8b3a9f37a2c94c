#include <gtest/gtest.h>

#include <cstdlib>

#ifdef KORVEL_TEST_GUI
#include <QApplication>
#endif

int main(int argc, char** argv) {
    // Tests never make a sound or open a window on a real desktop, whoever runs them.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testing::InitGoogleTest(&argc, argv);
#ifdef KORVEL_TEST_GUI
    QApplication app(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
