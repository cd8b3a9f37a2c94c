#pragma once

#include <QString>

// The settings procedures: the one remembered value lives in an INI file, read and written one
// key at a time. They keep no state; a value that cannot be read reads as the empty text, and a
// write that cannot be made says why.
namespace Tivoran {

// The value of `key` in `section` of `file`, or the empty text when the file, section or key
// does not exist. The value reads back whole however long it is.
QString IniRead(const QString& section, const QString& key, const QString& file);

// Stores `value` under `key` in `section` of `file`, creating the file and section where
// missing, and the file's folder (private to the user) where that is missing. Returns the empty
// text when it was stored, else why not, for a person: a file that cannot be written, or one too
// large to be a settings file, which is left as it is.
QString IniWrite(const QString& section, const QString& key, const QString& value,
                 const QString& file);

// Where the settings live. An installed program (one whose folder is a "bin" folder with
// "../share/applications/korvel.desktop" beside it, as the package and every `cmake --install`
// lay it out) keeps them in "korvel/korvel.ini" under the configuration directory of the user
// who runs it ($XDG_CONFIG_HOME, or ~/.config; IniWrite makes the folder); any other program
// (a build tree, a copy in a folder the user owns) keeps "korvel.ini" beside itself when it can
// be written there, and uses the configuration directory otherwise. So an installed program
// never writes into the system's folders, not even as root, and a "korvel.ini" that lies beside
// it is neither read nor written. Reading and writing use the same rule, so a value written is
// the value read at the next start. Nothing beside the file is touched: a save leaves nothing
// behind, even when it is cut short. The empty text where an installed program has no
// configuration directory at all (no home): nothing is read, and a save is refused.
QString SettingsFile();

}  // namespace Tivoran
