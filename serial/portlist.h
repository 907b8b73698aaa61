#pragma once

#include <QList>
#include <QSerialPortInfo>
#include <QString>
#include <QStringList>

#include <future>
#include <optional>

namespace serial {

// What the platform tells of one port, as plain values.
struct PortFacts
{
    QString name; // as the user picks it and the port opens it
    QString location;
    QString description;
    QString manufacturer;
    QString serialNumber;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
};

PortFacts portFacts(const QSerialPortInfo &port);
QList<PortFacts> availablePortFacts();

// Reading the platform's list asks udev about every tty and takes as long as building the
// window: a program starts it first thing, on a thread of its own, and the window takes it.
void startReadingPortFacts();
// The list started above, or a new read when none was started (or it was taken already).
std::future<QList<PortFacts>> takePortFactsRead();

// The port's tooltip: its device path and every fact the platform knows, one a line.
QString portToolTip(const PortFacts &facts);

// Where the port list stands after it was read again. A port still present stays selected;
// a path the user typed (one that was not listed) stays typed; a port that went away gives way
// to the first entry.
struct PortSelection
{
    int index = -1;    // entry to select, -1 for none
    QString typedText; // text to keep in the field when no entry is selected
};
PortSelection selectionAfterRefresh(const QStringList &before, const QStringList &after,
                                    const QString &current);

} // namespace serial
