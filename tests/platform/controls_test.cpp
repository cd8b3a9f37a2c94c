#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "platform/controls/colour.h"
#include "platform/controls/events.h"
#include "platform/controls/form.h"
#include "platform/controls/label.h"
#include "platform/controls/lists.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace korvel::test {
namespace {

using platform::ControlError;

void touch(const std::string& path) {
    std::ofstream file(path);
    ASSERT_TRUE(file.good()) << "cannot make " << path;
}

class ControlsTest : public testing::Test {
  protected:
    void SetUp() override {
        form.resize(400, 300);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
    platform::Form form;
};

// What reaches the window's handlers from a label, for each way the user can press on it.
struct ClickCase {
    const char* name;
    std::function<void(QWidget*)> act;
    int clicks;
};

TEST_F(ControlsTest, LabelRaisesClickOnlyForLeftPressAndReleaseOnIt) {
    const std::vector<ClickCase> rows = {
        {"left click",
         [](QWidget* w) {
             QTest::mouseClick(w, Qt::LeftButton, {}, {2, 2});
         },
         1},
        {"right click",
         [](QWidget* w) {
             QTest::mouseClick(w, Qt::RightButton, {}, {2, 2});
         },
         0},
        {"middle click",
         [](QWidget* w) {
             QTest::mouseClick(w, Qt::MiddleButton, {}, {2, 2});
         },
         0},
        {"double click: both clicks count",
         [](QWidget* w) {
             QTest::mouseDClick(w, Qt::LeftButton, {}, {2, 2});
         },
         2},
        {"released outside the label",
         [](QWidget* w) {
             QTest::mousePress(w, Qt::LeftButton, {}, {2, 2});
             QTest::mouseRelease(w, Qt::LeftButton, {}, {200, 2});
         },
         0},
    };
    for (const ClickCase& row : rows) {
        SCOPED_TRACE(row.name);
        platform::Label label(&form, "x");
        label.setGeometry(10, 10, 40, 17);
        label.show();
        QSignalSpy clicks(&label, &platform::Label::Click);
        row.act(&label);
        EXPECT_EQ(clicks.count(), row.clicks);
    }
}

TEST_F(ControlsTest, LabelMouseEventsCarryMasksAndTwipsAndStayOffTheWindow) {
    platform::Label label(&form, "x");
    label.setGeometry(10, 10, 40, 17);
    label.show();
    QSignalSpy downs(&label, &platform::Label::MouseDown);
    QSignalSpy moves(&label, &platform::Label::MouseMove);
    QSignalSpy formMoves(&form, &platform::Form::MouseMove);

    QTest::mousePress(&label, Qt::RightButton, Qt::ShiftModifier, {3, 4});
    ASSERT_EQ(downs.count(), 1);
    EXPECT_EQ(downs[0][0].value<std::int16_t>(), 2);  // right button
    EXPECT_EQ(downs[0][1].value<std::int16_t>(), 1);  // shift
    EXPECT_EQ(downs[0][2].toFloat(), 45.0f);
    EXPECT_EQ(downs[0][3].toFloat(), 60.0f);
    QTest::mouseRelease(&label, Qt::RightButton, {}, {3, 4});

    QTest::mouseMove(&form, QPoint(15, 12));
    QApplication::processEvents();
    ASSERT_GE(moves.count(), 1);
    EXPECT_EQ(moves.last()[2].toFloat(), 75.0f);
    EXPECT_EQ(moves.last()[3].toFloat(), 30.0f);
    EXPECT_EQ(formMoves.count(), 0) << "the window saw a move that was over the label";

    QTest::mouseMove(&form, QPoint(200, 200));
    QApplication::processEvents();
    EXPECT_GE(formMoves.count(), 1) << "the bare window saw no move";
}

TEST_F(ControlsTest, AFailingHandlerEndsOnlyItself) {
    platform::Label label(&form, "x");
    label.setGeometry(10, 10, 40, 17);
    label.show();
    int after = 0;
    QObject::connect(&label, &platform::Label::Click, [] { throw ControlError("refused"); });
    QTest::mouseClick(&label, Qt::LeftButton, {}, {2, 2});
    QObject::connect(&label, &platform::Label::Click, [&] { ++after; });
    QTest::mouseClick(&label, Qt::LeftButton, {}, {2, 2});
    EXPECT_EQ(after, 0);  // the first handler still fails, and ends that event only
    EXPECT_TRUE(label.isVisible());
}

TEST(ColourTest, ColoursAreBgrAndSystemColoursComeFromThePalette) {
    EXPECT_EQ(platform::toQColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(platform::toQColor(0x800000), QColor(0, 0, 128));
    EXPECT_EQ(platform::toQColor(0x808000), QColor(0, 128, 128));
    EXPECT_EQ(platform::toQColor(platform::COLOR_WINDOW),
              QGuiApplication::palette().color(QPalette::Base));
    EXPECT_EQ(platform::toQColor(platform::COLOR_WINDOWTEXT),
              QGuiApplication::palette().color(QPalette::WindowText));
}

class FileListTest : public ControlsTest {
  protected:
    void SetUp() override {
        ControlsTest::SetUp();
        for (const char* name : {"track10.mp3", "Track2.mp3", "SONG.MP3", ".hidden.mp3",
                                 "notes.txt", "mp3", "caf\xE9.mp3"}) {
            touch(dir / name);
        }
        std::filesystem::create_directory(dir / "folder.mp3");
        list = new platform::FileListBox(&form);
        list->setPattern("*.mp3");
        list->setGeometry(0, 0, 300, 200);
        list->show();
    }
    TempDir dir;
    platform::FileListBox* list = nullptr;
};

TEST_F(FileListTest, ListsMatchingFilesInNaturalOrder) {
    list->setPath(QString::fromStdString(dir.path()));
    std::vector<std::string> shown;
    for (int i = 0; i < list->count(); ++i) {
        shown.push_back(platform::toAnsi(list->item(i)->text()));
    }
    EXPECT_EQ(shown,
              (std::vector<std::string>{"caf\xE9.mp3", "SONG.MP3", "Track2.mp3", "track10.mp3"}));
    EXPECT_EQ(list->ListCount(), 4);
}

TEST_F(FileListTest, SelectionIndexIsCheckedAndNamesRoundTrip) {
    list->setPath(QString::fromStdString(dir.path()));
    EXPECT_EQ(list->ListIndex(), -1);
    EXPECT_TRUE(list->FileName().isEmpty());
    for (std::int16_t bad : {std::int16_t{-2}, std::int16_t{4}, std::int16_t{32767}}) {
        EXPECT_THROW(list->setListIndex(bad), ControlError) << bad;
    }
    list->setListIndex(0);
    EXPECT_EQ(platform::toAnsi(list->FileName()), "caf\xE9.mp3");
    list->setListIndex(3);
    EXPECT_EQ(list->FileName(), QStringLiteral("track10.mp3"));
    list->setPath(QString::fromStdString(dir.path()));
    EXPECT_EQ(list->ListIndex(), -1) << "setting Path must clear the selection";
}

TEST_F(FileListTest, MissingDirectoryIsRefusedAndTheListKept) {
    list->setPath(QString::fromStdString(dir.path()));
    EXPECT_THROW(list->setPath(QString::fromStdString(dir / "gone")), ControlError);
    EXPECT_EQ(list->ListCount(), 4);
}

TEST_F(FileListTest, DoubleClickAndEnterRaiseDblClick) {
    list->setPath(QString::fromStdString(dir.path()));
    QSignalSpy dbl(list, &platform::FileListBox::DblClick);
    const QPoint at = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(dbl.count(), 0);
    EXPECT_EQ(list->ListIndex(), 1);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(dbl.count(), 1);
    EXPECT_EQ(list->ListIndex(), 1);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(dbl.count(), 2);
}

class DirListTest : public ControlsTest {
  protected:
    void SetUp() override {
        ControlsTest::SetUp();
        for (const char* name : {"b10", "B2", "a", ".git"}) {
            std::filesystem::create_directory(dir / name);
        }
        touch(dir / "file.mp3");
        list = new platform::DirListBox(&form);
        list->setGeometry(0, 0, 300, 200);
        list->show();
    }
    std::vector<QString> entries() const {
        std::vector<QString> out;
        for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().trimmed());
        return out;
    }
    TempDir dir;
    platform::DirListBox* list = nullptr;
};

TEST_F(DirListTest, ShowsTheChainFromRootThenSortedSubdirectories) {
    list->setPath(QString::fromStdString(dir.path()));
    std::vector<QString> expected = {"/"};
    for (const auto& part : std::filesystem::path(dir.path())) {
        if (part != "/")
            expected.push_back(QString::fromStdString(part.string()));
    }
    expected.insert(expected.end(), {"a", "B2", "b10"});
    EXPECT_EQ(entries(), expected);
}

TEST_F(DirListTest, ChangeIsRaisedOnlyWhenThePathChanges) {
    QSignalSpy change(list, &platform::DirListBox::Change);
    list->setPath(QString::fromStdString(dir.path()));
    list->setPath(QString::fromStdString(dir.path() + "/"));
    EXPECT_EQ(change.count(), 1);
    EXPECT_THROW(list->setPath(QString::fromStdString(dir / "gone")), ControlError);
    EXPECT_THROW(list->setPath(QString::fromStdString(dir / "file.mp3")), ControlError);
    EXPECT_EQ(list->Path().toStdString(), dir.path());
    EXPECT_EQ(change.count(), 1);
}

TEST_F(DirListTest, DoubleClickOrEnterOpensAnEntry) {
    list->setPath(QString::fromStdString(dir.path()));
    QSignalSpy change(list, &platform::DirListBox::Change);
    const auto sub = list->findItems("b10", Qt::MatchEndsWith);
    ASSERT_EQ(sub.size(), 1);
    const QPoint at = list->visualItemRect(sub.first()).center();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(list->Path().toStdString(), dir / "b10");
    EXPECT_EQ(change.count(), 1);

    // The parent is on the chain above: select it and press Enter.
    const int parentRow = list->count() - 2;
    list->setCurrentRow(parentRow);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(list->Path().toStdString(), dir.path());
    EXPECT_EQ(change.count(), 2);
}

}  // namespace
}  // namespace korvel::test
