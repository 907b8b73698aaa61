#include "app/dialog.h"

#include "protocol/payloads.h"
#include "protocol/replies.h"
#include "ui_dialog.h"
#include "widgets/capturecontrol.h"
#include "widgets/configform.h"
#include "widgets/datasendform.h"
#include "widgets/decodebox.h"
#include "widgets/logview.h"
#include "widgets/networkmapwindow.h"
#include "widgets/receivetick.h"

#include <QMessageBox>
#include <QTimer>

using namespace protocol;

namespace {

constexpr int readIntervalMs = 500;

} // namespace

Dialog::Dialog(QWidget *parent) : QDialog(parent), ui(new Ui::DialogForm)
{
    ui->setupUi(this);
    // A dialog makes its push buttons default buttons, so Enter in any field would click one
    // (and open or close the port). Enter in a field presses nothing here.
    for (QPushButton *button : findChildren<QPushButton *>())
        button->setAutoDefault(false);

    const std::array<QLineEdit *, maxRelays> relays{
        ui->lineEdit_relayAddr1, ui->lineEdit_relayAddr2, ui->lineEdit_relayAddr3,
        ui->lineEdit_relayAddr4, ui->lineEdit_relayAddr5, ui->lineEdit_relayAddr6};
    // Every address field takes addresses by one rule.
    auto *hexWordValidator = new HexWordValidator(this);
    for (QLineEdit *field : {ui->lineEdit_PanID, ui->lineEdit_moduleAddr, ui->lineEdit_routeDstAddr,
                             ui->lineEdit_dataDstAddr})
        field->setValidator(hexWordValidator);
    for (QLineEdit *field : relays)
        field->setValidator(hexWordValidator);
    for (QLineEdit *field : whitelistFields())
        field->setValidator(hexWordValidator);

    port = new PortController({ui->comboBox_comList, ui->comboBox_baudList, ui->comboBox_parityList,
                               ui->comboBox_StopBitsList, ui->pushButton_openCom,
                               ui->pushButton_findModule, ui->ReceiveOutBrowser},
                              this);
    link = port->link();
    session = new serial::Session(link, this);
    new CaptureControl(link, ui->pushButton_capture, this);
    connect(ui->pushButton_decode, &QPushButton::clicked, this,
            [this] { DecodeBox::showFor(this); });
    linkTestView =
        new LinkTestView(link,
                         {ui->groupBox_4, ui->dataLayout, ui->comboBox_msTime,
                          ui->spinBox_replyWait, ui->SendOutBrowser, ui->horizontalLayout_12},
                         this);
    receiveTick = new ReceiveTick(
        session, ui->ReceiveOutBrowser, [this](const Reply &reply) { return showReply(reply); },
        this);
    receiveTick->setHidden([this](serial::ModuleLink::RequestId id, const QByteArray &frame) {
        return linkTestView->hidesReport(id, frame);
    });

    readTimer = new QTimer(this);
    readTimer->setObjectName(QStringLiteral("readTimer"));
    connect(readTimer, &QTimer::timeout, this, &Dialog::readMyCom);

    const std::pair<const QWidget *, const QLabel *> captioned[] = {
        {ui->comboBox_channelNum, ui->label_3},    {ui->comboBox_RfPower, ui->label_4},
        {ui->comboBox_deviceType, ui->label_5},    {ui->lineEdit_PanID, ui->label_6},
        {ui->lineEdit_moduleAddr, ui->label_10},   {ui->comboBox_UserMode, ui->label_17},
        {ui->comboBox_UartParaBaud, ui->label_19}, {ui->comboBox_UartParity, ui->label_20},
        {ui->comboBox_UartStopBit, ui->label_21},  {ui->comboBox_RfDataRate, ui->label_22},
        {ui->comboBox_bandwidth, ui->label_28},    {ui->comboBox_SpreadFactor, ui->label_29},
        {ui->lineEdit_routeDstAddr, ui->label_11}, {ui->lineEdit_dataDstAddr, ui->label_13}};
    for (const auto &[field, label] : captioned)
        fieldNames.name(field, label);
    for (int k = 0; k < maxRelays; ++k)
        fieldNames.name(relays[k], ui->label_relayList, k + 1);
    const auto entries = whitelistFields();
    for (int n = 0; n < whitelistEntries; ++n)
        fieldNames.name(entries[n], ui->label_24, n + 1);

    dataForm = new DataSendForm({ui->lineEdit_dataDstAddr,
                                 ui->comboBox_discoveryRoute,
                                 ui->comboBox_dataMaxDepth,
                                 ui->checkBox_ackReq,
                                 ui->textEdit_sendData,
                                 ui->label_BytesCount,
                                 ui->label_18,
                                 ui->comboBox_relayCount,
                                 {ui->label_relayCount, ui->label_relayList},
                                 relays},
                                &fieldNames, this);
    ConfigForm::Widgets form;
    form.fields = {
        {"channel", ui->comboBox_channelNum},           {"power", ui->comboBox_RfPower},
        {"device_type", ui->comboBox_deviceType},       {"network_id", ui->lineEdit_PanID},
        {"address", ui->lineEdit_moduleAddr},           {"interface_mode", ui->comboBox_UserMode},
        {"uart_baud", ui->comboBox_UartParaBaud},       {"uart_parity", ui->comboBox_UartParity},
        {"uart_stop_bits", ui->comboBox_UartStopBit},   {"rf_data_rate", ui->comboBox_RfDataRate},
        {"whitelist", ui->checkBox_AclEnable},          {"bandwidth", ui->comboBox_bandwidth},
        {"spreading_factor", ui->comboBox_SpreadFactor}};
    form.loraModel = ui->checkBox_rq520M;
    form.loraRate = ui->lineEdit_rfRate;
    form.loraOnly = {ui->label_28, ui->label_29, ui->comboBox_bandwidth, ui->comboBox_SpreadFactor};
    form.plainOnly = {ui->comboBox_RfDataRate};
    configForm = new ConfigForm(form, &fieldNames, this);
    // A window of its own beside this one (not a child: the form's checks look at this window's
    // widgets alone); it goes with this one.
    mapWindow = new NetworkMapWindow(session, nullptr);
    updateControls();

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
    // A read or a profile sets the whitelist box: its fields follow it from then on.
    connect(configForm, &ConfigForm::shown, this, &Dialog::checkBox_AclEn_changed);
    connect(ui->checkBox_continueSend, &QCheckBox::stateChanged, this,
            &Dialog::checkBox_continueSend_changed);
    connect(linkTestView, &LinkTestView::unanswered, this,
            [this](serial::ModuleLink::RequestId id) {
                receiveTick->noteUnanswered(id, ui->pushButton_sendData->text());
            });
    connect(linkTestView, &LinkTestView::ended, this, &Dialog::stopRepeating);
    connect(link, &serial::ModuleLink::stateChanged, this, &Dialog::onLinkStateChanged);
    // A lost port pauses repeated sending: the replugged port takes it up again, and a run
    // whose port stays away ends by itself.
    // The box then shows what the module holds, not the defaults.
    connect(port, &PortController::foundAndOpened, this, &Dialog::on_pushButton_readCfg_clicked);
    connect(port, &PortController::settingsWritten, this, &Dialog::readMyCom);
    connect(port, &PortController::followed, this, &Dialog::on_pushButton_readVersion_clicked);
    connect(mapWindow, &NetworkMapWindow::targetChosen, dataForm, &DataSendForm::setTarget);
    connect(mapWindow, &NetworkMapWindow::sourceRouteChosen, dataForm,
            &DataSendForm::setSourceRoute);
}

Dialog::~Dialog()
{
    delete std::exchange(mapWindow, nullptr);
    delete ui;
}

void Dialog::reject()
{
    if (linkTestView->isRunning() &&
        QMessageBox::question(this, tr("连续发送"), tr("连续发送正在进行，确定要结束并退出吗？"),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes)
        return;
    QDialog::reject();
}

void Dialog::setModuleModelLabel(const QString &label)
{
    ui->checkBox_rq520M->setText(label);
}

std::array<QLineEdit *, whitelistEntries> Dialog::whitelistFields() const
{
    return {ui->lineEdit_Acl1, ui->lineEdit_Acl2, ui->lineEdit_Acl3, ui->lineEdit_Acl4,
            ui->lineEdit_Acl5};
}

// ---- Serial link ----------------------------------------------------------------------------

void Dialog::setPortEnumerator(PortEnumerator enumerator)
{
    port->setPortEnumerator(std::move(enumerator));
}

void Dialog::readPortListInBackground()
{
    port->readPortListInBackground();
}

void Dialog::addPort(const serial::PortFacts &facts)
{
    port->addPort(facts);
}

void Dialog::selectPort(const QString &path)
{
    port->selectPort(path);
}

bool Dialog::openPort(const QString &path)
{
    if (port->isOpen())
        return false;
    port->selectPort(path);
    return port->open();
}

void Dialog::setDataSend(const QString &target, const QString &dataText)
{
    ui->lineEdit_dataDstAddr->setText(target);
    ui->textEdit_sendData->setPlainText(dataText);
}

void Dialog::setRepeatedSending(bool on)
{
    ui->checkBox_continueSend->setChecked(on);
}

void Dialog::updateControls()
{
    port->showState();
    const bool open = port->isOpen();
    for (QPushButton *button :
         {ui->pushButton_writeCfg, ui->pushButton_readCfg, ui->pushButton_enterCfgMode,
          ui->pushButton_routeDiscovery, ui->pushButton_readVersion, ui->pushButton_resetModule})
        button->setEnabled(open);
    ui->pushButton_sendData->setEnabled(open && !ui->checkBox_continueSend->isChecked());
    const bool whitelist = ui->checkBox_AclEnable->isChecked();
    ui->pushButton_readAcl->setEnabled(open && whitelist);
    ui->pushButton_writeAcl->setEnabled(open && whitelist);
    if (whitelistFieldsFollowBox) {
        for (QLineEdit *field : whitelistFields())
            field->setEnabled(whitelist);
    }
    dataForm->showRouteMode();
    configForm->showModel();
}

void Dialog::comboBox_BaudRate_currentIndexChanged(const QString &)
{
    port->applyRateAndParity();
}

void Dialog::comboBox_Parity_currentIndexChanged(const QString &)
{
    port->applyRateAndParity();
}

void Dialog::on_pushButton_openCom_clicked()
{
    if (!port->isOpen()) {
        port->open();
        return;
    }
    // Repeated sending ends with the port, however the port ends.
    stopRepeating();
    port->close();
}

void Dialog::on_pushButton_findModule_clicked()
{
    port->findModule();
}

void Dialog::onLinkStateChanged(serial::ModuleLink::State state)
{
    if (state == serial::ModuleLink::State::Open) {
        readTimer->start(readIntervalMs);
    } else {
        readTimer->stop();
        lastReadConfig.reset(); // the next port may hold another module
        mapWindow->portClosed();
        // A run paused over a lost device waits for it; any other close ends it.
        if (!linkTestView->isPaused())
            stopRepeating();
        receiveTick->clear();
    }
    updateControls();
}

// ---- Frames ---------------------------------------------------------------------------------

bool Dialog::sendFrame(const QPushButton *sender, const QByteArray &frame)
{
    // One attempt, as the buttons always sent; the send box records only what the port took:
    // nothing for a closed or closing port.
    serial::Operation *operation = session->request(frame, 0);
    if (operation->isFinished())
        return false;
    ui->SendOutBrowser->appendText(QStringLiteral("send->") + hexLine(frame));
    connect(operation, &serial::Operation::finished, this,
            [this, text = sender->text(), id = operation->lastRequestId(),
             frame](const serial::Outcome &outcome) {
                if (!port->isOpen())
                    return; // what a closed port had not shown goes with it
                if (outcome.kind == serial::Outcome::Kind::NoReply)
                    receiveTick->noteUnanswered(id, text);
                else if (!outcome.frame.isEmpty())
                    port->noteWrite(frame, outcome.frame, lastReadConfig);
            });
    return true;
}

bool Dialog::sendCommand(const QPushButton *sender, quint8 group, quint8 code,
                         QByteArrayView payload)
{
    return sendFrame(sender, commandFrame(group, code, payload));
}

void Dialog::readMyCom()
{
    if (port->isOpen())
        receiveTick->tick();
}

QString Dialog::showReply(const Reply &reply)
{
    switch (reply.kind) {
    case Reply::Kind::ConfigRead:
        lastReadConfig = reply.config;
        configForm->show(reply.config);
        break;
    case Reply::Kind::WhitelistRead: {
        const auto fields = whitelistFields();
        for (int n = 0; n < whitelistEntries; ++n)
            fields[n]->setText(reply.whitelist.value(n));
        break;
    }
    default:
        break;
    }
    return reply.text;
}

// ---- Configuration --------------------------------------------------------------------------

void Dialog::on_pushButton_enterCfgMode_clicked()
{
    // The configuration-mode bytes expect no frame back.
    const QByteArray bytes = enterConfigModeBytes();
    if (link->writeRaw(bytes))
        ui->SendOutBrowser->appendText(QStringLiteral("send->") + hexLine(bytes));
}

void Dialog::on_pushButton_readCfg_clicked()
{
    sendCommand(ui->pushButton_readCfg, group::module, code::readConfig);
}

void Dialog::on_pushButton_writeCfg_clicked()
{
    ModuleConfig c;
    const auto encoded = configForm->checkedConfig(&c);
    if (!encoded)
        return;
    if (!lastReadConfig &&
        QMessageBox::question(this, tr("写配置"),
                              tr("还没有从这个模块读过配置。\n所有字段都将按界面所示写入模块。\n"
                                 "是否继续？"),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes)
        return;
    sendCommand(ui->pushButton_writeCfg, group::module, code::writeConfig,
                QByteArrayView(encoded->record.data(), configRecordSize));
    if (lastReadConfig) {
        const QString changes = configForm->changeLines(*lastReadConfig, c, configForm->lora());
        ui->ReceiveOutBrowser->appendText(changes.isEmpty()
                                              ? tr("写配置：与上次读到的配置相同\n")
                                              : tr("写配置，改动的字段：\n") + changes);
    }
}

void Dialog::on_pushButton_exportCfg_clicked()
{
    if (const auto line = configForm->exportProfile())
        ui->ReceiveOutBrowser->appendText(*line);
}

void Dialog::on_pushButton_importCfg_clicked()
{
    if (const auto lines = configForm->importProfile())
        ui->ReceiveOutBrowser->appendText(*lines);
}

void Dialog::checkBox_Rq520M_Changed()
{
    updateControls();
}

void Dialog::rq520M_rfRate_changed()
{
    configForm->showLoraRate();
}

// ---- Route search ---------------------------------------------------------------------------

void Dialog::on_pushButton_routeDiscovery_clicked()
{
    const auto target = hexWordFromText(ui->lineEdit_routeDstAddr->text());
    if (!target) {
        fieldNames.refuse(this,
                          {{FieldNames::incompleteAddressHeading(), {ui->lineEdit_routeDstAddr}}});
        return;
    }
    const auto payload = routeSearchPayload(*target, ui->comboBox_routeMaxDepth->currentIndex());
    sendCommand(ui->pushButton_routeDiscovery, group::network, code::routeSearch,
                QByteArrayView(payload.data(), routeSearchPayloadSize));
}

void Dialog::on_pushButton_networkMap_clicked()
{
    mapWindow->show();
    mapWindow->raise();
    mapWindow->activateWindow();
}

// ---- Application data -----------------------------------------------------------------------

void Dialog::textEditInputChanged()
{
    dataForm->checkText();
}

void Dialog::comboBox_discoveryRoute_currentIndexChanged(const QString &)
{
    updateControls();
}

void Dialog::comboBox_relayCount_currentIndexChanged(const QString &)
{
    updateControls();
}

void Dialog::stopRepeating()
{
    ui->checkBox_continueSend->setChecked(false);
}

void Dialog::on_pushButton_sendData_clicked()
{
    if (const auto send = dataForm->frame())
        sendFrame(ui->pushButton_sendData, send->frame);
}

void Dialog::continueSendData()
{
    linkTestView->tick();
}

void Dialog::checkBox_continueSend_changed()
{
    if (ui->checkBox_continueSend->isChecked())
        // A refused send switches repetition off before its box, so that the box shows once.
        linkTestView->start([this] { return dataForm->frame([this] { stopRepeating(); }); });
    else
        linkTestView->stop();
    updateControls();
}

// ---- Version, reset and whitelist -----------------------------------------------------------

void Dialog::on_pushButton_readVersion_clicked()
{
    sendCommand(ui->pushButton_readVersion, group::module, code::readVersion);
}

void Dialog::on_pushButton_resetModule_clicked()
{
    sendCommand(ui->pushButton_resetModule, group::module, code::resetModule);
}

void Dialog::on_pushButton_readAcl_clicked()
{
    sendCommand(ui->pushButton_readAcl, group::whitelist, code::readWhitelist);
}

void Dialog::on_pushButton_writeAcl_clicked()
{
    const auto fields = whitelistFields();
    QStringList texts;
    for (const QLineEdit *field : fields)
        texts << field->text();
    FieldComplaint invalid{tr("以下字段需要留空或填写四位十六进制数："), {}};
    for (const int n : invalidWhitelistEntries(texts))
        invalid.fields << fields[n];
    const auto payload = whitelistPayload(texts);
    if (fieldNames.refuse(this, {invalid}) || !payload)
        return;
    sendCommand(ui->pushButton_writeAcl, group::whitelist, code::writeWhitelist,
                QByteArrayView(payload->data(), whitelistPayloadSize));
}

void Dialog::checkBox_AclEn_changed()
{
    whitelistFieldsFollowBox = true;
    updateControls();
}
