#include "serial/openfailure.h"

#include "serial/portnames.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace serial {

namespace {

struct FailureText
{
    Q_DECLARE_TR_FUNCTIONS(SerialText)
};

#ifdef Q_OS_UNIX
#ifdef O_PATH
constexpr int lookUpOnly = O_PATH;
#else
constexpr int lookUpOnly = O_RDONLY;
#endif

// errno of a read-write access check on the path. A path longer than the system takes in one
// call is looked up one name at a time, so that it is still told apart: missing, or there.
int accessError(const QByteArray &path)
{
    if (::access(path.constData(), R_OK | W_OK) == 0)
        return 0;
    if (errno != ENAMETOOLONG)
        return errno;
    QList<QByteArray> names = path.split('/');
    names.removeAll(QByteArray());
    int dir = ::open(path.startsWith('/') ? "/" : ".", lookUpOnly | O_DIRECTORY | O_CLOEXEC);
    int result = dir < 0 ? errno : 0;
    for (qsizetype i = 0; dir >= 0 && i < names.size(); ++i) {
        if (i + 1 == names.size()) {
            result = ::faccessat(dir, names[i].constData(), R_OK | W_OK, 0) == 0 ? 0 : errno;
            break;
        }
        const int next = ::openat(dir, names[i].constData(), lookUpOnly | O_DIRECTORY | O_CLOEXEC);
        if (next < 0) {
            result = errno;
            break;
        }
        ::close(dir);
        dir = next;
    }
    if (dir >= 0)
        ::close(dir);
    // No file has a name longer than the system allows: such a path names nothing.
    return result == ENAMETOOLONG ? ENOENT : result;
}

// EMFILE or ENFILE when no descriptor can be opened now, else 0: the port's lock file and the
// device both need one, and the port reports their lack as a permission error.
int descriptorShortage()
{
    const int fd = ::open("/", lookUpOnly | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return 0;
    }
    return errno == EMFILE || errno == ENFILE ? errno : 0;
}
#endif

} // namespace

OpenFailure probeOpenFailure(const QSerialPort &port)
{
    OpenFailure failure;
    failure.error = port.error();
    failure.systemText = port.errorString();
    const QString name = port.portName();
    if (name.isEmpty()) {
        failure.noPortChosen = true;
        return failure;
    }
#ifdef Q_OS_UNIX
    // The port's error lumps "no permission", "in use" and "cannot lock" together; the file
    // tells them apart.
    const QString path = systemLocation(name);
    failure.accessError = accessError(QFile::encodeName(path));
    if (failure.accessError == 0 && tooLongToLock(name))
        failure.accessError = ENAMETOOLONG;
    if (failure.accessError == EMFILE || failure.accessError == ENFILE)
        failure.descriptorError = std::exchange(failure.accessError, 0);
    else if (failure.accessError == 0)
        failure.descriptorError = descriptorShortage();
    if (const int error = failure.accessError ? failure.accessError : failure.descriptorError)
        failure.systemText = QString::fromLocal8Bit(std::strerror(error));
    failure.deviceGroup = QFileInfo(path).group();
#endif
    return failure;
}

bool portInUse(const OpenFailure &failure)
{
    return !failure.noPortChosen && failure.error == QSerialPort::PermissionError &&
           failure.accessError == 0 && failure.descriptorError == 0;
}

QString openFailureReason(const OpenFailure &failure)
{
    if (failure.noPortChosen)
        return FailureText::tr("原因：未选择串口。");
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
    if (portInUse(failure))
        return FailureText::tr("原因：设备正被其他程序使用（%1）。").arg(system);
    return FailureText::tr("原因：%1").arg(system);
}

} // namespace serial
