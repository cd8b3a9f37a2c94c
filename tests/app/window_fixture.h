#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/frmKORVEL.h"
#include "platform/mci.h"
#include "platform/program.h"
#include "support/audio_probe.h"
#include "support/command_log.h"
#include "support/temp_dir.h"
#include "support/tone.h"

namespace korvel::test {

// Pitches far enough apart that the probe never mistakes one file for another.
inline constexpr double kLow = 440.0;
inline constexpr double kMid = 660.0;
inline constexpr double kHigh = 990.0;
inline constexpr auto kHear = std::chrono::milliseconds(3000);

// The real window, shown on the offscreen platform, with its settings in a directory of the
// test's own and a music directory of tone files the test names.
class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        platform::setProgramDirectoryForTesting(programDir.path());
        music = std::make_unique<TempDir>();
    }

    void TearDown() override {
        window.reset();
        mciSendStringA("close all", nullptr, 0, 0);
        platform::setProgramDirectoryForTesting(std::nullopt);
    }

    void addTone(const std::string& name, double hz, double seconds = 6.0) {
        writeToneMp3(*music / name, hz, seconds);
    }

    // Opens the window as a user starts it, and points it at the music directory.
    void openWindow(bool showMusic = true) {
        window = std::make_unique<frmKORVEL>();
        window->setProgramEnder([this] { ++programEnds; });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        if (showMusic) {
            window->Dir1->setPath(QString::fromStdString(music->path()));
            ASSERT_EQ(window->File1->Path().toStdString(), music->path());
        }
        log.clear();
    }

    void click(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(widget, button, {}, QPoint(2, 2));
    }

    void doubleClickFile(int row) {
        QListWidgetItem* item = window->File1->item(row);
        ASSERT_NE(item, nullptr) << "no file at row " << row;
        window->File1->scrollToItem(item);  // as a user scrolls to it first
        const QPoint at = window->File1->visualItemRect(item).center();
        QTest::mouseDClick(window->File1->viewport(), Qt::LeftButton, {}, at);
    }

    // Moves the pointer over `widget` as the platform delivers it: to whatever lies there.
    void hover(QWidget* widget, QPoint at = QPoint(3, 3)) {
        QTest::mouseMove(window.get(), widget->mapTo(window.get(), at));
        QApplication::processEvents();
    }

    std::string shortPathOf(const std::string& name) const {
        std::string encoded;
        for (unsigned char c : *music / name) {
            if (std::isalnum(c) || c == '.' || c == '_' || c == '~' || c == '/' || c == '-') {
                encoded += static_cast<char>(c);
            } else {
                static const char* hex = "0123456789ABCDEF";
                encoded += '%';
                encoded += hex[c >> 4];
                encoded += hex[c & 15];
            }
        }
        return encoded;
    }

    std::vector<std::string> playCommands(const std::string& name) const {
        return {"stop tivoran", "close tivoran",
                "open " + shortPathOf(name) + " type mpegvideo alias tivoran", "play tivoran"};
    }

    TempDir programDir;
    std::unique_ptr<TempDir> music;
    CommandLog log;
    AudioProbe probe;
    std::unique_ptr<frmKORVEL> window;
    int programEnds = 0;
};

}  // namespace korvel::test
