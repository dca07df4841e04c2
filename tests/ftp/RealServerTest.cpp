// The session and the single-reply commands end to end, against the real
// servers the test command starts on loopback; every change is checked on
// the server's own file system.

#include "FtpTestKit.h"
#include "support/RealServers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace ftptest;
using testsupport::RealServer;
using testsupport::RealServers;

namespace fs = std::filesystem;

namespace {

void PointAt(TKivFTP& ftp, const RealServer& server)
{
    ftp.Host = "127.0.0.1";
    ftp.Port = server.Port;
    ftp.TimeOut = 5000;
    ftp.UserID = server.User;
    ftp.Password = server.Password;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

} // namespace

TEST(RealServer, WrongPasswordIsRefusedAndRightOneLogsIn)
{
    for (const RealServer& server : RealServers()) {
        SCOPED_TRACE(server.Name);
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        PointAt(ftp, server);
        ftp.Password = server.Password + "-wrong";
        ftp.ReportLevel = 1;
        EventLog log;
        log.Attach(ftp);

        const std::string refused = Outcome([&] { ftp.Connect(); });
        EXPECT_TRUE(StartsWith(refused, "FTPException: 530")) << refused;
        EXPECT_EQ(refused.substr(refused.size() - 2), "\r\n");
        EXPECT_TRUE(log.Has("OnConnectionFailed"));
        EXPECT_FALSE(log.Has("OnConnect"));
        EXPECT_TRUE(log.Has("S:Disconnected"));
        EXPECT_FALSE(ftp.Connected);

        // The same component, now with the right password.
        log.entries.clear();
        ftp.Password = server.Password;
        EXPECT_EQ(Outcome([&] { ftp.Connect(); }), "ok");
        EXPECT_TRUE(ftp.Connected);
        EXPECT_EQ(log.Events(), std::vector<std::string> { "OnConnect" });
        // The server accepted image type.
        const int typeAt = log.IndexOf("S:TYPE I");
        ASSERT_GE(typeAt, 0);
        ASSERT_LT(typeAt + 1, static_cast<int>(log.entries.size()));
        EXPECT_TRUE(StartsWith(log.entries[typeAt + 1], "S:200")) << log.entries[typeAt + 1];
        for (const std::string& s : log.Statuses())
            EXPECT_EQ(s.find(server.Password), std::string::npos) << s;

        EXPECT_EQ(Outcome([&] { ftp.Disconnect(); }), "ok");
        EXPECT_FALSE(ftp.Connected);
        EXPECT_TRUE(log.Has("OnDisconnect"));
    }
}

TEST(RealServer, DirectoriesAreMadeEnteredAndRemoved)
{
    for (const RealServer& server : RealServers()) {
        SCOPED_TRACE(server.Name);
        const std::string dir = testsupport::UniqueName("dir");
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        PointAt(ftp, server);
        EventLog log;
        log.Attach(ftp);
        ftp.Connect();

        EXPECT_EQ(Outcome([&] { ftp.MakeDirectory(dir); }), "ok");
        EXPECT_TRUE(StartsWith(ftp.LastReply, "257")) << ftp.LastReply;
        EXPECT_TRUE(fs::is_directory(fs::path(server.Root) / dir));

        EXPECT_EQ(Outcome([&] { ftp.ChangeDir(dir); }), "ok");
        EXPECT_EQ(Outcome([&] { ftp.DoCommand("PWD"); }), "ok");
        EXPECT_TRUE(StartsWith(ftp.LastReply, "257")) << ftp.LastReply;
        EXPECT_NE(ftp.LastReply.find("/" + dir + "\""), std::string::npos) << ftp.LastReply;
        EXPECT_EQ(Outcome([&] { ftp.ChangeDir(".."); }), "ok");

        const std::string missing = Outcome([&] { ftp.ChangeDir(dir + "-missing"); });
        EXPECT_TRUE(StartsWith(missing, "FTPException: 550")) << missing;

        EXPECT_EQ(Outcome([&] { ftp.RemoveDir(dir); }), "ok");
        EXPECT_FALSE(fs::exists(fs::path(server.Root) / dir));

        EXPECT_EQ(log.Events(), (std::vector<std::string> { "OnConnect", "OnSuccess(1)", "OnSuccess(0)",
                                                             "OnSuccess(15)", "OnSuccess(0)", "OnFailure(0)",
                                                             "OnSuccess(3)" }));
        ftp.Disconnect();
    }
}

TEST(RealServer, FilesAreDeletedAndRenamed)
{
    for (const RealServer& server : RealServers()) {
        SCOPED_TRACE(server.Name);
        const std::string doomed = testsupport::UniqueName("doomed") + ".txt";
        const std::string from = testsupport::UniqueName("from") + ".txt";
        const std::string to = testsupport::UniqueName("to") + ".txt";
        testsupport::WriteRootFile(server, doomed, "delete me\n");
        testsupport::WriteRootFile(server, from, "keep my bytes\r\n\x01\xff");

        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        PointAt(ftp, server);
        EventLog log;
        log.Attach(ftp);
        ftp.Connect();

        EXPECT_EQ(Outcome([&] { ftp.Delete(doomed); }), "ok");
        EXPECT_FALSE(fs::exists(fs::path(server.Root) / doomed));
        const std::string again = Outcome([&] { ftp.Delete(doomed); });
        EXPECT_TRUE(StartsWith(again, "FTPException: 550")) << again;

        EXPECT_EQ(Outcome([&] { ftp.Rename(from, to); }), "ok");
        EXPECT_FALSE(fs::exists(fs::path(server.Root) / from));
        EXPECT_EQ(testsupport::ReadRootFile(server, to), "keep my bytes\r\n\x01\xff");
        const std::string missing = Outcome([&] { ftp.Rename(from, to); });
        EXPECT_TRUE(StartsWith(missing, "FTPException: 550")) << missing;

        EXPECT_EQ(log.Events(), (std::vector<std::string> { "OnConnect", "OnSuccess(2)", "OnFailure(2)",
                                                             "OnSuccess(5)", "OnFailure(5)" }));
        ftp.Delete(to);
        ftp.Disconnect();
    }
}

TEST(RealServer, SystAndReinitialize)
{
    for (const RealServer& server : RealServers()) {
        SCOPED_TRACE(server.Name);
        TKivFTP ftp(nullptr);
        Watchdog watchdog(ftp.WindowHandle);
        PointAt(ftp, server);
        EventLog log;
        log.Attach(ftp);
        ftp.Connect();

        EXPECT_EQ(Outcome([&] { ftp.DoCommand("SYST"); }), "ok");
        EXPECT_TRUE(StartsWith(ftp.LastReply, "215 UNIX")) << ftp.LastReply;

        log.entries.clear();
        const std::string rein = Outcome([&] { ftp.Reinitialize(); });
        if (server.Name == "pyftpdlib") {
            // It has REIN: the user is logged out, the connection stays.
            EXPECT_EQ(rein, "ok");
            EXPECT_EQ(log.Events(), std::vector<std::string> { "OnSuccess(14)" });
            const std::string pwd = Outcome([&] { ftp.DoCommand("PWD"); });
            EXPECT_TRUE(StartsWith(pwd, "FTPException: 530")) << pwd;
        } else {
            // vsftpd does not: refused as unsupported, with REIN's code.
            EXPECT_TRUE(StartsWith(rein, "FTPException: 502")) << rein;
            EXPECT_EQ(log.Events(), (std::vector<std::string> { "OnUnSupportedFunction(14)", "OnFailure(14)" }));
        }
        EXPECT_TRUE(ftp.Connected);
        EXPECT_EQ(Outcome([&] { ftp.Disconnect(); }), "ok");
        EXPECT_FALSE(ftp.Connected);
    }
}
