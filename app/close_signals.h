#pragma once

#include <QObject>
#include <QSocketNotifier>

// Turns SIGTERM, SIGINT and SIGHUP into an ordinary close of the window, so that they save and
// silence like any other way of closing. The signal handler only writes a byte to one end of a
// socket pair; the close itself runs in the event loop, where it is safe.
class CloseSignals : public QObject {
    Q_OBJECT
  public:
    // Makes the socket pair; false when it cannot (no descriptors left). Called first thing at
    // start, while descriptors are surely there to be had.
    static bool install();

    // Installs the handlers and watches the socket pair from this thread's event loop; until
    // then a signal ends the program as it would without a handler, as there is nothing to save
    // yet. install() must have succeeded.
    explicit CloseSignals(QObject* parent = nullptr);

  signals:
    void closeRequested();

  private:
    QSocketNotifier* notifier_ = nullptr;
};
