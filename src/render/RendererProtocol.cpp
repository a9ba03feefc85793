#include "render/RendererProtocol.h"

#include "render/FamiliarsCall.h"
#include "render/ScriptCalls.h"

#include <QDateTime>

namespace bopling {

double RendererProtocol::wallClock()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

RendererProtocol::RendererProtocol(Evaluate evaluate, Clock clock, Settings &settings,
                                   PanelSize panelSize, FamiliarsCall *familiars)
    : evaluate(std::move(evaluate)), clock(clock ? std::move(clock) : Clock(&wallClock)),
      settings(settings), panelSize(std::move(panelSize)), familiars(familiars)
{}

void RendererProtocol::send(const QString &script)
{
    if (evaluate)
        evaluate(script);
}

void RendererProtocol::pageDidBecomeReady()
{
    if (familiars)
        familiars->forgetLastFamiliars();
    ready = true;
    pushConfig();
}

void RendererProtocol::pageDidCrash()
{
    ready = false;
}

void RendererProtocol::pushConfig()
{
    if (!ready)
        return;
    // The configuration reads the familiars setting before pushFamiliars prunes it.
    const QSizeF size = panelSize ? panelSize() : QSizeF();
    send(ScriptCalls::config(RendererConfig::from(settings, size)));
    if (familiars)
        familiars->pushFamiliars();
}

void RendererProtocol::resendFamiliars()
{
    if (familiars)
        familiars->forgetLastFamiliars();
    pushConfig();
}

void RendererProtocol::sendSilentTickOnce()
{
    if (lastSilentSent == true)
        return;
    send(ScriptCalls::silentTick());
    lastSilentSent = true;
}

void RendererProtocol::tick(const TakeSnapshot &takeSnapshot)
{
    if (!ready)
        return;
    if (settings.paused()) {
        sendSilentTickOnce();
        return;
    }
    if (!takeSnapshot)
        return;
    const Snapshot snapshot = takeSnapshot();
    latestSilentSeconds = snapshot.silentSeconds;
    if (snapshot.silent) {
        sendSilentTickOnce();
        return;
    }
    lastSilentSent = false;
    const double now = clock();
    const double elapsed = now - lastLevelsSent;
    // A wall clock set back (elapsed < 0) must not hold level-only ticks back until it has
    // caught up again.
    if (snapshot.events.isEmpty() && elapsed >= 0 && elapsed <= kLevelInterval)
        return;
    lastLevelsSent = now;
    send(ScriptCalls::tick(snapshot));
}

} // namespace bopling
