#include "modulecapture.h"

#include "protocol/frame.h"

namespace vmodule {

using protocol::pcapng::Direction;

ModuleCapture::ModuleCapture(VirtualModule *module, const QString &portName, QObject *parent)
    : QObject(parent), module(module), portName(portName)
{
    connect(module, &VirtualModule::requestReceived, this, [this](const QByteArray &bytes) {
        record(Direction::Inbound, bytes,
               bytes == protocol::enterConfigModeBytes() ? protocol::pcapng::configModeComment()
                                                         : QString());
    });
    connect(module, &VirtualModule::bytesSkipped, this, [this](const protocol::StreamItem &item) {
        record(Direction::Inbound, item.frame,
               item.kind == protocol::StreamItem::Kind::GivenUp ? protocol::pcapng::givenUpComment()
                                                                : protocol::pcapng::noiseComment());
    });
    // The module writes whole replies, except for a fault (a split or corrupted reply, noise).
    connect(module, &VirtualModule::replySent, this, [this](const QByteArray &bytes) {
        QString comment;
        if (bytes == ModuleBehaviour::configModeAnswer())
            comment = protocol::pcapng::configModeComment();
        else if (bytes.size() < protocol::frameOverhead ||
                 bytes.size() != protocol::frameOverhead + quint8(bytes[3]) ||
                 !protocol::checksumMatches(bytes))
            comment = protocol::pcapng::noiseComment();
        record(Direction::Outbound, bytes, comment);
    });
}

bool ModuleCapture::open(const QString &path)
{
    if (!writer.open(path))
        return false;
    if (writer.isStopped())
        emit failed(writer.errorString());
    return true;
}

void ModuleCapture::record(Direction direction, const QByteArray &bytes, const QString &comment)
{
    if (!writer.isRecording())
        return;
    const ModuleBehaviour::SerialSettings s = module->behaviour().serialSettings();
    const char parity[] = {'N', 'O', 'E'};
    protocol::pcapng::Interface interface;
    interface.name = portName;
    interface.description = QStringLiteral("%1 8%2%3")
                                .arg(s.baudRate)
                                .arg(QLatin1Char(parity[qBound(0, s.parity, 2)]))
                                .arg(s.twoStopBits ? 2 : 1);
    if (!writer.writePacket(interface, direction, bytes, comment))
        emit failed(writer.errorString());
}

} // namespace vmodule
