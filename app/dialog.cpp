#include "app/dialog.h"

#include "protocol/configrecord.h"
#include "protocol/datatext.h"
#include "protocol/linkstats.h"
#include "protocol/payloads.h"
#include "protocol/replies.h"
#include "serial/modulelink.h"
#include "ui_dialog.h"
#include "widgets/configform.h"
#include "widgets/fieldcheck.h"
#include "widgets/linktestview.h"
#include "widgets/logview.h"
#include "widgets/portcontroller.h"

#include <QDateTime>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <utility>

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

    auto *hexWordValidator = new HexWordValidator(this);
    for (QLineEdit *field : {ui->lineEdit_PanID, ui->lineEdit_moduleAddr, ui->lineEdit_routeDstAddr,
                             ui->lineEdit_dataDstAddr})
        field->setValidator(hexWordValidator);
    for (QLineEdit *field : relayAddressFields())
        field->setValidator(hexWordValidator);
    for (QLineEdit *field : whitelistFields())
        field->setValidator(hexWordValidator);

    ui->comboBox_discoveryRoute->setCurrentIndex(1);
    ui->comboBox_dataMaxDepth->setCurrentIndex(6);

    // Widgets that come and go with a mode keep their room, so the rest of the form stays put.
    auto keepRoomWhenHidden = [](QWidget *widget) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
    };
    for (QWidget *widget : std::initializer_list<QWidget *>{
             ui->label_28, ui->label_29, ui->comboBox_bandwidth, ui->comboBox_SpreadFactor,
             ui->label_relayCount, ui->comboBox_relayCount, ui->label_relayList})
        keepRoomWhenHidden(widget);
    for (QLineEdit *field : relayAddressFields())
        keepRoomWhenHidden(field);

    port = new PortController({ui->comboBox_comList, ui->comboBox_baudList, ui->comboBox_parityList,
                               ui->comboBox_StopBitsList, ui->pushButton_openCom,
                               ui->pushButton_findModule, ui->ReceiveOutBrowser},
                              this);
    link = port->link();
    session = new serial::Session(link, this);
    linkTestView = new LinkTestView(link,
                                    {ui->groupBox_4, ui->dataLayout, ui->comboBox_msTime,
                                     ui->spinBox_replyWait, ui->SendOutBrowser},
                                    this);

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
    const auto relays = relayAddressFields();
    for (int k = 0; k < maxRelays; ++k)
        fieldNames.name(relays[k], ui->label_relayList, k + 1);
    const auto entries = whitelistFields();
    for (int n = 0; n < whitelistEntries; ++n)
        fieldNames.name(entries[n], ui->label_24, n + 1);

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
    form.loraOnly = {ui->label_28, ui->label_29, ui->comboBox_bandwidth, ui->comboBox_SpreadFactor,
                     ui->lineEdit_rfRate};
    form.plainOnly = {ui->comboBox_RfDataRate};
    configForm = new ConfigForm(form, &fieldNames, this);
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
                noteUnanswered(id, ui->pushButton_sendData->text());
            });
    connect(linkTestView, &LinkTestView::ended, this,
            [this] { ui->checkBox_continueSend->setChecked(false); });
    connect(link, &serial::ModuleLink::stateChanged, this, &Dialog::onLinkStateChanged);
    // The link closed the port once; the window shows it as the button would have.
    connect(port, &PortController::lost, this,
            [this] { ui->checkBox_continueSend->setChecked(false); });
    connect(port, &PortController::foundAndOpened, this, &Dialog::on_pushButton_readCfg_clicked);
    connect(link, &serial::ModuleLink::bytesArrived, this,
            [this](const QByteArray &bytes) { arrivedSinceTick += bytes; });
    // Every frame is shown as it came; what it answers is the session's to say.
    connect(link, &serial::ModuleLink::answered, this,
            [this](const serial::ModuleLink::Request &, const QByteArray &frame) {
                framesSinceTick.append({frame, {}});
            });
    connect(link, &serial::ModuleLink::unsolicited, this, [this](const QByteArray &frame) {
        framesSinceTick.append({frame, {}});
    });
    connect(session, &serial::Session::lateReply, this,
            [this](const serial::ModuleLink::Request &request, const QByteArray &frame,
                   double latencyMs) {
                const QString sender =
                    overdueSender.first == request.id ? overdueSender.second : QString();
                framesSinceTick.append({frame, tr("迟到的应答：%1（%2 ms）\n")
                                                   .arg(sender)
                                                   .arg(QString::number(latencyMs, 'f', 1))});
            });
}

Dialog::~Dialog()
{
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

void Dialog::setPortEnumerator(PortEnumerator enumerator)
{
    port->setPortEnumerator(std::move(enumerator));
}

void Dialog::readPortListInBackground()
{
    port->readPortListInBackground();
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

    const bool sourceRouted = ui->comboBox_discoveryRoute->currentIndex() == sourceRoutingMode;
    ui->label_relayCount->setVisible(sourceRouted);
    ui->label_relayList->setVisible(sourceRouted);
    ui->comboBox_relayCount->setVisible(sourceRouted);
    const int relayCount = ui->comboBox_relayCount->currentIndex();
    const auto relays = relayAddressFields();
    for (int k = 0; k < maxRelays; ++k) {
        relays[k]->setVisible(sourceRouted);
        relays[k]->setEnabled(k < relayCount);
    }
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
    ui->checkBox_continueSend->setChecked(false);
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
        ui->checkBox_continueSend->setChecked(false);
        // What a closed port had not shown yet goes with it, as its unread bytes always did.
        arrivedSinceTick.clear();
        framesSinceTick.clear();
        unansweredSinceTick.clear();
        overdueSender = {};
        shownAhead.clear();
    }
    updateControls();
}

// ---- Frames ---------------------------------------------------------------------------------

quint8 Dialog::buildCommandFrame(quint8 group, quint8 code, const quint8 *payload, quint8 length)
{
    return protocol::buildCommandFrame(txFrame.data(), group, code, payload, length);
}

bool Dialog::sendFrame(const QPushButton *sender, const quint8 *frame, quint8 length)
{
    const QByteArray bytes(reinterpret_cast<const char *>(frame), length);
    // One attempt, as the buttons always sent; the send box records only what the port took:
    // nothing for a closed or closing port.
    serial::Operation *operation = session->request(bytes, 0);
    if (operation->isFinished())
        return false;
    ui->SendOutBrowser->appendText(QStringLiteral("send->") + hexLine(bytes));
    connect(operation, &serial::Operation::finished, this,
            [this, text = sender->text(), id = operation->lastRequestId(),
             bytes](const serial::Outcome &outcome) {
                if (!port->isOpen())
                    return; // what a closed port had not shown goes with it
                if (outcome.kind == serial::Outcome::Kind::NoReply)
                    noteUnanswered(id, text);
                else if (!outcome.frame.isEmpty())
                    noteWrittenSerialSettings(bytes, outcome.frame);
            });
    return true;
}

void Dialog::noteUnanswered(serial::ModuleLink::RequestId id, const QString &sender)
{
    unansweredSinceTick << sender;
    overdueSender = {id, sender}; // its reply may still come, late
}

bool Dialog::sendCommand(const QPushButton *sender, quint8 group, quint8 code,
                         const quint8 *payload, quint8 length)
{
    const quint8 frameLength = buildCommandFrame(group, code, payload, length);
    return sendFrame(sender, txFrame.data(), frameLength);
}

void Dialog::readMyCom()
{
    if (!port->isOpen())
        return;
    if (arrivedSinceTick.isEmpty() && framesSinceTick.isEmpty() && unansweredSinceTick.isEmpty())
        return;
    const QByteArray chunk = std::exchange(arrivedSinceTick, {});
    const QList<ArrivedFrame> frames = std::exchange(framesSinceTick, {});
    const QStringList unanswered = std::exchange(unansweredSinceTick, {});

    QString text = chunk.isEmpty() ? QString() : receiveLogText(chunk, Reply{});
    for (const ArrivedFrame &arrived : frames) {
        if (shownAhead.removeOne(arrived.frame))
            continue;
        text += arrived.lateNote + showReply(decodeReply(arrived.frame));
    }
    if (!link->holdsUnfinishedFrame())
        shownAhead.clear(); // no frame the link finds later can hold those bytes

    // A chunk that reads as one reply is shown as one, even where the link found no frame in
    // it (its length byte disagrees, or the link still waits on bytes before it).
    const auto foundIn = [&chunk](const ArrivedFrame &arrived) {
        return chunk.contains(arrived.frame);
    };
    if (!chunk.isEmpty() && std::none_of(frames.cbegin(), frames.cend(), foundIn)) {
        const Reply reply = decodeReply(chunk);
        text += checksumErrorText(chunk);
        if (reply.kind != Reply::Kind::Unrecognised) {
            text += showReply(reply);
            if (link->holdsUnfinishedFrame())
                shownAhead << chunk;
        }
    }

    for (const QString &sender : unanswered)
        text += tr("无应答：") + sender + QLatin1Char('\n');
    if (!text.isEmpty())
        ui->ReceiveOutBrowser->appendText(text);
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
    sendCommand(ui->pushButton_writeCfg, group::module, code::writeConfig, encoded->record.data(),
                configRecordSize);
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
    sendCommand(ui->pushButton_routeDiscovery, group::network, code::routeSearch, payload.data(),
                routeSearchPayloadSize);
}

// ---- Application data -----------------------------------------------------------------------

void Dialog::textEditInputChanged()
{
    // Typing is never interrupted: a malformed text is marked in place, and the box waits for
    // a send.
    const QString text = ui->textEdit_sendData->toPlainText();
    const qsizetype errorAt = dataTextErrorAt(text);
    if (errorAt < 0)
        declaredDataLength = dataTextByteCount(text);
    const bool malformed = errorAt >= 0;
    if (malformed != ui->textEdit_sendData->property("malformed").toBool()) {
        ui->textEdit_sendData->setProperty("malformed", malformed);
        ui->textEdit_sendData->setStyleSheet(
            malformed ? QStringLiteral("#textEdit_sendData { border: 2px solid #d32f2f; }")
                      : QString());
        ui->label_BytesCount->setStyleSheet(malformed ? QStringLiteral("color: #d32f2f;")
                                                      : QString());
        ui->label_18->setVisible(!malformed);
    }
    const QString problem =
        malformed
            ? tr("第%1个字符不符合格式：每个字节两位十六进制数，字节之间可空一格").arg(errorAt + 1)
            : QString();
    ui->textEdit_sendData->setToolTip(problem);
    ui->label_BytesCount->setToolTip(problem);
    ui->label_BytesCount->setText(malformed ? tr("格式有误（第%1个字符）").arg(errorAt + 1)
                                            : byteCountText(declaredDataLength));
}

void Dialog::showDataTextWarning()
{
    QMessageBox::warning(this, tr("Warning"), tr("请输入正确格式"), QMessageBox::Ok);
}

void Dialog::comboBox_discoveryRoute_currentIndexChanged(const QString &)
{
    updateControls();
}

void Dialog::comboBox_relayCount_currentIndexChanged(const QString &)
{
    updateControls();
}

void Dialog::sendApplicationData(bool repeating)
{
    if (const auto send = applicationDataFrame(repeating))
        sendFrame(ui->pushButton_sendData,
                  reinterpret_cast<const quint8 *>(send->frame.constData()),
                  quint8(send->frame.size()));
}

std::optional<LinkTestView::Send> Dialog::applicationDataFrame(bool repeating)
{
    auto stopRepeating = [&] {
        if (repeating)
            ui->checkBox_continueSend->setChecked(false);
    };

    const int routeMode = ui->comboBox_discoveryRoute->currentIndex();
    QList<QWidget *> addressFields{ui->lineEdit_dataDstAddr};
    QStringList addressTexts{ui->lineEdit_dataDstAddr->text()};
    if (routeMode == sourceRoutingMode) {
        const auto fields = relayAddressFields();
        const int relayCount = qBound(0, ui->comboBox_relayCount->currentIndex(), maxRelays);
        for (int k = 0; k < relayCount; ++k) {
            addressFields << fields[k];
            addressTexts << fields[k]->text();
        }
    }
    FieldComplaint incomplete{FieldNames::incompleteAddressHeading(), {}};
    for (const int position : incompleteHexWords(addressTexts))
        incomplete.fields << addressFields[position];
    if (!incomplete.fields.isEmpty()) {
        stopRepeating();
        fieldNames.refuse(this, {incomplete});
        return std::nullopt;
    }

    const QString text = ui->textEdit_sendData->toPlainText();
    if (dataTextState(text) == DataTextState::Invalid) {
        stopRepeating();
        showDataTextWarning();
        return std::nullopt;
    }

    DataSendRequest request;
    request.target = *hexWordFromText(addressTexts.first());
    request.ackRequested = ui->checkBox_ackReq->isChecked();
    request.hopIndex = ui->comboBox_dataMaxDepth->currentIndex();
    request.routeMode = routeMode;
    for (const QString &relay : addressTexts.mid(1))
        request.relays << *hexWordFromText(relay);
    // The count the label shows is what the frame announces; it is not recounted here.
    request.declaredLength = declaredDataLength;
    request.data = dataTextBytes(text);

    const auto payload = dataSendPayload(request);
    if (!payload) {
        stopRepeating();
        showDataTooLong();
        return std::nullopt;
    }
    const quint8 length = buildCommandFrame(group::network, code::sendData,
                                            reinterpret_cast<const quint8 *>(payload->data()),
                                            quint8(payload->size()));
    return LinkTestView::Send{QByteArray(reinterpret_cast<const char *>(txFrame.data()), length),
                              quint16(request.target.high << 8 | request.target.low)};
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
    sendApplicationData(false);
}

void Dialog::continueSendData()
{
    linkTestView->tick();
}

void Dialog::checkBox_continueSend_changed()
{
    if (ui->checkBox_continueSend->isChecked())
        linkTestView->start([this] { return applicationDataFrame(true); });
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
    sendCommand(ui->pushButton_writeAcl, group::whitelist, code::writeWhitelist, payload->data(),
                whitelistPayloadSize);
}

void Dialog::checkBox_AclEn_changed()
{
    whitelistFieldsFollowBox = true;
    updateControls();
}
