#pragma once

#include "widgets/lastfolder.h"

#include <QString>

class Dialog;
class QSettings;

// What the window remembers between runs, per user: the port, the line-setting lists, the
// repeat interval, both log boxes' time stamps, where the window stood and the folders last
// used. main restores it before showing the window and stores it once the window has closed;
// a new Dialog knows nothing of it and starts from the form's defaults.

// Makes QSettings() mean <user configuration folder>/rfcfgtool/<application>.ini.
void useUserSettings(const QString &application);

// Shows what `settings` remembers. A file that cannot be read is ignored as a whole, a value
// that is not one of its list's items on its own. The port is only shown, never opened.
void restoreWindowSettings(Dialog &dialog, QSettings &settings);
void saveWindowSettings(const Dialog &dialog, QSettings &settings);
