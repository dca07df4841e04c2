#pragma once

// Shared pieces of the FTP component's tests: an event log that records every
// event and status text in order, the outcome of a call as "type: message",
// a standard login script, and a watchdog that frees a client stuck waiting
// for a reply a broken script never sends.

#include "ftp/KivFtp.h"
#include "platform/Messages.h"
#include "platform/Windows.h"
#include "support/FtpTestKit.h"
#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ftptest {

using kivftp::FTPException;
using kivftp::TCmdType;
using kivftp::TKivFTP;
using testsupport::ScriptedPeer;

using testsupport::Code;
using testsupport::LoginBytes;
using testsupport::Outcome;
using testsupport::PointAt;
using testsupport::ScriptLogin;

// Every event and status text of a component, in the order raised. Status
// texts are "S:<text>", events are their names with their code, e.g.
// "OnFailure(5)".
struct EventLog : testsupport::EventRecord {
    void Attach(TKivFTP& ftp)
    {
        AttachOutcomes(ftp);
        ftp.OnConnect = [this](platform::TComponent*) { entries.push_back("OnConnect"); };
        ftp.OnConnectionFailed = [this](platform::TComponent*) { entries.push_back("OnConnectionFailed"); };
        ftp.OnDisconnect = [this](platform::TComponent*) { entries.push_back("OnDisconnect"); };
    }
};

// If the test has not dismissed it within `limit`, posts "connection
// closed" notifications to the component's message target until it is
// dismissed: the waiting read then finds the socket closed and returns, so a
// script that stops short never hangs the run. A firing is a test failure.
class Watchdog {
public:
    Watchdog(platform::HWND target, std::chrono::milliseconds limit = std::chrono::seconds(20))
        : m_thread([this, target, limit] { Run(target, limit); })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_dismissed = true;
        }
        m_changed.notify_all();
        m_thread.join();
        EXPECT_FALSE(m_fired) << "a client call did not end in time; the watchdog closed its connection";
    }

private:
    void Run(platform::HWND target, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        if (m_changed.wait_for(lock, limit, [this] { return m_dismissed; }))
            return;
        m_fired = true;
        for (int i = 0; i < 600 && !m_dismissed; ++i) {
            platform::PostMessage(target, platform::WM_SOCKETEVENT, 0,
                                  platform::MakeSelectReply(platform::FD_CLOSE, 0));
            m_changed.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_dismissed; });
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_dismissed = false;
    bool m_fired = false;
    std::thread m_thread;
};

} // namespace ftptest
