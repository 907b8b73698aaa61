#include "protocol/pcapng.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace protocol::pcapng {

namespace {

constexpr quint32 sectionHeaderType = 0x0A0D0D0A;
constexpr quint32 interfaceType = 0x00000001;
constexpr quint32 simplePacketType = 0x00000003;
constexpr quint32 enhancedPacketType = 0x00000006;
constexpr quint32 byteOrderMagic = 0x1A2B3C4D;

constexpr quint16 optEnd = 0;
constexpr quint16 optComment = 1;
constexpr quint16 shbUserAppl = 4;
constexpr quint16 ifName = 2;
constexpr quint16 ifDescription = 3;
constexpr quint16 ifTsresol = 9;
constexpr quint16 ifTsoffset = 14;
constexpr quint16 epbFlags = 2;

constexpr quint32 flagInbound = 0x1;
constexpr quint32 flagOutbound = 0x2;
constexpr quint8 microseconds = 6;

// Little-endian block builder.
class Block
{
public:
    explicit Block(quint32 type)
    {
        u32(type);
        u32(0); // total length, set by finish()
    }
    void u16(quint16 v)
    {
        const char b[2] = {char(v), char(v >> 8)};
        data.append(b, 2);
    }
    void u32(quint32 v)
    {
        u16(quint16(v));
        u16(quint16(v >> 16));
    }
    void padded(QByteArrayView bytes)
    {
        data.append(bytes.data(), bytes.size());
        data.append((4 - bytes.size() % 4) % 4, '\0');
    }
    void option(quint16 code, QByteArrayView value)
    {
        u16(code);
        u16(quint16(value.size()));
        padded(value);
        hasOptions = true;
    }
    QByteArray finish()
    {
        if (hasOptions)
            u32(optEnd); // code 0, length 0
        const quint32 total = quint32(data.size() + 4);
        u32(total);
        for (int i = 0; i < 4; ++i)
            data[4 + i] = char(total >> (8 * i));
        return data;
    }

private:
    QByteArray data;
    bool hasOptions = false;
};

// Reads numbers in the section's byte order.
struct Cursor
{
    const uchar *p;
    bool bigEndian;
    quint16 u16(qsizetype at) const
    {
        return bigEndian ? quint16(p[at] << 8 | p[at + 1]) : quint16(p[at + 1] << 8 | p[at]);
    }
    quint32 u32(qsizetype at) const
    {
        const quint32 a = u16(at), b = u16(at + 2);
        return bigEndian ? (a << 16 | b) : (b << 16 | a);
    }
};

struct Option
{
    quint16 code;
    QByteArrayView value;
};

QList<Option> options(const Cursor &c, qsizetype from, qsizetype end)
{
    QList<Option> found;
    while (from + 4 <= end) {
        const quint16 code = c.u16(from);
        const quint16 length = c.u16(from + 2);
        if (code == optEnd || from + 4 + length > end)
            break;
        found.append({code, QByteArrayView(c.p + from + 4, length)});
        from += 4 + ((length + 3) & ~3);
    }
    return found;
}

struct InterfaceState
{
    Interface interface;
    quint8 tsresol = microseconds;
    qint64 offsetSeconds = 0;
};

qint64 toMicroseconds(quint64 ticks, const InterfaceState &i)
{
    qint64 us = 0;
    if (i.tsresol & 0x80) {
        const int shift = i.tsresol & 0x7f;
        us = shift >= 64 ? 0 : qint64((static_cast<unsigned __int128>(ticks) * 1'000'000) >> shift);
    } else if (i.tsresol <= microseconds) {
        qint64 scale = 1;
        for (int n = i.tsresol; n < microseconds; ++n)
            scale *= 10;
        us = qint64(ticks) * scale;
    } else {
        quint64 divisor = 1;
        for (int n = microseconds; n < i.tsresol && n < 25; ++n)
            divisor = divisor > UINT64_MAX / 10 ? UINT64_MAX : divisor * 10;
        us = qint64(ticks / divisor);
    }
    return us + i.offsetSeconds * 1'000'000;
}

Direction directionOf(quint32 flags)
{
    switch (flags & 0x3) {
    case flagInbound:
        return Direction::Inbound;
    case flagOutbound:
        return Direction::Outbound;
    default:
        return Direction::Unknown;
    }
}

QString errnoText(int e)
{
    return QString::fromLocal8Bit(std::strerror(e));
}

} // namespace

QString noiseComment()
{
    return QStringLiteral("not a frame: noise");
}

QString configModeComment()
{
    return QStringLiteral("not a frame: configuration-mode bytes");
}

QString givenUpComment()
{
    return QStringLiteral("not a frame: header given up");
}

QByteArray sectionHeaderBlock()
{
    Block b(sectionHeaderType);
    b.u32(byteOrderMagic);
    b.u16(1);          // major version
    b.u16(0);          // minor version
    b.u32(0xffffffff); // section length unknown (64 bits of -1)
    b.u32(0xffffffff);
    b.option(shbUserAppl, "rfcfgtool");
    return b.finish();
}

QByteArray interfaceBlock(const Interface &interface)
{
    Block b(interfaceType);
    b.u16(interface.linkType);
    b.u16(0); // reserved
    b.u32(0); // no snapshot limit
    if (!interface.name.isEmpty())
        b.option(ifName, interface.name.toUtf8());
    if (!interface.description.isEmpty())
        b.option(ifDescription, interface.description.toUtf8());
    const char resolution = char(microseconds);
    b.option(ifTsresol, QByteArrayView(&resolution, 1));
    return b.finish();
}

QByteArray packetBlock(int interfaceId, qint64 timestampUs, Direction direction,
                       QByteArrayView bytes, const QString &comment)
{
    Block b(enhancedPacketType);
    b.u32(quint32(interfaceId));
    const quint64 ts = quint64(timestampUs);
    b.u32(quint32(ts >> 32));
    b.u32(quint32(ts));
    b.u32(quint32(bytes.size())); // captured
    b.u32(quint32(bytes.size())); // on the line
    b.padded(bytes);
    if (!comment.isEmpty())
        b.option(optComment, comment.toUtf8());
    if (direction != Direction::Unknown) {
        const quint32 flags = direction == Direction::Inbound ? flagInbound : flagOutbound;
        const char value[4] = {char(flags), 0, 0, 0};
        b.option(epbFlags, QByteArrayView(value, 4));
    }
    return b.finish();
}

std::optional<File> read(QByteArrayView data, QString *error)
{
    const auto fail = [error](const QString &why) -> std::optional<File> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const auto *bytes = reinterpret_cast<const uchar *>(data.data());
    if (data.size() < 12 || Cursor{bytes, false}.u32(0) != sectionHeaderType)
        return fail(QStringLiteral("not a pcapng file: no section header"));
    File file;
    QList<InterfaceState> interfaces;
    Cursor c{bytes, false};
    qsizetype at = 0;
    while (at < data.size()) {
        if (data.size() - at < 12) {
            file.truncated = true;
            break;
        }
        if (Cursor{bytes, false}.u32(at) == sectionHeaderType) {
            const quint32 magic = Cursor{bytes, false}.u32(at + 8);
            if (magic != byteOrderMagic && Cursor{bytes, true}.u32(at + 8) != byteOrderMagic)
                return fail(QStringLiteral("not a pcapng file: unknown byte order"));
            c.bigEndian = magic != byteOrderMagic;
            interfaces.clear();
        }
        const quint32 type = c.u32(at);
        const quint32 total = c.u32(at + 4);
        if (total < 12 || total % 4 != 0) {
            if (at == 0)
                return fail(QStringLiteral("not a pcapng file: bad block length"));
            file.truncated = true; // garbage where a block should start: read no further
            break;
        }
        if (data.size() - at < qsizetype(total)) {
            file.truncated = true;
            break;
        }
        const qsizetype body = at + 8;
        const qsizetype end = at + total - 4;
        if (type == interfaceType && end - body >= 8) {
            InterfaceState state;
            state.interface.linkType = c.u16(body);
            for (const Option &o : options(c, body + 8, end)) {
                if (o.code == ifName)
                    state.interface.name = QString::fromUtf8(o.value);
                else if (o.code == ifDescription)
                    state.interface.description = QString::fromUtf8(o.value);
                else if (o.code == ifTsresol && o.value.size() >= 1)
                    state.tsresol = quint8(o.value[0]);
                else if (o.code == ifTsoffset && o.value.size() == 8) {
                    const Cursor v{reinterpret_cast<const uchar *>(o.value.data()), c.bigEndian};
                    const quint64 lo = v.u32(c.bigEndian ? 4 : 0), hi = v.u32(c.bigEndian ? 0 : 4);
                    state.offsetSeconds = qint64(hi << 32 | lo);
                }
            }
            interfaces.append(state);
            file.interfaces.clear();
            for (const InterfaceState &i : interfaces)
                file.interfaces.append(i.interface);
        } else if (type == enhancedPacketType && end - body >= 20) {
            Packet packet;
            packet.interfaceId = int(c.u32(body));
            const quint64 ticks = quint64(c.u32(body + 4)) << 32 | c.u32(body + 8);
            const quint32 captured = c.u32(body + 12);
            const qsizetype dataAt = body + 20;
            if (captured > quint32(end - dataAt)) {
                file.truncated = true;
                break;
            }
            packet.bytes = QByteArray(reinterpret_cast<const char *>(bytes + dataAt), captured);
            const InterfaceState state = interfaces.value(packet.interfaceId);
            packet.timestampUs = toMicroseconds(ticks, state);
            packet.interfaceName = state.interface.name;
            packet.interfaceDescription = state.interface.description;
            for (const Option &o : options(c, dataAt + ((captured + 3) & ~3u), end)) {
                if (o.code == optComment)
                    packet.comment = QString::fromUtf8(o.value);
                else if (o.code == epbFlags && o.value.size() == 4)
                    packet.direction = directionOf(
                        Cursor{reinterpret_cast<const uchar *>(o.value.data()), c.bigEndian}.u32(
                            0));
            }
            file.packets.append(packet);
        } else if (type == simplePacketType && end - body >= 4) {
            Packet packet;
            const qsizetype length = qMin<qsizetype>(c.u32(body), end - body - 4);
            packet.bytes = QByteArray(reinterpret_cast<const char *>(bytes + body + 4), length);
            const InterfaceState state = interfaces.value(0);
            packet.interfaceName = state.interface.name;
            packet.interfaceDescription = state.interface.description;
            file.packets.append(packet);
        }
        at += total;
    }
    return file;
}

std::optional<File> readFile(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    const QByteArray data = f.readAll();
    QString why;
    auto file = read(data, &why);
    if (!file && error)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return file;
}

Writer::~Writer()
{
    close();
}

bool Writer::open(const QString &path)
{
    close();
    stopped = false;
    error.clear();
    interfaces.clear();
    written = 0;
    filePath = path;
    const QByteArray name = QFile::encodeName(path);
    // A FIFO's open waits for its reader, as Wireshark's capture pipe expects.
    do
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errnoText(errno);
        return false;
    }
    struct stat info
    {
    };
    toPipe = ::fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
    writeBlock(sectionHeaderBlock());
    return true;
}

void Writer::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

qint64 Writer::nowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

std::optional<int> Writer::interfaceId(const Interface &interface)
{
    for (qsizetype i = 0; i < interfaces.size(); ++i) {
        const Interface &known = interfaces[i];
        if (known.name == interface.name && known.description == interface.description &&
            known.linkType == interface.linkType)
            return int(i);
    }
    if (!isRecording() || !writeBlock(interfaceBlock(interface)))
        return std::nullopt;
    interfaces.append(interface);
    return int(interfaces.size() - 1);
}

bool Writer::writePacket(const Interface &interface, Direction direction, QByteArrayView bytes,
                         const QString &comment, std::optional<qint64> timestampUs)
{
    if (!isRecording())
        return false;
    const std::optional<int> id = interfaceId(interface);
    if (!id)
        return false;
    return writeBlock(packetBlock(*id, timestampUs.value_or(nowUs()), direction, bytes, comment));
}

bool Writer::writeBlock(const QByteArray &block)
{
    if (!isRecording())
        return false;
    // A reader that went away must not end the program: its pipe's signal is held back for the
    // write and taken if it came, leaving EPIPE as the reason.
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    if (toPipe)
        pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    qsizetype done = 0;
    int failure = 0;
    while (done < block.size()) {
        const ssize_t n = ::write(fd, block.constData() + done, size_t(block.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            failure = n < 0 ? errno : ENOSPC;
            break;
        }
    }
    if (toPipe) {
        if (failure == EPIPE && !sigismember(&previous, SIGPIPE)) {
            sigset_t waiting;
            sigpending(&waiting);
            if (sigismember(&waiting, SIGPIPE)) {
                const timespec zero{};
                sigtimedwait(&pipeSignal, nullptr, &zero);
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    written += quint64(done);
    if (failure == 0)
        return true;
    stopped = true;
    error = errnoText(failure);
    return false;
}

} // namespace protocol::pcapng
