#include "socket/Doziz.h"

#include "platform/Forms.h"

#include <arpa/inet.h>
#include <cstring>

namespace doziz {

namespace ws = platform::winsock;

void TVazadezuv::Connect()
{
    StatusMessage(8, "Connecting");
    Canceled = false;
    if (Connected)
        throw ESockError("Already connected");

    for (int tries = 0;; ++tries) {
        try {
            ResolveRemoteHost();
        } catch (const EAbortError&) {
            throw;
        } catch (const ESockError& e) {
            if (e.Message == "Host Lookup Timed Out" || e.Message == "Host Lookup Canceled")
                throw;
            RemoteAddress.sin_addr.s_addr = 0; // "Host Lookup Failed": try the handler
        }
        if (RemoteAddress.sin_addr.s_addr != 0)
            break;
        if (tries > 0 || !OnInvalidHost)
            throw ESockError("Null Remote Address");
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled)
            throw ESockError("Null Remote Address");
    }

    RemoteAddress.sin_family = AF_INET;
    const std::int32_t port = Proxy.empty() ? Port : ProxyPort;
    RemoteAddress.sin_port = htons(static_cast<std::uint16_t>(port & 0xFFFF));
    AsyncDone = false;
    LastEventOk = true;

    if (ws::Connect(SocketHandle, RemoteAddress) != 0)
        CheckSocketError(10035);

    TimerOn();
    try {
        do {
            platform::Sleep(2);
            platform::Application.ProcessMessages();
        } while (!Connected && !TimedOut && !Canceled && LastEventOk);
    } catch (...) {
        TimerOff();
        throw;
    }
    TimerOff();

    if (!TimedOut && !Canceled && LastEventOk)
        return;
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (TimedOut)
        throw ESockError("Connection Timed out");
    if (Canceled)
        throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

void TVazadezuv::ResolveRemoteHost()
{
    StatusMessage(8, "Resolve Host");
    const std::string& name = Proxy.empty() ? Host : Proxy;
    // The name is used as zero-terminated text, so it ends at its first zero.
    const std::size_t length = std::min(name.size(), static_cast<std::size_t>(kBufferSize));
    std::memcpy(Buffer, name.data(), length);
    Buffer[length] = '\0';
    RemoteAddress.sin_addr.s_addr = ws::InetAddr(Buffer);
    if (RemoteAddress.sin_addr.s_addr != INADDR_NONE)
        return;

    RemoteAddress.sin_addr.s_addr = 0;
    TimerOn();
    AsyncDone = false;
    m_lookup = ws::WSAAsyncGetHostByName(WindowHandle, platform::WM_ASYNCDONE, Buffer, m_hostEntBuffer,
                                         ws::MAXGETHOSTSTRUCT);
    try {
        do {
            platform::Sleep(2);
            platform::Application.ProcessMessages();
        } while (!AsyncDone && !TimedOut && !Canceled);
    } catch (...) {
        ws::WSACancelAsyncRequest(m_lookup);
        m_lookup = 0;
        TimerOff();
        throw;
    }
    TimerOff();
    // A look-up given up on must not complete into a later wait.
    ws::WSACancelAsyncRequest(m_lookup);
    m_lookup = 0;

    if (TimedOut)
        throw ESockError("Host Lookup Timed Out");
    if (Canceled)
        throw ESockError("Host Lookup Canceled");
    if (!LastEventOk)
        throw ESockError("Host Lookup Failed");

    ws::HostEnt entry {};
    std::memcpy(&entry, m_hostEntBuffer, sizeof entry);
    if (entry.AddressCount == 0)
        throw ESockError("Host Lookup Failed");
    std::memcpy(&RemoteAddress.sin_addr.s_addr, entry.Addresses[0], 4);
    if (OnHostResolved)
        OnHostResolved(this);
}

void TVazadezuv::CheckConnection()
{
    StatusMessage(8, "Checking Connection");
    int tries = 0;
    while (!Connected) {
        if (tries > 0 || !OnConnectionRequired)
            throw platform::Exception("Not Connected");
        bool handled = false;
        OnConnectionRequired(handled);
        if (!handled)
            throw platform::Exception("Not Connected");
        ++tries;
    }
}

void TVazadezuv::Disconnect()
{
    StatusMessage(8, "Disconnecting");
    RequestCloseSocket();
}

} // namespace doziz
