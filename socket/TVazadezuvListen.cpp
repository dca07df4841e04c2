#include "socket/Doziz.h"

#include "platform/Forms.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

namespace doziz {

namespace ws = platform::winsock;

void TVazadezuv::Listen(bool WaitForAccept)
{
    StatusMessage(8, "Listening");
    std::strcpy(Buffer, "0.0.0.0");
    RemoteAddress.sin_addr.s_addr = ws::InetAddr(Buffer);
    RemoteAddress.sin_family = AF_INET;
    RemoteAddress.sin_port = htons(static_cast<std::uint16_t>(Port & 0xFFFF));
    AsyncDone = false;
    ws::Bind(SocketHandle, RemoteAddress);
    ws::WSAAsyncSelect(SocketHandle, WindowHandle,
                       WaitForAccept ? platform::WM_ASYNCDONE : platform::WM_SOCKETEVENT, platform::FD_ACCEPT);
    ws::Listen(SocketHandle, 1);
}

std::uint16_t TVazadezuv::Accept()
{
    StatusMessage(4, "Accepting");
    while (!AsyncDone && !Canceled) {
        platform::Sleep(2);
        platform::Application.ProcessMessages();
    }
    if (Canceled)
        throw ESockError("Accepting Canceled");
    if (!LastEventOk)
        throw ESockError("Error creating Data Connection");
    sockaddr_in peer {};
    const ws::SOCKET s = ws::Accept(SocketHandle, &peer);
    // The connection announced may be gone again (reset before it was
    // taken); that is the same failure as an announcement with an error.
    if (s == ws::INVALID_SOCKET || s >= kNoSocket)
        throw ESockError("Error creating Data Connection");
    ws::WSAAsyncSelect(s, WindowHandle, platform::WM_SOCKETEVENT, platform::FD_ALL_EVENTS);
    RemoteAddress = peer;
    return static_cast<std::uint16_t>(s);
}

std::string TVazadezuv::GetPortAddress()
{
    sockaddr_in local {};
    ws::GetSockName(SocketHandle, &local);
    std::string text = ws::InetNtoa(local.sin_addr.s_addr);
    for (char& c : text)
        if (c == '.')
            c = ',';
    return text;
}

std::string TVazadezuv::GetPortNumbers()
{
    sockaddr_in local {};
    ws::GetSockName(SocketHandle, &local);
    const unsigned port = ntohs(local.sin_port);
    char text[16];
    std::snprintf(text, sizeof text, ",%u,%u", port / 256, port % 256);
    return text;
}

} // namespace doziz
