// Connect, Disconnect and Abort of the FTP component against a scripted peer:
// every byte of each login form, the failure path and its clean-up, the
// password kept out of every status text, and servers that misbehave.

#include "FtpTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

using namespace ftptest;

namespace {

using Clock = std::chrono::steady_clock;

struct LoginCase {
    const char* name;
    // Properties and handlers beyond PointAt; runs after the log is attached.
    std::function<void(TKivFTP&, ScriptedPeer&, EventLog&)> setup;
    // The server's side, up to and including its answer to QUIT.
    std::function<void(ScriptedPeer&)> script;
    std::string sent;
    std::string outcome;
    std::vector<std::string> events;
};

void NoSetup(TKivFTP&, ScriptedPeer&, EventLog&) { }

void UseProxy(TKivFTP& ftp, ScriptedPeer& peer, kivftp::TFirewallType type)
{
    // The direct address leads nowhere: only the proxy is reachable.
    ftp.Host = "ftp.target.test";
    ftp.Port = 21;
    ftp.Proxy = "127.0.0.1";
    ftp.ProxyPort = peer.Port();
    ftp.FirewallType = type;
}

const std::vector<std::string> kLoggedInAndOut = { "OnConnect", "OnDisconnect" };
const std::vector<std::string> kRefused = { "OnConnectionFailed", "OnDisconnect" };

std::vector<LoginCase> LoginCases()
{
    const auto quit = [](ScriptedPeer& p) { p.ExpectAndReply("QUIT\r\n", "221 Bye\r\n").Close(); };
    const auto greet = [](ScriptedPeer& p) { p.Send("220 Service ready\r\n"); };
    return {
        { "password asked and given", NoSetup,
          [=](ScriptedPeer& p) {
              ScriptLogin(p);
              quit(p);
          },
          LoginBytes() + "QUIT\r\n", "ok", kLoggedInAndOut },
        { "USER answered 230 sends no PASS", NoSetup,
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER bob\r\n", "230 No password needed\r\n").ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          "USER bob\r\nTYPE I\r\nQUIT\r\n", "ok", kLoggedInAndOut },
        { "USER answered 400 is no refusal", NoSetup,
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER bob\r\n", "400 odd\r\n").ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          "USER bob\r\nTYPE I\r\nQUIT\r\n", "ok", kLoggedInAndOut },
        { "USER answered 332 ends the login without PASS", NoSetup,
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER bob\r\n", "332 Need account\r\n").ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          "USER bob\r\nTYPE I\r\nQUIT\r\n", "ok", kLoggedInAndOut },
        { "USER refused with 401", NoSetup,
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER bob\r\n", "401 Go away\r\n");
              quit(p);
          },
          "USER bob\r\nQUIT\r\n", "FTPException: 401 Go away\r\n", kRefused },
        { "PASS refused with 530", NoSetup,
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER bob\r\n", "331 Password\r\n")
                  .ExpectAndReply("PASS s3cret\r\n", "530 Login incorrect.\r\n");
              quit(p);
          },
          "USER bob\r\nPASS s3cret\r\nQUIT\r\n", "FTPException: 530 Login incorrect.\r\n", kRefused },
        { "PASS refused with 599", NoSetup,
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER bob\r\n", "331 Password\r\n").ExpectAndReply("PASS s3cret\r\n", "599 no\r\n");
              quit(p);
          },
          "USER bob\r\nPASS s3cret\r\nQUIT\r\n", "FTPException: 599 no\r\n", kRefused },
        { "PASS answered 600 is no refusal", NoSetup,
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER bob\r\n", "331 Password\r\n")
                  .ExpectAndReply("PASS s3cret\r\n", "600 odd\r\n")
                  .ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          LoginBytes() + "QUIT\r\n", "ok", kLoggedInAndOut },
        { "greeting 400 is accepted", NoSetup,
          [=](ScriptedPeer& p) {
              p.Send("400 Strange but fine\r\n")
                  .ExpectAndReply("USER bob\r\n", "230 in\r\n")
                  .ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          "USER bob\r\nTYPE I\r\nQUIT\r\n", "ok", kLoggedInAndOut },
        { "greeting 421 is refused", NoSetup,
          [=](ScriptedPeer& p) {
              p.Send("421 Too many users\r\n");
              quit(p);
          },
          "QUIT\r\n", "FTPException: 421 Too many users\r\n", kRefused },
        { "greeting 600 is refused: no upper bound", NoSetup,
          [=](ScriptedPeer& p) {
              p.Send("600 What\r\n");
              quit(p);
          },
          "QUIT\r\n", "FTPException: 600 What\r\n", kRefused },
        { "multi-line greeting", NoSetup,
          [=](ScriptedPeer& p) {
              p.Send("220-Welcome\r\n220-to the test\r\n   indented\r\n220 Ready\r\n");
              p.ExpectAndReply("USER bob\r\n", "230 in\r\n").ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          "USER bob\r\nTYPE I\r\nQUIT\r\n", "ok", kLoggedInAndOut },
        { "firewall login before the server login",
          [](TKivFTP& ftp, ScriptedPeer&, EventLog&) {
              ftp.FWAuthenticate = true;
              ftp.FWUserID = "fwuser";
              ftp.FWPassword = "fwpass";
          },
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER fwuser\r\n", "331 Firewall password\r\n")
                  .ExpectAndReply("PASS fwpass\r\n", "230 Firewall open\r\n")
                  .ExpectAndReply("USER bob\r\n", "331 Password\r\n")
                  .ExpectAndReply("PASS s3cret\r\n", "230 in\r\n")
                  .ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          "USER fwuser\r\nPASS fwpass\r\n" + LoginBytes() + "QUIT\r\n", "ok", kLoggedInAndOut },
        { "firewall USER refused", [](TKivFTP& ftp, ScriptedPeer&, EventLog&) {
             ftp.FWAuthenticate = true;
             ftp.FWUserID = "fwuser";
             ftp.FWPassword = "fwpass";
         },
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER fwuser\r\n", "530 Not allowed\r\n");
              quit(p);
          },
          "USER fwuser\r\nQUIT\r\n", "FTPException: 530 Not allowed\r\n", kRefused },
        { "proxy FTUser: one USER with user@host", [](TKivFTP& ftp, ScriptedPeer& p, EventLog&) {
             UseProxy(ftp, p, kivftp::TFirewallType::FTUser);
         },
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER bob@ftp.target.test\r\n", "331 Password\r\n")
                  .ExpectAndReply("PASS s3cret\r\n", "230 in\r\n")
                  .ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          "USER bob@ftp.target.test\r\nPASS s3cret\r\nTYPE I\r\nQUIT\r\n", "ok", kLoggedInAndOut },
        { "proxy FTUser: its USER reply is not tested", [](TKivFTP& ftp, ScriptedPeer& p, EventLog&) {
             UseProxy(ftp, p, kivftp::TFirewallType::FTUser);
         },
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER bob@ftp.target.test\r\n", "530 unknown\r\n").ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          "USER bob@ftp.target.test\r\nTYPE I\r\nQUIT\r\n", "ok", kLoggedInAndOut },
        { "proxy FtOpen: OPEN, refusal not tested, then the login", [](TKivFTP& ftp, ScriptedPeer& p, EventLog&) {
             UseProxy(ftp, p, kivftp::TFirewallType::FtOpen);
         },
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("OPEN ftp.target.test\r\n", "500 What?\r\n")
                  .ExpectAndReply("USER bob\r\n", "331 Password\r\n")
                  .ExpectAndReply("PASS s3cret\r\n", "230 in\r\n")
                  .ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          "OPEN ftp.target.test\r\n" + LoginBytes() + "QUIT\r\n", "ok", kLoggedInAndOut },
        { "proxy FtSite: SITE, then the login", [](TKivFTP& ftp, ScriptedPeer& p, EventLog&) {
             UseProxy(ftp, p, kivftp::TFirewallType::FtSite);
         },
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("SITE ftp.target.test\r\n", "200 Connected\r\n")
                  .ExpectAndReply("USER bob\r\n", "331 Password\r\n")
                  .ExpectAndReply("PASS s3cret\r\n", "230 in\r\n")
                  .ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          "SITE ftp.target.test\r\n" + LoginBytes() + "QUIT\r\n", "ok", kLoggedInAndOut },
        { "empty user and no handler: USER with its blank", [](TKivFTP& ftp, ScriptedPeer&, EventLog&) {
             ftp.UserID.clear();
         },
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER \r\n", "230 Anonymous in\r\n").ExpectAndReply("TYPE I\r\n", "200 ok\r\n");
              quit(p);
          },
          "USER \r\nTYPE I\r\nQUIT\r\n", "ok", kLoggedInAndOut },
        { "OnAuthenticationNeeded fills in user and password", [](TKivFTP& ftp, ScriptedPeer&, EventLog& log) {
             ftp.UserID.clear();
             ftp.Password.clear();
             ftp.OnAuthenticationNeeded = [&ftp, &log](bool& handled) {
                 log.entries.push_back(handled ? "OnAuthenticationNeeded(true)" : "OnAuthenticationNeeded");
                 ftp.UserID = "carol";
                 ftp.Password = "pw2";
             };
         },
          [=](ScriptedPeer& p) {
              ScriptLogin(p, "carol", "pw2");
              quit(p);
          },
          LoginBytes("carol", "pw2") + "QUIT\r\n", "ok", { "OnAuthenticationNeeded", "OnConnect", "OnDisconnect" } },
        { "TYPE I refused: the login stands", NoSetup,
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER bob\r\n", "331 Password\r\n")
                  .ExpectAndReply("PASS s3cret\r\n", "230 in\r\n")
                  .ExpectAndReply("TYPE I\r\n", "504 Type not implemented\r\n");
              quit(p);
          },
          LoginBytes() + "QUIT\r\n", "ok", kLoggedInAndOut },
        { "refused QUIT of the clean-up replaces the login's exception", NoSetup,
          [=](ScriptedPeer& p) {
              greet(p);
              p.ExpectAndReply("USER bob\r\n", "530 No\r\n").ExpectAndReply("QUIT\r\n", "500 Not now\r\n").Close();
          },
          "USER bob\r\nQUIT\r\n", "FTPException: 500 Not now\r\n", kRefused },
        { "OnConnect handler raising is treated like a refusal", [](TKivFTP& ftp, ScriptedPeer&, EventLog&) {
             ftp.OnConnect = [](platform::TComponent*) { throw platform::Exception("handler said no"); };
         },
          [=](ScriptedPeer& p) {
              ScriptLogin(p);
              quit(p);
          },
          LoginBytes() + "QUIT\r\n", "Exception: handler said no", { "OnDisconnect" } },
        { "OnAuthenticationNeeded raising is treated like a refusal", [](TKivFTP& ftp, ScriptedPeer&, EventLog&) {
             ftp.Password.clear();
             ftp.OnAuthenticationNeeded = [](bool&) { throw platform::Exception("cancelled by the user"); };
         },
          [=](ScriptedPeer& p) {
              greet(p);
              quit(p);
          },
          "QUIT\r\n", "Exception: cancelled by the user", { "OnDisconnect" } },
    };
}

} // namespace

TEST(Session, LoginFormsSendExactlyTheseBytes)
{
    const std::vector<LoginCase> cases = LoginCases();
    for (const LoginCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        c.script(peer);
        peer.Start();
        EventLog log;
        {
            TKivFTP ftp(nullptr);
            Watchdog watchdog(ftp.WindowHandle);
            PointAt(ftp, peer);
            ftp.ReportLevel = 1;
            log.Attach(ftp);
            c.setup(ftp, peer, log);

            EXPECT_EQ(Outcome([&] { ftp.Connect(); }), c.outcome);
            if (c.outcome == "ok") {
                EXPECT_TRUE(ftp.Connected);
                EXPECT_EQ(Outcome([&] { ftp.Disconnect(); }), "ok");
            } else if (log.Has("OnConnectionFailed")) {
                EXPECT_FALSE(log.Has("S:TYPE I")) << "TYPE I only after a successful login";
            }
            EXPECT_FALSE(ftp.Connected);
            EXPECT_NE(ftp.SocketHandle, doziz::kNoSocket);
        }
        ASSERT_TRUE(peer.Finish());
        EXPECT_EQ(peer.Errors(), std::vector<std::string> {});
        EXPECT_EQ(peer.Received(), c.sent);
        EXPECT_EQ(log.Events(), c.events);
        // "Disconnected" ends a clean-up, unless a refused QUIT took over.
        const bool cleanUp = c.outcome != "ok" && c.outcome != "FTPException: 500 Not now\r\n";
        EXPECT_EQ(log.Has("S:Disconnected"), cleanUp);
    }
}

TEST(Session, RefusedLoginReportsInThisOrder)
{
    ScriptedPeer peer;
    peer.Send("220-Hello\r\n220 Ready\r\n")
        .ExpectAndReply("USER bob\r\n", "331 Password\r\n")
        .ExpectAndReply("PASS s3cret\r\n", "530 Login incorrect.\r\n")
        .ExpectAndReply("QUIT\r\n", "221 Bye\r\n")
        .Close();
    peer.Start();
    EventLog log;
    {
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        PointAt(ftp, peer);
        ftp.ReportLevel = 1;
        log.Attach(ftp);
        EXPECT_EQ(Outcome([&] { ftp.Connect(); }), "FTPException: 530 Login incorrect.\r\n");
        EXPECT_FALSE(ftp.Connected);
    }
    ASSERT_TRUE(peer.Finish());
    EXPECT_EQ(log.entries, (std::vector<std::string> {
                               "S:220-Hello\r\n",
                               "S:220 Ready\r\n",
                               "S:USER bob",
                               "S:331 Password\r\n",
                               "S:PASS ",
                               "S:530 Login incorrect.\r\n",
                               "OnConnectionFailed",
                               "S:QUIT",
                               "S:221 Bye\r\n",
                               "OnDisconnect",
                               "S:Disconnected",
                           }));
}

TEST(Session, SuccessfulLoginReportsTheDialogueAndSetsImageType)
{
    ScriptedPeer peer;
    ScriptLogin(peer).Close();
    peer.Start();
    EventLog log;
    {
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        PointAt(ftp, peer);
        ftp.ReportLevel = 1;
        log.Attach(ftp);
        ftp.Connect();
        EXPECT_TRUE(ftp.Connected);
        // A second Connect while connected does nothing.
        EXPECT_EQ(Outcome([&] { ftp.Connect(); }), "ok");
    }
    ASSERT_TRUE(peer.Finish());
    EXPECT_EQ(peer.Received(), LoginBytes());
    EXPECT_EQ(log.entries, (std::vector<std::string> {
                               "S:220 Service ready\r\n",
                               "S:USER bob",
                               "S:331 Password required\r\n",
                               "S:PASS ",
                               "S:230 Logged in\r\n",
                               "S:TYPE I",
                               "S:200 Type set to I\r\n",
                               "OnConnect",
                           }));
}

TEST(Session, PasswordsNeverReachAStatusText)
{
    for (int level : { 1, 4, 8 }) {
        SCOPED_TRACE("ReportLevel " + std::to_string(level));
        ScriptedPeer peer;
        peer.Send("220 Firewall ready\r\n")
            .ExpectAndReply("USER fwuser\r\n", "331 Firewall password\r\n")
            .ExpectAndReply("PASS fw-Secret-1\r\n", "230 Firewall open\r\n")
            .ExpectAndReply("USER bob\r\n", "331 Password\r\n")
            .ExpectAndReply("PASS srv-Secret-2\r\n", "230 in\r\n")
            .ExpectAndReply("TYPE I\r\n", "200 ok\r\n")
            .ExpectAndReply("PASS cmd-Secret-3\r\n", "503 Already logged in\r\n")
            .ExpectAndReply("pass cmd-Secret-4\r\n", "503 Already logged in\r\n")
            .ExpectAndReply("USER bob\r\n", "331 Password\r\n")
            .ExpectAndReply("QUIT\r\n", "221 Bye\r\n")
            .Close();
        peer.Start();
        EventLog log;
        {
            TKivFTP ftp(nullptr);
            Watchdog watchdog(ftp.WindowHandle);
            PointAt(ftp, peer, "bob", "srv-Secret-2");
            ftp.FWAuthenticate = true;
            ftp.FWUserID = "fwuser";
            ftp.FWPassword = "fw-Secret-1";
            ftp.ReportLevel = level;
            log.Attach(ftp);
            ftp.OnFailure = [](bool& handled, TCmdType) { handled = true; };
            ftp.Connect();
            ftp.DoCommand("PASS cmd-Secret-3");
            ftp.DoCommand("pass cmd-Secret-4");
            ftp.DoCommand("USER bob");
            ftp.Disconnect();
        }
        ASSERT_TRUE(peer.Finish());
        EXPECT_EQ(peer.Errors(), std::vector<std::string> {});
        const std::vector<std::string> statuses = log.Statuses();
        EXPECT_GT(statuses.size(), 10u);
        for (const std::string& s : statuses)
            EXPECT_EQ(s.find("Secret"), std::string::npos) << "status text: " << s;
        EXPECT_TRUE(log.Has("S:PASS ")) << "PASS is reported without its argument";
        EXPECT_TRUE(log.Has("S:pass ")) << "so is a PASS sent through DoCommand";
    }
}

// Servers that break the login: each ends in a clear exception within a
// bounded time, and leaves the component disconnected with a fresh socket,
// ready for the next Connect.
TEST(Session, BrokenServersEndTheLoginCleanly)
{
    struct BadCase {
        const char* name;
        std::function<void(ScriptedPeer&)> script;
        // Acceptable outcomes: a reset is seen either as the reset itself or,
        // once the socket layer has noticed the close, as the closed connection.
        std::vector<std::string> outcomes;
    };
    const std::string closed = std::string("ESockError: ") + kivftp::kConnectionClosedText;
    const std::string reset = "ESockError: 10054:Connection reset by peer";
    const std::vector<BadCase> cases = {
        { "closes before the greeting", [](ScriptedPeer& p) { p.Close(); }, { closed } },
        { "closes in the middle of the greeting line", [](ScriptedPeer& p) { p.Send("220 Serv").Close(); },
          { closed } },
        { "closes inside a multi-line greeting", [](ScriptedPeer& p) { p.Send("220-Welcome\r\n220-more").Close(); },
          { closed } },
        { "resets before the greeting", [](ScriptedPeer& p) { p.Sleep(200).Reset(); }, { reset, closed } },
        { "garbage instead of a greeting, looking like a continuation",
          [](ScriptedPeer& p) {
              p.Send("SSH-2.0-Other_9.2\r\n").ExpectAndReply("QUIT\r\n", "Protocol mismatch.\r\n").Close();
          },
          { "FTPException: SSH-2.0-Other_9.2\r\n" } },
        { "garbage answer to USER",
          [](ScriptedPeer& p) {
              p.Send("220 ready\r\n").ExpectAndReply("USER bob\r\n", "<html>-\r\n").ReadLine().Close();
          },
          { "FTPException: <html>-\r\n" } },
        { "resets after USER", [](ScriptedPeer& p) { p.Send("220 ready\r\n").Expect("USER bob\r\n").Reset(); },
          { reset, closed } },
        { "closes after PASS without answering",
          [](ScriptedPeer& p) {
              p.Send("220 ready\r\n").ExpectAndReply("USER bob\r\n", "331 Password\r\n").Expect("PASS s3cret\r\n").Close();
          },
          { closed } },
        { "answer to PASS without line end, then close",
          [](ScriptedPeer& p) {
              p.Send("220 ready\r\n")
                  .ExpectAndReply("USER bob\r\n", "331 Password\r\n")
                  .ExpectAndReply("PASS s3cret\r\n", "230 Logged i")
                  .Close();
          },
          { closed } },
        { "a line longer than any reply",
          [](ScriptedPeer& p) { p.Send(std::string(70000, 'x')).Sleep(300).Close(); },
          { "ESockError: Line too long: no line end within 65536 bytes" } },
    };

    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        c.script(peer);
        peer.Start();
        ScriptedPeer good;
        ScriptLogin(good).ExpectAndReply("QUIT\r\n", "221 Bye\r\n").Close();
        good.Start();
        EventLog log;
        {
            TKivFTP ftp(nullptr);
            Watchdog watchdog(ftp.WindowHandle);
            PointAt(ftp, peer);
            ftp.ReportLevel = 1;
            log.Attach(ftp);

            const auto started = Clock::now();
            const std::string outcome = Outcome([&] { ftp.Connect(); });
            EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
            EXPECT_NE(std::find(c.outcomes.begin(), c.outcomes.end(), outcome), c.outcomes.end())
                << "outcome: " << outcome;
            EXPECT_FALSE(ftp.Connected);
            EXPECT_NE(ftp.SocketHandle, doziz::kNoSocket);
            EXPECT_FALSE(log.Has("OnConnect"));
            // A refused or unanswered login raises OnConnectionFailed; a
            // socket error travels on its own.
            const bool socketError = outcome == reset || outcome.find("Line too long") != std::string::npos;
            EXPECT_EQ(log.Has("OnConnectionFailed"), !socketError);
            EXPECT_TRUE(log.Has("S:Disconnected"));

            // The same component logs in elsewhere afterwards.
            ftp.Port = good.Port();
            EXPECT_EQ(Outcome([&] { ftp.Connect(); }), "ok");
            EXPECT_TRUE(ftp.Connected);
            EXPECT_EQ(Outcome([&] { ftp.Disconnect(); }), "ok");
        }
        ASSERT_TRUE(peer.Finish());
        ASSERT_TRUE(good.Finish());
        EXPECT_EQ(good.Errors(), std::vector<std::string> {});
        EXPECT_EQ(good.Received(), LoginBytes() + "QUIT\r\n");
    }
}

TEST(Session, DisconnectSendsQuitAndClosesEvenWhenRefused)
{
    struct QuitCase {
        const char* name;
        std::string reply;
        std::string outcome;
    };
    const std::vector<QuitCase> cases = {
        { "221 closes quietly", "221 Goodbye\r\n", "ok" },
        { "300 is no refusal", "300 odd\r\n", "ok" },
        { "301 is refused", "301 odd\r\n", "FTPException: 301 odd\r\n" },
        { "421 is refused", "421 Bye anyway\r\n", "FTPException: 421 Bye anyway\r\n" },
        { "600 is no refusal", "600 odd\r\n", "ok" },
    };
    for (const QuitCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        ScriptLogin(peer).ExpectAndReply("QUIT\r\n", c.reply).WaitClientClose();
        peer.Start();
        EventLog log;
        {
            TKivFTP ftp(nullptr);
            Watchdog watchdog(ftp.WindowHandle);
            PointAt(ftp, peer);
            ftp.Connect();
            ftp.Vendor = 7;
            log.Attach(ftp);
            EXPECT_EQ(Outcome([&] { ftp.Disconnect(); }), c.outcome);
            EXPECT_FALSE(ftp.Connected);
            EXPECT_EQ(ftp.Vendor, kivftp::kVendorUnknown);
            EXPECT_EQ(ftp.DirectoryList(), nullptr);
            // A second Disconnect has nothing to do.
            EXPECT_EQ(Outcome([&] { ftp.Disconnect(); }), "ok");
        }
        ASSERT_TRUE(peer.Finish());
        EXPECT_EQ(peer.Errors(), std::vector<std::string> {});
        EXPECT_EQ(peer.Received(), LoginBytes() + "QUIT\r\n");
        EXPECT_EQ(log.Events(), std::vector<std::string> { "OnDisconnect" });
    }
}

TEST(Session, DisconnectRightAfterConstructionDoesNothing)
{
    EventLog log;
    TKivFTP ftp(nullptr);
    ftp.ReportLevel = 1;
    log.Attach(ftp);
    EXPECT_EQ(Outcome([&] { ftp.Disconnect(); }), "ok");
    EXPECT_EQ(Outcome([&] { ftp.Abort(); }), "ok");
    EXPECT_EQ(log.entries, std::vector<std::string> {});
}

TEST(Session, ConstructionDefaults)
{
    TKivFTP ftp(nullptr);
    EXPECT_EQ(ftp.Port, 21);
    EXPECT_EQ(ftp.Vendor, 2411);
    EXPECT_EQ(ftp.FirewallType, kivftp::TFirewallType::FTUser);
    EXPECT_FALSE(ftp.Passive);
    EXPECT_FALSE(ftp.ParseList);
    EXPECT_FALSE(ftp.FWAuthenticate);
    EXPECT_TRUE(ftp.UserID.empty() && ftp.Password.empty() && ftp.Proxy.empty());
    EXPECT_EQ(ftp.ProxyPort, 0);
    EXPECT_EQ(ftp.DataSocket(), nullptr);
    EXPECT_EQ(ftp.DirectoryList(), nullptr);
    EXPECT_EQ(ftp.BytesRecvd(), 0);
    EXPECT_EQ(ftp.BytesSent(), 0);
    EXPECT_FALSE(ftp.Connected);
    static_assert(sizeof(kivftp::TCmdType) == 1 && sizeof(kivftp::TFirewallType) == 1);
    static_assert(static_cast<int>(TCmdType::ctCurrentDir) == 15);
}

// A test double that lets the tests put a data socket in place, as a running
// transfer does.
class TransferringFTP : public TKivFTP {
public:
    using TKivFTP::TKivFTP;
    void SetDataSocket(doziz::TVazadezuv* socket) { m_dataSocket = socket; }
    void SetDirectoryList() { m_directoryList = std::make_unique<kivftp::TFTPDirectoryList>(); }
};

TEST(Session, AbortCancelsOnlyTheDataSocket)
{
    doziz::TVazadezuv data(nullptr);
    TransferringFTP ftp(nullptr);
    ftp.SetDataSocket(&data);
    data.BytesRecvd = 5'000'000'000;
    data.BytesSent = 17;
    EXPECT_EQ(ftp.BytesRecvd(), 5'000'000'000);
    EXPECT_EQ(ftp.BytesSent(), 17);

    ftp.Abort();
    EXPECT_TRUE(data.Canceled);
    EXPECT_FALSE(ftp.Canceled);
    ftp.SetDataSocket(nullptr);
}

TEST(Session, DestructorCancelsTheDataSocketItself)
{
    doziz::TVazadezuv data(nullptr);
    {
        TransferringFTP ftp(nullptr);
        ftp.SetDirectoryList();
        ftp.SetDataSocket(&data);
    }
    EXPECT_TRUE(data.Canceled);
}

// The component's time-out cancels data connections only: a slow reply on the
// control connection is still waited for.
TEST(Session, TimeOutDoesNotEndAWaitForAReply)
{
    ScriptedPeer peer;
    ScriptLogin(peer).Expect("NOOP\r\n").Sleep(900).Send("200 Finally\r\n").ExpectAndReply("QUIT\r\n", "221 Bye\r\n");
    peer.Start();
    {
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        PointAt(ftp, peer);
        ftp.Connect();
        ftp.TimeOut = 200;
        EXPECT_EQ(Outcome([&] { ftp.DoCommand("NOOP"); }), "ok");
        EXPECT_EQ(ftp.LastReply, "200 Finally\r\n");
        ftp.Disconnect();
    }
    ASSERT_TRUE(peer.Finish());
    EXPECT_EQ(peer.Errors(), std::vector<std::string> {});
}
