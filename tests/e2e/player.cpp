#include "e2e/player.h"

#include <map>
#include <sstream>
#include <stdexcept>

#include "e2e/wait.h"

void PrintTo(const QColor& colour, std::ostream* out) {
    *out << korvel::e2e::describe(colour);
}
void PrintTo(const QPoint& point, std::ostream* out) {
    *out << "(" << point.x() << "," << point.y() << ")";
}

namespace korvel::e2e {

namespace {

using namespace std::chrono_literals;

std::string num(int value) {
    return std::to_string(value);
}

// The value of KEY in `xdotool getwindowgeometry --shell` output ("KEY=value" lines).
int shellValue(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(key + "=", 0) == 0) {
            return std::stoi(line.substr(key.size() + 1));
        }
    }
    throw std::runtime_error("no " + key + " in: " + text);
}

}  // namespace

std::string describe(const QColor& colour) {
    return "(" + num(colour.red()) + "," + num(colour.green()) + "," + num(colour.blue()) + ")";
}

QColor Screenshot::at(QPoint client) const {
    return image_.pixelColor(client + origin_);
}

QColor Screenshot::dominant(QRect client) const {
    std::map<QRgb, int> counts;
    const QRect r = client.translated(origin_).intersected(image_.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            ++counts[image_.pixel(x, y) & 0xFFFFFFu];
        }
    }
    QRgb best = 0;
    int most = -1;
    for (const auto& [rgb, n] : counts) {
        if (n > most) {
            most = n;
            best = rgb;
        }
    }
    return QColor::fromRgb(best);
}

QColor Screenshot::brightest(QRect client) const {
    QColor best(0, 0, 0);
    int level = -1;
    const QRect r = client.translated(origin_).intersected(image_.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image_.pixelColor(x, y);
            const int l = std::max({c.red(), c.green(), c.blue()});
            if (l > level) {
                level = l;
                best = c;
            }
        }
    }
    return best;
}

Player::Player(const Desktop& desktop, const Options& options)
    : desktop_(desktop), logFile_(desktop.path("korvel.log")) {
    Launch launch;
    launch.argv = {options.program};
    launch.environment = desktop.environment();
    for (const auto& [key, value] : options.environment) {
        launch.environment[key] = value;
    }
    launch.directory = options.directory;
    launch.logFile = logFile_;
    launch.unprivileged = options.unprivileged;
    process_ = std::make_unique<Process>(launch);

    // The window is this process's, named as the program names it, and mapped.
    const std::string pid = num(process_->pid());
    const bool found = waitUntil(
        [&] {
            if (!process_->running()) {
                return true;
            }
            const ToolResult r = desktop_.tryTool({"xdotool", "search", "--onlyvisible", "--pid",
                                                   pid, "--name", std::string("^") + kTitle + "$"});
            std::istringstream ids(r.out);
            ids >> window_;
            return r.ok() && !window_.empty();
        },
        20s, 50ms);
    if (!process_->running()) {
        const auto status = process_->waitForExit(0ms);
        throw std::runtime_error("korvel ended before showing its window: " +
                                 describeStatus(status.value_or(-1)) + "\n" + log());
    }
    if (!found) {
        throw std::runtime_error(std::string("no visible window named '") + kTitle +
                                 "' of the korvel process within 20 s\n" + log());
    }
}

Player::~Player() {
    process_->stop();
}

std::string Player::log() const {
    return "--- korvel's output\n" + readFile(logFile_);
}

QPoint Player::origin() const {
    const std::string text = desktop_.tool({"xdotool", "getwindowgeometry", "--shell", window_});
    return {shellValue(text, "X"), shellValue(text, "Y")};
}

void Player::hover(QPoint client) const {
    const QPoint at = origin() + client;
    desktop_.tool({"xdotool", "mousemove", num(at.x() - 1), num(at.y()), "mousemove", num(at.x()),
                   num(at.y())});
}

void Player::click(QPoint client) const {
    const QPoint at = origin() + client;
    desktop_.tool({"xdotool", "mousemove", num(at.x()), num(at.y()), "click", "1"});
}

void Player::doubleClick(QPoint client) const {
    const QPoint at = origin() + client;
    desktop_.tool({"xdotool", "mousemove", num(at.x()), num(at.y()), "click", "--repeat", "2",
                   "--delay", "60", "1"});
}

bool Player::drag(QPoint from, QPoint by, int steps, std::string& seen) const {
    const QPoint start = origin();
    const QPoint pressAt = start + from;
    desktop_.tool({"xdotool", "mousemove", num(pressAt.x()), num(pressAt.y()), "mousedown", "1"});
    bool followed = true;
    for (int step = 1; step <= steps && followed; ++step) {
        const QPoint offset(by.x() * step / steps, by.y() * step / steps);
        const QPoint to = pressAt + offset;
        desktop_.tool({"xdotool", "mousemove", num(to.x()), num(to.y())});
        QPoint now;
        followed = waitUntil(
            [&] {
                now = origin();
                return now == start + offset;
            },
            5s, 25ms);
        seen = "after moving the pointer by (" + num(offset.x()) + "," + num(offset.y()) +
               ") the window is at (" + num(now.x()) + "," + num(now.y()) + "), expected (" +
               num(start.x() + offset.x()) + "," + num(start.y() + offset.y()) + ")";
    }
    desktop_.tool({"xdotool", "mouseup", "1"});
    return followed;
}

std::string Player::windowState() const {
    const ToolResult r = desktop_.tryTool({"xprop", "-id", window_, "WM_STATE"});
    const std::string marker = "window state: ";
    const auto at = r.out.find(marker);
    if (!r.ok() || at == std::string::npos) {
        return "unknown (" + r.out + ")";
    }
    const auto begin = at + marker.size();
    return r.out.substr(begin, r.out.find('\n', begin) - begin);
}

void Player::restore() const {
    desktop_.tool({"xdotool", "windowactivate", window_});
}

Screenshot Player::screenshot() const {
    const std::string file = desktop_.path("screen.png");
    desktop_.tool({"import", "-silent", "-window", "root", "PNG24:" + file});
    QImage image;
    if (!image.load(QString::fromStdString(file), "PNG")) {
        throw std::runtime_error("cannot read the screenshot " + file);
    }
    return Screenshot(image.convertToFormat(QImage::Format_RGB32), origin());
}

}  // namespace korvel::e2e
