#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/mci_errors.h"

// Our media control layer: a small command-string interface that plays MP3 files (media/:
// decoded by libmpg123 on a thread of the device's own, played through the sound server, or
// ALSA where none answers) in place of the Windows MCI the window was written against. The
// commands are read by mci_command.h.
//
// mciSendStringA(command, returnString, returnLength, callback) parses one command and returns
// 0 or one of the error codes below. Keywords and aliases match case-insensitively and are
// separated by runs of blanks. Exactly these commands are accepted; anything else returns an
// error and changes nothing:
//
//   open ELEMENT type mpegvideo alias A
//       ELEMENT is a short path (shortpath.h), decoded back to the file it names. The file must
//       be a regular file (checked on the open descriptor, so a FIFO, device node or directory is
//       refused without blocking) holding MPEG-1/2 layer 1/2/3 audio, whose first frames are
//       found behind up to a megabyte of anything else; only as much of it is read as the decoder
//       needs to accept or refuse it. A tag before the audio is stepped over, not read, however
//       large. The new device is stopped at the start with its sound on, whatever an earlier
//       device was set to. Only one device can be open at a time.
//       Each device makes a sound output of its own, on the device's own thread, after open has
//       returned: on the sound server (PulseAudio, or PipeWire's pulse server) where one answers
//       within a second, else on ALSA's default device (never ALSA's plugin for that same silent
//       server). So open answers without waiting on either, and where neither can play it still
//       answers 0: the device then reads stopped (a play reads stopped again at once, and makes
//       the device try again), and why is told to the failure reporter below. The server is
//       connected with the first device of the program's life and the connection stays for the
//       devices after it; it is made again when the server went away or did not answer.
//       The two clauses may come in either order. Errors: 292 no element (the first word
//       after open is a keyword) or no alias clause, 275 no such file, 296 not a regular file
//       or not playable MP3 data, 289 alias already open, 298 another device is open, 263 a
//       device type other than mpegvideo or no type clause, 259 any other word, a repeated
//       clause or a missing value, 264 out of memory (or no thread for the device).
//   play A      Plays from the start, or on from the paused position; returns at once while the
//               sound goes on. Playing an already playing device changes nothing.
//   pause A     Silences and keeps the position. 302 when the device is stopped.
//   resume A    Goes on from the paused position. Resuming a playing device changes nothing;
//               302 when it is stopped.
//   stop A      Silences; the next play starts from the beginning.
//   close A     Stops and releases the device and its sound output, without waiting for the
//               sound queued in it, nor for the sound server or device behind it.
//   close all   Closes every open device; 0 also when none is open.
//   set A audio all off | on
//               Silences or restores the device's sound while playback goes on (position keeps
//               moving).
//
//   Errors common to all: 261 unknown command word, 292 no alias, 263 no device open under the
//   alias, 259 an unexpected word, 264 out of memory. A device whose file has played to its end
//   is stopped, and so is one whose sound output failed (a server that went away or ended the
//   stream, a device error that recovery cannot mend).
//
// No command waits on the sound server, a device or the file: each asks and returns. pause,
// stop, close and set ... off are heard at once on the sound server, which drops, holds or mutes
// what it has queued; on ALSA, once the quarter second the device holds has gone out (pause and
// stop drop it at once where the device can). play is heard as soon as the output is there: the
// device holds the file's first frames from the open on. A damaged stretch in the middle of a
// file, however long, is stepped over and the audio after it plays.
//
// The return string, when returnLength is not 0, receives the empty text. The callback window is
// ignored (no command takes the notify flag). Every call happens on one thread, the window's.
MCIERROR mciSendStringA(const char* command, char* returnString, std::uint32_t returnLength,
                        std::uintptr_t callbackWindow);

namespace platform::mci {

// Sees every command string sent, with its result, in order. For tests; empty to remove.
using CommandObserver = std::function<void(std::string_view command, MCIERROR result)>;
void setCommandObserver(CommandObserver observer);

// True while a device is open, so tests can check that nothing is left open.
bool anyDeviceOpen();

// What the open device is doing as the listener hears it, for the desktop's media controls.
// A device whose file has played to its end reads as stopped.
enum class Playback { Stopped, Playing, Paused };
struct DeviceStatus {
    Playback playback = Playback::Stopped;
    std::string path;             // the file's bytes; empty when no device is open
    std::int64_t lengthUs = -1;   // the exact length in microseconds, -1 until a scan has it
    std::int64_t positionUs = 0;  // how much has been heard, in microseconds; 0 when stopped
    std::uint64_t openCount = 0;  // changes with every open, so a file opened again is new
};
DeviceStatus deviceStatus();

// Told whenever the device may have changed: after every command, on the window's thread, and
// on the device's own threads when its file plays to its end, its output fails or could not be
// had, or its length becomes known. So it must only hand the news on (post an event) and return.
// Empty to remove.
using ChangeNotifier = std::function<void()>;
void setChangeNotifier(ChangeNotifier notifier);

// Told, in one line of words, why there is no sound: no output could be had at all (the server
// did not answer, or there is none and no ALSA device either), or the one there failed while it
// played. Once for each of those kinds for as long as the reporter is set, not once per command,
// on a device's own thread. Empty to remove.
using FailureReporter = std::function<void(std::string_view line)>;
void setFailureReporter(FailureReporter reporter);

}  // namespace platform::mci
