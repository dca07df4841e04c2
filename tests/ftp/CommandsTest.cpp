// The single-reply commands against a scripted peer: the bytes each sends,
// the operation code it reports, and where each failure test draws its line.

#include "FtpTestKit.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace ftptest;

namespace {

// A logged-in component against a peer whose script the test has completed;
// the peer answers QUIT at the end.
struct Session {
    explicit Session(const std::function<void(ScriptedPeer&)>& script)
    {
        ScriptLogin(peer);
        script(peer);
        peer.ExpectAndReply("QUIT\r\n", "221 Bye\r\n").Close();
        peer.Start();
        PointAt(ftp, peer);
        ftp.Connect();
        ftp.ReportLevel = 1;
        log.Attach(ftp);
    }
    ~Session()
    {
        if (ftp.Connected) {
            EXPECT_EQ(Outcome([&] { ftp.Disconnect(); }), "ok");
        }
    }
    // Everything sent after the login.
    std::string SentAfterLogin()
    {
        EXPECT_TRUE(peer.Finish());
        EXPECT_EQ(peer.Errors(), std::vector<std::string> {});
        const std::string all = peer.Received();
        EXPECT_EQ(all.rfind(LoginBytes(), 0), 0u) << all;
        return all.substr(std::min(all.size(), LoginBytes().size()));
    }

    ScriptedPeer peer;
    TKivFTP ftp { nullptr };
    Watchdog watchdog { ftp.WindowHandle };
    EventLog log;
};

struct CodeCase {
    const char* name;
    std::function<void(TKivFTP&)> call;
    std::string sent;
    TCmdType code;
};

} // namespace

TEST(Commands, EachCommandSendsItsTextAndReportsItsCode)
{
    const std::vector<CodeCase> cases = {
        { "CWD with a directory", [](TKivFTP& f) { f.DoCommand("CWD /pub"); }, "CWD /pub", TCmdType::ctChangeDir },
        { "CWD alone", [](TKivFTP& f) { f.DoCommand("CWD"); }, "CWD", TCmdType::ctChangeDir },
        { "lower-case cwd: case counts", [](TKivFTP& f) { f.DoCommand("cwd /pub"); }, "cwd /pub", TCmdType::ctDoCommand },
        { "blank before CWD", [](TKivFTP& f) { f.DoCommand(" CWD a"); }, " CWD a", TCmdType::ctDoCommand },
        { "XCWD is another verb", [](TKivFTP& f) { f.DoCommand("XCWD a"); }, "XCWD a", TCmdType::ctDoCommand },
        { "MKD alone", [](TKivFTP& f) { f.DoCommand("MKD"); }, "MKD", TCmdType::ctMakeDir },
        { "DELE", [](TKivFTP& f) { f.DoCommand("DELE x"); }, "DELE x", TCmdType::ctDelete },
        { "RMD", [](TKivFTP& f) { f.DoCommand("RMD d"); }, "RMD d", TCmdType::ctRemoveDir },
        { "PWD exactly", [](TKivFTP& f) { f.DoCommand("PWD"); }, "PWD", TCmdType::ctCurrentDir },
        { "PWD with a blank", [](TKivFTP& f) { f.DoCommand("PWD "); }, "PWD ", TCmdType::ctDoCommand },
        { "SYST", [](TKivFTP& f) { f.DoCommand("SYST"); }, "SYST", TCmdType::ctDoCommand },
        { "empty text sends an empty line", [](TKivFTP& f) { f.DoCommand(""); }, "", TCmdType::ctDoCommand },
        { "ChangeDir with an empty name keeps the blank", [](TKivFTP& f) { f.ChangeDir(""); }, "CWD ",
          TCmdType::ctChangeDir },
        { "ChangeDir joins the name unchanged", [](TKivFTP& f) { f.ChangeDir(" my dir "); }, "CWD  my dir ",
          TCmdType::ctChangeDir },
        { "MakeDirectory", [](TKivFTP& f) { f.MakeDirectory("new"); }, "MKD new", TCmdType::ctMakeDir },
        { "Delete", [](TKivFTP& f) { f.Delete("old.txt"); }, "DELE old.txt", TCmdType::ctDelete },
        { "RemoveDir", [](TKivFTP& f) { f.RemoveDir("gone"); }, "RMD gone", TCmdType::ctRemoveDir },
        { "Reinitialize goes through DoCommand", [](TKivFTP& f) { f.Reinitialize(); }, "REIN", TCmdType::ctDoCommand },
    };

    Session s([&](ScriptedPeer& p) {
        for (const CodeCase& c : cases)
            p.ExpectAndReply(c.sent + "\r\n", "250 Done\r\n");
    });
    std::string expectedSent;
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        s.log.entries.clear();
        EXPECT_EQ(Outcome([&] { c.call(s.ftp); }), "ok");
        EXPECT_EQ(s.log.entries, (std::vector<std::string> { "S:" + c.sent, "S:250 Done\r\n",
                                                             "OnSuccess(" + std::to_string(Code(c.code)) + ")" }));
        EXPECT_EQ(s.ftp.LastReply, "250 Done\r\n");
        expectedSent += c.sent + "\r\n";
    }
    EXPECT_TRUE(s.ftp.Connected);
    EXPECT_EQ(s.ftp.Vendor, kivftp::kVendorUnknown) << "REIN changes nothing in the component";
    s.ftp.Disconnect();
    EXPECT_EQ(s.SentAfterLogin(), expectedSent + "QUIT\r\n");
}

TEST(Commands, DoCommandFailsFrom400To599)
{
    struct ReplyCase {
        std::string reply;
        std::vector<std::string> events;
        std::string outcome;
    };
    const auto failed = [](const std::string& r) { return "FTPException: " + r; };
    const std::vector<ReplyCase> cases = {
        { "399 odd\r\n", { "OnSuccess(2)" }, "ok" },
        { "400 first failure\r\n", { "OnFailure(2)" }, failed("400 first failure\r\n") },
        { "499 x\r\n", { "OnFailure(2)" }, failed("499 x\r\n") },
        { "500 unknown\r\n", { "OnUnSupportedFunction(2)", "OnFailure(2)" }, failed("500 unknown\r\n") },
        { "501 syntax\r\n", { "OnUnSupportedFunction(2)", "OnFailure(2)" }, failed("501 syntax\r\n") },
        { "502 not implemented\r\n", { "OnUnSupportedFunction(2)", "OnFailure(2)" }, failed("502 not implemented\r\n") },
        { "503 bad sequence\r\n", { "OnFailure(2)" }, failed("503 bad sequence\r\n") },
        { "550 no such file\r\n", { "OnFailure(2)" }, failed("550 no such file\r\n") },
        { "599 last\r\n", { "OnFailure(2)" }, failed("599 last\r\n") },
        { "600 beyond\r\n", { "OnSuccess(2)" }, "ok" },
        { "no code at all\r\n", { "OnSuccess(2)" }, "ok" },
        // The code of the first line decides; the last line is not looked at.
        { "250-first\r\n550 last\r\n", { "OnSuccess(2)" }, "ok" },
    };
    Session s([&](ScriptedPeer& p) {
        for (const ReplyCase& c : cases)
            p.ExpectAndReply("DELE f\r\n", c.reply);
    });
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.reply);
        s.log.entries.clear();
        EXPECT_EQ(Outcome([&] { s.ftp.Delete("f"); }), c.outcome);
        EXPECT_EQ(s.log.Events(), c.events);
    }
    s.ftp.Disconnect();
    s.SentAfterLogin();
}

TEST(Commands, FailureReportWithAndWithoutHandlers)
{
    Session s([](ScriptedPeer& p) {
        p.ExpectAndReply("DELE a\r\n", "502 Not here\r\n")
            .ExpectAndReply("DELE b\r\n", "550 Denied\r\n")
            .ExpectAndReply("DELE c\r\n", "500 What\r\n");
    });
    // No OnFailure handler: the exception at once, after the unsupported event.
    s.ftp.OnFailure = nullptr;
    EXPECT_EQ(Outcome([&] { s.ftp.Delete("a"); }), "FTPException: 502 Not here\r\n");
    EXPECT_EQ(s.log.Events(), std::vector<std::string> { "OnUnSupportedFunction(2)" });

    // A handler that sets Handled: no exception and no OnSuccess.
    s.log.entries.clear();
    s.ftp.OnFailure = [&](bool& handled, TCmdType c) {
        EXPECT_FALSE(handled) << "Handled starts False";
        s.log.entries.push_back("OnFailure(" + std::to_string(Code(c)) + ")");
        handled = true;
    };
    EXPECT_EQ(Outcome([&] { s.ftp.Delete("b"); }), "ok");
    EXPECT_EQ(s.log.Events(), std::vector<std::string> { "OnFailure(2)" });

    // An exception raised by a handler ends the operation with it.
    s.log.entries.clear();
    s.ftp.OnFailure = [](bool&, TCmdType) { throw platform::Exception("from the handler"); };
    EXPECT_EQ(Outcome([&] { s.ftp.Delete("c"); }), "Exception: from the handler");
    s.ftp.Disconnect();
    s.SentAfterLogin();
}

TEST(Commands, RenameTestsEachOfItsTwoReplies)
{
    struct RenameCase {
        const char* name;
        std::string rnfrReply;
        std::string rntoReply; // empty: RNTO must not be sent
        bool handled;
        std::vector<std::string> events;
        std::string outcome;
    };
    const std::vector<RenameCase> cases = {
        { "350 then 250", "350 Ready for RNTO\r\n", "250 Renamed\r\n", false, { "OnSuccess(5)" }, "ok" },
        { "351 still goes on", "351 odd\r\n", "250 Renamed\r\n", false, { "OnSuccess(5)" }, "ok" },
        { "RNFR 352 is refused", "352 odd\r\n", "", false, { "OnFailure(5)" }, "FTPException: 352 odd\r\n" },
        { "RNFR 502 takes no unsupported test", "502 No\r\n", "", false, { "OnFailure(5)" },
          "FTPException: 502 No\r\n" },
        { "RNFR 600 passes", "600 odd\r\n", "250 Renamed\r\n", false, { "OnSuccess(5)" }, "ok" },
        { "handled RNFR refusal goes on to RNTO", "550 No such file\r\n", "503 Bad sequence\r\n", true,
          { "OnFailure(5)", "OnFailure(5)" }, "ok" },
        { "RNTO 300 passes", "350 Ready\r\n", "300 odd\r\n", false, { "OnSuccess(5)" }, "ok" },
        { "RNTO 301 is refused", "350 Ready\r\n", "301 odd\r\n", false, { "OnFailure(5)" },
          "FTPException: 301 odd\r\n" },
        { "RNTO 502 is unsupported as well", "350 Ready\r\n", "502 No\r\n", false,
          { "OnUnSupportedFunction(5)", "OnFailure(5)" }, "FTPException: 502 No\r\n" },
        { "RNTO 600 passes", "350 Ready\r\n", "600 odd\r\n", false, { "OnSuccess(5)" }, "ok" },
    };
    std::string expectedSent;
    Session s([&](ScriptedPeer& p) {
        for (const RenameCase& c : cases) {
            p.ExpectAndReply("RNFR from name\r\n", c.rnfrReply);
            if (!c.rntoReply.empty())
                p.ExpectAndReply("RNTO to\r\n", c.rntoReply);
        }
    });
    for (const RenameCase& c : cases) {
        SCOPED_TRACE(c.name);
        s.log.entries.clear();
        s.ftp.OnFailure = [&](bool& handled, TCmdType code) {
            s.log.entries.push_back("OnFailure(" + std::to_string(Code(code)) + ")");
            handled = c.handled;
        };
        EXPECT_EQ(Outcome([&] { s.ftp.Rename("from name", "to"); }), c.outcome);
        EXPECT_EQ(s.log.Events(), c.events);
        EXPECT_EQ(s.log.Statuses().front(), "RNFR from name");
        expectedSent += "RNFR from name\r\n";
        if (!c.rntoReply.empty()) {
            EXPECT_TRUE(s.log.Has("S:RNTO to"));
            expectedSent += "RNTO to\r\n";
        }
    }
    s.ftp.Disconnect();
    EXPECT_EQ(s.SentAfterLogin(), expectedSent + "QUIT\r\n");
}

TEST(Commands, WithoutAConnectionNothingIsSent)
{
    TKivFTP ftp(nullptr);
    EventLog log;
    log.Attach(ftp);
    int asked = 0;
    ftp.OnConnectionRequired = [&](bool&) { ++asked; };
    const std::vector<std::function<void()>> calls = {
        [&] { ftp.DoCommand("NOOP"); }, [&] { ftp.ChangeDir("a"); }, [&] { ftp.Rename("a", "b"); },
        [&] { ftp.Reinitialize(); },
    };
    for (const auto& call : calls)
        EXPECT_EQ(Outcome(call), "Exception: Not Connected");
    EXPECT_EQ(asked, 4);
    EXPECT_EQ(log.Events(), std::vector<std::string> {});
}

TEST(Commands, OnConnectionRequiredMayConnectFirst)
{
    ScriptedPeer peer;
    ScriptLogin(peer).ExpectAndReply("MKD d\r\n", "257 \"d\" created\r\n").ExpectAndReply("QUIT\r\n", "221 Bye\r\n");
    peer.Start();
    {
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        PointAt(ftp, peer);
        EventLog log;
        log.Attach(ftp);
        ftp.OnConnectionRequired = [&](bool& handled) {
            ftp.Connect();
            handled = true;
        };
        EXPECT_EQ(Outcome([&] { ftp.MakeDirectory("d"); }), "ok");
        EXPECT_EQ(log.Events(), (std::vector<std::string> { "OnConnect", "OnSuccess(1)" }));
        ftp.Disconnect();
    }
    ASSERT_TRUE(peer.Finish());
    EXPECT_EQ(peer.Received(), LoginBytes() + "MKD d\r\nQUIT\r\n");
}

// A server that closes instead of answering: not a success, but a clear
// error, and the component is down afterwards.
TEST(Commands, ServerClosingInsteadOfAnsweringIsAnError)
{
    ScriptedPeer peer;
    ScriptLogin(peer).Expect("DELE precious\r\n").Close();
    peer.Start();
    {
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        PointAt(ftp, peer);
        ftp.Connect();
        EventLog log;
        log.Attach(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Delete("precious"); }),
                  std::string("ESockError: ") + kivftp::kConnectionClosedText);
        EXPECT_FALSE(log.Has("OnSuccess(2)"));
        EXPECT_FALSE(ftp.Connected);
        EXPECT_NE(ftp.SocketHandle, doziz::kNoSocket);
        EXPECT_EQ(Outcome([&] { ftp.DoCommand("NOOP"); }), "Exception: Not Connected");
    }
    ASSERT_TRUE(peer.Finish());
}

// A server that timed the session out: its last words wait unread, the
// connection is gone. The next command must not pass for a success.
TEST(Commands, CommandAfterTheServerHungUpIsAnError)
{
    ScriptedPeer peer;
    ScriptLogin(peer).Send("421 Timeout.\r\n").Close();
    peer.Start();
    {
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        PointAt(ftp, peer);
        ftp.Connect();
        ASSERT_TRUE(peer.Finish());
        EventLog log;
        log.Attach(ftp);
        const std::string outcome = Outcome([&] { ftp.MakeDirectory("new"); });
        EXPECT_TRUE(outcome == std::string("ESockError: ") + kivftp::kConnectionClosedText
                    || outcome == "ESockError: 10054:Connection reset by peer")
            << outcome;
        EXPECT_FALSE(log.Has("OnSuccess(1)"));
        // Whatever the socket layer saw first, the component ends up down
        // and can be disconnected without a fuss.
        EXPECT_EQ(Outcome([&] { ftp.Disconnect(); }), "ok");
        EXPECT_FALSE(ftp.Connected);
    }
}
