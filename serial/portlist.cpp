#include "serial/portlist.h"

#include <QCoreApplication>

namespace serial {

namespace {

// Port texts belong to the serial layer, whichever front end shows them.
struct PortText
{
    Q_DECLARE_TR_FUNCTIONS(SerialText)
};

} // namespace

PortFacts portFacts(const QSerialPortInfo &port)
{
    PortFacts facts;
    facts.name = port.portName();
    facts.location = port.systemLocation();
    facts.description = port.description();
    facts.manufacturer = port.manufacturer();
    facts.serialNumber = port.serialNumber();
    if (port.hasVendorIdentifier())
        facts.vendorId = port.vendorIdentifier();
    if (port.hasProductIdentifier())
        facts.productId = port.productIdentifier();
    return facts;
}

QList<PortFacts> availablePortFacts()
{
    QList<PortFacts> ports;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        ports << portFacts(port);
    return ports;
}

QString portToolTip(const PortFacts &facts)
{
    QStringList lines;
    if (!facts.location.isEmpty())
        lines << facts.location;
    if (!facts.description.isEmpty())
        lines << PortText::tr("描述：%1").arg(facts.description);
    if (!facts.manufacturer.isEmpty())
        lines << PortText::tr("制造商：%1").arg(facts.manufacturer);
    if (!facts.serialNumber.isEmpty())
        lines << PortText::tr("序列号：%1").arg(facts.serialNumber);
    if (facts.vendorId || facts.productId) {
        const auto hex = [](std::optional<quint16> id) {
            return id ? QString::asprintf("%04x", *id) : QStringLiteral("????");
        };
        lines
            << PortText::tr("USB 厂商:产品：%1:%2").arg(hex(facts.vendorId), hex(facts.productId));
    }
    return lines.join(QLatin1Char('\n'));
}

PortSelection selectionAfterRefresh(const QStringList &before, const QStringList &after,
                                    const QString &current)
{
    PortSelection selection;
    selection.index = int(after.indexOf(current));
    if (selection.index >= 0)
        return selection;
    if (!current.isEmpty() && !before.contains(current))
        selection.typedText = current;
    else if (!after.isEmpty())
        selection.index = 0;
    return selection;
}

} // namespace serial
