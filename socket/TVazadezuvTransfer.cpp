#include "socket/Doziz.h"

#include "platform/Forms.h"

#include <algorithm>

namespace doziz {

namespace ws = platform::winsock;

namespace {

void Fire(const TNotifyEvent& event, TComponent* sender)
{
    if (event)
        event(sender);
}

} // namespace

// Sends the first n bytes of Buffer, counting them and raising OnPacketSent
// after every send call that moved data, pumping messages between calls.
// Ends early on Canceled; returns false when a send call took nothing.
bool TVazadezuv::SendBlock(int n)
{
    int remaining = n;
    do {
        const int sent = ws::Send(SocketHandle, Buffer + (n - remaining), remaining, 0);
        if (sent == 0)
            return false;
        if (sent > 0) {
            remaining -= sent;
            BytesSent += sent;
            Fire(OnPacketSent, this);
        } else {
            CheckSocketError(10035);
        }
        platform::Application.ProcessMessages();
    } while (remaining != 0 && !Canceled);
    return true;
}

void TVazadezuv::SendFile(const std::string& FileName)
{
    StatusMessage(8, "SendFile");
    platform::TFileStream file(FileName, platform::FileMode::OpenRead);
    const std::int64_t size = file.Size();
    std::int64_t position = 0;
    while (!Canceled && position < size) {
        const int n = static_cast<int>(file.Read(Buffer, kBufferSize));
        if (n == 0)
            break; // the file shrank under us: what is left is sent
        position += n;
        SendBlock(n);
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
}

void TVazadezuv::SendStream(platform::TStream& Stream)
{
    StatusMessage(8, "SendStream");
    if (!Canceled) {
        BytesSent = 0;
        BytesTotal = Stream.Size();
        std::int64_t position = Stream.Position();
        // A start beyond the end sends nothing.
        while (position < BytesTotal && !Canceled) {
            const std::int64_t want = std::min<std::int64_t>(BytesTotal - position, kBufferSize);
            const int n = static_cast<int>(Stream.Read(Buffer, want));
            if (n == 0)
                break;
            position += n;
            if (!SendBlock(n))
                return; // a send that took nothing ends the stream at once
        }
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
}

void TVazadezuv::AppendFile(const std::string& FileName)
{
    StatusMessage(8, "Append File");
    BytesRecvd = 0;
    platform::TFileStream file(FileName, platform::FileMode::OpenWrite);
    file.Seek(0, SEEK_END);
    while (Connected && !Canceled) {
        const int got = ws::Recv(SocketHandle, Buffer, kBufferSize, 0);
        if (got > 0) {
            file.Write(Buffer, got);
            BytesRecvd += got;
            Fire(OnPacketRecvd, this);
        } else if (got < 0) {
            CheckSocketError(10035);
        }
        platform::Application.ProcessMessages();
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError("Socket send aborted");
    }
}

void TVazadezuv::CaptureFile(const std::string& FileName)
{
    StatusMessage(8, "CaptureFile");
    BytesRecvd = 0;
    TimerOn();
    try {
        {
            platform::TFileStream file(FileName, platform::FileMode::Create);
            while (!Canceled) {
                const int got = ws::Recv(SocketHandle, Buffer, kBufferSize, 0);
                if (got > 0) {
                    file.Write(Buffer, got);
                    BytesRecvd += got;
                    Fire(OnPacketRecvd, this);
                    // TimeOut bounds the silence between blocks, not the whole transfer.
                    RestartTimer();
                } else if (got < 0) {
                    LastErrorNo = ws::WSAGetLastError();
                    if (LastErrorNo == 10057)
                        break;
                    CheckSocketError(10035);
                } else {
                    break; // the peer has closed
                }
                platform::Application.ProcessMessages();
            }
        }
        if (Canceled) {
            Canceled = false;
            throw EAbortError("Socket send aborted");
        }
    } catch (...) {
        TimerOff();
        throw;
    }
    TimerOff();
}

} // namespace doziz
