#pragma once

#include <QPoint>
#include <QRect>
#include <chrono>
#include <string>
#include <vector>

#include "e2e/desktop.h"
#include "e2e/listener.h"
#include "e2e/player.h"

// What the end-to-end stories share: the music they play, where the window's controls are, and
// the few steps every story takes (hearing a file, waiting for the window to show its lists).
namespace korvel::e2e {

using namespace std::chrono_literals;

// Long enough to outlast any story, so a file never falls silent by ending.
inline constexpr double kToneSeconds = 40.0;

struct Tone {
    const char* file;  // relative to the music directory
    double hz;
};

// Pitches far apart and none a multiple of another, so each file is told by ear.
inline constexpr Tone kLow{"01 low.mp3", 400.0};
inline constexpr Tone kMiddle{"02 middle.mp3", 600.0};
inline constexpr Tone kHigh{"03 high.mp3", 900.0};
inline constexpr Tone kDeep{"more/01 bell.mp3", 1300.0};
inline constexpr const char* kSubdirectory = "more";

std::vector<double> allPitches();

// The music directory: the three tones at its top and one in its subdirectory. Written once per
// run of the test program into a fresh temporary directory, and only read afterwards.
const std::string& musicDirectory();

// A copy of the program into `dir`, so the settings it writes beside itself land there.
std::string copyProgram(const std::string& from, const std::string& dir);

// The window's controls, in pixels of its client area.
namespace layout {
inline const QRect kTitle(0, 0, 345, 17);      // Label1
inline const QRect kMinimise(304, 0, 17, 17);  // Label2
inline const QRect kClose(328, 0, 17, 17);     // Label3
inline const QRect kDirectories(160, 24, 169, 38);
inline const QRect kFiles(160, 64, 169, 72);
inline const QRect kPrevious(32, 112, 9, 17);  // Label9 "<"
inline const QRect kPause(48, 112, 41, 17);    // Label6 "  pause"
inline const QRect kStop(96, 112, 25, 17);     // Label7 "stop"
inline const QRect kNext(128, 112, 9, 17);     // Label8 ">"
inline const QRect kPlay(64, 136, 25, 17);     // Label5 " play"
inline const QRect kMute(96, 136, 17, 17);     // Label4 " m"
inline const QRect kCount(8, 168, 217, 17);    // Label10
inline const QPoint kFirstShown(172, 95);
inline const QSize kClientSize(347, 197);

// A point on a label's glyphs: its captions start a blank or two in.
inline QPoint onGlyphs(const QRect& label) {
    return {label.right() - label.width() / 3, label.center().y()};
}
}  // namespace layout

// The list rows as the window draws them: every row of both lists is the same height.
class ListRows {
  public:
    explicit ListRows(int pitch) : pitch_(pitch) {}
    int pitch() const { return pitch_; }
    QPoint file(int row) const { return at(layout::kFiles, row); }
    // The directory list scrolls the directory it shows to its top row; its subdirectories
    // follow.
    QPoint directory(int row) const { return at(layout::kDirectories, row); }

  private:
    QPoint at(const QRect& list, int row) const {
        return {list.left() + 40, list.top() + row * pitch_ + pitch_ / 2};
    }
    int pitch_;
};

// Waits until the window shows `files` entries in its file list, and measures the rows.
// Throws, naming what it saw, when it does not.
ListRows waitForFileList(const Player& player, int files);

// The tone of `tone`'s file, heard after `action`; "" when it was heard, else a message saying
// what was expected and what was heard.
std::string expectTone(Listener& ears, const Tone& tone, const std::string& action,
                       std::chrono::milliseconds timeout = 8s);
std::string expectSilence(Listener& ears, const std::string& action,
                          std::chrono::milliseconds timeout = 5s);

}  // namespace korvel::e2e
