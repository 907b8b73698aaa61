#pragma once

#include "app/dialog.h"

#include "serial/modulelink.h"
#include "widgets/logview.h"
#include <QComboBox>
#include <QMessageBox>
#include <QString>

class PtyPair;

// The seven buttons that are enabled only while the port is open.
inline const char *const commandButtonNames[] = {
    "pushButton_writeCfg",       "pushButton_readCfg",     "pushButton_enterCfgMode",
    "pushButton_routeDiscovery", "pushButton_readVersion", "pushButton_resetModule",
    "pushButton_sendData"};

// Reaches the dialog's widgets by object name, as a user would find them on screen.
class DialogDriver
{
public:
    explicit DialogDriver(Dialog &dialog) : d(dialog) {}

    template <typename T> T *widget(const char *name) const
    {
        T *w = d.findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }

    void click(const char *buttonName);
    void select(const char *comboName, int index);
    void setText(const char *lineEditName, const QString &text);
    QString receiveText() const;
    QString sendText() const;
    // Adds the device to the port list, picks it and clicks open.
    void openPort(const QString &device);
    bool portShownOpen() const;
    // Runs one receive tick now instead of waiting for the timer.
    void receiveTick();
    // The window's link to the module, for waiting on what it has not settled yet.
    serial::ModuleLink *link() const;
    void invoke(const char *slot);

private:
    Dialog &d;
};

// The fixture of test classes whose every test starts with the port open on a fresh
// pseudo-terminal: the test plays the module on the master side and runs receive ticks by hand.
class OpenPortTest : public QObject
{
protected:
    enum class Window { Hidden, Shown };
    // Call from init(); records a test failure when no port could be opened.
    void openSession(Window window = Window::Hidden);
    // Call from cleanup().
    void closeSession();

    PtyPair *pty = nullptr;
    Dialog *dialog = nullptr;
    DialogDriver *ui = nullptr;
};

// Captures the next modal message box, closes it (a question: with `answer` when it offers it,
// else as "no") and remembers what it said. Arm it before the action that raises the box.
class MessageBoxCatcher
{
public:
    explicit MessageBoxCatcher(QMessageBox::StandardButton answer = QMessageBox::Ok);
    ~MessageBoxCatcher();
    int count() const { return shown; }
    QString title, text;
    QStringList buttons;

private:
    void poll();
    QMessageBox::StandardButton answer;
    int shown = 0;
    class QTimer *timer;
};
