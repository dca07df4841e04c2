#pragma once

// Fixtures of the socket-level tests: a connected component, the text of an
// exception, a bounded pump loop, and a raw loopback TCP server that accepts on
// 127.0.0.1 (free port) and runs the test's own code with each accepted
// descriptor on a thread of its own, so the test controls every byte, pause,
// close and reset.

#include "platform/EventLoop.h"
#include "socket/Doziz.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace sockettest {

class LoopbackServer {
public:
    // `session` runs on the server thread with the accepted descriptor.
    explicit LoopbackServer(std::function<void(int fd)> session, int backlog = 4)
        : m_session(std::move(session))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        ::listen(m_listener, backlog);
        if (m_session)
            m_thread = std::thread([this] { Run(); });
    }

    ~LoopbackServer()
    {
        m_stop = true;
        ::shutdown(m_listener, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }

    std::uint16_t Port() const { return m_port; }
    bool SessionDone() const { return m_done; }

    // Waits (bounded) until `fd` has `n` bytes or the peer closes; returns them.
    static std::string ReadExactly(int fd, std::size_t n, int timeoutMs = 5000)
    {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
            pollfd p { fd, POLLIN, 0 };
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[65536];
            const ssize_t r = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
            if (r <= 0)
                break;
            out.append(buf, static_cast<std::size_t>(r));
        }
        return out;
    }

    // Reads until the peer closes (bounded); returns everything read.
    static std::string ReadToClose(int fd, int timeoutMs = 5000)
    {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p { fd, POLLIN, 0 };
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[65536];
            const ssize_t r = ::recv(fd, buf, sizeof buf, 0);
            if (r <= 0)
                break;
            out.append(buf, static_cast<std::size_t>(r));
        }
        return out;
    }

    static void SendAll(int fd, const std::string& bytes)
    {
        std::size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t r = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (r <= 0)
                return;
            off += static_cast<std::size_t>(r);
        }
    }

    static void Reset(int fd)
    {
        linger l { 1, 0 };
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(fd);
    }

private:
    void Run()
    {
        while (!m_stop) {
            pollfd p { m_listener, POLLIN, 0 };
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            m_session(fd);
            m_done = true;
            return; // one session per server
        }
    }

    std::function<void(int)> m_session;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_done { false };
};

// Pumps messages until `done` holds or `timeoutMs` pass; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (int pass = 0; pass < 100000 && !done() && std::chrono::steady_clock::now() < deadline; ++pass)
        platform::loop::ProcessMessages();
    return done();
}

// The text of the exception `f` raises, or "(no exception)".
inline std::string ExceptionText(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

// A component connected to `session` on the server side.
struct Connection {
    explicit Connection(std::function<void(int)> session)
        : server(std::move(session))
        , sock(nullptr)
    {
        sock.Host = "127.0.0.1";
        sock.Port = server.Port();
        sock.Connect();
    }
    LoopbackServer server;
    doziz::TVazadezuv sock;
};

} // namespace sockettest
