#include "socket/Doziz.h"

#include "platform/Forms.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

namespace doziz {

namespace ws = platform::winsock;

namespace {

// Runs `onExit` when the scope ends, also by an exception.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f)
        : m_f(std::move(f))
    {
    }
    ~ScopeExit() { m_f(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F m_f;
};

} // namespace

void TVazadezuv::SendBuffer(const char* Data, std::uint16_t Len)
{
    StatusMessage(4, "Sending Buffer");
    TimerOn();
    ScopeExit timerOff([this] { TimerOff(); });
    if (!Canceled) {
        if (Len == 0)
            Len = static_cast<std::uint16_t>(::strnlen(Data, 65535));
        int remaining = Len;
        const auto started = std::chrono::steady_clock::now();
        do {
            if (remaining == 0)
                break;
            const int sent = ws::Send(SocketHandle, Data + (Len - remaining), remaining, 0);
            if (sent == 0)
                break;
            if (sent > 0) {
                remaining -= sent;
                continue;
            }
            CheckSocketError(10035);
            // The peer's receive window is full. No messages are dispatched
            // here, so the component's timer cannot end this wait; wait for
            // room without spinning and honour TimeOut directly instead.
            int waitMs = -1;
            if (TimeOut > 0) {
                const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - started)
                                         .count();
                if (elapsed >= TimeOut) {
                    Canceled = true;
                    break;
                }
                waitMs = static_cast<int>(TimeOut - elapsed);
            }
            if (ws::WaitWritable(SocketHandle, waitMs) < 0)
                CheckSocketError(10035);
        } while (remaining != 0 && !Canceled);
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
}

void TVazadezuv::Write(const std::string& S)
{
    StatusMessage(8, "Write");
    // The text goes out up to its first zero byte. Longer texts than one
    // 16-bit length can state go out whole, in pieces of at most 65,535.
    const std::size_t length = std::min(S.size(), std::strlen(S.c_str()));
    std::size_t offset = 0;
    do {
        const std::size_t piece = std::min<std::size_t>(length - offset, 65535);
        std::memcpy(Buffer, S.data() + offset, piece);
        Buffer[piece] = '\0';
        if (piece > 0 || length == 0)
            SendBuffer(Buffer, static_cast<std::uint16_t>(piece));
        offset += piece;
    } while (offset < length);
}

void TVazadezuv::Writeln(const std::string& S)
{
    StatusMessage(8, "Writeln");
    Write(S + "\r\n");
}

std::string TVazadezuv::Read(std::uint16_t Count)
{
    StatusMessage(8, "Read( " + std::to_string(Count) + " )");
    int count = Count;
    if (count == 0) {
        const int got = ws::Recv(SocketHandle, Buffer, kBufferSize, ws::WS_MSG_PEEK);
        if (got < 0)
            CheckSocketError(10035);
        count = got > 0 ? got : 0;
    } else {
        do {
            const int got = ws::Recv(SocketHandle, Buffer, kBufferSize, ws::WS_MSG_PEEK);
            if (got >= count)
                break;
            if (got == 0)
                return {};
            if (got < 0)
                CheckSocketError(10035);
            platform::Application.ProcessMessages();
        } while (!Canceled);
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
    if (count == 0)
        return {};
    const int got = ws::Recv(SocketHandle, Buffer, count, 0);
    if (got < 0) {
        CheckSocketError(10035);
        return {};
    }
    return std::string(Buffer, static_cast<std::size_t>(got));
}

std::string TVazadezuv::ReadLn()
{
    StatusMessage(8, "ReadLn");
    TimerOn();
    ScopeExit timerOff([this] { TimerOff(); });
    std::string line;
    int taken = 0;
    int lineEnd = -1; // position of the LF in Buffer
    do {
        if (taken == kBufferSize) {
            // No line end within one buffer: not a line of this protocol. The
            // bytes taken are dropped and the caller gets a clear error.
            throw ESockError("Line too long: no line end within 65536 bytes");
        }
        const int got = ws::Recv(SocketHandle, Buffer + taken, kBufferSize - taken, ws::WS_MSG_PEEK);
        if (got == 0)
            return {};
        if (got > 0) {
            const void* lf = std::memchr(Buffer + taken, '\n', static_cast<std::size_t>(got));
            if (lf) {
                lineEnd = static_cast<int>(static_cast<const char*>(lf) - Buffer);
                break;
            }
            const int received = ws::Recv(SocketHandle, Buffer + taken, got, 0);
            if (received < 0)
                CheckSocketError(10035);
            else {
                line.append(Buffer + taken, static_cast<std::size_t>(received));
                taken += received;
            }
        } else {
            LastErrorNo = ws::WSAGetLastError();
            if (LastErrorNo == 10057)
                return {};
            CheckSocketError(10035);
        }
        platform::Application.ProcessMessages();
    } while (!Canceled);
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket readln aborted");
    }
    const int rest = lineEnd - taken + 1;
    const int received = ws::Recv(SocketHandle, Buffer + taken, rest, 0);
    if (received < 0)
        CheckSocketError(10035);
    else
        line.append(Buffer + taken, static_cast<std::size_t>(received));
    return line;
}

std::string TVazadezuv::Transaction(const std::string& Cmd)
{
    StatusMessage(8, "Transaction");
    ReplyNumber = 0;
    Writeln(Cmd);
    LastReply = ReadLn();
    if (!LastReply.empty()) {
        StatusMessage(1, LastReply);
        ReplyNumber = ParseReplyNumber(LastReply);
    }
    return LastReply;
}

void TVazadezuv::ClearInput()
{
    StatusMessage(8, "Clearing Input");
    static thread_local char scratch[kBufferSize];
    ws::Recv(SocketHandle, scratch, kBufferSize, 0);
}

// "227 Entering Passive Mode (10,0,0,1,4,1)", ',', 6 -> "1)"
// "DELE a.txt", ' ', 1 -> "DELE"
// "a,,b", ',', 2 -> ""
std::string ExtractField(const std::string& S, char Separator, std::int32_t N)
{
    std::string field;
    std::int64_t count = 0;
    for (const char c : S) {
        if (c == Separator) {
            ++count;
            if (count >= N)
                break;
        } else if (count == static_cast<std::int64_t>(N) - 1) {
            field.push_back(c);
        }
    }
    return field;
}

// "220 Service ready" -> 220
// "  220 indented"    -> 0 (no leading digit)
// "99999 too large"   -> 32767
// Up to ten leading digits are read; a value beyond the 16-bit signed range
// is saturated to 32767, so a garbage code still counts as a high number
// (above every success range) instead of wrapping into an arbitrary one.
std::int16_t ParseReplyNumber(const std::string& line)
{
    std::int64_t value = 0;
    std::size_t i = 0;
    for (; i < line.size() && i < 10 && line[i] >= '0' && line[i] <= '9'; ++i)
        value = value * 10 + (line[i] - '0');
    if (i == 0)
        return 0;
    return static_cast<std::int16_t>(std::min<std::int64_t>(value, std::numeric_limits<std::int16_t>::max()));
}

} // namespace doziz
