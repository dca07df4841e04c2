#pragma once

// Shared pieces of the FTP component's tests: an event log that records every
// event and status text in order, the outcome of a call as "type: message",
// a standard login script, and a watchdog that frees a client stuck waiting
// for a reply a broken script never sends.

#include "ftp/KivFtp.h"
#include "platform/Messages.h"
#include "platform/Windows.h"
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

inline int Code(TCmdType code)
{
    return static_cast<int>(code);
}

// Every event and status text of a component, in the order raised. Status
// texts are "S:<text>", events are their names with their code, e.g.
// "OnFailure(5)".
struct EventLog {
    std::vector<std::string> entries;

    void Attach(TKivFTP& ftp)
    {
        ftp.OnStatus = [this](platform::TComponent*, const std::string& s) { entries.push_back("S:" + s); };
        ftp.OnConnect = [this](platform::TComponent*) { entries.push_back("OnConnect"); };
        ftp.OnConnectionFailed = [this](platform::TComponent*) { entries.push_back("OnConnectionFailed"); };
        ftp.OnDisconnect = [this](platform::TComponent*) { entries.push_back("OnDisconnect"); };
        ftp.OnSuccess = [this](TCmdType c) { entries.push_back("OnSuccess(" + std::to_string(Code(c)) + ")"); };
        ftp.OnUnSupportedFunction = [this](TCmdType c) {
            entries.push_back("OnUnSupportedFunction(" + std::to_string(Code(c)) + ")");
        };
        ftp.OnFailure = [this](bool&, TCmdType c) {
            entries.push_back("OnFailure(" + std::to_string(Code(c)) + ")");
        };
    }

    // Entries that are not status texts.
    std::vector<std::string> Events() const
    {
        std::vector<std::string> out;
        for (const auto& e : entries)
            if (e.rfind("S:", 0) != 0)
                out.push_back(e);
        return out;
    }

    std::vector<std::string> Statuses() const
    {
        std::vector<std::string> out;
        for (const auto& e : entries)
            if (e.rfind("S:", 0) == 0)
                out.push_back(e.substr(2));
        return out;
    }

    bool Has(const std::string& entry) const
    {
        for (const auto& e : entries)
            if (e == entry)
                return true;
        return false;
    }

    // Index of the first entry equal to `entry`, or -1.
    int IndexOf(const std::string& entry) const
    {
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i] == entry)
                return static_cast<int>(i);
        return -1;
    }
};

// What a call ended with: "ok", or the most derived known exception type and
// its message, e.g. "FTPException: 530 Login incorrect.\r\n".
inline std::string Outcome(const std::function<void()>& call)
{
    try {
        call();
    } catch (const FTPException& e) {
        return "FTPException: " + e.Message;
    } catch (const doziz::EAbortError& e) {
        return "EAbortError: " + e.Message;
    } catch (const doziz::ESockError& e) {
        return "ESockError: " + e.Message;
    } catch (const platform::Exception& e) {
        return "Exception: " + e.Message;
    } catch (const std::exception& e) {
        return std::string("std::exception: ") + e.what();
    }
    return "ok";
}

// Points the component at the peer with a user and password.
inline void PointAt(TKivFTP& ftp, const ScriptedPeer& peer, const std::string& user = "bob",
                    const std::string& password = "s3cret")
{
    ftp.Host = "127.0.0.1";
    ftp.Port = peer.Port();
    ftp.TimeOut = 5000;
    ftp.UserID = user;
    ftp.Password = password;
}

// The steps of a plain login as the component makes it.
inline ScriptedPeer& ScriptLogin(ScriptedPeer& peer, const std::string& user = "bob",
                                 const std::string& password = "s3cret")
{
    return peer.Send("220 Service ready\r\n")
        .ExpectAndReply("USER " + user + "\r\n", "331 Password required\r\n")
        .ExpectAndReply("PASS " + password + "\r\n", "230 Logged in\r\n")
        .ExpectAndReply("TYPE I\r\n", "200 Type set to I\r\n");
}

inline std::string LoginBytes(const std::string& user = "bob", const std::string& password = "s3cret")
{
    return "USER " + user + "\r\nPASS " + password + "\r\nTYPE I\r\n";
}

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
