#include "socket/Doziz.h"

#include "platform/Forms.h"

#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace doziz;
using sockettest::PumpUntil;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Opens the component's timer steps to the test.
struct TimedSocket : TVazadezuv {
    TimedSocket()
        : TVazadezuv(nullptr)
    {
    }
    using TVazadezuv::TimerOff;
    using TVazadezuv::TimerOn;
    int aborts = 0;
    void Abort() override
    {
        ++aborts;
        TVazadezuv::Abort();
    }
};

} // namespace

TEST(ThreadTimer, TicksWhileEnabledAndStopsWithIntervalZero)
{
    TThreadTimer timer(nullptr);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    int ticks = 0;
    timer.SetInterval(20);
    timer.SetOnTimer([&](platform::TComponent* sender) {
        EXPECT_EQ(sender, &timer);
        ++ticks;
    });
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 2000));
    timer.SetInterval(0);
    const int stopped = ticks;
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(ticks, stopped);
}

TEST(ThreadTimer, SettersActOnlyOnAChangeButOnTimerRestarts)
{
    TThreadTimer timer(nullptr);
    int ticks = 0;
    timer.SetInterval(300);
    const auto start = Clock::now();
    timer.SetOnTimer([&](platform::TComponent*) { ++ticks; });
    // Setting the same values again does not restart the countdown.
    PumpUntil([] { return false; }, 150);
    timer.SetInterval(300);
    timer.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 1; }, 2000));
    EXPECT_LT(MsSince(start), 420);

    // Assigning OnTimer restarts it.
    ticks = 0;
    PumpUntil([] { return false; }, 150);
    const auto restart = Clock::now();
    timer.SetOnTimer([&](platform::TComponent*) { ++ticks; });
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 1; }, 2000));
    EXPECT_GE(MsSince(restart), 280);
}

TEST(ThreadTimer, ARaisingHandlerIsReportedAndTheTimerGoesOn)
{
    int reported = 0;
    platform::Application.OnException = [&](std::exception_ptr) { ++reported; };
    {
        TThreadTimer timer(nullptr);
        int ticks = 0;
        timer.SetInterval(20);
        timer.SetOnTimer([&](platform::TComponent*) {
            ++ticks;
            throw platform::Exception("tick failed");
        });
        EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 2000));
    }
    platform::Application.OnException = nullptr;
    EXPECT_GE(reported, 3);
}

TEST(SocketTimer, TimeOutZeroNeverFires)
{
    TimedSocket sock;
    sock.TimeOut = 0;
    sock.TimerOn();
    PumpUntil([] { return false; }, 200);
    EXPECT_FALSE(sock.TimedOut);
    EXPECT_EQ(sock.aborts, 0);
}

TEST(SocketTimer, FiresOnceTimeOutAfterTheFirstTimerOn)
{
    TimedSocket sock;
    sock.TimeOut = 400;
    sock.ReportLevel = 8;
    int triggered = 0;
    sock.OnStatus = [&](platform::TComponent*, const std::string& s) {
        if (s == "Timer Triggered")
            ++triggered;
    };
    const auto start = Clock::now();
    sock.TimerOn();
    PumpUntil([] { return false; }, 200);
    sock.TimerOn(); // same interval: the countdown runs on from the first call
    ASSERT_TRUE(PumpUntil([&] { return sock.TimedOut; }, 3000));
    const auto ms = MsSince(start);
    EXPECT_GE(ms, 380);
    EXPECT_LT(ms, 550);
    EXPECT_TRUE(sock.AsyncDone);
    EXPECT_TRUE(sock.Canceled);
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(sock.aborts, 1);
    EXPECT_EQ(triggered, 1);
}

TEST(SocketTimer, TimerOffWithdrawsAPendingTick)
{
    TimedSocket sock;
    sock.TimeOut = 30;
    sock.TimerOn();
    ::usleep(80000); // the tick is due, but nothing dispatched it yet
    sock.TimerOff();
    PumpUntil([] { return false; }, 100);
    EXPECT_FALSE(sock.TimedOut);
    EXPECT_EQ(sock.aborts, 0);
}
