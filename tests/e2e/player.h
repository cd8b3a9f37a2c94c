#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "e2e/desktop.h"
#include "e2e/process.h"

// Colours and points as a failure message shows them.
void PrintTo(const QColor& colour, std::ostream* out);
void PrintTo(const QPoint& point, std::ostream* out);

namespace korvel::e2e {

// What the screen shows, taken with ImageMagick's `import` from the root window, seen from the
// player window's client area (points and rectangles are relative to its top-left corner).
class Screenshot {
  public:
    Screenshot(QImage image, QPoint origin) : image_(std::move(image)), origin_(origin) {}

    const QImage& image() const { return image_; }
    QColor at(QPoint client) const;

    // The colour most pixels of `client` have.
    QColor dominant(QRect client) const;
    // How many pixels of `client` satisfy `test`.
    template <typename Test>
    int count(QRect client, Test&& test) const {
        int n = 0;
        const QRect r = client.translated(origin_).intersected(image_.rect());
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                n += test(image_.pixelColor(x, y)) ? 1 : 0;
            }
        }
        return n;
    }
    // The brightest pixel of `client` (by its largest channel).
    QColor brightest(QRect client) const;
    // The rows of `client` (client y) that hold at least one pixel satisfying `test`, as bands
    // of consecutive rows: each band is (first row, last row).
    template <typename Test>
    std::vector<std::pair<int, int>> bands(QRect client, Test&& test) const {
        std::vector<std::pair<int, int>> found;
        for (int y = client.top(); y <= client.bottom(); ++y) {
            if (count(QRect(client.left(), y, client.width(), 1), test) == 0) {
                continue;
            }
            if (!found.empty() && found.back().second == y - 1) {
                found.back().second = y;
            } else {
                found.emplace_back(y, y);
            }
        }
        return found;
    }

  private:
    QImage image_;
    QPoint origin_;
};

std::string describe(const QColor& colour);

// The player as a person meets it: a separate process with a window on the desktop, driven by
// real X input (xdotool, through the XTEST extension) at pixel positions of its window. The
// process is stopped when the object goes, if it has not ended by itself.
class Player {
  public:
    struct Options {
        std::string program;      // the korvel binary to run
        std::string directory;    // its working directory
        Environment environment;  // added to (and overriding) the desktop's
        bool unprivileged = false;
    };

    Player(const Desktop& desktop, const Options& options);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    static constexpr const char* kTitle = "Brisanova Mp3 Player";

    const std::string& window() const { return window_; }
    Process& process() { return *process_; }

    // Where the window's client area is on the screen now.
    QPoint origin() const;

    // Real input at a point of the client area. A hover moves there in two steps so the control
    // beneath sees a movement over itself, not only the pointer arriving.
    void hover(QPoint client) const;
    void click(QPoint client) const;
    void doubleClick(QPoint client) const;
    // Presses the left button at `from`, moves by `by` in `steps` steps, waiting after each for
    // the window to follow (bounded), and releases. False when the window did not follow.
    bool drag(QPoint from, QPoint by, int steps, std::string& seen) const;

    // The ICCCM window state the window manager keeps: "Normal", "Iconic", ...
    std::string windowState() const;
    // Asks the window manager to show and activate the window again.
    void restore() const;

    Screenshot screenshot() const;

    // The program's own output (it should have none) for failure messages.
    std::string log() const;

  private:
    const Desktop& desktop_;
    std::string logFile_;
    std::unique_ptr<Process> process_;
    std::string window_;
};

}  // namespace korvel::e2e
