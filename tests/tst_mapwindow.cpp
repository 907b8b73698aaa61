// The window's network map over a virtual module on a pseudo-terminal: a scan fills the view, a
// node fills the data-send fields, the map comes back with its module.
#include "dialogdriver.h"
#include "virtualmodule.h"
#include "widgets/networkmapview.h"
#include "widgets/networkmapwindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class MapWindowTest : public QObject
{
    Q_OBJECT

    vmodule::VirtualModule *module = nullptr;
    Dialog *dialog = nullptr;
    DialogDriver *ui = nullptr;
    NetworkMapWindow *window = nullptr;
    std::unique_ptr<QTemporaryDir> folder; // each test's maps

    // Opens the map from its button.
    void openMap()
    {
        ui->click("pushButton_networkMap");
        window = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *found = qobject_cast<NetworkMapWindow *>(w))
                window = found;
        }
        QVERIFY(window && window->isVisible());
        window->setMapFolder(folder->path());
    }
    void scan(const QString &targets)
    {
        window->findChild<QLineEdit *>("lineEdit_scanTargets")->setText(targets);
        window->findChild<QPushButton *>("pushButton_scan")->click();
        QVERIFY(window->isScanning());
        QTRY_VERIFY_WITH_TIMEOUT(!window->isScanning(), 30000);
    }
    QPointF centre(network::NodeId node)
    {
        const auto c = window->view()->nodeCentre(node);
        if (!c)
            qFatal("node %s is not drawn", qPrintable(network::nodeName(node)));
        return *c;
    }

private slots:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        module = new vmodule::VirtualModule;
        QVERIFY(module->start());
        dialog = new Dialog;
        ui = new DialogDriver(*dialog);
        ui->openPort(module->devicePath());
        QVERIFY(ui->portShownOpen());
        openMap();
    }
    void cleanup()
    {
        delete ui;
        delete dialog;
        delete module;
    }

    // Each node in the column of its hop count, failures and strangers aside; the progress
    // counts every target; the map is kept under the module's address.
    void scanFillsTheView()
    {
        scan("0002-0005 1234, 00ab 7777");
        QCOMPARE(window->findChild<QProgressBar *>("progressBar_scan")->value(), 7);
        NetworkMapView *view = window->view();
        QCOMPARE(view->nodeCount(), 1 + 7);
        const double own = centre(network::ownNode).x();
        QVERIFY(own < centre(0x0002).x());
        QCOMPARE(centre(0x0002).x(), centre(0x0004).x());
        QVERIFY(centre(0x0002).x() < centre(0x0003).x());
        QCOMPARE(centre(0x0003).x(), centre(0x00ab).x());
        QVERIFY(centre(0x0003).x() < centre(0x1234).x());
        // Not reached: drawn last.
        QVERIFY(centre(0x1234).x() < centre(0x0005).x());
        QCOMPARE(centre(0x0005).x(), centre(0x7777).x());
        QVERIFY(view->nodeHistory(0x1234).contains("0002 → 0003"));
        QVERIFY(view->nodeHistory(0x7777).contains("0x01"));
        const QImage picture = view->picture();
        QCOMPARE(picture.size(), view->sizeHint());
        // The nodes are drawn where the view says they are: not white at a node's centre.
        QVERIFY(picture.pixelColor(centre(0x1234).toPoint()) != QColor(Qt::white));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(window->mapFilePath(0x0001)), 10000);
    }

    // A click fills the data-send target; for a found route it asks, and "yes" fills the source
    // route, in route order.
    void nodeFillsTheDataSend_data()
    {
        QTest::addColumn<int>("node");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("routeMode");
        QTest::addColumn<QStringList>("relays");
        QTest::newRow("route taken")
            << 0x1234 << int(QMessageBox::Yes) << true << 3 << QStringList{"0002", "0003"};
        QTest::newRow("route declined")
            << 0x1234 << int(QMessageBox::No) << true << 1 << QStringList{};
        QTest::newRow("one relay")
            << 0x00ab << int(QMessageBox::Yes) << true << 3 << QStringList{"0004"};
        QTest::newRow("a neighbour needs no relay")
            << 0x0002 << int(QMessageBox::Yes) << false << 1 << QStringList{};
        QTest::newRow("no route") << 0x0005 << int(QMessageBox::Yes) << false << 1 << QStringList{};
    }
    void nodeFillsTheDataSend()
    {
        QFETCH(int, node);
        QFETCH(int, answer);
        QFETCH(bool, asked);
        QFETCH(int, routeMode);
        QFETCH(QStringList, relays);
        scan("0002 0005 1234 00ab");
        MessageBoxCatcher box{QMessageBox::StandardButton(answer)};
        QTest::mouseClick(window->view(), Qt::LeftButton, {},
                          centre(network::NodeId(node)).toPoint());
        if (asked)
            QTRY_COMPARE_WITH_TIMEOUT(box.count(), 1, 10000);
        else
            QTest::qWait(200);
        QCOMPARE(box.count(), asked ? 1 : 0);
        QCOMPARE(ui->widget<QLineEdit>("lineEdit_dataDstAddr")->text(),
                 QString::asprintf("%04x", node));
        QCOMPARE(ui->widget<QComboBox>("comboBox_discoveryRoute")->currentIndex(), routeMode);
        if (routeMode == 3) {
            QCOMPARE(ui->widget<QComboBox>("comboBox_relayCount")->currentIndex(), relays.size());
            for (int k = 0; k < relays.size(); ++k) {
                auto *field = ui->widget<QLineEdit>(
                    qPrintable(QStringLiteral("lineEdit_relayAddr%1").arg(k + 1)));
                QCOMPARE(field->text(), relays[k]);
                QVERIFY(field->isEnabled());
            }
        }
    }

    // Closed, the port takes the map with it; the same module opened again brings it back.
    void mapComesBackWithItsModule()
    {
        scan("1234 00ab");
        const int nodes = window->view()->nodeCount();
        QVERIFY(nodes >= 5);
        ui->click("pushButton_openCom"); // close
        QTRY_VERIFY_WITH_TIMEOUT(!ui->portShownOpen(), 10000);
        QVERIFY(window->map().isEmpty());
        QVERIFY(QFile::exists(window->mapFilePath(0x0001)));
        window->hide();
        ui->click("pushButton_openCom");
        QVERIFY(ui->portShownOpen());
        ui->click("pushButton_networkMap");
        QTRY_COMPARE_WITH_TIMEOUT(window->view()->nodeCount(), nodes, 10000);
        QCOMPARE(window->map().targets().value(0x1234).history.size(), 1);
    }

    // Cancel ends a scan between two targets.
    void cancelEndsTheScan()
    {
        module->setReplyDelay(100);
        window->findChild<QLineEdit *>("lineEdit_scanTargets")->setText("0001-0100");
        window->findChild<QPushButton *>("pushButton_scan")->click();
        auto *progress = window->findChild<QProgressBar *>("progressBar_scan");
        QTRY_VERIFY_WITH_TIMEOUT(progress->value() >= 2, 30000);
        window->findChild<QPushButton *>("pushButton_cancelScan")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window->isScanning(), 10000);
        QVERIFY(progress->value() < 0x100);
        QVERIFY(window->findChild<QPushButton *>("pushButton_scan")->isEnabled());
    }
};

QTEST_MAIN(MapWindowTest)
#include "tst_mapwindow.moc"
