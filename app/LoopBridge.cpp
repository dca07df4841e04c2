#include "app/LoopBridge.h"

#include "platform/EventLoop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>

namespace app {

namespace {

// The platform's pump calls this on every pass: run what Qt has waiting and,
// when the pump has nothing to do for up to `maxWaitMs`, sleep inside Qt until
// a Qt event, the platform's descriptor (watched by the bridge's notifier) or
// that bound wakes it.
void PumpQt(int maxWaitMs)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (maxWaitMs <= 0)
        return;
    QTimer bound;
    bound.setSingleShot(true);
    bound.start(maxWaitMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace

LoopBridge::LoopBridge(QObject* parent)
    : QObject(parent)
    , m_notifier(platform::loop::PollFd(), QSocketNotifier::Read)
{
    m_timer.setSingleShot(true);
    connect(&m_notifier, &QSocketNotifier::activated, this, &LoopBridge::DispatchPlatform);
    connect(&m_timer, &QTimer::timeout, this, &LoopBridge::DispatchPlatform);
    // A handler may start a platform timer without any message moving; arming
    // before Qt blocks keeps that timer on time as well.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &LoopBridge::ArmTimer);
    platform::loop::SetForeignPump(PumpQt);
    // Whatever was posted before the bridge existed.
    QTimer::singleShot(0, this, &LoopBridge::DispatchPlatform);
}

LoopBridge::~LoopBridge()
{
    platform::loop::SetForeignPump({});
}

void LoopBridge::DispatchPlatform()
{
    // A pump that is running below this slot (an operation waiting) must look
    // at its conditions again before it blocks.
    if (platform::loop::DispatchReady())
        platform::loop::NoteProgress();
    ArmTimer();
}

void LoopBridge::ArmTimer()
{
    const int ms = platform::loop::MillisecondsToNextTimer();
    if (ms < 0) {
        m_timer.stop();
        return;
    }
    // Restarting an armed timer with the same remaining time is needless work
    // on every pass of Qt's loop.
    if (m_timer.isActive() && m_timer.remainingTime() <= ms)
        return;
    m_timer.start(ms);
}

} // namespace app
