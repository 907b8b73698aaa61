#pragma once

#include "app/dialog.h"
#include "virtualmodule.h"

#include <QByteArray>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <vector>

// The real dialog, shown, with its port open on a virtual module; the drain timer is stopped so
// that the benchmark runs each receive tick itself.
struct LiveDialog
{
    vmodule::VirtualModule module;
    Dialog dialog;
    QSerialPort *port = nullptr;

    bool open()
    {
        if (!module.start())
            return false;
        dialog.resize(737, 662);
        dialog.show();
        auto *ports = dialog.findChild<QComboBox *>(QStringLiteral("comboBox_comList"));
        ports->insertItem(0, module.devicePath());
        ports->setCurrentIndex(0);
        dialog.findChild<QPushButton *>(QStringLiteral("pushButton_openCom"))->click();
        dialog.findChild<QTimer *>(QStringLiteral("readTimer"))->stop();
        port = dialog.findChild<QSerialPort *>(QStringLiteral("myCom"));
        QCoreApplication::processEvents();
        return port->isOpen();
    }

    void waitForBytes(qint64 count)
    {
        while (port->bytesAvailable() < count)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            50);
    }

    void invoke(const char *slot)
    {
        QMetaObject::invokeMethod(&dialog, slot, Qt::DirectConnection);
    }
};

inline double medianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

inline double residentMiB(const char *field = "VmRSS:")
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}
