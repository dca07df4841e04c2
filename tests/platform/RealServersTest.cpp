// The end-to-end tests trust the servers that tools/test.sh starts: that
// they are there, that a wrong password is refused and that the sample files
// are as documented. These checks catch a broken set-up before it shows up
// as puzzling failures elsewhere, and make sure a missing server fails.

#include "support/RealServers.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <vector>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

using testsupport::RealServer;

// Logs in with a plain blocking socket and returns the reply to PASS.
std::string LoginReply(const RealServer& server, const std::string& password)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit { 5, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(server.Port);
    std::string last;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        // Each of the three replies (greeting, USER, PASS) is one short line here.
        auto readReply = [&] {
            std::string line;
            char c;
            for (int i = 0; i < 4096 && ::recv(fd, &c, 1, 0) == 1; ++i) {
                line += c;
                if (c == '\n')
                    break;
            }
            return line;
        };
        auto send = [&](const std::string& text) { ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); };
        readReply();
        send("USER " + server.User + "\r\n");
        readReply();
        send("PASS " + password + "\r\n");
        last = readReply();
        send("QUIT\r\n");
    }
    ::close(fd);
    return last;
}

TEST(RealServersTest, BothServersLogInTheUserAndRefuseAWrongPassword)
{
    auto servers = testsupport::RealServers();
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[0].Name, "pyftpdlib");
    EXPECT_EQ(servers[1].Name, "vsftpd");
    for (const RealServer& server : servers) {
        SCOPED_TRACE(server.Name);
        EXPECT_EQ(LoginReply(server, server.Password).substr(0, 4), "230 ");
        EXPECT_EQ(LoginReply(server, server.Password + "x").substr(0, 4), "530 ");
        std::string binary = testsupport::ReadRootFile(server, "binary.bin");
        ASSERT_EQ(binary.size(), 1024u);
        for (std::size_t i = 0; i < binary.size(); ++i)
            ASSERT_EQ(static_cast<unsigned char>(binary[i]), i % 256) << "at " << i;
        EXPECT_EQ(testsupport::ReadRootFile(server, "readme.txt"), "Taviro sample file.\r\nSecond line.\r\n");
    }
}

TEST(RealServersTest, AMissingServerFailsTheTest)
{
    std::optional<std::string> saved;
    if (const char* port = std::getenv("TAVIRO_VSFTPD_PORT"))
        saved = port;
    ::unsetenv("TAVIRO_VSFTPD_PORT");
    testing::TestPartResultArray failures;
    std::vector<RealServer> servers;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        servers = testsupport::RealServers();
    }
    if (saved)
        ::setenv("TAVIRO_VSFTPD_PORT", saved->c_str(), 1);

    for (const RealServer& server : servers)
        EXPECT_NE(server.Name, "vsftpd");
    bool told = false;
    for (int i = 0; i < failures.size(); ++i) {
        std::string message = failures.GetTestPartResult(i).message();
        told = told || (message.find("vsftpd") != std::string::npos && message.find("tools/test.sh") != std::string::npos);
    }
    EXPECT_TRUE(told) << "no failure names vsftpd and tools/test.sh";
}

}
