#pragma once

#include "protocol/framescanner.h"
#include "protocol/pcapng.h"
#include "serial/modulelink.h"

#include <QHash>
#include <QObject>
#include <QString>

namespace serial {

// A pcapng capture of one or more links: what each link sent (outbound) and what its scanner
// found in what arrived (inbound), each frame written and flushed as it completes. Each port and
// line settings is an interface of its own. A failed write stops the capture, never the link.
class Capture : public QObject
{
    Q_OBJECT

public:
    explicit Capture(QObject *parent = nullptr);
    ~Capture() override;

    // Creates (or empties) `path` and starts recording: false, with errorString(), when it could
    // not be opened. Connect failed() first: the first write happens here.
    bool open(const QString &path);
    // Stops recording and closes the file; links stay attached to no effect.
    void close();
    bool isRecording() const { return writer.isRecording(); }
    QString path() const { return writer.path(); }
    QString errorString() const { return writer.errorString(); }

    // Records the link's traffic from now on, through reopens and new line settings.
    void attach(ModuleLink *link);
    void detach(ModuleLink *link);

    // For a source that is no ModuleLink (the virtual module); the time is now.
    void record(const protocol::pcapng::Interface &interface, protocol::pcapng::Direction direction,
                QByteArrayView bytes, const QString &comment = {});

    // "9600 8E1": rate, data bits, parity letter, stop bits.
    static QString describe(const LineSettings &settings);
    // The comment of a scanned item that is no frame; empty for a frame.
    static QString commentFor(protocol::StreamItem::Kind kind);

signals:
    // Once: the capture stopped on a failed write, with the system's reason.
    void failed(const QString &reason);

private:
    const protocol::pcapng::Interface &interfaceOf(ModuleLink *link);

    struct LinkInterface
    {
        QString path;
        LineSettings settings;
        protocol::pcapng::Interface interface;
        QMetaObject::Connection sent, scanned, destroyed;
    };
    protocol::pcapng::Writer writer;
    QHash<ModuleLink *, LinkInterface> links;
};

} // namespace serial
