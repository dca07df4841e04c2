// The line on standard output after a failed connect, and the I/O error 105
// when standard output is not open.

#include "FormTestKit.h"

#include "app/StdOutput.h"
#include "platform/SysUtils.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace apptest {
namespace {

// Puts `fd` (or nothing, for -1) in the place of descriptor 1 for the life of
// the object.
class StdOutReplaced {
public:
    explicit StdOutReplaced(int fd)
        : m_saved(::dup(1))
    {
        std::fflush(stdout);
        if (fd >= 0)
            ::dup2(fd, 1);
        else
            ::close(1);
    }
    ~StdOutReplaced()
    {
        ::dup2(m_saved, 1);
        ::close(m_saved);
    }
    StdOutReplaced(const StdOutReplaced&) = delete;
    StdOutReplaced& operator=(const StdOutReplaced&) = delete;

private:
    int m_saved;
};

// A loopback port where nothing listens: bound once, then released.
std::uint16_t RefusingPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

struct StandardOutput : FormFixture {
    void PressConnectToNothing()
    {
        Type(Ui().HostTxt, "127.0.0.1");
        Type(Ui().PortTxt, std::to_string(RefusingPort()));
        Click(Ui().BitBtn1);
    }
    TempDir dir;
};

TEST_F(StandardOutput, FailedConnectWritesTheMessageAndCrLf)
{
    const std::string path = dir / "out.txt";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    {
        StdOutReplaced redirected(fd);
        PressConnectToNothing();
    }
    ::close(fd);
    EXPECT_EQ(ReadLocalFile(path), "Connection Failed\r\n");
    // The component's own box, and no error box: the exception was handled.
    EXPECT_EQ(Events, Seen { "box: 连接失败！" });
    EXPECT_FALSE(Ftp().Connected);
}

TEST_F(StandardOutput, WithoutStandardOutputTheIoError105IsReported)
{
    {
        StdOutReplaced closed(-1);
        PressConnectToNothing();
    }
    EXPECT_EQ(Events, (Seen { "box: 连接失败！", "error: I/O 错误 105." }));
    ASSERT_FALSE(Boxes.empty());
    EXPECT_EQ(Boxes.back().Title, "app_tests");

    // The stream is opened again on the next write.
    const std::string path = dir / "again.txt";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    {
        StdOutReplaced redirected(fd);
        ClearSeen();
        PressConnectToNothing();
    }
    ::close(fd);
    EXPECT_EQ(ReadLocalFile(path), "Connection Failed\r\n");
    EXPECT_EQ(Events, Seen { "box: 连接失败！" });
}

TEST_F(StandardOutput, RefusedLoginWritesTheServersReply)
{
    for (const testsupport::RealServer& server : testsupport::RealServers()) {
        SCOPED_TRACE(server.Name);
        const std::string path = dir / (server.Name + ".txt");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ClearSeen();
        {
            StdOutReplaced redirected(fd);
            Type(Ui().HostTxt, "127.0.0.1");
            Type(Ui().PortTxt, std::to_string(server.Port));
            Type(Ui().UserTxt, server.User);
            Type(Ui().PassTxt, "wrong-" + server.Password);
            Click(Ui().BitBtn1);
        }
        ::close(fd);
        // The reply line keeps its own CR LF; the writer adds another.
        EXPECT_THAT(ReadLocalFile(path), testing::MatchesRegex("530 .*\r\n\r\n"));
        EXPECT_THAT(Events, testing::Contains("box: 连接失败！"));
        EXPECT_THAT(Boxes, testing::Not(testing::Contains(testing::Field(&app::MessageBoxRequest::Icon, app::MessageIcon::Error))));
        EXPECT_FALSE(Ftp().Connected);
    }
}

TEST(StandardOutputStream, EveryKindOfUnusableOutputRaisesIoError105)
{
    int brokenPipe[2];
    ASSERT_EQ(::pipe(brokenPipe), 0);
    ::close(brokenPipe[0]); // nobody reads: a write would raise SIGPIPE
    const int directory = ::open("/", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(directory, 0);
    const int readOnly = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(readOnly, 0);

    const std::pair<const char*, int> cases[] = {
        { "closed", -1 },
        { "a pipe nobody reads", brokenPipe[1] },
        { "a directory", directory },
        { "opened for reading only", readOnly },
    };
    for (const auto& [name, fd] : cases) {
        SCOPED_TRACE(name);
        int code = 0;
        std::string message;
        {
            StdOutReplaced replaced(fd);
            try {
                app::WriteStdOutLine("lost line");
            } catch (const platform::EInOutError& e) {
                code = e.ErrorCode;
                message = e.Message;
            }
        }
        EXPECT_EQ(code, 105);
        EXPECT_EQ(message, "I/O 错误 105");
    }
    ::close(brokenPipe[1]);
    ::close(directory);
    ::close(readOnly);
}

} // namespace
} // namespace apptest
