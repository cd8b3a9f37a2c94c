#include "platform/controls/lists.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <limits>

#include "platform/controls/events.h"
#include "platform/files/files.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace platform {
namespace {

bool isEnter(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

std::string existingDirectory(const QString& path) {
    const std::string bytes = toAnsi(path);
    const std::string absolute = files::isDirectory(bytes) ? fs::absoluteDirectory(bytes) : "";
    if (absolute.empty()) {
        throw ControlError("no such directory");
    }
    return absolute;
}

}  // namespace

ListControl::ListControl(QWidget* parent) : QListWidget(parent) {
    setMouseTracking(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void ListControl::setColours(Colour back, Colour fore) {
    QPalette p = palette();
    p.setColor(QPalette::Base, toQColor(back));
    p.setColor(QPalette::Text, toQColor(fore));
    setPalette(p);
}

void ListControl::mouseMoveEvent(QMouseEvent* event) {
    QListWidget::mouseMoveEvent(event);
    // The viewport sits inside the control; the handlers want the control's own coordinates.
    const QPoint at = viewport()->mapTo(this, event->position().toPoint());
    raiseEvent([&] {
        emit MouseMove(buttonMask(event->buttons()), shiftMask(event->modifiers()), toTwips(at.x()),
                       toTwips(at.y()));
    });
}

DirListBox::DirListBox(QWidget* parent) : ListControl(parent) {
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { raiseEvent([&] { open(item); }); });
}

void DirListBox::setPath(const QString& path) {
    const QString absolute = fromAnsi(existingDirectory(path));
    if (absolute == path_) {
        return;
    }
    path_ = absolute;
    fill();
    emit Change();
}

// A row of the chain opens the directory it names; a subdirectory's row, the directory shown
// joined with its name (the two decode alike, as they meet at a "/").
void DirListBox::open(QListWidgetItem* item) {
    const int index = item != nullptr ? row(item) : -1;
    if (index < 0) {
        return;
    }
    const auto at = static_cast<std::size_t>(index);
    if (at < chain_.size()) {
        setPath(chain_[at]);
    } else if (at - chain_.size() < subdirectories_.size()) {
        setPath(fromAnsi(files::join(toAnsi(path_), toAnsi(subdirectories_[at - chain_.size()]))));
    }
}

void DirListBox::keyPressEvent(QKeyEvent* event) {
    if (isEnter(event)) {
        raiseEvent([&] { open(currentItem()); });
        return;
    }
    QListWidget::keyPressEvent(event);
}

void DirListBox::fill() {
    clear();
    chain_.clear();
    const std::string path = toAnsi(path_);
    QStringList rows;

    // The chain from the root down to the directory itself.
    rows.append(QStringLiteral("/"));
    chain_.push_back(QStringLiteral("/"));
    int level = 0;
    std::size_t start = 1;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        ++level;
        rows.append(QString(level, QChar(' ')) + fromAnsi(path.substr(start, end - start)));
        chain_.push_back(fromAnsi(path.substr(0, end)));
        start = end + 1;
    }

    fs::Listing listing = fs::list(path, fs::Pattern(toAnsi(filePattern_)));
    subdirectories_.clear();
    for (const std::string& name : listing.subdirectories) {
        subdirectories_.push_back(fromAnsi(name));
    }
    files_ = std::move(listing.files);
    fs::sortNaturally(subdirectories_);
    const QString indent(level + 1, QChar(' '));
    rows.reserve(rows.size() + static_cast<qsizetype>(subdirectories_.size()));
    for (const QString& name : subdirectories_) {
        rows.append(indent + name);
    }
    // All rows in one insertion: one by one, the view would lay itself out again for each.
    addItems(rows);
    QListWidgetItem* current = item(level);
    setCurrentItem(current);
    scrollToItem(current, QAbstractItemView::PositionAtTop);
}

FileListBox::FileListBox(QWidget* parent) : ListControl(parent) {
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem*) { raiseEvent([&] { emit DblClick(); }); });
}

void FileListBox::setPath(const QString& path) {
    const std::string directory = existingDirectory(path);
    fill(directory, fs::list(directory, fs::Pattern(toAnsi(pattern_))).files);
}

void FileListBox::setPath(const QString& path, std::vector<std::string> files) {
    fill(existingDirectory(path), std::move(files));
}

void FileListBox::fill(const std::string& directory, std::vector<std::string> files) {
    path_ = fromAnsi(directory);
    std::vector<QString> names;
    names.reserve(files.size());
    for (const std::string& name : files) {
        names.push_back(fromAnsi(name));
    }
    fs::sortNaturally(names);
    clear();
    // All rows in one insertion: one by one, the view would lay itself out again for each.
    QStringList rows;
    rows.reserve(static_cast<qsizetype>(names.size()));
    for (QString& name : names) {
        rows.append(std::move(name));
    }
    addItems(rows);
    setCurrentIndex(QModelIndex());
    clearSelection();
}

int FileListBox::ListCount() const {
    return count();
}

int FileListBox::ListIndex() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) {
        return -1;
    }
    return row(selected.first());
}

void FileListBox::setListIndex(int index) {
    if (index < -1 || index >= ListCount()) {
        throw ControlError("list index out of range");
    }
    if (index == -1) {
        setCurrentIndex(QModelIndex());
        clearSelection();
        return;
    }
    setCurrentRow(index);
    scrollToItem(item(index));
}

QString FileListBox::FileName() const {
    const int index = ListIndex();
    return index < 0 ? QString() : item(index)->text();
}

void FileListBox::keyPressEvent(QKeyEvent* event) {
    if (isEnter(event) && ListIndex() >= 0) {
        raiseEvent([&] { emit DblClick(); });
        return;
    }
    QListWidget::keyPressEvent(event);
}

}  // namespace platform
