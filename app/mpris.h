#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <atomic>

#include "app/remote.h"

// The player on the desktop's media controls (media keys, the panel's media widget, playerctl):
// the MPRIS2 interfaces on the session bus. Every command goes through the window's Remote, which
// acts as its controls do, so the captions and the command strings are the same as after a
// click; what it reports is what is really heard and what the labels would do.
class Mpris : public QObject, public QDBusContext {
    Q_OBJECT
  public:
    // Takes the player's name on the session bus, or a name of its own when another player has
    // it. Without a session bus it does nothing at all.
    explicit Mpris(Remote& window);
    ~Mpris() override;

    // What the player adaptor serves.
    QString playbackStatus() const;
    QVariantMap metadata() const;
    double volume() const;
    void setVolume(double volume);
    qlonglong positionUs() const;
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool canPlay() const;
    bool canPause() const;

    void next();
    void previous();
    void pause();
    void playPause();
    void stop();
    void play();
    void openUri(const QString& uri);
    void raise();
    void quit();

  private:
    void scheduleRefresh();
    void refresh();

    Remote& window_;
    bool registered_ = false;
    std::atomic<bool> refreshPending_{false};
    QVariantMap reported_;
};
