#pragma once

// Shared pieces of the data-connection tests: an event log, the outcome of a
// call as "type: message", the login script, a scratch directory, and a
// watchdog that frees a client stuck in a wait a broken script never ends.

#include "ftp/KivFtp.h"
#include "platform/Messages.h"
#include "platform/Windows.h"
#include "support/FtpTestKit.h"
#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace ftpdatatest {

using kivftp::FTPException;
using kivftp::TCmdType;
using kivftp::TKivFTP;
using testsupport::ScriptedPeer;

using testsupport::Code;
using testsupport::Outcome;
using testsupport::ScriptLogin;

// Every event and status text of a component in the order raised: status
// texts as "S:<text>", listing lines as "L:<line>", other events by name with
// their code ("OnFailure(9)"). Progress events are counted, not listed.
struct EventLog : testsupport::EventRecord {
    int packetsRecvd = 0;
    int packetsSent = 0;

    void Attach(TKivFTP& ftp)
    {
        AttachOutcomes(ftp);
        ftp.OnTransactionStart = [this](platform::TComponent*) { entries.push_back("OnTransactionStart"); };
        ftp.OnTransactionStop = [this](platform::TComponent*) { entries.push_back("OnTransactionStop"); };
        ftp.OnListItem = [this](const std::string& line) { entries.push_back("L:" + line); };
        ftp.OnPacketRecvd = [this](platform::TComponent*) { ++packetsRecvd; };
        ftp.OnPacketSent = [this](platform::TComponent*) { ++packetsSent; };
    }

    void Clear()
    {
        entries.clear();
        packetsRecvd = packetsSent = 0;
    }
};

inline const std::string kLoginBytes = testsupport::LoginBytes();

inline void ConnectTo(TKivFTP& ftp, const ScriptedPeer& peer, std::int32_t timeOut = 5000)
{
    testsupport::PointAt(ftp, peer, "bob", "s3cret", timeOut);
    ftp.Connect();
}

// A fresh directory for local files, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "taviro-ftpdata-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            ADD_FAILURE() << "cannot create a scratch directory";
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string Path(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path)
{
    return std::filesystem::exists(path);
}

// Bytes no text-mode transfer leaves alone: CR LF, lone LF and CR, NUL and
// 0xFF, in a pattern that does not repeat with the 64 KiB block size.
inline std::string BinaryBytes(std::size_t size, unsigned seed = 1)
{
    std::string bytes(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        switch (i % 7) {
        case 0:
            bytes[i] = '\r';
            break;
        case 1:
            bytes[i] = '\n';
            break;
        case 3:
            bytes[i] = '\0';
            break;
        case 5:
            bytes[i] = static_cast<char>(0xFF);
            break;
        default:
            bytes[i] = static_cast<char>(x >> 24);
        }
    }
    return bytes;
}

// Runs on the pump of the client under test: if the test has not dismissed
// it within `limit`, it aborts the data socket and cancels the control
// connection every 200 ms, so every wait of the client ends. A firing is a
// test failure.
class Watchdog {
public:
    explicit Watchdog(TKivFTP& ftp, unsigned limitMs = 20000)
        : m_ftp(ftp)
    {
        static const bool registered = platform::RegisterClass("FtpDataWatchdog", &Watchdog::Proc);
        (void)registered;
        m_window = platform::CreateHiddenWindow("FtpDataWatchdog");
        platform::SetWindowOwner(m_window, this);
        platform::SetTimer(m_window, platform::TIMER_ID, limitMs);
    }
    ~Watchdog()
    {
        platform::KillTimer(m_window, platform::TIMER_ID);
        platform::DestroyWindow(m_window);
        EXPECT_FALSE(m_fired) << "a client call did not end in time; the watchdog cancelled it";
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static platform::LRESULT Proc(platform::HWND window, platform::UINT message, platform::WPARAM, platform::LPARAM)
    {
        auto* self = static_cast<Watchdog*>(platform::GetWindowOwner(window));
        if (self && message == platform::WM_TIMER) {
            if (!self->m_fired) {
                self->m_fired = true;
                platform::SetTimer(window, platform::TIMER_ID, 200);
            }
            self->m_ftp.Abort();
            self->m_ftp.Cancel();
        }
        return 0;
    }

    TKivFTP& m_ftp;
    platform::HWND m_window = 0;
    bool m_fired = false;
};

} // namespace ftpdatatest

namespace ftpdatatest {

// A scripted peer, a component that logs in to it, its event log and a
// scratch directory.
class WireTest : public testing::Test {
protected:
    // Scripts the data connection's set-up as the client makes it: PASV and
    // the peer's accept, or PORT with the client's control address.
    void ScriptSetUp(bool passive)
    {
        if (passive) {
            peer.PassiveListen();
            peer.Expect("PASV\r\n").SendPassiveReply().AcceptData();
        } else {
            peer.ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT command successful\r\n");
        }
    }
    // After the reply to the transfer command: in active mode the peer
    // connects to the client's listener now.
    void ScriptDataOpen(bool passive)
    {
        if (!passive)
            peer.ConnectData();
    }

    void Connect(std::int32_t timeOut = 5000)
    {
        peer.Start();
        ftp.ReportLevel = 1;
        ConnectTo(ftp, peer, timeOut);
        log.Attach(ftp);
    }

    void ExpectScriptRan()
    {
        EXPECT_TRUE(peer.Finish());
        std::string errors;
        for (const auto& e : peer.Errors())
            errors += e + "\n";
        EXPECT_TRUE(errors.empty()) << errors;
    }

    // What the client sent after the login.
    std::string Sent() const
    {
        const std::string all = peer.Received();
        EXPECT_EQ(all.substr(0, kLoginBytes.size()), kLoginBytes);
        return all.size() > kLoginBytes.size() ? all.substr(kLoginBytes.size()) : std::string();
    }

    ScriptedPeer peer;
    TKivFTP ftp { nullptr };
    EventLog log;
    TempDir dir;
};

} // namespace ftpdatatest

namespace ftpdatatest {

// Byte-for-byte comparison that reports sizes and the first difference
// instead of printing megabytes of binary data.
inline testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    return testing::AssertionFailure() << actual.size() << " bytes instead of " << expected.size()
                                       << ", first difference at offset " << at;
}

} // namespace ftpdatatest
