#include "app/frmKORVEL.h"

#include <unistd.h>

#include <QFont>
#include <QShortcut>
#include <cstdio>

#include "app/captions.h"
#include "app/icon.h"
#include "platform/controls/events.h"
#include "platform/files/files.h"
#include "platform/fs.h"
#include "platform/program.h"
#include "platform/text.h"
#include "playback/tivoran_playback.h"
#include "settings/tivoran_settings.h"

using platform::Label;

namespace {

QFont arial(qreal points, QFont::Weight weight) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

// A directory the lists can show: it exists and its entries can be read.
bool canOpen(const std::string& directory) {
    return platform::files::isDirectory(directory) && access(directory.c_str(), R_OK | X_OK) == 0;
}

}  // namespace

frmKORVEL::frmKORVEL(QWidget* parent) : platform::Form(parent) {
    createControls();
    connectHandlers();
    connectKeys();
    // The lists start where the process is, or at "/" where that cannot be named.
    platform::raiseEvent(
        [this] { Dir1->setPath(platform::fromAnsi(platform::currentDirectory().value_or("/"))); });
    platform::raiseEvent([this] { Form_Load(); });
}

void frmKORVEL::createControls() {
    setWindowTitle(captions::kWindowTitle);
    setWindowIcon(korvelIcon());
    setFont(arial(8.25, QFont::Normal));
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    setAutoFillBackground(true);
    setClientTwips(5205, 2955);
    move(platform::toPixels(2580), platform::toPixels(1425));

    // The buttons' names are what an assistive tool reads out, in words.
    auto label = [this](const QString& caption, int left, int top, int width, int height,
                        platform::Colour fore, Label::Namer nameOf = {}) {
        auto* l = new Label(this, caption, std::move(nameOf));
        platform::placeInTwips(*l, left, top, width, height);
        l->setForeColor(fore);
        return l;
    };
    auto named = [](const char* name) { return [name](const QString&) { return QString(name); }; };
    Label1 = label(captions::kTitle, 0, 0, 5175, 255, colours::kWhite);
    Label1->setOpaqueBackColor(colours::kBlack);
    Label1->setFont(arial(8.25, QFont::Bold));
    Label2 = label(captions::kMinimise, 4560, 0, 255, 255, colours::kRed, named("Minimise"));
    Label2->setOpaqueBackColor(colours::kBlack);
    Label3 = label(captions::kClose, 4920, 0, 255, 255, colours::kRed, named("Close"));
    Label3->setOpaqueBackColor(colours::kBlack);
    Label3->setFont(arial(9, QFont::Bold));
    Line1 = new platform::Line(this, 0, 0, 0, 2400, platform::COLOR_WINDOWTEXT);
    Line2 = new platform::Line(this, 0, 2880, 5040, 2880, platform::COLOR_WINDOWTEXT);
    Line3 = new platform::Line(this, 5160, 120, 5160, 3120, platform::COLOR_WINDOWTEXT);
    Label5 = label(captions::kPlay, 960, 2040, 375, 255, colours::kWhite, named("Play"));
    Label6 = label(captions::kPause, 720, 1680, 615, 255, colours::kWhite, [](const QString& c) {
        return QString(c == captions::kPause ? "Pause" : "Resume");
    });
    Label7 = label(captions::kStop, 1440, 1680, 375, 255, colours::kWhite, named("Stop"));
    Label8 = label(captions::kNext, 1920, 1680, 135, 255, colours::kWhite, named("Next"));
    Label9 = label(captions::kPrevious, 480, 1680, 135, 255, colours::kWhite, named("Previous"));
    Label10 = label(QString(), 120, 2520, 3255, 255, colours::kBlack);
    Label4 = label(captions::kMute, 1440, 2040, 255, 255, colours::kGrey, [](const QString& c) {
        return QString(c == captions::kMute ? "Mute" : "Unmute");
    });
    Image1 = new platform::Image(this);
    platform::placeInTwips(*Image1, 240, 480, 1935, 1095);
    File1 = new platform::FileListBox(this);
    platform::placeInTwips(*File1, 2400, 960, 2535, 1080);
    File1->setColours(colours::kTeal, colours::kWhite);
    File1->setPattern(captions::kFilePattern);
    Dir1 = new platform::DirListBox(this);
    platform::placeInTwips(*Dir1, 2400, 360, 2535, 570);
    Dir1->setColours(colours::kNavy, colours::kBlack);
    Dir1->setFilePattern(captions::kFilePattern);
    Dir1->setAccessibleName(QStringLiteral("Folders"));
    File1->setAccessibleName(QStringLiteral("MP3 files"));

    // Each control was made above the ones before it, so the first made lies at the back.
    setTabOrder(File1, Dir1);
    File1->setFocus();
}

void frmKORVEL::connectHandlers() {
    using F = frmKORVEL;
    connect(this, &Form::Paint, this, &F::Form_Paint);
    connect(this, &Form::MouseMove, this, &F::Form_MouseMove);
    connect(this, &Form::Unload, this, &F::Form_Unload);
    connect(Dir1, &platform::DirListBox::Change, this, &F::Dir1_Change);
    connect(Dir1, &platform::ListControl::MouseMove, this, &F::Dir1_MouseMove);
    connect(File1, &platform::FileListBox::DblClick, this, &F::File1_DblClick);
    connect(File1, &platform::ListControl::MouseMove, this, &F::File1_MouseMove);
    connect(Label1, &Label::MouseDown, this, &F::Label1_MouseDown);
    connect(Label1, &Label::MouseMove, this, &F::Label1_MouseMove);
    connect(Label2, &Label::Click, this, &F::Label2_Click);
    connect(Label3, &Label::Click, this, &F::Label3_Click);
    connect(Label3, &Label::MouseMove, this, &F::Label3_MouseMove);
    connect(Label4, &Label::Click, this, &F::Label4_Click);
    connect(Label4, &Label::MouseMove, this, &F::Label4_MouseMove);
    connect(Label5, &Label::Click, this, &F::Label5_Click);
    connect(Label5, &Label::MouseMove, this, &F::Label5_MouseMove);
    connect(Label6, &Label::Click, this, &F::Label6_Click);
    connect(Label6, &Label::MouseMove, this, &F::Label6_MouseMove);
    connect(Label7, &Label::Click, this, &F::Label7_Click);
    connect(Label7, &Label::MouseMove, this, &F::Label7_MouseMove);
    connect(Label8, &Label::Click, this, &F::Label8_Click);
    connect(Label8, &Label::MouseMove, this, &F::Label8_MouseMove);
    connect(Label9, &Label::Click, this, &F::Label9_Click);
    connect(Label9, &Label::MouseMove, this, &F::Label9_MouseMove);
    connect(Label10, &Label::MouseMove, this, &F::Label10_MouseMove);
}

// The keys press the labels, whichever list has the focus: a shortcut comes before the list's own
// use of the key (a letter jumps to an entry, Space selects one). Held down, a key presses once.
void frmKORVEL::connectKeys() {
    const std::pair<QKeySequence, Label*> keys[] = {
        {Qt::Key_Z, Label9}, {Qt::Key_X, Label5},
        {Qt::Key_C, Label6}, {Qt::Key_Space, Label6},
        {Qt::Key_V, Label7}, {Qt::Key_B, Label8},
        {Qt::Key_M, Label4}, {Qt::CTRL | Qt::Key_Q, Label3},
    };
    for (const auto& [key, label] : keys) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setAutoRepeat(false);
        connect(shortcut, &QShortcut::activated, label, &Label::click);
    }
}

QString frmKORVEL::CountCaption(Ending ending) const {
    return QStringLiteral("(") + QString::number(File1->ListCount()) +
           (ending == Ending::Full ? captions::kEndingFull : captions::kEndingShort);
}

// Load and unload.

void frmKORVEL::Form_Load() {
    const QString remembered = Tivoran::IniRead(captions::kSettingsSection, captions::kSettingsKey,
                                                Tivoran::SettingsFile());
    if (!remembered.isEmpty()) {
        openRemembered(remembered);
    }
    Label10->setCaption(CountCaption(Ending::Full));
}

// A remembered directory may have gone since: open the nearest one above it that can still be
// opened, and where none can, keep the lists where they started.
void frmKORVEL::openRemembered(const QString& directory) {
    std::string candidate = platform::toAnsi(directory);
    while (!candidate.empty() && candidate[0] == '/') {
        if (canOpen(candidate)) {
            Dir1->setPath(platform::fromAnsi(candidate));
            return;
        }
        if (candidate == "/") {
            return;
        }
        candidate = platform::files::parentOf(candidate);
    }
}

void frmKORVEL::Form_Unload() {
    const QString file = Tivoran::SettingsFile();
    const QString refused =
        Tivoran::IniWrite(captions::kSettingsSection, captions::kSettingsKey, Dir1->Path(), file);
    // A save that was not made is told, as the next start will show another folder than this one.
    if (!refused.isEmpty()) {
        const std::string where = file.isEmpty() ? std::string() : platform::toAnsi(file) + ": ";
        std::fprintf(stderr, "korvel: the folder shown was not remembered: %s\n",
                     platform::printable(where + platform::toAnsi(refused)).c_str());
    }
    Tivoran::MciStopAll();
    endProgram();
}

// Browsing and playing.

void frmKORVEL::Dir1_Change() {
    File1->setPath(Dir1->Path(), Dir1->Files());
}

void frmKORVEL::File1_DblClick() {
    playSelected(QStringLiteral("\\"));
}

void frmKORVEL::Label5_Click() {
    playSelected(QStringLiteral("\\"));
}

// A newly started file is never shown as paused, and starts muted while the mute caption says so.
void frmKORVEL::playSelected(const QString& separator) {
    if (Label6->Caption() == captions::kResume) {
        Label6->setCaption(captions::kPause);
    }
    Tivoran::MciPlayFile(Dir1->Path() + separator + File1->FileName(),
                         Label4->Caption() == captions::kUnmute);
}

// Transport.

void frmKORVEL::Label6_Click() {
    pauseOrResume(Label6->Caption() == captions::kPause);
}

// With a file selected: pauses or resumes, and shows the caption that does the other.
void frmKORVEL::pauseOrResume(bool pause) {
    if (File1->FileName().isEmpty()) {
        return;
    }
    Tivoran::MciSetPause(pause ? Tivoran::kTrue : Tivoran::kFalse);
    Label6->setCaption(pause ? captions::kResume : captions::kPause);
}

// A stopped device is not paused, so the pause caption goes back to "pause".
void frmKORVEL::Label7_Click() {
    if (!File1->FileName().isEmpty()) {
        Tivoran::MciStopAll();
        Label6->setCaption(captions::kPause);
    }
}

void frmKORVEL::Label8_Click() {
    const int last = File1->ListCount() - 1;
    if (File1->ListIndex() == last) {
        return;
    }
    File1->setListIndex(File1->ListIndex() + 1);
    playSelected(QStringLiteral("/"));
}

// With nothing selected there is no previous file.
void frmKORVEL::Label9_Click() {
    if (File1->ListIndex() <= 0) {
        return;
    }
    File1->setListIndex(File1->ListIndex() - 1);
    playSelected(QStringLiteral("/"));
}

void frmKORVEL::Label4_Click() {
    if (Label4->Caption() == captions::kMute) {
        Tivoran::MciSetMute(Tivoran::kTrue);
        Label4->setCaption(captions::kUnmute);
    } else {
        Tivoran::MciSetMute(Tivoran::kFalse);
        Label4->setCaption(captions::kMute);
    }
}

// Chrome.

// Where only the compositor may move the window, it follows the pointer from here on.
void frmKORVEL::Label1_MouseDown(std::int16_t button, std::int16_t, float x, float y) {
    GrabPoint = QPointF(x, y);
    if ((button & 1) != 0) {
        moveWithPointer();
    }
}

void frmKORVEL::Label1_MouseMove(std::int16_t button, std::int16_t, float x, float y) {
    if ((button & 1) == 0) {
        return;
    }
    setLeft(Left() + x - static_cast<float>(GrabPoint.x()));
    setTop(Top() + y - static_cast<float>(GrabPoint.y()));
}

void frmKORVEL::Label2_Click() {
    setWindowStateValue(kMinimised);
}

void frmKORVEL::Label3_Click() {
    unloadWindow();
}

// Hover highlighting and the count line: colours first, the caption last, on every event.

void frmKORVEL::highlight(Label* member) {
    for (Label* l : {Label4, Label5, Label6, Label7, Label8, Label9, Label10}) {
        l->setForeColor(l == member ? colours::kHighlight : colours::kGrey);
    }
}

void frmKORVEL::Form_Paint() {
    Label10->setCaption(CountCaption(Ending::Full));
}

void frmKORVEL::Form_MouseMove(std::int16_t, std::int16_t, float, float) {
    highlight(nullptr);
    Label10->setCaption(CountCaption(Ending::Full));
}

void frmKORVEL::Label4_MouseMove(std::int16_t, std::int16_t, float, float) {
    highlight(Label4);
    Label10->setCaption(CountCaption(Ending::Short));
}

void frmKORVEL::Label5_MouseMove(std::int16_t, std::int16_t, float, float) {
    highlight(Label5);
    Label10->setCaption(CountCaption(Ending::Full));
}

void frmKORVEL::Label6_MouseMove(std::int16_t, std::int16_t, float, float) {
    highlight(Label6);
    Label10->setCaption(CountCaption(Ending::Full));
}

void frmKORVEL::Label7_MouseMove(std::int16_t, std::int16_t, float, float) {
    highlight(Label7);
    Label10->setCaption(CountCaption(Ending::Full));
}

void frmKORVEL::Label8_MouseMove(std::int16_t, std::int16_t, float, float) {
    highlight(Label8);
}

void frmKORVEL::Label9_MouseMove(std::int16_t, std::int16_t, float, float) {
    highlight(Label9);
    Label10->setCaption(CountCaption(Ending::Full));
}

void frmKORVEL::Label10_MouseMove(std::int16_t, std::int16_t, float, float) {
    highlight(Label10);
}

void frmKORVEL::Label3_MouseMove(std::int16_t, std::int16_t, float, float) {
    Label10->setCaption(CountCaption(Ending::Full));
}

void frmKORVEL::Dir1_MouseMove(std::int16_t, std::int16_t, float, float) {
    Label10->setCaption(CountCaption(Ending::Full));
}

void frmKORVEL::File1_MouseMove(std::int16_t, std::int16_t, float, float) {
    Label10->setCaption(CountCaption(Ending::Short));
}

// What the ways in from outside may do and see.

// Shows `folder` in both lists; false, with the lists as they were, when they cannot show it.
bool frmKORVEL::showFolder(const QString& folder) {
    try {
        Dir1->setPath(folder);
        // The folder may be the one shown already, with files added since.
        File1->setPath(folder);
        return true;
    } catch (const platform::ControlError&) {
        return false;
    }
}

int frmKORVEL::rowNamed(const std::string& name) const {
    for (int i = 0; i < File1->ListCount(); ++i) {
        if (platform::toAnsi(File1->item(i)->text()) == name) {
            return i;
        }
    }
    return -1;
}

bool frmKORVEL::openFolder(const std::string& folder) {
    return showFolder(platform::fromAnsi(folder));
}

bool frmKORVEL::playFile(const std::string& file) {
    const std::string name = platform::files::nameOf(file);
    const QString before = Dir1->Path();
    const std::string selected = platform::toAnsi(File1->FileName());
    if (!showFolder(platform::fromAnsi(platform::files::parentOf(file)))) {
        return false;
    }
    if (const int row = rowNamed(name); row >= 0) {
        File1->setListIndex(row);
        platform::raiseEvent([this] { File1_DblClick(); });
        return true;
    }
    // The file went since it was found: the window goes back to where it was, with the file that
    // was selected, and the caller hears of it.
    if (showFolder(before) && !selected.empty()) {
        if (const int row = rowNamed(selected); row >= 0) {
            File1->setListIndex(row);
        }
    }
    return false;
}

void frmKORVEL::setMuted(bool muted) {
    if (selection().muted != muted) {
        Label4_Click();
    }
}

void frmKORVEL::raise() {
    show();
    QWidget::setWindowState(windowState() & ~Qt::WindowMinimized);
    QWidget::raise();
    activateWindow();
}

Remote::Selection frmKORVEL::selection() const {
    const bool file = !File1->FileName().isEmpty();
    return {file, file && File1->ListIndex() < File1->ListCount() - 1, File1->ListIndex() > 0,
            Label4->Caption() == captions::kUnmute};
}

platform::mci::DeviceStatus frmKORVEL::heard() const {
    return platform::mci::deviceStatus();
}

// Every media command, a file that ends and an output that fails tell the media layer's
// notifier; the file list tells of what is selected and listed.
void frmKORVEL::watch(std::function<void()> changed) {
    platform::mci::setChangeNotifier(changed);
    delete std::exchange(watching_, nullptr);
    if (!changed) {
        return;
    }
    watching_ = new QObject(this);
    const auto tell = [changed] { changed(); };
    connect(File1, &QListWidget::itemSelectionChanged, watching_, tell);
    connect(File1->model(), &QAbstractItemModel::modelReset, watching_, tell);
    connect(File1->model(), &QAbstractItemModel::rowsInserted, watching_, tell);
    connect(File1->model(), &QAbstractItemModel::rowsRemoved, watching_, tell);
}
