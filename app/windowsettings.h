#pragma once

#include "widgets/lastfolder.h"

#include <QString>

class Dialog;
class QSettings;

// What the window remembers between runs, per user: the port, the line-setting lists, the
// repeat interval, both log boxes' time stamps, where the window stood and the folders last
// used. main restores it before showing the window and stores it once the window has closed;
// a new Dialog knows nothing of it and starts from the form's defaults.

// Makes QSettings() mean <folder>/rfcfgtool/<application>.ini, the folder being the user's
// configuration folder unless one is given.
void useUserSettings(const QString &application, const QString &folder = QString());

// The file QSettings() means, found without reading it.
QString settingsFilePath();

// Why the file at `path` cannot be a settings file this window wrote, so that QSettings must not
// read it: more than 64 KiB, or a value in @Variant(...), which QSettings unpacks by recursion as
// deep as its nesting. Empty when the file may be one, or is not there.
QString settingsFileProblem(const QString &path);

// Run before anything reads the settings. A settings file settingsFileProblem refuses is moved
// aside to FILE.damaged, so nothing in this run reads it and the settings saved at exit start a
// new file; standard error is told so, and the notice comes back. When it cannot be moved, this
// run neither reads nor writes settings: `usable` is false and lastFolder does nothing.
struct SettingsFileCheck
{
    QString notice; // empty when the file was fine
    bool usable = true;
};
SettingsFileCheck setAsideDamagedSettings();

// Shows what `settings` remembers. A file that cannot be read is ignored as a whole, a value
// that is not one of its list's items on its own. The port is only shown, never opened.
void restoreWindowSettings(Dialog &dialog, QSettings &settings);
void saveWindowSettings(const Dialog &dialog, QSettings &settings);
