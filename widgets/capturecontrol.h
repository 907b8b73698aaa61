#pragma once

#include <QObject>
#include <QString>

class QPushButton;
class QWidget;

namespace serial {
class Capture;
class ModuleLink;
} // namespace serial

// The window's capture button: asks for a file, records the port's link to it (through reopens
// and new line settings) and stops on a second press. While it records the button says so and
// names the file; a failed write stops it with a message, and the port and the logs go on.
class CaptureControl : public QObject
{
    Q_OBJECT

public:
    CaptureControl(serial::ModuleLink *link, QPushButton *button, QWidget *window);
    ~CaptureControl() override;

    bool isRecording() const;
    QString path() const;
    // Starts recording to `path` (no dialog); false, with a message, when it cannot be written.
    bool start(const QString &path);
    void stop();

signals:
    void recordingChanged(bool recording);

private:
    void toggle();
    void onFailed(const QString &reason);
    void show();

    serial::ModuleLink *link;
    QPushButton *button;
    QWidget *window;
    serial::Capture *capture = nullptr;
    QString recordingPath;
};
