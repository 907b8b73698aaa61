#pragma once

#include "network/networkmap.h"

#include <QDialog>
#include <QList>
#include <QPointer>

#include <functional>
#include <optional>

class NetworkMapView;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;
namespace serial {
class MapFeeder;
class Operation;
class Session;
} // namespace serial

// The "网络拓扑" window: the map that every route reply and data report over the window's link
// teaches, a scan over a list of targets (with progress and cancel), exports as DOT and PNG.
// The map is kept in the user's data folder, one file per module address, and comes back when
// a configuration read names that module again.
class NetworkMapWindow : public QDialog
{
    Q_OBJECT

public:
    NetworkMapWindow(serial::Session *session, QWidget *parent);
    ~NetworkMapWindow() override;

    const network::NetworkMap &map() const { return networkMap; }
    NetworkMapView *view() const { return mapView; }
    // Where the maps are kept: the application's data folder unless set; none (nothing kept)
    // in a program without an organisation name.
    void setMapFolder(const QString &folder) { mapFolder = folder; }
    QString mapFilePath(quint16 address) const;
    // Saves the map and starts an empty one: the next port may hold another module.
    void portClosed();

    // A scan as the scan button starts it; false (after a box that says why) when it cannot.
    bool startScan(const QString &targets, int maxHops = 7);
    void cancelScan();
    bool isScanning() const { return scanning; }

signals:
    // A node was clicked: its address, for the data-send target.
    void targetChosen(const QString &address);
    // The user accepted the node's found route as the source route (relays in route order).
    void sourceRouteChosen(const QList<quint16> &relays);

protected:
    // Shown with the port open and the module not named yet: a configuration read names it, so
    // that its kept map comes back.
    void showEvent(QShowEvent *event) override;

private:
    void nameModule();
    void onNodeClicked(network::NodeId id);
    void onOwnAddressRead(quint16 address);
    void changed();
    void save();
    void nextTarget();
    void nextBeforeRoutes();
    void finishScan(const QString &how);
    void exportDot();
    void exportPng();
    void showState();

    serial::Session *session;
    network::NetworkMap networkMap;
    serial::MapFeeder *feeder = nullptr;
    NetworkMapView *mapView = nullptr;
    QLineEdit *targetsField = nullptr;
    QSpinBox *maxHopsBox = nullptr;
    QPushButton *scanButton = nullptr;
    QPushButton *cancelButton = nullptr;
    QProgressBar *progress = nullptr;
    QLabel *status = nullptr;
    QTimer *saveSoon = nullptr;
    QString mapFolder;
    std::optional<quint16> fileAddress; // the module whose file the map was loaded from

    bool scanning = false;
    QList<quint16> queue;
    int scanned = 0, found = 0, total = 0, scanHops = 7;
    QPointer<serial::Operation> inFlight;
    // Reads a scan makes before its routes: the module's address, the whitelist's targets.
    QList<std::function<serial::Operation *()>> beforeRoutes;
};
