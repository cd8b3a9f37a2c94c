#include "app/mpris.h"

#include <unistd.h>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <QTimer>

#include "app/bus_names.h"
#include "app/open_with.h"
#include "platform/files/files.h"
#include "platform/text.h"

namespace {

using platform::mci::Playback;

// org.mpris.MediaPlayer2: the player as an application.
class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)
  public:
    explicit RootAdaptor(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}
    bool yes() const { return true; }
    bool no() const { return false; }
    // The desktop entry's Name, which the desktop shows for the player.
    QString identity() const { return QStringLiteral("Brisanova MP3 Player"); }
    QString desktopEntry() const { return QStringLiteral("korvel"); }
    QStringList uriSchemes() const { return {QStringLiteral("file")}; }
    QStringList mimeTypes() const { return {QStringLiteral("audio/mpeg")}; }

  public slots:
    void Raise() { mpris_->raise(); }
    void Quit() { mpris_->quit(); }

  private:
    Mpris* mpris_;
};

// org.mpris.MediaPlayer2.Player: the transport. There is no seeking.
class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ one)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ positionUs)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)
  public:
    explicit PlayerAdaptor(Mpris* mpris) : QDBusAbstractAdaptor(mpris), mpris_(mpris) {}
    QString playbackStatus() const { return mpris_->playbackStatus(); }
    double one() const { return 1.0; }
    QVariantMap metadata() const { return mpris_->metadata(); }
    double volume() const { return mpris_->volume(); }
    void setVolume(double volume) { mpris_->setVolume(volume); }
    qlonglong positionUs() const { return mpris_->positionUs(); }
    bool canGoNext() const { return mpris_->canGoNext(); }
    bool canGoPrevious() const { return mpris_->canGoPrevious(); }
    bool canPlay() const { return mpris_->canPlay(); }
    bool canPause() const { return mpris_->canPause(); }
    bool yes() const { return true; }
    bool no() const { return false; }

  public slots:
    void Next() { mpris_->next(); }
    void Previous() { mpris_->previous(); }
    void Pause() { mpris_->pause(); }
    void PlayPause() { mpris_->playPause(); }
    void Stop() { mpris_->stop(); }
    void Play() { mpris_->play(); }
    // CanSeek is false, so these two change nothing.
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString& uri) { mpris_->openUri(uri); }

  private:
    Mpris* mpris_;
};

// The file's name without its folder and without ".mp3", as text the bus can carry: bytes that
// are not UTF-8 become U+FFFD.
QString titleOf(const std::string& path) {
    std::string name = platform::files::nameOf(path);
    if (name.size() > 4 &&
        platform::equalsIgnoringAsciiCase(std::string_view(name).substr(name.size() - 4), ".mp3")) {
        name.resize(name.size() - 4);
    }
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

Mpris::Mpris(Remote& window) : QObject(nullptr), window_(window) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    new RootAdaptor(this);
    new PlayerAdaptor(this);
    if (!bus.registerObject(bus::kPath, this, QDBusConnection::ExportAdaptors)) {
        return;
    }
    // Another player holds the name: this one is still reachable, under a name of its own.
    registered_ = bus.registerService(bus::kService) ||
                  bus.registerService(bus::kService + QStringLiteral(".instance") +
                                      QString::number(getpid()));
    if (!registered_) {
        bus.unregisterObject(bus::kPath);
        return;
    }
    window_.watch([this] { scheduleRefresh(); });
    refresh();
}

Mpris::~Mpris() {
    if (registered_) {
        window_.watch({});
    }
}

// Called on the audio thread too: it only posts. Many changes in one handler make one report.
void Mpris::scheduleRefresh() {
    if (!refreshPending_.exchange(true)) {
        QMetaObject::invokeMethod(this, &Mpris::refresh, Qt::QueuedConnection);
    }
}

// Reports every property that changed since the last report, in one signal.
void Mpris::refresh() {
    refreshPending_ = false;
    const QVariantMap now{
        {QStringLiteral("PlaybackStatus"), playbackStatus()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("Volume"), volume()},
        {QStringLiteral("CanGoNext"), canGoNext()},
        {QStringLiteral("CanGoPrevious"), canGoPrevious()},
        {QStringLiteral("CanPlay"), canPlay()},
        {QStringLiteral("CanPause"), canPause()},
    };
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (reported_.value(it.key()) != it.value()) {
            changed.insert(it.key(), it.value());
        }
    }
    reported_ = now;
    if (changed.isEmpty()) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(bus::kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << bus::kPlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

QString Mpris::playbackStatus() const {
    switch (window_.heard().playback) {
        case Playback::Playing:
            return QStringLiteral("Playing");
        case Playback::Paused:
            return QStringLiteral("Paused");
        case Playback::Stopped:
            break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap Mpris::metadata() const {
    const platform::mci::DeviceStatus status = window_.heard();
    if (status.path.empty()) {
        return {};
    }
    QVariantMap map{
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(QDBusObjectPath(QStringLiteral("/io/github/korvel/korvel/track/") +
                                             QString::number(status.openCount)))},
        {QStringLiteral("xesam:url"), bus::uriOf(status.path)},
        {QStringLiteral("xesam:title"), titleOf(status.path)},
    };
    if (status.lengthUs > 0) {
        map.insert(QStringLiteral("mpris:length"), QVariant::fromValue(qlonglong{status.lengthUs}));
    }
    return map;
}

double Mpris::volume() const {
    return window_.selection().muted ? 0.0 : 1.0;
}

// Setting the volume to nothing mutes, to anything more brings the sound back; there are no
// levels.
void Mpris::setVolume(double volume) {
    window_.setMuted(volume <= 0);
}

qlonglong Mpris::positionUs() const {
    return window_.heard().positionUs;
}

bool Mpris::canGoNext() const {
    return window_.selection().next;
}

bool Mpris::canGoPrevious() const {
    return window_.selection().previous;
}

// A file that plays is the current track, also after the lists moved to another folder: the
// desktop shows no track, nor its Metadata, for a player that cannot play.
bool Mpris::canPlay() const {
    return window_.selection().file || window_.heard().playback == Playback::Playing;
}

// Pausing does nothing with no file selected, as the pause label does.
bool Mpris::canPause() const {
    return window_.selection().file && window_.heard().playback != Playback::Stopped;
}

void Mpris::next() {
    if (canGoNext()) {
        window_.next();
    }
}

void Mpris::previous() {
    if (canGoPrevious()) {
        window_.previous();
    }
}

void Mpris::pause() {
    if (canPause() && window_.heard().playback == Playback::Playing) {
        window_.pause();
    }
}

void Mpris::play() {
    if (!canPlay()) {
        return;
    }
    switch (window_.heard().playback) {
        case Playback::Paused:
            window_.resume();
            break;
        case Playback::Stopped:
            window_.play();
            break;
        case Playback::Playing:
            break;
    }
}

void Mpris::playPause() {
    if (window_.heard().playback == Playback::Playing) {
        pause();
    } else {
        play();
    }
}

void Mpris::stop() {
    window_.stop();
}

void Mpris::openUri(const QString& uri) {
    const openwith::Opening opening = openwith::resolve(uri.toStdString(), openwith::Way::kBus);
    if (!opening.why.empty() || !window_.playFile(opening.request.path)) {
        if (calledFromDBus()) {
            sendErrorReply(
                QDBusError::InvalidArgs,
                QStringLiteral("cannot open ") + uri + QStringLiteral(": ") +
                    QString::fromStdString(opening.why.empty() ? "it went" : opening.why));
        }
    }
}

void Mpris::raise() {
    window_.raise();
}

// The window remembers the folder, stops and ends, after the reply has gone.
void Mpris::quit() {
    QTimer::singleShot(0, this, [this] { window_.close(); });
}

#include "mpris.moc"
