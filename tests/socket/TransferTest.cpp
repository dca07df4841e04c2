#include "socket/Doziz.h"

#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

using namespace doziz;
using sockettest::Connection;
using sockettest::ExceptionText;
using sockettest::LoopbackServer;
using sockettest::PumpUntil;

namespace {

std::string TempPath(const std::string& name)
{
    return testing::TempDir() + "taviro_socket_" + name;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return s;
}

} // namespace

TEST(Transfer, SendFileSendsEveryByteAndCountsThem)
{
    for (const std::size_t size : { std::size_t(0), std::size_t(100000), std::size_t(3 * 1024 * 1024 + 17) }) {
        SCOPED_TRACE(size);
        const std::string content = Pattern(size);
        const std::string path = TempPath("send.bin");
        WriteFile(path, content);
        std::string got;
        {
            // The first socket of a component closes with a reset, which drops
            // unsent data: the server reads everything before the client closes.
            Connection c([&](int fd) {
                got = LoopbackServer::ReadExactly(fd, size, 10000);
                ::close(fd);
            });
            int packets = 0;
            c.sock.OnPacketSent = [&](platform::TComponent* sender) {
                EXPECT_EQ(sender, &c.sock);
                ++packets;
            };
            c.sock.SendFile(path);
            EXPECT_EQ(c.sock.BytesSent, static_cast<std::int64_t>(size));
            EXPECT_EQ(packets == 0, size == 0);
            ASSERT_TRUE(PumpUntil([&] { return c.server.SessionDone(); }, 10000));
        }
        EXPECT_EQ(got.size(), content.size());
        EXPECT_TRUE(got == content);
    }
}

TEST(Transfer, SendStreamSendsFromTheStreamsPosition)
{
    const std::string content = Pattern(5000);
    const std::string path = TempPath("stream.bin");
    WriteFile(path, content);
    std::string got;
    {
        Connection c([&](int fd) {
            got = LoopbackServer::ReadExactly(fd, 4000);
            ::close(fd);
        });
        platform::TFileStream stream(path, platform::FileMode::OpenRead);
        stream.SetPosition(1000);
        c.sock.BytesSent = 77;
        c.sock.SendStream(stream);
        EXPECT_EQ(c.sock.BytesTotal, 5000);
        EXPECT_EQ(c.sock.BytesSent, 4000);

        // A position beyond the end sends nothing and ends.
        stream.SetPosition(9000);
        c.sock.SendStream(stream);
        EXPECT_EQ(c.sock.BytesSent, 0);
        ASSERT_TRUE(PumpUntil([&] { return c.server.SessionDone(); }));
    }
    EXPECT_EQ(got, content.substr(1000));
}

TEST(Transfer, CaptureFileReplacesAndAppendFileExtends)
{
    const std::string payload = Pattern(200000);
    const std::string path = TempPath("capture.bin");
    WriteFile(path, "old contents that must go");
    {
        Connection c([&](int fd) {
            LoopbackServer::SendAll(fd, payload);
            ::close(fd);
        });
        int blocks = 0;
        c.sock.OnPacketRecvd = [&](platform::TComponent*) { ++blocks; };
        c.sock.CaptureFile(path);
        EXPECT_EQ(c.sock.BytesRecvd, 200000);
        EXPECT_GE(blocks, 4);
    }
    EXPECT_TRUE(ReadFile(path) == payload);

    const std::string head(300, 'h');
    WriteFile(path, head);
    {
        Connection c([&](int fd) {
            LoopbackServer::SendAll(fd, payload);
            ::close(fd);
        });
        c.sock.AppendFile(path);
        EXPECT_EQ(c.sock.BytesRecvd, 200000);
        EXPECT_FALSE(c.sock.Connected);
    }
    EXPECT_TRUE(ReadFile(path) == head + payload);
}

TEST(Transfer, MissingFilesFailBeforeAnyTraffic)
{
    Connection c([](int fd) {
        LoopbackServer::ReadToClose(fd);
        ::close(fd);
    });
    const std::string missing = TempPath("no/such/dir/file");
    EXPECT_THROW(c.sock.AppendFile(missing), platform::EFOpenError);
    EXPECT_THROW(c.sock.SendFile(missing), platform::EFOpenError);
    EXPECT_THROW(c.sock.CaptureFile(missing), platform::EFCreateError);
    EXPECT_EQ(c.sock.BytesRecvd, 0);
}

TEST(Transfer, CaptureFileTimeOutBoundsTheSilenceBetweenBlocks)
{
    // Blocks every 150 ms for a second, then silence.
    std::atomic<bool> release { false };
    Connection c([&](int fd) {
        for (int i = 0; i < 7; ++i) {
            LoopbackServer::SendAll(fd, "block");
            ::usleep(150000);
        }
        for (int i = 0; i < 300 && !release; ++i)
            ::usleep(10000);
        ::close(fd);
    });
    c.sock.TimeOut = 400;
    const std::string path = TempPath("silent.bin");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ExceptionText([&] { c.sock.CaptureFile(path); }), "Socket send aborted");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    release = true;
    EXPECT_GE(ms, 1000); // the blocks kept it alive longer than TimeOut
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(ReadFile(path), std::string("blockblockblockblockblockblockblock"));
    EXPECT_FALSE(c.sock.Canceled);
}

TEST(Transfer, AbortDuringSendFileEndsAfterTheCurrentSend)
{
    const std::string path = TempPath("abort.bin");
    WriteFile(path, Pattern(8 * 1024 * 1024));
    std::atomic<bool> release { false };
    Connection c([&](int fd) {
        // Read slowly so that the sender has to wait.
        for (int i = 0; i < 300 && !release; ++i) {
            char buf[4096];
            ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            ::usleep(5000);
        }
        ::close(fd);
    });
    int packets = 0;
    c.sock.OnPacketSent = [&](platform::TComponent*) {
        if (++packets == 3)
            c.sock.Abort();
    };
    EXPECT_EQ(ExceptionText([&] { c.sock.SendFile(path); }), "Socket send aborted");
    release = true;
    EXPECT_EQ(packets, 3);
    EXPECT_FALSE(c.sock.Canceled);
    EXPECT_LT(c.sock.BytesSent, 8 * 1024 * 1024);
}
