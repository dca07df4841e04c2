#include "socket/Doziz.h"

#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

using namespace doziz;
using sockettest::PumpUntil;

namespace {

int ConnectTo(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

std::uint16_t PortOf(const std::string& numbers)
{
    // ",p1,p2"
    const auto second = numbers.find(',', 1);
    return static_cast<std::uint16_t>(std::stoi(numbers.substr(1, second - 1)) * 256 + std::stoi(numbers.substr(second + 1)));
}

} // namespace

TEST(Listener, AcceptsAPeerAlreadyWaiting)
{
    TVazadezuv sock(nullptr);
    sock.Port = 0;
    sock.Listen(true);
    const std::string numbers = sock.GetPortNumbers();
    ASSERT_EQ(numbers[0], ',');
    const std::uint16_t port = PortOf(numbers);
    ASSERT_NE(port, 0);
    const int peer = ConnectTo(port);
    sockaddr_in peerAddress {};
    socklen_t len = sizeof peerAddress;
    ::getsockname(peer, reinterpret_cast<sockaddr*>(&peerAddress), &len);

    const std::uint16_t listening = sock.SocketHandle;
    const std::uint16_t accepted = sock.Accept();
    EXPECT_NE(accepted, listening);
    EXPECT_EQ(sock.SocketHandle, listening); // swapping is the caller's work
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(sock.RemoteAddress.sin_port, peerAddress.sin_port);

    // Once the caller swaps the handles, the component talks to the peer.
    sock.SocketHandle = accepted;
    platform::winsock::CloseSocket(listening);
    sock.Writeln("hello");
    EXPECT_EQ(sockettest::LoopbackServer::ReadExactly(peer, 7), "hello\r\n");
    ::close(peer);
}

TEST(Listener, CancelWhileAcceptWaits)
{
    TVazadezuv sock(nullptr);
    sock.Listen(true);
    sock.ReportLevel = 4;
    sock.OnStatus = [&](platform::TComponent*, const std::string& s) {
        if (s == "Accepting")
            sock.Cancel();
    };
    try {
        sock.Accept();
        FAIL();
    } catch (const EAbortError&) {
        FAIL() << "must be a plain ESockError";
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Accepting Canceled");
    }
    EXPECT_TRUE(sock.Canceled);
}

TEST(Listener, ListenWithoutWaitForAcceptRaisesOnAccept)
{
    TVazadezuv sock(nullptr);
    int accepts = 0;
    sock.OnAccept = [&](platform::TComponent*) { ++accepts; };
    sock.Listen(false);
    const int peer = ConnectTo(PortOf(sock.GetPortNumbers()));
    EXPECT_TRUE(PumpUntil([&] { return accepts == 1; }));
    EXPECT_TRUE(sock.Connected);
    EXPECT_FALSE(sock.AsyncDone); // so Accept would go on waiting
    ::close(peer);
}

TEST(Listener, PortArgumentTexts)
{
    sockettest::LoopbackServer server([](int fd) {
        sockettest::LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    TVazadezuv sock(nullptr);
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    EXPECT_EQ(sock.GetPortAddress(), "127,0,0,1");
}
