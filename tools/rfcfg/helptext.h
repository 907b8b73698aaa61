#pragma once

#include <QString>

namespace rfcfg {

// The commands rfcfg knows, as typed: "ports", "config get", "send" and so on.
const QStringList &commandNames();

// `rfcfg --help`.
QString generalHelp();

// `rfcfg COMMAND --help`; empty for an unknown command.
QString commandHelp(const QString &command);

} // namespace rfcfg
