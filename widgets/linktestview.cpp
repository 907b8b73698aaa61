#include "widgets/linktestview.h"

#include "protocol/frame.h"
#include "protocol/linkstats.h"
#include "serial/replug.h"
#include "widgets/lastfolder.h"
#include "widgets/linktestpanel.h"
#include "widgets/logview.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>

#include <algorithm>
#include <utility>

namespace {

constexpr int intervalStepMs = 500;

} // namespace

LinkTestView::LinkTestView(serial::ModuleLink *link, const Widgets &widgets, QWidget *window)
    : QObject(window), ui(widgets), window(window), engine(new serial::LinkTest(link, this)),
      csv(new serial::LinkTestCsv(this))
{
    // The limits and the log switch, in the data length's row, which has room to spare (a row
    // of their own would squeeze the window's other boxes); read when a run starts.
    QWidget *column = ui.replyWait->parentWidget();
    countBox = new QSpinBox(column);
    countBox->setObjectName(QStringLiteral("spinBox_sendCount"));
    countBox->setRange(0, 1'000'000'000);
    countBox->setSpecialValueText(tr("不限次数"));
    countBox->setSuffix(tr(" 次"));
    countBox->setToolTip(tr("连续发送的次数，到达后停止；0：不限"));
    durationBox = new QSpinBox(column);
    durationBox->setObjectName(QStringLiteral("spinBox_sendDuration"));
    durationBox->setRange(0, 7 * 24 * 3600);
    durationBox->setSpecialValueText(tr("不限时长"));
    durationBox->setSuffix(tr(" 秒"));
    durationBox->setToolTip(tr("连续发送的时长，到达后停止；0：不限"));
    failuresOnly = new QCheckBox(tr("只记录异常"), column);
    failuresOnly->setObjectName(QStringLiteral("checkBox_logFailuresOnly"));
    failuresOnly->setToolTip(
        tr("连续发送时，成功（状态0）的发送和应答不写入收发框；统计仍计入每一次发送"));
    recordButton = new QPushButton(tr("记录到…"), column);
    recordButton->setObjectName(QStringLiteral("pushButton_recordTo"));
    recordButton->setAutoDefault(false); // Enter in a field must not open the file dialog
    connect(recordButton, &QPushButton::clicked, this, &LinkTestView::chooseRecordFile);
    for (QWidget *widget :
         {static_cast<QWidget *>(countBox), static_cast<QWidget *>(durationBox),
          static_cast<QWidget *>(failuresOnly), static_cast<QWidget *>(recordButton)})
        ui.limitsRow->addWidget(widget);
    QWidget::setTabOrder(ui.replyWait, countBox);
    QWidget::setTabOrder(countBox, durationBox);
    QWidget::setTabOrder(durationBox, failuresOnly);
    QWidget::setTabOrder(failuresOnly, recordButton);
    folder = QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                 .filePath(QStringLiteral("linktest"));
    recordButton->setToolTip(recordButtonTip()); // names the folder

    // A new interval takes effect at once, so the list never shows one that is not in use.
    connect(ui.interval, &QComboBox::currentIndexChanged, this,
            [this] { engine->setIntervalMs(intervalMs()); });
    connect(engine, &serial::LinkTest::sent, this,
            [this](qsizetype, serial::ModuleLink::RequestId id, const QByteArray &frame) {
                const QString line = QStringLiteral("send->") + protocol::hexLine(frame);
                if (hidesHealthySends()) {
                    pendingSendLine = line; // shown once its report says it failed
                    quietRequest = id;
                } else {
                    ui.sendLog->appendText(line);
                }
                request = id;
                panel->recordSend(target);
            });
    const auto showPendingSend = [this] {
        if (!pendingSendLine.isEmpty())
            ui.sendLog->appendText(std::exchange(pendingSendLine, {}));
    };
    connect(
        engine, &serial::LinkTest::answered, this,
        [this, showPendingSend](qsizetype sequence, std::optional<int> status, double latencyMs) {
            if (status == 0)
                pendingSendLine.clear();
            else
                showPendingSend();
            panel->recordReply(sequence, status, latencyMs);
        });
    connect(engine, &serial::LinkTest::noReply, this, [this, showPendingSend](qsizetype sequence) {
        showPendingSend();
        panel->recordNoReply(sequence);
        emit unanswered(request);
    });
    connect(engine, &serial::LinkTest::late, this, [this] { panel->recordLate(); });
    connect(engine, &serial::LinkTest::skipped, this, [this] { panel->recordSkipped(); });
    connect(engine, &serial::LinkTest::paused, this, [this] { panel->recordPause(); });
    connect(engine, &serial::LinkTest::gapClosed, this, [this](const serial::LinkTest::Gap &gap) {
        panel->recordGap(gap.lengthMs, gap.missed, gap.resumed);
    });
    connect(engine, &serial::LinkTest::finished, this, [this](serial::LinkTest::End end) {
        pendingSendLine.clear();
        showEnd(end);
        csv->close();
        if (end != serial::LinkTest::End::Stopped)
            emit ended();
    });
    csv->follow(engine, [this] { return target; });
    // Every 500 ms at the most: a sync per line (well under a millisecond) keeps the record
    // through a power cut as well.
    csv->setSyncEachLine(true);
    connect(csv, &serial::LinkTestCsv::failed, this, [this](const QString &reason) {
        panel->showRecord(
            tr("记录已停止（%1）：%2").arg(reason, QDir::toNativeSeparators(recordPath())));
    });
}

void LinkTestView::start(Source source)
{
    // Made on the first run, so that a window that never repeats a send never builds it.
    if (!panel) {
        panel = new LinkTestPanel(ui.dataBox);
        panel->setObjectName(QStringLiteral("linkTestPanel"));
        const int row = ui.dataLayout->rowCount();
        ui.dataLayout->addWidget(panel, row, 0, 1, 2);
        // The panel's row takes the box's added height, and the box a share of the window's:
        // the chart grows with the window, the log boxes do not take it all.
        ui.dataLayout->setRowStretch(row, 1);
        if (auto *main = qobject_cast<QBoxLayout *>(window->layout())) {
            const int at = main->indexOf(ui.dataBox);
            if (at >= 0)
                main->setStretch(at, 1);
        }
    }
    panel->start();
    pendingSendLine.clear();
    serial::LinkTest::Plan plan;
    plan.intervalMs = intervalMs();
    plan.replyWaitMs = ui.replyWait->value();
    plan.firstAtOnce = false; // the first send comes one interval after the switch
    plan.count = countBox->value();
    plan.durationMs = qint64(durationBox->value()) * 1000;
    // As long as the port's replug watch looks for the device, and a poll more.
    plan.reconnectWaitMs = serial::ReplugWatch::windowMs + 2 * serial::ReplugWatch::pollMs;
    startRecord();
    engine->start(plan, [this, source = std::move(source)]() -> std::optional<QByteArray> {
        const std::optional<Send> send = source();
        if (!send)
            return std::nullopt;
        target = send->target;
        return send->frame;
    });
    makeRoom();
}

QString LinkTestView::defaultRecordName()
{
    return QStringLiteral("linktest-%1.csv")
        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss")));
}

QString LinkTestView::recordButtonTip() const
{
    const QString tip = tr("选择下一次连续发送记录到的文件（重新写入）；之后的每一次在同一文件夹"
                           "新建文件。未选择时记录到：%1")
                            .arg(QDir::toNativeSeparators(folder));
    if (chosenPath.isEmpty())
        return tip;
    return tip + QLatin1Char('\n') +
           tr("下一次记录到：%1").arg(QDir::toNativeSeparators(chosenPath));
}

void LinkTestView::chooseRecordFile()
{
    // Offered as the run would name it, in the folder last chosen (or the one runs go to).
    const QString last = lastFolder(QStringLiteral("linktest-record"));
    if (last.isEmpty())
        QDir().mkpath(folder); // the dialog opens in it
    const QString path =
        askSavePath(window, tr("记录连续发送"), QStringLiteral("linktest-record"),
                    QDir(last.isEmpty() ? folder : last).filePath(defaultRecordName()),
                    tr("CSV 文件 (*.csv);;所有文件 (*)"), QStringLiteral("csv"));
    recordNextRunTo(path);
}

void LinkTestView::recordNextRunTo(const QString &path)
{
    if (path.isEmpty())
        return;
    chosenPath = withDefaultSuffix(path, QStringLiteral("csv"));
    // The runs after it stay beside it, each in a file of its own.
    folder = QFileInfo(chosenPath).absolutePath();
    recordButton->setToolTip(recordButtonTip());
}

void LinkTestView::startRecord()
{
    QString path = std::exchange(chosenPath, {});
    if (path.isEmpty()) {
        const QString name = defaultRecordName();
        path = QDir(folder).filePath(name);
        // Two runs in one second each keep their own file.
        for (int n = 2; QFile::exists(path); ++n)
            path = QDir(folder).filePath(name.chopped(4) + QStringLiteral("-%1.csv").arg(n));
    }
    recordButton->setToolTip(recordButtonTip());
    QString error;
    if (!QDir().mkpath(folder))
        error = tr("无法创建文件夹");
    else if (!csv->open(path))
        error = csv->errorString();
    if (!error.isEmpty()) {
        panel->showRecord(tr("无法记录（%1）：%2").arg(error, QDir::toNativeSeparators(path)));
        return;
    }
    if (csv->isRecording())
        panel->showRecord(tr("记录到：%1").arg(QDir::toNativeSeparators(path)));
}

QString LinkTestView::recordPath() const
{
    return csv->path();
}

void LinkTestView::setRecordFolder(const QString &newFolder)
{
    folder = newFolder;
    recordButton->setToolTip(recordButtonTip());
}

bool LinkTestView::isPaused() const
{
    return engine->isPaused();
}

bool LinkTestView::hidesReport(serial::ModuleLink::RequestId id, const QByteArray &frame) const
{
    // Asked after the engine settled the send, which may have ended the run.
    return id != 0 && id == quietRequest && protocol::dataSentStatus(frame) == 0;
}

bool LinkTestView::hidesHealthySends() const
{
    return failuresOnly->isChecked() && engine->isRunning();
}

void LinkTestView::showEnd(serial::LinkTest::End end)
{
    const QString at = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
    switch (end) {
    case serial::LinkTest::End::CountReached:
        panel->showStatus(
            tr("%1 已停止：达到发送次数 %2").arg(at).arg(engine->currentPlan().count));
        break;
    case serial::LinkTest::End::DurationReached:
        panel->showStatus(tr("%1 已停止：达到发送时长 %2 秒")
                              .arg(at)
                              .arg(engine->currentPlan().durationMs / 1000));
        break;
    case serial::LinkTest::End::Lost:
        panel->showStatus(tr("%1 已停止：串口断开，未能重新连接").arg(at));
        break;
    case serial::LinkTest::End::Stopped:
        panel->showStatus(tr("%1 已停止").arg(at));
        break;
    case serial::LinkTest::End::Refused:
        panel->showStatus(tr("%1 已停止：数据无法发送").arg(at));
        break;
    }
}

void LinkTestView::stop()
{
    engine->stop();
}

void LinkTestView::tick()
{
    engine->tick();
}

bool LinkTestView::isRunning() const
{
    return engine->isRunning();
}

int LinkTestView::intervalMs() const
{
    return (ui.interval->currentIndex() + 1) * intervalStepMs;
}

void LinkTestView::makeRoom()
{
    // Nothing else is squeezed for the panel.
    window->layout()->activate();
    const int wanted = window->layout()->sizeHint().height();
    const int height = window->height();
    if (height < wanted && !window->isMaximized() && !window->isFullScreen()) {
        const QScreen *shown = window->screen();
        const int room =
            shown ? shown->availableGeometry().height() - window->frameGeometry().height() + height
                  : wanted;
        window->resize(window->width(), std::min(wanted, std::max(height, room)));
    }
}
