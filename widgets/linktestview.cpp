#include "widgets/linktestview.h"

#include "protocol/frame.h"
#include "widgets/linktestpanel.h"
#include "widgets/logview.h"

#include <QComboBox>
#include <QGridLayout>
#include <QScreen>
#include <QSpinBox>

#include <algorithm>

namespace {

constexpr int intervalStepMs = 500;

} // namespace

LinkTestView::LinkTestView(serial::ModuleLink *link, const Widgets &widgets, QWidget *window)
    : QObject(window), ui(widgets), window(window), engine(new serial::LinkTest(link, this))
{
    // A new interval takes effect at once, so the list never shows one that is not in use.
    connect(ui.interval, &QComboBox::currentIndexChanged, this,
            [this] { engine->setIntervalMs(intervalMs()); });
    connect(engine, &serial::LinkTest::sent, this,
            [this](qsizetype, serial::ModuleLink::RequestId id, const QByteArray &frame) {
                ui.sendLog->appendText(QStringLiteral("send->") + protocol::hexLine(frame));
                request = id;
                panel->recordSend(target);
            });
    connect(engine, &serial::LinkTest::answered, this,
            [this](qsizetype sequence, std::optional<int> status, double latencyMs) {
                panel->recordReply(sequence, status, latencyMs);
            });
    connect(engine, &serial::LinkTest::noReply, this, [this](qsizetype sequence) {
        panel->recordNoReply(sequence);
        emit unanswered(request);
    });
    connect(engine, &serial::LinkTest::late, this, [this] { panel->recordLate(); });
    connect(engine, &serial::LinkTest::skipped, this, [this] { panel->recordSkipped(); });
    connect(engine, &serial::LinkTest::finished, this, [this](serial::LinkTest::End end) {
        if (end != serial::LinkTest::End::Stopped)
            emit ended();
    });
}

void LinkTestView::start(Source source)
{
    // Made on the first run, so that a window that never repeats a send never builds it.
    if (!panel) {
        panel = new LinkTestPanel(ui.dataBox);
        panel->setObjectName(QStringLiteral("linkTestPanel"));
        ui.dataLayout->addWidget(panel, ui.dataLayout->rowCount(), 0, 1, 2);
    }
    panel->start();
    serial::LinkTest::Plan plan;
    plan.intervalMs = intervalMs();
    plan.replyWaitMs = ui.replyWait->value();
    plan.firstAtOnce = false; // the first send comes one interval after the switch
    engine->start(plan, [this, source = std::move(source)]() -> std::optional<QByteArray> {
        const std::optional<Send> send = source();
        if (!send)
            return std::nullopt;
        target = send->target;
        return send->frame;
    });
    makeRoom();
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
