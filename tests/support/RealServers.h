#pragma once

// The real FTP servers that tools/test.sh starts for end-to-end tests:
// pyftpdlib and vsftpd on 127.0.0.1, each with a writable root directory
// holding these sample files:
//
//     readme.txt      "Taviro sample file.\r\nSecond line.\r\n"
//     empty.txt       0 bytes
//     binary.bin      the 256 byte values 0..255, four times (1024 bytes)
//     sub/nested.txt  "nested\n"
//
// The servers run for a whole test program, so a test that changes the root
// uses its own names (UniqueName) and leaves the sample files as they are.
//
// Call RealServers() inside a test body, not in INSTANTIATE_TEST_SUITE_P:
// when a server is missing it fails the calling test, which is only seen
// inside a test.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct RealServer {
    std::string Name;     // "pyftpdlib" or "vsftpd"
    std::uint16_t Port;   // on 127.0.0.1
    std::string Root;     // local directory the login user sees as its home / root, writable
    std::string User;     // a user that can log in and write
    std::string Password;
};

// The servers started by the test command, read from the environment
// (TAVIRO_PYFTPDLIB_* and TAVIRO_VSFTPD_*, set by tools/ftp-servers.sh).
// A server that is not configured or does not accept a connection fails the
// calling test with a message saying to run through tools/test.sh, and is
// left out of the result.
std::vector<RealServer> RealServers();

// Writes `bytes` to `relativePath` under the server's root, creating missing
// directories, and gives them the root's owner so that the server's user may
// overwrite, append to, rename and delete them (vsftpd works as another user).
void WriteRootFile(const RealServer& server, const std::string& relativePath, const std::string& bytes);

// The bytes of `relativePath` under the server's root; fails the calling
// test and returns "" when it cannot be read.
std::string ReadRootFile(const RealServer& server, const std::string& relativePath);

// "<stem>-<pid>-<n>": a name no other test or test program uses.
std::string UniqueName(const std::string& stem);

}
