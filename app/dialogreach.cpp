// The window's side of following the serial settings a configuration write gives the module.
#include "app/dialog.h"

#include "protocol/replyframe.h"
#include "serial/discovery.h"
#include "ui_dialog.h"
#include "widgets/logview.h"
#include "widgets/portcontroller.h"

#include <QMessageBox>

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
        lastReadConfig ? serial::moduleSerialSettings(*lastReadConfig) : port->chosenLineSettings();
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
                                  .arg(settings, serial::settingsText(port->chosenLineSettings())),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes || !port->isOpen())
        return;
    port->switchTo(s);
    on_pushButton_readVersion_clicked();
}
