#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// Captures in the pcapng format: one section, one interface per port and line settings, one
// packet per frame with its direction and a time stamp in microseconds.
namespace protocol::pcapng {

// The link type of the module's frames: the first of the user-defined ones.
constexpr quint16 linkTypeUser0 = 147;

enum class Direction { Unknown, Inbound, Outbound };

// Comments for the packets that hold bytes no frame holds.
QString noiseComment();      // skipped while looking for a header
QString configModeComment(); // the configuration-mode bytes
QString givenUpComment();    // a header whose frame never came in full

struct Interface
{
    quint16 linkType = linkTypeUser0;
    QString name;        // the port's path
    QString description; // the line settings, "9600 8E1"
};

struct Packet
{
    qint64 timestampUs = 0; // since the epoch
    Direction direction = Direction::Unknown;
    QByteArray bytes;
    QString comment;
    int interfaceId = 0;
    QString interfaceName;
    QString interfaceDescription;
};

struct File
{
    QList<Interface> interfaces; // of the last section
    QList<Packet> packets;
    // The file ended inside a block: what came before it is still read (a killed writer).
    bool truncated = false;
};

// The blocks, little-endian, each padded to 32 bits.
QByteArray sectionHeaderBlock();
QByteArray interfaceBlock(const Interface &interface);
QByteArray packetBlock(int interfaceId, qint64 timestampUs, Direction direction,
                       QByteArrayView bytes, const QString &comment = {});

// Reads the Section Header, Interface Description and Enhanced (and Simple) Packet Blocks of
// every section; other blocks are skipped. Nothing, with the reason, when the data does not
// start with a section header.
std::optional<File> read(QByteArrayView data, QString *error = nullptr);
std::optional<File> readFile(const QString &path, QString *error = nullptr);

// Writes a capture to a file (a FIFO too: it never seeks) one whole block per write, so what a
// killed program wrote is readable. The first failed write stops it: later blocks are dropped
// and errorString() holds the system's reason.
class Writer
{
public:
    Writer() = default;
    ~Writer();
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    // Opens (creating or emptying) `path` and writes the section header. False when the file
    // could not be opened; a failed first write leaves it open but stopped.
    bool open(const QString &path);
    void close();
    bool isOpen() const { return fd >= 0; }
    bool isStopped() const { return stopped; }
    bool isRecording() const { return fd >= 0 && !stopped; }
    QString errorString() const { return error; }
    QString path() const { return filePath; }
    quint64 bytesWritten() const { return written; }

    // The interface's number, its description block written the first time it is seen.
    std::optional<int> interfaceId(const Interface &interface);
    // Writes one packet on the interface; false when the capture is (or now gets) stopped.
    bool writePacket(const Interface &interface, Direction direction, QByteArrayView bytes,
                     const QString &comment = {}, std::optional<qint64> timestampUs = {});

    static qint64 nowUs();

private:
    bool writeBlock(const QByteArray &block);

    int fd = -1;
    bool toPipe = false; // a reader that goes away must not end the program (SIGPIPE)
    bool stopped = false;
    QString error;
    QString filePath;
    QList<Interface> interfaces;
    quint64 written = 0;
};

} // namespace protocol::pcapng
