#pragma once

// Stream sockets with the behaviour of the desktop socket services the
// components were written for, built on POSIX sockets and epoll:
//
// - error numbers are the desktop ones (10035 would block, 10057 not
//   connected, 10061 refused, 11001 host not found, ...), read with
//   WSAGetLastError after a call returned SOCKET_ERROR;
// - WSAAsyncSelect makes a socket non-blocking and turns its readiness into
//   messages for a target, event in the low word and error in the high word
//   of lParam, wParam the socket: one FD_READ until the socket is read (or
//   peeked) again, and then with the next arrival of data (data already
//   waiting is not announced twice: a wait that peeks and pumps would never
//   sleep), FD_ACCEPT until accept is called again and at once when another
//   connection is already waiting then, FD_CONNECT once
//   with the outcome of a connect, FD_CLOSE once per connection and only when
//   no received data is left unread (or at once, with its error, on a reset);
//   a fresh socket that is neither connecting, connected nor listening
//   reports nothing;
// - WSAAsyncGetHostByName resolves with the system resolver (so /etc/hosts
//   counts) on a helper thread and posts its completion;
// - sending to a closed peer is an error number, never a signal.
//
// Handles are small integers below 65535; INVALID_SOCKET means none.

#include "platform/Windows.h"

#include <cstdint>
#include <string>

#include <netinet/in.h>

namespace platform::winsock {

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;
constexpr int WS_MSG_PEEK = 2;
using HANDLE = std::uintptr_t;

// The desktop error numbers this layer reports.
enum : int {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

struct WSAData {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    std::string szDescription;
    std::string szSystemStatus;
    std::uint16_t iMaxSockets = 0;
    std::uint16_t iMaxUdpDg = 0;
};

int WSAStartup(std::uint16_t versionRequested, WSAData* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);
// The desktop error number for a POSIX errno value.
int ErrnoToWinsock(int err);

SOCKET Socket(int af, int type, int protocol);
int CloseSocket(SOCKET s);
// SO_LINGER given as the two 16-bit values (on, seconds).
int SetLinger(SOCKET s, std::uint16_t onoff, std::uint16_t seconds);
int WSAAsyncSelect(SOCKET s, HWND window, UINT message, long events);

int Connect(SOCKET s, const sockaddr_in& address);
int Bind(SOCKET s, const sockaddr_in& address);
int Listen(SOCKET s, int backlog);
SOCKET Accept(SOCKET s, sockaddr_in* address);
int Send(SOCKET s, const char* data, int length, int flags);
int Recv(SOCKET s, char* buffer, int length, int flags);
int GetSockName(SOCKET s, sockaddr_in* address);
// Blocks, without dispatching anything, until a send on `s` can make
// progress or timeoutMs pass (-1: no limit). 1 when writable, 0 on time-out.
int WaitWritable(SOCKET s, int timeoutMs);

// Dotted text to an address in network order; INADDR_NONE (all ones) when
// the text is not an address. "0.0.0.0" gives the any-address.
std::uint32_t InetAddr(const char* text);
std::string InetNtoa(std::uint32_t networkOrderAddress);

// The host entry a look-up writes into the caller's buffer: a count, then
// that many IPv4 addresses of four bytes each, in network order.
struct HostEnt {
    std::uint32_t AddressCount;
    std::uint8_t Addresses[1][4];
};
constexpr int MAXGETHOSTSTRUCT = 1024;

// Starts resolving `name` (IPv4). The completion posts `message` to the
// target, wParam the returned handle and the error number in the high word
// of lParam; before the target sees it, the host entry is in `buffer`, which
// must stay valid until then or until the request is cancelled. 0 on failure.
HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int bufferLength);
// Withdraws a look-up: its completion is never delivered.
int WSACancelAsyncRequest(HANDLE request);

} // namespace platform::winsock
