// Socket notifications, their re-enabling rules, errors and host look-ups,
// against plain POSIX peers on 127.0.0.1.

#include "PlatformTestSupport.h"

#include "platform/Winsock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace platformtest;
namespace ws = platform::winsock;
using platform::FD_ACCEPT;
using platform::FD_ALL_EVENTS;
using platform::FD_CLOSE;
using platform::FD_CONNECT;
using platform::FD_READ;
using platform::SelectError;
using platform::SelectEvent;
using platform::WM_ASYNCDONE;
using platform::WM_SOCKETEVENT;

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

std::uint16_t LocalPort(int fd)
{
    sockaddr_in a {};
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

// A POSIX descriptor closed with the object.
class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    {
    }
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(int fd)
    {
        Close();
        m_fd = fd;
        return *this;
    }
    int Get() const { return m_fd; }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Closes with a reset instead of a FIN.
    void Reset()
    {
        linger hard { 1, 0 };
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        Close();
    }

private:
    int m_fd;
};

// A platform socket closed with the object.
class Sock {
public:
    Sock()
        : m_s(ws::Socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))
    {
    }
    explicit Sock(ws::SOCKET s)
        : m_s(s)
    {
    }
    ~Sock()
    {
        if (m_s != ws::INVALID_SOCKET)
            ws::CloseSocket(m_s);
    }
    Sock(const Sock&) = delete;
    Sock& operator=(const Sock&) = delete;
    ws::SOCKET Get() const { return m_s; }

private:
    ws::SOCKET m_s;
};

int PosixListener()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Accepts within five seconds; -1 otherwise.
int AcceptWithin(int listener)
{
    pollfd p { listener, POLLIN, 0 };
    if (::poll(&p, 1, 5000) != 1)
        return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

int PosixConnect(std::uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A loopback port nobody listens on: bound once by the system, then freed.
std::uint16_t RefusedPort()
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = Loopback(0);
    ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    return LocalPort(fd.Get());
}

void SendAll(int fd, const std::string& bytes)
{
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

class WinsockTest : public PumpFixture {
protected:
    void SetUp() override
    {
        PumpFixture::SetUp();
        ws::WSAData data;
        ws::WSAStartup(0x0101, &data);
        ASSERT_NE(m_target.Window(), 0u);
    }

    platform::HWND Window() const { return m_target.Window(); }

    // The socket events that reached the target for `s`, as (event, error).
    std::vector<std::pair<std::uint16_t, std::uint16_t>> Events(ws::SOCKET s, std::uint16_t only = 0) const
    {
        std::vector<std::pair<std::uint16_t, std::uint16_t>> out;
        for (const Received& r : MessagesTo(Window(), WM_SOCKETEVENT))
            if (r.wParam == static_cast<platform::WPARAM>(s) && (only == 0 || SelectEvent(r.lParam) == only))
                out.emplace_back(SelectEvent(r.lParam), SelectError(r.lParam));
        return out;
    }

    bool PumpUntilEvent(ws::SOCKET s, std::uint16_t event, std::size_t count = 1, int timeoutMs = 5000)
    {
        return PumpUntil([&] { return Events(s, event).size() >= count; }, timeoutMs);
    }

    // Starts a non-blocking connect of `s` to the port.
    void StartConnect(ws::SOCKET s, std::uint16_t port)
    {
        ASSERT_EQ(ws::WSAAsyncSelect(s, Window(), WM_SOCKETEVENT, FD_ALL_EVENTS), 0);
        ASSERT_EQ(ws::Connect(s, Loopback(port)), ws::SOCKET_ERROR);
        ASSERT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);
    }

    // Connects `s` to a POSIX peer and waits for FD_CONNECT; returns the peer.
    int ConnectToPeer(ws::SOCKET s)
    {
        Fd listener(PosixListener());
        StartConnect(s, LocalPort(listener.Get()));
        int peer = AcceptWithin(listener.Get());
        EXPECT_GE(peer, 0);
        EXPECT_TRUE(PumpUntilEvent(s, FD_CONNECT));
        return peer;
    }

    std::string RecvString(ws::SOCKET s, int length)
    {
        std::string buffer(static_cast<std::size_t>(length), '\0');
        int n = ws::Recv(s, buffer.data(), length, 0);
        return n < 0 ? "<error " + std::to_string(ws::WSAGetLastError()) + ">" : buffer.substr(0, static_cast<std::size_t>(n));
    }

private:
    Target m_target;
};

TEST_F(WinsockTest, ConnectReportsItsOutcomeOnce)
{
    struct Case {
        const char* name;
        bool listening;
        std::uint16_t error;
    };
    for (const Case& c : { Case { "accepted", true, 0 }, Case { "refused", false, ws::WSAECONNREFUSED } }) {
        SCOPED_TRACE(c.name);
        Log().clear();
        Fd listener(c.listening ? PosixListener() : -1);
        Sock s;
        StartConnect(s.Get(), c.listening ? LocalPort(listener.Get()) : RefusedPort());
        ASSERT_TRUE(PumpUntilEvent(s.Get(), FD_CONNECT));
        PumpFor(100);
        const std::vector<std::pair<std::uint16_t, std::uint16_t>> expected { { FD_CONNECT, c.error } };
        EXPECT_EQ(Events(s.Get()), expected) << "exactly one FD_CONNECT and nothing else";
    }
}

TEST_F(WinsockTest, ReadNotificationWaitsForTheNextRecv)
{
    Sock s;
    Fd peer(ConnectToPeer(s.Get()));
    SendAll(peer.Get(), "hello");
    ASSERT_TRUE(PumpUntilEvent(s.Get(), FD_READ));
    SendAll(peer.Get(), "world");
    PumpFor(100);
    EXPECT_EQ(Events(s.Get(), FD_READ).size(), 1u) << "FD_READ again before the socket was read";

    // A recv, even a partial one, re-arms the notification: the next
    // arrival is announced.
    EXPECT_EQ(RecvString(s.Get(), 3), "hel");
    SendAll(peer.Get(), "!");
    EXPECT_TRUE(PumpUntilEvent(s.Get(), FD_READ, 2));
    EXPECT_EQ(RecvString(s.Get(), 100), "loworld!");
    PumpFor(100);
    EXPECT_EQ(Events(s.Get(), FD_READ).size(), 2u) << "FD_READ with nothing to read";

    SendAll(peer.Get(), "?");
    EXPECT_TRUE(PumpUntilEvent(s.Get(), FD_READ, 3));
    EXPECT_EQ(RecvString(s.Get(), 100), "?");
}

TEST_F(WinsockTest, CloseComesOnceAndOnlyAfterAllDataIsRead)
{
    Sock s;
    Fd peer(ConnectToPeer(s.Get()));
    SendAll(peer.Get(), "last words");
    peer.Close();
    ASSERT_TRUE(PumpUntilEvent(s.Get(), FD_READ));
    PumpFor(150);
    EXPECT_TRUE(Events(s.Get(), FD_CLOSE).empty()) << "FD_CLOSE while data was unread";

    EXPECT_EQ(RecvString(s.Get(), 100), "last words");
    ASSERT_TRUE(PumpUntilEvent(s.Get(), FD_CLOSE));
    EXPECT_EQ(RecvString(s.Get(), 100), "");
    PumpFor(100);
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> expected { { FD_CLOSE, 0 } };
    EXPECT_EQ(Events(s.Get(), FD_CLOSE), expected);
}

TEST_F(WinsockTest, ResetGivesCloseWithConnectionReset)
{
    Sock s;
    Fd peer(ConnectToPeer(s.Get()));
    peer.Reset();
    ASSERT_TRUE(PumpUntilEvent(s.Get(), FD_CLOSE));
    PumpFor(100);
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> expected { { FD_CLOSE, ws::WSAECONNRESET } };
    EXPECT_EQ(Events(s.Get(), FD_CLOSE), expected);
}

TEST_F(WinsockTest, AcceptNotificationOnAListener)
{
    Sock listener;
    ASSERT_EQ(ws::Bind(listener.Get(), Loopback(0)), 0);
    ASSERT_EQ(ws::Listen(listener.Get(), 4), 0);
    ASSERT_EQ(ws::WSAAsyncSelect(listener.Get(), Window(), WM_SOCKETEVENT, FD_ACCEPT), 0);
    sockaddr_in local {};
    ASSERT_EQ(ws::GetSockName(listener.Get(), &local), 0);
    const std::uint16_t port = ntohs(local.sin_port);

    PumpFor(50);
    EXPECT_TRUE(Events(listener.Get()).empty()) << "FD_ACCEPT with nobody connecting";

    // Two clients before the first accept: one notification until accept
    // is called again.
    Fd first(PosixConnect(port));
    Fd second(PosixConnect(port));
    ASSERT_GE(first.Get(), 0);
    ASSERT_GE(second.Get(), 0);
    ASSERT_TRUE(PumpUntilEvent(listener.Get(), FD_ACCEPT));
    PumpFor(100);
    EXPECT_EQ(Events(listener.Get(), FD_ACCEPT).size(), 1u);

    sockaddr_in peer {};
    Sock accepted(ws::Accept(listener.Get(), &peer));
    ASSERT_NE(accepted.Get(), ws::INVALID_SOCKET);
    EXPECT_EQ(ntohl(peer.sin_addr.s_addr), INADDR_LOOPBACK);
    // The second client still waits: the accept announces it at once.
    EXPECT_TRUE(PumpUntilEvent(listener.Get(), FD_ACCEPT, 2));
    Sock acceptedSecond(ws::Accept(listener.Get(), nullptr));
    // Nobody waits now; the accept re-armed the notification for the next client.
    PumpFor(50);
    EXPECT_EQ(Events(listener.Get(), FD_ACCEPT).size(), 2u);
    Fd third(PosixConnect(port));
    ASSERT_GE(third.Get(), 0);
    EXPECT_TRUE(PumpUntilEvent(listener.Get(), FD_ACCEPT, 3));
    Sock acceptedThird(ws::Accept(listener.Get(), nullptr));
    EXPECT_NE(acceptedSecond.Get(), ws::INVALID_SOCKET);
    EXPECT_NE(acceptedThird.Get(), ws::INVALID_SOCKET);
    for (const auto& [event, error] : Events(listener.Get())) {
        EXPECT_EQ(event, FD_ACCEPT);
        EXPECT_EQ(error, 0);
    }
}

TEST_F(WinsockTest, FreshSocketIsSilentAndNotConnected)
{
    Sock s;
    ASSERT_NE(s.Get(), ws::INVALID_SOCKET);
    ASSERT_EQ(ws::WSAAsyncSelect(s.Get(), Window(), WM_SOCKETEVENT, FD_ALL_EVENTS), 0);
    PumpFor(150);
    EXPECT_TRUE(Log().empty());

    char byte = 'x';
    EXPECT_EQ(ws::Send(s.Get(), &byte, 1, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTCONN);
    EXPECT_EQ(ws::Recv(s.Get(), &byte, 1, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTCONN);
}

TEST_F(WinsockTest, SendToAClosedPeerIsAnErrorNotASignal)
{
    // With the default action a SIGPIPE would end this test program.
    auto previous = std::signal(SIGPIPE, SIG_DFL);
    Sock s;
    Fd peer(ConnectToPeer(s.Get()));
    peer.Close();
    ASSERT_TRUE(PumpUntilEvent(s.Get(), FD_CLOSE));

    // The first send may still be taken; the peer's reset fails a later one.
    const std::string block(1024, 'x');
    int result = 0;
    for (int i = 0; i < 100 && result != ws::SOCKET_ERROR; ++i) {
        result = ws::Send(s.Get(), block.data(), static_cast<int>(block.size()), 0);
        if (result != ws::SOCKET_ERROR)
            PumpFor(10);
    }
    EXPECT_EQ(result, ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAECONNRESET);
    std::signal(SIGPIPE, previous);
}

TEST_F(WinsockTest, HostLookUpCompletesWithTheAddress)
{
    struct Case {
        const char* name;
        std::uint16_t error;
    };
    // The empty name fails in the look-up itself, without asking any server.
    for (const Case& c : { Case { "localhost", 0 }, Case { "", ws::WSAHOST_NOT_FOUND } }) {
        SCOPED_TRACE(std::string("name \"") + c.name + "\"");
        Log().clear();
        alignas(ws::HostEnt) char buffer[ws::MAXGETHOSTSTRUCT] = {};
        const ws::HANDLE handle = ws::WSAAsyncGetHostByName(Window(), WM_ASYNCDONE, c.name, buffer, sizeof buffer);
        ASSERT_NE(handle, 0u);
        ASSERT_TRUE(PumpUntil([&] { return !MessagesTo(Window(), WM_ASYNCDONE).empty(); }));
        const Received done = MessagesTo(Window(), WM_ASYNCDONE).front();
        EXPECT_EQ(done.wParam, handle);
        EXPECT_EQ(SelectError(done.lParam), c.error);
        if (c.error == 0) {
            const auto* entry = reinterpret_cast<const ws::HostEnt*>(buffer);
            ASSERT_GE(entry->AddressCount, 1u);
            const std::uint8_t loopback[4] = { 127, 0, 0, 1 };
            EXPECT_EQ(std::memcmp(entry->Addresses[0], loopback, 4), 0);
        }
    }
}

TEST_F(WinsockTest, CancelledLookUpDeliversNothing)
{
    char cancelledBuffer[ws::MAXGETHOSTSTRUCT];
    std::memset(cancelledBuffer, 0xAB, sizeof cancelledBuffer);
    alignas(ws::HostEnt) char buffer[ws::MAXGETHOSTSTRUCT] = {};
    const ws::HANDLE cancelled
        = ws::WSAAsyncGetHostByName(Window(), WM_ASYNCDONE, "localhost", cancelledBuffer, sizeof cancelledBuffer);
    ASSERT_NE(cancelled, 0u);
    EXPECT_EQ(ws::WSACancelAsyncRequest(cancelled), 0);
    EXPECT_EQ(ws::WSACancelAsyncRequest(cancelled), ws::SOCKET_ERROR) << "cancelled twice";

    // A second look-up started later shows when the first has had its time.
    const ws::HANDLE later = ws::WSAAsyncGetHostByName(Window(), WM_ASYNCDONE, "localhost", buffer, sizeof buffer);
    ASSERT_TRUE(PumpUntil([&] { return !MessagesTo(Window(), WM_ASYNCDONE).empty(); }));
    PumpFor(200);
    const auto completions = MessagesTo(Window(), WM_ASYNCDONE);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].wParam, later);
    for (unsigned char c : cancelledBuffer)
        ASSERT_EQ(c, 0xAB) << "the cancelled look-up wrote its buffer";
}

// After each notification below, nothing new can happen until the program
// acts; a pump that keeps seeing the same readiness would spin.
TEST_F(WinsockTest, PumpDoesNotSpinOnAStateAlreadyReported)
{
    {
        SCOPED_TRACE("unread data after FD_READ");
        Sock s;
        Fd peer(ConnectToPeer(s.Get()));
        SendAll(peer.Get(), "unread");
        ASSERT_TRUE(PumpUntilEvent(s.Get(), FD_READ));
        ExpectIdlePassesBlock();
    }
    {
        SCOPED_TRACE("peer gone after FD_CLOSE");
        Sock s;
        Fd peer(ConnectToPeer(s.Get()));
        peer.Close();
        ASSERT_TRUE(PumpUntilEvent(s.Get(), FD_CLOSE));
        ExpectIdlePassesBlock();
    }
    {
        SCOPED_TRACE("refused connect after FD_CONNECT");
        Sock s;
        StartConnect(s.Get(), RefusedPort());
        ASSERT_TRUE(PumpUntilEvent(s.Get(), FD_CONNECT));
        ExpectIdlePassesBlock();
    }
    {
        SCOPED_TRACE("waiting connection after FD_ACCEPT");
        Sock listener;
        ASSERT_EQ(ws::Bind(listener.Get(), Loopback(0)), 0);
        ASSERT_EQ(ws::Listen(listener.Get(), 1), 0);
        ASSERT_EQ(ws::WSAAsyncSelect(listener.Get(), Window(), WM_SOCKETEVENT, FD_ACCEPT), 0);
        sockaddr_in local {};
        ws::GetSockName(listener.Get(), &local);
        Fd client(PosixConnect(ntohs(local.sin_port)));
        ASSERT_TRUE(PumpUntilEvent(listener.Get(), FD_ACCEPT));
        ExpectIdlePassesBlock();
    }
}

}
