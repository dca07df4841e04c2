// The scripted peer is what every wire test trusts, so a plain blocking
// POSIX client checks the few things those tests rely on: what it records,
// what the client sees on Reset, and that it never hangs a test run.

#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

using testsupport::ScriptedPeer;

// A blocking client socket with a receive time-out, so no test waits forever.
class Client {
public:
    explicit Client(std::uint16_t port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval limit { 5, 0 };
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(m_fd); }

    bool Connected() const { return m_connected; }
    int Fd() const { return m_fd; }

    void Send(const std::string& bytes)
    {
        ASSERT_EQ(::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }

    // Reads exactly `count` bytes, or what came before EOF or an error.
    std::string Receive(std::size_t count)
    {
        std::string out;
        for (int pass = 0; pass < 1000 && out.size() < count; ++pass) {
            char buffer[256];
            ssize_t n = ::recv(m_fd, buffer, std::min(sizeof buffer, count - out.size()), 0);
            if (n <= 0)
                break;
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

    // recv's result once the peer has gone: 0 for EOF, else -errno.
    int ReceiveEnd(int flags = 0)
    {
        char byte;
        ssize_t n = ::recv(m_fd, &byte, 1, flags);
        return n < 0 ? -errno : static_cast<int>(n);
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};

TEST(ScriptedPeerTest, RecordsTheTranscriptAndEveryMismatch)
{
    ScriptedPeer peer;
    peer.Send("220 hi\r\n")
        .ExpectAndReply("USER bob\r\n", "331 pw\r\n")
        .ExpectPrefix("PORT 127,0,0,1,")
        .Expect("QUIT\r\n")
        .Close();
    peer.Start();

    Client client(peer.Port());
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.Receive(8), "220 hi\r\n");
    client.Send("USER alice\r\n");
    EXPECT_EQ(client.Receive(8), "331 pw\r\n"); // the reply still comes after a mismatch
    client.Send("PASV\r\nQUIT\r\n");
    EXPECT_EQ(client.ReceiveEnd(), 0);

    ASSERT_TRUE(peer.Finish());
    EXPECT_EQ(peer.Received(), "USER alice\r\nPASV\r\nQUIT\r\n");
    auto errors = peer.Errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("USER alice\\r\\n"), std::string::npos) << errors[0];
    EXPECT_NE(errors[1].find("PASV"), std::string::npos) << errors[1];
}

TEST(ScriptedPeerTest, ResetReachesTheClientAsConnectionReset)
{
    ScriptedPeer peer;
    peer.Send("220 hi\r\n").Reset();
    peer.Start();

    Client client(peer.Port());
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.Receive(8), "220 hi\r\n");
    ASSERT_TRUE(peer.Finish());
    EXPECT_EQ(client.ReceiveEnd(), -ECONNRESET);
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(ScriptedPeerTest, TimeOutEndsTheScriptWithAnError)
{
    ScriptedPeer peer;
    peer.Expect("USER bob\r\n", 200).Send("never\r\n");
    peer.Start();

    Client client(peer.Port());
    ASSERT_TRUE(client.Connected());
    client.Send("USER b");
    ASSERT_TRUE(peer.Finish(3000));
    ASSERT_EQ(peer.Errors().size(), 1u);
    EXPECT_NE(peer.Errors()[0].find("USER b"), std::string::npos) << peer.Errors()[0];
    EXPECT_EQ(client.ReceiveEnd(MSG_DONTWAIT), -EAGAIN); // nothing was sent after the time-out
}

TEST(ScriptedPeerTest, DestructorStopsAWaitingScriptQuickly)
{
    auto begin = std::chrono::steady_clock::now();
    {
        ScriptedPeer peer;
        peer.Send("220 hi\r\n").Expect("USER bob\r\n", 60000);
        peer.Start();
        Client client(peer.Port());
        ASSERT_TRUE(client.Connected());
        EXPECT_EQ(client.Receive(8), "220 hi\r\n");
        EXPECT_FALSE(peer.Finish(100));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
}

TEST(ScriptedPeerTest, PassiveAndActiveDataConnections)
{
    ScriptedPeer peer;
    peer.PassiveListen();
    const std::uint16_t dataPort = peer.DataListenPort();
    ASSERT_NE(dataPort, 0);
    peer.ExpectAndReply("PASV\r\n", "").SendPassiveReply().AcceptData().ReceiveData().SendData("done").CloseData();

    // Active mode: the client listens and announces itself with PORT.
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const unsigned activePort = ntohs(address.sin_port);
    const std::string portLine = "PORT 127,0,0,1," + std::to_string(activePort >> 8) + ","
        + std::to_string(activePort & 0xff) + "\r\n";
    peer.Expect(portLine).ConnectData().SendData("listing\r\n").CloseData();
    peer.Start();

    Client control(peer.Port());
    ASSERT_TRUE(control.Connected());
    control.Send("PASV\r\n");
    EXPECT_EQ(control.Receive(ScriptedPeer::PassiveReply(dataPort).size()), ScriptedPeer::PassiveReply(dataPort));
    {
        Client data(dataPort);
        ASSERT_TRUE(data.Connected());
        data.Send("upload bytes");
        ::shutdown(data.Fd(), SHUT_WR);
        EXPECT_EQ(data.Receive(100), "done");
    }

    control.Send(portLine);
    timeval limit { 5, 0 };
    ::setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    int accepted = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    ::setsockopt(accepted, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string listing;
    char buffer[64];
    for (int pass = 0; pass < 100; ++pass) {
        ssize_t n = ::recv(accepted, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        listing.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(accepted);
    ::close(listener);
    EXPECT_EQ(listing, "listing\r\n");

    ASSERT_TRUE(peer.Finish());
    EXPECT_TRUE(peer.Errors().empty()) << peer.Errors()[0];
    EXPECT_EQ(peer.DataReceived(), "upload bytes");
}

}
