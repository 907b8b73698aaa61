#include "serial/openfailure.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace serial {

namespace {

struct FailureText
{
    Q_DECLARE_TR_FUNCTIONS(Dialog)
};

} // namespace

OpenFailure probeOpenFailure(const QSerialPort &port)
{
    OpenFailure failure;
    failure.error = port.error();
    failure.systemText = port.errorString();
#ifdef Q_OS_UNIX
    // A bare name is a device in /dev, as the port itself reads it.
    const QString name = port.portName();
    const QString path =
        name.startsWith(QLatin1Char('/')) || name.isEmpty() ? name : QStringLiteral("/dev/") + name;
    if (!path.isEmpty()) {
        // The port's error lumps "no permission" together with "in use"; the file tells them
        // apart.
        const QByteArray native = QFile::encodeName(path);
        failure.accessError = ::access(native.constData(), R_OK | W_OK) == 0 ? 0 : errno;
        failure.deviceGroup = QFileInfo(path).group();
    }
#endif
    return failure;
}

QString openFailureReason(const OpenFailure &failure)
{
    const QString system =
        failure.systemText.isEmpty() ? FailureText::tr("未知错误") : failure.systemText;
    if (failure.error == QSerialPort::DeviceNotFoundError || failure.accessError == ENOENT)
        return FailureText::tr("原因：设备不存在（%1）。").arg(system);
    if (failure.accessError == EACCES || failure.accessError == EPERM) {
#ifdef Q_OS_LINUX
        // Serial devices belong to a group (dialout on Debian and Ubuntu); membership is read
        // at login.
        const QString group =
            failure.deviceGroup.isEmpty() || failure.deviceGroup == QLatin1String("root")
                ? QStringLiteral("dialout")
                : failure.deviceGroup;
        return FailureText::tr("原因：没有访问该设备的权限（%1）。请把当前用户加入 %2 组"
                               "（sudo usermod -aG %2 $USER），然后重新登录。")
            .arg(system, group);
#else
        return FailureText::tr("原因：没有访问该设备的权限（%1）。").arg(system);
#endif
    }
    if (failure.error == QSerialPort::PermissionError)
        return FailureText::tr("原因：设备正被其他程序使用（%1）。").arg(system);
    return FailureText::tr("原因：%1").arg(system);
}

} // namespace serial
