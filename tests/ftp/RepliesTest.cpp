// How replies are read (first line, continuation lines, stale input, late
// replies) and the small parsers the operations share.

#include "FtpTestKit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using namespace ftptest;

namespace {

using Clock = std::chrono::steady_clock;

// Connects a component through the standard login; the test drives the rest.
void Login(TKivFTP& ftp, ScriptedPeer& peer)
{
    PointAt(ftp, peer);
    ftp.Connect();
    ftp.ReportLevel = 1;
}

} // namespace

TEST(Replies, ContinuationLinesAreReadAndReportedOnly)
{
    struct ReplyCase {
        const char* name;
        std::string reply;
        std::string firstLine;
        std::int16_t number;
        std::vector<std::string> reported;
    };
    std::string manyLines;
    std::vector<std::string> manyReported = { "211-Features:\r\n" };
    for (int i = 0; i < 500; ++i) {
        manyLines += "211-line " + std::to_string(i) + "\r\n";
        manyReported.push_back("211-line " + std::to_string(i) + "\r\n");
    }
    manyReported.push_back("211 End\r\n");
    const std::vector<ReplyCase> cases = {
        { "one line", "250 OK\r\n", "250 OK\r\n", 250, { "250 OK\r\n" } },
        { "dash continuation", "230-Welcome\r\n230-Second\r\n230 Done\r\n", "230-Welcome\r\n", 230,
          { "230-Welcome\r\n", "230-Second\r\n", "230 Done\r\n" } },
        { "blank-led continuation", "220-Hello\r\n indented\r\n220 Ready\r\n", "220-Hello\r\n", 220,
          { "220-Hello\r\n", " indented\r\n", "220 Ready\r\n" } },
        { "a short line led by a blank continues", "214-Help\r\n x\r\n214 End\r\n", "214-Help\r\n", 214,
          { "214-Help\r\n", " x\r\n", "214 End\r\n" } },
        { "hundreds of lines", "211-Features:\r\n" + manyLines + "211 End\r\n", "211-Features:\r\n", 211,
          manyReported },
        { "bare LF line ends", "200-a\n200 b\n", "200-a\n", 200, { "200-a\n", "200 b\n" } },
    };
    ScriptedPeer peer;
    ScriptLogin(peer);
    for (const ReplyCase& c : cases)
        peer.ExpectAndReply("STAT\r\n", c.reply);
    peer.ExpectAndReply("QUIT\r\n", "221 Bye\r\n").Close();
    peer.Start();
    {
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        Login(ftp, peer);
        EventLog log;
        log.Attach(ftp);
        for (const ReplyCase& c : cases) {
            SCOPED_TRACE(c.name);
            log.entries.clear();
            EXPECT_EQ(ftp.Transaction("STAT"), c.firstLine);
            EXPECT_EQ(ftp.LastReply, c.firstLine);
            EXPECT_EQ(ftp.ReplyNumber, c.number);
            EXPECT_EQ(log.Statuses(), c.reported);
            // Everything of the reply was read: nothing waits on the socket.
            EXPECT_FALSE(ftp.DataAvailable());
        }
        ftp.Disconnect();
    }
    ASSERT_TRUE(peer.Finish());
    EXPECT_EQ(peer.Errors(), std::vector<std::string> {});
}

// A line that is neither blank-led nor has "-" fourth ends the reply early;
// what follows is dropped before the next command, so that command gets its
// own reply.
TEST(Replies, LinesLeftBehindAreDiscardedBeforeTheNextCommand)
{
    ScriptedPeer peer;
    ScriptLogin(peer)
        .ExpectAndReply("HELP\r\n", "214-Hello\r\nPlain text\r\n214 Ready\r\n")
        .Sleep(100)
        .ExpectAndReply("NOOP\r\n", "200 Fine\r\n")
        .ExpectAndReply("QUIT\r\n", "221 Bye\r\n")
        .Close();
    peer.Start();
    {
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        Login(ftp, peer);
        EventLog log;
        log.Attach(ftp);
        ftp.DoCommand("HELP");
        EXPECT_EQ(log.Statuses(), (std::vector<std::string> { "HELP", "214-Hello\r\n", "Plain text\r\n" }));
        ftp.DoCommand("NOOP");
        EXPECT_EQ(ftp.LastReply, "200 Fine\r\n");
        EXPECT_EQ(ftp.ReplyNumber, 200);
        ftp.Disconnect();
    }
    ASSERT_TRUE(peer.Finish());
    EXPECT_EQ(peer.Errors(), std::vector<std::string> {});
}

TEST(Replies, ReadLateReplyWaitsAboutASecondAtMost)
{
    ScriptedPeer peer;
    ScriptLogin(peer).Sleep(1400).Send("226 Late but here\r\n").ExpectAndReply("QUIT\r\n", "221 Bye\r\n").Close();
    peer.Start();
    {
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        Login(ftp, peer);
        EventLog log;
        log.Attach(ftp);

        // Nothing arrives within the wait: an empty report after ~0.95 s.
        auto started = Clock::now();
        ftp.ReadLateReply();
        auto took = Clock::now() - started;
        EXPECT_GE(took, std::chrono::milliseconds(900));
        EXPECT_LT(took, std::chrono::milliseconds(1300));
        EXPECT_EQ(log.Statuses(), std::vector<std::string> { "" });

        // The reply arrives during the second wait, which ends with it.
        log.entries.clear();
        started = Clock::now();
        ftp.ReadLateReply();
        took = Clock::now() - started;
        EXPECT_LT(took, std::chrono::milliseconds(900));
        EXPECT_EQ(log.Statuses(), std::vector<std::string> { "226 Late but here\r\n" });
        ftp.Disconnect();
    }
    ASSERT_TRUE(peer.Finish());
    EXPECT_EQ(peer.Errors(), std::vector<std::string> {});
}

TEST(Parsers, IsContinuationLine)
{
    struct Case {
        const char* line;
        bool continues;
    };
    const Case cases[] = {
        { "230-Welcome\r\n", true },
        { " indented\r\n", true },
        { " ", true },
        { "230 Done\r\n", false },
        { "Plain text\r\n", false },
        { "", false },
        { "23-", false },
        { "ab\r\n", false },
        { "abc-", true },
        { "\r\n", false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(kivftp::IsContinuationLine(c.line), c.continues);
    }
}

TEST(Parsers, ParseByteCount)
{
    struct Case {
        const char* name;
        std::string reply;
        std::int64_t expected;
    };
    const std::vector<Case> cases = {
        { "count in parentheses", "150 Opening data connection for a.zip (1234 bytes).\r\n", 1234 },
        { "no count: the reply code is nearest", "150 Opening data connection (size in bytes not sent)\r\n", 150 },
        { "first BYTE is in the file name", "150 Opening data connection for BYTES.TXT (100 bytes)\r\n", 150 },
        { "case does not matter", "150 Here (77 ByTeS)\r\n", 77 },
        { "beyond 32 bits", "150 Opening (5000000000 bytes)\r\n", 5000000000 },
        { "largest 64-bit value", "150 (9223372036854775807 bytes)\r\n", 9223372036854775807 },
        { "one past 64 bits", "150 (9223372036854775808 bytes)\r\n", 0 },
        { "huge run of digits", "150 (" + std::string(5000, '9') + " bytes)\r\n", 0 },
        { "long run of leading zeros fits", "150 (" + std::string(40, '0') + "42 bytes)\r\n", 42 },
        { "no BYTE at all", "150 Opening data connection\r\n", 0 },
        { "BYTE at position 0", "BYTES 12\r\n", 0 },
        { "no digit before BYTE", "Opening: bytes 12\r\n", 0 },
        { "empty text", "", 0 },
        { "digits right before the word", "150 1234bytes\r\n", 1234 },
        { "BYT is not BYTE", "150 (12 byt) 34 byte\r\n", 34 },
        { "bytes after a zero byte", std::string("150 (7 ") + '\0' + "bytes)", 7 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kivftp::ParseByteCount(c.reply), c.expected);
    }
}

TEST(Parsers, CommandCode)
{
    struct Case {
        const char* command;
        TCmdType code;
    };
    const Case cases[] = {
        { "CWD /pub", TCmdType::ctChangeDir }, { "CWD", TCmdType::ctChangeDir },
        { "CWD  two blanks", TCmdType::ctChangeDir }, { "cwd /pub", TCmdType::ctDoCommand },
        { " CWD a", TCmdType::ctDoCommand }, { "XCWD a", TCmdType::ctDoCommand },
        { "CWDX", TCmdType::ctDoCommand }, { "MKD", TCmdType::ctMakeDir },
        { "DELE f", TCmdType::ctDelete }, { "RMD d", TCmdType::ctRemoveDir },
        { "PWD", TCmdType::ctCurrentDir }, { "PWD ", TCmdType::ctDoCommand },
        { "pwd", TCmdType::ctDoCommand }, { "REIN", TCmdType::ctDoCommand },
        { "", TCmdType::ctDoCommand }, { "RNFR a", TCmdType::ctDoCommand },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.command + "\"");
        EXPECT_EQ(kivftp::CommandCode(c.command), c.code);
    }
}
