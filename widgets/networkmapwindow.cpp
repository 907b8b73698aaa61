#include "widgets/networkmapwindow.h"

#include "protocol/frame.h"
#include "protocol/payloads.h"
#include "serial/mapfeeder.h"
#include "serial/session.h"
#include "widgets/lastfolder.h"
#include "widgets/networkmapview.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int saveDelayMs = 2000;

quint16 addressOf(protocol::HexWord word)
{
    return quint16(word.high << 8 | word.low);
}

} // namespace

NetworkMapWindow::NetworkMapWindow(serial::Session *session, QWidget *parent)
    : QDialog(parent), session(session)
{
    setObjectName(QStringLiteral("networkMapWindow"));
    setWindowTitle(tr("网络拓扑"));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    // Open beside the main window, it does not keep the program running once that one closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    // A program that has not named its settings (a test) keeps no maps in the user's folder.
    if (!QCoreApplication::organizationName().isEmpty())
        mapFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);

    feeder = new serial::MapFeeder(session->link(), &networkMap, this);
    connect(feeder, &serial::MapFeeder::changed, this, &NetworkMapWindow::changed);
    connect(feeder, &serial::MapFeeder::ownAddressRead, this, &NetworkMapWindow::onOwnAddressRead);

    targetsField = new QLineEdit(this);
    targetsField->setObjectName(QStringLiteral("lineEdit_scanTargets"));
    targetsField->setPlaceholderText(tr("例如 0002 0010-0020 whitelist @文件"));
    targetsField->setToolTip(
        tr("要扫描的目标：地址（四位十六进制）、范围（0001-0040）、"
           "@文件（每行一个地址或范围，# 起注释）或 whitelist（模块的白名单）"));
    maxHopsBox = new QSpinBox(this);
    maxHopsBox->setObjectName(QStringLiteral("spinBox_scanMaxHops"));
    maxHopsBox->setRange(1, 7);
    maxHopsBox->setValue(7);
    scanButton = new QPushButton(tr("扫描"), this);
    scanButton->setObjectName(QStringLiteral("pushButton_scan"));
    cancelButton = new QPushButton(tr("取消"), this);
    cancelButton->setObjectName(QStringLiteral("pushButton_cancelScan"));
    auto *dotButton = new QPushButton(tr("导出DOT"), this);
    dotButton->setObjectName(QStringLiteral("pushButton_exportDot"));
    auto *pngButton = new QPushButton(tr("导出PNG"), this);
    pngButton->setObjectName(QStringLiteral("pushButton_exportPng"));
    for (QPushButton *b : {scanButton, cancelButton, dotButton, pngButton})
        b->setAutoDefault(false);
    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progressBar_scan"));
    progress->setTextVisible(true);
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("label_mapStatus"));

    mapView = new NetworkMapView;
    mapView->setMap(&networkMap);
    auto *scroll = new QScrollArea(this);
    scroll->setWidget(mapView);
    scroll->setWidgetResizable(false);
    scroll->setBackgroundRole(QPalette::Base);

    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("目标："), this));
    row->addWidget(targetsField, 1);
    row->addWidget(new QLabel(tr("最大跳数："), this));
    row->addWidget(maxHopsBox);
    row->addWidget(scanButton);
    row->addWidget(cancelButton);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(progress, 1);
    bottom->addWidget(dotButton);
    bottom->addWidget(pngButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(scroll, 1);
    layout->addWidget(status);
    layout->addLayout(bottom);
    resize(760, 520);

    saveSoon = new QTimer(this);
    saveSoon->setSingleShot(true);
    connect(saveSoon, &QTimer::timeout, this, &NetworkMapWindow::save);
    connect(mapView, &NetworkMapView::nodeClicked, this, &NetworkMapWindow::onNodeClicked);
    connect(scanButton, &QPushButton::clicked, this,
            [this] { startScan(targetsField->text(), maxHopsBox->value()); });
    connect(targetsField, &QLineEdit::returnPressed, scanButton, &QPushButton::click);
    connect(cancelButton, &QPushButton::clicked, this, &NetworkMapWindow::cancelScan);
    connect(dotButton, &QPushButton::clicked, this, &NetworkMapWindow::exportDot);
    connect(pngButton, &QPushButton::clicked, this, &NetworkMapWindow::exportPng);
    connect(session->link(), &serial::ModuleLink::stateChanged, this, [this] {
        showState();
        if (isVisible())
            nameModule();
    });
    showState();
}

NetworkMapWindow::~NetworkMapWindow()
{
    save();
}

QString NetworkMapWindow::mapFilePath(quint16 address) const
{
    return QDir(mapFolder).filePath(
        QStringLiteral("networkmap-%1.json").arg(network::nodeName(address)));
}

void NetworkMapWindow::save()
{
    saveSoon->stop();
    if (!fileAddress || mapFolder.isEmpty())
        return;
    QDir().mkpath(mapFolder);
    // A map that cannot be kept is no reason to interrupt the user: it stays in memory.
    const QString error = network::saveMapFile(networkMap, mapFilePath(*fileAddress));
    if (!error.isEmpty())
        status->setText(tr("无法保存网络拓扑：%1").arg(error));
}

void NetworkMapWindow::changed()
{
    mapView->refresh();
    if (fileAddress)
        saveSoon->start(saveDelayMs);
    showState();
}

void NetworkMapWindow::onOwnAddressRead(quint16 address)
{
    if (fileAddress == address)
        return;
    if (networkMap.ownAddress() && *networkMap.ownAddress() != address) {
        // Another module answers now (or this one was given a new address): its own map.
        save();
        networkMap.clear();
    }
    // What was learned before the module was named joins the map kept for it.
    network::NetworkMap kept;
    const QString path = mapFilePath(address);
    if (QFileInfo::exists(path)) {
        const QString error = network::loadMapFile(&kept, path);
        if (!error.isEmpty())
            status->setText(tr("无法读取保存的网络拓扑：%1").arg(error));
    }
    kept.merge(networkMap);
    networkMap = kept;
    networkMap.setOwnAddress(address, QDateTime::currentMSecsSinceEpoch());
    fileAddress = address;
    changed();
}

void NetworkMapWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    nameModule();
}

void NetworkMapWindow::nameModule()
{
    if (!networkMap.ownAddress() && !scanning &&
        session->link()->state() == serial::ModuleLink::State::Open)
        session->readConfig();
}

void NetworkMapWindow::portClosed()
{
    cancelScan();
    save();
    networkMap.clear();
    fileAddress.reset();
    mapView->refresh();
    showState();
}

void NetworkMapWindow::showState()
{
    const bool open = session->link()->state() == serial::ModuleLink::State::Open;
    scanButton->setEnabled(open && !scanning);
    cancelButton->setEnabled(scanning);
    if (scanning)
        return;
    status->setText(networkMap.ownAddress() ? tr("模块 %1：%2 个节点，%3 条链路")
                                                  .arg(network::nodeName(*networkMap.ownAddress()))
                                                  .arg(networkMap.nodes().size())
                                                  .arg(networkMap.links().size())
                                            : tr("%1 个节点，%2 条链路（读配置后按模块地址保存）")
                                                  .arg(networkMap.nodes().size())
                                                  .arg(networkMap.links().size()));
}

bool NetworkMapWindow::startScan(const QString &text, int maxHops)
{
    if (scanning)
        return false;
    QString error;
    const auto targets = network::parseTargetText(text, &error);
    if (!targets || (targets->addresses.isEmpty() && !targets->whitelist)) {
        QMessageBox::warning(this, tr("扫描"),
                             targets ? tr("请输入要扫描的目标。") : tr("目标有误：%1").arg(error));
        return false;
    }
    if (session->link()->state() != serial::ModuleLink::State::Open) {
        QMessageBox::warning(this, tr("扫描"), tr("请先打开串口。"));
        return false;
    }
    scanning = true;
    queue = targets->addresses;
    scanned = found = 0;
    total = int(queue.size());
    scanHops = maxHops;
    progress->setRange(0, std::max(1, total));
    progress->setValue(0);
    showState();
    status->setText(tr("扫描中……"));

    // Before the routes: the module's address names the map, and the whitelist may add targets.
    beforeRoutes.clear();
    if (!networkMap.ownAddress())
        beforeRoutes << [this] { return session->readConfig(); };
    if (targets->whitelist)
        beforeRoutes << [this] { return session->readWhitelist(); };
    if (beforeRoutes.isEmpty()) {
        nextTarget();
        return true;
    }
    nextBeforeRoutes();
    return true;
}

// One read after another, then the routes.
void NetworkMapWindow::nextBeforeRoutes()
{
    if (!scanning)
        return;
    if (beforeRoutes.isEmpty()) {
        total = int(queue.size());
        progress->setRange(0, std::max(1, total));
        nextTarget();
        return;
    }
    inFlight = beforeRoutes.takeFirst()();
    connect(inFlight, &serial::Operation::finished, this, [this](const serial::Outcome &outcome) {
        if (outcome.kind == serial::Outcome::Kind::Answered &&
            outcome.reply.kind == protocol::ReplyKind::WhitelistRead) {
            for (const protocol::HexWord &w : outcome.reply.whitelist) {
                const quint16 a = addressOf(w);
                if (a != 0xffff && !queue.contains(a))
                    queue << a;
            }
        }
        nextBeforeRoutes();
    });
}

void NetworkMapWindow::nextTarget()
{
    if (!scanning)
        return;
    if (queue.isEmpty()) {
        finishScan(tr("扫描完成：%1 个目标，找到 %2 条路由").arg(scanned).arg(found));
        return;
    }
    const quint16 target = queue.takeFirst();
    status->setText(
        tr("扫描 %1（%2/%3）").arg(network::nodeName(target)).arg(scanned + 1).arg(total));
    const auto payload =
        protocol::routeSearchPayload({quint8(target >> 8), quint8(target & 0xff)}, scanHops - 1);
    inFlight = session->routeSearch(QByteArrayView(payload.data(), payload.size()));
    connect(inFlight, &serial::Operation::finished, this, [this](const serial::Outcome &outcome) {
        if (outcome.kind == serial::Outcome::Kind::Cancelled) {
            finishScan(
                tr("扫描已停止：%1/%2 个目标，找到 %3 条路由").arg(scanned).arg(total).arg(found));
            return;
        }
        ++scanned;
        if (outcome.kind == serial::Outcome::Kind::Answered)
            ++found;
        progress->setValue(scanned);
        nextTarget();
    });
}

void NetworkMapWindow::cancelScan()
{
    if (!scanning)
        return;
    if (inFlight)
        inFlight->cancel(QStringLiteral("scan cancelled"));
    else
        finishScan(tr("扫描已停止"));
}

void NetworkMapWindow::finishScan(const QString &how)
{
    scanning = false;
    queue.clear();
    inFlight = nullptr;
    showState();
    status->setText(how);
    save();
}

void NetworkMapWindow::onNodeClicked(network::NodeId id)
{
    if (id == network::ownNode)
        return;
    const quint16 address = quint16(id);
    emit targetChosen(network::nodeName(address));
    const auto target = networkMap.targets().constFind(address);
    if (target == networkMap.targets().constEnd() || !target->route || target->route->isEmpty() ||
        target->route->size() > protocol::maxRelays)
        return;
    QStringList relays;
    for (quint16 r : *target->route)
        relays << network::nodeName(r);
    if (QMessageBox::question(this, tr("源路由"),
                              tr("到 %1 的路由经过 %2 个中继：%3\n是否填入源路由的中继地址？")
                                  .arg(network::nodeName(address))
                                  .arg(relays.size())
                                  .arg(relays.join(QStringLiteral(" → "))),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::Yes) == QMessageBox::Yes)
        emit sourceRouteChosen(*target->route);
}

void NetworkMapWindow::exportDot()
{
    const QString path = askSavePath(
        this, tr("导出DOT"), QStringLiteral("networkmap"),
        suggestedFileName(QStringLiteral("networkmap"),
                          networkMap.ownAddress() ? network::nodeName(*networkMap.ownAddress())
                                                  : QString(),
                          QDate::currentDate(), QStringLiteral("dot")),
        tr("Graphviz 文件 (*.dot);;所有文件 (*)"), QStringLiteral("dot"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(networkMap.toDot(QDateTime::currentMSecsSinceEpoch())) < 0 || !file.commit())
        QMessageBox::warning(this, tr("导出DOT"),
                             tr("无法写入 %1：%2").arg(path, file.errorString()));
}

void NetworkMapWindow::exportPng()
{
    const QString path = askSavePath(
        this, tr("导出PNG"), QStringLiteral("networkmap"),
        suggestedFileName(QStringLiteral("networkmap"),
                          networkMap.ownAddress() ? network::nodeName(*networkMap.ownAddress())
                                                  : QString(),
                          QDate::currentDate(), QStringLiteral("png")),
        tr("PNG 图片 (*.png);;所有文件 (*)"), QStringLiteral("png"));
    if (path.isEmpty())
        return;
    if (!mapView->picture().save(path, "PNG"))
        QMessageBox::warning(this, tr("导出PNG"), tr("无法写入 %1").arg(path));
}
