#include "serial/capture.h"

namespace serial {

using protocol::pcapng::Direction;

Capture::Capture(QObject *parent) : QObject(parent) {}

Capture::~Capture()
{
    for (auto it = links.begin(); it != links.end(); ++it) {
        disconnect(it->sent);
        disconnect(it->scanned);
        disconnect(it->destroyed);
    }
}

bool Capture::open(const QString &path)
{
    if (!writer.open(path))
        return false;
    if (writer.isStopped())
        emit failed(writer.errorString());
    return true;
}

void Capture::close()
{
    writer.close();
}

void Capture::attach(ModuleLink *link)
{
    if (links.contains(link))
        return;
    LinkInterface &entry = links[link];
    entry.sent = connect(link, &ModuleLink::sent, this, [this, link](const QByteArray &bytes) {
        record(interfaceOf(link), Direction::Outbound, bytes);
    });
    entry.scanned =
        connect(link, &ModuleLink::scanned, this, [this, link](const protocol::StreamItem &item) {
            record(interfaceOf(link), Direction::Inbound, item.frame, commentFor(item.kind));
        });
    entry.destroyed =
        connect(link, &QObject::destroyed, this, [this, link] { links.remove(link); });
}

void Capture::detach(ModuleLink *link)
{
    const auto it = links.constFind(link);
    if (it == links.cend())
        return;
    disconnect(it->sent);
    disconnect(it->scanned);
    disconnect(it->destroyed);
    links.erase(it);
}

const protocol::pcapng::Interface &Capture::interfaceOf(ModuleLink *link)
{
    LinkInterface &entry = links[link];
    const LineSettings now = link->lineSettings();
    const bool same = entry.settings.baudRate == now.baudRate &&
                      entry.settings.parity == now.parity &&
                      entry.settings.stopBits == now.stopBits;
    if (!same || entry.path != link->portPath() || entry.interface.description.isEmpty()) {
        entry.path = link->portPath();
        entry.settings = now;
        entry.interface.name = entry.path;
        entry.interface.description = describe(now);
    }
    return entry.interface;
}

void Capture::record(const protocol::pcapng::Interface &interface, Direction direction,
                     QByteArrayView bytes, const QString &comment)
{
    if (!writer.isRecording())
        return;
    if (!writer.writePacket(interface, direction, bytes, comment))
        emit failed(writer.errorString());
}

QString Capture::describe(const LineSettings &s)
{
    QChar parity = QLatin1Char('N');
    switch (s.parity) {
    case QSerialPort::OddParity:
        parity = QLatin1Char('O');
        break;
    case QSerialPort::EvenParity:
        parity = QLatin1Char('E');
        break;
    case QSerialPort::SpaceParity:
        parity = QLatin1Char('S');
        break;
    case QSerialPort::MarkParity:
        parity = QLatin1Char('M');
        break;
    default:
        break;
    }
    const QString stop = s.stopBits == QSerialPort::TwoStop          ? QStringLiteral("2")
                         : s.stopBits == QSerialPort::OneAndHalfStop ? QStringLiteral("1.5")
                                                                     : QStringLiteral("1");
    return QStringLiteral("%1 8%2%3").arg(s.baudRate).arg(parity).arg(stop);
}

QString Capture::commentFor(protocol::StreamItem::Kind kind)
{
    switch (kind) {
    case protocol::StreamItem::Kind::ConfigMode:
        return protocol::pcapng::configModeComment();
    case protocol::StreamItem::Kind::Noise:
        return protocol::pcapng::noiseComment();
    case protocol::StreamItem::Kind::GivenUp:
        return protocol::pcapng::givenUpComment();
    case protocol::StreamItem::Kind::Frame:
        break;
    }
    return {};
}

} // namespace serial
