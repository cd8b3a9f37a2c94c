#pragma once

#include <QString>

#include "platform/controls/colour.h"

// The window's fixed texts and colours. The pause and mute captions are compared as exact texts:
// they are the playback state as the user sees it.
namespace captions {

inline const QString kPause = QStringLiteral("  pause");  // playing or stopped: a click pauses
inline const QString kResume = QStringLiteral("  play");  // paused: a click resumes
inline const QString kMute = QStringLiteral(" m");        // sound on: a click mutes
inline const QString kUnmute = QStringLiteral(" un");     // muted: a click turns sound on
inline const QString kPlay = QStringLiteral(" play");
inline const QString kStop = QStringLiteral("stop");
inline const QString kNext = QStringLiteral(">");
inline const QString kPrevious = QStringLiteral("<");
inline const QString kMinimise = QStringLiteral("  _");
inline const QString kClose = QStringLiteral("  X");
inline const QString kTitle = QString(16, QChar(' ')) + QStringLiteral("Brisanova") +
                              QString(2, QChar(' ')) + QStringLiteral("MP3 Player");
inline const QString kWindowTitle = QStringLiteral("Brisanova Mp3 Player");

inline const QString kEndingFull = QStringLiteral(") MP3 files in this directory");
inline const QString kEndingShort = QStringLiteral(") mp3's in this dir");

// The files the file list shows, and so the only files a way in from outside opens.
inline const QString kFilePattern = QStringLiteral("*.mp3");

inline const QString kSettingsSection = QStringLiteral("korvel");
inline const QString kSettingsKey = QStringLiteral("path");

}  // namespace captions

namespace colours {

inline constexpr platform::Colour kBlack = 0x000000;
inline constexpr platform::Colour kWhite = 0xFFFFFF;
inline constexpr platform::Colour kGrey = 0x808080;
inline constexpr platform::Colour kRed = 0x0000FF;
inline constexpr platform::Colour kNavy = 0x800000;
inline constexpr platform::Colour kTeal = 0x808000;
inline constexpr platform::Colour kHighlight = platform::COLOR_WINDOW;

}  // namespace colours
