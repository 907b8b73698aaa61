#include "widgets/capturecontrol.h"

#include "serial/capture.h"
#include "widgets/lastfolder.h"

#include <QDate>
#include <QMessageBox>
#include <QPushButton>

CaptureControl::CaptureControl(serial::ModuleLink *link, QPushButton *button, QWidget *window)
    : QObject(window), link(link), button(button), window(window)
{
    connect(button, &QPushButton::clicked, this, &CaptureControl::toggle);
    show();
}

CaptureControl::~CaptureControl() = default;

bool CaptureControl::isRecording() const
{
    return capture && capture->isRecording();
}

QString CaptureControl::path() const
{
    return isRecording() ? recordingPath : QString();
}

void CaptureControl::toggle()
{
    if (isRecording()) {
        stop();
        return;
    }
    const QString chosen =
        askSavePath(window, tr("抓包"), QStringLiteral("captures"),
                    suggestedFileName(QStringLiteral("capture"), {}, QDate::currentDate(),
                                      QStringLiteral("pcapng")),
                    tr("pcapng 抓包文件 (*.pcapng);;所有文件 (*)"), QStringLiteral("pcapng"));
    if (!chosen.isEmpty())
        start(chosen);
}

bool CaptureControl::start(const QString &path)
{
    stop();
    recordingPath = path;
    capture = new serial::Capture(this);
    connect(capture, &serial::Capture::failed, this, &CaptureControl::onFailed);
    if (!capture->open(path)) {
        const QString reason = capture->errorString();
        delete capture;
        capture = nullptr;
        onFailed(reason);
        return false;
    }
    if (!capture->isRecording()) // the first write failed: already reported
        return false;
    capture->attach(link);
    show();
    emit recordingChanged(true);
    return true;
}

void CaptureControl::stop()
{
    if (!capture)
        return;
    const bool was = capture->isRecording();
    delete capture; // closes the file
    capture = nullptr;
    show();
    if (was)
        emit recordingChanged(false);
}

void CaptureControl::onFailed(const QString &reason)
{
    // The file is closed later, not inside the write that failed.
    QMetaObject::invokeMethod(this, &CaptureControl::stop, Qt::QueuedConnection);
    show();
    emit recordingChanged(false);
    auto *box =
        new QMessageBox(QMessageBox::Warning, tr("抓包已停止"),
                        tr("抓包文件 %1 无法写入，抓包已停止：%2").arg(recordingPath, reason),
                        QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("captureStoppedBox"));
    box->open(); // the window's port and logs go on meanwhile
}

void CaptureControl::show()
{
    if (isRecording()) {
        button->setText(tr("停止抓包"));
        button->setToolTip(tr("正在抓包到 %1").arg(capture->path()));
    } else {
        button->setText(tr("抓包…"));
        button->setToolTip(tr("把收发的帧记录到 pcapng 文件（可用 Wireshark 打开）"));
    }
}
