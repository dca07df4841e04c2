#include "ftp/KivFtp.h"

#include "platform/Forms.h"
#include "platform/SysUtils.h"
#include "platform/Winsock.h"

#include <chrono>
#include <cstdint>
#include <string>

// The frame every listing and transfer runs through: opening, passive or
// active set-up, the transfer command's test, the accept, the data phase,
// closing, the final reply and the clean-up.

namespace kivftp {

namespace ws = platform::winsock;

// "227 Entering Passive Mode (192,168,1,2,19,136).\r\n" -> 5000 (19 * 256 + 136)
// "227 Entering Passive Mode (127,0,0,1,1,300)\r\n"     -> 556: bytes above 255 are taken as they come
// "227 Passive mode, ok (10,0,0,1,4,1)\r\n"             -> EConvertError: the extra comma shifts the fields
// "425 Can't open passive connection\r\n"               -> EConvertError: no fields at all
// The fields are counted in commas from the start of the line and the
// address in fields 1 to 4 is never read: the data connection goes to Host.
std::int32_t ParsePassivePort(const std::string& reply)
{
    const std::string high = doziz::ExtractField(reply, ',', 5);
    const std::string field6 = doziz::ExtractField(reply, ',', 6);
    const std::size_t close = field6.find(')');
    const std::string low = close == std::string::npos ? std::string() : field6.substr(0, close);
    const std::int64_t lowValue = platform::StrToInt(low);
    const std::int64_t highValue = platform::StrToInt(high);
    // Both values fit 32 bits, so this cannot overflow 64.
    const std::int64_t port = lowValue + highValue * 256;
    // A number outside the TCP ports would be cut to 16 bits by the socket
    // layer and lead the data connection to some other port.
    if (port < 1 || port > 65535)
        throw platform::EConvertError("'" + std::to_string(port) + "' is not a valid port number");
    return static_cast<std::int32_t>(port);
}

// One DataSocket serves one listing or transfer; a second one started from
// an event handler of the first would replace or free it under the first.
void TKivFTP::RefuseSecondTransfer() const
{
    if (m_dataSocket)
        throw platform::Exception("A data transfer is already in progress!");
}

void TKivFTP::CreateDataSocket()
{
    m_dataSocket = new TVazadezuv(this);
    m_dataSocket->TimeOut = TimeOut;
}

void TKivFTP::FreeDataSocket() noexcept
{
    TVazadezuv* socket = m_dataSocket;
    m_dataSocket = nullptr;
    delete socket;
}

bool TKivFTP::FailsTest(std::int16_t low, std::int16_t high, TCmdType code, const std::string& reply,
                        bool unsupportedTest)
{
    if (ReplyNumber < low || ReplyNumber > high)
        return false;
    ReportFailure(code, reply, unsupportedTest); // raises unless a handler took it
    return true;
}

bool TKivFTP::SetUpDataConnection(bool passive, TCmdType code)
{
    if (passive)
        return SetUpPassive(code);
    ListenForData();
    return AnnouncePort(code, false, false);
}

// Any reply below 500, a 4xx included, is read for its port numbers; such a
// reply normally holds none and ends in the conversion error.
bool TKivFTP::SetUpPassive(TCmdType code)
{
    const std::string reply = Transaction("PASV");
    RequireReply(reply);
    if (FailsTest(500, INT16_MAX, code, reply, false))
        return false;
    m_dataSocket->Port = ParsePassivePort(reply);
    m_dataSocket->Host = Host;
    m_dataSocket->Connect();
    return true;
}

void TKivFTP::ListenForData()
{
    m_dataSocket->Port = 0;
    m_dataSocket->Listen(true);
}

// "PORT 127,0,0,1,4,1": the control connection's local address, which the
// server can reach, and the port the system picked for the listener.
bool TKivFTP::AnnouncePort(TCmdType code, bool reportText, bool raiseAtOnce)
{
    const std::string command = "PORT " + GetPortAddress() + m_dataSocket->GetPortNumbers();
    if (reportText)
        StatusMessage(1, command);
    const std::string reply = Transaction(command);
    RequireReply(reply);
    if (raiseAtOnce && ReplyNumber > 300 && ReplyNumber < 600)
        throw FTPException(reply);
    return !FailsTest(301, 599, code, reply, false);
}

// Swaps the listening socket for the server's connection. Listen and Accept
// arm no timer of their own; with TimeOut set the data socket's timer bounds
// the wait for a server that never connects ("Accepting Canceled").
void TKivFTP::AcceptDataConnection(bool passive)
{
    if (passive)
        return;
    const std::uint16_t listening = m_dataSocket->SocketHandle;
    std::uint16_t accepted = doziz::kNoSocket;
    WithDataTimer([&] { accepted = m_dataSocket->Accept(); });
    m_dataSocket->SocketHandle = accepted;
    ws::CloseSocket(listening);
}

bool TKivFTP::DataPhaseAllowed() const
{
    return !Canceled && !TimedOut;
}

// A reset of the data connection arrives as its close notification with an
// error; the socket layer then ends the transfer as if the data had come to
// its end. The data is incomplete, so it ends the operation as the socket
// error it is, instead of passing for a completed transfer.
void TKivFTP::RaiseIfDataConnectionReset()
{
    if (m_dataSocket && !m_dataSocket->LastEventOk)
        throw doziz::ESockError("Data connection reset: the transfer is incomplete");
}

// The data socket starts with an abortive close (linger on, 0 seconds);
// a sender switches that off first so that queued data still goes out.
void TKivFTP::CloseDataConnection(bool lingerOff)
{
    if (lingerOff && m_dataSocket->SocketHandle != doziz::kNoSocket)
        ws::SetLinger(m_dataSocket->SocketHandle, 0, 0);
    m_dataSocket->RequestCloseSocket();
}

// The reply that ends a transfer; its code is not tested. When the transfer
// was cancelled or timed out, nothing is read and the last line read before
// is what gets reported.
void TKivFTP::ReadFinalReply(const std::string& lastLine)
{
    std::string line = lastLine;
    if (DataPhaseAllowed())
        line = ReadLn();
    StatusMessage(1, line);
    if (DataPhaseAllowed())
        ReadContinuationLines(line);
}

// Clean-up steps that run on every path: free the data socket, send ABOR
// after a Cancel where the operation does, leave the lock where it holds it.
void TKivFTP::EndDataOperation(bool sendAbort, bool leaveLock)
{
    FreeDataSocket();
    try {
        if (sendAbort && Canceled) {
            Canceled = false;
            Transaction("ABOR");
        }
    } catch (...) {
        if (leaveLock)
            m_lock.Leave();
        throw;
    }
    if (leaveLock)
        m_lock.Leave();
}

void TKivFTP::FireNotify(const TNotifyEvent& event)
{
    if (event)
        event(this);
}

// The data socket's own timer, armed for the waits the socket layer does not
// time itself (Accept, AppendFile, SendFile, SendStream). Its expiry cancels
// the data socket, which ends the wait with the socket layer's exception.
void TKivFTP::ArmDataTimer()
{
    if (!m_dataSocket || TimeOut <= 0)
        return;
    m_dataSocket->TimedOut = false;
    m_dataSocket->Timer->SetEnabled(false);
    m_dataSocket->Timer->SetInterval(static_cast<std::uint32_t>(TimeOut));
    m_dataSocket->Timer->SetEnabled(true);
}

void TKivFTP::DisarmDataTimer()
{
    if (m_dataSocket)
        m_dataSocket->Timer->SetEnabled(false);
}

// A progress event for the data socket that starts the countdown again on
// every block, so that TimeOut bounds the silence between blocks and not the
// whole transfer, then raises the application's handler, if any.
TNotifyEvent TKivFTP::ProgressKeepingTimer(TNotifyEvent handler)
{
    return [this, handler = std::move(handler)](TComponent* sender) {
        if (m_dataSocket && m_dataSocket->Timer->Enabled())
            ArmDataTimer();
        if (handler)
            handler(sender);
    };
}

// Pumps until something waits on the control connection or `boundMs` have
// passed. True when something waits.
bool TKivFTP::WaitForControlData(std::int64_t boundMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        if (DataAvailable())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        platform::Application.ProcessMessages();
    }
}

// The outer handler of Download and Upload: the exception under way is
// offered to OnFailure once more. True when a handler took it.
bool TKivFTP::HandledByOnFailure(TCmdType code)
{
    if (!OnFailure)
        return false;
    bool handled = false;
    OnFailure(handled, code);
    return handled;
}

} // namespace kivftp
