#pragma once

#include <QByteArray>
#include <QString>
#include <string>

// Where the player is on the session bus, for the service that answers there (mpris.h) and for a
// second start that hands a file over to it (open_with.h).
namespace bus {

inline const QString kService = QStringLiteral("org.mpris.MediaPlayer2.korvel");
inline const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
inline const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// The file:// URI of a file, every byte outside the unreserved ones percent-encoded.
inline QString uriOf(const std::string& path) {
    return QStringLiteral("file://") +
           QString::fromLatin1(QByteArray::fromStdString(path).toPercentEncoding("/"));
}

}  // namespace bus
