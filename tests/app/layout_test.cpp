#include <QFontInfo>
#include <QPalette>

#include "app/captions.h"
#include "platform/controls/colour.h"
#include "window_fixture.h"

namespace korvel::test {
namespace {

class LayoutTest : public WindowTest {};

TEST_F(LayoutTest, EveryControlSitsAtItsPlaceAndSize) {
    openWindow();
    const auto at = [&](auto member) { return static_cast<QWidget*>(window.get()->*member); };
    const std::vector<std::pair<QWidget*, QRect>> rows = {
        {at(&frmKORVEL::Dir1), QRect(160, 24, 169, 38)},
        {at(&frmKORVEL::File1), QRect(160, 64, 169, 72)},
        {at(&frmKORVEL::Image1), QRect(16, 32, 129, 73)},
        {at(&frmKORVEL::Label4), QRect(96, 136, 17, 17)},
        {at(&frmKORVEL::Label10), QRect(8, 168, 217, 17)},
        {at(&frmKORVEL::Label9), QRect(32, 112, 9, 17)},
        {at(&frmKORVEL::Label8), QRect(128, 112, 9, 17)},
        {at(&frmKORVEL::Label7), QRect(96, 112, 25, 17)},
        {at(&frmKORVEL::Label6), QRect(48, 112, 41, 17)},
        {at(&frmKORVEL::Label5), QRect(64, 136, 25, 17)},
        {at(&frmKORVEL::Line3), QRect(344, 8, 1, 201)},
        {at(&frmKORVEL::Line2), QRect(0, 192, 337, 1)},
        {at(&frmKORVEL::Line1), QRect(0, 0, 1, 161)},
        {at(&frmKORVEL::Label3), QRect(328, 0, 17, 17)},
        {at(&frmKORVEL::Label2), QRect(304, 0, 17, 17)},
        {at(&frmKORVEL::Label1), QRect(0, 0, 345, 17)},
    };
    for (const auto& [control, rect] : rows) {
        EXPECT_EQ(control->geometry(), rect) << control->metaObject()->className();
    }
}

TEST_F(LayoutTest, WindowIsFramelessBlackAndPlacedAsDesigned) {
    openWindow();
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->size(), QSize(347, 197));
    EXPECT_EQ(window->pos(), QPoint(172, 95));
    EXPECT_EQ(window->Left(), 2580.0f);
    EXPECT_EQ(window->Top(), 1425.0f);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Brisanova Mp3 Player"));
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(Qt::black));
    const QList<QSize> sizes = window->windowIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
}

struct LabelLook {
    platform::Label* frmKORVEL::*label;
    QString caption;
    QColor text;
    bool opaque;
    qreal points;
    bool bold;
};

TEST_F(LayoutTest, LabelsShowTheirCaptionsColoursAndFonts) {
    openWindow();
    const QColor white(255, 255, 255), grey(128, 128, 128), red(255, 0, 0), black(0, 0, 0);
    const std::vector<LabelLook> rows = {
        {&frmKORVEL::Label1, QString(16, ' ') + "Brisanova  MP3 Player", white, true, 8.25, true},
        {&frmKORVEL::Label2, "  _", red, true, 8.25, false},
        {&frmKORVEL::Label3, "  X", red, true, 9, true},
        {&frmKORVEL::Label4, " m", grey, false, 8.25, false},
        {&frmKORVEL::Label5, " play", white, false, 8.25, false},
        {&frmKORVEL::Label6, "  pause", white, false, 8.25, false},
        {&frmKORVEL::Label7, "stop", white, false, 8.25, false},
        {&frmKORVEL::Label8, ">", white, false, 8.25, false},
        {&frmKORVEL::Label9, "<", white, false, 8.25, false},
        {&frmKORVEL::Label10, "(0) MP3 files in this directory", black, false, 8.25, false},
    };
    for (const LabelLook& row : rows) {
        platform::Label* label = window.get()->*row.label;
        SCOPED_TRACE(row.caption.toStdString());
        EXPECT_EQ(label->Caption(), row.caption);
        EXPECT_EQ(label->palette().color(QPalette::WindowText), row.text);
        EXPECT_EQ(label->autoFillBackground(), row.opaque);
        if (row.opaque) {
            EXPECT_EQ(label->palette().color(QPalette::Window), black);
        }
        EXPECT_EQ(label->font().family(), QStringLiteral("Arial"));
        EXPECT_DOUBLE_EQ(label->font().pointSizeF(), row.points);
        EXPECT_EQ(label->font().bold(), row.bold);
    }
    EXPECT_EQ(window->Label1->Caption().size(), 37);
}

TEST_F(LayoutTest, ArialResolvesToAMetricCompatibleFont) {
    openWindow();
    const QString family = QFontInfo(window->Label5->font()).family();
    EXPECT_TRUE(family == "Arial" || family == "Liberation Sans") << family.toStdString();
}

TEST_F(LayoutTest, ListsUseTheirColours) {
    openWindow();
    EXPECT_EQ(window->Dir1->palette().color(QPalette::Base), QColor(0, 0, 128));
    EXPECT_EQ(window->Dir1->palette().color(QPalette::Text), QColor(0, 0, 0));
    EXPECT_EQ(window->File1->palette().color(QPalette::Base), QColor(0, 128, 128));
    EXPECT_EQ(window->File1->palette().color(QPalette::Text), QColor(255, 255, 255));
}

// Where controls overlap, the earlier one of the layout lies in front and takes the mouse.
TEST_F(LayoutTest, StackingPutsMinimiseAndCloseOverTheTitleStrip) {
    openWindow();
    EXPECT_EQ(window->childAt(310, 5), window->Label2);
    EXPECT_EQ(window->childAt(335, 5), window->Label3);
    EXPECT_EQ(window->childAt(100, 5), window->Label1);
    // Lines cover nothing: the title strip still takes the mouse where Line1 crosses it.
    EXPECT_EQ(window->childAt(0, 5), window->Label1);
    const QObjectList order = window->children();
    const auto depth = [&](QObject* o) { return order.indexOf(o); };
    EXPECT_GT(depth(window->Line1), depth(window->Label1));
    EXPECT_GT(depth(window->Dir1), depth(window->File1));
    EXPECT_GT(depth(window->File1), depth(window->Image1));
    EXPECT_GT(depth(window->Label4), depth(window->Label10));
}

TEST_F(LayoutTest, FileListHasTheFocusAndComesBeforeTheDirectoryList) {
    openWindow(false);
    window->activateWindow();
    EXPECT_EQ(QApplication::focusWidget(), window->File1);
    QTest::keyClick(window->File1, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), window->Dir1);
    for (platform::Label* l : {window->Label1, window->Label5, window->Label10}) {
        EXPECT_EQ(l->focusPolicy(), Qt::NoFocus);
    }
}

TEST_F(LayoutTest, CountCaptionHasTwoEndingsAndNoSingular) {
    addTone("only.mp3", kLow, 0.2);
    openWindow();
    EXPECT_EQ(window->CountCaption(frmKORVEL::Ending::A),
              QStringLiteral("(1) MP3 files in this directory"));
    EXPECT_EQ(window->CountCaption(frmKORVEL::Ending::B), QStringLiteral("(1) mp3's in this dir"));
}

}  // namespace
}  // namespace korvel::test
