#include "app/dialog.h"
#include "dialogdriver.h"
#include "protocol/frame.h"
#include "ptypair.h"
#include "widgets/logview.h"

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace {

// Every visual row of the store, as painted.
QStringList rows(const LogStore &store)
{
    QStringList list;
    for (qint64 r = 0; r < store.rowCount(); ++r) {
        const LogStore::Position start = store.rowStart(r);
        list << store.slice(start.line, start.column, store.rowEnd(r));
    }
    return list;
}

qint64 columnsOf(QStringView text, int wideColumns)
{
    qint64 columns = 0;
    for (const char32_t c : text.toUcs4())
        columns += LogStore::isWide(c) ? wideColumns : 1;
    return columns;
}

QByteArray streamBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    for (int i = 0; i < count; ++i)
        bytes[i] = char(i * 131 + i / 7);
    return bytes;
}

// Runs the action on the next modal dialog or popup that opens, once.
template <typename Action> void whenOpened(Action action)
{
    QTimer::singleShot(0, [action] {
        QTRY_VERIFY(QApplication::activeModalWidget() || QApplication::activePopupWidget());
        action(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                 : QApplication::activePopupWidget());
    });
}

// Saves the box through its context menu and returns what a message box said, if one came.
QString saveThroughMenu(LogView *box, const QString &path)
{
    QString said;
    QTimer messageWatch;
    QObject::connect(&messageWatch, &QTimer::timeout, [&] {
        auto *message = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!message)
            return;
        if (QAbstractButton *replace = message->button(QMessageBox::Yes)) {
            replace->click(); // the file dialog asks before it names an existing file
        } else {
            said = message->text();
            message->done(0);
        }
    });
    messageWatch.start(10);
    whenOpened([&](QWidget *dialog) {
        auto *files = qobject_cast<QFileDialog *>(dialog);
        QVERIFY(files);
        files->selectFile(path);
        static_cast<QDialog *>(files)->accept();
    });
    box->findChild<QAction *>(QStringLiteral("saveAction"))->trigger();
    return said;
}

} // namespace

class LogViewTest : public OpenPortTest
{
    Q_OBJECT

private slots:
    // ---- The store on its own -----------------------------------------------------------

    void wrapsByColumns_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("wideColumns");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("empty") << "" << 10 << 2 << QStringList{""};
        QTest::newRow("short") << "send->01 02 \n" << 80 << 2 << QStringList{"send->01 02 ", ""};
        QTest::newRow("exact width") << "abcd\n" << 4 << 2 << QStringList{"abcd", ""};
        QTest::newRow("one over") << "abcde" << 4 << 2 << QStringList{"abcd", "e"};
        // Hex wraps between bytes (a byte's blank may hang past the edge), text by character.
        QTest::newRow("hex line") << "Recv->01 02 03 \n"
                                  << 8 << 2 << QStringList{"Recv->01 ", "02 03 ", ""};
        QTest::newRow("hex after a full text row") << "send->a0 b1 \n"
                                                   << 6 << 2 << QStringList{"send->", "a0 b1 ", ""};
        QTest::newRow("hex after wide text") << "中文01 02 \n"
                                             << 5 << 2 << QStringList{"中文", "01 02 ", ""};
        QTest::newRow("hex in a row too narrow for a byte")
            << "01 02 \n"
            << 1 << 2 << QStringList{"01 ", "02 ", ""};
        QTest::newRow("hex followed by text wraps by character")
            << "01 02 x\n"
            << 4 << 2 << QStringList{"01 0", "2 x", ""};
        QTest::newRow("wide at the edge moves down")
            << "配置结果：SUCCESS!\n"
            << 9 << 2 << QStringList{"配置结果", "：SUCCESS", "!", ""};
        QTest::newRow("wide glyphs measured at three") << "中a\n"
                                                       << 3 << 3 << QStringList{"中", "a", ""};
        QTest::newRow("outside the basic plane") << "𝐀ab" << 2 << 2 << QStringList{"𝐀a", "b"};
    }

    void wrapsByColumns()
    {
        QFETCH(QString, text);
        QFETCH(int, columns);
        QFETCH(int, wideColumns);
        QFETCH(QStringList, shown);
        LogStore store;
        store.setWideColumns(wideColumns);
        store.setWrapColumns(columns);
        store.append(text);
        QCOMPARE(rows(store), shown);
        QCOMPARE(store.plainText(), text);
        QBuffer saved;
        saved.open(QIODevice::WriteOnly);
        QVERIFY(store.writeUtf8(saved));
        QCOMPARE(saved.data(), text.toUtf8());
        // Rewrapping after the text arrived gives the same rows.
        LogStore later;
        later.append(text);
        later.setWideColumns(wideColumns);
        later.setWrapColumns(columns);
        QCOMPARE(rows(later), shown);
    }

    void oneHugeLine()
    {
        const QByteArray bytes = streamBytes(1000000);
        const QString text = QStringLiteral("Recv->") + protocol::hexLine(bytes);
        LogStore store;
        store.setWrapColumns(80);
        store.append(text);
        QCOMPARE(store.plainText(), text);
        // 25 bytes after "Recv->" (the last blank past the edge), then 27 a row.
        QCOMPARE(store.rowCount(), 1 + (1000000 - 25 + 26) / 27 + 1);
        QCOMPARE(rows(store).at(int(store.rowCount()) - 2),
                 text.mid(6 + 3 * (25 + 37036 * 27)).chopped(1));
        QVERIFY(store.bytesHeld() < text.size() / 2); // the hex kept as the bytes it shows
    }

    void selectsWholeCharacters()
    {
        LogStore store;
        store.append(QStringLiteral("Recv->01 02 \n配置结果"));
        QCOMPARE(store.text({0, 2}, {1, 3}), QStringLiteral("cv->01 02 \n配置"));
        QCOMPARE(store.step({1, 0}, +1).column, 2);
        QCOMPARE(store.step({1, 4}, -1).column, 2);
        QCOMPARE(store.step({0, 12}, +1), (LogStore::Position{1, 0}));
    }

    void prefixesOnlyLinesItBegins()
    {
        LogStore store;
        store.append(QStringLiteral("a\nb"), QStringLiteral("T "));
        store.append(QStringLiteral("c\nd\n"), QStringLiteral("U "));
        QCOMPARE(store.plainText(), QStringLiteral("T a\nT bc\nU d\n"));
    }

    void longLineGrowsWithWhatIsAdded_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("piece");
        QTest::addColumn<int>("pieces");
        QTest::newRow("ASCII") << "" << QString(1000, QLatin1Char('x')) << 2000;
        QTest::newRow("wide") << "" << QString(1000, QChar(0x4e2d)) << 700;
        QTest::newRow("after other lines") << "Recv->01 02 \n模块程序版本：1.2\n"
                                           << QString(1000, QLatin1Char('x')) << 2000;
    }

    void longLineGrowsWithWhatIsAdded()
    {
        QFETCH(QString, before);
        QFETCH(QString, piece);
        QFETCH(int, pieces);
        LogStore store;
        store.append(before);
        for (int n = 0; n < pieces; ++n)
            store.append(piece);
        const QString text = before + piece.repeated(pieces);
        QCOMPARE(store.plainText(), text);
        const qint64 size = text.toUtf8().size();
        QVERIFY2(
            store.bytesHeld() < 2 * size + (1 << 20),
            qPrintable(QStringLiteral("%1 bytes held for %2").arg(store.bytesHeld()).arg(size)));
    }

    void keepsTextAroundALoneSurrogate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kept");
        const auto u16 = [](const char16_t *s) { return QStringView(s).toString(); };
        QTest::newRow("lone high before a letter") << u16(u"\xD800z") << u16(u"\xFFFDz");
        QTest::newRow("lone low") << u16(u"x\xDC00y") << u16(u"x\xFFFDy");
        QTest::newRow("high at the end") << u16(u"xy\xD800") << u16(u"xy\xFFFD");
        QTest::newRow("high before a line break") << u16(u"x\xD800\ny") << u16(u"x\xFFFD\ny");
        QTest::newRow("high before a pair")
            << u16(u"\xD800\xD83D\xDE00!") << u16(u"\xFFFD\xD83D\xDE00!");
        QTest::newRow("low before high") << u16(u"\xDC00\xD800x") << u16(u"\xFFFD\xFFFDx");
        QTest::newRow("valid pair kept") << u16(u"x\xD835\xDC00y") << u16(u"x\xD835\xDC00y");
    }

    void keepsTextAroundALoneSurrogate()
    {
        QFETCH(QString, text);
        QFETCH(QString, kept);
        LogStore store;
        store.append(text);
        QCOMPARE(store.plainText(), kept);
        QBuffer saved;
        saved.open(QIODevice::WriteOnly);
        QVERIFY(store.writeUtf8(saved));
        QCOMPARE(saved.data(), kept.toUtf8());
        QCOMPARE(store.lineColumns(0),
                 columnsOf(kept.section(QLatin1Char('\n'), 0, 0), store.wideColumns()));
    }

    void longLineRowsMatchAWalkFromItsStart_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("wideColumns");
        QTest::addColumn<int>("piece"); // appended in pieces of this size; 0: at once
        QTest::addColumn<bool>("closed");
        const QString mixed = QStringLiteral("配置结果：SUCCESS!").repeated(400);
        QTest::newRow("wide and narrow, closed") << mixed << 80 << 2 << 0 << true;
        QTest::newRow("wide and narrow, open, in pieces") << mixed << 80 << 2 << 7 << false;
        QTest::newRow("ASCII, then wide")
            << QString(3000, QLatin1Char('x')) + mixed.left(300) << 80 << 2 << 0 << false;
        QTest::newRow("wide glyphs of three") << mixed << 7 << 3 << 0 << true;
        QTest::newRow("one column") << mixed.left(1500) << 1 << 2 << 0 << false;
        QTest::newRow("narrow, not ASCII")
            << QStringLiteral("Grüße aus Köln, ").repeated(300) << 80 << 2 << 13 << true;
        QTest::newRow("outside the basic plane")
            << QStringLiteral("𝐀ab😀中").repeated(800) << 9 << 2 << 0 << true;
        QTest::newRow("with a hex run")
            << mixed + QStringLiteral(" 01 02 03 ").repeated(300) << 80 << 2 << 0 << true;
    }

    void longLineRowsMatchAWalkFromItsStart()
    {
        QFETCH(QString, line);
        QFETCH(int, columns);
        QFETCH(int, wideColumns);
        QFETCH(int, piece);
        QFETCH(bool, closed);
        LogStore store;
        store.setWideColumns(wideColumns);
        store.setWrapColumns(columns);
        for (qsizetype at = 0; at < line.size(); at += piece ? piece : line.size())
            store.append(QStringView(line).mid(at, piece ? piece : line.size()));
        if (closed)
            store.append(QStringLiteral("\n"));
        // Once as the text arrived, once wrapped again at another width.
        for (const int wrap : {columns, columns + 3}) {
            store.setWrapColumns(wrap);
            QStringList shown;
            for (qint64 r = 0; r < store.rowCount() && store.rowStart(r).line == 0; ++r) {
                const LogStore::Position start = store.rowStart(r);
                const QString row = store.slice(0, start.column, store.rowEnd(r));
                const qint64 width = columnsOf(row, wideColumns);
                // A hex byte's blank may hang past the edge.
                QVERIFY2(width <= wrap || row.toUcs4().size() == 1 ||
                             (width == wrap + 1 && row.endsWith(QLatin1Char(' '))),
                         qPrintable(row));
                QCOMPARE(store.rowOf(start), r);
                QCOMPARE(store.rowOf({0, start.column + width / 2}), r);
                const qint64 first =
                    columnsOf(row.left(row.at(0).isHighSurrogate() ? 2 : 1), wideColumns);
                QCOMPARE(store.step(start, +1).column, start.column + first);
                // A row ends only where the next character would not fit.
                if (!shown.isEmpty())
                    QVERIFY2(columnsOf(shown.last().trimmed(), wideColumns) + first > wrap ||
                                 columnsOf(shown.last(), wideColumns) + 2 > wrap,
                             qPrintable(shown.last()));
                shown << row;
            }
            QCOMPARE(shown.join(QString()), line);
        }
    }

    // ---- The boxes in the window --------------------------------------------------------

    void init()
    {
        // Only frames handed to an open port are echoed, so the box fills through a real one.
        openSession(Window::Shown);
        if (ui)
            sent = ui->widget<LogView>("SendOutBrowser");
    }

    void cleanup() { closeSession(); }

    void contextMenuOffersTheLogActions()
    {
        QStringList texts;
        whenOpened([&](QWidget *popup) {
            for (QAction *action : popup->actions())
                if (!action->isSeparator())
                    texts << action->text();
            popup->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                sent->viewport()->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(sent->viewport(), &event);
        QCOMPARE(texts, (QStringList{"复制", "全选", "另存为…", "清除", "时间戳"}));
    }

    void saveAsWritesWhatTheBoxShows()
    {
        ui->invoke("on_pushButton_readVersion_clicked");
        sent->appendText(QStringLiteral("模块程序版本：1.2\n"));
        sent->appendText(QStringLiteral("send->") + protocol::hexLine(streamBytes(200000)));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.txt"));
        QCOMPARE(saveThroughMenu(sent, path), QString());
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), sent->toPlainText().toUtf8());

        QString error;
        QVERIFY(!sent->saveTo(dir.filePath(QStringLiteral("missing/log.txt")), &error));
        QVERIFY(!error.isEmpty());
    }

    void saveAsWritesInPlaceOrSaysWhy_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("failure"); // the error the message box names; 0: none
        QTest::newRow("FIFO") << "fifo" << 0;
        QTest::newRow("device without room") << "/dev/full" << ENOSPC;
        QTest::newRow("regular file over the size limit") << "limited" << EFBIG;
    }

    void saveAsWritesInPlaceOrSaysWhy()
    {
        QFETCH(QString, target);
        QFETCH(int, failure);
        sent->appendText(QStringLiteral("模块程序版本：1.2\nsend->") +
                         protocol::hexLine(streamBytes(6000)));
        QTemporaryDir dir;
        const QString path = target.startsWith(QLatin1Char('/')) ? target : dir.filePath(target);
        const QByteArray name = QFile::encodeName(path);
        const QByteArray earlier = "the log saved earlier\n";
        int reader = -1;
        if (target == QLatin1String("fifo")) {
            QCOMPARE(mkfifo(name.constData(), 0600), 0);
            reader = ::open(name.constData(), O_RDWR | O_NONBLOCK); // a reader with room
        } else if (target == QLatin1String("limited")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(earlier) == earlier.size());
        }
        struct stat before = {}, after = {};
        QCOMPARE(::stat(name.constData(), &before), 0);

        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit small{4096, limit.rlim_max};
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (target == QLatin1String("limited"))
            setrlimit(RLIMIT_FSIZE, &small);
        const QString said = saveThroughMenu(sent, path);
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY2(failure ? said.contains(QString::fromLocal8Bit(std::strerror(failure)))
                         : said.isEmpty(),
                 qPrintable(said));
        QCOMPARE(::stat(name.constData(), &after), 0);
        QCOMPARE(after.st_mode & S_IFMT, before.st_mode & S_IFMT); // not replaced
        if (reader >= 0) {
            QByteArray delivered(1 << 16, Qt::Uninitialized);
            delivered.resize(::read(reader, delivered.data(), size_t(delivered.size())));
            ::close(reader);
            QCOMPARE(delivered, sent->toPlainText().toUtf8());
        } else if (target == QLatin1String("limited")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), earlier); // a failed save leaves the earlier file whole
        }
    }

    void timeStampsGoOnNewLinesOnly()
    {
        ui->invoke("on_pushButton_readVersion_clicked");
        QAction *stamps = sent->findChild<QAction *>(QStringLiteral("timeStampAction"));
        QVERIFY(!stamps->isChecked());
        stamps->trigger();
        ui->invoke("on_pushButton_resetModule_clicked");
        stamps->trigger();
        ui->invoke("on_pushButton_readVersion_clicked");
        const QStringList lines = sent->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.at(0), QStringLiteral("send->01 00 06 00 07 "));
        QVERIFY2(
            QRegularExpression(QStringLiteral(R"(^\d\d:\d\d:\d\d\.\d\d\d send->01 00 07 00 06 $)"))
                .match(lines.at(1))
                .hasMatch(),
            qPrintable(lines.at(1)));
        QCOMPARE(lines.at(2), QStringLiteral("send->01 00 06 00 07 "));
    }

    void mouseAndKeysSelectAndCopy()
    {
        ui->invoke("on_pushButton_readVersion_clicked");
        ui->invoke("on_pushButton_resetModule_clicked");
        QWidget *view = sent->viewport();
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(1, 5));
        QTest::mouseMove(view, QPoint(view->width() - 2, 5));
        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(view->width() - 2, 5));
        QTest::keyClick(sent, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("send->01 00 06 00 07 "));
        QTest::keyClick(sent, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(sent, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), sent->toPlainText());
        sent->findChild<QAction *>(QStringLiteral("clearAction"))->trigger();
        QCOMPARE(sent->toPlainText(), QString());
    }

    void wrapsAtTheBoxAndFollowsOnlyAtTheBottom()
    {
        // The box measures its font when the first text comes.
        sent->appendText(QStringLiteral("x"));
        const int columns = sent->lines().wrapColumns();
        QVERIFY(columns * QFontMetricsF(sent->font()).horizontalAdvance(QLatin1Char('0')) <=
                sent->viewport()->width());
        sent->appendText(QString(columns, QLatin1Char('x')) + QLatin1Char('\n'));
        QCOMPARE(sent->lines().rowCount(), 3); // two rows and the empty last line

        QScrollBar *bar = sent->verticalScrollBar();
        for (int n = 0; n < 50; ++n)
            ui->invoke("on_pushButton_readVersion_clicked");
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(3);
        ui->invoke("on_pushButton_readVersion_clicked");
        QCOMPARE(bar->value(), 3);
        bar->setValue(bar->maximum());
        ui->invoke("on_pushButton_readVersion_clicked");
        QCOMPARE(bar->value(), bar->maximum());
    }

private:
    LogView *sent = nullptr;
};

QTEST_MAIN(LogViewTest)
#include "tst_logview.moc"
