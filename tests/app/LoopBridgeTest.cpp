// One event loop: platform timers and messages run inside Qt's loops (idle,
// and a modal message box's), and Qt's events run inside the platform's pump.

#include "app/MessageBox.h"
#include "platform/EventLoop.h"
#include "platform/Forms.h"
#include "platform/Windows.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <functional>
#include <thread>

namespace {

using platform::HWND;

constexpr platform::UINT kPoke = platform::WM_USER + 7;

// What the test window does with its messages.
std::function<void(platform::UINT)>& OnMessage()
{
    static std::function<void(platform::UINT)> handler;
    return handler;
}

platform::LRESULT TestWindowProc(HWND window, platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    if (message == platform::WM_TIMER || message == kPoke) {
        if (OnMessage())
            OnMessage()(message);
        return 0;
    }
    return platform::DefWindowProc(window, message, wParam, lParam);
}

struct OneLoop : testing::Test {
    void SetUp() override
    {
        platform::RegisterClass("TaviroLoopBridgeTest", TestWindowProc);
        window = platform::CreateHiddenWindow("TaviroLoopBridgeTest");
        ASSERT_NE(window, 0u);
    }
    void TearDown() override
    {
        platform::DestroyWindow(window);
        OnMessage() = nullptr;
    }

    // Runs a Qt loop until `loop.exit(0)`; a guard ends it with 1 after 5 s.
    int RunQtLoop(QEventLoop& loop)
    {
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(1); });
        return loop.exec();
    }

    HWND window = 0;
};

TEST_F(OneLoop, PlatformTimerFiresWhileQtWaits)
{
    QEventLoop loop;
    int ticks = 0;
    OnMessage() = [&](platform::UINT message) {
        if (message == platform::WM_TIMER && ++ticks == 3) {
            platform::KillTimer(window, platform::TIMER_ID);
            loop.exit(0);
        }
    };
    // Started with Qt about to idle, with no message moving.
    QTimer::singleShot(0, [&] { platform::SetTimer(window, platform::TIMER_ID, 20); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunQtLoop(loop), 0);
    EXPECT_EQ(ticks, 3);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));
}

TEST_F(OneLoop, MessagePostedByAnotherThreadWakesQt)
{
    QEventLoop loop;
    OnMessage() = [&](platform::UINT message) {
        if (message == kPoke)
            loop.exit(0);
    };
    std::thread poster([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        platform::PostMessage(window, kPoke, 0, 0);
    });
    EXPECT_EQ(RunQtLoop(loop), 0);
    poster.join();
}

TEST_F(OneLoop, TimersAndPostedMessagesRunWhileAMessageBoxIsOpen)
{
    // The real box this time, not a test hook.
    const auto hook = app::SetMessageBoxHook({});
    std::string title, text;
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::Warning;
    bool posted = false;
    OnMessage() = [&](platform::UINT message) {
        if (message == kPoke) {
            posted = true;
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !posted)
            return; // not open yet, or the other thread's message is still to come
        platform::KillTimer(window, platform::TIMER_ID);
        title = box->windowTitle().toStdString();
        text = box->text().toStdString();
        icon = box->icon();
        for (QAbstractButton* button : box->buttons())
            buttons << button->text();
        box->buttons().front()->click();
    };
    platform::SetTimer(window, platform::TIMER_ID, 30);
    std::thread poster([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        platform::PostMessage(window, kPoke, 0, 0);
    });
    // If the platform's timer never ran inside the box, this closes it.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    guard.start(5000);

    app::ShowMessageBox("连接失败！");

    poster.join();
    app::SetMessageBoxHook(hook);
    EXPECT_TRUE(guard.isActive()) << "the box was closed by the guard, not by the platform's timer";
    EXPECT_TRUE(posted);
    EXPECT_EQ(text, "连接失败！");
    EXPECT_EQ(title, platform::Application.Title);
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, QStringList { QStringLiteral("确定") });
}

TEST_F(OneLoop, QtEventsRunInsideThePlatformPump)
{
    bool ran = false;
    QTimer::singleShot(20, [&] { ran = true; });
    // As a blocking operation waits: pump until done, bounded.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int passes = 0;
    while (!ran && std::chrono::steady_clock::now() < deadline && passes < 10000) {
        platform::Application.ProcessMessages();
        ++passes;
    }
    EXPECT_TRUE(ran);
    // The pump blocked inside Qt instead of spinning.
    EXPECT_LT(passes, 50);
}

} // namespace
