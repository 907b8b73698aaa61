#pragma once

#include "protocol/configrecord.h"
#include "serial/modulelink.h"
#include "serial/portlist.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <future>
#include <optional>

class LogView;
class PortComboBox;
class QComboBox;
class QPushButton;
class QWidget;
namespace serial {
class Discovery;
class ReplugWatch;
} // namespace serial

// The window's serial port: the port list and the three line-setting lists, opening and closing
// the module link, the line when the port is lost and reopening a replugged adapter, the
// find-module search and following the settings a configuration write gives the module. It owns
// the link; the window hears of it through the link's own signals.
class PortController : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        PortComboBox *ports;
        QComboBox *rates;
        QComboBox *parities;
        QComboBox *stopBits;
        QPushButton *openButton;
        QPushButton *findButton;
        LogView *log; // the lost and reconnected lines, and what a search found
    };
    // `window` is the parent of the boxes it shows.
    PortController(const Widgets &widgets, QWidget *window);
    ~PortController() override;

    serial::ModuleLink *link() const { return moduleLink; }
    // The link is open and not on its way to closing.
    bool isOpen() const;

    // Where the port list is read from each time the user opens it.
    using PortEnumerator = std::function<QList<serial::PortFacts>()>;
    void setPortEnumerator(PortEnumerator enumerator);
    // Reads the port list on a thread of its own and shows it when it is in, keeping a port the
    // user picked or typed meanwhile; its end is waited for when the controller goes.
    void readPortListInBackground();
    // Lists the port first (unless it is listed) with its tooltip.
    void addPort(const serial::PortFacts &port);
    // Selects the port in the list, or types it into the field when it is not listed.
    void selectPort(const QString &path);

    // Opens the port the field names at the lists' settings, or says in a box why not.
    bool open();
    void close();

    // The rate, parity and stop bits the three lists show; a text no table knows keeps the
    // link's setting.
    serial::LineSettings chosenLineSettings() const;
    // The three lists show these settings (a rate no list item has is left as it is).
    void selectLineSettings(const serial::LineSettings &settings);
    // Rate and parity follow their lists at once; the stop bits wait for the next open.
    void applyRateAndParity();
    // After a configuration write the module answered: when its record gives the module other
    // serial settings than it held (`held`, the configuration last read; without one, the
    // port's), says so and, once the event loop is back, offers to follow it there.
    void noteWrite(const QByteArray &request, const QByteArray &reply,
                   const std::optional<protocol::ModuleConfig> &held);

    // Searches the port the field names (every port when it is empty) at every setting; the
    // end is shown in the log, and the port opened where the module answered.
    void findModule();
    // The open button, the find button and the port list as the link's state and a search
    // allow.
    void showState();

signals:
    // The port went away; emitted before its line is written.
    void lost();
    // A find-module search opened the port on the module it found.
    void foundAndOpened();
    // A write gave the module other serial settings; the offer to follow comes next.
    void settingsWritten();
    // The port follows the module's new settings.
    void followed();

private:
    void fillLineSettingLists();
    // Fills the port list with tooltips, keeping the selection on its port.
    void showPorts(const QList<serial::PortFacts> &ports);
    void onDeviceLost(const QString &reason);
    // The end of a find-module search: what it found, and the module opened when it found one.
    void showFindings(const QStringList &ports);
    bool reopenReplugged(const QString &name);
    void offerSwitch(const serial::LineSettings &settings);

    Widgets ui;
    QWidget *window;
    serial::ModuleLink *moduleLink;
    serial::ReplugWatch *replugWatch;
    serial::Discovery *findSearch = nullptr; // while "查找模块" searches
    PortEnumerator portEnumerator = &serial::availablePortFacts;
    QString openedPortName; // as it was opened, for finding it again after a replug
    // The read started by readPortListInBackground.
    std::future<void> backgroundPortRead;
};
