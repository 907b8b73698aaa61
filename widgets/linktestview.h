#pragma once

#include "serial/linktest.h"
#include "serial/linktestcsv.h"
#include "serial/modulelink.h"

#include <QByteArray>
#include <QObject>

#include <functional>
#include <optional>

class LinkTestPanel;
class LogView;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QPushButton;
class QSpinBox;
class QWidget;

// Repeated sending as the window shows it: runs on serial::LinkTest at the interval and reply
// wait of their widgets, echoes each send in the send box and feeds the link-test panel, which it
// makes when the first run starts and keeps after a run until the next one or its clear button.
class LinkTestView : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        QWidget *dataBox;        // the panel's parent
        QGridLayout *dataLayout; // the panel takes a row of its own at its end
        QComboBox *interval;     // 500 ms steps from 500 ms
        QSpinBox *replyWait;     // ms
        LogView *sendLog;        // "send->" and each frame sent
        QBoxLayout *limitsRow;   // the limits and the log switch go in at its end
    };
    // One send's frame and the address it goes to.
    struct Send
    {
        QByteArray frame;
        quint16 target = 0;
    };
    // Built as each send goes out (the window reads its widgets then); nothing ends the run.
    using Source = std::function<std::optional<Send>()>;

    // `window` grows for the panel.
    LinkTestView(serial::ModuleLink *link, const Widgets &widgets, QWidget *window);

    // The panel's new run, the first send one interval after.
    void start(Source source);
    // No new send; the run ends once the send in flight is settled.
    void stop();
    // A tick now, as the interval gives them.
    void tick();
    bool isRunning() const;
    // The run waits for its lost port.
    bool isPaused() const;
    // "Log failures only" is on and a run goes: sends answered with status 0 stay out of the
    // log boxes (the panel counts them all).
    bool hidesHealthySends() const;
    // The reply is the healthy report to one of the run's sends made while they were hidden.
    bool hidesReport(serial::ModuleLink::RequestId id, const QByteArray &frame) const;
    // Where runs are recorded: a new file in this folder for each run. By default a folder
    // "linktest" in the application's data folder.
    void setRecordFolder(const QString &folder);
    QString recordFolder() const { return folder; }
    // The file the current (or last) run is recorded in.
    QString recordPath() const;
    // The next run is recorded in `path`, written afresh; the runs after it in new files in its
    // folder. An empty path changes nothing.
    void recordNextRunTo(const QString &path);
    // The file the next run goes to when one was chosen, else empty.
    QString chosenRecordPath() const { return chosenPath; }

public slots:
    // Asks the user for the next run's file ("记录到…").
    void chooseRecordFile();

signals:
    // A send had no report by its reply wait (its late report may still come).
    void unanswered(serial::ModuleLink::RequestId id);
    // The run ended by itself: its port went, or the source had no frame.
    void ended();

private:
    int intervalMs() const;
    // The window grows by what the panel needs, as far as the screen allows.
    void makeRoom();
    // Opens the run's record and says in the panel where it goes.
    void startRecord();
    // A run's file name in the record folder: linktest-DATE-TIME.csv.
    static QString defaultRecordName();
    QString recordButtonTip() const;
    // The panel's line on how the run ended.
    void showEnd(serial::LinkTest::End end);

    Widgets ui;
    QWidget *window;
    serial::LinkTest *engine;
    serial::LinkTestCsv *csv;
    LinkTestPanel *panel = nullptr;
    QSpinBox *countBox;
    QSpinBox *durationBox;
    QCheckBox *failuresOnly;
    QPushButton *recordButton;
    QString folder;
    QString chosenPath;      // for the next run, then cleared
    QString pendingSendLine; // a send's line while its report may still hide it
    serial::ModuleLink::RequestId quietRequest = 0; // the last send made while hidden
    bool recordOpened = false;
    quint16 target = 0;                        // of the send being built
    serial::ModuleLink::RequestId request = 0; // of the send in flight
};
