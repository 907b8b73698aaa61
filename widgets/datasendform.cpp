#include "widgets/datasendform.h"

#include "protocol/datatext.h"
#include "protocol/frame.h"
#include "widgets/fieldcheck.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTextEdit>

using namespace protocol;

DataSendForm::DataSendForm(const Widgets &widgets, const FieldNames *names, QWidget *window)
    : QObject(window), ui(widgets), names(names), window(window)
{
    for (QLineEdit *relay : ui.relays)
        keepRoomWhenHidden(relay);
    for (QWidget *caption : ui.relayCaptions)
        keepRoomWhenHidden(caption);
    keepRoomWhenHidden(ui.relayCount);
    ui.routeMode->setCurrentIndex(1);
    ui.maxDepth->setCurrentIndex(6);
}

int DataSendForm::relayCount() const
{
    return qBound(0, ui.relayCount->currentIndex(), maxRelays);
}

void DataSendForm::checkText()
{
    const QString text = ui.data->toPlainText();
    const qsizetype errorAt = dataTextErrorAt(text);
    if (errorAt < 0)
        declaredLength = dataTextByteCount(text);
    const bool malformed = errorAt >= 0;
    if (malformed != ui.data->property("malformed").toBool()) {
        ui.data->setProperty("malformed", malformed);
        ui.data->setStyleSheet(
            malformed ? QStringLiteral("#textEdit_sendData { border: 2px solid #d32f2f; }")
                      : QString());
        ui.byteCount->setStyleSheet(malformed ? QStringLiteral("color: #d32f2f;") : QString());
        ui.byteUnit->setVisible(!malformed);
    }
    const QString problem =
        malformed
            ? tr("第%1个字符不符合格式：每个字节两位十六进制数，字节之间可空一格").arg(errorAt + 1)
            : QString();
    ui.data->setToolTip(problem);
    ui.byteCount->setToolTip(problem);
    ui.byteCount->setText(malformed ? tr("格式有误（第%1个字符）").arg(errorAt + 1)
                                    : byteCountText(declaredLength));
}

void DataSendForm::showRouteMode()
{
    const bool sourceRouted = ui.routeMode->currentIndex() == sourceRoutingMode;
    for (QWidget *caption : ui.relayCaptions)
        caption->setVisible(sourceRouted);
    ui.relayCount->setVisible(sourceRouted);
    const int count = ui.relayCount->currentIndex();
    for (int k = 0; k < maxRelays; ++k) {
        ui.relays[k]->setVisible(sourceRouted);
        ui.relays[k]->setEnabled(k < count);
    }
}

void DataSendForm::setTarget(const QString &address)
{
    ui.target->setText(address);
}

void DataSendForm::setSourceRoute(const QList<quint16> &relays)
{
    const int count = int(qMin<qsizetype>(relays.size(), maxRelays));
    for (int k = 0; k < count; ++k)
        ui.relays[k]->setText(QString::asprintf("%04x", relays[k]));
    ui.relayCount->setCurrentIndex(count);
    ui.routeMode->setCurrentIndex(sourceRoutingMode);
    showRouteMode();
}

std::optional<LinkTestView::Send> DataSendForm::frame(const std::function<void()> &beforeBox)
{
    const auto refuse = [&](const QString &text) {
        if (beforeBox)
            beforeBox();
        QMessageBox::warning(window, tr("Warning"), text, QMessageBox::Ok);
        return std::nullopt;
    };

    const int routeMode = ui.routeMode->currentIndex();
    QList<QWidget *> addressFields{ui.target};
    QStringList addressTexts{ui.target->text()};
    if (routeMode == sourceRoutingMode) {
        for (int k = 0; k < relayCount(); ++k) {
            addressFields << ui.relays[k];
            addressTexts << ui.relays[k]->text();
        }
    }
    FieldComplaint incomplete{FieldNames::incompleteAddressHeading(), {}};
    for (const int position : incompleteHexWords(addressTexts))
        incomplete.fields << addressFields[position];
    if (!incomplete.fields.isEmpty()) {
        if (beforeBox)
            beforeBox();
        names->refuse(window, {incomplete});
        return std::nullopt;
    }

    const QString text = ui.data->toPlainText();
    if (dataTextState(text) == DataTextState::Invalid)
        return refuse(tr("请输入正确格式"));

    DataSendRequest request;
    request.target = *hexWordFromText(addressTexts.first());
    request.ackRequested = ui.ackRequest->isChecked();
    request.hopIndex = ui.maxDepth->currentIndex();
    request.routeMode = routeMode;
    for (const QString &relay : addressTexts.mid(1))
        request.relays << *hexWordFromText(relay);
    // The count the label shows is what the frame announces; it is not recounted here.
    request.declaredLength = declaredLength;
    request.data = dataTextBytes(text);

    const auto payload = dataSendPayload(request);
    if (!payload)
        return refuse(tr("数据过长：最多可发送%1字节")
                          .arg(dataSendCapacity(ui.routeMode->currentIndex(), relayCount())));
    return LinkTestView::Send{commandFrame(group::network, code::sendData, *payload),
                              quint16(request.target.high << 8 | request.target.low)};
}
