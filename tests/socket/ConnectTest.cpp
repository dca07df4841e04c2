#include "socket/Doziz.h"

#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace doziz;
using sockettest::Connection;
using sockettest::ExceptionText;
using sockettest::LoopbackServer;
using sockettest::PumpUntil;

namespace {

// A listener whose backlog is full: further connects get no answer, so a
// connect waits until its time-out or a cancel.
struct SilentListener {
    SilentListener()
        : server(nullptr, 0)
    {
        for (int& fd : fillers) {
            fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            sockaddr_in a {};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(server.Port());
            ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        ::usleep(50000);
    }
    ~SilentListener()
    {
        for (int fd : fillers)
            ::close(fd);
    }
    LoopbackServer server;
    int fillers[3] = { -1, -1, -1 };
};

} // namespace

TEST(Connect, DottedAddressConnectsWithoutLookup)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    TVazadezuv sock(nullptr);
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.ReportLevel = 8;
    std::vector<std::string> order;
    sock.OnStatus = [&](platform::TComponent*, const std::string& s) { order.push_back(s); };
    sock.OnHostResolved = [&](platform::TComponent*) { order.push_back("resolved"); };
    sock.OnConnect = [&](platform::TComponent* sender) {
        EXPECT_EQ(sender, &sock);
        order.push_back("connected");
    };
    sock.Connect();
    EXPECT_TRUE(sock.Connected);
    const std::vector<std::string> expected { "Connecting", "Resolve Host", "Timer On", "connected", "Timer Off" };
    EXPECT_EQ(order, expected);

    // Connect while connected leaves the connection alone.
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Already connected");
    EXPECT_TRUE(sock.Connected);
    sock.Disconnect();
    EXPECT_FALSE(sock.Connected);
}

TEST(Connect, NameIsLookedUpOnceBeforeTheConnection)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    TVazadezuv sock(nullptr);
    sock.Host = "localhost";
    sock.Port = server.Port();
    int resolved = 0;
    bool connectedBeforeResolve = false;
    sock.OnHostResolved = [&](platform::TComponent*) {
        ++resolved;
        connectedBeforeResolve = sock.Connected;
    };
    sock.Connect();
    EXPECT_EQ(resolved, 1);
    EXPECT_FALSE(connectedBeforeResolve);
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(sock.RemoteAddress.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
}

TEST(Connect, ProxyNameAndPortWinOverHostAndPort)
{
    LoopbackServer proxy([](int fd) {
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    TVazadezuv sock(nullptr);
    sock.Host = "";      // would give "Null Remote Address"
    sock.Port = 1;       // would be refused
    sock.Proxy = "localhost";
    sock.ProxyPort = proxy.Port() + 0x10000; // only the low 16 bits count
    sock.Connect();
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(ntohs(sock.RemoteAddress.sin_port), proxy.Port());
}

TEST(Connect, RefusedConnectionFails)
{
    std::uint16_t closedPort;
    {
        LoopbackServer gone(nullptr);
        closedPort = gone.Port();
    }
    TVazadezuv sock(nullptr);
    sock.Host = "127.0.0.1";
    sock.Port = closedPort;
    int failed = 0;
    sock.OnConnectionFailed = [&](platform::TComponent*) { ++failed; };
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Connection Failed");
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(sock.Connected);
}

TEST(Connect, UnresolvableNameAndTheInvalidHostHandler)
{
    TVazadezuv sock(nullptr);
    sock.Host = ""; // fails locally: no resolver traffic
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Null Remote Address");

    int calls = 0;
    sock.OnInvalidHost = [&](bool& handled) {
        ++calls;
        handled = true; // but the host stays wrong
    };
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Null Remote Address");
    EXPECT_EQ(calls, 1);

    LoopbackServer server([](int fd) {
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    sock.Port = server.Port();
    calls = 0;
    sock.OnInvalidHost = [&](bool& handled) {
        ++calls;
        sock.Host = "localhost";
        handled = true;
    };
    sock.Connect();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(sock.Connected);
}

TEST(Connect, CancelDuringTheLookUp)
{
    TVazadezuv sock(nullptr);
    sock.Host = "localhost";
    sock.Port = 1;
    sock.ReportLevel = 8;
    int failed = 0;
    sock.OnConnectionFailed = [&](platform::TComponent*) { ++failed; };
    // "Timer On" is reported just before the look-up starts.
    sock.OnStatus = [&](platform::TComponent*, const std::string& s) {
        if (s == "Timer On")
            sock.Cancel();
    };
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Host Lookup Canceled");
    EXPECT_EQ(failed, 0);
    EXPECT_TRUE(sock.Canceled); // left set until the next Connect
    // The withdrawn look-up never completes into a later wait.
    sock.AsyncDone = false;
    PumpUntil([] { return false; }, 200);
    EXPECT_FALSE(sock.AsyncDone);
}

TEST(Connect, TimeOutAndCancelOfTheConnectWait)
{
    SilentListener silent;
    TVazadezuv sock(nullptr);
    sock.Host = "127.0.0.1";
    sock.Port = silent.server.Port();
    sock.TimeOut = 300;
    int failed = 0;
    sock.OnConnectionFailed = [&](platform::TComponent*) { ++failed; };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Connection Timed out");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(ms, 280);
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(sock.TimedOut);

    TVazadezuv other(nullptr);
    other.Host = "127.0.0.1";
    other.Port = silent.server.Port();
    other.ReportLevel = 8;
    other.OnStatus = [&](platform::TComponent*, const std::string& s) {
        if (s == "Timer On")
            other.Cancel();
    };
    EXPECT_EQ(ExceptionText([&] { other.Connect(); }), "Connection Canceled");
}

TEST(CheckConnection, HandlerGetsOneChance)
{
    TVazadezuv sock(nullptr);
    EXPECT_EQ(ExceptionText([&] { sock.CheckConnection(); }), "Not Connected");

    int calls = 0;
    sock.OnConnectionRequired = [&](bool& handled) {
        ++calls;
        handled = true; // claims success without connecting
    };
    EXPECT_EQ(ExceptionText([&] { sock.CheckConnection(); }), "Not Connected");
    EXPECT_EQ(calls, 1);

    LoopbackServer server([](int fd) {
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    sock.OnConnectionRequired = [&](bool& handled) {
        sock.Host = "127.0.0.1";
        sock.Port = server.Port();
        sock.Connect();
        handled = true;
    };
    EXPECT_NO_THROW(sock.CheckConnection());
    EXPECT_TRUE(sock.Connected);

    int more = 0;
    sock.OnConnectionRequired = [&](bool&) { ++more; };
    sock.CheckConnection();
    EXPECT_EQ(more, 0);
}
