#include <unistd.h>

#include <QMouseEvent>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/captions.h"
#include "window_fixture.h"

namespace korvel::test {
namespace {

using Commands = std::vector<std::string>;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs with the process's current directory set elsewhere, as a user may start the program.
class CurrentDirectory {
  public:
    explicit CurrentDirectory(const std::string& path) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~CurrentDirectory() { std::filesystem::current_path(saved_); }

  private:
    std::filesystem::path saved_;
};

class LifecycleTest : public WindowTest {
  protected:
    std::string settingsFile() const { return programDir / "korvel.ini"; }
    void remember(const std::string& directory) {
        std::ofstream(settingsFile()) << "[korvel]\npath=" << directory << "\n";
    }
};

TEST_F(LifecycleTest, FirstStartShowsTheCurrentDirectoryAndItsCount) {
    addTone("a.mp3", kLow, 0.2);
    addTone("b.mp3", kLow, 0.2);
    CurrentDirectory cwd(music->path());
    openWindow(false);
    EXPECT_EQ(window->Dir1->Path().toStdString(), music->path());
    EXPECT_EQ(window->File1->ListCount(), 2);
    EXPECT_EQ(window->Label10->Caption(), QStringLiteral("(2) MP3 files in this directory"));
    EXPECT_FALSE(std::filesystem::exists(settingsFile())) << "loading wrote the settings";
}

struct RememberedCase {
    const char* name;
    std::string remembered;  // relative to the music directory
    std::string opened;      // relative to the music directory
};

TEST_F(LifecycleTest, StartOpensTheRememberedDirectoryOrItsNearestAncestor) {
    addTone("top.mp3", kLow, 0.2);
    std::string deep = "deep";
    while (deep.size() < 300) deep += "/a directory with a long name";
    std::filesystem::create_directories(*music / deep);
    writeToneMp3(*music / deep + "/x.mp3", kLow, 0.2);
    std::filesystem::create_directories(*music / "sub dir");
    const std::vector<RememberedCase> rows = {
        {"the directory itself", "/sub dir", "/sub dir"},
        {"a path over 254 characters", "/" + deep, "/" + deep},
        {"a directory that is gone", "/sub dir/gone/gone too", "/sub dir"},
        {"a file, not a directory", "/top.mp3", ""},
    };
    CurrentDirectory cwd(programDir.path());
    for (const RememberedCase& row : rows) {
        SCOPED_TRACE(row.name);
        remember(music->path() + row.remembered);
        openWindow(false);
        EXPECT_EQ(window->Dir1->Path().toStdString(), music->path() + row.opened);
        EXPECT_EQ(window->File1->Path(), window->Dir1->Path());
        EXPECT_TRUE(window->Label10->Caption().endsWith(captions::kEndingA));
        window.reset();
    }
}

TEST_F(LifecycleTest, ARememberedDirectoryWithNoExistingAncestorKeepsTheCurrentOne) {
    CurrentDirectory cwd(music->path());
    remember("not/absolute/at/all");
    openWindow(false);
    EXPECT_EQ(window->Dir1->Path().toStdString(), music->path());
}

TEST_F(LifecycleTest, EveryWayOfClosingSavesSilencesAndEnds) {
    const std::vector<std::pair<const char*, std::function<void()>>> rows = {
        {"the close label", [this] { click(window->Label3); }},
        {"the window manager", [this] { window->close(); }},
    };
    addTone("a.mp3", kLow);
    std::filesystem::create_directories(*music / "shown at closing");
    for (const auto& [name, closeIt] : rows) {
        SCOPED_TRACE(name);
        std::filesystem::remove(settingsFile());
        programEnds = 0;
        openWindow();
        doubleClickFile(0);
        ASSERT_TRUE(probe.waitForTone(kLow, kHear));
        window->Dir1->setPath(QString::fromStdString(*music / "shown at closing"));
        log.clear();
        closeIt();
        EXPECT_EQ(log.commands(), (Commands{"stop tivoran", "close all"}));
        EXPECT_EQ(programEnds, 1);
        EXPECT_TRUE(probe.waitForQuiet(kHear));
        const std::string saved = readFile(settingsFile());
        EXPECT_EQ(saved.rfind("[korvel]\n", 0), 0u) << saved;
        EXPECT_NE(saved.find("\npath=" + (*music / "shown at closing") + "\n"), std::string::npos)
            << saved;
        window.reset();
        // The next start opens where the window was closed.
        openWindow(false);
        EXPECT_EQ(window->Dir1->Path().toStdString(), *music / "shown at closing");
        window.reset();
    }
}

TEST_F(LifecycleTest, UnloadRunsOnceEvenWhenClosedTwice) {
    openWindow();
    window->close();
    log.clear();
    window->close();
    EXPECT_TRUE(log.commands().empty());
    EXPECT_EQ(programEnds, 1);
}

class DragTest : public WindowTest {
  protected:
    void send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
        QWidget* strip = window->Label1;
        QMouseEvent event(type, QPointF(at), QPointF(strip->mapToGlobal(at)), button, held, {});
        QApplication::sendEvent(strip, &event);
    }
};

TEST_F(DragTest, LeftDragKeepsTheGrabbedPointUnderThePointer) {
    openWindow();
    const QPoint start = window->pos();
    send(QEvent::MouseButtonPress, {50, 5}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(window->GrabPoint, QPointF(750, 75));
    send(QEvent::MouseMove, {80, 10}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(window->pos(), start + QPoint(30, 5));
    // The pointer is still over the point first grabbed: a move there moves nothing.
    send(QEvent::MouseMove, {50, 5}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(window->pos(), start + QPoint(30, 5));
    send(QEvent::MouseButtonRelease, {50, 5}, Qt::LeftButton, Qt::NoButton);
    send(QEvent::MouseMove, {90, 9}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(window->pos(), start + QPoint(30, 5)) << "moved with no button held";
}

TEST_F(DragTest, RightDragMovesNothingButSetsTheGrabPoint) {
    openWindow();
    const QPoint start = window->pos();
    send(QEvent::MouseButtonPress, {40, 7}, Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(window->GrabPoint, QPointF(600, 105));
    send(QEvent::MouseMove, {90, 12}, Qt::NoButton, Qt::RightButton);
    EXPECT_EQ(window->pos(), start);
}

TEST_F(DragTest, MinimiseAndCloseNeverStartADrag) {
    addTone("a.mp3", kLow);
    openWindow();
    doubleClickFile(0);
    ASSERT_TRUE(probe.waitForTone(kLow, kHear));
    const QPoint start = window->pos();
    const QPointF grab = window->GrabPoint;
    for (QWidget* label :
         {static_cast<QWidget*>(window->Label2), static_cast<QWidget*>(window->Label3)}) {
        QTest::mousePress(label, Qt::LeftButton, {}, {5, 5});
        QMouseEvent move(QEvent::MouseMove, QPointF(9, 9),
                         QPointF(label->mapToGlobal(QPoint(9, 9))), Qt::NoButton, Qt::LeftButton,
                         {});
        QApplication::sendEvent(label, &move);
        EXPECT_EQ(window->pos(), start);
        EXPECT_EQ(window->GrabPoint, grab);
        QTest::mouseRelease(label, Qt::LeftButton, {}, {30, 30});  // released elsewhere: no click
    }
    click(window->Label2);
    EXPECT_TRUE(window->isMinimized());
    EXPECT_TRUE(probe.waitForTone(kLow, kHear)) << "minimising stopped the sound";
    EXPECT_EQ(programEnds, 0);
}

}  // namespace
}  // namespace korvel::test
