#include "widgets/portcontroller.h"

#include "protocol/frame.h"
#include "protocol/replyframe.h"
#include "serial/discovery.h"
#include "serial/linesettings.h"
#include "serial/openfailure.h"
#include "serial/portnames.h"
#include "serial/replug.h"
#include "widgets/logview.h"
#include "widgets/portcombobox.h"

#include <QDateTime>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace {

QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

PortController::PortController(const Widgets &widgets, QWidget *window)
    : QObject(window), ui(widgets), window(window), moduleLink(new serial::ModuleLink(this))
{
    replugWatch = new serial::ReplugWatch(
        [this] { return portEnumerator(); },
        [this](const QString &name) { return reopenReplugged(name); }, this);
    // Any device path can be typed in (links, pseudo-terminals); it is opened as typed.
    ui.ports->setEditable(true);
    ui.ports->setInsertPolicy(QComboBox::NoInsert);
    ui.ports->setCompleter(nullptr);
    fillLineSettingLists();

    connect(moduleLink, &serial::ModuleLink::lost, this, &PortController::onDeviceLost);
    // Devices come and go: the closed port's list is read again whenever the user opens it.
    connect(ui.ports, &PortComboBox::aboutToShowPopup, this, [this] {
        if (moduleLink->state() == serial::ModuleLink::State::Closed)
            showPorts(portEnumerator());
    });
}

// A read still under way is waited for (the future's destructor); its pending call goes with
// the controller.
PortController::~PortController() = default;

bool PortController::isOpen() const
{
    return moduleLink->state() == serial::ModuleLink::State::Open;
}

void PortController::setPortEnumerator(PortEnumerator enumerator)
{
    portEnumerator = std::move(enumerator);
}

void PortController::readPortListInBackground()
{
    if (backgroundPortRead.valid())
        return;
    backgroundPortRead = std::async(std::launch::async, [this, read = portEnumerator] {
        const QList<serial::PortFacts> ports = read();
        // Delivered on the window's thread.
        QMetaObject::invokeMethod(
            this,
            [this, ports] {
                if (moduleLink->state() == serial::ModuleLink::State::Closed)
                    showPorts(ports);
            },
            Qt::QueuedConnection);
    });
}

void PortController::addPort(const serial::PortFacts &port)
{
    if (ui.ports->findText(port.name) >= 0)
        return;
    ui.ports->insertItem(0, port.name);
    ui.ports->setItemData(0, serial::portToolTip(port), Qt::ToolTipRole);
}

void PortController::selectPort(const QString &path)
{
    const int listed = ui.ports->findText(path);
    if (listed >= 0)
        ui.ports->setCurrentIndex(listed);
    else
        ui.ports->setEditText(path);
}

void PortController::fillLineSettingLists()
{
    ui.rates->addItems(serial::baudRateItems());
    ui.rates->setCurrentIndex(serial::defaultBaudRateIndex);
    ui.parities->addItems(serial::parityItems());
    ui.parities->setCurrentIndex(0);
    ui.stopBits->addItems(serial::stopBitsItems());
}

void PortController::showPorts(const QList<serial::PortFacts> &ports)
{
    QComboBox *list = ui.ports;
    QStringList before;
    for (int i = 0; i < list->count(); ++i)
        before << list->itemText(i);
    const QString current = list->currentText();
    const QStringList entries = serial::portListEntries(ports);
    list->clear();
    for (int i = 0; i < entries.size(); ++i) {
        list->addItem(entries[i]);
        list->setItemData(i, serial::portToolTip(ports[i]), Qt::ToolTipRole);
    }
    const serial::PortSelection selection = serial::selectionAfterRefresh(before, entries, current);
    list->setCurrentIndex(selection.index);
    if (selection.index < 0)
        list->setEditText(selection.typedText);
}

void PortController::showState()
{
    using State = serial::ModuleLink::State;
    const State state = moduleLink->state();
    const bool open = state == State::Open;
    // A closing link already shows the closed state; its button waits until the frame is out.
    ui.openButton->setText(open ? tr("关闭串口") : tr("打开串口"));
    ui.openButton->setEnabled(state != State::Closing);
    ui.findButton->setEnabled(state == State::Closed && !findSearch);
    // While open, the list shows the port in use and nothing else.
    ui.ports->setEnabled(!open);
}

serial::LineSettings PortController::chosenLineSettings() const
{
    serial::LineSettings settings = moduleLink->lineSettings();
    if (const auto rate = serial::baudRateFromText(ui.rates->currentText()))
        settings.baudRate = *rate;
    if (const auto parity = serial::parityFromText(ui.parities->currentText()))
        settings.parity = *parity;
    if (const auto stopBits = serial::stopBitsFromText(ui.stopBits->currentText()))
        settings.stopBits = *stopBits;
    return settings;
}

void PortController::selectLineSettings(const serial::LineSettings &s)
{
    const int rate = ui.rates->findText(QString::number(s.baudRate));
    if (rate >= 0)
        ui.rates->setCurrentIndex(rate);
    const QString text = serial::settingsText(s);
    ui.parities->setCurrentIndex(ui.parities->findText(text.section(QLatin1Char(' '), 1, 1)));
    ui.stopBits->setCurrentIndex(ui.stopBits->findText(text.section(QLatin1Char(' '), 2, 2)));
}

void PortController::applyRateAndParity()
{
    const serial::LineSettings chosen = chosenLineSettings();
    serial::LineSettings settings = moduleLink->lineSettings();
    // Only a change is applied: some drivers refuse to set the same parity again.
    if (chosen.baudRate == settings.baudRate && chosen.parity == settings.parity)
        return;
    settings.baudRate = chosen.baudRate;
    settings.parity = chosen.parity;
    moduleLink->setLineSettings(settings);
}

void PortController::noteWrite(const QByteArray &request, const QByteArray &reply,
                               const std::optional<protocol::ModuleConfig> &held)
{
    if (request.size() < protocol::frameOverhead + protocol::configRecordSize ||
        quint8(request[0]) != protocol::group::module ||
        quint8(request[2]) != protocol::code::writeConfig)
        return;
    const protocol::ReplyFrame frame = protocol::decodeReplyFrame(reply);
    if (frame.status.value_or(1) != 0)
        return;
    const auto record = reinterpret_cast<const quint8 *>(request.constData()) + 4;
    const auto written = serial::moduleSerialSettings(protocol::decodeConfigRecord(record));
    const std::optional<serial::LineSettings> before =
        held ? serial::moduleSerialSettings(*held) : chosenLineSettings();
    if (!written || (before && serial::sameSettings(*written, *before)))
        return;
    // After the tick that shows the write's result, and outside the link's own handling.
    QMetaObject::invokeMethod(
        this, [this, s = *written] { offerSwitch(s); }, Qt::QueuedConnection);
}

void PortController::offerSwitch(const serial::LineSettings &s)
{
    emit settingsWritten(); // the write's result comes first
    const QString settings = serial::settingsText(s);
    ui.log->appendText(tr("模块串口参数已改为 %1\n").arg(settings));
    const auto answer =
        QMessageBox::question(window, tr("模块串口参数已改变"),
                              tr("模块现在使用 %1，串口仍是 %2。\n现在把串口切换到 %1 吗？")
                                  .arg(settings, serial::settingsText(chosenLineSettings())),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes || !isOpen())
        return;
    selectLineSettings(s);
    // Rate and parity followed their lists; the stop bits are applied here as well.
    moduleLink->setLineSettings(chosenLineSettings());
    emit followed();
}

bool PortController::open()
{
    const QString portName = serial::portNameForOpen(ui.ports->currentText());
    // A path too long for the port's lock file is opened through the device it leads to; the
    // box still names the path as given.
    const auto failure = moduleLink->open(portName, chosenLineSettings());
    if (!failure) {
        openedPortName = portName;
        replugWatch->stop();
        return true;
    }
    QMessageBox::critical(window, tr("错误"),
                          tr("无法打开串口： ") + portName + tr("\n指定的串口不存在或者被占用。") +
                              QLatin1Char('\n') + serial::openFailureReason(*failure),
                          QMessageBox::Ok);
    return false;
}

void PortController::close()
{
    moduleLink->close();
}

void PortController::onDeviceLost(const QString &reason)
{
    emit lost();
    // A run left overnight tells when and why it stopped.
    ui.log->appendText(
        tr("%1 串口已断开：%2\n").arg(now(), reason.isEmpty() ? tr("设备已移除") : reason));
    replugWatch->watch(serial::identifyPort(openedPortName, portEnumerator()));
}

bool PortController::reopenReplugged(const QString &name)
{
    if (moduleLink->state() != serial::ModuleLink::State::Closed)
        return true; // the user opened a port meanwhile
    if (moduleLink->open(name, chosenLineSettings()))
        return false;
    ui.log->appendText(tr("%1 串口已重新连接：%2（%3）\n")
                           .arg(now(), name, serial::settingsText(moduleLink->lineSettings())));
    return true;
}

void PortController::findModule()
{
    if (moduleLink->state() != serial::ModuleLink::State::Closed || findSearch)
        return;
    const QString typed = ui.ports->currentText().trimmed();
    const QStringList ports = typed.isEmpty() ? serial::portListEntries(portEnumerator())
                                              : QStringList{serial::portNameForOpen(typed)};
    findSearch = new serial::Discovery(ports, serial::discoveryOrder(false), this);
    auto *progress =
        new QProgressDialog(tr("正在查找模块…"), tr("取消"), 0, findSearch->triesInAll(), window);
    progress->setObjectName(QStringLiteral("findModuleProgress"));
    progress->setWindowTitle(tr("查找模块"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    connect(findSearch, &serial::Discovery::trying, progress,
            [this, progress](const QString &port, const serial::LineSettings &s) {
                progress->setLabelText(
                    tr("正在查找模块：%1，%2").arg(port, serial::settingsText(s)));
                progress->setValue(std::min(findSearch->triesMade(), progress->maximum() - 1));
            });
    connect(progress, &QProgressDialog::canceled, findSearch, &serial::Discovery::cancel);
    // The search runs on from the event loop; its end is shown, and the module opened, then.
    connect(findSearch, &serial::Discovery::finished, this, [this, progress, ports] {
        progress->reset();
        progress->deleteLater();
        showFindings(ports);
    });
    showState();
    findSearch->start();
}

void PortController::showFindings(const QStringList &ports)
{
    // Still inside the search's own signal: it goes once that has returned.
    serial::Discovery *search = std::exchange(findSearch, nullptr);
    search->deleteLater();
    showState();
    if (search->wasCancelled()) {
        ui.log->appendText(tr("查找模块已取消。\n"));
        return;
    }
    const QList<serial::PortFinding> &findings = search->findings();
    for (const serial::PortFinding &f : findings) {
        if (f.busy)
            ui.log->appendText(tr("%1 正被其他程序使用，未查找。\n").arg(f.port));
    }
    const auto found = std::find_if(findings.cbegin(), findings.cend(),
                                    [](const serial::PortFinding &f) { return bool(f.settings); });
    if (found == findings.cend()) {
        ui.log->appendText(tr("未找到模块（%1）。\n")
                               .arg(ports.isEmpty() ? tr("没有串口") : ports.join(tr("，"))));
        return;
    }
    const protocol::ModuleVersion &v = found->version;
    ui.log->appendText(tr("找到模块：%1，%2，程序版本：%3，发布日期：%4\n")
                           .arg(found->port, serial::settingsText(*found->settings),
                                protocol::versionNumberText(v), protocol::releaseDateText(v)));
    selectPort(found->port);
    selectLineSettings(*found->settings);
    open();
    if (isOpen())
        emit foundAndOpened();
}
