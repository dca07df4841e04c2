#include "platform/Winsock.h"

#include "platform/EventLoop.h"
#include "platform/EventLoopState.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform::winsock {

using detail::Loop;
using detail::SocketState;

namespace {

thread_local int t_lastError = 0;

int Fail(int winsockError)
{
    t_lastError = winsockError;
    return SOCKET_ERROR;
}

int FailErrno()
{
    return Fail(ErrnoToWinsock(errno));
}

detail::Socket* Find(SOCKET s)
{
    auto& sockets = Loop::Instance().sockets;
    auto it = sockets.find(s);
    return it == sockets.end() ? nullptr : &it->second;
}

constexpr int kMaxHandle = 65534; // handles are held in 16 bits, 65535 = none

} // namespace

int ErrnoToWinsock(int err)
{
    switch (err) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: case EPIPE: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
    }
}

int WSAStartup(std::uint16_t versionRequested, WSAData* data)
{
    if (data) {
        data->wVersion = versionRequested;
        data->wHighVersion = 0x0202;
        data->szDescription = "POSIX sockets with event-loop notifications";
        data->szSystemStatus = "Running";
        const long maxFiles = ::sysconf(_SC_OPEN_MAX);
        data->iMaxSockets = static_cast<std::uint16_t>(maxFiles > 0 && maxFiles < 32767 ? maxFiles : 32767);
        data->iMaxUdpDg = 65467;
    }
    // Make sure the loop exists before any socket does.
    Loop::Instance();
    return 0;
}

int WSACleanup()
{
    return 0;
}

int WSAGetLastError()
{
    return t_lastError;
}

void WSASetLastError(int error)
{
    t_lastError = error;
}

SOCKET Socket(int af, int type, int protocol)
{
    const int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return FailErrno(), INVALID_SOCKET;
    if (fd > kMaxHandle) {
        ::close(fd);
        return Fail(WSAEMFILE), INVALID_SOCKET;
    }
    Loop::Instance().sockets[fd] = detail::Socket {};
    return fd;
}

int CloseSocket(SOCKET s)
{
    auto& loop = Loop::Instance();
    auto it = loop.sockets.find(s);
    if (it == loop.sockets.end())
        return Fail(WSAENOTSOCK);
    const HWND window = it->second.window;
    const UINT message = it->second.message;
    loop.Unregister(s, it->second);
    loop.sockets.erase(it);
    // Notifications still queued for this handle would reach whatever socket
    // is given the same number next.
    if (window != 0) {
        loop.PurgeMessages([&](const detail::Message& m) {
            return m.window == window && m.message == message && m.wParam == static_cast<WPARAM>(s) && !m.isLookup;
        });
    }
    if (::close(s) != 0 && errno != EINTR)
        return FailErrno();
    return 0;
}

int SetLinger(SOCKET s, std::uint16_t onoff, std::uint16_t seconds)
{
    if (!Find(s))
        return Fail(WSAENOTSOCK);
    linger l {};
    l.l_onoff = onoff;
    l.l_linger = seconds;
    if (::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0)
        return FailErrno();
    return 0;
}

int WSAAsyncSelect(SOCKET s, HWND window, UINT message, long events)
{
    auto& loop = Loop::Instance();
    detail::Socket* sock = Find(s);
    if (!sock)
        return Fail(WSAENOTSOCK);
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0)
        return FailErrno();
    sock->window = events ? window : 0;
    sock->message = message;
    sock->mask = events;
    sock->readArmed = true;
    sock->acceptArmed = true;
    loop.UpdateRegistration(s, *sock);
    return 0;
}

int Connect(SOCKET s, const sockaddr_in& address)
{
    auto& loop = Loop::Instance();
    detail::Socket* sock = Find(s);
    if (!sock)
        return Fail(WSAENOTSOCK);
    if (sock->state == SocketState::Connected)
        return Fail(WSAEISCONN);
    if (sock->state == SocketState::Connecting)
        return Fail(WSAEALREADY);
    int r;
    do {
        r = ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (r != 0 && errno == EINTR);
    const int err = r == 0 ? 0 : errno;
    switch (err) {
    case EBADF: case ENOTSOCK: case EISCONN: case EALREADY: case EINVAL:
    case EAFNOSUPPORT: case EFAULT: case EACCES: case EPERM:
        return Fail(ErrnoToWinsock(err));
    default:
        break;
    }
    if (err == 0 || err == EINPROGRESS) {
        // Completion (or immediate success) comes as FD_CONNECT from the loop.
        sock->state = SocketState::Connecting;
        loop.UpdateRegistration(s, *sock);
    } else {
        // A refusal known at once still arrives as FD_CONNECT, as on a
        // non-blocking socket of the desktop services.
        sock->state = SocketState::Failed;
        loop.PostSocketEvent(s, *sock, FD_CONNECT, ErrnoToWinsock(err));
    }
    return Fail(WSAEWOULDBLOCK);
}

int Bind(SOCKET s, const sockaddr_in& address)
{
    if (!Find(s))
        return Fail(WSAENOTSOCK);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return FailErrno();
    return 0;
}

int Listen(SOCKET s, int backlog)
{
    auto& loop = Loop::Instance();
    detail::Socket* sock = Find(s);
    if (!sock)
        return Fail(WSAENOTSOCK);
    if (::listen(s, backlog) != 0)
        return FailErrno();
    sock->state = SocketState::Listening;
    sock->acceptArmed = true;
    loop.UpdateRegistration(s, *sock);
    return 0;
}

SOCKET Accept(SOCKET s, sockaddr_in* address)
{
    auto& loop = Loop::Instance();
    detail::Socket* sock = Find(s);
    if (!sock)
        return Fail(WSAENOTSOCK), INVALID_SOCKET;
    sock->acceptArmed = true;
    sockaddr_in peer {};
    socklen_t len = sizeof peer;
    int fd;
    do {
        fd = ::accept4(s, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return FailErrno(), INVALID_SOCKET;
    if (fd > kMaxHandle) {
        ::close(fd);
        return Fail(WSAEMFILE), INVALID_SOCKET;
    }
    detail::Socket fresh;
    fresh.state = SocketState::Connected;
    loop.sockets[fd] = fresh;
    loop::NoteProgress();
    // Another connection already waiting is announced at once.
    detail::Socket& listener = loop.sockets[s];
    pollfd more { s, POLLIN, 0 };
    if ((listener.mask & FD_ACCEPT) && ::poll(&more, 1, 0) == 1) {
        listener.acceptArmed = false;
        loop.PostSocketEvent(s, listener, FD_ACCEPT, 0);
    }
    if (address)
        *address = peer;
    return fd;
}

int Send(SOCKET s, const char* data, int length, int flags)
{
    auto& loop = Loop::Instance();
    if (!Find(s))
        return Fail(WSAENOTSOCK);
    const ssize_t n = ::send(s, data, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
        if (n > 0)
            loop::NoteProgress();
        return static_cast<int>(n);
    }
    int err = errno;
    if (err == EPIPE) {
        // A socket that never had a connection (or whose connect failed) is
        // "not connected", as a send on it reports on the desktop services.
        if (detail::Socket* sock = Find(s); sock && (sock->state == SocketState::Fresh || sock->state == SocketState::Failed))
            err = ENOTCONN;
    }
    if (err == EAGAIN) {
        if (detail::Socket* sock = Find(s); sock && sock->state == SocketState::Connected) {
            sock->wantWrite = true;
            loop.UpdateRegistration(s, *sock);
        }
    }
    return Fail(ErrnoToWinsock(err));
}

int Recv(SOCKET s, char* buffer, int length, int flags)
{
    auto& loop = Loop::Instance();
    detail::Socket* sock = Find(s);
    if (!sock)
        return Fail(WSAENOTSOCK);
    const int sysFlags = ((flags & WS_MSG_PEEK) ? MSG_PEEK : 0) | MSG_DONTWAIT;
    ssize_t n;
    do {
        n = ::recv(s, buffer, static_cast<std::size_t>(length), sysFlags);
    } while (n < 0 && errno == EINTR);
    const int err = n < 0 ? errno : 0;
    sock->readArmed = true;
    if (n > 0 && !(flags & WS_MSG_PEEK))
        loop::NoteProgress();
    loop.MaybePostClose(s, *sock);
    if (n < 0)
        return Fail(ErrnoToWinsock(err));
    return static_cast<int>(n);
}

int GetSockName(SOCKET s, sockaddr_in* address)
{
    if (!Find(s))
        return Fail(WSAENOTSOCK);
    sockaddr_in local {};
    socklen_t len = sizeof local;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&local), &len) != 0)
        return FailErrno();
    if (address)
        *address = local;
    return 0;
}

std::uint32_t InetAddr(const char* text)
{
    return ::inet_addr(text ? text : "");
}

std::string InetNtoa(std::uint32_t networkOrderAddress)
{
    in_addr a {};
    a.s_addr = networkOrderAddress;
    char out[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, out, sizeof out);
    return out;
}

namespace {

int ResolverErrorToWinsock(int gaiError)
{
    switch (gaiError) {
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
    default: return WSANO_RECOVERY;
    }
}

} // namespace

HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int bufferLength)
{
    auto& loop = Loop::Instance();
    if (!name)
        return Fail(WSAEFAULT), 0;
    const HANDLE handle = loop.nextLookup++;
    loop.lookups[handle] = detail::Lookup { window, buffer, bufferLength };
    std::string host = name;
    // The thread only resolves and posts; the UI thread copies the result
    // into the caller's buffer when it dispatches the completion.
    std::thread([host = std::move(host), window, message, handle]() {
        auto addresses = std::make_shared<std::vector<std::uint32_t>>();
        addrinfo hints {};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* result = nullptr;
        int error = 0;
        const int rc = host.empty() ? EAI_NONAME : ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
        if (rc != 0) {
            error = ResolverErrorToWinsock(rc);
        } else {
            for (addrinfo* ai = result; ai; ai = ai->ai_next)
                if (ai->ai_family == AF_INET)
                    addresses->push_back(reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
            ::freeaddrinfo(result);
            if (addresses->empty())
                error = WSANO_DATA;
        }
        detail::Message m;
        m.window = window;
        m.message = message;
        m.wParam = handle;
        m.lParam = MakeSelectReply(0, static_cast<std::uint16_t>(error));
        m.addresses = std::move(addresses);
        m.isLookup = true;
        Loop::Instance().Post(std::move(m));
    }).detach();
    return handle;
}

int WaitWritable(SOCKET s, int timeoutMs)
{
    if (!Find(s))
        return Fail(WSAENOTSOCK);
    pollfd p {};
    p.fd = s;
    p.events = POLLOUT;
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return FailErrno();
    return r;
}

int WSACancelAsyncRequest(HANDLE request)
{
    auto& loop = Loop::Instance();
    if (!loop.lookups.erase(request))
        return Fail(WSAEINVAL);
    return 0;
}

} // namespace platform::winsock
