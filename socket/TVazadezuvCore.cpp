#include "socket/Doziz.h"

#include "platform/Forms.h"

#include <cstring>
#include <utility>

namespace doziz {

namespace ws = platform::winsock;

namespace {

constexpr const char* kSocketWindowClass = "DozizWindowClass";
std::int32_t g_socketRefCount = 0;

struct ErrorText {
    std::uint16_t number;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    { 10004, "Interrupted system call" },
    { 10009, "Bad file number" },
    { 10013, "Permission denied" },
    { 10014, "Bad address" },
    { 10022, "Invalid argument" },
    { 10024, "Too many open files" },
    { 10035, "Operation would block" },
    { 10036, "Operation now in progress" },
    { 10037, "Operation already in progress" },
    { 10038, "Socket operation on non-socket" },
    { 10039, "Destination address required" },
    { 10040, "Message too long" },
    { 10041, "Wrong protocol type for socket" },
    { 10042, "Bad protocol option" },
    { 10043, "Protocol not supported" },
    { 10044, "Socket type not supported" },
    { 10045, "Operation not supported on socket" },
    { 10046, "Protocol family not supported" },
    { 10047, "Address family not supported by protocol family" },
    { 10048, "Address already in use" },
    { 10049, "Can't assign requested address" },
    { 10050, "Network is down" },
    { 10051, "Network is unreachable" },
    { 10052, "Network dropped connection or reset" },
    { 10053, "Software caused connection abort" },
    { 10054, "Connection reset by peer" },
    { 10055, "No buffer space available" },
    { 10056, "Socket is already connected" },
    { 10057, "Socket is not connected" },
    { 10058, "Can't send after socket shutdown" },
    { 10059, "Too many references, can't splice" },
    { 10060, "Connection timed out" },
    { 10061, "Connection refused" },
    { 10062, "Too many levels of symbolic links" },
    { 10063, "File name too long" },
    { 10064, "Host is down" },
    { 10065, "No route to Host" },
    { 10066, "Directory not empty" },
    { 10067, "Too many processes" },
    { 10068, "Too many users" },
    { 10069, "Disc quota exceeded" },
    { 10070, "Stale NFS file handle" },
    { 10071, "Too many levels of remote in path" },
    { 10091, "Network subsystem is unavailable" },
    { 10092, "Incompatible version of WINSOCK.DLL" },
    { 10093, "Successful WSAStartup not yet performed" },
    { 11001, "Host not found" },
    { 11002, "Non-Authoritative Host not found" },
    { 11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP" },
    { 11004, "Valid name, no data record of requested type" },
};

} // namespace

std::int32_t TVazadezuv::SocketRefCount()
{
    return g_socketRefCount;
}

TVazadezuv::TVazadezuv(TComponent* owner)
    : TComponent(owner)
{
    if (!platform::GetClassInfo(kSocketWindowClass))
        platform::RegisterClass(kSocketWindowClass, &TVazadezuv::SocketWindowProc);
    WindowHandle = platform::CreateHiddenWindow(kSocketWindowClass);
    platform::SetWindowOwner(WindowHandle, this);
    Proxy.clear();
    m_hostEntBuffer = new char[ws::MAXGETHOSTSTRUCT]();
    Timer = new TThreadTimer(this);
    Timer->SetEnabled(false);
    Timer->SetOnTimer([this](TComponent* sender) { TimerTriggered(sender); });
    TimeOut = 0;
    WinsockInfo = new platform::TStringList();
    Canceled = false;
    ShuttingDown = false;
    Connected = false;
    try {
        InitWinsock();
    } catch (...) {
        // The owned timer goes with the TComponent part; the rest is ours.
        delete WinsockInfo;
        delete[] m_hostEntBuffer;
        platform::DestroyWindow(WindowHandle);
        throw;
    }
}

void TVazadezuv::InitWinsock()
{
    StatusMessage(8, "Initializing Winsock");
    if (Designing())
        return;
    if (++g_socketRefCount == 1) {
        ws::WSAStartup(0x0101, &m_winsockData);
        const auto& d = m_winsockData;
        WinsockInfo->Add("Version= " + std::to_string(d.wVersion >> 8) + "." + std::to_string(d.wVersion & 0xFF));
        WinsockInfo->Add("High Version= " + std::to_string(d.wHighVersion >> 8) + "." +
                         std::to_string(d.wHighVersion & 0xFF));
        WinsockInfo->Add("Description= " + d.szDescription);
        WinsockInfo->Add("System= " + d.szSystemStatus);
        WinsockInfo->Add("Max Sockets= " + std::to_string(d.iMaxSockets));
        WinsockInfo->Add("Max Udp pack size= " + std::to_string(d.iMaxUdpDg));
    }
    try {
        const ws::SOCKET s = ws::Socket(AF_INET, SOCK_STREAM, 6);
        SocketHandle = (s == ws::INVALID_SOCKET || s >= kNoSocket) ? kNoSocket : static_cast<std::uint16_t>(s);
        if (SocketHandle != kNoSocket)
            ws::SetLinger(SocketHandle, 1, 0);
        if (SocketHandle == kNoSocket)
            CheckSocketError(10035);
        if (SocketHandle == kNoSocket
            || ws::WSAAsyncSelect(SocketHandle, WindowHandle, platform::WM_SOCKETEVENT, platform::FD_ALL_EVENTS) != 0)
            throw ESockError("Initializaton of windows sockets failed");
    } catch (...) {
        if (SocketHandle != kNoSocket) {
            ws::CloseSocket(SocketHandle);
            SocketHandle = kNoSocket;
        }
        if (--g_socketRefCount == 0)
            ws::WSACleanup();
        throw ESockError("Initializaton of windows sockets failed");
    }
}

TVazadezuv::~TVazadezuv()
{
    m_destroying = true;
    // Nothing may leave a destructor; every step runs even if one fails.
    try {
        TVazadezuv::Abort();
    } catch (...) {
    }
    try {
        Cancel();
    } catch (...) {
    }
    delete WinsockInfo;
    WinsockInfo = nullptr;
    delete Timer;
    Timer = nullptr;
    if (m_lookup != 0) {
        ws::WSACancelAsyncRequest(m_lookup);
        m_lookup = 0;
    }
    delete[] m_hostEntBuffer;
    m_hostEntBuffer = nullptr;
    platform::DestroyWindow(WindowHandle);
    WindowHandle = 0;
    ShuttingDown = true;
    if (!Designing()) {
        try {
            RequestCloseSocket();
        } catch (...) {
        }
        if (--g_socketRefCount == 0)
            ws::WSACleanup();
    }
}

platform::LRESULT TVazadezuv::SocketWindowProc(platform::HWND window, platform::UINT message,
                                               platform::WPARAM wParam, platform::LPARAM lParam)
{
    auto* component = static_cast<TVazadezuv*>(platform::GetWindowOwner(window));
    if (component && message >= platform::WM_SOCKETEVENT) {
        component->HandleSocketMessage(message, wParam, lParam);
        return 0;
    }
    return platform::DefWindowProc(window, message, wParam, lParam);
}

void TVazadezuv::HandleSocketMessage(platform::UINT message, platform::WPARAM, platform::LPARAM lParam)
{
    try {
        LastEventOk = platform::SelectError(lParam) == 0;
        const std::uint16_t event = platform::SelectEvent(lParam);
        if (message == platform::WM_SOCKETEVENT) {
            switch (event) {
            case platform::FD_READ:
                if (OnReadReady) {
                    try {
                        OnReadReady(this);
                    } catch (...) {
                    }
                }
                break;
            case platform::FD_ACCEPT:
                Connected = true;
                if (OnAccept)
                    OnAccept(this);
                break;
            case platform::FD_CONNECT:
                if (LastEventOk) {
                    Connected = true;
                    if (OnConnect)
                        OnConnect(this);
                }
                break;
            case platform::FD_CLOSE:
                if (!DataAvailable())
                    RequestCloseSocket();
                break;
            default:
                break;
            }
        } else if (message == platform::WM_ASYNCDONE) {
            AsyncDone = true;
            if (event == platform::FD_ACCEPT)
                Connected = true;
        }
    } catch (...) {
        // Nothing raised while handling a notification reaches the pump.
    }
}

void TVazadezuv::StatusMessage(std::uint8_t Level, const std::string& S)
{
    if (Level > ReportLevel)
        return;
    LastStatus = S;
    if (m_destroying || !OnStatus)
        return;
    try {
        OnStatus(this, LastStatus);
    } catch (...) {
    }
}

std::string TVazadezuv::GetErrorMessage(std::uint16_t ErrNo)
{
    StatusMessage(8, "Looking Up Error Message");
    if (ErrNo == 0)
        return {};
    for (const ErrorText& e : kErrorTexts)
        if (e.number == ErrNo)
            return std::to_string(ErrNo) + ":" + e.text;
    return "Unknown Error No. " + std::to_string(ErrNo);
}

void TVazadezuv::CheckSocketError(std::uint16_t Ignore)
{
    LastErrorNo = ws::WSAGetLastError();
    if (LastErrorNo == Ignore || LastErrorNo <= 10000)
        return;
    const std::string text = GetErrorMessage(static_cast<std::uint16_t>(LastErrorNo));
    if (OnError)
        OnError(this, static_cast<std::uint16_t>(LastErrorNo), text);
    throw ESockError(text);
}

void TVazadezuv::Cancel()
{
    StatusMessage(8, "Canceling");
    Canceled = true;
}

void TVazadezuv::Abort()
{
    StatusMessage(8, "Abort");
    Cancel();
}

bool TVazadezuv::DataAvailable()
{
    StatusMessage(8, "Data Available");
    return ws::Recv(SocketHandle, Buffer, 1, ws::WS_MSG_PEEK) == 1;
}

void TVazadezuv::OpenFreshSocket()
{
    const ws::SOCKET s = ws::Socket(AF_INET, SOCK_STREAM, 0);
    if (s == ws::INVALID_SOCKET || s >= kNoSocket) {
        // No replacement could be made: the component holds no socket, and
        // every later socket call fails with "Socket operation on non-socket".
        SocketHandle = kNoSocket;
        return;
    }
    SocketHandle = static_cast<std::uint16_t>(s);
    ws::WSAAsyncSelect(SocketHandle, WindowHandle, platform::WM_SOCKETEVENT, platform::FD_ALL_EVENTS);
}

void TVazadezuv::RequestCloseSocket()
{
    StatusMessage(4, "Request Close Socket");
    Connected = false;
    if (SocketHandle == kNoSocket)
        return;
    if (ws::CloseSocket(SocketHandle) != 0) {
        CheckSocketError(10035);
        return;
    }
    try {
        if (OnDisconnect && !m_destroying)
            OnDisconnect(this);
    } catch (...) {
        // The handler's exception goes on, but never with a closed handle left.
        if (!ShuttingDown)
            OpenFreshSocket();
        throw;
    }
    if (!ShuttingDown)
        OpenFreshSocket();
    else
        SocketHandle = kNoSocket;
}

} // namespace doziz
