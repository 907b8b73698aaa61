// The window's side of keeping the module in reach: finding it at unknown settings, following
// the settings a configuration write gives it, and reopening a replugged adapter.
#include "app/dialog.h"

#include "protocol/replyframe.h"
#include "serial/discovery.h"
#include "serial/linesettings.h"
#include "serial/portnames.h"
#include "ui_dialog.h"
#include "widgets/logview.h"

#include <QDateTime>
#include <QMessageBox>
#include <QProgressDialog>

void Dialog::on_pushButton_findModule_clicked()
{
    if (link->state() != serial::ModuleLink::State::Closed || findSearch)
        return;
    const QString typed = ui->comboBox_comList->currentText().trimmed();
    const QStringList ports = typed.isEmpty() ? serial::portListEntries(portEnumerator())
                                              : QStringList{serial::portNameForOpen(typed)};
    findSearch = new serial::Discovery(ports, serial::discoveryOrder(false), this);
    auto *progress =
        new QProgressDialog(tr("正在查找模块…"), tr("取消"), 0, findSearch->triesInAll(), this);
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
    updateControls();
    findSearch->start();
}

void Dialog::showFindings(const QStringList &ports)
{
    // Still inside the search's own signal: it goes once that has returned.
    serial::Discovery *search = std::exchange(findSearch, nullptr);
    search->deleteLater();
    updateControls();
    if (search->wasCancelled()) {
        ui->ReceiveOutBrowser->appendText(tr("查找模块已取消。\n"));
        return;
    }
    const QList<serial::PortFinding> &findings = search->findings();
    for (const serial::PortFinding &f : findings) {
        if (f.busy)
            ui->ReceiveOutBrowser->appendText(tr("%1 正被其他程序使用，未查找。\n").arg(f.port));
    }
    const auto found = std::find_if(findings.cbegin(), findings.cend(),
                                    [](const serial::PortFinding &f) { return bool(f.settings); });
    if (found == findings.cend()) {
        ui->ReceiveOutBrowser->appendText(
            tr("未找到模块（%1）。\n")
                .arg(ports.isEmpty() ? tr("没有串口") : ports.join(tr("，"))));
        return;
    }
    const protocol::ModuleVersion &v = found->version;
    ui->ReceiveOutBrowser->appendText(tr("找到模块：%1，%2，程序版本：%3，发布日期：%4\n")
                                          .arg(found->port, serial::settingsText(*found->settings),
                                               protocol::versionNumberText(v),
                                               protocol::releaseDateText(v)));
    const int listed = ui->comboBox_comList->findText(found->port);
    if (listed >= 0)
        ui->comboBox_comList->setCurrentIndex(listed);
    else
        ui->comboBox_comList->setEditText(found->port);
    selectLineSettings(*found->settings);
    openPort();
    // The box then shows what the module holds, not the defaults.
    if (portInUse())
        on_pushButton_readCfg_clicked();
}

void Dialog::selectLineSettings(const serial::LineSettings &s)
{
    const int rate = ui->comboBox_baudList->findText(QString::number(s.baudRate));
    if (rate >= 0)
        ui->comboBox_baudList->setCurrentIndex(rate);
    const QString text = serial::settingsText(s);
    ui->comboBox_parityList->setCurrentIndex(
        ui->comboBox_parityList->findText(text.section(QLatin1Char(' '), 1, 1)));
    ui->comboBox_StopBitsList->setCurrentIndex(
        ui->comboBox_StopBitsList->findText(text.section(QLatin1Char(' '), 2, 2)));
}

void Dialog::noteWrittenSerialSettings(const QByteArray &request, const QByteArray &reply)
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
    // Against what the module held when last read; without a read, against the port's.
    const std::optional<serial::LineSettings> held =
        lastReadConfig ? serial::moduleSerialSettings(*lastReadConfig) : chosenLineSettings();
    if (!written || (held && serial::sameSettings(*written, *held)))
        return;
    // After the tick that shows the write's result, and outside the link's own handling.
    QMetaObject::invokeMethod(
        this, [this, s = *written] { offerSerialSwitch(s); }, Qt::QueuedConnection);
}

void Dialog::offerSerialSwitch(const serial::LineSettings &s)
{
    readMyCom(); // the write's result comes first
    const QString settings = serial::settingsText(s);
    ui->ReceiveOutBrowser->appendText(tr("模块串口参数已改为 %1\n").arg(settings));
    const auto answer =
        QMessageBox::question(this, tr("模块串口参数已改变"),
                              tr("模块现在使用 %1，串口仍是 %2。\n现在把串口切换到 %1 吗？")
                                  .arg(settings, serial::settingsText(chosenLineSettings())),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes || !portInUse())
        return;
    selectLineSettings(s);
    // Rate and parity followed their lists; the stop bits are applied here as well.
    link->setLineSettings(chosenLineSettings());
    on_pushButton_readVersion_clicked();
}

bool Dialog::reopenReplugged(const QString &name)
{
    if (link->state() != serial::ModuleLink::State::Closed)
        return true; // the user opened a port meanwhile
    if (link->open(name, chosenLineSettings()))
        return false;
    ui->ReceiveOutBrowser->appendText(
        tr("%1 串口已重新连接：%2（%3）\n")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), name,
                 serial::settingsText(link->lineSettings())));
    return true;
}
