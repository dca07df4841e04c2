// Downloads on the wire: the expected size along the lines of the
// preliminary reply, the restart offset, and transfers that end badly.

#include "DataTestKit.h"

#include <gmock/gmock.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace ftpdatatest;
using testing::ElementsAre;
using Clock = std::chrono::steady_clock;

struct SizeCase {
    const char* name;
    std::vector<std::string> preliminary; // the lines answering RETR
    std::size_t sent;                     // bytes the server sends
    std::int64_t totalAtStart;            // BytesTotal at OnTransactionStart
};

void PrintTo(const SizeCase& c, std::ostream* os)
{
    *os << c.name;
}

class ExpectedSize : public WireTest, public testing::WithParamInterface<SizeCase> { };

// BytesTotal: the size the last line of the preliminary reply announces
// while the data flows, then the number of bytes that really came.
TEST_P(ExpectedSize, FollowsPreliminaryReplyThenCountsBytes)
{
    const SizeCase& c = GetParam();
    const std::string bytes = BinaryBytes(c.sent);
    peer.PassiveListen();
    ScriptLogin(peer).Expect("PASV\r\n").SendPassiveReply().AcceptData().Expect("RETR a.bin\r\n");
    for (const auto& line : c.preliminary)
        peer.Send(line);
    peer.SendData(bytes).CloseData().Send("226 Transfer complete.\r\n");
    Connect();
    ftp.Passive = true;
    std::int64_t atStart = -1;
    std::vector<std::int64_t> inPackets;
    std::int64_t lastRecvd = 0;
    auto start = ftp.OnTransactionStart;
    ftp.OnTransactionStart = [&](platform::TComponent* s) {
        atStart = ftp.BytesTotal;
        start(s);
    };
    ftp.OnPacketRecvd = [&](platform::TComponent*) {
        inPackets.push_back(ftp.BytesTotal);
        lastRecvd = ftp.BytesRecvd();
    };
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Download("a.bin", dir.Path("a.bin")); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(atStart, c.totalAtStart);
    for (std::int64_t total : inPackets)
        EXPECT_EQ(total, c.totalAtStart);
    EXPECT_EQ(lastRecvd, static_cast<std::int64_t>(c.sent));
    EXPECT_EQ(ftp.BytesTotal, static_cast<std::int64_t>(c.sent));
    EXPECT_EQ(ftp.BytesRecvd(), 0); // no data socket any more
    EXPECT_TRUE(SameBytes(ReadFile(dir.Path("a.bin")), bytes));
    const auto statuses = log.Statuses();
    for (const auto& line : c.preliminary)
        EXPECT_THAT(statuses, testing::Contains(line));
    EXPECT_THAT(statuses, testing::Contains("Received " + std::to_string(c.sent) + " Bytes"));
    EXPECT_EQ(statuses.back(), "226 Transfer complete.\r\n");
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "OnTransactionStop", "OnTransactionStop", "OnSuccess(9)"));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ExpectedSize,
    testing::Values(
        SizeCase { "SizeInOneLine", { "150 Opening BINARY mode data connection for a.bin (1234 bytes).\r\n" }, 1234, 1234 },
        // The connection closes before the announced size: what came counts.
        SizeCase { "ClosedBeforeAnnouncedSize", { "150 Opening data connection for a.bin (5000 bytes).\r\n" }, 1000,
                   5000 },
        SizeCase { "NoSizeAnnounced", { "125 Data connection already open; transfer starting.\r\n" }, 300, 0 },
        // The size of a first line does not survive a last line without one.
        SizeCase { "SizeOnFirstOfTwoLines", { "150-Opening data connection (500 bytes)\r\n", "150 Go\r\n" }, 500, 0 },
        SizeCase { "SizeOnLastLine",
                   { "150-Opening data connection\r\n", " for a.bin\r\n", "150 a.bin (777 bytes)\r\n" }, 777, 777 },
        SizeCase { "EmptyFile", { "150 Opening data connection for a.bin (0 bytes).\r\n" }, 0, 0 },
        SizeCase { "SeveralBlocks", { "150 Opening data connection for a.bin (300000 bytes).\r\n" }, 300000, 300000 }),
    [](const testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.name); });

TEST_F(WireTest, DownloadRestoreSendsLocalSizeAndAppends)
{
    const std::string old = BinaryBytes(1000, 7);
    const std::string tail = BinaryBytes(2500, 8);
    WriteFile(dir.Path("part.bin"), old);
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("REST 1000\r\n", "350 Restarting at 1000.\r\n")
        .ExpectAndReply("RETR part.bin\r\n", "150 Opening data connection (2500 bytes)\r\n")
        .ConnectData()
        .SendData(tail)
        .CloseData()
        .Send("226 Transfer complete.\r\n");
    Connect();
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.DownloadRestore("part.bin", dir.Path("part.bin")); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_TRUE(SameBytes(ReadFile(dir.Path("part.bin")), old + tail));
    EXPECT_EQ(ftp.BytesTotal, 2500);
    EXPECT_THAT(log.Statuses(), testing::Contains("REST RETR part.bin"));
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "OnTransactionStop", "OnTransactionStop", "OnSuccess(8)"));
}

// The offset of a local file above 2 GiB is written whole. The file is
// sparse, so nothing of that size is written to the disk.
TEST_F(WireTest, DownloadRestoreOffsetAbove31Bits)
{
    const std::string path = dir.Path("big.iso");
    const off_t size = 3000000000LL;
    {
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
    }
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("REST 3000000000\r\n", "350 Restarting at 3000000000.\r\n")
        .ExpectAndReply("RETR big.iso\r\n", "550 Failed to open file.\r\n");
    Connect();
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.DownloadRestore("big.iso", path); }), "FTPException: 550 Failed to open file.\r\n");
    }
    ExpectScriptRan();
    EXPECT_EQ(std::filesystem::file_size(path), static_cast<std::uintmax_t>(size));
}

// Without a local name the remote name is the local path.
TEST_F(WireTest, DownloadWithoutLocalNameUsesRemoteName)
{
    const std::string path = dir.Path("same.bin");
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("RETR " + path + "\r\n", "150 Here\r\n")
        .ConnectData()
        .SendData("abc")
        .CloseData()
        .Send("226 Done\r\n");
    Connect();
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Download(path, ""); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(ReadFile(path), "abc");
}

// Transfers that end badly: a clear exception or the Part's outcome within a
// bounded time, the partial local file kept, and nothing else changed.
struct BadCase {
    const char* name;
    bool restore;
    std::int32_t timeOut;
    std::function<void(ScriptedPeer&)> afterFirstBlock;
    bool abortFromProgress;
    std::string outcome;
    std::vector<std::string> events;
};

void PrintTo(const BadCase& c, std::ostream* os)
{
    *os << c.name;
}

class BadTransfers : public WireTest, public testing::WithParamInterface<BadCase> { };

TEST_P(BadTransfers, EndClearlyAndKeepWhatCame)
{
    const BadCase& c = GetParam();
    const std::string old = c.restore ? std::string("0123456789") : std::string();
    const std::string first = BinaryBytes(1000, 3);
    if (c.restore)
        WriteFile(dir.Path("d.bin"), old);
    ScriptLogin(peer).ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n");
    if (c.restore)
        peer.ExpectAndReply("REST 10\r\n", "350 Restarting\r\n");
    peer.ExpectAndReply("RETR d.bin\r\n", "150 Opening data connection (100000 bytes)\r\n").ConnectData().SendData(first);
    c.afterFirstBlock(peer);
    Connect();
    ftp.TimeOut = c.timeOut;
    if (c.abortFromProgress)
        ftp.OnPacketRecvd = [&](platform::TComponent*) { ftp.Abort(); };
    {
        Watchdog dog(ftp);
        const auto started = Clock::now();
        const std::string outcome = Outcome([&] {
            if (c.restore)
                ftp.DownloadRestore("d.bin", dir.Path("d.bin"));
            else
                ftp.Download("d.bin", dir.Path("d.bin"));
        });
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(1400));
    }
    ExpectScriptRan();
    EXPECT_TRUE(SameBytes(ReadFile(dir.Path("d.bin")), old + first));
    EXPECT_EQ(log.Events(), c.events);
    // No ABOR: Abort and time-outs cancel the data connection, not the component.
    EXPECT_EQ(Sent().find("ABOR"), std::string::npos);
    EXPECT_EQ(ftp.DataSocket(), nullptr);
}

auto SilentThenClose(int ms)
{
    return [ms](ScriptedPeer& p) { p.Sleep(ms).CloseData(); };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadTransfers,
    testing::Values(
        BadCase { "DownloadSilentMidTransfer", false, 300, SilentThenClose(1500), false,
                  "EAbortError: Socket send aborted", { "OnTransactionStart", "OnFailure(9)" } },
        BadCase { "DownloadRestoreSilentMidTransfer", true, 300, SilentThenClose(1500), false,
                  "EAbortError: Socket send aborted", { "OnTransactionStart" } },
        BadCase { "DownloadAbortFromProgress", false, 0, SilentThenClose(300), true,
                  "EAbortError: Socket send aborted", { "OnTransactionStart", "OnFailure(9)" } },
        BadCase { "DownloadRestoreAbortFromProgress", true, 0, SilentThenClose(300), true,
                  "EAbortError: Socket send aborted", { "OnTransactionStart" } },
        BadCase { "DownloadReset", false, 5000,
                  [](ScriptedPeer& p) { p.Sleep(100).ResetData().Send("426 Connection closed; transfer aborted.\r\n"); },
                  false, "ESockError: Data connection reset: the transfer is incomplete",
                  { "OnTransactionStart", "OnFailure(9)" } },
        BadCase { "DownloadRestoreReset", true, 5000,
                  [](ScriptedPeer& p) { p.Sleep(100).ResetData().Send("426 Connection closed; transfer aborted.\r\n"); },
                  false, "ESockError: Data connection reset: the transfer is incomplete", { "OnTransactionStart" } }),
    [](const testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

} // namespace
