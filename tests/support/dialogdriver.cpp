#include "dialogdriver.h"

#include "ptypair.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

namespace {

// The window records its link tests in the data folder: the tests' go to Qt's test folders.
const bool testFolders = (QStandardPaths::setTestModeEnabled(true), true);

} // namespace

void DialogDriver::click(const char *buttonName)
{
    widget<QAbstractButton>(buttonName)->click();
}

void DialogDriver::select(const char *comboName, int index)
{
    widget<QComboBox>(comboName)->setCurrentIndex(index);
}

void DialogDriver::setText(const char *lineEditName, const QString &text)
{
    widget<QLineEdit>(lineEditName)->setText(text);
}

QString DialogDriver::receiveText() const
{
    return widget<LogView>("ReceiveOutBrowser")->toPlainText();
}

QString DialogDriver::sendText() const
{
    return widget<LogView>("SendOutBrowser")->toPlainText();
}

void DialogDriver::openPort(const QString &device)
{
    auto *ports = widget<QComboBox>("comboBox_comList");
    ports->addItem(device);
    ports->setCurrentIndex(ports->count() - 1);
    click("pushButton_openCom");
}

bool DialogDriver::portShownOpen() const
{
    return widget<QPushButton>("pushButton_openCom")->text() == QStringLiteral("关闭串口");
}

void DialogDriver::receiveTick()
{
    invoke("readMyCom");
}

serial::ModuleLink *DialogDriver::link() const
{
    auto *link = d.findChild<serial::ModuleLink *>();
    if (!link)
        qFatal("no module link");
    return link;
}

void DialogDriver::invoke(const char *slot)
{
    if (!QMetaObject::invokeMethod(&d, slot, Qt::DirectConnection))
        qFatal("no slot %s", slot);
}

MessageBoxCatcher::MessageBoxCatcher(QMessageBox::StandardButton answer)
    : answer(answer), timer(new QTimer)
{
    QObject::connect(timer, &QTimer::timeout, [this] { poll(); });
    timer->start(10);
}

MessageBoxCatcher::~MessageBoxCatcher()
{
    delete timer;
}

void MessageBoxCatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box)
        return;
    ++shown;
    title = box->windowTitle();
    text = box->text();
    buttons.clear();
    for (const QAbstractButton *button : box->buttons())
        buttons << button->text();
    // A question's answer is the button clicked; any other box just closes.
    if (QAbstractButton *button = box->button(answer))
        button->click();
    else
        box->done(QMessageBox::Ok);
}

void OpenPortTest::openSession(Window window)
{
    pty = new PtyPair;
    QVERIFY(pty->isValid());
    dialog = new Dialog;
    ui = new DialogDriver(*dialog);
    if (window == Window::Shown) {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
    }
    ui->openPort(pty->slavePath());
    QVERIFY(ui->portShownOpen());
    ui->widget<QTimer>("readTimer")->stop();
}

void OpenPortTest::closeSession()
{
    delete ui;
    delete dialog;
    delete pty;
    ui = nullptr;
    dialog = nullptr;
    pty = nullptr;
}
