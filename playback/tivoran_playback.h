#pragma once

#include <QString>
#include <cstdint>

// The playback procedures: the only code that talks to the sound device. Each sends fixed
// command strings to the one device alias "tivoran" and ignores the results; none keeps state.
// Which file is open, and whether it is paused or muted, is known only to the media layer and,
// as the user sees it, to the window's pause and mute captions.
namespace Tivoran {

// A two-valued flag as the window passes it: -1 is true, 0 is false; any other value does
// nothing.
using Flag = std::int16_t;
inline constexpr Flag kTrue = -1;
inline constexpr Flag kFalse = 0;

// Stops and closes whatever is open, opens `path` (Windows form: "\" and "/" both separate) under
// the alias and plays it. With `muted` true, the new device is silenced before it starts, so a
// file started while the window shows "muted" is never heard.
void MciPlayFile(const QString& path, bool muted = false);

void MciPause();
void MciResume();
// Stops the alias and closes every device the program has open.
void MciStopAll();
void MciSetMute(Flag flag);
void MciSetPause(Flag flag);

}  // namespace Tivoran
