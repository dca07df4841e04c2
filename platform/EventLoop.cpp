#include "platform/EventLoop.h"

#include "platform/EventLoopState.h"
#include "platform/Forms.h"
#include "platform/Winsock.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::detail {

Loop& Loop::Instance()
{
    // Never destroyed: look-up threads may still post after main returns.
    static Loop* loop = new Loop();
    return *loop;
}

Loop::Loop()
{
    epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epollFd < 0 || wakeFd < 0)
        std::abort(); // no event loop can run without them
    epoll_event ev {};
    ev.events = EPOLLIN;
    ev.data.fd = wakeFd;
    ::epoll_ctl(epollFd, EPOLL_CTL_ADD, wakeFd, &ev);
}

bool Loop::Post(Message m)
{
    {
        std::lock_guard lock(m_queueMutex);
        m_queue.push_back(std::move(m));
    }
    // Wakes a pump blocked in epoll_wait or a foreign loop watching PollFd.
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
    return true;
}

void Loop::PurgeMessages(const std::function<bool(const Message&)>& match)
{
    std::lock_guard lock(m_queueMutex);
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(), match), m_queue.end());
}

int Loop::MillisecondsToNextTimer() const
{
    if (timers.empty())
        return -1;
    auto next = Clock::time_point::max();
    for (const Timer& t : timers)
        if (!t.posted)
            next = std::min(next, t.due);
    if (next == Clock::time_point::max())
        return -1;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms, 1 << 30));
}

void Loop::FireDueTimers()
{
    const auto now = Clock::now();
    for (Timer& t : timers) {
        if (t.posted || t.due > now)
            continue;
        t.posted = true;
        t.due = now + std::chrono::milliseconds(t.interval);
        Post(Message { t.window, WM_TIMER, t.id, 0, nullptr, false });
    }
}

void Loop::PostSocketEvent(int fd, const Socket& s, std::uint16_t event, int error)
{
    if (!(s.mask & event) || s.window == 0)
        return;
    Post(Message { s.window, s.message, static_cast<WPARAM>(fd),
                   MakeSelectReply(event, static_cast<std::uint16_t>(error)), nullptr, false });
}

void Loop::UpdateRegistration(int fd, Socket& s)
{
    std::uint32_t want = 0;
    switch (s.state) {
    case SocketState::Connecting:
        want = EPOLLOUT;
        break;
    case SocketState::Connected:
        if (!s.closePosted)
            want = EPOLLIN | EPOLLRDHUP | EPOLLET | (s.wantWrite ? EPOLLOUT : 0u);
        break;
    case SocketState::Listening:
        want = EPOLLIN | EPOLLET;
        break;
    case SocketState::Fresh:
    case SocketState::Failed:
        break;
    }
    if (s.window == 0 || s.mask == 0)
        want = s.wantWrite && s.state == SocketState::Connected ? (EPOLLOUT | EPOLLET) : 0u;
    if (want == s.registered)
        return;
    epoll_event ev {};
    ev.events = want;
    ev.data.fd = fd;
    if (want == 0) {
        ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
    } else if (s.registered == 0) {
        ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev);
    } else {
        ::epoll_ctl(epollFd, EPOLL_CTL_MOD, fd, &ev);
    }
    s.registered = want;
}

void Loop::Unregister(int fd, Socket& s)
{
    if (s.registered != 0)
        ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
    s.registered = 0;
}

// FD_CLOSE follows the peer's close only once every received byte has been
// read, so a reader never finds the connection gone while data waits; a reset
// is reported at once with its error, since its data is lost anyway.
void Loop::MaybePostClose(int fd, Socket& s)
{
    if (!s.peerClosed || s.closePosted || s.state != SocketState::Connected)
        return;
    if (s.closeError == 0) {
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0)
            return;
    }
    s.closePosted = true;
    PostSocketEvent(fd, s, FD_CLOSE, s.closeError);
    UpdateRegistration(fd, s);
}

void Loop::HandleSocketReadiness(int fd, std::uint32_t events)
{
    auto it = sockets.find(fd);
    if (it == sockets.end())
        return;
    Socket& s = it->second;
    switch (s.state) {
    case SocketState::Connecting: {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err == 0 && (events & EPOLLERR))
            err = ECONNREFUSED;
        if (err == ECONNRESET || err == EPIPE) {
            // Established, then reset before this was seen: the connect
            // succeeded and the connection closes with the reset.
            s.state = SocketState::Connected;
            PostSocketEvent(fd, s, FD_CONNECT, 0);
            s.peerClosed = true;
            s.closeError = winsock::ErrnoToWinsock(ECONNRESET);
            MaybePostClose(fd, s);
            UpdateRegistration(fd, s);
            break;
        }
        s.state = err == 0 ? SocketState::Connected : SocketState::Failed;
        PostSocketEvent(fd, s, FD_CONNECT, err == 0 ? 0 : winsock::ErrnoToWinsock(err));
        UpdateRegistration(fd, s);
        break;
    }
    case SocketState::Connected:
        if ((events & EPOLLOUT) && s.wantWrite) {
            s.wantWrite = false;
            UpdateRegistration(fd, s);
        }
        if ((events & EPOLLIN) && s.readArmed && !s.closePosted) {
            s.readArmed = false;
            PostSocketEvent(fd, s, FD_READ, 0);
        }
        if (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
            s.peerClosed = true;
            if (events & EPOLLERR) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                s.closeError = winsock::ErrnoToWinsock(err ? err : ECONNRESET);
            }
            MaybePostClose(fd, s);
        }
        break;
    case SocketState::Listening:
        if ((events & EPOLLIN) && s.acceptArmed) {
            s.acceptArmed = false;
            PostSocketEvent(fd, s, FD_ACCEPT, 0);
        }
        break;
    case SocketState::Fresh:
    case SocketState::Failed:
        Unregister(fd, s);
        break;
    }
}

bool Loop::CollectReadiness(int timeoutMs)
{
    epoll_event events[64];
    int n;
    do {
        n = ::epoll_wait(epollFd, events, 64, timeoutMs);
    } while (n < 0 && errno == EINTR && timeoutMs == 0);
    bool any = false;
    for (int i = 0; i < n; ++i) {
        if (events[i].data.fd == wakeFd) {
            std::uint64_t count;
            while (::read(wakeFd, &count, sizeof count) > 0) {
            }
            any = true;
            continue;
        }
        any = true;
        HandleSocketReadiness(events[i].data.fd, events[i].events);
    }
    return any;
}

void Loop::Dispatch(Message& m)
{
    auto it = windows.find(m.window);
    if (it == windows.end())
        return; // target gone: drop the message
    if (m.message == WM_TIMER) {
        bool live = false;
        for (Timer& t : timers)
            if (t.window == m.window && t.id == m.wParam) {
                t.posted = false;
                live = true;
            }
        if (!live)
            return;
    }
    if (m.isLookup) {
        auto lk = lookups.find(m.wParam);
        if (lk == lookups.end())
            return; // cancelled
        const Lookup lookup = lk->second;
        lookups.erase(lk);
        if (lookup.buffer && lookup.bufferLength >= static_cast<int>(sizeof(std::uint32_t))) {
            const std::size_t room = (static_cast<std::size_t>(lookup.bufferLength) - sizeof(std::uint32_t)) / 4;
            const std::size_t count = m.addresses ? std::min(room, m.addresses->size()) : 0;
            const std::uint32_t count32 = static_cast<std::uint32_t>(count);
            std::memcpy(lookup.buffer, &count32, sizeof count32);
            for (std::size_t i = 0; i < count; ++i)
                std::memcpy(lookup.buffer + sizeof(std::uint32_t) + 4 * i, &(*m.addresses)[i], 4);
        }
    }
    WNDPROC proc = it->second.proc;
    try {
        proc(m.window, m.message, m.wParam, m.lParam);
    } catch (...) {
        Application.HandleException(std::current_exception());
    }
}

bool Loop::DispatchReady()
{
    CollectReadiness(0);
    FireDueTimers();
    std::size_t count;
    {
        std::lock_guard lock(m_queueMutex);
        count = m_queue.size();
    }
    // One message at a time, so that a nested pump started by a handler takes
    // the next message of the same queue and the order holds.
    bool dispatched = false;
    for (std::size_t i = 0; i < count; ++i) {
        Message m;
        {
            std::lock_guard lock(m_queueMutex);
            if (m_queue.empty())
                break;
            m = std::move(m_queue.front());
            m_queue.pop_front();
        }
        Dispatch(m);
        dispatched = true;
    }
    return dispatched;
}

void Loop::Pump()
{
    bool did = DispatchReady();
    if (foreignPump) {
        foreignPump(0);
        did = DispatchReady() || did;
    }
    if (!did && !progress) {
        bool empty;
        {
            std::lock_guard lock(m_queueMutex);
            empty = m_queue.empty();
        }
        if (empty) {
            int wait = loop::kIdleSliceMs;
            const int timer = MillisecondsToNextTimer();
            if (timer >= 0)
                wait = std::min(wait, timer);
            if (wait > 0) {
                if (foreignPump)
                    foreignPump(wait);
                else
                    CollectReadiness(wait);
            }
            DispatchReady();
        }
    }
    progress = false;
}

} // namespace platform::detail

namespace platform::loop {

void ProcessMessages()
{
    detail::Loop::Instance().Pump();
}

bool DispatchReady()
{
    return detail::Loop::Instance().DispatchReady();
}

int PollFd()
{
    return detail::Loop::Instance().epollFd;
}

int MillisecondsToNextTimer()
{
    return detail::Loop::Instance().MillisecondsToNextTimer();
}

void SetForeignPump(std::function<void(int)> pump)
{
    detail::Loop::Instance().foreignPump = std::move(pump);
}

void NoteProgress()
{
    detail::Loop::Instance().progress = true;
}

} // namespace platform::loop
