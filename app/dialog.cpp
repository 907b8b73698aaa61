#include "app/dialog.h"

#include "app/logview.h"
#include "protocol/configrecord.h"
#include "protocol/datatext.h"
#include "protocol/payloads.h"
#include "protocol/replies.h"
#include "serial/linesettings.h"
#include "serial/portnames.h"
#include "ui_dialog.h"

#include <QMessageBox>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>

using namespace protocol;

namespace {

constexpr int readIntervalMs = 500;
constexpr int sendIntervalStepMs = 500;

const QRegularExpression &hexWordPattern()
{
    static const QRegularExpression pattern(QStringLiteral("([0-9A-Fa-f]{2}[0-9A-Fa-f]{2})"));
    return pattern;
}

} // namespace

Dialog::Dialog(QWidget *parent)
    : QDialog(parent),
      // Enumerating ports asks udev and takes as long as building the form; do both at once.
      startupPorts(
          std::async(std::launch::async, [] { return QSerialPortInfo::availablePorts(); })),
      ui(new Ui::DialogForm)
{
    ui->setupUi(this);

    sendTimer = new QTimer(this);
    sendTimer->setObjectName(QStringLiteral("sendTimer"));

    hexWordValidator = new QRegularExpressionValidator(hexWordPattern(), this);
    for (QLineEdit *field : {ui->lineEdit_PanID, ui->lineEdit_moduleAddr, ui->lineEdit_routeDstAddr,
                             ui->lineEdit_dataDstAddr})
        field->setValidator(hexWordValidator);
    for (QLineEdit *field : relayAddressFields())
        field->setValidator(hexWordValidator);

    setCommandButtonsEnabled(false);

    ui->comboBox_discoveryRoute->setCurrentIndex(1);
    ui->comboBox_dataMaxDepth->setCurrentIndex(6);
    ui->comboBox_UartParaBaud->setCurrentIndex(3);
    ui->comboBox_UartParity->setCurrentIndex(2);
    ui->comboBox_UartStopBit->setCurrentIndex(0);
    ui->comboBox_RfDataRate->setCurrentIndex(2);

    ui->label_relayCount->hide();
    ui->label_relayList->hide();
    ui->comboBox_relayCount->hide();
    for (QLineEdit *field : relayAddressFields())
        field->hide();
    for (QLineEdit *field : relayAddressFields())
        field->setEnabled(false);

    ui->label_28->hide();
    ui->label_29->hide();
    ui->comboBox_bandwidth->hide();
    ui->comboBox_SpreadFactor->hide();
    ui->lineEdit_rfRate->hide();
    // The rate text stands where the data-rate list stands while the LoRa model is chosen.
    ui->lineEdit_rfRate->setGeometry(87, 377, 71, 20);

    myCom = new QSerialPort(this);
    myCom->setObjectName(QStringLiteral("myCom"));
    refreshPortList();

    readTimer = new QTimer(this);
    readTimer->setObjectName(QStringLiteral("readTimer"));
    connect(readTimer, &QTimer::timeout, this, &Dialog::readMyCom);

    QStringList channels;
    for (int channel = 0; channel < 32; ++channel)
        channels << QString::asprintf("%d", channel);
    ui->comboBox_channelNum->addItems(channels);

    // Connected last, so that nothing set above reaches a slot.
    connect(ui->textEdit_sendData, &QTextEdit::textChanged, this, &Dialog::textEditInputChanged);
    connect(ui->comboBox_baudList, &QComboBox::currentIndexChanged, this, [this](int index) {
        comboBox_BaudRate_currentIndexChanged(ui->comboBox_baudList->itemText(index));
    });
    connect(ui->comboBox_parityList, &QComboBox::currentIndexChanged, this, [this](int index) {
        comboBox_Parity_currentIndexChanged(ui->comboBox_parityList->itemText(index));
    });
    connect(ui->comboBox_discoveryRoute, &QComboBox::currentIndexChanged, this, [this](int index) {
        comboBox_discoveryRoute_currentIndexChanged(ui->comboBox_discoveryRoute->itemText(index));
    });
    connect(ui->comboBox_relayCount, &QComboBox::currentIndexChanged, this, [this](int index) {
        comboBox_relayCount_currentIndexChanged(ui->comboBox_relayCount->itemText(index));
    });
    connect(ui->checkBox_rq520M, &QCheckBox::stateChanged, this, &Dialog::checkBox_Rq520M_Changed);
    connect(ui->comboBox_bandwidth, &QComboBox::currentIndexChanged, this,
            &Dialog::rq520M_rfRate_changed);
    connect(ui->comboBox_SpreadFactor, &QComboBox::currentIndexChanged, this,
            &Dialog::rq520M_rfRate_changed);
    connect(ui->checkBox_AclEnable, &QCheckBox::stateChanged, this,
            &Dialog::checkBox_AclEn_changed);
    connect(ui->checkBox_continueSend, &QCheckBox::stateChanged, this,
            &Dialog::checkBox_continueSend_changed);
    connect(sendTimer, &QTimer::timeout, this, &Dialog::continueSendData);
    connect(myCom, &QSerialPort::errorOccurred, this, &Dialog::onPortError);
}

Dialog::~Dialog()
{
    delete ui;
}

void Dialog::setModuleModelLabel(const QString &label)
{
    ui->checkBox_rq520M->setText(label);
}

std::array<QLineEdit *, maxRelays> Dialog::relayAddressFields() const
{
    return {ui->lineEdit_relayAddr1, ui->lineEdit_relayAddr2, ui->lineEdit_relayAddr3,
            ui->lineEdit_relayAddr4, ui->lineEdit_relayAddr5, ui->lineEdit_relayAddr6};
}

std::array<QLineEdit *, whitelistEntries> Dialog::whitelistFields() const
{
    return {ui->lineEdit_Acl1, ui->lineEdit_Acl2, ui->lineEdit_Acl3, ui->lineEdit_Acl4,
            ui->lineEdit_Acl5};
}

// ---- Serial link ----------------------------------------------------------------------------

void Dialog::refreshPortList()
{
    ui->comboBox_comList->addItems(serial::portListEntries(startupPorts.get()));
    ui->comboBox_baudList->addItems(serial::baudRateItems());
    ui->comboBox_baudList->setCurrentIndex(serial::defaultBaudRateIndex);
    ui->comboBox_parityList->addItems(serial::parityItems());
    ui->comboBox_parityList->setCurrentIndex(0);
    ui->comboBox_StopBitsList->addItems(serial::stopBitsItems());
}

void Dialog::setCommandButtonsEnabled(bool enabled)
{
    for (QPushButton *button :
         {ui->pushButton_writeCfg, ui->pushButton_readCfg, ui->pushButton_enterCfgMode,
          ui->pushButton_routeDiscovery, ui->pushButton_readVersion, ui->pushButton_resetModule,
          ui->pushButton_sendData})
        button->setEnabled(enabled);
}

void Dialog::applyBaudRate()
{
    comboBox_BaudRate_currentIndexChanged(ui->comboBox_baudList->currentText());
}

void Dialog::applyParity()
{
    comboBox_Parity_currentIndexChanged(ui->comboBox_parityList->currentText());
}

void Dialog::applyStopBits()
{
    const auto stopBits = serial::stopBitsFromText(ui->comboBox_StopBitsList->currentText());
    if (stopBits && *stopBits != myCom->stopBits())
        myCom->setStopBits(*stopBits);
}

// A setting is applied only when it changes: some drivers refuse to set the same parity again.
void Dialog::comboBox_BaudRate_currentIndexChanged(const QString &text)
{
    const auto rate = serial::baudRateFromText(text);
    if (rate && *rate != myCom->baudRate())
        myCom->setBaudRate(*rate);
}

void Dialog::comboBox_Parity_currentIndexChanged(const QString &text)
{
    const auto parity = serial::parityFromText(text);
    if (parity && *parity != myCom->parity())
        myCom->setParity(*parity);
}

void Dialog::on_pushButton_openCom_clicked()
{
    if (myCom->isOpen())
        closePort();
    else
        openPort();
}

void Dialog::openPort()
{
    ui->pushButton_openCom->setText(tr("关闭串口"));
    setCommandButtonsEnabled(true);
    const QString portName = serial::portNameForOpen(ui->comboBox_comList->currentText());
    myCom->setPortName(portName);
    myCom->open(QIODevice::ReadWrite);
    applyBaudRate();
    applyParity();
    applyStopBits();
    myCom->setDataBits(QSerialPort::Data8);
    myCom->setFlowControl(QSerialPort::NoFlowControl);
    readTimer->start(readIntervalMs);
    if (!myCom->isOpen()) {
        QMessageBox::critical(this, tr("错误"),
                              tr("无法打开串口： ") + portName +
                                  tr("\n指定的串口不存在或者被占用。"),
                              QMessageBox::Ok);
        ui->pushButton_openCom->setText(tr("打开串口"));
        setCommandButtonsEnabled(false);
    }
}

void Dialog::closePort()
{
    ui->pushButton_openCom->setText(tr("打开串口"));
    setCommandButtonsEnabled(false);
    myCom->close();
    readTimer->stop();
}

void Dialog::onPortError()
{
    // A pulled cable makes the port report read errors without end: close it once, exactly
    // as the button would, so the window shows the truth and the CPU stays idle.
    if (serial::isDeviceLost(myCom->error()) && myCom->isOpen())
        closePort();
}

// ---- Frames ---------------------------------------------------------------------------------

quint8 Dialog::buildCommandFrame(quint8 group, quint8 code, const quint8 *payload, quint8 length)
{
    return protocol::buildCommandFrame(txFrame.data(), group, code, payload, length);
}

void Dialog::sendFrame(const quint8 *frame, quint8 length)
{
    const QByteArrayView bytes(frame, length);
    // A closed port takes nothing; the echo still shows what the command would have sent.
    if (myCom->isOpen())
        myCom->write(bytes.data(), bytes.size());
    appendToLog(ui->SendOutBrowser, QStringLiteral("send->") + hexLine(bytes));
}

void Dialog::sendCommand(quint8 group, quint8 code, const quint8 *payload, quint8 length)
{
    const quint8 frameLength = buildCommandFrame(group, code, payload, length);
    sendFrame(txFrame.data(), frameLength);
}

void Dialog::readMyCom()
{
    if (!myCom->isOpen())
        return;
    const QByteArray chunk = myCom->readAll();
    if (chunk.isEmpty())
        return;
    const Reply reply = decodeReply(chunk);
    switch (reply.kind) {
    case Reply::Kind::ConfigRead: {
        const ModuleConfig &c = reply.config;
        ui->comboBox_channelNum->setCurrentIndex(c.channel);
        ui->comboBox_RfPower->setCurrentIndex(c.rfPower);
        ui->comboBox_UserMode->setCurrentIndex(c.userMode);
        ui->comboBox_deviceType->setCurrentIndex(c.deviceType);
        ui->lineEdit_PanID->setText(formatHexWord(c.networkId));
        ui->lineEdit_moduleAddr->setText(formatHexWord(c.moduleAddress));
        ui->checkBox_AclEnable->setChecked(c.whitelistEnabled);
        ui->comboBox_RfDataRate->setCurrentIndex(c.rfDataRate);
        ui->comboBox_UartParaBaud->setCurrentIndex(c.uartBaud);
        ui->comboBox_UartParity->setCurrentIndex(c.uartParity);
        ui->comboBox_UartStopBit->setCurrentIndex(c.uartStopBits);
        ui->comboBox_bandwidth->setCurrentIndex(c.bandwidth);
        ui->comboBox_SpreadFactor->setCurrentIndex(c.spreadFactor);
        checkBox_AclEn_changed();
        rq520M_rfRate_changed();
        break;
    }
    case Reply::Kind::WhitelistRead: {
        const auto fields = whitelistFields();
        for (int n = 0; n < whitelistEntries; ++n)
            fields[n]->setText(reply.whitelist.value(n));
        break;
    }
    default:
        break;
    }
    appendToLog(ui->ReceiveOutBrowser, receiveLogText(chunk, reply));
}

// ---- Configuration --------------------------------------------------------------------------

void Dialog::on_pushButton_enterCfgMode_clicked()
{
    const QByteArray bytes = enterConfigModeBytes();
    sendFrame(reinterpret_cast<const quint8 *>(bytes.constData()), quint8(bytes.size()));
}

void Dialog::on_pushButton_readCfg_clicked()
{
    sendCommand(group::module, code::readConfig);
}

void Dialog::on_pushButton_writeCfg_clicked()
{
    ModuleConfig c;
    c.channel = ui->comboBox_channelNum->currentIndex();
    c.rfPower = ui->comboBox_RfPower->currentIndex();
    c.userMode = ui->comboBox_UserMode->currentIndex();
    c.deviceType = ui->comboBox_deviceType->currentIndex();
    c.networkId = parseHexField(ui->lineEdit_PanID->text());
    c.moduleAddress = parseHexField(ui->lineEdit_moduleAddr->text());
    c.whitelistEnabled = ui->checkBox_AclEnable->isChecked();
    c.rfDataRate = ui->comboBox_RfDataRate->currentIndex();
    c.uartBaud = ui->comboBox_UartParaBaud->currentIndex();
    c.uartParity = ui->comboBox_UartParity->currentIndex();
    c.uartStopBits = ui->comboBox_UartStopBit->currentIndex();
    c.bandwidth = ui->comboBox_bandwidth->currentIndex();
    c.spreadFactor = ui->comboBox_SpreadFactor->currentIndex();
    const ConfigRecord record = encodeConfigRecord(c, ui->checkBox_rq520M->isChecked());
    sendCommand(group::module, code::writeConfig, record.data(), configRecordSize);
}

void Dialog::checkBox_Rq520M_Changed()
{
    const bool lora = ui->checkBox_rq520M->isChecked();
    ui->label_28->setVisible(lora);
    ui->label_29->setVisible(lora);
    ui->comboBox_bandwidth->setVisible(lora);
    ui->comboBox_SpreadFactor->setVisible(lora);
    ui->comboBox_RfDataRate->setVisible(!lora);
    ui->lineEdit_rfRate->setVisible(lora);
}

void Dialog::rq520M_rfRate_changed()
{
    const auto text = loraBitRateText(ui->comboBox_bandwidth->currentIndex(),
                                      ui->comboBox_SpreadFactor->currentIndex());
    if (text)
        ui->lineEdit_rfRate->setText(*text);
}

// ---- Route search ---------------------------------------------------------------------------

void Dialog::on_pushButton_routeDiscovery_clicked()
{
    const auto payload = routeSearchPayload(parseHexField(ui->lineEdit_routeDstAddr->text()),
                                            ui->comboBox_routeMaxDepth->currentIndex());
    sendCommand(group::network, code::routeSearch, payload.data(), routeSearchPayloadSize);
}

// ---- Application data -----------------------------------------------------------------------

void Dialog::textEditInputChanged()
{
    const QString text = ui->textEdit_sendData->toPlainText();
    if (dataTextState(text) == DataTextState::Invalid) {
        QMessageBox::warning(this, tr("Warning"), tr("请输入正确格式"), QMessageBox::Ok);
        return;
    }
    ui->label_BytesCount->setText(byteCountText(dataTextByteCount(text)));
}

void Dialog::comboBox_discoveryRoute_currentIndexChanged(const QString &)
{
    const bool sourceRouted = ui->comboBox_discoveryRoute->currentIndex() == sourceRoutingMode;
    ui->label_relayCount->setVisible(sourceRouted);
    ui->label_relayList->setVisible(sourceRouted);
    ui->comboBox_relayCount->setVisible(sourceRouted);
    for (QLineEdit *field : relayAddressFields())
        field->setVisible(sourceRouted);
}

void Dialog::comboBox_relayCount_currentIndexChanged(const QString &)
{
    const int relayCount = ui->comboBox_relayCount->currentIndex();
    if (relayCount < 0 || relayCount > maxRelays)
        return;
    const auto fields = relayAddressFields();
    for (int k = 0; k < maxRelays; ++k)
        fields[k]->setEnabled(k < relayCount);
}

bool Dialog::sendApplicationData()
{
    DataSendRequest request;
    request.target = parseHexField(ui->lineEdit_dataDstAddr->text());
    request.ackRequested = ui->checkBox_ackReq->isChecked();
    request.hopIndex = ui->comboBox_dataMaxDepth->currentIndex();
    request.routeMode = ui->comboBox_discoveryRoute->currentIndex();
    if (request.routeMode == sourceRoutingMode) {
        const auto fields = relayAddressFields();
        const int relayCount = qBound(0, ui->comboBox_relayCount->currentIndex(), maxRelays);
        for (int k = 0; k < relayCount; ++k)
            request.relays << parseHexField(fields[k]->text());
    }
    // The count the label shows is what the frame announces; it is not recounted here.
    request.declaredLength = ui->label_BytesCount->text().toInt();
    request.data = dataTextBytes(ui->textEdit_sendData->toPlainText());

    const auto payload = dataSendPayload(request);
    if (!payload)
        return false;
    sendCommand(group::network, code::sendData, reinterpret_cast<const quint8 *>(payload->data()),
                quint8(payload->size()));
    return true;
}

void Dialog::showDataTooLong()
{
    const int relayCount = qBound(0, ui->comboBox_relayCount->currentIndex(), maxRelays);
    const int limit = dataSendCapacity(ui->comboBox_discoveryRoute->currentIndex(), relayCount);
    QMessageBox::warning(this, tr("Warning"), tr("数据过长：最多可发送%1字节").arg(limit),
                         QMessageBox::Ok);
}

void Dialog::on_pushButton_sendData_clicked()
{
    if (!sendApplicationData())
        showDataTooLong();
}

void Dialog::continueSendData()
{
    if (sendApplicationData())
        return;
    // Stop repeating first, so that the box shows once and not on every tick behind it.
    ui->checkBox_continueSend->setChecked(false);
    showDataTooLong();
}

void Dialog::checkBox_continueSend_changed()
{
    if (ui->checkBox_continueSend->isChecked()) {
        ui->pushButton_sendData->setEnabled(false);
        sendTimer->start((ui->comboBox_msTime->currentIndex() + 1) * sendIntervalStepMs);
    } else {
        ui->pushButton_sendData->setEnabled(true);
        sendTimer->stop();
    }
}

// ---- Version, reset and whitelist -----------------------------------------------------------

void Dialog::on_pushButton_readVersion_clicked()
{
    sendCommand(group::module, code::readVersion);
}

void Dialog::on_pushButton_resetModule_clicked()
{
    sendCommand(group::module, code::resetModule);
}

void Dialog::on_pushButton_readAcl_clicked()
{
    sendCommand(group::whitelist, code::readWhitelist);
}

void Dialog::on_pushButton_writeAcl_clicked()
{
    QStringList texts;
    for (const QLineEdit *field : whitelistFields())
        texts << field->text();
    const auto payload = whitelistPayload(texts);
    sendCommand(group::whitelist, code::writeWhitelist, payload.data(), whitelistPayloadSize);
}

void Dialog::checkBox_AclEn_changed()
{
    const bool disabled = !ui->checkBox_AclEnable->isChecked();
    for (QLineEdit *field : whitelistFields())
        field->setDisabled(disabled);
    ui->pushButton_readAcl->setDisabled(disabled);
    ui->pushButton_writeAcl->setDisabled(disabled);
}
