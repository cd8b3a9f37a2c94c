#pragma once

#include <QListWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/controls/colour.h"

namespace platform {

// The list controls' common ground: colours and placement in the window's units, and MouseMove
// with the position in twips relative to the control.
class ListControl : public QListWidget {
    Q_OBJECT
  public:
    explicit ListControl(QWidget* parent);
    void setColours(Colour back, Colour fore);

  signals:
    void MouseMove(std::int16_t button, std::int16_t shift, float x, float y);

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
};

// The directory list: the chain of directories from "/" down to Path, then Path's
// subdirectories, each level indented, subdirectories in natural order. A double click or Enter
// on an entry opens it: Path becomes that directory and Change is raised. Dot-directories are
// hidden; a directory that cannot be read shows no subdirectories. The same read gives Files, for
// the file list that follows this list, so that a directory is read once for both.
class DirListBox : public ListControl {
    Q_OBJECT
  public:
    explicit DirListBox(QWidget* parent);

    QString Path() const { return path_; }
    // Shows `path` and raises Change when it differs from the path shown. Throws ControlError
    // when it is not an existing directory.
    void setPath(const QString& path);
    // The regular files of Path that match the file pattern, as the read that filled this list
    // found them: the files the file list that follows this one shows.
    void setFilePattern(const QString& pattern) { filePattern_ = pattern; }
    const std::vector<std::string>& Files() const { return files_; }

  signals:
    void Change();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void fill();
    void open(QListWidgetItem* item);

    QString path_;
    std::vector<QString> chain_;           // the directory each row of the chain opens
    std::vector<QString> subdirectories_;  // the names of the rows after it, in their order
    std::vector<std::string> files_;
    QString filePattern_ = QStringLiteral("*");
};

// The file list: the regular files of Path (and links to them) whose names match Pattern
// case-insensitively, dotfiles hidden, in natural order. Setting Path refills it and clears the
// selection. A double click (or Enter) on an entry raises DblClick.
class FileListBox : public ListControl {
    Q_OBJECT
  public:
    explicit FileListBox(QWidget* parent);

    void setPattern(const QString& pattern) { pattern_ = pattern; }
    QString Path() const { return path_; }
    // Throws ControlError when `path` is not an existing directory.
    void setPath(const QString& path);
    // The same, with `files` (the regular files of `path` that match Pattern, as a read just made
    // found them) in place of a read of its own.
    void setPath(const QString& path, std::vector<std::string> files);

    // Every row counts and can be reached, however many there are: the old platform's 16-bit
    // index was its own limit, not the program's.
    int ListCount() const;
    int ListIndex() const;
    // -1 clears the selection; anything outside -1 .. ListCount - 1 throws ControlError.
    void setListIndex(int index);
    // The selected file's name without its directory; empty when none is selected.
    QString FileName() const;

  signals:
    void DblClick();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void fill(const std::string& directory, std::vector<std::string> files);

    QString path_;
    QString pattern_ = QStringLiteral("*");
};

}  // namespace platform
