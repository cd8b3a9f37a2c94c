#include "platform/controls/lists.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <limits>

#include "platform/controls/events.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr int kIndentPixels = 6;  // per level of the directory chain

bool isEnter(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

std::string existingDirectory(const QString& path) {
    const std::string bytes = toAnsi(path);
    if (bytes.empty() || !fs::isDirectory(bytes)) {
        throw ControlError("no such directory");
    }
    return fs::absoluteDirectory(bytes);
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

void DirListBox::open(QListWidgetItem* item) {
    const int index = item != nullptr ? row(item) : -1;
    if (index >= 0 && static_cast<std::size_t>(index) < paths_.size()) {
        setPath(paths_[static_cast<std::size_t>(index)]);
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
    paths_.clear();
    const std::string path = toAnsi(path_);
    QStringList rows;
    auto add = [&](const QString& text, const std::string& full, int level) {
        rows.append(QString(level, QChar(' ')) + text);
        paths_.push_back(fromAnsi(full));
    };

    // The chain from the root down to the directory itself.
    add(QStringLiteral("/"), "/", 0);
    int level = 0;
    std::string prefix;
    std::size_t start = 1;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(start, end - start);
        prefix += "/" + name;
        add(fromAnsi(name), prefix, ++level);
        start = end + 1;
    }
    const int current = static_cast<int>(rows.size()) - 1;

    std::vector<QString> names;
    for (const std::string& name : fs::subdirectories(path)) {
        names.push_back(fromAnsi(name));
    }
    fs::sortNaturally(names);
    const std::string base = path == "/" ? std::string() : path;
    for (const QString& name : names) {
        add(name, base + "/" + toAnsi(name), level + 1);
    }
    // All rows in one insertion: one by one, the view would lay itself out again for each.
    addItems(rows);
    setCurrentItem(item(current));
    scrollToItem(item(current), QAbstractItemView::PositionAtTop);
}

FileListBox::FileListBox(QWidget* parent) : ListControl(parent) {
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem*) { raiseEvent([&] { emit DblClick(); }); });
}

void FileListBox::setPath(const QString& path) {
    const std::string directory = existingDirectory(path);
    path_ = fromAnsi(directory);
    std::vector<QString> names;
    for (const std::string& name : fs::matchingFiles(directory, toAnsi(pattern_))) {
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

std::int16_t FileListBox::ListCount() const {
    return static_cast<std::int16_t>(
        std::min(count(), int{std::numeric_limits<std::int16_t>::max()}));
}

std::int16_t FileListBox::ListIndex() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) {
        return -1;
    }
    return static_cast<std::int16_t>(row(selected.first()));
}

void FileListBox::setListIndex(std::int16_t index) {
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
    const std::int16_t index = ListIndex();
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
