#include "socket/Doziz.h"

#include "platform/Forms.h"

namespace doziz {

namespace {
constexpr const char* kTimerWindowClass = "TmrWindowClass";
}

TThreadTimer::TThreadTimer(TComponent* owner)
    : TComponent(owner)
{
    if (!platform::GetClassInfo(kTimerWindowClass))
        platform::RegisterClass(kTimerWindowClass, &TThreadTimer::TimerWindowProc);
    m_windowHandle = platform::CreateHiddenWindow(kTimerWindowClass);
    platform::SetWindowOwner(m_windowHandle, this);
}

TThreadTimer::~TThreadTimer()
{
    m_enabled = false;
    platform::KillTimer(m_windowHandle, platform::TIMER_ID);
    platform::DestroyWindow(m_windowHandle);
}

void TThreadTimer::SetEnabled(bool value)
{
    if (value == m_enabled)
        return;
    m_enabled = value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(std::uint32_t value)
{
    if (value == m_interval)
        return;
    m_interval = value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent value)
{
    m_onTimer = std::move(value);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer()
{
    platform::KillTimer(m_windowHandle, platform::TIMER_ID);
    if (m_interval != 0 && m_enabled && m_onTimer) {
        if (platform::SetTimer(m_windowHandle, platform::TIMER_ID, m_interval) == 0)
            throw platform::Exception("No Timer");
    }
}

void TThreadTimer::FireTimer()
{
    if (m_onTimer)
        m_onTimer(this);
}

platform::LRESULT TThreadTimer::TimerWindowProc(platform::HWND window, platform::UINT message,
                                                platform::WPARAM wParam, platform::LPARAM lParam)
{
    auto* timer = static_cast<TThreadTimer*>(platform::GetWindowOwner(window));
    if (!timer)
        return platform::DefWindowProc(window, message, wParam, lParam);
    switch (message) {
    case platform::WM_ACTIVATEAPP:
        return 0;
    case platform::WM_TIMER:
        try {
            timer->FireTimer();
        } catch (...) {
            platform::Application.HandleException(std::current_exception());
        }
        return 0;
    default:
        return platform::DefWindowProc(window, message, wParam, lParam);
    }
}

// Timer steps of the socket component.

void TVazadezuv::TimerOn()
{
    StatusMessage(8, "Timer On");
    TimedOut = false;
    Timer->SetInterval(static_cast<std::uint32_t>(TimeOut < 0 ? 0 : TimeOut));
    Timer->SetEnabled(true);
}

void TVazadezuv::TimerOff()
{
    StatusMessage(8, "Timer Off");
    Timer->SetEnabled(false);
}

void TVazadezuv::RestartTimer()
{
    StatusMessage(8, "Timer On");
    TimedOut = false;
    Timer->SetEnabled(false);
    Timer->SetInterval(static_cast<std::uint32_t>(TimeOut < 0 ? 0 : TimeOut));
    Timer->SetEnabled(true);
}

void TVazadezuv::TimerTriggered(TComponent*)
{
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    AsyncDone = true;
    Abort();
}

} // namespace doziz
