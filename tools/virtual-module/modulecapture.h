#pragma once

#include "protocol/pcapng.h"
#include "virtualmodule.h"

#include <QObject>
#include <QString>

namespace vmodule {

// A pcapng capture from the module's side: the requests it read are inbound, what it wrote
// outbound. The interface is the terminal, described by the serial settings of the module's
// record. A failed write stops the capture (failed(), once) and nothing else.
class ModuleCapture : public QObject
{
    Q_OBJECT

public:
    ModuleCapture(VirtualModule *module, const QString &portName, QObject *parent = nullptr);

    bool open(const QString &path); // false: errorString()
    QString errorString() const { return writer.errorString(); }

signals:
    void failed(const QString &reason);

private:
    void record(protocol::pcapng::Direction direction, const QByteArray &bytes,
                const QString &comment);

    VirtualModule *module;
    QString portName;
    protocol::pcapng::Writer writer;
};

} // namespace vmodule
