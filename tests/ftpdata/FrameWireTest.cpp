// The frame every listing and transfer shares, on the wire: the order of
// commands and connections in passive and active mode, the reading of the
// PASV reply, the failure report of each refusal with its code, the flags
// that skip the data phase, and the one data connection at a time.

#include "DataTestKit.h"

#include <gmock/gmock.h>

#include <chrono>
#include <functional>
#include <regex>
#include <utility>
#include <string>
#include <vector>

namespace {

using namespace ftpdatatest;
using testing::ElementsAre;

class FrameModes : public WireTest, public testing::WithParamInterface<bool> { };

// Passive: PASV, the data connection, then LIST. Active: PORT with the
// control connection's address and the listener's port, LIST, and only
// after its reply the server's connection.
TEST_P(FrameModes, ListOrdersCommandsAndConnections)
{
    const bool passive = GetParam();
    ScriptLogin(peer);
    ScriptSetUp(passive);
    peer.ExpectAndReply("LIST\r\n", "150 Here comes the directory listing.\r\n");
    ScriptDataOpen(passive);
    peer.SendData("total 12\r\n-rw-r--r-- 1 u g 10 Jan 1 12:00 a.txt\nx\n\r\n")
        .CloseData()
        .Send("226 Directory send OK.\r\n");
    Connect();
    ftp.Passive = passive;
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.List(); }), "ok");
    }
    ExpectScriptRan();
    if (passive)
        EXPECT_EQ(Sent(), "PASV\r\nLIST\r\n");
    else
        EXPECT_TRUE(std::regex_match(Sent(), std::regex("PORT 127,0,0,1,[0-9]+,[0-9]+\r\nLIST\r\n"))) << Sent();
    // Line ends go; a line of one or two characters passes as it is.
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "L:total 12", "L:-rw-r--r-- 1 u g 10 Jan 1 12:00 a.txt",
                                          "L:x\n", "L:\r\n", "OnTransactionStop", "OnSuccess(4)"));
    const auto statuses = log.Statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), "226 Directory send OK.\r\n");
    EXPECT_EQ(ftp.DataSocket(), nullptr);
}

// The PORT text names the port the listener really has: the peer connects
// to what it read, and the transfer arrives.
TEST_P(FrameModes, DownloadArrivesInBothModes)
{
    const bool passive = GetParam();
    const std::string bytes = BinaryBytes(70000);
    ScriptLogin(peer);
    ScriptSetUp(passive);
    peer.ExpectAndReply("RETR a.bin\r\n", "150 Opening BINARY mode data connection for a.bin (70000 bytes).\r\n");
    ScriptDataOpen(passive);
    peer.SendData(bytes).CloseData().Send("226 Transfer complete.\r\n");
    Connect();
    ftp.Passive = passive;
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Download("a.bin", dir.Path("a.bin")); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_TRUE(SameBytes(ReadFile(dir.Path("a.bin")), bytes));
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "OnTransactionStop", "OnTransactionStop", "OnSuccess(9)"));
    EXPECT_GE(log.packetsRecvd, 2);
}

INSTANTIATE_TEST_SUITE_P(Modes, FrameModes, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Passive" : "Active"; });

// PASV replies as the frame reads them: the port from fields 5 and 6, the
// address never, and no transfer command after a reply it cannot read.
struct PassiveWireCase {
    const char* name;
    std::function<std::string(std::uint16_t listenPort)> reply;
    std::string outcome; // "ok" when the listing goes through
    std::vector<std::string> events;
};

void PrintTo(const PassiveWireCase& c, std::ostream* os)
{
    *os << c.name;
}

class PassiveReplies : public WireTest, public testing::WithParamInterface<PassiveWireCase> { };

TEST_P(PassiveReplies, DecideWhetherTheTransferCommandIsSent)
{
    const PassiveWireCase& c = GetParam();
    ScriptLogin(peer);
    peer.PassiveListen();
    const std::uint16_t port = peer.DataListenPort();
    peer.Expect("PASV\r\n").Send(c.reply(port));
    const bool goesOn = c.outcome == "ok";
    if (goesOn) {
        peer.AcceptData()
            .ExpectAndReply("LIST\r\n", "150 Here\r\n")
            .SendData("one\r\n")
            .CloseData()
            .Send("226 Done\r\n");
    }
    Connect();
    ftp.Passive = true;
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.List(); }), c.outcome);
    }
    ExpectScriptRan();
    EXPECT_EQ(Sent(), goesOn ? "PASV\r\nLIST\r\n" : "PASV\r\n");
    EXPECT_EQ(log.Events(), c.events);
    EXPECT_EQ(ftp.DataSocket(), nullptr);
}

std::string Bytes(std::uint16_t port, int highDelta)
{
    // The same port written with a high byte `highDelta` lower and a low
    // byte above 255.
    return std::to_string((port >> 8) - highDelta) + "," + std::to_string((port & 0xff) + 256 * highDelta);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PassiveReplies,
    testing::Values(
        PassiveWireCase { "Usual", [](std::uint16_t p) { return testsupport::ScriptedPeer::PassiveReply(p); }, "ok",
                          { "OnTransactionStart", "L:one", "OnTransactionStop", "OnSuccess(4)" } },
        PassiveWireCase { "OtherAddressAndLowByteAbove255",
                          [](std::uint16_t p) { return "227 Entering Passive Mode (10,9,8,7," + Bytes(p, 1) + ").\r\n"; },
                          "ok", { "OnTransactionStart", "L:one", "OnTransactionStop", "OnSuccess(4)" } },
        PassiveWireCase { "MissingParenthesis",
                          [](std::uint16_t p) { return "227 Entering Passive Mode (127,0,0,1," + Bytes(p, 0) + ".\r\n"; },
                          "EConvertError: '' 不是一个有效的整形值", {} },
        PassiveWireCase { "ExtraCommaBeforeNumbers",
                          [](std::uint16_t p) { return "227 Passive mode, ok (127,0,0,1," + Bytes(p, 0) + ")\r\n"; },
                          "EConvertError: '' 不是一个有效的整形值", {} },
        PassiveWireCase { "Refused425IsParsed", [](std::uint16_t) { return std::string("425 Can't open data connection\r\n"); },
                          "EConvertError: '' 不是一个有效的整形值", {} },
        PassiveWireCase { "Refused502WithoutUnsupported",
                          [](std::uint16_t) { return std::string("502 PASV not implemented\r\n"); },
                          "FTPException: 502 PASV not implemented\r\n", { "OnFailure(4)" } },
        PassiveWireCase { "PortBeyond16Bits", [](std::uint16_t) { return std::string("227 (127,0,0,1,300,1)\r\n"); },
                          "EConvertError: '76801' is not a valid port number", {} }),
    [](const testing::TestParamInfo<PassiveWireCase>& info) { return std::string(info.param.name); });

// Each operation's refusals, each with its code; nothing is transferred, no
// local file is created or changed, and nothing follows the refused command.
struct RefusalCase {
    const char* name;
    bool passive;
    std::function<void(ScriptedPeer&)> script; // after the login
    std::function<void(TKivFTP&, const TempDir&)> call;
    std::string sent;
    std::string outcome;
    std::vector<std::string> events;
};

void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << c.name;
}

class Refusals : public WireTest, public testing::WithParamInterface<RefusalCase> { };

const std::string kOldData = "local data that must stay";

TEST_P(Refusals, ReportWithTheOperationsCode)
{
    const RefusalCase& c = GetParam();
    WriteFile(dir.Path("keep.bin"), kOldData);
    WriteFile(dir.Path("up.bin"), "upload me");
    ScriptLogin(peer);
    c.script(peer);
    Connect();
    ftp.Passive = c.passive;
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { c.call(ftp, dir); }), c.outcome);
    }
    ExpectScriptRan();
    EXPECT_TRUE(std::regex_match(Sent(), std::regex(c.sent))) << Sent();
    EXPECT_EQ(log.Events(), c.events);
    EXPECT_EQ(ReadFile(dir.Path("keep.bin")), kOldData);
    EXPECT_FALSE(FileExists(dir.Path("fresh.bin")));
    EXPECT_EQ(ftp.DataSocket(), nullptr);
}

auto Pasv(const std::string& reply)
{
    return [reply](ScriptedPeer& p) { p.ExpectAndReply("PASV\r\n", reply); };
}
auto Port(const std::string& reply)
{
    return [reply](ScriptedPeer& p) { p.ExpectPrefixAndReply("PORT 127,0,0,1,", reply); };
}
auto PortThen(const std::string& command, const std::string& reply)
{
    return [command, reply](ScriptedPeer& p) {
        p.ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n").ExpectAndReply(command, reply);
    };
}
auto PortThenTwo(const std::string& first, const std::string& firstReply, const std::string& second,
                 const std::string& secondReply)
{
    return [=](ScriptedPeer& p) {
        p.ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
            .ExpectAndReply(first, firstReply)
            .ExpectAndReply(second, secondReply);
    };
}

const std::string kPort = "PORT 127,0,0,1,[0-9]+,[0-9]+\r\n";

INSTANTIATE_TEST_SUITE_P(
    Operations, Refusals,
    testing::Values(
        RefusalCase { "ListPasv500", true, Pasv("500 Unknown command\r\n"), [](TKivFTP& f, const TempDir&) { f.List(); },
                      "PASV\r\n", "FTPException: 500 Unknown command\r\n", { "OnFailure(4)" } },
        RefusalCase { "ListPort500", false, Port("500 Illegal PORT\r\n"), [](TKivFTP& f, const TempDir&) { f.List(); },
                      kPort, "FTPException: 500 Illegal PORT\r\n", { "OnFailure(4)" } },
        RefusalCase { "ListList502", false, PortThen("LIST\r\n", "502 Not implemented\r\n"),
                      [](TKivFTP& f, const TempDir&) { f.List(); }, kPort + "LIST\r\n",
                      "FTPException: 502 Not implemented\r\n", { "OnUnSupportedFunction(4)", "OnFailure(4)" } },
        RefusalCase { "DownloadPasv502", true, Pasv("502 No passive\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.Download("a", d.Path("fresh.bin")); }, "PASV\r\n",
                      "FTPException: 502 No passive\r\n", { "OnFailure(9)", "OnFailure(9)" } },
        RefusalCase { "DownloadRetr550", false, PortThen("RETR a\r\n", "550 No such file\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.Download("a", d.Path("fresh.bin")); }, kPort + "RETR a\r\n",
                      "FTPException: 550 No such file\r\n", { "OnFailure(9)", "OnFailure(9)" } },
        RefusalCase { "DownloadRetr550KeepsExistingFile", false, PortThen("RETR a\r\n", "550 No such file\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.Download("a", d.Path("keep.bin")); }, kPort + "RETR a\r\n",
                      "FTPException: 550 No such file\r\n", { "OnFailure(9)", "OnFailure(9)" } },
        RefusalCase { "DownloadRestoreRetr550", false,
                      PortThenTwo("REST 25\r\n", "350 Restarting\r\n", "RETR a\r\n", "550 No such file\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.DownloadRestore("a", d.Path("keep.bin")); },
                      kPort + "REST 25\r\nRETR a\r\n", "FTPException: 550 No such file\r\n", { "OnFailure(8)" } },
        // A server that cannot restart would send the file from byte 0.
        RefusalCase { "DownloadRestoreRest502", false, PortThen("REST 25\r\n", "502 REST not implemented\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.DownloadRestore("a", d.Path("keep.bin")); },
                      kPort + "REST 25\r\n", "FTPException: 502 REST not implemented\r\n",
                      { "OnUnSupportedFunction(8)", "OnFailure(8)" } },
        RefusalCase { "DownloadRestoreRest450", false, PortThen("REST 25\r\n", "450 Not now\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.DownloadRestore("a", d.Path("keep.bin")); },
                      kPort + "REST 25\r\n", "FTPException: 450 Not now\r\n", { "OnFailure(8)" } },
        RefusalCase { "UploadStor553", false, PortThen("STOR r\r\n", "553 Not allowed\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.Upload(d.Path("up.bin"), "r"); }, kPort + "STOR r\r\n",
                      "FTPException: 553 Not allowed\r\n", { "OnFailure(9)", "OnFailure(9)" } },
        RefusalCase { "UploadPasvPortZero", true,
                      [](ScriptedPeer& p) { p.ExpectAndReply("PASV\r\n", "227 x (127,0,0,1,0,0)\r\n"); },
                      [](TKivFTP& f, const TempDir& d) { f.Upload(d.Path("up.bin"), "r"); }, "PASV\r\n",
                      "EConvertError: '0' is not a valid port number", { "OnFailure(9)" } },
        RefusalCase { "UploadStorUnsupported", false, PortThen("STOR up.bin\r\n", "502 Not implemented\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.Upload(d.Path("up.bin"), ""); }, kPort + "STOR up.bin\r\n",
                      "FTPException: 502 Not implemented\r\n",
                      { "OnUnSupportedFunction(9)", "OnFailure(9)", "OnFailure(9)" } },
        // A server that refuses REST would store the tail as the whole file.
        RefusalCase { "UploadRestoreRest502", false, PortThen("REST 3\r\n", "502 REST not implemented\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.UploadRestore(d.Path("up.bin"), "r", 3); },
                      kPort + "REST 3\r\n", "FTPException: 502 REST not implemented\r\n",
                      { "OnUnSupportedFunction(9)", "OnFailure(9)" } },
        RefusalCase { "UploadRestoreStor400", false,
                      PortThenTwo("REST 3\r\n", "350 Restarting\r\n", "STOR r\r\n", "400 No\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.UploadRestore(d.Path("up.bin"), "r", 3); },
                      kPort + "REST 3\r\nSTOR r\r\n", "FTPException: 400 No\r\n", { "OnFailure(9)" } },
        RefusalCase { "UploadAppendAppe550", false, PortThen("APPE r\r\n", "550 Denied\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.UploadAppend(d.Path("up.bin"), "r"); }, kPort + "APPE r\r\n",
                      "FTPException: 550 Denied\r\n", { "OnFailure(10)" } },
        RefusalCase { "UploadUniquePort500", true, Port("500 Illegal PORT\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.UploadUnique(d.Path("up.bin")); }, kPort,
                      "FTPException: 500 Illegal PORT\r\n", { "OnFailure(9)" } },
        RefusalCase { "UploadUniqueStou502", true, PortThen("STOU\r\n", "502 Not implemented\r\n"),
                      [](TKivFTP& f, const TempDir& d) { f.UploadUnique(d.Path("up.bin")); }, kPort + "STOU\r\n",
                      "FTPException: 502 Not implemented\r\n", { "OnUnSupportedFunction(9)", "OnFailure(9)" } },
        RefusalCase { "NlistPort500RaisesAtOnce", true, Port("500 Illegal PORT\r\n"),
                      [](TKivFTP& f, const TempDir&) { f.Nlist(); }, kPort, "FTPException: 500 Illegal PORT\r\n", {} },
        RefusalCase { "NlistNlst550RaisesAtOnce", false, PortThen("NLST\r\n", "550 No files found\r\n"),
                      [](TKivFTP& f, const TempDir&) { f.Nlist(); }, kPort + "NLST\r\n",
                      "FTPException: 550 No files found\r\n", {} }),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// A local file that cannot be opened ends an upload before any command.
TEST_F(WireTest, UploadOfMissingFileSendsNothing)
{
    ScriptLogin(peer);
    Connect();
    const std::string path = dir.Path("missing.bin");
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Upload(path, "r"); }),
                  "EStreamError: Cannot open file \"" + path + "\". No such file or directory");
        EXPECT_EQ(Outcome([&] { ftp.UploadUnique(path); }),
                  "EStreamError: Cannot open file \"" + path + "\". No such file or directory");
    }
    ExpectScriptRan();
    EXPECT_EQ(Sent(), "");
    EXPECT_THAT(log.Events(), ElementsAre("OnFailure(9)"));
    EXPECT_EQ(ftp.DataSocket(), nullptr);
}

// A handler that takes the failure: no exception, no data, no OnSuccess,
// and the component is ready for the next operation.
TEST_F(WireTest, HandledRefusalEndsQuietly)
{
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("RETR a\r\n", "550 No such file\r\n")
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("RETR b\r\n", "150 Here (3 bytes)\r\n")
        .ConnectData()
        .SendData("abc")
        .CloseData()
        .Send("226 Done\r\n");
    Connect();
    int failures = 0;
    ftp.OnFailure = [&](bool& handled, TCmdType) {
        ++failures;
        handled = true;
    };
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Download("a", dir.Path("fresh.bin")); }), "ok");
        EXPECT_EQ(failures, 1);
        EXPECT_FALSE(log.Has("OnTransactionStart"));
        EXPECT_FALSE(log.Has("OnSuccess(9)"));
        EXPECT_FALSE(FileExists(dir.Path("fresh.bin")));
        EXPECT_EQ(Outcome([&] { ftp.Download("b", dir.Path("b.bin")); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(ReadFile(dir.Path("b.bin")), "abc");
    EXPECT_TRUE(log.Has("OnSuccess(9)"));
}

// A server that accepts PORT and the transfer command but never connects:
// with TimeOut set, the accept ends as cancelled instead of waiting for ever.
TEST_F(WireTest, AcceptWithoutConnectionEndsAfterTimeOut)
{
    ScriptLogin(peer)
        .ExpectPrefixAndReply("PORT 127,0,0,1,", "200 PORT ok\r\n")
        .ExpectAndReply("RETR a\r\n", "150 Opening data connection\r\n");
    Connect(300);
    const auto started = std::chrono::steady_clock::now();
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Download("a", dir.Path("fresh.bin")); }), "ESockError: Accepting Canceled");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    ExpectScriptRan();
    EXPECT_THAT(log.Events(), ElementsAre("OnFailure(9)"));
    EXPECT_FALSE(FileExists(dir.Path("fresh.bin")));
}

// The reply to the transfer command comes later than TimeOut: the
// component's time-out fires during that wait, so in passive mode the data
// phase and the final reply are skipped and the download still succeeds;
// no ABOR, since nobody cancelled.
TEST_F(WireTest, SlowReplyToTransferCommandSkipsDataPhase)
{
    peer.PassiveListen();
    ScriptLogin(peer).Expect("PASV\r\n").SendPassiveReply().AcceptData()
        .Expect("RETR a\r\n")
        .Sleep(700)
        .Send("150 Here (3 bytes)\r\n")
        .Send("226 Done\r\n")
        .Sleep(300);
    Connect(250);
    ftp.Passive = true;
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Download("a", dir.Path("fresh.bin")); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(Sent(), "PASV\r\nRETR a\r\n");
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "OnTransactionStop", "OnTransactionStop", "OnSuccess(9)"));
    EXPECT_FALSE(FileExists(dir.Path("fresh.bin")));
    // The final reply was not read: the last status is the reply to RETR.
    ASSERT_FALSE(log.Statuses().empty());
    EXPECT_EQ(log.Statuses().back(), "150 Here (3 bytes)\r\n");
}

// Cancel on the component before the data phase: no data moves, the final
// reply is not read, and List and Download send ABOR while uploads do not.
struct CancelCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> commands; // each with its reply
    std::function<void(TKivFTP&, const TempDir&)> call;
    bool sendsAbort;
    std::vector<std::string> events;
};

void PrintTo(const CancelCase& c, std::ostream* os)
{
    *os << c.name;
}

class Cancelled : public WireTest, public testing::WithParamInterface<CancelCase> { };

TEST_P(Cancelled, SkipsDataPhaseAndFinalReply)
{
    const CancelCase& c = GetParam();
    WriteFile(dir.Path("up.bin"), "upload me");
    peer.PassiveListen();
    ScriptLogin(peer).Expect("PASV\r\n").SendPassiveReply().AcceptData();
    std::string commands;
    for (const auto& [command, reply] : c.commands) {
        peer.ExpectAndReply(command, reply);
        commands += command;
    }
    if (c.sendsAbort)
        peer.ExpectAndReply("ABOR\r\n", "226 ABOR successful\r\n");
    peer.ReceiveData();
    Connect();
    ftp.Passive = true;
    auto start = ftp.OnTransactionStart;
    ftp.OnTransactionStart = [&](platform::TComponent* s) {
        start(s);
        ftp.Cancel();
    };
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { c.call(ftp, dir); }), "ok");
    }
    ExpectScriptRan();
    EXPECT_EQ(Sent(), "PASV\r\n" + commands + (c.sendsAbort ? "ABOR\r\n" : ""));
    EXPECT_EQ(peer.DataReceived(), "");
    EXPECT_EQ(log.Events(), c.events);
    // ABOR clears the flag; uploads leave it to the next operation.
    EXPECT_EQ(ftp.Canceled, !c.sendsAbort);
    EXPECT_FALSE(FileExists(dir.Path("fresh.bin")));
}

INSTANTIATE_TEST_SUITE_P(
    Operations, Cancelled,
    testing::Values(
        CancelCase { "List", { { "LIST\r\n", "150 Go\r\n" } }, [](TKivFTP& f, const TempDir&) { f.List(); }, true,
                     { "OnTransactionStart", "OnTransactionStop", "OnSuccess(4)" } },
        CancelCase { "Download", { { "RETR a\r\n", "150 Go\r\n" } }, [](TKivFTP& f, const TempDir& d) { f.Download("a", d.Path("fresh.bin")); },
                     true, { "OnTransactionStart", "OnTransactionStop", "OnTransactionStop", "OnSuccess(9)" } },
        CancelCase { "DownloadRestore", { { "REST 0\r\n", "350 Restarting\r\n" }, { "RETR a\r\n", "150 Go\r\n" } },
                     [](TKivFTP& f, const TempDir& d) { f.DownloadRestore("a", d.Path("fresh.bin")); }, true,
                     { "OnTransactionStart", "OnTransactionStop", "OnTransactionStop", "OnSuccess(8)" } },
        CancelCase { "Upload", { { "STOR r\r\n", "150 Go\r\n" } }, [](TKivFTP& f, const TempDir& d) { f.Upload(d.Path("up.bin"), "r"); }, false,
                     { "OnTransactionStart", "OnTransactionStop", "OnSuccess(9)" } },
        CancelCase { "UploadRestore", { { "REST 2\r\n", "350 Restarting\r\n" }, { "STOR r\r\n", "150 Go\r\n" } },
                     [](TKivFTP& f, const TempDir& d) { f.UploadRestore(d.Path("up.bin"), "r", 2); }, false,
                     { "OnTransactionStart", "OnTransactionStop", "OnSuccess(9)" } }),
    [](const testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.name); });

// One data connection at a time: a listing or transfer started from an
// event handler of a running one is refused and the running one goes on.
TEST_F(WireTest, SecondTransferFromHandlerIsRefused)
{
    const std::string bytes = BinaryBytes(1000);
    peer.PassiveListen();
    ScriptLogin(peer)
        .Expect("PASV\r\n")
        .SendPassiveReply()
        .AcceptData()
        .ExpectAndReply("RETR a\r\n", "150 Here (1000 bytes)\r\n")
        .SendData(bytes)
        .CloseData()
        .Send("226 Done\r\n");
    Connect();
    ftp.Passive = true;
    WriteFile(dir.Path("up.bin"), "x");
    std::vector<std::string> refusals;
    auto start = ftp.OnTransactionStart;
    ftp.OnTransactionStart = [&](platform::TComponent* s) {
        start(s);
        refusals.push_back(Outcome([&] { ftp.List(); }));
        refusals.push_back(Outcome([&] { ftp.Nlist(); }));
        refusals.push_back(Outcome([&] { ftp.Download("b", dir.Path("b.bin")); }));
        refusals.push_back(Outcome([&] { ftp.DownloadRestore("b", dir.Path("b.bin")); }));
        refusals.push_back(Outcome([&] { ftp.Upload(dir.Path("up.bin"), "u"); }));
        refusals.push_back(Outcome([&] { ftp.UploadUnique(dir.Path("up.bin")); }));
    };
    {
        Watchdog dog(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Download("a", dir.Path("a.bin")); }), "ok");
    }
    ExpectScriptRan();
    const std::string refused = "Exception: A data transfer is already in progress!";
    EXPECT_THAT(refusals, ElementsAre(refused, refused, refused, refused, refused, refused));
    EXPECT_EQ(Sent(), "PASV\r\nRETR a\r\n");
    EXPECT_TRUE(SameBytes(ReadFile(dir.Path("a.bin")), bytes));
    EXPECT_FALSE(FileExists(dir.Path("b.bin")));
    // Download and Upload offer their refusal to OnFailure, as every exception.
    EXPECT_THAT(log.Events(), ElementsAre("OnTransactionStart", "OnFailure(9)", "OnFailure(9)", "OnTransactionStop",
                                          "OnTransactionStop", "OnSuccess(9)"));
}

} // namespace
