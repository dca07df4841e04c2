// Listings on the wire: SYST and the parser of List, the bounds of the
// listing loop, and Nlist's active set-up, byte count and late reply.

#include "DataTestKit.h"

#include "platform/Forms.h"

#include <gmock/gmock.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace ftpdatatest;
using testing::ElementsAre;
using Clock = std::chrono::steady_clock;

const std::string kListing = "total 8\r\n"
                             "-rw-r--r--   1 owner    group        1234 Jan  5 12:00 readme.txt\r\n"
                             "drwxr-xr-x 2 owner group 512 Mar 3 09:15 docs\r\n";

// Scripts one passive LIST that sends `listing`.
void ScriptPassiveList(ScriptedPeer& peer, const std::string& listing)
{
    peer.PassiveListen();
    peer.Expect("PASV\r\n")
        .SendPassiveReply()
        .AcceptData()
        .ExpectAndReply("LIST\r\n", "150 Here comes the directory listing.\r\n")
        .SendData(listing)
        .CloseData()
        .Send("226 Directory send OK.\r\n");
}

// The first List asks for the system and parses; the second asks nothing
// and starts its columns afresh.
TEST_F(WireTest, ListDetectsSystemOnceAndParses)
{
    ScriptLogin(peer).ExpectAndReply("SYST\r\n", "215 UNIX Type: L8\r\n");
    ScriptPassiveList(peer, kListing);
    ScriptPassiveList(peer, "-rw-r--r-- 1 u g 7 Feb 2 2001 other.txt\r\n");
    Connect();
    ftp.Passive = true;
    ftp.ParseList = true;
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.List(); }), "ok");
        EXPECT_EQ(ftp.Vendor, 2400);
        ASSERT_NE(ftp.DirectoryList(), nullptr);
        EXPECT_EQ(ftp.DirectoryList()->Names.Items(), (std::vector<std::string> { "readme.txt", "docs" }));
        EXPECT_EQ(ftp.DirectoryList()->Sizes.Items(), (std::vector<std::string> { "1234", "512" }));
        EXPECT_EQ(ftp.DirectoryList()->Dates.Items(), (std::vector<std::string> { "Jan 5 12:00", "Mar 3 09:15" }));
        EXPECT_EQ(ftp.DirectoryList()->Attributes.Items(), (std::vector<std::string> { "-rw-r--r--", "drwxr-xr-x" }));
        EXPECT_THAT(log.Events(), ElementsAre("OnSuccess(14)", "OnTransactionStart", "L:total 8",
                                              "L:-rw-r--r--   1 owner    group        1234 Jan  5 12:00 readme.txt",
                                              "L:drwxr-xr-x 2 owner group 512 Mar 3 09:15 docs", "OnTransactionStop",
                                              "OnSuccess(4)"));
        EXPECT_EQ(Outcome([&] { ftp.List(); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(Sent(), "SYST\r\nPASV\r\nLIST\r\nPASV\r\nLIST\r\n");
    EXPECT_EQ(ftp.DirectoryList()->Names.Items(), (std::vector<std::string> { "other.txt" }));
}

// A refused SYST never ends the listing, even when OnFailure raises.
TEST_F(WireTest, ListGoesOnAfterRefusedSyst)
{
    ScriptLogin(peer).ExpectAndReply("SYST\r\n", "500 Command refused\r\n");
    ScriptPassiveList(peer, kListing);
    Connect();
    ftp.Passive = true;
    ftp.ParseList = true;
    ftp.OnFailure = [&](bool&, TCmdType c) {
        log.entries.push_back("OnFailure(" + std::to_string(Code(c)) + ")");
        throw platform::Exception("from the handler");
    };
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.List(); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(ftp.Vendor, 2410);
    ASSERT_NE(ftp.DirectoryList(), nullptr);
    EXPECT_EQ(ftp.DirectoryList()->Names.Count(), 2);
    const auto events = log.Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0], "OnUnSupportedFunction(14)");
    EXPECT_EQ(events[1], "OnFailure(14)");
    EXPECT_TRUE(log.Has("OnSuccess(4)"));
}

// A Vendor that selects no parser: List lists without parsing.
TEST_F(WireTest, ListWithoutParserForUnknownVendor)
{
    ScriptLogin(peer);
    ScriptPassiveList(peer, kListing);
    Connect();
    ftp.Passive = true;
    ftp.ParseList = true;
    ftp.Vendor = 1234;
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.List(); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(Sent(), "PASV\r\nLIST\r\n");
    EXPECT_EQ(ftp.DirectoryList(), nullptr);
    EXPECT_EQ(log.Events().size(), 6u);
}

// The data connection has closed and the final reply does not come: List
// gives the reply up after TimeOut, ends as completed, and the reply that
// comes later is dropped by the next operation instead of being taken for
// its reply.
TEST_F(WireTest, ListWithoutFinalReplyEndsAfterTimeOut)
{
    ScriptLogin(peer);
    peer.PassiveListen();
    peer.Expect("PASV\r\n")
        .SendPassiveReply()
        .AcceptData()
        .ExpectAndReply("LIST\r\n", "150 Here\r\n")
        .SendData("one\r\n")
        .CloseData()
        .Sleep(900)
        .Send("226 Late\r\n")
        .ExpectAndReply("NOOP\r\n", "200 NOOP ok\r\n");
    Connect(300);
    ftp.Passive = true;
    {
        Watchdog dog(ftp);
        const auto started = Clock::now();
        EXPECT_EQ(Outcome([&] { ftp.List(); }), "ok");
        EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(850));
        EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "L:one", "OnTransactionStop", "OnSuccess(4)"));
        EXPECT_EQ(log.Statuses().back(), "one");
        // Let the late reply arrive, then run the next command.
        const auto until = Clock::now() + std::chrono::milliseconds(1200);
        while (Clock::now() < until)
            platform::Application.ProcessMessages();
        EXPECT_EQ(Outcome([&] { ftp.DoCommand("NOOP"); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(ftp.LastReply, "200 NOOP ok\r\n");
}

// While the data connection stays open and silent, an Abort still ends the
// listing, and with TimeOut set so does the silence itself.
struct SilentCase {
    const char* name;
    std::int32_t timeOut;
    bool abortFromHandler;
};

void PrintTo(const SilentCase& c, std::ostream* os)
{
    *os << c.name;
}

class SilentListing : public WireTest, public testing::WithParamInterface<SilentCase> { };

TEST_P(SilentListing, EndsWithAbortError)
{
    const SilentCase& c = GetParam();
    ScriptLogin(peer);
    peer.PassiveListen();
    peer.Expect("PASV\r\n")
        .SendPassiveReply()
        .AcceptData()
        .ExpectAndReply("LIST\r\n", "150 Here\r\n")
        .SendData("one\r\n")
        .Sleep(1500)
        .CloseData();
    Connect();
    ftp.TimeOut = c.timeOut;
    ftp.Passive = true;
    if (c.abortFromHandler) {
        ftp.OnListItem = [&](const std::string& line) {
            log.entries.push_back("L:" + line);
            ftp.Abort();
        };
    }
    {
        Watchdog dog(ftp);
        const auto started = Clock::now();
        EXPECT_EQ(Outcome([&] { ftp.List(); }), "EAbortError: Socket readln aborted");
        EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1200));
    }
    ExpectScriptRan();
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "L:one"));
    EXPECT_EQ(Sent(), "PASV\r\nLIST\r\n");
    EXPECT_EQ(ftp.DataSocket(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, SilentListing,
                         testing::Values(SilentCase { "AbortFromHandler", 0, true },
                                         SilentCase { "SilenceLongerThanTimeOut", 300, false }),
                         [](const testing::TestParamInfo<SilentCase>& info) { return std::string(info.param.name); });

TEST_F(WireTest, ListFromListItemHandlerIsRefused)
{
    ScriptLogin(peer);
    ScriptPassiveList(peer, kListing);
    Connect();
    ftp.Passive = true;
    std::vector<std::string> nested;
    ftp.OnListItem = [&](const std::string&) { nested.push_back(Outcome([&] { ftp.List(); })); };
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.List(); }), "ok");
    }
    ExpectScriptRan();
    ASSERT_EQ(nested.size(), 3u);
    EXPECT_EQ(nested[0], "Exception: A list command is already being processed!");
    EXPECT_TRUE(log.Has("OnSuccess(4)"));
}

// Nlist listens whatever Passive says, counts the bytes of the lines it
// read, and reports them.
TEST_F(WireTest, NlistAlwaysActiveAndCountsLineBytes)
{
    const std::string names = "a.txt\r\nb.txt\nlonger name.bin\r\n";
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("NLST\r\n", "150 Here comes the list (99 bytes)\r\n")
        .ConnectData()
        .SendData(names)
        .CloseData()
        .Send("226 Transfer complete.\r\n");
    Connect();
    ftp.Passive = true;
    std::int64_t totalAtStart = -1;
    auto start = ftp.OnTransactionStart;
    ftp.OnTransactionStart = [&](platform::TComponent* s) {
        totalAtStart = ftp.BytesTotal;
        start(s);
    };
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Nlist(); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_TRUE(std::regex_match(Sent(), std::regex("PORT 127,0,0,1,[0-9]+,[0-9]+\r\nNLST\r\n"))) << Sent();
    EXPECT_EQ(totalAtStart, 99);
    EXPECT_EQ(ftp.BytesTotal, static_cast<std::int64_t>(names.size()));
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "L:a.txt", "L:b.txt", "L:longer name.bin",
                                          "OnTransactionStop", "OnSuccess(13)"));
    const auto statuses = log.Statuses();
    const std::string port = Sent().substr(0, Sent().find("\r\n"));
    EXPECT_THAT(statuses, testing::Contains(port));
    EXPECT_THAT(statuses, testing::Contains("NLST"));
    EXPECT_THAT(statuses, testing::Contains("Received " + std::to_string(names.size()) + " Bytes"));
    EXPECT_EQ(statuses.back(), "226 Transfer complete.\r\n");
}

// Cancel during Nlist: no data, no final reply, no ABOR; the reply that
// arrives late is collected after OnSuccess.
TEST_F(WireTest, CancelledNlistCollectsLateReply)
{
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("NLST\r\n", "150 Here\r\n")
        .ConnectData()
        .Sleep(200)
        .Send("226 Late\r\n")
        .ReceiveData();
    Connect();
    auto start = ftp.OnTransactionStart;
    ftp.OnTransactionStart = [&](platform::TComponent* s) {
        start(s);
        ftp.Cancel();
    };
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Nlist(); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_FALSE(ftp.Canceled);
    const auto& e = log.entries;
    ASSERT_GE(e.size(), 2u);
    EXPECT_EQ(e[e.size() - 2], "OnSuccess(13)");
    EXPECT_EQ(e.back(), "S:226 Late\r\n");
    EXPECT_EQ(Sent().find("ABOR"), std::string::npos);
}

} // namespace
