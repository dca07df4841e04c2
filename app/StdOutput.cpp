#include "app/StdOutput.h"

#include "platform/SysUtils.h"

#include <cerrno>
#include <csignal>
#include <ctime>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

constexpr int kStdOut = 1;
// The runtime's "file not open for output".
constexpr int kFileNotOpenForOutput = 105;

bool g_open = false;

[[noreturn]] void RaiseNotOpen()
{
    throw platform::EInOutError(kFileNotOpenForOutput, "I/O 错误 " + std::to_string(kFileNotOpenForOutput));
}

bool DescriptorUsable(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    switch (st.st_mode & S_IFMT) {
    case S_IFREG:
    case S_IFCHR:
    case S_IFIFO:
    case S_IFSOCK:
    case S_IFBLK:
        return true;
    default:
        return false; // a directory, or a kind the system cannot name
    }
}

// Writes all of `data`; false on any failure. SIGPIPE of a closed pipe is
// blocked for this thread and taken back if the write raised it, so a reader
// that went away is an error here, not the end of the program.
bool WriteAll(const std::string& data)
{
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool pipeWasPending = sigismember(&pending, SIGPIPE) == 1;

    bool ok = true;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(kStdOut, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            if (errno == EPIPE && !pipeWasPending) {
                const timespec none {};
                while (sigtimedwait(&pipeOnly, nullptr, &none) < 0 && errno == EINTR) {
                }
            }
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}

} // namespace

void WriteStdOutLine(const std::string& text)
{
    if (!g_open) {
        if (!DescriptorUsable(kStdOut))
            RaiseNotOpen();
        g_open = true;
    }
    if (!WriteAll(text + "\r\n")) {
        g_open = false;
        RaiseNotOpen();
    }
}

} // namespace app
