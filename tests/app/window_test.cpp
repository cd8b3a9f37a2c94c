// The real window on the offscreen platform, driven by simulated input: the exact command strings
// each control sends, the captions it leaves, and what is heard where a fault would be heard.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QAccessibleInterface>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "app/frmKORVEL.h"
#include "platform/controls/colour.h"
#include "platform/mci.h"
#include "platform/program.h"
#include "platform/shortpath.h"
#include "support/support.h"

namespace korvel::test {
namespace {

using Commands = std::vector<std::string>;
// Names only their short forms carry whole through a command; the last one's is longer than the
// 255 characters first asked for.
const std::string kNames[] = {"1 low alias x.mp3", "2 \"mid\" 100%.mp3",
                              "3 high\xFF\\" + std::string(90, '\xE9') + ".mp3"};
const double kPitches[] = {kLow, kMid, kHigh};

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        platform::setProgramDirectoryForTesting(programDir.path());
        for (int i = 0; i < 3; ++i) writeTone(music / kNames[i], kPitches[i]);
        platform::mci::setCommandObserver(
            [this](std::string_view c, MCIERROR) { sent.emplace_back(c); });
    }
    void TearDown() override {
        window.reset();
        platform::mci::setCommandObserver({});
        mciSendStringA("close all", nullptr, 0, 0);
    }
    // Starts the window as the program does; `at` points the lists somewhere first.
    void open(const std::string& at = "") {
        window = std::make_unique<frmKORVEL>();
        window->setProgramEnder([this] { ++programEnds; });
        window->show();
        window->activateWindow();  // where keys reach it
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        window->Dir1->setPath(QString::fromStdString(at.empty() ? music.path() : at));
        sent.clear();
    }
    void click(QWidget* label, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(label, button, {}, QPoint(2, 2));
    }
    void doubleClick(QListWidget* list, QListWidgetItem* item) {
        ASSERT_NE(item, nullptr);
        list->scrollToItem(item);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                           list->visualItemRect(item).topLeft() + QPoint(8, 4));
    }
    void play(int row) {
        doubleClick(window->File1, window->File1->item(row));
        ASSERT_TRUE(probe.tone(kPitches[row])) << kNames[row] << " not heard";
        sent.clear();
    }
    Commands playCommands(const std::string& name, bool muted = false) const {
        Commands c = {
            "stop tivoran", "close tivoran",
            "open " + platform::encodeShortPath(music / name) + " type mpegvideo alias tivoran",
            "play tivoran"};
        if (muted)
            c.insert(c.begin() + 3, "set tivoran audio all off");
        return c;
    }

    TempDir programDir, music;
    Probe probe;
    Commands sent;
    std::unique_ptr<frmKORVEL> window;
    int programEnds = 0;
};

// Each transport label in each state, clicked, pressed by each of its keys with the focus
// in a list, which must not take the key first ("b" would jump to "b side.mp3", Space select),
// and pressed by an assistive tool: what it sends, the captions (and the names a tool reads from
// them) and the selection it leaves.
TEST_F(WindowTest, EachLabelSendsItsCommandsAndSetsItsCaption) {
    const char *P = "  pause", *R = "  play", *M = " m", *U = " un";
    using F = frmKORVEL;
    struct Row {
        const char* what;
        platform::Label* F::*label;
        int selected;
        const char *pause, *mute;
        Commands expected;
        const char *pauseAfter, *muteAfter;
        int selectedAfter;
        Qt::MouseButton button = Qt::LeftButton;
    };
    const Commands none, stop = {"stop tivoran", "close all"};
    // With no file the path names the folder, which opens as nothing: play acts as a stop.
    const Commands playFolder = {
        "stop tivoran", "close tivoran",
        "open " + platform::encodeShortPath(music.path()) + " type mpegvideo alias tivoran",
        "play tivoran"};
    // clang-format off
    const std::vector<Row> rows = {
        {"play, paused",            &F::Label5,  1, R, M, playCommands(kNames[1]),       P, M,  1},
        {"play, muted",             &F::Label5,  0, P, U, playCommands(kNames[0], true), P, U,  0},
        {"play, right button",      &F::Label5,  0, P, M, none,                          P, M,  0, Qt::RightButton},
        {"play, nothing selected",  &F::Label5, -1, R, M, playFolder,                    P, M, -1},
        {"pause",                   &F::Label6,  1, P, M, {"pause tivoran"},             R, M,  1},
        {"resume",                  &F::Label6,  1, R, M, {"resume tivoran"},            P, M,  1},
        {"pause, nothing selected", &F::Label6, -1, P, M, none,                          P, M, -1},
        {"resume, none selected",   &F::Label6, -1, R, M, none,                          R, M, -1},
        {"stop, paused",            &F::Label7,  1, R, M, stop,                          P, M,  1},
        {"stop, nothing selected",  &F::Label7, -1, R, M, none,                          R, M, -1},
        {"next, paused",            &F::Label8,  1, R, M, playCommands(kNames[2]),       P, M,  2},
        {"next, nothing selected",  &F::Label8, -1, P, M, playCommands(kNames[0]),       P, M,  0},
        {"next on the last",        &F::Label8,  3, P, M, none,                          P, M,  3},
        {"previous, muted",         &F::Label9,  2, P, U, playCommands(kNames[1], true), P, U,  1},
        {"previous on the first",   &F::Label9,  0, P, M, none,                          P, M,  0},
        {"previous, none selected", &F::Label9, -1, P, M, none,                          P, M, -1},
        {"mute",                    &F::Label4, -1, P, M, {"set tivoran audio all off"}, P, U, -1},
        {"unmute",                  &F::Label4,  1, R, U, {"set tivoran audio all on"},  R, M,  1},
    };
    // clang-format on
    writeTone(music / "b side.mp3", kLow);
    open();
    F* w = window.get();
    const std::pair<platform::Label*, Qt::Key> keys[] = {
        {w->Label9, Qt::Key_Z},     {w->Label5, Qt::Key_X}, {w->Label6, Qt::Key_C},
        {w->Label6, Qt::Key_Space}, {w->Label7, Qt::Key_V}, {w->Label8, Qt::Key_B},
        {w->Label4, Qt::Key_M}};
    const auto tool = QAccessible::queryAccessibleInterface;
    // An assistive tool's Press action; no key has the code 0 (Key_Any is Space itself).
    const auto kPress = static_cast<Qt::Key>(0);
    const QString press = QAccessibleActionInterface::pressAction();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        QListWidget* list = i % 2 == 0 ? static_cast<QListWidget*>(w->File1) : w->Dir1;
        std::vector<Qt::Key> ways = {Qt::Key_unknown};  // the click
        for (const auto& [label, key] : keys) {
            if (label == w->*row.label && row.button == Qt::LeftButton)
                ways.push_back(key);
        }
        if (row.button == Qt::LeftButton)
            ways.push_back(kPress);
        for (Qt::Key key : ways) {
            SCOPED_TRACE(row.what + (" " + QKeySequence(key).toString().toStdString()));
            list->setFocus();
            window->File1->setListIndex(row.selected);
            window->Label6->setCaption(row.pause);
            window->Label4->setCaption(row.mute);
            sent.clear();
            if (key == kPress)
                tool(w->*row.label)->actionInterface()->doAction(press);
            else
                key == Qt::Key_unknown ? click(w->*row.label, row.button)
                                       : QTest::keyClick(list, key);
            EXPECT_EQ(sent, row.expected);
            EXPECT_EQ(window->Label6->Caption(), row.pauseAfter);
            EXPECT_EQ(window->Label4->Caption(), row.muteAfter);
            EXPECT_EQ(tool(w->Label6)->text(QAccessible::Name),
                      row.pauseAfter == P ? "Pause" : "Resume");
            EXPECT_EQ(tool(w->Label4)->text(QAccessible::Name),
                      row.muteAfter == M ? "Mute" : "Unmute");
            EXPECT_EQ(window->File1->ListIndex(), row.selectedAfter);
        }
    }
}

// What an assistive tool reads: the button labels are push buttons named in words, with a Press
// action (which the label rows above press, and where the toggles' names are seen to follow).
TEST_F(WindowTest, AssistiveToolsSeeNamedButtons) {
    open();
    frmKORVEL* w = window.get();
    const auto B = QAccessible::Button, T = QAccessible::StaticText, L = QAccessible::List;
    // clang-format off
    const std::vector<std::tuple<QWidget*, QAccessible::Role, QString>> rows = {
        {w->Label5, B, "Play"}, {w->Label6, B, "Pause"}, {w->Label7, B, "Stop"}, {w->Label8, B, "Next"},
        {w->Label9, B, "Previous"}, {w->Label4, B, "Mute"}, {w->Label2, B, "Minimise"}, {w->Label3, B, "Close"},
        {w->Label1, T, w->Label1->Caption()}, {w->Label10, T, w->Label10->Caption()},
        {w->Dir1, L, "Folders"}, {w->File1, L, "MP3 files"},
    };
    // clang-format on
    for (const auto& [widget, role, named] : rows) {
        SCOPED_TRACE(named.toStdString());
        QAccessibleInterface* tool = QAccessible::queryAccessibleInterface(widget);
        EXPECT_EQ(tool->role(), role);
        EXPECT_EQ(tool->text(QAccessible::Name), named);
        const QAccessibleActionInterface* actions = tool->actionInterface();
        EXPECT_EQ(actions != nullptr &&
                      actions->actionNames().contains(QAccessibleActionInterface::pressAction()),
                  role == B);
    }
}

TEST_F(WindowTest, ClosingSavesStopsAndTheNextStartOpensThere) {
    std::filesystem::create_directory(music / "sub");
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"the close label", [this] { click(window->Label3); }},
        {"the window manager", [this] { window->close(); }},
        {"Ctrl+Q", [this] { QTest::keyClick(window->Dir1, Qt::Key_Q, Qt::ControlModifier); }},
    };
    for (int i = 0; i < 3; ++i) {  // each way plays another file, so that each name is heard
        const auto& [way, closeIt] = ways[std::size_t(i)];
        SCOPED_TRACE(way);
        open();
        play(i);
        doubleClick(window->Dir1, window->Dir1->findItems("sub", Qt::MatchEndsWith).value(0));
        EXPECT_EQ(window->File1->Path().toStdString(), music / "sub");
        EXPECT_TRUE(probe.tone(kPitches[i])) << "changing the directory stopped the sound";
        sent.clear();
        programEnds = 0;
        closeIt();
        EXPECT_EQ(sent, (Commands{"stop tivoran", "close all"}));
        EXPECT_EQ(programEnds, 1);
        EXPECT_TRUE(probe.quiet());
        std::stringstream saved;
        saved << std::ifstream(programDir / "korvel.ini").rdbuf();
        EXPECT_EQ(saved.str(), "[korvel]\npath=" + music / "sub" + "\n");
        window = std::make_unique<frmKORVEL>();
        EXPECT_EQ(window->Dir1->Path().toStdString(), music / "sub");
        EXPECT_EQ(window->Label10->Caption(), "(0) MP3 files in this directory");
        std::filesystem::remove(programDir / "korvel.ini");
    }
}

// A remembered directory that is gone opens at its nearest ancestor that still exists.
TEST_F(WindowTest, ARememberedDirectoryThatIsGoneOpensItsNearestAncestor) {
    std::ofstream(programDir / "korvel.ini") << "[korvel]\npath=" << music / "gone/deeper"
                                             << "\n";
    window = std::make_unique<frmKORVEL>();
    EXPECT_EQ(window->Dir1->Path().toStdString(), music.path());
    EXPECT_EQ(window->File1->Path(), window->Dir1->Path());
    EXPECT_EQ(window->Label10->Caption(), "(3) MP3 files in this directory");
}

TEST_F(WindowTest, DragMovesOnlyWithTheLeftButtonAndMinimiseKeepsPlaying) {
    open();
    play(0);
    auto send = [this](QEvent::Type type, QPoint at, Qt::MouseButton held) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : held;
        QMouseEvent event(type, at, window->Label1->mapToGlobal(at), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : held, {});
        QApplication::sendEvent(window->Label1, &event);
    };
    int compositorAsked = 0;
    window->setPlatformForTesting("xcb", [&] { return ++compositorAsked; });
    const QPoint start = window->pos();
    send(QEvent::MouseButtonPress, {40, 7}, Qt::RightButton);
    EXPECT_EQ(window->GrabPoint, QPointF(600, 105)) << "twips, whatever the button";
    send(QEvent::MouseMove, {90, 12}, Qt::RightButton);
    EXPECT_EQ(window->pos(), start);
    send(QEvent::MouseButtonRelease, {90, 12}, Qt::RightButton);
    send(QEvent::MouseButtonPress, {50, 5}, Qt::LeftButton);
    send(QEvent::MouseMove, {80, 10}, Qt::LeftButton);
    EXPECT_EQ(window->pos(), start + QPoint(30, 5));
    send(QEvent::MouseMove, {50, 5}, Qt::LeftButton);
    EXPECT_EQ(window->pos(), start + QPoint(30, 5)) << "the grabbed point stays under the pointer";
    send(QEvent::MouseButtonRelease, {50, 5}, Qt::LeftButton);
    EXPECT_EQ(compositorAsked, 0) << "X11 moves the window itself";
    // Wayland: only the compositor moves a window, when asked at the left button's press.
    window->setPlatformForTesting("wayland", [&] { return ++compositorAsked; });
    for (Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton}) {
        send(QEvent::MouseButtonPress, {50, 5}, button);
        send(QEvent::MouseButtonRelease, {50, 5}, button);
    }
    EXPECT_EQ(compositorAsked, 1);
    click(window->Label2);
    EXPECT_TRUE(window->isMinimized());
    EXPECT_TRUE(probe.tone(kLow)) << "minimising stopped the sound";
    EXPECT_EQ(programEnds, 0);
}

// Every fixed text as the window shows it. Moving over each control colours the seven transport
// members and rewrites the count line, here of a folder with one MP3 file among names that nearly
// match; a sentinel colour and caption tell "left alone" from "rewritten".
TEST_F(WindowTest, FixedTextsAndWhatHoverColoursAndCounts) {
    std::filesystem::create_directories(music / "one/x.mp3");
    for (const char* name : {"only.MP3", "a.mp3x", "a.mp", "mp3", "a.mp3.bak", ".mp3"})
        std::ofstream(music / "one/" + name) << "";
    open(music / "one");
    enum { Grey = 1, Alone = 2 };
    const char *a = "(1) MP3 files in this directory", *b = "(1) mp3's in this dir", *none = "x";
    frmKORVEL* w = window.get();
    // clang-format off
    const std::vector<std::pair<QLabel*, const char*>> texts = {
        {w->Label1, "                Brisanova  MP3 Player"}, {w->Label2, "  _"}, {w->Label3, "  X"},
        {w->Label4, " m"}, {w->Label5, " play"}, {w->Label6, "  pause"}, {w->Label7, "stop"},
        {w->Label8, ">"},  {w->Label9, "<"},
    };
    // clang-format on
    for (const auto& [label, text] : texts) {
        EXPECT_EQ(label->text(), text);
        // Each label declares itself opaque, so it paints every pixel it owns over what was there.
        QImage image(label->size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        label->render(&image, {}, {}, QWidget::DrawChildren);
        const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
        EXPECT_EQ(std::count(pixels, pixels + image.width() * image.height(), 0xFFFF00FF), 0)
            << text;
    }
    EXPECT_EQ(w->windowTitle(), "Brisanova Mp3 Player");
    // clang-format off
    const std::vector<std::tuple<const char*, QWidget*, QPoint, int, const char*>> rows = {
        {"window", w, {300, 150}, Grey, a},            {"line", w, {100, 192}, Grey, a},
        {"mute", w->Label4, {3, 3}, 4, b},             {"play", w->Label5, {3, 3}, 5, a},
        {"pause", w->Label6, {3, 3}, 6, a},            {"stop", w->Label7, {3, 3}, 7, a},
        {"next", w->Label8, {3, 3}, 8, none},          {"previous", w->Label9, {3, 3}, 9, a},
        {"count", w->Label10, {3, 3}, 10, none},       {"close", w->Label3, {3, 3}, Alone, a},
        {"directories", w->Dir1, {20, 10}, Alone, a},  {"files", w->File1, {20, 10}, Alone, b},
        {"title strip", w->Label1, {60, 5}, Alone, none}, {"minimise", w->Label2, {3, 3}, Alone, none},
    };
    // clang-format on
    platform::Label* const members[] = {w->Label4, w->Label5, w->Label6, w->Label7,
                                        w->Label8, w->Label9, w->Label10};
    for (const auto& [what, target, at, colours, count] : rows) {
        SCOPED_TRACE(what);
        for (platform::Label* l : members) l->setForeColor(0x123456);
        window->Label10->setCaption(none);
        QTest::mouseMove(w, target->mapTo(w, at));
        QApplication::processEvents();
        for (int m = 0; m < 7; ++m) {
            const platform::Colour expected = colours == Alone   ? 0x123456
                                              : colours == m + 4 ? platform::COLOR_WINDOW
                                                                 : 0x808080;
            EXPECT_EQ(members[m]->palette().color(QPalette::WindowText),
                      platform::toQColor(expected))
                << m + 4;
        }
        EXPECT_EQ(window->Label10->Caption(), count);
        QTest::mouseMove(window.get(), QPoint(340, 190));  // away, so the next move is a move
    }
    window->Label10->setCaption(none);
    window->repaint();
    EXPECT_EQ(window->Label10->Caption(), a) << "a repaint rewrites the count line";
}

// The sound system fails in each way it can while a file plays, and every command still returns
// to the window at once, leaves the device reading what is heard, and costs no CPU; closing still
// saves. Each kind of failure is told once, in words.
TEST_F(WindowTest, EveryCommandAnswersAtOnceWhateverTheSoundSystemDoes) {
    using P = platform::mci::Playback;
    std::vector<std::string> told;
    platform::mci::setFailureReporter([&](std::string_view line) { told.emplace_back(line); });
    SilentServer silent;
    std::optional<ThroughAlsa> alsa;
    const std::string pulse = getenv("PULSE_SERVER"), none = "/nonexistent";
    const std::function<void()> stop = [] { signalSoundServer(SIGSTOP); },
                                kill = [] { signalSoundServer(SIGKILL); };
    // Each fault, where ALSA's device (the pulse plugin) is used, and the player's own connection
    // to a sound server then; and the state it leaves.
    const std::vector<std::tuple<const char*, std::function<void()>, const char*, const char*>>
        faults = {
            {"the sound server stopped", stop, nullptr, "LPLLLS--S"},
            {"the sound server stopped, ALSA's device its plugin", stop, pulse.c_str(),
             "LPLLLS--S"},
            {"the sound server killed", kill, nullptr, "SSSSSSSSS"},
            {"a sound server that never answers",
             [&] { kill(), setenv("PULSE_SERVER", silent.address().c_str(), 1); }, nullptr,
             "SSSSSS--S"},
            {"ALSA's device failed", kill, none.c_str(), "SSSSSSSSS"},
        };
    for (const auto& [fault, make, alsaWith, after] : faults) {
        SCOPED_TRACE(fault);
        if (alsaWith)
            alsa.emplace(alsaWith);
        ASSERT_TRUE(probe.quiet());
        open();
        play(0);
        // What the fault leaves, then pause, resume, mute, unmute, stop, play, next, previous;
        // "-" where the next command follows at once.
        platform::Label* const labels[] = {nullptr,        window->Label6, window->Label6,
                                           window->Label4, window->Label4, window->Label7,
                                           window->Label5, window->Label8, window->Label9};
        for (int i = 0; i < 9; ++i) {
            SCOPED_TRACE(i);
            EXPECT_LT(msTaken([&] { i == 0 ? make() : click(labels[i]); }), 100.0);
            if (after[i] == '-')
                continue;
            const P expected = after[i] == 'P'   ? P::Paused
                               : after[i] == 'L' ? P::Playing
                                                 : P::Stopped;
            for (int t = 0; t < 300 && platform::mci::deviceStatus().playback != expected; ++t)
                QTest::qWait(10);
            EXPECT_EQ(platform::mci::deviceStatus().playback, expected);
        }
        const double cpu = cpuSeconds();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_LT(cpuSeconds() - cpu, 0.1) << "busy while the sound system failed";
        programEnds = 0;
        EXPECT_LT(msTaken([&] { click(window->Label3); }), 100.0);
        EXPECT_EQ(programEnds, 1);
        EXPECT_TRUE(std::ifstream(programDir / "korvel.ini").good());
        std::filesystem::remove(programDir / "korvel.ini");
        signalSoundServer(SIGCONT);
        alsa.reset();
        setenv("PULSE_SERVER", pulse.c_str(), 1);
        startSoundServer();
    }
    platform::mci::setFailureReporter({});
    // The server lost while it played; no server and no device; a server that did not answer.
    ASSERT_EQ(told.size(), 3u);
    EXPECT_TRUE(told[0].starts_with("no sound: the sound server did not answer")) << told[0];
    EXPECT_TRUE(told[1].starts_with("the sound stopped: the sound server ended")) << told[1];
    EXPECT_TRUE(told[2].starts_with("no sound: no sound server")) << told[2];
    open();
    play(1);  // and once the server is back, the next file is heard
}

// A 16-bit row number was the old platform's limit, not the program's: past row 32,767 every
// file is counted and reached, and plays by its own name.
TEST_F(WindowTest, EveryFileOfABigFolderIsCountedAndReached) {
    constexpr int kFiles = 32770;
    // In memory where there is a tmpfs: on a disk, making the files takes most of a minute.
    TempDir big(std::filesystem::is_directory("/dev/shm")
                    ? "/dev/shm"
                    : std::filesystem::temp_directory_path().string());
    char name[16];
    for (int i = 0; i < kFiles; ++i) {
        std::snprintf(name, sizeof name, "f%05d.mp3", i);
        ::close(::open((big / name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    }
    open(big.path());
    EXPECT_EQ(window->File1->ListCount(), kFiles);
    QTest::mouseMove(window.get(), QPoint(3, 200));  // the count line follows the pointer
    EXPECT_TRUE(window->Label10->Caption().startsWith(QStringLiteral("(32770)"))) << "count line";
    window->File1->setListIndex(kFiles - 2);
    click(window->Label8);
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[2], "open " + platform::encodeShortPath(big / "f32769.mp3") +
                           " type mpegvideo alias tivoran");
    EXPECT_EQ(window->File1->ListIndex(), kFiles - 1);
}

}  // namespace
}  // namespace korvel::test
