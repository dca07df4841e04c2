#pragma once

// Unit Doziz: the TCP socket component TVazadezuv, its time-out timer
// TThreadTimer, their exceptions and the field extractor ExtractField.
//
// A TVazadezuv owns one TCP socket, one hidden message target and one timer.
// Its blocking operations keep the program alive by pumping messages while
// they wait, so event handlers (and a user's Abort) run in the middle of an
// operation and may call into the same component again: after any event or
// pump the component looks at its state anew.

#include "platform/Classes.h"
#include "platform/SysUtils.h"
#include "platform/Windows.h"
#include "platform/Winsock.h"

#include <cstdint>
#include <functional>
#include <string>

#include <netinet/in.h>

namespace doziz {

using platform::TComponent;
using platform::TNotifyEvent;

class ESockError : public platform::Exception {
public:
    using platform::Exception::Exception;
};

// A transfer or read that ended because the component was cancelled.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

using THandlerEvent = std::function<void(bool& Handled)>;
using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;
using TOnErrorEvent = std::function<void(TComponent* Sender, std::uint16_t Errno, const std::string& Errmsg)>;

// Size of the component's shared work area; one block of a transfer.
constexpr int kBufferSize = 65536;
// The socket handle that means "no socket".
constexpr std::uint16_t kNoSocket = 65535;

// A timer with a hidden target of its own: while Enabled, Interval is not 0
// and OnTimer is assigned, OnTimer is called every Interval milliseconds.
class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* owner);
    ~TThreadTimer() override;

    bool Enabled() const { return m_enabled; }
    // Acts only on a change, so a running countdown is not restarted.
    void SetEnabled(bool value);
    std::uint32_t Interval() const { return m_interval; }
    void SetInterval(std::uint32_t value);
    const TNotifyEvent& OnTimer() const { return m_onTimer; }
    // Always restarts the countdown.
    void SetOnTimer(TNotifyEvent value);

    platform::HWND WindowHandle() const { return m_windowHandle; }

protected:
    virtual void FireTimer();

private:
    static platform::LRESULT TimerWindowProc(platform::HWND window, platform::UINT message,
                                             platform::WPARAM wParam, platform::LPARAM lParam);
    void UpdateTimer();

    bool m_enabled = true;
    std::uint32_t m_interval = 1000;
    TNotifyEvent m_onTimer;
    platform::HWND m_windowHandle = 0;
};

class TVazadezuv : public TComponent {
public:
    explicit TVazadezuv(TComponent* owner);
    ~TVazadezuv() override;

    // Connecting and disconnecting.
    virtual void Connect();
    virtual void Disconnect();
    void ResolveRemoteHost();
    void CheckConnection();

    // Lines and blocks.
    void SendBuffer(const char* Data, std::uint16_t Len);
    void Write(const std::string& S);
    void Writeln(const std::string& S);
    std::string Read(std::uint16_t Count);
    std::string ReadLn();
    virtual std::string Transaction(const std::string& Cmd);
    void ClearInput();

    // Files and streams.
    void SendFile(const std::string& FileName);
    void SendStream(platform::TStream& Stream);
    void AppendFile(const std::string& FileName);
    void CaptureFile(const std::string& FileName);

    // Listening for one incoming connection.
    void Listen(bool WaitForAccept);
    virtual std::uint16_t Accept();
    std::string GetPortAddress();
    std::string GetPortNumbers();

    // Core.
    void StatusMessage(std::uint8_t Level, const std::string& S);
    std::string GetErrorMessage(std::uint16_t ErrNo);
    void CheckSocketError(std::uint16_t Ignore);
    void Cancel();
    virtual void Abort();
    bool DataAvailable();
    void RequestCloseSocket();
    // The target's message handler; called by the socket window procedure.
    void HandleSocketMessage(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam);

    // Published properties.
    std::string Host;
    std::int32_t Port = 0;
    std::int32_t TimeOut = 0;
    std::int32_t ReportLevel = 0;
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnectionFailed;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;

    // Public properties used through the FTP component and its data socket.
    std::string Proxy;
    std::int32_t ProxyPort = 0;
    TOnErrorEvent OnError;
    THandlerEvent OnConnectionRequired;
    TNotifyEvent OnPacketSent;
    TNotifyEvent OnPacketRecvd;

    // Public fields.
    bool Connected = false;
    std::int16_t ReplyNumber = 0;
    std::string LastReply;
    std::int64_t BytesSent = 0;
    std::int64_t BytesTotal = 0;
    std::int64_t BytesRecvd = 0;
    std::uint16_t SocketHandle = kNoSocket;

    // State the FTP component and tests read.
    bool Canceled = false;
    bool TimedOut = false;
    bool AsyncDone = false;
    bool LastEventOk = true;
    bool ShuttingDown = false;
    std::int32_t LastErrorNo = 0;
    std::string LastStatus;
    sockaddr_in RemoteAddress {};
    platform::HWND WindowHandle = 0;
    TThreadTimer* Timer = nullptr;
    platform::TStringList* WinsockInfo = nullptr;

    // Unpublished hooks.
    TNotifyEvent OnReadReady;
    TNotifyEvent OnAccept;

    // Number of components that started the socket services.
    static std::int32_t SocketRefCount();

protected:
    void TimerOn();
    void TimerOff();
    void TimerTriggered(TComponent* Sender);
    // Starts the countdown again from now, also when it is running.
    void RestartTimer();
    bool SendBlock(int n);

    // The shared work area: chunks to send, peeked and received data.
    char Buffer[kBufferSize + 1] = {};

private:
    void InitWinsock();
    void OpenFreshSocket();
    static platform::LRESULT SocketWindowProc(platform::HWND window, platform::UINT message,
                                              platform::WPARAM wParam, platform::LPARAM lParam);

    bool m_destroying = false; // no OnStatus or OnDisconnect from here on
    char* m_hostEntBuffer = nullptr;
    platform::winsock::HANDLE m_lookup = 0;
    platform::winsock::WSAData m_winsockData;
};

// The N-th field of S (counted from 1), fields being separated by Separator.
std::string ExtractField(const std::string& S, char Separator, std::int32_t N);

// "220 ready" -> 220; "abc" -> 0; digits beyond 16 bits -> see definition.
std::int16_t ParseReplyNumber(const std::string& line);

} // namespace doziz
