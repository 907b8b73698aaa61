#pragma once

#include <QString>

// The folder a file dialog of this kind (such as "logs") last went to; empty when none.
// Both do nothing in a program that has not named its settings (an organisation name), so a
// test never writes into the user's configuration.
QString lastFolder(const QString &kind);
void setLastFolder(const QString &kind, const QString &folder);
