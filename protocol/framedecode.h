#pragma once

#include "protocol/replyframe.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Frames found in bytes someone pasted or captured, each decoded into words and named values,
// with what is wrong with it: the decoder behind rfcfg decode and the window's decode box.
namespace protocol {

// What is wrong with one item; an item may have several problems.
enum class FrameProblem : quint16 {
    BadChecksum = 0x0001,    // the last byte is not the XOR of the others
    ShortFrame = 0x0002,     // a header whose frame ends before the length it announces
    NotAFrame = 0x0004,      // bytes that start no frame
    UnknownCommand = 0x0008, // a whole frame of a group and code the tool does not know
    ShortForKind = 0x0010,   // a whole frame too short for the values its command carries
    MissingRelays = 0x0020,  // a route reply that counts more relays than it carries
    DateNotBcd = 0x0040,     // a version reply whose date bytes are no decimal digit pairs
};
Q_DECLARE_FLAGS(FrameProblems, FrameProblem)
Q_DECLARE_OPERATORS_FOR_FLAGS(FrameProblems)

struct DecodedItem
{
    enum class Kind { Request, Reply, ConfigMode, NotAFrame };
    Kind kind = Kind::NotAFrame;
    int offset = 0; // of its first byte in the bytes decoded
    QByteArray bytes;
    FrameProblems problems;
    quint8 expectedChecksum = 0; // with BadChecksum: the XOR of the bytes before the last
    int announcedSize = 0;       // with ShortFrame: the size its header announces (0: no header)
    QString command;             // "read version"; empty for an unknown command
    // In English words, as rfcfg prints it: "version 10.02, released 2014-03-25".
    QString description;
    // The values the frame carries, as key and text (rfcfg config get's keys for the
    // configuration; whitelist and relay lists joined by blanks), in frame order.
    QList<QPair<QString, QString>> values;

    bool isGood() const { return !problems; }
    bool isFrame() const { return kind == Kind::Request || kind == Kind::Reply; }
};

// Splits `bytes` into frames, configuration-mode bytes and bytes that are no frame, and decodes
// each. A header is taken at its word: its announced length makes the frame, unless a whole
// good frame starts inside it, which then ends it as a short frame.
QList<DecodedItem> decodeBytes(QByteArrayView bytes);

// "request", "reply", "configuration-mode bytes", "not a frame".
QString kindText(DecodedItem::Kind kind);
// Each problem in words: "bad checksum: expected a0, found 00", "short frame: 5 of 12 bytes".
QStringList problemTexts(const DecodedItem &item);

// Hex as people paste it: pairs of digits, separated by blanks, commas or colons or not at
// all, each run perhaps with 0x in front; "send->" and "Recv->" of the window's logs and line
// breaks are skipped. Nothing, with the offending text in `error`, for anything else.
std::optional<QByteArray> bytesFromHexText(const QString &text, QString *error = nullptr);

// The words for a reply the tool knows, or for a frame it does not.
QString describeFrame(QByteArrayView frame);
// "success", or "failure (status 0x02)".
QString statusWords(int status);
// A route reply's outcome: "route to 1234: 2 relays: 0001 0002", "no route to ...".
QString routeWords(const QString &target, int status, const QStringList &relays);

} // namespace protocol
