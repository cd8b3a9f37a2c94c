#include "app/captions.h"
#include "platform/controls/colour.h"
#include "window_fixture.h"

namespace korvel::test {
namespace {

constexpr platform::Colour kSentinel = 0x123456;  // no handler ever sets it
const QString kUntouched = QStringLiteral("untouched");

enum class Colours { AllGrey, Highlight, Unchanged };
enum class Count { A, B, NotRewritten };

struct HoverCase {
    const char* name;
    std::function<QWidget*(frmKORVEL&)> target;  // what the pointer moves over
    QPoint at;                                   // where, inside the target
    Colours colours;
    platform::Label* frmKORVEL::*highlighted;
    Count count;
};

class HoverTest : public WindowTest {
  protected:
    std::vector<platform::Label*> members() const {
        return {window->Label4, window->Label5, window->Label6, window->Label7,
                window->Label8, window->Label9, window->Label10};
    }
    // Marks every member and the count line, so that "unchanged" can be told from "rewritten".
    void mark() {
        for (platform::Label* l : members()) l->setForeColor(kSentinel);
        window->Label10->setCaption(kUntouched);
    }
};

TEST_F(HoverTest, EachHandlerColoursTheMembersAndWritesTheCountLine) {
    addTone("a.mp3", kLow, 0.2);
    addTone("b.mp3", kMid, 0.2);
    openWindow();
    const auto self = [](frmKORVEL& w) -> QWidget* { return &w; };
    const std::vector<HoverCase> rows = {
        {"bare window", self, {300, 150}, Colours::AllGrey, nullptr, Count::A},
        {"a line", self, {100, 192}, Colours::AllGrey, nullptr, Count::A},
        {"mute",
         [](frmKORVEL& w) { return w.Label4; },
         {3, 3},
         Colours::Highlight,
         &frmKORVEL::Label4,
         Count::B},
        {"play",
         [](frmKORVEL& w) { return w.Label5; },
         {3, 3},
         Colours::Highlight,
         &frmKORVEL::Label5,
         Count::A},
        {"pause",
         [](frmKORVEL& w) { return w.Label6; },
         {3, 3},
         Colours::Highlight,
         &frmKORVEL::Label6,
         Count::A},
        {"stop",
         [](frmKORVEL& w) { return w.Label7; },
         {3, 3},
         Colours::Highlight,
         &frmKORVEL::Label7,
         Count::A},
        {"next",
         [](frmKORVEL& w) { return w.Label8; },
         {3, 3},
         Colours::Highlight,
         &frmKORVEL::Label8,
         Count::NotRewritten},
        {"previous",
         [](frmKORVEL& w) { return w.Label9; },
         {3, 3},
         Colours::Highlight,
         &frmKORVEL::Label9,
         Count::A},
        {"count line",
         [](frmKORVEL& w) { return w.Label10; },
         {3, 3},
         Colours::Highlight,
         &frmKORVEL::Label10,
         Count::NotRewritten},
        {"close",
         [](frmKORVEL& w) { return w.Label3; },
         {3, 3},
         Colours::Unchanged,
         nullptr,
         Count::A},
        {"directory list",
         [](frmKORVEL& w) { return w.Dir1; },
         {20, 10},
         Colours::Unchanged,
         nullptr,
         Count::A},
        {"file list",
         [](frmKORVEL& w) { return w.File1; },
         {20, 10},
         Colours::Unchanged,
         nullptr,
         Count::B},
        {"title strip",
         [](frmKORVEL& w) { return w.Label1; },
         {60, 5},
         Colours::Unchanged,
         nullptr,
         Count::NotRewritten},
        {"minimise",
         [](frmKORVEL& w) { return w.Label2; },
         {3, 3},
         Colours::Unchanged,
         nullptr,
         Count::NotRewritten},
        {"image area",
         [](frmKORVEL& w) { return w.Image1; },
         {30, 30},
         Colours::Unchanged,
         nullptr,
         Count::NotRewritten},
    };
    const QColor grey(128, 128, 128);
    const QColor highlight = platform::toQColor(platform::COLOR_WINDOW);
    const QColor sentinel = platform::toQColor(kSentinel);
    for (const HoverCase& row : rows) {
        SCOPED_TRACE(row.name);
        QTest::mouseMove(window.get(), QPoint(340, 190));  // somewhere else first
        mark();
        hover(row.target(*window), row.at);
        for (platform::Label* l : members()) {
            QColor expected = sentinel;
            if (row.colours == Colours::AllGrey)
                expected = grey;
            if (row.colours == Colours::Highlight) {
                expected = l == window.get()->*row.highlighted ? highlight : grey;
            }
            EXPECT_EQ(l->palette().color(QPalette::WindowText), expected)
                << l->Caption().toStdString();
        }
        const QString count = row.count == Count::A   ? "(2) MP3 files in this directory"
                              : row.count == Count::B ? "(2) mp3's in this dir"
                                                      : kUntouched;
        EXPECT_EQ(window->Label10->Caption(), count);
    }
}

TEST_F(HoverTest, ARepaintRewritesTheCountLineOnly) {
    addTone("a.mp3", kLow, 0.2);
    openWindow();
    mark();
    window->repaint();
    EXPECT_EQ(window->Label10->Caption(), QStringLiteral("(1) MP3 files in this directory"));
    EXPECT_EQ(window->Label5->palette().color(QPalette::WindowText), platform::toQColor(kSentinel));
}

TEST_F(HoverTest, TheCountFollowsADirectoryChangeOnTheNextMove) {
    addTone("a.mp3", kLow, 0.2);
    openWindow();
    hover(window->Label5);
    EXPECT_EQ(window->Label10->Caption(), QStringLiteral("(1) MP3 files in this directory"));
    TempDir other;
    writeToneMp3(other / "x.mp3", kLow, 0.2);
    writeToneMp3(other / "y.mp3", kLow, 0.2);
    writeToneMp3(other / "z.mp3", kLow, 0.2);
    window->Dir1->setPath(QString::fromStdString(other.path()));
    hover(window->Dir1, {20, 10});
    EXPECT_EQ(window->Label10->Caption(), QStringLiteral("(3) MP3 files in this directory"));
}

}  // namespace
}  // namespace korvel::test
