// Uploads on the wire: names and status texts, the restart offset, the four
// kinds' codes, UploadUnique's end, and uploads that end badly.

#include "DataTestKit.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace ftpdatatest;
using testing::ElementsAre;
using Clock = std::chrono::steady_clock;

// The largest BytesSent any OnPacketSent saw, and BytesTotal then.
struct SentProgress {
    std::int64_t maxSent = 0;
    std::int64_t total = -1;
    int calls = 0;

    void Watch(TKivFTP& ftp)
    {
        ftp.OnPacketSent = [this, &ftp](platform::TComponent*) {
            ++calls;
            maxSent = std::max(maxSent, ftp.BytesSent());
            total = ftp.BytesTotal;
        };
    }
};

class UploadModes : public WireTest, public testing::WithParamInterface<bool> { };

TEST_P(UploadModes, StoresUnderLocalFileName)
{
    const bool passive = GetParam();
    const std::string bytes = BinaryBytes(100000);
    const std::string local = dir.Path("up.bin");
    WriteFile(local, bytes);
    ScriptLogin(peer);
    ScriptSetUp(passive);
    peer.ExpectAndReply("STOR up.bin\r\n", "150 Ok to send data.\r\n");
    ScriptDataOpen(passive);
    peer.ReceiveData().Send("226 Transfer complete.\r\n");
    Connect();
    ftp.Passive = passive;
    SentProgress progress;
    progress.Watch(ftp);
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Upload(local, ""); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_TRUE(SameBytes(peer.DataReceived(), bytes));
    EXPECT_EQ(ftp.BytesTotal, 100000);
    EXPECT_EQ(progress.maxSent, 100000);
    EXPECT_EQ(progress.total, 100000);
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "OnTransactionStop", "OnSuccess(9)"));
    // The status names the whole local path; the command only its name.
    EXPECT_THAT(log.Statuses(), testing::Contains("STOR " + local));
    EXPECT_EQ(log.Statuses().back(), "226 Transfer complete.\r\n");
}

INSTANTIATE_TEST_SUITE_P(Modes, UploadModes, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Passive" : "Active"; });

// REST with the offset, then STOR; only the tail goes out. A 350 to STOR is
// no failure for a resumed upload.
TEST_F(WireTest, UploadRestoreSendsTailFromOffset)
{
    const std::string bytes = BinaryBytes(5000);
    const std::string local = dir.Path("big.iso");
    WriteFile(local, bytes);
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("REST 1000\r\n", "350 Restart position accepted (1000).\r\n")
        .ExpectAndReply("STOR big.iso\r\n", "350 Go on\r\n")
        .ConnectData()
        .ReceiveData()
        .Send("226 Transfer complete.\r\n");
    Connect();
    SentProgress progress;
    progress.Watch(ftp);
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.UploadRestore(local, "big.iso", 1000); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_TRUE(SameBytes(peer.DataReceived(), bytes.substr(1000)));
    EXPECT_EQ(ftp.BytesTotal, 5000);
    EXPECT_EQ(progress.maxSent, 4000);
    EXPECT_THAT(log.Statuses(), testing::Contains("REST 1000STOR "));
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "OnTransactionStop", "OnSuccess(9)"));
}

// An offset above 2 GiB is written whole and the file is read from there
// (a sparse file, so nothing of that size is written to disk).
TEST_F(WireTest, UploadRestoreOffsetAbove31Bits)
{
    const std::string local = dir.Path("huge.iso");
    const off_t size = 3000000010LL;
    {
        const int fd = ::open(local.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ASSERT_EQ(::pwrite(fd, "0123456789", 10, 3000000000LL), 10);
        ::close(fd);
    }
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("REST 3000000000\r\n", "350 Restart position accepted.\r\n")
        .ExpectAndReply("STOR huge.iso\r\n", "150 Ok\r\n")
        .ConnectData()
        .ReceiveData()
        .Send("226 Transfer complete.\r\n");
    Connect();
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.UploadRestore(local, "", 3000000000LL); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(peer.DataReceived(), "0123456789");
    EXPECT_EQ(ftp.BytesTotal, 3000000010LL);
}

TEST_F(WireTest, UploadAppendReportsItsOwnCode)
{
    const std::string local = dir.Path("tail.txt");
    WriteFile(local, "more\r\n");
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("APPE tail.txt\r\n", "150 Ok to send data.\r\n")
        .ConnectData()
        .ReceiveData()
        .Send("226 Transfer complete.\r\n");
    Connect();
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.UploadAppend(local, ""); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(peer.DataReceived(), "more\r\n");
    EXPECT_THAT(log.Statuses(), testing::Contains("APPE " + local));
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "OnTransactionStop", "OnSuccess(10)"));
}

// An empty file: the data connection opens and closes, nothing is sent.
TEST_F(WireTest, UploadOfEmptyFile)
{
    const std::string local = dir.Path("empty.txt");
    WriteFile(local, "");
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("STOR empty.txt\r\n", "150 Ok to send data.\r\n")
        .ConnectData()
        .ReceiveData()
        .Send("226 Transfer complete.\r\n");
    Connect();
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Upload(local, "empty.txt"); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(peer.DataReceived(), "");
    EXPECT_EQ(ftp.BytesTotal, 0);
    EXPECT_EQ(log.packetsSent, 0);
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "OnTransactionStop", "OnSuccess(9)"));
}

// UploadUnique: PORT whatever Passive says, the whole file delivered (its
// close lets queued data go out), and an end that never waits without bound.
struct UniqueCase {
    const char* name;
    std::string stouReply;                    // possibly several lines
    std::function<void(ScriptedPeer&)> final; // after the data
    std::string lastStatus;
};

void PrintTo(const UniqueCase& c, std::ostream* os)
{
    *os << c.name;
}

class UniqueEnds : public WireTest, public testing::WithParamInterface<UniqueCase> { };

TEST_P(UniqueEnds, ReportWhatArrived)
{
    const UniqueCase& c = GetParam();
    const std::string bytes = BinaryBytes(300000);
    const std::string local = dir.Path("u.bin");
    WriteFile(local, bytes);
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .Expect("STOU\r\n")
        .Send(c.stouReply)
        .ConnectData()
        .ReceiveData();
    c.final(peer);
    Connect();
    ftp.Passive = true;
    {
        Watchdog dog(ftp);
        const auto started = Clock::now();
        EXPECT_EQ(Outcome([&] { ftp.UploadUnique(local); }), "ok");
        EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1500));
    }
    ExpectScriptRan();
    EXPECT_TRUE(std::regex_match(Sent(), std::regex("PORT 127,0,0,1,[0-9]+,[0-9]+\r\nSTOU\r\n"))) << Sent();
    EXPECT_TRUE(SameBytes(peer.DataReceived(), bytes));
    const auto statuses = log.Statuses();
    EXPECT_THAT(statuses, testing::Contains(Sent().substr(0, Sent().find("\r\n"))));
    EXPECT_THAT(statuses, testing::Contains("STOU"));
    EXPECT_EQ(statuses.back(), c.lastStatus);
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "OnTransactionStop", "OnSuccess(9)"));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, UniqueEnds,
    testing::Values(
        UniqueCase { "FinalReplyArrivesAndIsDropped", "150 FILE: u.bin.1\r\n",
                     [](ScriptedPeer& p) { p.Send("226 Transfer complete.\r\n"); }, "150 FILE: u.bin.1\r\n" },
        UniqueCase { "NoFinalReplyYet", "150 FILE: u.bin.1\r\n",
                     [](ScriptedPeer& p) { p.Sleep(1500).Send("226 Transfer complete.\r\n"); }, "226 Upload OK" },
        UniqueCase { "MultiLineStouReply", "150-FILE: u.bin.1\r\n150 Opening data connection\r\n",
                     [](ScriptedPeer& p) { p.Send("226-Done\r\n226 Transfer complete.\r\n"); },
                     "150-FILE: u.bin.1\r\n" }),
    [](const testing::TestParamInfo<UniqueCase>& info) { return std::string(info.param.name); });

// Uploads that end badly: an Abort from the progress handler, and a server
// that stops reading with TimeOut set, end with the abort error in bounded
// time; no ABOR is sent.
struct BadUploadCase {
    const char* name;
    std::int32_t timeOut;
    bool abortFromProgress;
};

void PrintTo(const BadUploadCase& c, std::ostream* os)
{
    *os << c.name;
}

class BadUploads : public WireTest, public testing::WithParamInterface<BadUploadCase> { };

TEST_P(BadUploads, EndWithAbortError)
{
    const BadUploadCase& c = GetParam();
    const std::string local = dir.Path("big.bin");
    WriteFile(local, BinaryBytes(32 * 1024 * 1024));
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("STOR big.bin\r\n", "150 Ok to send data.\r\n")
        .ConnectData()
        .Sleep(2000)
        .ReceiveData();
    Connect();
    ftp.TimeOut = c.timeOut;
    if (c.abortFromProgress)
        ftp.OnPacketSent = [&](platform::TComponent*) { ftp.Abort(); };
    {
        Watchdog dog(ftp);
        const auto started = Clock::now();
        EXPECT_EQ(Outcome([&] { ftp.Upload(local, ""); }), "EAbortError: Socket send aborted");
        EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1800));
    }
    ExpectScriptRan();
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "OnFailure(9)"));
    EXPECT_EQ(Sent().find("ABOR"), std::string::npos);
    EXPECT_LT(peer.DataReceived().size(), 32u * 1024 * 1024);
    EXPECT_EQ(ftp.DataSocket(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadUploads,
                         testing::Values(BadUploadCase { "AbortFromProgress", 0, true },
                                         BadUploadCase { "ServerStopsReading", 400, false }),
                         [](const testing::TestParamInfo<BadUploadCase>& info) { return std::string(info.param.name); });

// The server resets the data connection in the middle of an upload: a socket
// error, not a completed upload.
TEST_F(WireTest, UploadResetBySeverIsAnError)
{
    const std::string local = dir.Path("big.bin");
    WriteFile(local, BinaryBytes(32 * 1024 * 1024));
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("STOR big.bin\r\n", "150 Ok to send data.\r\n")
        .ConnectData()
        .Sleep(100)
        .ResetData()
        .Send("426 Connection closed; transfer aborted.\r\n");
    Connect();
    {
        Watchdog dog(ftp);
        const std::string outcome = Outcome([&] { ftp.Upload(local, ""); });
        EXPECT_EQ(outcome.rfind("ESockError: ", 0), 0u) << outcome;
    }
    ExpectScriptRan();
    EXPECT_FALSE(log.Has("OnSuccess(9)"));
    EXPECT_TRUE(log.Has("OnFailure(9)"));
}

} // namespace
