// rfcfg decode, run as a real process: frames from hex arguments, standard input and a capture,
// good and bad.
#include "app/dialog.h"
#include "protocol/pcapng.h"
#include "testbytes.h"
#include "widgets/decodebox.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Result
{
    int status = -1;
    QString out;
    QString err;
};

Result rfcfg(const QStringList &args, const QByteArray &input = {})
{
    QProcess process;
    process.start(QStringLiteral(RFCFG_BINARY), args);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString hexOf(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

} // namespace

class DecodeTest : public QObject
{
    Q_OBJECT

private slots:
    // Text output: each item, what it says and what is wrong with it, and the exit status.
    void text_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input"); // standard input
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("expected"); // each somewhere in the output
        const QString config = hexOf(withChecksum("01 00 82 10 a5 a5 03 01 00 01 34 12 01 00 00 "
                                                  "00 03 42 08 0c"));
        QTest::newRow("good request")
            << QStringList{"01", "00", "06", "00", "07"} << QByteArray() << 0
            << QStringList{"request  01 00 06 00 07\n  read version\n", "1 good, 0 bad"};
        QTest::newRow("good reply, one run of digits")
            << QStringList{QString(config).remove(' ')} << QByteArray() << 0
            << QStringList{"reply  01 00 82 10", "configuration: channel=3 power=17dBm "
                                                 "device_type=master network_id=1234"};
        QTest::newRow("bad checksum")
            << QStringList{"01 00 86 07 00 10 02 00 25 03 14 00"} << QByteArray() << 1
            << QStringList{"version 10.02, released 2014-03-25",
                           "BAD: bad checksum: expected a0, found 00", "0 good, 1 bad"};
        QTest::newRow("short frame")
            << QStringList{"01 00 86 07 00 10"} << QByteArray() << 1
            << QStringList{"the start of a read version reply", "BAD: short frame: 6 of 12 bytes"};
        QTest::newRow("short frame before a good one")
            << QStringList{"05 00 88 09 34 12 01 00 06 00 07"} << QByteArray() << 1
            << QStringList{"BAD: short frame: 6 of 14 bytes", "request  01 00 06 00 07",
                           "1 good, 1 bad"};
        QTest::newRow("noise") << QStringList{"99", "98", "2d", "2d", "2d"} << QByteArray() << 1
                               << QStringList{
                                      "not a frame  99 98", "BAD: 2 bytes that start no frame",
                                      "configuration-mode bytes  2d 2d 2d", "1 good, 1 bad"};
        QTest::newRow("unknown command")
            << QStringList{withChecksum("01 00 09 00").toHex()} << QByteArray() << 1
            << QStringList{"BAD: no command the tool knows"};
        QTest::newRow("standard input, the window's log lines")
            << QStringList() << QByteArray("send->01 00 07 00 06 \nRecv->01 00 87 01 00 87 \n") << 0
            << QStringList{"reset module", "reset: success", "2 good, 0 bad"};
        QTest::newRow("data send with relays")
            << QStringList{withChecksum("05 00 01 0e 34 12 01 07 03 02 01 00 02 00 03 aa bb cc")
                               .toHex()}
            << QByteArray() << 0
            << QStringList{"send 3 bytes to 1234, source routing via 0001 0002, at most 7 hops, "
                           "ACK requested: aa bb cc"};
        QTest::newRow("not hex") << QStringList{"01", "zz"} << QByteArray() << 2
                                 << QStringList{"'zz' is not hex"};
        QTest::newRow("nothing") << QStringList() << QByteArray() << 2
                                 << QStringList{"nothing to decode"};
    }
    void text()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(QStringList, expected);
        const Result r = rfcfg(QStringList{"decode"} + args, input);
        QVERIFY2(r.status == status, qPrintable(QString::number(r.status) + r.out + r.err));
        for (const QString &text : expected)
            QVERIFY2((r.out + r.err).contains(text), qPrintable(r.out + r.err));
    }

    // The JSON document names each item's fields and values.
    void json_data()
    {
        QTest::addColumn<QString>("hex");
        QTest::addColumn<QString>("key"); // of items[0], "values." for its values
        QTest::addColumn<QVariant>("value");
        const QString version = "01 00 86 07 00 10 02 00 25 03 14 a0";
        QTest::newRow("type") << version << "type" << QVariant("reply");
        QTest::newRow("code") << version << "code" << QVariant(0x86);
        QTest::newRow("version") << version << "values.version" << QVariant("10.02");
        QTest::newRow("date") << version << "values.release_date" << QVariant("2014-03-25");
        QTest::newRow("expected checksum") << "01 00 86 07 00 10 02 00 25 03 14 00"
                                           << "expected_checksum" << QVariant(0xa0);
        QTest::newRow("problem") << "01 00 86 07 00 10 02 00 25 03 14 00"
                                 << "problems" << QVariant("bad checksum: expected a0, found 00");
        QTest::newRow("route relays") << hexOf(withChecksum("05 00 88 09 34 12 00 00 02 01 00 "
                                                            "02 00"))
                                      << "values.relays" << QVariant("0001 0002");
        QTest::newRow("whitelist entries")
            << hexOf(withChecksum("04 00 01 0f cd ab 00 ff ff 00 ff ff 00 ff ff 00 ff ff 00"))
            << "values.whitelist" << QVariant("abcd ffff ffff ffff ffff");
        QTest::newRow("data report status")
            << hexOf(withChecksum("05 00 81 03 34 12 02")) << "values.status" << QVariant("0x02");
    }
    void json()
    {
        QFETCH(QString, hex);
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        const Result r = rfcfg({"decode", "--json", hex});
        const QJsonObject doc = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(doc.value("command").toString(), QStringLiteral("decode"));
        QJsonValue item = doc.value("items").toArray().first();
        for (const QString &part : key.split('.'))
            item = item.toObject().value(part);
        if (item.isArray())
            item = item.toArray().first();
        QCOMPARE(item.toVariant(), value);
    }

    // A capture's packets keep their number, direction and comment.
    void capture()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("session.pcapng");
        {
            using protocol::pcapng::Direction;
            protocol::pcapng::Writer writer;
            QVERIFY(writer.open(path));
            const protocol::pcapng::Interface port{147, "/dev/ttyUSB0", "9600 8N1"};
            QVERIFY(writer.writePacket(port, Direction::Outbound, hex("01 00 06 00 07")));
            QVERIFY(writer.writePacket(port, Direction::Inbound, hex("aa"),
                                       protocol::pcapng::noiseComment()));
            QVERIFY(writer.writePacket(port, Direction::Inbound,
                                       hex("01 00 86 07 00 10 02 00 25 03 14 a0")));
        }
        const Result text = rfcfg({"decode", path});
        QCOMPARE(text.status, 1); // the noise
        QVERIFY2(text.out.contains(QRegularExpression("#1 [-0-9T:.]+Z outbound\nrequest  ")),
                 qPrintable(text.out));
        QVERIFY2(text.out.contains("#3 ") && text.out.contains("version 10.02"),
                 qPrintable(text.out));
        const QJsonArray items =
            QJsonDocument::fromJson(rfcfg({"decode", "--json", path}).out.toUtf8())
                .object()
                .value("items")
                .toArray();
        QCOMPARE(items.size(), 3);
        QCOMPARE(items[1]["comment"].toString(), protocol::pcapng::noiseComment());
        QCOMPARE(items[2]["direction"].toString(), QStringLiteral("inbound"));
        QCOMPARE(items[2]["packet"].toInt(), 3);
    }

    // The window's decode box reads pasted hex as rfcfg decode does, replies also in the
    // receive box's words.
    void windowBox_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("the receive box's line")
            << "Recv->01 00 86 07 00 10 02 00 25 03 14 a0 "
            << QStringList{"01 00 86 07 00 10 02 00 25 03 14 a0",
                           "version 10.02, released 2014-03-25", "模块程序版本：V10.02"};
        QTest::newRow("request, then a bad reply")
            << "01 00 07 00 06 01 00 87 01 00 00"
            << QStringList{"reset module", "错误：bad checksum: expected 87, found 00"};
        QTest::newRow("not hex") << "01 0g" << QStringList{"'0g' is not hex"};
    }
    void windowBox()
    {
        QFETCH(QString, pasted);
        QFETCH(QStringList, expected);
        Dialog window;
        window.findChild<QPushButton *>("pushButton_decode")->click();
        auto *box = window.findChild<DecodeBox *>();
        QVERIFY(box && box->isVisible());
        box->input()->setPlainText(pasted);
        const QString shown = box->output()->toPlainText();
        for (const QString &text : expected)
            QVERIFY2(shown.contains(text), qPrintable(shown));
        // A second press raises the same box.
        window.findChild<QPushButton *>("pushButton_decode")->click();
        QCOMPARE(window.findChildren<DecodeBox *>().size(), 1);
    }
};

QTEST_MAIN(DecodeTest)
#include "tst_decode.moc"
