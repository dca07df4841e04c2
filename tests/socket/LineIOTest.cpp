#include "socket/Doziz.h"

#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

using namespace doziz;
using sockettest::Connection;
using sockettest::ExceptionText;
using sockettest::LoopbackServer;
using sockettest::PumpUntil;

TEST(LineIO, WritelnSendsTheTextWithCrLf)
{
    std::string got;
    {
        Connection c([&](int fd) {
            got = LoopbackServer::ReadToClose(fd);
            ::close(fd);
        });
        c.sock.Writeln("NOOP");
        std::string withZero("RETR a");
        withZero.push_back('\0');
        withZero += "b";
        c.sock.Write(withZero);
        c.sock.Disconnect();
        ASSERT_TRUE(PumpUntil([&] { return c.server.SessionDone(); }));
    }
    EXPECT_EQ(got, "NOOP\r\nRETR a");
}

TEST(LineIO, WriteOfMoreThanOneBufferSendsEverything)
{
    const std::string big(200000, 'x');
    std::string got;
    {
        Connection c([&](int fd) {
            got = LoopbackServer::ReadExactly(fd, big.size());
            ::close(fd);
        });
        c.sock.Write(big);
        ASSERT_TRUE(PumpUntil([&] { return c.server.SessionDone(); }));
    }
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
}

TEST(LineIO, ReadLnReturnsOneLineWithItsTerminator)
{
    Connection c([](int fd) {
        LoopbackServer::SendAll(fd, "123456789\r\nsecond\n");
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    EXPECT_EQ(c.sock.ReadLn(), "123456789\r\n");
    EXPECT_EQ(c.sock.ReadLn(), "second\n");
}

TEST(LineIO, ReadLnJoinsALineArrivingInPieces)
{
    Connection c([](int fd) {
        for (const char* piece : { "220 Ser", "vice re", "ady\r\n" }) {
            LoopbackServer::SendAll(fd, piece);
            ::usleep(30000);
        }
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    EXPECT_EQ(c.sock.ReadLn(), "220 Service ready\r\n");
}

TEST(LineIO, ReadLnOnAPeerThatClosesMidLineGivesEmpty)
{
    Connection c([](int fd) {
        LoopbackServer::SendAll(fd, "220 half a li");
        ::usleep(30000);
        ::close(fd);
    });
    EXPECT_EQ(c.sock.ReadLn(), "");
    EXPECT_TRUE(PumpUntil([&] { return !c.sock.Connected; }));
    EXPECT_EQ(c.sock.ReadLn(), ""); // the fresh socket reports "not connected": end of input
}

TEST(LineIO, ReadLnOnAResetConnectionEndsWithoutHanging)
{
    Connection c([](int fd) {
        LoopbackServer::SendAll(fd, "220 part");
        ::usleep(30000);
        LoopbackServer::Reset(fd);
    });
    c.sock.TimeOut = 3000;
    const auto start = std::chrono::steady_clock::now();
    std::string line;
    try {
        line = c.sock.ReadLn();
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "10054:Connection reset by peer");
    }
    EXPECT_EQ(line, "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(LineIO, ReadLnTimesOutAfterTimeOut)
{
    std::atomic<bool> release { false };
    Connection c([&](int fd) {
        for (int i = 0; i < 200 && !release; ++i)
            ::usleep(10000);
        ::close(fd);
    });
    c.sock.TimeOut = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ExceptionText([&] { c.sock.ReadLn(); }), "Socket readln aborted");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    release = true;
    EXPECT_GE(ms, 280);
    EXPECT_LT(ms, 2000);
    EXPECT_FALSE(c.sock.Canceled);
    EXPECT_TRUE(c.sock.TimedOut);
}

TEST(LineIO, ReadLnWaitsWithoutBurningCpu)
{
    std::atomic<bool> release { false };
    Connection c([&](int fd) {
        for (int i = 0; i < 100 && !release; ++i)
            ::usleep(10000);
        LoopbackServer::SendAll(fd, "late\r\n");
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    timespec before {}, after {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    EXPECT_EQ(c.sock.ReadLn(), "late\r\n"); // about one second of waiting
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    const double cpu = (after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
    EXPECT_LT(cpu, 0.2) << "CPU seconds spent waiting";
}

TEST(LineIO, ALineLongerThanTheBufferIsAClearError)
{
    Connection c([](int fd) {
        LoopbackServer::SendAll(fd, std::string(70000, 'a') + "\r\n");
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    c.sock.TimeOut = 3000;
    EXPECT_EQ(ExceptionText([&] { c.sock.ReadLn(); }), "Line too long: no line end within 65536 bytes");
}

TEST(LineIO, ReadWaitsForItsCountAndReadZeroTakesWhatWaits)
{
    std::atomic<bool> third { false };
    Connection c([&](int fd) {
        LoopbackServer::SendAll(fd, "ab");
        for (int i = 0; i < 200 && !third; ++i)
            ::usleep(10000);
        LoopbackServer::SendAll(fd, "c0123456789");
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    ASSERT_TRUE(PumpUntil([&] { return c.sock.DataAvailable(); }));
    // Read(3) waits for the third byte, sent only after it started waiting.
    c.sock.ReportLevel = 8;
    c.sock.OnStatus = [&](platform::TComponent*, const std::string& s) {
        if (s == "Read( 3 )")
            third = true;
    };
    EXPECT_EQ(c.sock.Read(3), "abc");
    ASSERT_TRUE(PumpUntil([&] {
        char probe[16];
        return platform::winsock::Recv(c.sock.SocketHandle, probe, 16, platform::winsock::WS_MSG_PEEK) == 10;
    }));
    EXPECT_EQ(c.sock.Read(0), "0123456789");
    EXPECT_EQ(c.sock.Read(0), "");
}

TEST(LineIO, TransactionTakesTheReplyNumber)
{
    std::string got;
    Connection c([&](int fd) {
        got = LoopbackServer::ReadExactly(fd, 6);
        LoopbackServer::SendAll(fd, "550 No such file\r\n");
        got += LoopbackServer::ReadExactly(fd, 6);
        LoopbackServer::SendAll(fd, "Hello there\r\n");
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    c.sock.ReplyNumber = 123;
    EXPECT_EQ(c.sock.Transaction("SIZE"), "550 No such file\r\n");
    EXPECT_EQ(c.sock.ReplyNumber, 550);
    EXPECT_EQ(c.sock.LastReply, "550 No such file\r\n");
    EXPECT_EQ(c.sock.Transaction("NOOP"), "Hello there\r\n");
    EXPECT_EQ(c.sock.ReplyNumber, 0);
    EXPECT_EQ(got, "SIZE\r\nNOOP\r\n");
}

TEST(LineIO, CancelledSendAndReadRaiseAndClearTheFlag)
{
    Connection c([](int fd) {
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    c.sock.Cancel();
    EXPECT_EQ(ExceptionText([&] { c.sock.Writeln("NOOP"); }), "Socket send aborted");
    EXPECT_FALSE(c.sock.Canceled);
    c.sock.Cancel();
    EXPECT_EQ(ExceptionText([&] { c.sock.Read(5); }), "Socket send aborted");
    c.sock.Cancel();
    EXPECT_EQ(ExceptionText([&] { c.sock.ReadLn(); }), "Socket readln aborted");
    EXPECT_FALSE(c.sock.Canceled);
}

TEST(LineIO, SendingToAClosedPeerIsAnErrorNotASignal)
{
    Connection c([](int fd) {
        ::usleep(50000);
        LoopbackServer::Reset(fd);
    });
    ::usleep(150000);
    std::string text;
    for (int i = 0; i < 50 && text.empty(); ++i) {
        try {
            c.sock.Write(std::string(60000, 'z'));
        } catch (const ESockError& e) {
            text = e.what();
        }
    }
    EXPECT_TRUE(text == "10054:Connection reset by peer" || text == "10057:Socket is not connected") << text;
}

TEST(LineIO, ClearInputDropsOneReceive)
{
    Connection c([](int fd) {
        LoopbackServer::SendAll(fd, "stale\r\n");
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    ASSERT_TRUE(PumpUntil([&] { return c.sock.DataAvailable(); }));
    c.sock.ClearInput();
    EXPECT_FALSE(c.sock.DataAvailable());
}
