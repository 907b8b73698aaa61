#pragma once

#include <QList>
#include <QSerialPortInfo>
#include <QString>
#include <QStringList>

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
