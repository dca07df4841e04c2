// Posted messages, nested pumps, destroyed targets and timers.

#include "PlatformTestSupport.h"

#include "platform/Windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>

namespace {

using namespace platformtest;
using platform::PostMessage;
using platform::WM_TIMER;
using platform::WM_USER;

constexpr platform::UINT Note = WM_USER + 1;

class MessagePumpTest : public PumpFixture { };

TEST_F(MessagePumpTest, OrderHoldsAcrossANestedPump)
{
    Target target;
    const platform::HWND w = target.Window();
    ASSERT_NE(w, 0u);
    std::vector<std::pair<platform::WPARAM, int>> seen; // (message number, pump depth)
    int depth = 0;
    Hook() = [&](const Received& r) {
        seen.emplace_back(r.wParam, depth);
        if (r.wParam == 1) {
            // Posted by a handler: it goes after what already waits.
            PostMessage(w, Note, 4, 0);
            ++depth;
            platform::loop::ProcessMessages();
            --depth;
        }
    };
    for (platform::WPARAM i = 1; i <= 3; ++i)
        ASSERT_TRUE(PostMessage(w, Note, i, 0));

    ASSERT_TRUE(PumpUntil([&] { return seen.size() >= 4; }));
    PumpFor(50);
    const std::vector<std::pair<platform::WPARAM, int>> expected { { 1, 0 }, { 2, 1 }, { 3, 1 }, { 4, 1 } };
    EXPECT_EQ(seen, expected);
}

TEST_F(MessagePumpTest, MessagesForADestroyedTargetAreDropped)
{
    Target doomed;
    Target other;
    const platform::HWND gone = doomed.Window();
    const platform::HWND kept = other.Window();
    // Destroyed while its message waits behind the one being handled.
    Hook() = [&](const Received& r) {
        if (r.window == kept && r.wParam == 1)
            platform::DestroyWindow(gone);
    };
    PostMessage(kept, Note, 1, 0);
    PostMessage(gone, Note, 2, 0);
    PostMessage(kept, Note, 3, 0);

    ASSERT_TRUE(PumpUntil([&] { return MessagesTo(kept, Note).size() == 2; }));
    EXPECT_FALSE(platform::IsWindow(gone));
    // Posted after the end, too.
    PostMessage(gone, Note, 4, 0);
    PumpFor(100);
    EXPECT_TRUE(MessagesTo(gone, Note).empty());
    EXPECT_EQ(Log().size(), 2u);
}

TEST_F(MessagePumpTest, TimerTicksAfterEachIntervalUntilKilled)
{
    Target target;
    const platform::HWND w = target.Window();
    EXPECT_EQ(platform::SetTimer(w, platform::TIMER_ID, 0), 0u) << "interval 0 is a failure";
    EXPECT_EQ(platform::SetTimer(w + 1000, platform::TIMER_ID, 100), 0u) << "no such target";

    constexpr int interval = 100;
    std::vector<std::chrono::steady_clock::time_point> ticks;
    Hook() = [&](const Received& r) {
        if (r.message == WM_TIMER)
            ticks.push_back(std::chrono::steady_clock::now());
    };
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(platform::SetTimer(w, platform::TIMER_ID, interval), platform::TIMER_ID);
    ASSERT_TRUE(PumpUntil([&] { return ticks.size() >= 3; }, 5000));

    using std::chrono::milliseconds;
    EXPECT_GE(ticks[0] - start, milliseconds(interval - 1)) << "first tick before its interval";
    EXPECT_GE(ticks[2] - ticks[0], milliseconds(2 * interval - 20)) << "ticks come faster than the interval";
    for (const Received& r : MessagesTo(w, WM_TIMER))
        EXPECT_EQ(r.wParam, platform::TIMER_ID);

    ASSERT_TRUE(platform::KillTimer(w, platform::TIMER_ID));
    const std::size_t before = ticks.size();
    PumpFor(3 * interval);
    EXPECT_EQ(ticks.size(), before);
    EXPECT_FALSE(platform::KillTimer(w, platform::TIMER_ID));
}

TEST_F(MessagePumpTest, MissedIntervalsGiveOneTick)
{
    Target target;
    ASSERT_NE(platform::SetTimer(target.Window(), platform::TIMER_ID, 5), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(60)); // a busy handler, no pumping
    platform::loop::DispatchReady();
    EXPECT_EQ(MessagesTo(target.Window(), WM_TIMER).size(), 1u);
    platform::KillTimer(target.Window(), platform::TIMER_ID);
}

// A handler that stops a timer while its tick already waits in the queue
// must not see that tick afterwards. Without the KillTimer, the same set-up
// delivers the tick in the same pass, which shows the tick was queued.
TEST_F(MessagePumpTest, KillTimerWithdrawsAQueuedTick)
{
    for (bool kill : { false, true }) {
        SCOPED_TRACE(kill ? "killed by the handler before it" : "not killed");
        Log().clear();
        Target timed;
        Target busy;
        Hook() = [&](const Received& r) {
            if (kill && r.window == busy.Window())
                platform::KillTimer(timed.Window(), platform::TIMER_ID);
        };
        PostMessage(busy.Window(), Note, 1, 0);
        ASSERT_NE(platform::SetTimer(timed.Window(), platform::TIMER_ID, 10), 0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        platform::loop::DispatchReady(); // queues the tick behind the busy message
        EXPECT_EQ(MessagesTo(busy.Window(), Note).size(), 1u);
        EXPECT_EQ(MessagesTo(timed.Window(), WM_TIMER).size(), kill ? 0u : 1u);
        if (kill) {
            PumpFor(60);
            EXPECT_TRUE(MessagesTo(timed.Window(), WM_TIMER).empty());
        }
        Hook() = nullptr;
        platform::KillTimer(timed.Window(), platform::TIMER_ID);
    }
}

TEST_F(MessagePumpTest, IdlePumpWaitsWithoutSpinning)
{
    Target target; // a target with nothing to say
    ExpectIdlePassesBlock();
}

}
