#include "platform/Windows.h"

#include "platform/EventLoopState.h"

#include <algorithm>
#include <thread>

namespace platform {

using detail::Loop;

bool GetClassInfo(const std::string& className)
{
    return Loop::Instance().classes.count(className) != 0;
}

bool RegisterClass(const std::string& className, WNDPROC windowProc)
{
    auto& loop = Loop::Instance();
    if (className.empty() || !windowProc || loop.classes.count(className))
        return false;
    loop.classes.emplace(className, windowProc);
    return true;
}

HWND CreateHiddenWindow(const std::string& className)
{
    auto& loop = Loop::Instance();
    auto it = loop.classes.find(className);
    if (it == loop.classes.end())
        return 0;
    HWND id = loop.nextWindow++;
    if (loop.nextWindow == 0)
        loop.nextWindow = 1;
    loop.windows[id] = detail::Window { className, it->second, nullptr };
    return id;
}

bool DestroyWindow(HWND window)
{
    auto& loop = Loop::Instance();
    if (!loop.windows.erase(window))
        return false;
    auto& timers = loop.timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [window](const detail::Timer& t) { return t.window == window; }),
                 timers.end());
    loop.PurgeMessages([window](const detail::Message& m) { return m.window == window; });
    return true;
}

bool IsWindow(HWND window)
{
    return Loop::Instance().windows.count(window) != 0;
}

void SetWindowOwner(HWND window, void* owner)
{
    auto& windows = Loop::Instance().windows;
    auto it = windows.find(window);
    if (it != windows.end())
        it->second.owner = owner;
}

void* GetWindowOwner(HWND window)
{
    auto& windows = Loop::Instance().windows;
    auto it = windows.find(window);
    return it == windows.end() ? nullptr : it->second.owner;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Loop::Instance().Post(detail::Message { window, message, wParam, lParam, nullptr, false });
}

std::uintptr_t SetTimer(HWND window, std::uintptr_t id, UINT milliseconds)
{
    auto& loop = Loop::Instance();
    if (!loop.windows.count(window) || milliseconds == 0)
        return 0;
    KillTimer(window, id);
    loop.timers.push_back(detail::Timer { window, id, milliseconds,
                                          detail::Clock::now() + std::chrono::milliseconds(milliseconds), false });
    return id;
}

bool KillTimer(HWND window, std::uintptr_t id)
{
    auto& loop = Loop::Instance();
    auto& timers = loop.timers;
    const auto before = timers.size();
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const detail::Timer& t) { return t.window == window && t.id == id; }),
                 timers.end());
    if (timers.size() == before)
        return false;
    // A tick already queued must not arrive after the timer was stopped.
    loop.PurgeMessages([&](const detail::Message& m) {
        return m.window == window && m.message == WM_TIMER && m.wParam == id;
    });
    return true;
}

void Sleep(UINT milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace platform
