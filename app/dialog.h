#pragma once

#include "protocol/configrecord.h"
#include "protocol/frame.h"
#include "protocol/payloads.h"
#include "protocol/replies.h"
#include "serial/linktest.h"
#include "serial/modulelink.h"
#include "serial/portlist.h"
#include "serial/session.h"
#include "widgets/fieldcheck.h"
#include "widgets/linktestview.h"
#include "widgets/portcontroller.h"

#include <QByteArray>
#include <QDialog>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

class ConfigForm;
class QLineEdit;
class QPushButton;
class QTextBrowser;
class QTimer;

namespace Ui {
class DialogForm;
}

// The tool's one window: the serial port, the module commands and the two hex logs.
class Dialog : public QDialog
{
    Q_OBJECT

public:
    explicit Dialog(QWidget *parent = nullptr);
    ~Dialog() override;

    // The build's label for the module-model check box; the window title is set by main.
    void setModuleModelLabel(const QString &label);

    // Where the port list is read from each time the user opens it: the platform's list
    // unless the caller supplies its own (the demo adds its virtual module, tests simulate
    // devices coming and going).
    using PortEnumerator = PortController::PortEnumerator;
    void setPortEnumerator(PortEnumerator enumerator);
    // Reads the port list on a thread of its own and shows it when it is in, keeping a port the
    // user picked or typed meanwhile. A program calls it once its window is shown: the read asks
    // udev about every tty, and beside the window's start-up it holds the window back.
    void readPortListInBackground();

    // Esc and the window's close button: a running link test is not ended without asking.
    void reject() override;

private slots:
    void readMyCom();
    void on_pushButton_openCom_clicked();
    void on_pushButton_findModule_clicked();
    void comboBox_Parity_currentIndexChanged(const QString &text);
    void comboBox_BaudRate_currentIndexChanged(const QString &text);
    void comboBox_discoveryRoute_currentIndexChanged(const QString &text);
    void comboBox_relayCount_currentIndexChanged(const QString &text);
    void checkBox_Rq520M_Changed();
    void rq520M_rfRate_changed();
    void checkBox_AclEn_changed();
    void checkBox_continueSend_changed();
    void continueSendData();
    void textEditInputChanged();
    void on_pushButton_writeCfg_clicked();
    void on_pushButton_readCfg_clicked();
    void on_pushButton_enterCfgMode_clicked();
    void on_pushButton_routeDiscovery_clicked();
    void on_pushButton_readVersion_clicked();
    void on_pushButton_resetModule_clicked();
    void on_pushButton_sendData_clicked();
    void on_pushButton_readAcl_clicked();
    void on_pushButton_writeAcl_clicked();
    void on_pushButton_exportCfg_clicked();
    void on_pushButton_importCfg_clicked();

private:
    // Every enabled state, visibility and button text that follows the link's state and the
    // check boxes: the port's widgets, the seven command buttons, the send and whitelist buttons,
    // the port list, the relay fields and the model's rate widgets.
    void updateControls();
    void onLinkStateChanged(serial::ModuleLink::State state);
    // After a successful configuration write: the module's new serial settings, when the record
    // holds other ones than the port's.
    void noteWrittenSerialSettings(const QByteArray &request, const QByteArray &reply);
    void offerSerialSwitch(const serial::LineSettings &settings);

    quint8 buildCommandFrame(quint8 group, quint8 code, const quint8 *payload, quint8 length);
    // Hands a request to the link and echoes it after "send->" in the send box when the link
    // took it; a request without a reply by its deadline is reported under the sender's text.
    bool sendFrame(const QPushButton *sender, const quint8 *frame, quint8 length);
    bool sendCommand(const QPushButton *sender, quint8 group, quint8 code,
                     const quint8 *payload = nullptr, quint8 length = 0);
    // A request without a reply by its wait: its line on the next tick, and its name for a late
    // reply.
    void noteUnanswered(serial::ModuleLink::RequestId id, const QString &sender);
    // Fills the widgets a configuration or whitelist read carries; the reply's text.
    QString showReply(const protocol::Reply &reply);
    // Builds and sends one application-data frame, or refuses with a box. A repeating send
    // switches repetition off before its box, so that the box shows once.
    void sendApplicationData(bool repeating);
    // The frame sendApplicationData would send, or nothing after its box.
    std::optional<LinkTestView::Send> applicationDataFrame(bool repeating);
    void showDataTooLong();
    void showDataTextWarning();

    std::array<QLineEdit *, protocol::maxRelays> relayAddressFields() const;
    std::array<QLineEdit *, protocol::whitelistEntries> whitelistFields() const;

    PortController *port = nullptr;
    serial::ModuleLink *link = nullptr; // the port's
    serial::Session *session = nullptr;
    Ui::DialogForm *ui = nullptr;
    QTimer *readTimer = nullptr;
    // Repeated sending: its ticks, its waits and the panel.
    LinkTestView *linkTestView = nullptr;

    // What the next receive tick shows: the bytes since the last one, the frames that became
    // complete meanwhile (in stream order) and the senders of requests left unanswered.
    QByteArray arrivedSinceTick;
    struct ArrivedFrame
    {
        QByteArray frame;
        QString lateNote; // for a late reply: whose it is and how late
    };
    QList<ArrivedFrame> framesSinceTick;
    QStringList unansweredSinceTick;
    // The sender's text of the last request left unanswered (its late reply may still come).
    std::pair<serial::ModuleLink::RequestId, QString> overdueSender;
    // Chunks shown as a reply before the link found their frame (it was still busy with bytes
    // before them): when it finds one of them, it is not shown again.
    QList<QByteArray> shownAhead;

    // The configuration last read from the module since the port opened: a write lists what it
    // changes against it, and without it asks first.
    std::optional<protocol::ModuleConfig> lastReadConfig;
    // The count the data label shows, which a data frame announces.
    int declaredDataLength = 0;
    // The whitelist fields start enabled whatever their check box says; they follow it from
    // its first change (or a configuration read) on.
    bool whitelistFieldsFollowBox = false;
    ConfigForm *configForm = nullptr;
    FieldNames fieldNames;
    std::array<quint8, protocol::txFrameCapacity> txFrame{};
};
