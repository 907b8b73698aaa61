#pragma once

#include <QDate>
#include <QString>

class QWidget;

// The folder a file dialog of this kind (such as "logs") last went to; empty when none.
// Both do nothing in a program that has not named its settings (an organisation name), so a
// test never writes into the user's configuration.
QString lastFolder(const QString &kind);
void setLastFolder(const QString &kind, const QString &folder);

// The name an export offers: "PREFIX-ADDRESS-DATE.SUFFIX" (rfcfg-0001-2026-12-09.json) when
// `address` is an address (four hex digits, written in lower case), else "PREFIX-DATE.SUFFIX".
QString suggestedFileName(const QString &prefix, const QString &address, const QDate &date,
                          const QString &suffix);
// `path` with ".SUFFIX" added when its file name has no dot (the user typed no extension); an
// empty path, or one that ends in a folder, stays as it is.
QString withDefaultSuffix(const QString &path, const QString &suffix);

// Asks where to save a file of this kind, starting in its last folder with the suggested name;
// the path chosen, its extension added when none was typed, or empty after a cancel. The folder
// is remembered for the next time.
QString askSavePath(QWidget *parent, const QString &caption, const QString &kind,
                    const QString &suggestedName, const QString &filter, const QString &suffix);
