// End to end against the real servers that tools/test.sh starts (pyftpdlib
// and vsftpd), in passive and active mode: listings, every kind of download
// and upload with files compared byte for byte with their source on the
// server's file system, and an Abort in the middle of a transfer.

#include "DataTestKit.h"
#include "support/RealServers.h"

#include "platform/Forms.h"

#include <gmock/gmock.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace ftpdatatest;
using testsupport::ReadRootFile;
using testsupport::RealServer;
using testsupport::RealServers;
using testsupport::UniqueName;
using testsupport::WriteRootFile;

class RealServerModes : public testing::TestWithParam<bool> {
protected:
    void Login(TKivFTP& ftp, const RealServer& server)
    {
        ftp.Host = "127.0.0.1";
        ftp.Port = server.Port;
        ftp.TimeOut = 10000;
        ftp.UserID = server.User;
        ftp.Password = server.Password;
        ftp.Passive = GetParam();
        ftp.Connect();
    }

    // The names in a directory under the server's root.
    static std::set<std::string> NamesIn(const RealServer& server, const std::string& directory)
    {
        std::set<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(server.Root + "/" + directory, error))
            names.insert(entry.path().filename().string());
        return names;
    }

    TempDir dir;
};

// Sizes: empty, small, one block and a half, several MiB.
const std::size_t kSizes[] = { 0, 1000, 100000, 5 * 1024 * 1024 + 123 };

TEST_P(RealServerModes, EveryTransferArrivesUnchanged)
{
    for (const RealServer& server : RealServers()) {
        TKivFTP ftp(nullptr);
        Login(ftp, server);
        Watchdog dog(ftp, 120000);
        unsigned seed = 1;
        for (const std::size_t size : kSizes) {
            SCOPED_TRACE(server.Name + ", " + std::to_string(size) + " bytes");
            const std::string source = BinaryBytes(size, ++seed);
            const std::string local = dir.Path("source.bin");
            WriteFile(local, source);

            // Upload, then Download it again.
            const std::string stored = UniqueName("stored") + ".bin";
            ASSERT_EQ(Outcome([&] { ftp.Upload(local, stored); }), "ok");
            EXPECT_TRUE(SameBytes(ReadRootFile(server, stored), source));
            EXPECT_EQ(ftp.BytesTotal, static_cast<std::int64_t>(size));
            const std::string fetched = dir.Path("fetched.bin");
            ASSERT_EQ(Outcome([&] { ftp.Download(stored, fetched); }), "ok");
            EXPECT_TRUE(SameBytes(ReadFile(fetched), source));
            EXPECT_EQ(ftp.BytesTotal, static_cast<std::int64_t>(size));

            // Resumed download: a third is there already.
            const std::string partial = dir.Path("partial.bin");
            WriteFile(partial, source.substr(0, size / 3));
            ASSERT_EQ(Outcome([&] { ftp.DownloadRestore(stored, partial); }), "ok");
            EXPECT_TRUE(SameBytes(ReadFile(partial), source));

            // Appending upload: the server has the first half.
            const std::string appended = UniqueName("appended") + ".bin";
            WriteRootFile(server, appended, source.substr(0, size / 2));
            const std::string secondHalf = dir.Path("second-half.bin");
            WriteFile(secondHalf, source.substr(size / 2));
            ASSERT_EQ(Outcome([&] { ftp.UploadAppend(secondHalf, appended); }), "ok");
            EXPECT_TRUE(SameBytes(ReadRootFile(server, appended), source));

            // Resumed upload: the server has the first half, the rest goes
            // from there.
            const std::string resumed = UniqueName("resumed") + ".bin";
            WriteRootFile(server, resumed, source.substr(0, size / 2));
            ASSERT_EQ(Outcome([&] { ftp.UploadRestore(local, resumed, static_cast<std::int64_t>(size / 2)); }),
                      "ok");
            EXPECT_TRUE(SameBytes(ReadRootFile(server, resumed), source));

            // Unique upload, into a directory of its own so that the new
            // name is the one new entry.
            const std::string uniqueDir = UniqueName("unique");
            WriteRootFile(server, uniqueDir + "/keep", "");
            ASSERT_EQ(Outcome([&] { ftp.ChangeDir(uniqueDir); }), "ok");
            ASSERT_EQ(Outcome([&] { ftp.UploadUnique(local); }), "ok");
            // A command after it: its reply comes once the server has
            // finished with the file.
            ASSERT_EQ(Outcome([&] { ftp.ChangeDir("/"); }), "ok");
            std::set<std::string> names = NamesIn(server, uniqueDir);
            names.erase("keep");
            ASSERT_EQ(names.size(), 1u);
            EXPECT_TRUE(SameBytes(ReadRootFile(server, uniqueDir + "/" + *names.begin()), source));
        }

        // The server's own binary sample arrives as it is on its disk.
        const std::string sample = dir.Path("binary.bin");
        ASSERT_EQ(Outcome([&] { ftp.Download("binary.bin", sample); }), "ok");
        EXPECT_TRUE(SameBytes(ReadFile(sample), ReadRootFile(server, "binary.bin")));
        ftp.Disconnect();
    }
}

TEST_P(RealServerModes, ListingsNameTheFiles)
{
    for (const RealServer& server : RealServers()) {
        SCOPED_TRACE(server.Name);
        TKivFTP ftp(nullptr);
        Login(ftp, server);
        Watchdog dog(ftp, 60000);
        ftp.ParseList = true;
        std::vector<std::string> lines;
        ftp.OnListItem = [&](const std::string& line) { lines.push_back(line); };
        ASSERT_EQ(Outcome([&] { ftp.List(); }), "ok");
        EXPECT_EQ(ftp.Vendor, 2400);
        ASSERT_NE(ftp.DirectoryList(), nullptr);
        const auto& names = ftp.DirectoryList()->Names.Items();
        for (const char* name : { "readme.txt", "empty.txt", "binary.bin", "sub" })
            EXPECT_THAT(names, testing::Contains(name));
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == "readme.txt") {
                EXPECT_EQ(ftp.DirectoryList()->Sizes[static_cast<int>(i)],
                          std::to_string(ReadRootFile(server, "readme.txt").size()));
                EXPECT_EQ(ftp.DirectoryList()->Attributes[static_cast<int>(i)].substr(0, 1), "-");
            }
            if (names[i] == "sub") {
                EXPECT_EQ(ftp.DirectoryList()->Attributes[static_cast<int>(i)].substr(0, 1), "d");
            }
        }
        for (const auto& line : lines)
            EXPECT_EQ(line.find('\n'), std::string::npos) << line;

        lines.clear();
        ASSERT_EQ(Outcome([&] { ftp.Nlist(); }), "ok");
        for (const char* name : { "readme.txt", "empty.txt", "binary.bin", "sub" })
            EXPECT_THAT(lines, testing::Contains(name));
        std::int64_t bytes = 0;
        for (const auto& line : lines)
            bytes += static_cast<std::int64_t>(line.size()) + 2; // CR LF
        EXPECT_EQ(ftp.BytesTotal, bytes);

        // A listing of a subdirectory after CWD.
        ASSERT_EQ(Outcome([&] { ftp.ChangeDir("sub"); }), "ok");
        lines.clear();
        ASSERT_EQ(Outcome([&] { ftp.Nlist(); }), "ok");
        EXPECT_THAT(lines, testing::ElementsAre("nested.txt"));
        ftp.Disconnect();
    }
}

// Abort from a progress handler in the middle of a download and of an
// upload: the abort error, the partial local file kept, and the connection
// still good for the next transfer.
TEST_P(RealServerModes, AbortFromProgressHandler)
{
    const std::size_t size = 8 * 1024 * 1024;
    for (const RealServer& server : RealServers()) {
        SCOPED_TRACE(server.Name);
        const std::string source = BinaryBytes(size, 99);
        const std::string remote = UniqueName("abort") + ".bin";
        WriteRootFile(server, remote, source);
        TKivFTP ftp(nullptr);
        Login(ftp, server);
        Watchdog dog(ftp, 60000);

        const std::string local = dir.Path("aborted.bin");
        ftp.OnPacketRecvd = [&](platform::TComponent*) {
            if (ftp.BytesRecvd() >= 1024 * 1024)
                ftp.Abort();
        };
        EXPECT_EQ(Outcome([&] { ftp.Download(remote, local); }), "EAbortError: Socket send aborted");
        const std::string partial = ReadFile(local);
        EXPECT_GE(partial.size(), 1024u * 1024);
        EXPECT_LT(partial.size(), size);
        EXPECT_TRUE(SameBytes(partial, source.substr(0, partial.size())));
        ftp.OnPacketRecvd = nullptr;

        const std::string upload = dir.Path("upload.bin");
        WriteFile(upload, source);
        const std::string stored = UniqueName("abort-up") + ".bin";
        ftp.OnPacketSent = [&](platform::TComponent*) {
            if (ftp.BytesSent() >= 1024 * 1024)
                ftp.Abort();
        };
        EXPECT_EQ(Outcome([&] { ftp.Upload(upload, stored); }), "EAbortError: Socket send aborted");
        ftp.OnPacketSent = nullptr;
        EXPECT_LT(ReadRootFile(server, stored).size(), size);

        // The server's late reply to the aborted transfer must have come
        // before the next command, or it would be taken for that command's
        // reply; the next operation drops it.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        while (std::chrono::steady_clock::now() < until)
            platform::Application.ProcessMessages();
        const std::string again = dir.Path("again.bin");
        EXPECT_EQ(Outcome([&] { ftp.Download("readme.txt", again); }), "ok");
        EXPECT_EQ(ReadFile(again), ReadRootFile(server, "readme.txt"));
        ftp.Disconnect();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, RealServerModes, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Passive" : "Active"; });

} // namespace
