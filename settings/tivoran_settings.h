#pragma once

#include <QString>

// The settings procedures: the one remembered value lives in an INI file, read and written one
// key at a time. They keep no state and report nothing; a value that cannot be read reads as the
// empty text, and a write that cannot be made is lost.
namespace Tivoran {

// The value of `key` in `section` of `file`, or the empty text when the file, section or key
// does not exist. The value reads back whole however long it is.
QString IniRead(const QString& section, const QString& key, const QString& file);

// Stores `value` under `key` in `section` of `file`, creating the file and section where
// missing. Returns the empty text whether or not the write could be made.
QString IniWrite(const QString& section, const QString& key, const QString& value,
                 const QString& file);

// Where the settings live: "korvel.ini" beside the program when it can be written there, else
// "korvel/korvel.ini" under the user's configuration directory ($XDG_CONFIG_HOME, or ~/.config),
// which is created when missing. Reading and writing use the same rule, so a value written is
// the value read at the next start. Nothing beside the file is touched: a save leaves nothing
// behind, even when it is cut short.
QString SettingsFile();

}  // namespace Tivoran
