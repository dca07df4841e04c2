#pragma once

// A message target that records what it receives, and bounded pump loops,
// for the platform layer's own tests.

#include "platform/EventLoop.h"
#include "platform/Windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <vector>

namespace platformtest {

struct Received {
    platform::HWND window;
    platform::UINT message;
    platform::WPARAM wParam;
    platform::LPARAM lParam;
};

// Every message the recording targets receive, in order, and an optional
// hook run inside the window procedure after recording.
inline std::vector<Received>& Log()
{
    static std::vector<Received> log;
    return log;
}
inline std::function<void(const Received&)>& Hook()
{
    static std::function<void(const Received&)> hook;
    return hook;
}

inline platform::LRESULT RecordingProc(platform::HWND w, platform::UINT m, platform::WPARAM wp, platform::LPARAM lp)
{
    Log().push_back({ w, m, wp, lp });
    if (Hook())
        Hook()(Log().back());
    return 0;
}

// A recording target, destroyed with the object (if still alive).
class Target {
public:
    Target()
    {
        if (!platform::GetClassInfo("PlatformTestTarget"))
            platform::RegisterClass("PlatformTestTarget", RecordingProc);
        m_window = platform::CreateHiddenWindow("PlatformTestTarget");
    }
    ~Target()
    {
        if (platform::IsWindow(m_window))
            platform::DestroyWindow(m_window);
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    platform::HWND Window() const { return m_window; }

private:
    platform::HWND m_window = 0;
};

// Starts each test with an empty log and no hook.
class PumpFixture : public testing::Test {
protected:
    void SetUp() override
    {
        Log().clear();
        Hook() = nullptr;
    }
    void TearDown() override { Hook() = nullptr; }

    // Pumps until `done()` holds; false after `timeoutMs` or 2000 passes.
    static bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (int pass = 0; pass < 2000; ++pass) {
            if (done())
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            platform::loop::ProcessMessages();
        }
        return done();
    }

    // Pumps for about `ms` milliseconds (at most 1000 passes).
    static void PumpFor(int ms)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (int pass = 0; pass < 1000 && std::chrono::steady_clock::now() < deadline; ++pass)
            platform::loop::ProcessMessages();
    }

    static std::vector<Received> MessagesTo(platform::HWND window, platform::UINT message)
    {
        std::vector<Received> out;
        for (const Received& r : Log())
            if (r.window == window && r.message == message)
                out.push_back(r);
        return out;
    }
};

// Wall and thread CPU time of `passes` calls of ProcessMessages.
struct IdleCost {
    double wallMs;
    double cpuMs;
};

inline double ThreadCpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

inline IdleCost MeasureIdlePasses(int passes)
{
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = ThreadCpuMs();
    for (int i = 0; i < passes; ++i)
        platform::loop::ProcessMessages();
    return { std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count(),
             ThreadCpuMs() - cpuStart };
}

// A pump with nothing to do waits about one idle slice per pass and spends
// almost no CPU doing so. Generous bounds: a spinning pump fails both by far.
inline void ExpectIdlePassesBlock()
{
    constexpr int passes = 10;
    const IdleCost cost = MeasureIdlePasses(passes);
    EXPECT_GE(cost.wallMs, passes * platform::loop::kIdleSliceMs / 2.0) << "the pump returned without waiting";
    EXPECT_LT(cost.cpuMs, cost.wallMs / 4) << "the pump spent CPU while idle (wall " << cost.wallMs << " ms)";
}

}
