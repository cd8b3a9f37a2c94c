#pragma once

#include <functional>
#include <string>

#include "platform/mci.h"

// What the ways in from outside the window (the desktop's media controls on the session bus,
// and Open With) may do with the player's window and see of it: what a user can do and see,
// never the window's controls, whose names and captions are the window's own business. Each
// command acts as the matching control does, through the same handler, so it sends the same
// command strings and leaves the same captions.
class Remote {
  public:
    virtual ~Remote() = default;

    // Shows `folder` in both lists. False, with the window as it was, when they cannot.
    virtual bool openFolder(const std::string& folder) = 0;
    // Shows the folder of `file` in both lists, selects it and plays it as a double click on it
    // does. False, with the window as it was, when the file list does not show it.
    virtual bool playFile(const std::string& file) = 0;

    virtual void play() = 0;   // the selected file, from its start
    virtual void pause() = 0;  // what plays; whatever the pause label shows, it shows paused after
    virtual void resume() = 0;
    virtual void stop() = 0;
    virtual void next() = 0;
    virtual void previous() = 0;
    virtual void setMuted(bool muted) = 0;
    virtual void raise() = 0;
    virtual void close() = 0;  // remembers the folder, stops the sound and ends the program

    // What the window's labels would act on now.
    struct Selection {
        bool file = false;      // a file is selected: pause and stop act
        bool next = false;      // a file is selected and another follows it
        bool previous = false;  // a file before the selected one
        bool muted = false;     // the mute label shows the sound off
    };
    virtual Selection selection() const = 0;
    // What is heard, as the media layer tells it: the window never guesses it from a caption.
    virtual platform::mci::DeviceStatus heard() const = 0;
    // `changed` is called whenever selection() or heard() may have changed: on the window's
    // thread, and on the media layer's own threads when a file ends or its output fails, so it
    // must only pass the news on. Empty to stop.
    virtual void watch(std::function<void()> changed) = 0;
};
