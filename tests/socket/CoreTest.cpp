#include "socket/Doziz.h"

#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace doziz;
using sockettest::LoopbackServer;
using sockettest::PumpUntil;

TEST(SocketCore, FirstComponentStartsServicesAndFillsSixInfoLines)
{
    const auto before = TVazadezuv::SocketRefCount();
    {
        auto first = std::make_unique<TVazadezuv>(nullptr);
        auto second = std::make_unique<TVazadezuv>(nullptr);
        EXPECT_EQ(TVazadezuv::SocketRefCount(), before + 2);
        if (before == 0) {
            const char* labels[] = { "Version= ", "High Version= ", "Description= ", "System= ",
                                     "Max Sockets= ", "Max Udp pack size= " };
            ASSERT_EQ(first->WinsockInfo->Count(), 6);
            for (int i = 0; i < 6; ++i)
                EXPECT_EQ((*first->WinsockInfo)[i].rfind(labels[i], 0), 0u) << (*first->WinsockInfo)[i];
            EXPECT_EQ((*first->WinsockInfo)[0], "Version= 1.1");
        }
        EXPECT_EQ(second->WinsockInfo->Count(), 0);
        EXPECT_NE(first->SocketHandle, kNoSocket);
        EXPECT_NE(first->SocketHandle, second->SocketHandle);
        second.reset();
        EXPECT_EQ(TVazadezuv::SocketRefCount(), before + 1);
    }
    EXPECT_EQ(TVazadezuv::SocketRefCount(), before);
}

TEST(SocketCore, OwnerFreesItsComponents)
{
    auto owner = std::make_unique<platform::TComponent>(nullptr);
    const auto before = TVazadezuv::SocketRefCount();
    new TVazadezuv(owner.get());
    new TVazadezuv(owner.get());
    EXPECT_EQ(TVazadezuv::SocketRefCount(), before + 2);
    owner.reset();
    EXPECT_EQ(TVazadezuv::SocketRefCount(), before);
}

TEST(SocketCore, StatusTextsAreFilteredByReportLevel)
{
    TVazadezuv sock(nullptr);
    std::vector<std::string> seen;
    sock.OnStatus = [&](platform::TComponent* sender, const std::string& s) {
        EXPECT_EQ(sender, &sock);
        seen.push_back(s);
    };
    sock.ReportLevel = 0;
    sock.LastStatus = "unchanged";
    sock.Cancel();
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(sock.LastStatus, "unchanged");

    // Level 4 delivers the socket steps but not the entry of each operation.
    sock.ReportLevel = 4;
    sock.Canceled = false;
    sock.StatusMessage(4, "Sending Buffer");
    sock.StatusMessage(8, "Write");
    sock.StatusMessage(1, "220 ready");
    EXPECT_EQ(seen, (std::vector<std::string> { "Sending Buffer", "220 ready" }));
    EXPECT_EQ(sock.LastStatus, "220 ready");
}

TEST(SocketCore, RaisingStatusHandlerDoesNotDisturbTheOperation)
{
    TVazadezuv sock(nullptr);
    sock.ReportLevel = 8;
    sock.OnStatus = [](platform::TComponent*, const std::string&) { throw std::runtime_error("handler"); };
    EXPECT_NO_THROW(sock.Cancel());
    EXPECT_TRUE(sock.Canceled);
    EXPECT_EQ(sock.LastStatus, "Canceling");
}

TEST(SocketCore, ErrorTexts)
{
    TVazadezuv sock(nullptr);
    struct Case {
        std::uint16_t number;
        const char* text;
    };
    const Case cases[] = {
        { 0, "" },
        { 10061, "10061:Connection refused" },
        { 10004, "10004:Interrupted system call" },
        { 10035, "10035:Operation would block" },
        { 10065, "10065:No route to Host" },
        { 11004, "11004:Valid name, no data record of requested type" },
        { 10001, "Unknown Error No. 10001" },
        { 65535, "Unknown Error No. 65535" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(sock.GetErrorMessage(c.number), c.text);
    }
}

TEST(SocketCore, CheckSocketErrorIgnoresWouldBlockAndLowNumbers)
{
    TVazadezuv sock(nullptr);
    int errors = 0;
    sock.OnError = [&](platform::TComponent*, std::uint16_t, const std::string&) { ++errors; };
    for (int number : { 10035, 10000, 5, 0 }) {
        platform::winsock::WSASetLastError(number);
        EXPECT_NO_THROW(sock.CheckSocketError(10035));
    }
    EXPECT_EQ(errors, 0);

    platform::winsock::WSASetLastError(10054);
    std::uint16_t reported = 0;
    sock.OnError = [&](platform::TComponent*, std::uint16_t no, const std::string& text) {
        reported = no;
        EXPECT_EQ(text, "10054:Connection reset by peer");
    };
    try {
        sock.CheckSocketError(10035);
        FAIL() << "no exception";
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "10054:Connection reset by peer");
    }
    EXPECT_EQ(reported, 10054);
    EXPECT_EQ(sock.LastErrorNo, 10054);
}

TEST(SocketCore, ExceptionFromOnErrorReplacesTheSocketError)
{
    TVazadezuv sock(nullptr);
    sock.OnError = [](platform::TComponent*, std::uint16_t, const std::string&) {
        throw platform::Exception("from handler");
    };
    platform::winsock::WSASetLastError(10061);
    try {
        sock.CheckSocketError(10035);
        FAIL();
    } catch (const ESockError&) {
        FAIL() << "the handler's exception must win";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message, "from handler");
    }
}

TEST(SocketCore, NotificationsSetFlags)
{
    TVazadezuv sock(nullptr);
    // An error word clears LastEventOk even for an event nothing acts on.
    sock.HandleSocketMessage(platform::WM_SOCKETEVENT, 0, platform::MakeSelectReply(platform::FD_OOB, 10054));
    EXPECT_FALSE(sock.LastEventOk);
    sock.HandleSocketMessage(platform::WM_SOCKETEVENT, 0, platform::MakeSelectReply(platform::FD_OOB, 0));
    EXPECT_TRUE(sock.LastEventOk);

    // An accept that comes as the look-up message sets both flags, no event.
    int accepts = 0;
    sock.OnAccept = [&](platform::TComponent*) { ++accepts; };
    sock.HandleSocketMessage(platform::WM_ASYNCDONE, 0, platform::MakeSelectReply(platform::FD_ACCEPT, 0));
    EXPECT_TRUE(sock.AsyncDone);
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(accepts, 0);

    // A read hook's exception is dropped.
    sock.OnReadReady = [](platform::TComponent*) { throw std::runtime_error("x"); };
    EXPECT_NO_THROW(sock.HandleSocketMessage(platform::WM_SOCKETEVENT, 0,
                                             platform::MakeSelectReply(platform::FD_READ, 0)));
}

TEST(SocketCore, CloseNoticeWhileDataWaitsKeepsTheConnection)
{
    LoopbackServer server([](int fd) {
        LoopbackServer::SendAll(fd, "waiting data");
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    TVazadezuv sock(nullptr);
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    ASSERT_TRUE(PumpUntil([&] { return sock.DataAvailable(); }));
    const auto handle = sock.SocketHandle;
    int disconnects = 0;
    sock.OnDisconnect = [&](platform::TComponent*) { ++disconnects; };
    sock.HandleSocketMessage(platform::WM_SOCKETEVENT, handle, platform::MakeSelectReply(platform::FD_CLOSE, 0));
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(sock.SocketHandle, handle);
    EXPECT_EQ(disconnects, 0);
    EXPECT_EQ(sock.Read(0), "waiting data");
}

TEST(SocketCore, PeerCloseWithNothingLeftGivesAFreshSocket)
{
    LoopbackServer server([](int fd) { ::close(fd); });
    TVazadezuv sock(nullptr);
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    int disconnects = 0;
    sock.OnDisconnect = [&](platform::TComponent*) { ++disconnects; };
    sock.Connect();
    ASSERT_TRUE(PumpUntil([&] { return !sock.Connected; }));
    EXPECT_EQ(disconnects, 1);
    EXPECT_NE(sock.SocketHandle, kNoSocket);
    EXPECT_FALSE(sock.DataAvailable());
    // The fresh socket connects again.
    LoopbackServer second([](int fd) { ::close(fd); });
    sock.Port = second.Port();
    EXPECT_NO_THROW(sock.Connect());
}

TEST(SocketCore, DisconnectOfANeverConnectedComponentMakesAFreshSocket)
{
    TVazadezuv sock(nullptr);
    int disconnects = 0;
    sock.OnDisconnect = [&](platform::TComponent*) { ++disconnects; };
    sock.Disconnect();
    EXPECT_EQ(disconnects, 1);
    EXPECT_NE(sock.SocketHandle, kNoSocket);
    EXPECT_FALSE(sock.Connected);
}

TEST(SocketCore, DestructionRaisesNoStatusOrDisconnect)
{
    int events = 0;
    {
        TVazadezuv sock(nullptr);
        sock.ReportLevel = 8;
        sock.OnStatus = [&](platform::TComponent*, const std::string&) { ++events; };
        sock.OnDisconnect = [&](platform::TComponent*) { ++events; };
        events = 0;
    }
    EXPECT_EQ(events, 0);
}

TEST(ExtractField, Fields)
{
    struct Case {
        const char* text;
        char sep;
        int n;
        const char* field;
    };
    const Case cases[] = {
        { "227 Entering Passive Mode (10,0,0,1,4,1)", ',', 6, "1)" },
        { "227 Entering Passive Mode (10,0,0,1,4,1)", ',', 5, "4" },
        { "DELE some file.txt", ' ', 1, "DELE" },
        { "a,,b", ',', 2, "" },
        { "a,,b", ',', 3, "b" },
        { "a,b", ',', 4, "" },
        { "a,b", ',', 0, "" },
        { "a,b", ',', -2147483647 - 1, "" },
        { "", ',', 1, "" },
        { "whole", ',', 1, "whole" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + std::to_string(c.n));
        EXPECT_EQ(ExtractField(c.text, c.sep, c.n), c.field);
    }
}

TEST(ParseReplyNumber, LeadingDigits)
{
    struct Case {
        const char* line;
        int number;
    };
    const Case cases[] = {
        { "220 ready\r\n", 220 },
        { "550 No such file\r\n", 550 },
        { "230-Welcome\r\n", 230 },
        { " 220 indented\r\n", 0 },
        { "abc\r\n", 0 },
        { "", 0 },
        { "32767 max\r\n", 32767 },
        { "32768 beyond\r\n", 32767 },
        { "99999999999999999999 huge\r\n", 32767 },
        { "000000004000 only ten digits are read\r\n", 40 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(ParseReplyNumber(c.line), c.number);
    }
}
