#pragma once

#include "protocol/configrecord.h"
#include "protocol/frame.h"
#include "protocol/payloads.h"
#include "protocol/replies.h"
#include "serial/modulelink.h"
#include "serial/session.h"
#include "widgets/fieldcheck.h"
#include "widgets/linktestview.h"
#include "widgets/portcontroller.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

class ConfigForm;
class DataSendForm;
class NetworkMapWindow;
class QLineEdit;
class QPushButton;
class QTimer;
class ReceiveTick;

namespace Ui {
class DialogForm;
}

// The tool's one window: the serial port, the module commands and the two hex logs. Its slots
// gather the widgets' values, call one operation of its parts in widgets/ and show how it ended.
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

    // For programs that drive the window as its user would (the demo, the pictures of it, the
    // benchmarks); tests reach its widgets by name instead, as a user finds them on screen.
    // Lists the port first (unless it is listed) with its tooltip.
    void addPort(const serial::PortFacts &port);
    // Selects the port in the list, or types its path into the field.
    void selectPort(const QString &path);
    // Selects the port and opens it as the open button does (a box says why it could not);
    // false as well while another port is open.
    bool openPort(const QString &path);
    // The application data's target address and data text, as typed.
    void setDataSend(const QString &target, const QString &dataText);
    // Repeated sending on or off, as its check box switches it.
    void setRepeatedSending(bool on);

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
    void on_pushButton_networkMap_clicked();

private:
    // Every enabled state, visibility and button text that follows the link's state and the
    // check boxes: the port's widgets, the seven command buttons, the send and whitelist buttons,
    // the relay fields and the model's rate widgets.
    void updateControls();
    void onLinkStateChanged(serial::ModuleLink::State state);

    // Hands a request to the link and echoes it after "send->" in the send box when the link
    // took it; a request without a reply by its deadline is reported under the sender's text.
    bool sendFrame(const QPushButton *sender, const QByteArray &frame);
    bool sendCommand(const QPushButton *sender, quint8 group, quint8 code,
                     QByteArrayView payload = {});
    // Fills the widgets a configuration or whitelist read carries; the reply's text.
    QString showReply(const protocol::Reply &reply);
    // Repeated sending ends (with the port, or before a refusal's box).
    void stopRepeating();

    std::array<QLineEdit *, protocol::whitelistEntries> whitelistFields() const;

    Ui::DialogForm *ui = nullptr;
    FieldNames fieldNames;
    PortController *port = nullptr;
    serial::ModuleLink *link = nullptr; // the port's
    serial::Session *session = nullptr;
    LinkTestView *linkTestView = nullptr;
    ReceiveTick *receiveTick = nullptr;
    QTimer *readTimer = nullptr;
    ConfigForm *configForm = nullptr;
    DataSendForm *dataForm = nullptr;
    NetworkMapWindow *mapWindow = nullptr;

    // The configuration last read from the module since the port opened: a write lists what it
    // changes against it, and without it asks first.
    std::optional<protocol::ModuleConfig> lastReadConfig;
    // The whitelist fields start enabled whatever their check box says; they follow it from
    // its first change (or a configuration read) on.
    bool whitelistFieldsFollowBox = false;
};
