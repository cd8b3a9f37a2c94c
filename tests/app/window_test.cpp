// The real window on the offscreen platform, driven by simulated input as people make it: the
// exact command strings each control sends, the captions it leaves, what the screen shows, and
// what is heard where a fault would be heard.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAccessibleInterface>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "app/frmKORVEL.h"
#include "platform/controls/colour.h"
#include "platform/mci.h"
#include "platform/shortpath.h"
#include "platform/text.h"
#include "playback/tivoran_playback.h"
#include "support/support.h"

namespace korvel::test {
namespace {

using Commands = std::vector<std::string>;
using F = frmKORVEL;
// Names only their short forms carry whole through a command; the last one's is longer than the
// 255 characters first asked for.
const std::string kNames[] = {"1 low alias x.mp3", "2 \"mid\" 100%.mp3",
                              "3 high\xFF\\" + std::string(90, '\xE9') + ".mp3"};
const double kPitches[] = {kLow, kMid, kHigh};
const QColor kBlack(0, 0, 0), kWhite(255, 255, 255), kGrey(128, 128, 128), kRed(255, 0, 0);

// The colours a widget shows on the screen, the one it shows most (its background) first; of a
// list, those of its rows, not of its scroll bar.
std::vector<QRgb> coloursOf(QWidget* widget) {
    if (auto* list = qobject_cast<QAbstractScrollArea*>(widget)) widget = list->viewport();
    QApplication::processEvents();  // a list lays its rows out when the loop runs
    const QRect place(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
    const QImage image = widget->window()->grab(place).toImage();
    std::map<QRgb, int> count;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ++count[image.pixel(x, y) | 0xFF000000];
    std::vector<QRgb> colours;
    for (const auto& [rgb, n] : count) colours.push_back(rgb);
    std::sort(colours.begin(), colours.end(), [&](QRgb a, QRgb b) { return count[a] > count[b]; });
    return colours;
}

// Whether the widget's text is drawn in `fore`: the pixel that stands out most from the
// background is `fore` blended into it (text is smoothed), and mostly `fore`.
bool shows(QWidget* widget, const QColor& fore) {
    const std::vector<QRgb> colours = coloursOf(widget);
    const QColor back(colours.front());
    const auto distance = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
    };
    QColor most = back;
    for (const QRgb rgb : colours) most = distance(QColor(rgb), back) > distance(most, back) ? QColor(rgb) : most;
    if (distance(fore, back) == 0) return distance(most, back) == 0;
    const double t = double(distance(most, back)) / distance(fore, back);
    const auto mix = [&](int f, int b) { return int(t * f + (1 - t) * b); };
    return t >= 0.6 && t <= 1.05 &&
           distance(most, QColor(mix(fore.red(), back.red()), mix(fore.green(), back.green()),
                                 mix(fore.blue(), back.blue()))) <= 24;
}

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) writeTone(music / kNames[i], kPitches[i]);
        platform::mci::setCommandObserver([this](std::string_view c, MCIERROR) { sent.emplace_back(c); });
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
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        window->Dir1->setPath(QString::fromStdString(at.empty() ? music.path() : at));
        sent.clear();
    }
    void click(QWidget* label, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(label, button, {}, QPoint(2, 2));
    }
    void doubleClick(QListWidget* list, int row) {
        list->scrollToItem(list->item(row));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                           list->visualItemRect(list->item(row)).topLeft() + QPoint(8, 4));
    }
    // Double-clicks the file and tells whether it is heard.
    bool play(int row) {
        doubleClick(window->File1, row);
        sent.clear();
        return probe.tone(kPitches[row]);
    }
    // What the playback layer sends to play `name`, as it sends it: its sequence is its own.
    Commands playing(const std::string& name, bool muted = false) {
        Commands commands;
        std::swap(commands, sent);
        Tivoran::MciPlayFile(platform::fromAnsi(music / name), muted);
        std::swap(commands, sent);
        mciSendStringA("close all", nullptr, 0, 0);
        sent.clear();
        return commands;
    }

    ProgramDirectory programDir;
    TempDir music;
    Probe probe;
    Commands sent;
    std::unique_ptr<frmKORVEL> window;
    int programEnds = 0;
};

// Each transport label in each state, clicked, pressed by each of its keys with the focus in a
// list, which must not take the key first ("b" would jump to "b side.mp3", Space select), and
// pressed by an assistive tool: what it sends, the captions (and the names a tool reads from
// them) and the selection it leaves.
TEST_F(WindowTest, EachLabelSendsItsCommandsAndSetsItsCaption) {
    const char *P = "  pause", *R = "  play", *M = " m", *U = " un";
    using Row = std::tuple<const char*, platform::Label * F::*, int, const char*, const char*, Commands, const char*,
                           const char*, int, Qt::MouseButton>;
    const auto L = Qt::LeftButton, Right = Qt::RightButton;
    const Commands none, stop = {"stop tivoran", "close all"};
    // With no file the path names the folder, which opens as nothing: play acts as a stop.
    const Commands playFolder = playing("");
    // clang-format off
    const std::vector<Row> rows = {
        {"play, paused",            &F::Label5,  1, R, M, playing(kNames[1]),           P, M,  1, L},
        {"play, muted",             &F::Label5,  0, P, U, playing(kNames[0], true),     P, U,  0, L},
        {"play, right button",      &F::Label5,  0, P, M, none,                         P, M,  0, Right},
        {"play, nothing selected",  &F::Label5, -1, R, M, playFolder,                   P, M, -1, L},
        {"pause",                   &F::Label6,  1, P, M, {"pause tivoran"},            R, M,  1, L},
        {"resume",                  &F::Label6,  1, R, M, {"resume tivoran"},           P, M,  1, L},
        {"pause, nothing selected", &F::Label6, -1, P, M, none,                         P, M, -1, L},
        {"resume, none selected",   &F::Label6, -1, R, M, none,                         R, M, -1, L},
        {"stop, paused",            &F::Label7,  1, R, M, stop,                         P, M,  1, L},
        {"stop, nothing selected",  &F::Label7, -1, R, M, none,                         R, M, -1, L},
        {"next, paused",            &F::Label8,  1, R, M, playing(kNames[2]),           P, M,  2, L},
        {"next, nothing selected",  &F::Label8, -1, P, M, playing(kNames[0]),           P, M,  0, L},
        {"next on the last",        &F::Label8,  3, P, M, none,                         P, M,  3, L},
        {"previous, muted",         &F::Label9,  2, P, U, playing(kNames[1], true),     P, U,  1, L},
        {"previous on the first",   &F::Label9,  0, P, M, none,                         P, M,  0, L},
        {"previous, none selected", &F::Label9, -1, P, M, none,                         P, M, -1, L},
        {"mute",                    &F::Label4, -1, P, M, {"set tivoran audio all off"}, P, U, -1, L},
        {"unmute",                  &F::Label4,  1, R, U, {"set tivoran audio all on"}, R, M,  1, L},
        {"minimise, right button",  &F::Label2,  1, P, M, none,                         P, M,  1, Right},
    };
    // clang-format on
    writeTone(music / "b side.mp3", kLow);
    open();
    F* w = window.get();
    const std::pair<platform::Label*, Qt::Key> keys[] = {
        {w->Label9, Qt::Key_Z}, {w->Label5, Qt::Key_X}, {w->Label6, Qt::Key_C}, {w->Label6, Qt::Key_Space},
        {w->Label7, Qt::Key_V}, {w->Label8, Qt::Key_B}, {w->Label4, Qt::Key_M}};
    const auto tool = QAccessible::queryAccessibleInterface;
    // An assistive tool's Press action; no key has the code 0 (Key_Any is Space itself).
    const auto kPress = static_cast<Qt::Key>(0);
    const QString press = QAccessibleActionInterface::pressAction();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& [what, label, selected, pause, mute, expected, pauseAfter, muteAfter, selectedAfter, button] =
            rows[i];
        QListWidget* list = i % 2 == 0 ? static_cast<QListWidget*>(w->File1) : w->Dir1;
        std::vector<Qt::Key> ways = {Qt::Key_unknown};  // the click
        for (const auto& [keyed, key] : keys) {
            if (keyed == w->*label && button == Qt::LeftButton) ways.push_back(key);
        }
        if (button == Qt::LeftButton) ways.push_back(kPress);
        for (Qt::Key key : ways) {
            SCOPED_TRACE(what + (" " + QKeySequence(key).toString().toStdString()));
            list->setFocus();
            window->File1->setListIndex(selected);
            window->Label6->setCaption(pause);
            window->Label4->setCaption(mute);
            sent.clear();
            if (key == kPress)
                tool(w->*label)->actionInterface()->doAction(press);
            else
                key == Qt::Key_unknown ? click(w->*label, button) : QTest::keyClick(list, key);
            EXPECT_EQ(sent, expected);
            EXPECT_EQ(window->Label6->Caption(), pauseAfter);
            EXPECT_EQ(window->Label4->Caption(), muteAfter);
            EXPECT_EQ(tool(w->Label6)->text(QAccessible::Name), pauseAfter == P ? "Pause" : "Resume");
            EXPECT_EQ(tool(w->Label4)->text(QAccessible::Name), muteAfter == M ? "Mute" : "Unmute");
            EXPECT_EQ(window->File1->ListIndex(), selectedAfter);
            EXPECT_FALSE(window->isMinimized());
        }
    }
}

// Input as people make it: a key held down, a press released off the label, the keypad's Enter,
// and a double click on each control (each of its clicks counts, as on any button).
TEST_F(WindowTest, InputAsPeopleMakeIt) {
    std::filesystem::create_directory(music / "sub");
    const Commands play0 = playing(kNames[0]), play1 = playing(kNames[1]), none;
    const Commands stop = {"stop tivoran", "close all"}, play2 = playing(kNames[2]);
    open();
    F* w = window.get();
    const auto held = [w](Qt::Key key, const char* text) {
        for (const bool repeat : {false, true, true})
            qt_handleKeyEvent(w->windowHandle(), QEvent::KeyPress, key, {}, text, repeat);
        qt_handleKeyEvent(w->windowHandle(), QEvent::KeyRelease, key, {}, text);
    };
    const auto outside = [w] {
        QTest::mousePress(w->Label5, Qt::LeftButton, {}, {2, 2});
        QTest::mouseRelease(w->Label5, Qt::LeftButton, {}, {w->Label5->width() + 9, 2});
    };
    const auto dClick = [this](QWidget* c) { QTest::mouseDClick(c, Qt::LeftButton, {}, {3, 3}); };
    const int subRow = w->Dir1->row(w->Dir1->findItems("sub", Qt::MatchEndsWith).value(0));
    // clang-format off
    const std::vector<std::tuple<const char*, int, std::function<void()>, Commands>> rows = {
        {"x held down",                 0, [&] { held(Qt::Key_X, "x"); },              play0},
        {"play released outside",       0, outside,                                    none},
        {"keypad Enter on a file",      1, [&] { QTest::keyClick(w->File1, Qt::Key_Enter, Qt::KeypadModifier); }, play1},
        {"double click on play",        0, [&] { dClick(w->Label5); },                 Commands{play0[0], play0[1], play0[2], play0[3], play0[0], play0[1], play0[2], play0[3]}},
        {"double click on pause",       0, [&] { dClick(w->Label6); },                 {"pause tivoran", "resume tivoran"}},
        {"double click on stop",        0, [&] { dClick(w->Label7); },                 Commands{stop[0], stop[1], stop[0], stop[1]}},
        {"double click on next",        0, [&] { dClick(w->Label8); },                 Commands{play1[0], play1[1], play1[2], play1[3], play2[0], play2[1], play2[2], play2[3]}},
        {"double click on mute",        0, [&] { dClick(w->Label4); },                 {"set tivoran audio all off", "set tivoran audio all on"}},
        {"double click on a file",      1, [&] { doubleClick(w->File1, 1); },          play1},
        {"double click on the title",   0, [&] { dClick(w->Label1); },                 none},
        {"double click on the picture", 0, [&] { dClick(w->Image1); },                 none},
        {"double click on the count",   0, [&] { dClick(w->Label10); },                none},
        {"keypad Enter on a folder",    0, [&] { w->Dir1->setFocus(); w->Dir1->setCurrentRow(subRow); QTest::keyClick(w->Dir1, Qt::Key_Enter, Qt::KeypadModifier); }, none},
    };
    // clang-format on
    const QPoint place = w->pos();
    for (const auto& [what, selected, act, expected] : rows) {
        SCOPED_TRACE(what);
        w->File1->setFocus();
        w->File1->setListIndex(selected);
        sent.clear();
        act();
        EXPECT_EQ(sent, expected);
        EXPECT_EQ(w->pos(), place);
        EXPECT_FALSE(w->isMinimized() || w->isMaximized());
    }
    EXPECT_EQ(w->Dir1->Path().toStdString(), music / "sub");
    dClick(w->Label2);
    EXPECT_TRUE(w->isMinimized());
    dClick(w->Label3);
    EXPECT_EQ(programEnds, 1) << "closed once";
}

// The window as the layout gives it, read off the screen: each control's place and size, the
// colour it shows most (its background, the window's black where it is transparent) and the
// colour of its text; the overlaps, the focus and every fixed text.
TEST_F(WindowTest, TheWindowLooksAsLaidOut) {
    writeTone(music / "0 text.mp3", kLow, 0.1);  // the file list's text shows on the first row
    // A theme whose text colour is not black: the layout's black stays black. (Dim, as the lines take
    // it, so that the line under the close label does not outshine its red.)
    QPalette theme = QApplication::palette();
    theme.setColor(QPalette::WindowText, QColor(60, 60, 60));
    const std::shared_ptr<void> restore(nullptr,
                                        [was = QApplication::palette()](void*) { QApplication::setPalette(was); });
    QApplication::setPalette(theme);
    open();
    F* w = window.get();
    w->Dir1->clearSelection();  // the folder's own row stands out in the selection's colours
    w->repaint();               // which writes the count line
    const QColor navy(0, 0, 128), teal(0, 128, 128), lines = QApplication::palette().color(QPalette::WindowText);
    // What an assistive tool reads: the button labels are push buttons named in words, with a Press action (which
    // the label rows press, and where the toggles' names are seen to follow); the rest, their texts.
    const auto B = QAccessible::Button, T = QAccessible::StaticText, L = QAccessible::List, N = QAccessible::NoRole;
    // clang-format off
    const std::vector<std::tuple<QWidget*, QRect, QColor, QColor, double, bool, QString, QAccessible::Role, QString>> rows = {
        {w->Label1,  {0, 0, 5175, 255},       kBlack, kWhite, 8.25, true,  "                Brisanova  MP3 Player", T, ""},
        {w->Label2,  {4560, 0, 255, 255},     kBlack, kRed,   8.25, false, "  _",     B, "Minimise"},
        {w->Label3,  {4920, 0, 255, 255},     kBlack, kRed,   9,    true,  "  X",     B, "Close"},
        {w->Label4,  {1440, 2040, 255, 255},  kBlack, kGrey,  8.25, false, " m",      B, "Mute"},
        {w->Label5,  {960, 2040, 375, 255},   kBlack, kWhite, 8.25, false, " play",   B, "Play"},
        {w->Label6,  {720, 1680, 615, 255},   kBlack, kWhite, 8.25, false, "  pause", B, "Pause"},
        {w->Label7,  {1440, 1680, 375, 255},  kBlack, kWhite, 8.25, false, "stop",    B, "Stop"},
        {w->Label8,  {1920, 1680, 135, 255},  kBlack, kWhite, 8.25, false, ">",       B, "Next"},
        {w->Label9,  {480, 1680, 135, 255},   kBlack, kWhite, 8.25, false, "<",       B, "Previous"},
        {w->Label10, {120, 2520, 3255, 255},  kBlack, kBlack, 8.25, false, "(4) MP3 files in this directory", T, ""},
        {w->Dir1,    {2400, 360, 2535, 570},  navy,   kBlack, 8.25, false, "", L, "Folders"},
        {w->File1,   {2400, 960, 2535, 1080}, teal,   kWhite, 8.25, false, "", L, "MP3 files"},
        {w->Image1,  {240, 480, 1935, 1095},  kBlack, kBlack, 8.25, false, "", N, ""},
        {w->Line1,   {0, 0, 15, 2415},        lines,  lines,  8.25, false, "", N, ""},
        {w->Line2,   {0, 2880, 5055, 15},     lines,  lines,  8.25, false, "", N, ""},
        {w->Line3,   {5160, 120, 15, 3015},   lines,  lines,  8.25, false, "", N, ""},
    };
    // clang-format on
    for (const auto& [control, twips, back, fore, points, bold, text, role, name] : rows) {
        SCOPED_TRACE(text.toStdString() + name.toStdString());
        EXPECT_EQ(control->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
        EXPECT_EQ(QColor(coloursOf(control).front()), back);
        EXPECT_TRUE(shows(control, fore));
        EXPECT_EQ(control->font().family(), "Arial");
        EXPECT_EQ(control->font().pointSizeF(), points);
        EXPECT_EQ(control->font().bold(), bold);
        if (auto* label = qobject_cast<QLabel*>(control)) { EXPECT_EQ(label->text(), text); }
        if (auto* list = qobject_cast<QListWidget*>(control)) {
            EXPECT_EQ(std::pair(list->viewport()->pos(), list->viewport()->height()),
                      std::pair(QPoint(0, 0), list->height()))
                << "a frame, or a scroll bar across";
        }
        if (role == N) continue;
        QAccessibleInterface* tool = QAccessible::queryAccessibleInterface(control);
        EXPECT_EQ(tool->role(), role);
        EXPECT_EQ(tool->text(QAccessible::Name), role == T ? text : name);
        const QAccessibleActionInterface* actions = tool->actionInterface();
        EXPECT_EQ(actions && actions->actionNames().contains(QAccessibleActionInterface::pressAction()), role == B);
    }
    EXPECT_EQ(w->windowTitle(), "Brisanova Mp3 Player");
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w->geometry(), QRect(172, 95, 347, 197));
    EXPECT_EQ(QColor(coloursOf(w).front()), kBlack);
    EXPECT_EQ(w->childAt(4930 / 15 + 2, 5), w->Label3) << "the close label lies over the strip";
    EXPECT_EQ(w->childAt(4570 / 15 + 2, 5), w->Label2) << "the minimise label too";
    EXPECT_EQ(w->focusWidget(), w->File1);
    QTest::keyClick(w, Qt::Key_Tab);
    EXPECT_EQ(w->focusWidget(), w->Dir1);
    // The icon, at both sizes: a white page, its top quarter cyan, in a grey outline.
    for (const int size : {16, 32}) {
        const QImage icon = w->windowIcon().pixmap(size).toImage();
        const int x = size / 2, band = size / 4;
        EXPECT_EQ(std::vector<QColor>({icon.pixelColor(x, band - 1), icon.pixelColor(x, band), icon.pixelColor(x, 0)}),
                  std::vector<QColor>({QColor(0, 255, 255), Qt::white, QColor(64, 64, 64)}))
            << size;
        EXPECT_EQ(icon.pixelColor(0, x).alpha() + icon.pixelColor(size - 1, x).alpha(), 0)
            << "the margins show through";
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
        ASSERT_TRUE(play(i)) << kNames[i];
        doubleClick(window->Dir1, window->Dir1->row(window->Dir1->findItems("sub", Qt::MatchEndsWith).value(0)));
        EXPECT_EQ(window->File1->Path().toStdString(), music / "sub");
        EXPECT_TRUE(probe.tone(kPitches[i])) << "changing the directory stopped the sound";
        sent.clear();
        programEnds = 0;
        closeIt();
        EXPECT_EQ(sent, (Commands{"stop tivoran", "close all"}));
        EXPECT_EQ(programEnds, 1);
        EXPECT_TRUE(probe.quiet());
        EXPECT_EQ(contentsOf(programDir / "korvel.ini"), "[korvel]\npath=" + music / "sub" + "\n");
        window = std::make_unique<frmKORVEL>();
        EXPECT_EQ(window->Dir1->Path().toStdString(), music / "sub");
        EXPECT_EQ(window->Label10->Caption(), "(0) MP3 files in this directory");
        std::filesystem::remove(programDir / "korvel.ini");
    }
}

// A remembered directory that is gone opens at its nearest ancestor that still exists, the root
// included.
TEST_F(WindowTest, ARememberedDirectoryThatIsGoneOpensItsNearestAncestor) {
    ASSERT_TRUE(std::ofstream(programDir / "korvel.ini") << "[korvel]\npath=" << music / "gone/deeper"
                                                         << "\n");
    window = std::make_unique<frmKORVEL>();
    EXPECT_EQ(window->Dir1->Path().toStdString(), music.path());
    EXPECT_EQ(window->File1->Path(), window->Dir1->Path());
    EXPECT_EQ(window->Label10->Caption(), "(3) MP3 files in this directory");
    // The chain from the root down, a folder a row, each indented one further.
    QStringList chain = {"/"};
    for (const QString& name : QString::fromStdString(music.path()).split('/', Qt::SkipEmptyParts))
        chain.append(QString(chain.size(), ' ') + name);
    QStringList shown;
    for (int row = 0; row < chain.size() && row < window->Dir1->count(); ++row)
        shown.append(window->Dir1->item(row)->text());
    EXPECT_EQ(shown.join('|').toStdString(), chain.join('|').toStdString());
    // Gone up to the root, whose chain is the root alone: every row below it names a folder.
    ASSERT_TRUE(std::ofstream(programDir / "korvel.ini") << "[korvel]\npath=/korvel-gone/deeper\n");
    window = std::make_unique<frmKORVEL>();
    EXPECT_EQ(window->Dir1->Path(), "/");
    EXPECT_EQ(window->Dir1->findItems("^ *$", Qt::MatchRegularExpression).size(), 0);
}

// A file handed over from outside (Open With, the bus) that went, or whose folder went, since it
// was found is refused, and the window stays where it was.
TEST_F(WindowTest, AFileThatWentIsRefused) {
    open();
    window->File1->setListIndex(1);
    for (const std::string& file : {music / "gone/x.mp3", music / "x.mp3"}) {
        SCOPED_TRACE(file);
        EXPECT_FALSE(window->playFile(file));
        EXPECT_EQ(sent, Commands{});
        EXPECT_EQ(window->Dir1->Path().toStdString(), music.path());
        EXPECT_EQ(window->File1->ListIndex(), 1);
    }
}

TEST_F(WindowTest, DragMovesOnlyWithTheLeftButtonAndMinimiseKeepsPlaying) {
    open();
    ASSERT_TRUE(play(0));
    auto send = [this](QEvent::Type type, QPoint at, Qt::MouseButton held) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : held;
        QMouseEvent event(type, at, window->Label1->mapToGlobal(at), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : held, {});
        QApplication::sendEvent(window->Label1, &event);
    };
    int compositorAsked = 0;
    window->setPlatformForTesting("xcb", [&] { return ++compositorAsked; });
    const QPoint start = window->pos();
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        send(QEvent::MouseButtonPress, {40, 7}, button);
        EXPECT_EQ(window->GrabPoint, QPointF(600, 105)) << "twips, whatever the button";
        send(QEvent::MouseMove, {90, 12}, button);
        EXPECT_EQ(window->pos(), start) << button;
        send(QEvent::MouseButtonRelease, {90, 12}, button);
    }
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

// Moving over each region colours the seven transport members, as the screen shows them, and
// rewrites the count line, here of a folder with one MP3 file among names that nearly match; a
// sentinel colour and caption tell "left alone" from "rewritten". A repaint rewrites it too.
TEST_F(WindowTest, WhatHoverColoursAndCounts) {
    std::filesystem::create_directories(music / "one/x.mp3");
    for (const char* name : {"only.MP3", "a.mp3x", "a.mp", "mp3", "a.mp3.bak", ".mp3"})
        ASSERT_TRUE(std::ofstream(music / "one/" + name));
    open(music / "one");
    enum { Grey = 1, Alone = 2 };
    const char *a = "(1) MP3 files in this directory", *b = "(1) mp3's in this dir", *none = "x";
    F* w = window.get();
    const QColor sentinel(0x56, 0x34, 0x12), highlight = QApplication::palette().color(QPalette::Base);
    // clang-format off
    const std::vector<std::tuple<const char*, QWidget*, QPoint, int, const char*>> rows = {
        {"window", w, {300, 150}, Grey, a},            {"line", w, {100, 192}, Grey, a},
        {"mute", w->Label4, {3, 3}, 4, b},             {"play", w->Label5, {3, 3}, 5, a},
        {"pause", w->Label6, {3, 3}, 6, a},            {"stop", w->Label7, {3, 3}, 7, a},
        {"next", w->Label8, {3, 3}, 8, none},          {"previous", w->Label9, {3, 3}, 9, a},
        {"count", w->Label10, {3, 3}, 10, none},       {"close", w->Label3, {3, 3}, Alone, a},
        {"directories", w->Dir1, {20, 10}, Alone, a},  {"files", w->File1, {20, 10}, Alone, b},
        {"title strip", w->Label1, {60, 5}, Alone, none}, {"minimise", w->Label2, {3, 3}, Alone, none},
        {"picture", w->Image1, {20, 20}, Alone, none},
    };
    // clang-format on
    platform::Label* const members[] = {w->Label4, w->Label5, w->Label6, w->Label7, w->Label8, w->Label9, w->Label10};
    for (const auto& [what, target, at, colours, count] : rows) {
        SCOPED_TRACE(what);
        for (platform::Label* l : members) l->setForeColor(0x123456);
        window->Label10->setCaption(none);
        QTest::mouseMove(w, target->mapTo(w, at));
        QApplication::processEvents();
        for (int m = 0; m < 7; ++m) {
            const QColor expected = colours == Alone ? sentinel : colours == m + 4 ? highlight : kGrey;
            EXPECT_TRUE(shows(members[m], expected)) << m + 4;
        }
        EXPECT_EQ(window->Label10->Caption(), count);
        QTest::mouseMove(window.get(), QPoint(340, 190));  // away, so the next move is a move
    }
    window->Label10->setCaption(none);
    window->repaint();
    EXPECT_EQ(window->Label10->Caption(), a) << "a repaint rewrites the count line";
}

// A 16-bit row number was the old platform's limit, not the program's: past row 32,767 every
// file is counted and reached, and plays by its own name.
TEST_F(WindowTest, EveryFileOfABigFolderIsCountedAndReached) {
    constexpr int kFiles = 32770;
    // In memory where there is a tmpfs: on a disk, making the files takes most of a minute.
    TempDir big(std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                          : std::filesystem::temp_directory_path().string());
    char name[16];
    for (int i = 0; i < kFiles; ++i) {
        std::snprintf(name, sizeof name, "f%05d.mp3", i);
        ASSERT_EQ(::close(::open((big / name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644)), 0);
    }
    open(big.path());
    EXPECT_EQ(window->File1->ListCount(), kFiles);
    QTest::mouseMove(window.get(), QPoint(3, 200));  // the count line follows the pointer
    EXPECT_TRUE(window->Label10->Caption().startsWith(QStringLiteral("(32770)"))) << "count line";
    window->File1->setListIndex(kFiles - 2);
    click(window->Label8);
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[2], "open " + platform::encodeShortPath(big / "f32769.mp3") + " type mpegvideo alias tivoran");
    EXPECT_EQ(window->File1->ListIndex(), kFiles - 1);
}

}  // namespace
}  // namespace korvel::test
