#include "app/dialog.h"
#include "app/logview.h"
#include "dialogdriver.h"
#include "protocol/frame.h"
#include "ptypair.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

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
        QTest::newRow("hex line") << "Recv->01 02 03 \n"
                                  << 8 << 2 << QStringList{"Recv->01", " 02 03 ", ""};
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
        QCOMPARE(store.rowCount(), (6 + 3 * 1000000 + 79) / 80 + 1);
        QCOMPARE(rows(store).at(int(store.rowCount()) - 2), text.mid(37500 * 80).chopped(1));
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
        appendToLog(sent, QStringLiteral("模块程序版本：1.2\n"));
        appendToLog(sent, QStringLiteral("send->") + protocol::hexLine(streamBytes(200000)));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.txt"));
        whenOpened([&](QWidget *dialog) {
            auto *files = qobject_cast<QFileDialog *>(dialog);
            QVERIFY(files);
            files->selectFile(path);
            static_cast<QDialog *>(files)->accept();
        });
        sent->findChild<QAction *>(QStringLiteral("saveAction"))->trigger();
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), sent->toPlainText().toUtf8());

        QString error;
        QVERIFY(!sent->saveTo(dir.filePath(QStringLiteral("missing/log.txt")), &error));
        QVERIFY(!error.isEmpty());
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
        const int columns = sent->lines().wrapColumns();
        QVERIFY(columns * QFontMetricsF(sent->font()).horizontalAdvance(QLatin1Char('0')) <=
                sent->viewport()->width());
        appendToLog(sent, QString(columns + 1, QLatin1Char('x')) + QLatin1Char('\n'));
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
