#include "support/ScriptedPeer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

// Waits are cut into slices so that a stop request is seen quickly.
constexpr int SliceMs = 20;
constexpr int StopJoinMs = 5000;
constexpr int DefaultAcceptMs = 5000;
constexpr int SendTimeoutMs = 5000;
// A line longer than this is a client fault, not something to buffer forever.
constexpr std::size_t MaxLineBytes = 64 * 1024;

std::string Escape(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string ErrnoText(int error)
{
    return std::string(std::strerror(error)) + " (errno " + std::to_string(error) + ")";
}

int OpenLoopbackListener(std::uint16_t& port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

}

struct ScriptedPeer::State {
    mutable std::mutex mutex;
    std::condition_variable doneChanged;
    bool started = false;
    bool done = false;
    bool stop = false;

    int listenFd = -1;
    std::uint16_t port = 0;
    int controlFd = -1;
    std::string controlPending;
    std::vector<int> dataListeners;
    std::vector<std::uint16_t> dataPorts;
    int dataFd = -1;

    std::string received;
    std::string dataReceived;
    std::vector<std::string> errors;

    std::vector<std::pair<std::string, Step>> steps;
    std::string currentStep;
    std::thread thread;

    ~State()
    {
        for (int fd : { listenFd, controlFd, dataFd })
            if (fd >= 0)
                ::close(fd);
        for (int fd : dataListeners)
            if (fd >= 0)
                ::close(fd);
    }

    bool Stopping() const
    {
        std::lock_guard lock(mutex);
        return stop;
    }

    void RecordError(const std::string& what)
    {
        std::lock_guard lock(mutex);
        errors.push_back(currentStep + ": " + what);
    }

    // Closes `fd` under the lock, so the destructor never shuts down a
    // number that has been reused.
    void CloseFd(int& fd, bool abortive)
    {
        std::lock_guard lock(mutex);
        if (fd < 0)
            return;
        if (abortive) {
            linger hard { 1, 0 };
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        ::close(fd);
        fd = -1;
    }

    void SetFd(int& slot, int fd)
    {
        std::lock_guard lock(mutex);
        slot = fd;
    }

    enum class Wait { Ready, TimedOut, Stopped };

    // Polls `fd` for `events` until ready, the deadline or a stop request.
    Wait WaitFor(int fd, short events, Clock::time_point deadline)
    {
        for (;;) {
            if (Stopping())
                return Wait::Stopped;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return Wait::TimedOut;
            pollfd p { fd, events, 0 };
            int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, SliceMs)));
            if (ready > 0)
                return Wait::Ready;
            if (ready < 0 && errno != EINTR)
                return Wait::Ready; // let the following call report the error
        }
    }

    bool Accept(int listener, int& slot, int timeoutMs, const char* what)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            switch (WaitFor(listener, POLLIN, deadline)) {
            case Wait::Stopped:
                RecordError("stopped while waiting for a connection");
                return false;
            case Wait::TimedOut:
                RecordError(std::string("no ") + what + " connection within " + std::to_string(timeoutMs) + " ms");
                return false;
            case Wait::Ready:
                break;
            }
            int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                SetFd(slot, fd);
                return true;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
                RecordError(std::string("accept failed: ") + ErrnoText(errno));
                return false;
            }
        }
    }

    bool EnsureControl(int timeoutMs = DefaultAcceptMs)
    {
        if (controlFd >= 0)
            return true;
        return Accept(listenFd, controlFd, timeoutMs, "control");
    }

    bool SendAll(int fd, const std::string& bytes)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(SendTimeoutMs);
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                RecordError("send failed after " + std::to_string(sent) + " of " + std::to_string(bytes.size())
                    + " bytes: " + ErrnoText(errno));
                return false;
            }
            switch (WaitFor(fd, POLLOUT, deadline)) {
            case Wait::Stopped:
                RecordError("stopped while sending");
                return false;
            case Wait::TimedOut:
                RecordError("the client took none of the last " + std::to_string(bytes.size() - sent)
                    + " bytes within " + std::to_string(SendTimeoutMs) + " ms");
                return false;
            case Wait::Ready:
                break;
            }
        }
        return true;
    }

    enum class Read { Data, Closed, Reset, Error, WouldBlock };

    // One non-blocking read, appended to `sink` (under the lock) and to `pending`.
    Read ReadSome(int fd, std::string& sink, std::string* pending)
    {
        char buffer[16 * 1024];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            {
                std::lock_guard lock(mutex);
                sink.append(buffer, static_cast<std::size_t>(n));
            }
            if (pending)
                pending->append(buffer, static_cast<std::size_t>(n));
            return Read::Data;
        }
        if (n == 0)
            return Read::Closed;
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return Read::WouldBlock;
        if (errno == ECONNRESET)
            return Read::Reset;
        RecordError("recv failed: " + ErrnoText(errno));
        return Read::Error;
    }

    // Takes in whatever the client has already sent, so that a close does
    // not turn into a reset because of unread input, and Received() has it.
    void Drain(int fd, std::string& sink, std::string* pending)
    {
        for (int i = 0; i < 1024; ++i)
            if (ReadSome(fd, sink, pending) != Read::Data)
                return;
    }

    // Reads one control line including its LF into `line`.
    bool ReadControlLine(std::string& line, int timeoutMs)
    {
        if (!EnsureControl(timeoutMs))
            return false;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            auto lf = controlPending.find('\n');
            if (lf != std::string::npos) {
                line = controlPending.substr(0, lf + 1);
                controlPending.erase(0, lf + 1);
                return true;
            }
            if (controlPending.size() > MaxLineBytes) {
                RecordError("line longer than " + std::to_string(MaxLineBytes) + " bytes without LF");
                return false;
            }
            switch (ReadSome(controlFd, received, &controlPending)) {
            case Read::Data:
                continue;
            case Read::Closed:
                RecordError("the client closed the control connection; unterminated bytes: \""
                    + Escape(controlPending) + "\"");
                return false;
            case Read::Reset:
                RecordError("the client reset the control connection");
                return false;
            case Read::Error:
                return false;
            case Read::WouldBlock:
                break;
            }
            switch (WaitFor(controlFd, POLLIN, deadline)) {
            case Wait::Stopped:
                RecordError("stopped while waiting for a line");
                return false;
            case Wait::TimedOut:
                RecordError("no complete line within " + std::to_string(timeoutMs) + " ms; unterminated bytes: \""
                    + Escape(controlPending) + "\"");
                return false;
            case Wait::Ready:
                break;
            }
        }
    }

    // Reads `fd` until the client closes it. A reset counts as a close.
    bool ReadUntilClosed(int fd, std::string& sink, std::string* pending, int timeoutMs, const char* what)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            switch (ReadSome(fd, sink, pending)) {
            case Read::Data:
                continue;
            case Read::Closed:
            case Read::Reset:
                return true;
            case Read::Error:
                return false;
            case Read::WouldBlock:
                break;
            }
            switch (WaitFor(fd, POLLIN, deadline)) {
            case Wait::Stopped:
                RecordError(std::string("stopped while waiting for the client to close the ") + what + " connection");
                return false;
            case Wait::TimedOut:
                RecordError(std::string("the client did not close the ") + what + " connection within "
                    + std::to_string(timeoutMs) + " ms");
                return false;
            case Wait::Ready:
                break;
            }
        }
    }

    bool NeedData()
    {
        if (dataFd >= 0)
            return true;
        RecordError("no data connection");
        return false;
    }

    void GracefulClose(int& fd, std::string& sink, std::string* pending)
    {
        if (fd < 0)
            return;
        Drain(fd, sink, pending);
        ::shutdown(fd, SHUT_WR);
        CloseFd(fd, false);
    }

    // Host and port from the last PORT command on the control connection.
    bool LastPortAddress(sockaddr_in& address)
    {
        std::string all;
        {
            std::lock_guard lock(mutex);
            all = received;
        }
        std::size_t found = std::string::npos;
        for (std::size_t at = 0; at < all.size();) {
            std::size_t end = all.find('\n', at);
            if (end == std::string::npos)
                break;
            if (all.compare(at, 5, "PORT ") == 0)
                found = at + 5;
            at = end + 1;
        }
        if (found == std::string::npos) {
            RecordError("the client sent no PORT command");
            return false;
        }
        unsigned v[6];
        std::string text = all.substr(found, all.find('\n', found) - found);
        if (std::sscanf(text.c_str(), "%u,%u,%u,%u,%u,%u", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6) {
            RecordError("cannot parse PORT argument \"" + Escape(text) + "\"");
            return false;
        }
        for (unsigned x : v)
            if (x > 255) {
                RecordError("PORT argument out of range: \"" + Escape(text) + "\"");
                return false;
            }
        // Tests talk to loopback only, whatever the client announces.
        if (v[0] != 127) {
            RecordError("PORT names a non-loopback host: \"" + Escape(text) + "\"");
            return false;
        }
        address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl((v[0] << 24) | (v[1] << 16) | (v[2] << 8) | v[3]);
        address.sin_port = htons(static_cast<std::uint16_t>((v[4] << 8) | v[5]));
        return true;
    }

    bool Connect(const sockaddr_in& address, int timeoutMs)
    {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            RecordError("socket failed: " + ErrnoText(errno));
            return false;
        }
        SetFd(dataFd, fd);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return true;
        if (errno != EINPROGRESS) {
            RecordError("connect failed: " + ErrnoText(errno));
            CloseFd(dataFd, false);
            return false;
        }
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        switch (WaitFor(fd, POLLOUT, deadline)) {
        case Wait::Stopped:
            RecordError("stopped while connecting");
            CloseFd(dataFd, false);
            return false;
        case Wait::TimedOut:
            RecordError("connect did not finish within " + std::to_string(timeoutMs) + " ms");
            CloseFd(dataFd, false);
            return false;
        case Wait::Ready:
            break;
        }
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            RecordError("connect failed: " + ErrnoText(error));
            CloseFd(dataFd, false);
            return false;
        }
        return true;
    }

    int DataListener(std::size_t index)
    {
        std::lock_guard lock(mutex);
        return index < dataListeners.size() ? dataListeners[index] : -1;
    }

    void Run()
    {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            {
                std::lock_guard lock(mutex);
                currentStep = "step " + std::to_string(i + 1) + " " + steps[i].first;
            }
            if (!steps[i].second(*this))
                break;
        }
        // Whatever the client sent before the end counts as received too.
        if (controlFd >= 0)
            Drain(controlFd, received, &controlPending);
        std::lock_guard lock(mutex);
        done = true;
        doneChanged.notify_all();
    }
};

ScriptedPeer::ScriptedPeer()
    : m_state(std::make_shared<State>())
{
    m_state->listenFd = OpenLoopbackListener(m_state->port);
    if (m_state->listenFd < 0)
        m_state->errors.push_back("cannot listen on 127.0.0.1: " + ErrnoText(errno));
}

ScriptedPeer::~ScriptedPeer()
{
    State& s = *m_state;
    bool joinable;
    {
        std::unique_lock lock(s.mutex);
        s.stop = true;
        // Shutting the sockets down wakes any poll at once.
        for (int fd : { s.listenFd, s.controlFd, s.dataFd })
            if (fd >= 0)
                ::shutdown(fd, SHUT_RDWR);
        for (int fd : s.dataListeners)
            if (fd >= 0)
                ::shutdown(fd, SHUT_RDWR);
        joinable = s.thread.joinable();
        if (joinable)
            s.doneChanged.wait_for(lock, std::chrono::milliseconds(StopJoinMs), [&] { return s.done; });
    }
    if (joinable) {
        bool finished;
        {
            std::lock_guard lock(s.mutex);
            finished = s.done;
        }
        if (finished) {
            s.thread.join();
        } else {
            // Never hang a test run: the thread holds its own reference to
            // the state and releases it when it ends.
            s.thread.detach();
        }
    }
}

std::uint16_t ScriptedPeer::Port() const
{
    return m_state->port;
}

ScriptedPeer& ScriptedPeer::Add(std::string name, Step step)
{
    m_state->steps.emplace_back(std::move(name), std::move(step));
    return *this;
}

ScriptedPeer& ScriptedPeer::Send(const std::string& bytes)
{
    return Add("Send(\"" + Escape(bytes) + "\")", [bytes](State& s) {
        return s.EnsureControl() && s.SendAll(s.controlFd, bytes);
    });
}

ScriptedPeer& ScriptedPeer::Expect(const std::string& line, int timeoutMs)
{
    return Add("Expect(\"" + Escape(line) + "\")", [line, timeoutMs](State& s) {
        std::string got;
        if (!s.ReadControlLine(got, timeoutMs))
            return false;
        if (got != line)
            s.RecordError("expected \"" + Escape(line) + "\", got \"" + Escape(got) + "\"");
        return true;
    });
}

ScriptedPeer& ScriptedPeer::ExpectAndReply(const std::string& line, const std::string& reply)
{
    return Expect(line).Send(reply);
}

ScriptedPeer& ScriptedPeer::ExpectPrefix(const std::string& prefix, int timeoutMs)
{
    return Add("ExpectPrefix(\"" + Escape(prefix) + "\")", [prefix, timeoutMs](State& s) {
        std::string got;
        if (!s.ReadControlLine(got, timeoutMs))
            return false;
        if (got.compare(0, prefix.size(), prefix) != 0)
            s.RecordError("expected a line starting \"" + Escape(prefix) + "\", got \"" + Escape(got) + "\"");
        return true;
    });
}

ScriptedPeer& ScriptedPeer::ExpectPrefixAndReply(const std::string& prefix, const std::string& reply)
{
    return ExpectPrefix(prefix).Send(reply);
}

ScriptedPeer& ScriptedPeer::ReadLine(int timeoutMs)
{
    return Add("ReadLine", [timeoutMs](State& s) {
        std::string got;
        return s.ReadControlLine(got, timeoutMs);
    });
}

ScriptedPeer& ScriptedPeer::Sleep(int ms)
{
    return Add("Sleep(" + std::to_string(ms) + ")", [ms](State& s) {
        auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < deadline) {
            if (s.Stopping()) {
                s.RecordError("stopped while sleeping");
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, SliceMs)));
        }
        return true;
    });
}

ScriptedPeer& ScriptedPeer::Close()
{
    return Add("Close", [](State& s) {
        if (!s.EnsureControl())
            return false;
        s.GracefulClose(s.controlFd, s.received, &s.controlPending);
        return true;
    });
}

ScriptedPeer& ScriptedPeer::Reset()
{
    return Add("Reset", [](State& s) {
        if (!s.EnsureControl())
            return false;
        s.CloseFd(s.controlFd, true);
        return true;
    });
}

ScriptedPeer& ScriptedPeer::WaitClientClose(int timeoutMs)
{
    return Add("WaitClientClose", [timeoutMs](State& s) {
        if (!s.EnsureControl(timeoutMs))
            return false;
        return s.ReadUntilClosed(s.controlFd, s.received, &s.controlPending, timeoutMs, "control");
    });
}

ScriptedPeer& ScriptedPeer::AcceptControl(int timeoutMs)
{
    return Add("AcceptControl", [timeoutMs](State& s) {
        int next = -1;
        if (!s.Accept(s.listenFd, next, timeoutMs, "further control"))
            return false;
        s.GracefulClose(s.controlFd, s.received, &s.controlPending);
        s.controlPending.clear();
        s.SetFd(s.controlFd, next);
        return true;
    });
}

ScriptedPeer& ScriptedPeer::PassiveListen()
{
    std::uint16_t port = 0;
    int fd = OpenLoopbackListener(port);
    std::lock_guard lock(m_state->mutex);
    if (fd < 0)
        m_state->errors.push_back("cannot open a data listener on 127.0.0.1: " + ErrnoText(errno));
    m_state->dataListeners.push_back(fd);
    m_state->dataPorts.push_back(port);
    return *this;
}

std::uint16_t ScriptedPeer::DataListenPort() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->dataPorts.empty() ? 0 : m_state->dataPorts.back();
}

std::string ScriptedPeer::PassiveReply(std::uint16_t port)
{
    return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 0xff)
        + ").\r\n";
}

ScriptedPeer& ScriptedPeer::SendPassiveReply()
{
    std::uint16_t port = DataListenPort();
    bool listening = port != 0;
    return Add("SendPassiveReply", [port, listening](State& s) {
        if (!listening) {
            s.RecordError("no PassiveListen before SendPassiveReply");
            return false;
        }
        return s.EnsureControl() && s.SendAll(s.controlFd, PassiveReply(port));
    });
}

ScriptedPeer& ScriptedPeer::AcceptData(int timeoutMs)
{
    std::size_t index;
    {
        std::lock_guard lock(m_state->mutex);
        index = m_state->dataListeners.size();
    }
    return Add("AcceptData", [index, timeoutMs](State& s) {
        int listener = index == 0 ? -1 : s.DataListener(index - 1);
        if (listener < 0) {
            s.RecordError("no PassiveListen before AcceptData");
            return false;
        }
        s.GracefulClose(s.dataFd, s.dataReceived, nullptr);
        return s.Accept(listener, s.dataFd, timeoutMs, "data");
    });
}

ScriptedPeer& ScriptedPeer::ConnectData(int timeoutMs)
{
    return Add("ConnectData", [timeoutMs](State& s) {
        sockaddr_in address;
        if (!s.LastPortAddress(address))
            return false;
        s.GracefulClose(s.dataFd, s.dataReceived, nullptr);
        return s.Connect(address, timeoutMs);
    });
}

ScriptedPeer& ScriptedPeer::SendData(const std::string& bytes)
{
    return Add("SendData(" + std::to_string(bytes.size()) + " bytes)", [bytes](State& s) {
        return s.NeedData() && s.SendAll(s.dataFd, bytes);
    });
}

ScriptedPeer& ScriptedPeer::ReceiveData(int timeoutMs)
{
    return Add("ReceiveData", [timeoutMs](State& s) {
        return s.NeedData() && s.ReadUntilClosed(s.dataFd, s.dataReceived, nullptr, timeoutMs, "data");
    });
}

ScriptedPeer& ScriptedPeer::CloseData()
{
    return Add("CloseData", [](State& s) {
        if (!s.NeedData())
            return false;
        s.GracefulClose(s.dataFd, s.dataReceived, nullptr);
        return true;
    });
}

ScriptedPeer& ScriptedPeer::ResetData()
{
    return Add("ResetData", [](State& s) {
        if (!s.NeedData())
            return false;
        s.CloseFd(s.dataFd, true);
        return true;
    });
}

ScriptedPeer& ScriptedPeer::Do(std::function<void()> action)
{
    return Add("Do", [action = std::move(action)](State&) {
        action();
        return true;
    });
}

void ScriptedPeer::Start()
{
    std::shared_ptr<State> state = m_state;
    std::lock_guard lock(state->mutex);
    if (state->started) {
        state->errors.push_back("Start called twice");
        return;
    }
    state->started = true;
    state->thread = std::thread([state] { state->Run(); });
}

bool ScriptedPeer::Finish(int timeoutMs)
{
    State& s = *m_state;
    std::unique_lock lock(s.mutex);
    if (!s.started) {
        s.errors.push_back("Finish called before Start");
        return false;
    }
    return s.doneChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return s.done; });
}

std::string ScriptedPeer::Received() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->received;
}

std::string ScriptedPeer::DataReceived() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->dataReceived;
}

std::vector<std::string> ScriptedPeer::Errors() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->errors;
}

}
