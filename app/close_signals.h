#pragma once

#include <QObject>
#include <QSocketNotifier>

// Turns SIGTERM, SIGINT and SIGHUP into an ordinary close of the window, so that they save and
// silence like any other way of closing. The signal handler only writes a byte to a pipe; the
// close itself runs in the event loop, where it is safe.
class CloseSignals : public QObject {
    Q_OBJECT
  public:
    explicit CloseSignals(QObject* parent = nullptr);

  signals:
    void closeRequested();

  private:
    QSocketNotifier* notifier_ = nullptr;
};
