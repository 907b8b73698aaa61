#pragma once

#include "app/dialog.h"
#include "virtualmodule.h"

#include <QByteArray>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <vector>

// The window's own calls for opening a port and repeated sending; a revision from before them
// (BASE=) is driven through its form's widgets by name instead.
template <typename D>
auto openPortOn(D &dialog, const QString &path, int) -> decltype(dialog.openPort(path))
{
    return dialog.openPort(path);
}
template <typename D> bool openPortOn(D &dialog, const QString &path, long)
{
    auto *ports = dialog.template findChild<QComboBox *>(QStringLiteral("comboBox_comList"));
    ports->insertItem(0, path);
    ports->setCurrentIndex(0);
    dialog.template findChild<QPushButton *>(QStringLiteral("pushButton_openCom"))->click();
    return true;
}
inline bool openPortOn(Dialog &dialog, const QString &path)
{
    return openPortOn(dialog, path, 0);
}

template <typename D>
auto setDataSendOn(D &dialog, const QString &target, const QString &data, int)
    -> decltype(dialog.setDataSend(target, data))
{
    dialog.setDataSend(target, data);
}
template <typename D>
void setDataSendOn(D &dialog, const QString &target, const QString &data, long)
{
    dialog.template findChild<QLineEdit *>(QStringLiteral("lineEdit_dataDstAddr"))->setText(target);
    dialog.template findChild<QTextEdit *>(QStringLiteral("textEdit_sendData"))->setPlainText(data);
}
inline void setDataSendOn(Dialog &dialog, const QString &target, const QString &data)
{
    setDataSendOn(dialog, target, data, 0);
}

template <typename D>
auto setRepeatedSendingOn(D &dialog, bool on, int) -> decltype(dialog.setRepeatedSending(on))
{
    dialog.setRepeatedSending(on);
}
template <typename D> void setRepeatedSendingOn(D &dialog, bool on, long)
{
    dialog.template findChild<QCheckBox *>(QStringLiteral("checkBox_continueSend"))->setChecked(on);
}
inline void setRepeatedSendingOn(Dialog &dialog, bool on)
{
    setRepeatedSendingOn(dialog, on, 0);
}

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
        openPortOn(dialog, module.devicePath());
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
