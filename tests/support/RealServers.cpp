#include "support/RealServers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr int ReachTimeoutMs = 2000;

const char* const HowToRun = "run the tests through tools/test.sh, which starts the FTP servers "
                             "(or wrap the test program in tools/ftp-servers.sh run ...)";

// Empty when unset.
std::string Env(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

// Whether 127.0.0.1:port accepts a TCP connection within the time-out.
bool Reachable(std::uint16_t port, std::string& why)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    int error = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd p { fd, POLLOUT, 0 };
            if (::poll(&p, 1, ReachTimeoutMs) == 1) {
                socklen_t length = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            } else {
                error = ETIMEDOUT;
            }
        }
    }
    ::close(fd);
    if (error != 0)
        why = std::strerror(error);
    return error == 0;
}

}

std::vector<RealServer> RealServers()
{
    struct Known {
        const char* name;
        const char* prefix;
    };
    static constexpr Known known[] = { { "pyftpdlib", "TAVIRO_PYFTPDLIB_" }, { "vsftpd", "TAVIRO_VSFTPD_" } };

    std::vector<RealServer> servers;
    for (const Known& k : known) {
        const std::string prefix = k.prefix;
        const std::string port = Env(prefix + "PORT");
        RealServer server { k.name, 0, Env(prefix + "ROOT"), Env(prefix + "USER"), Env(prefix + "PASSWORD") };
        if (port.empty() || server.Root.empty() || server.User.empty()) {
            ADD_FAILURE() << "FTP server " << k.name << " is not available (" << prefix << "* not set): " << HowToRun;
            continue;
        }
        char* end = nullptr;
        long number = std::strtol(port.c_str(), &end, 10);
        if (*end != '\0' || number <= 0 || number > 65535) {
            ADD_FAILURE() << prefix << "PORT is not a port number: \"" << port << "\"";
            continue;
        }
        server.Port = static_cast<std::uint16_t>(number);
        std::error_code ignored;
        if (!std::filesystem::is_directory(server.Root, ignored)) {
            ADD_FAILURE() << "FTP server " << k.name << ": root " << server.Root << " is not a directory; "
                          << HowToRun;
            continue;
        }
        std::string why;
        if (!Reachable(server.Port, why)) {
            ADD_FAILURE() << "FTP server " << k.name << " does not answer on 127.0.0.1:" << server.Port << " (" << why
                          << "); " << HowToRun;
            continue;
        }
        servers.push_back(std::move(server));
    }
    return servers;
}

void WriteRootFile(const RealServer& server, const std::string& relativePath, const std::string& bytes)
{
    namespace fs = std::filesystem;
    const fs::path root = server.Root;
    const fs::path path = root / relativePath;
    struct stat owner {};
    ASSERT_EQ(::stat(root.c_str(), &owner), 0) << root << ": " << std::strerror(errno);

    // Create and hand over each missing directory between the root and the file.
    fs::path directory = root;
    for (const fs::path& part : fs::path(relativePath).parent_path()) {
        directory /= part;
        std::error_code error;
        if (fs::create_directory(directory, error)) {
            ASSERT_EQ(::chown(directory.c_str(), owner.st_uid, owner.st_gid), 0) << directory;
        }
        ASSERT_FALSE(error) << directory << ": " << error.message();
    }
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        ASSERT_TRUE(out) << "cannot write " << path;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good()) << "cannot write " << path;
    }
    ASSERT_EQ(::chown(path.c_str(), owner.st_uid, owner.st_gid), 0) << path << ": " << std::strerror(errno);
}

std::string ReadRootFile(const RealServer& server, const std::string& relativePath)
{
    const std::filesystem::path path = std::filesystem::path(server.Root) / relativePath;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return "";
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string UniqueName(const std::string& stem)
{
    static std::atomic<unsigned> counter { 0 };
    return stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

}
