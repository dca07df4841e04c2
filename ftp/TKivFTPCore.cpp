#include "ftp/KivFtp.h"

#include "platform/Forms.h"
#include "platform/SysUtils.h"

#include <cstdint>
#include <limits>
#include <string>

namespace kivftp {

namespace {

// How long ReadLateReply waits for a reply that has not arrived yet, in days
// (the unit of platform::Now): 1.1e-5 days are 0.9504 seconds.
constexpr double kLateReplyWaitDays = 1.1e-5;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Position of the first "BYTE" in `text`, ASCII letters compared without
// regard to case; std::string::npos when there is none.
std::size_t FindByteWord(const std::string& text)
{
    static constexpr char kWord[] = "BYTE";
    constexpr std::size_t kWordLength = sizeof kWord - 1;
    if (text.size() < kWordLength)
        return std::string::npos;
    for (std::size_t i = 0; i + kWordLength <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < kWordLength && AsciiUpper(text[i + k]) == kWord[k])
            ++k;
        if (k == kWordLength)
            return i;
    }
    return std::string::npos;
}

} // namespace

TKivFTP::TKivFTP(TComponent* owner)
    : TVazadezuv(owner)
{
    Port = 21;
    m_dataSocket = nullptr;
    m_directoryList.reset();
    Vendor = kVendorUnknown;
    // The lock is a member: it exists from here to the end of the destructor.
}

TKivFTP::~TKivFTP()
{
    // The base destructor calls TVazadezuv::Abort, not ours, so the data
    // socket is cancelled here. No QUIT is sent. Nothing may leave a
    // destructor.
    try {
        Cancel();
    } catch (...) {
    }
    try {
        m_lock.Enter();
        m_directoryList.reset();
        m_lock.Leave();
    } catch (...) {
    }
    try {
        Abort();
    } catch (...) {
    }
}

// Replies.

std::string TKivFTP::Transaction(const std::string& Command)
{
    const std::string reply = TVazadezuv::Transaction(Command);
    ReadContinuationLines(reply);
    return reply;
}

// "230-Welcome\r\n"    -> continues (fourth character "-")
// " indented text\r\n" -> continues (leading blank)
// "230 Done\r\n"       -> ends the reply
// "ok\r\n", ""         -> end it: a missing position is neither blank nor "-"
bool IsContinuationLine(const std::string& line)
{
    if (line.empty())
        return false;
    return line[0] == ' ' || (line.size() >= 4 && line[3] == '-');
}

void TKivFTP::ReadContinuationLines(std::string Line)
{
    m_replyCutShort = false;
    while (IsContinuationLine(Line)) {
        Line = ReadLn();
        // An empty line means the server closed the connection: nothing to
        // report, and the loop ends.
        if (Line.empty())
            m_replyCutShort = true;
        else
            StatusMessage(1, Line);
    }
}

void TKivFTP::ReadLateReply()
{
    Canceled = false;
    const double started = platform::Now();
    std::string received;
    for (;;) {
        received = Read(0);
        platform::Application.ProcessMessages();
        if (!received.empty() || platform::Now() - started > kLateReplyWaitDays)
            break;
    }
    StatusMessage(1, received);
}

void TKivFTP::DiscardStaleInput()
{
    if (DataAvailable())
        Read(0);
}

bool TKivFTP::ReportFailure(TCmdType code, const std::string& reply, bool unsupportedTest)
{
    if (unsupportedTest && OnUnSupportedFunction && ReplyNumber >= 500 && ReplyNumber <= 502)
        OnUnSupportedFunction(code);
    if (!OnFailure)
        throw FTPException(reply);
    bool handled = false;
    OnFailure(handled, code);
    if (!handled)
        throw FTPException(reply);
    return true;
}

void TKivFTP::RaiseSuccess(TCmdType code)
{
    if (OnSuccess)
        OnSuccess(code);
}

void TKivFTP::RequireReply(const std::string& reply)
{
    if (!reply.empty())
        return;
    // ReadLn gives an empty line only when the server has closed the
    // connection; close our end too, so the component is cleanly down.
    TVazadezuv::Disconnect();
    throw doziz::ESockError(kConnectionClosedText);
}

// Progress.

std::int64_t TKivFTP::BytesRecvd() const
{
    return m_dataSocket ? m_dataSocket->BytesRecvd : 0;
}

std::int64_t TKivFTP::BytesSent() const
{
    return m_dataSocket ? m_dataSocket->BytesSent : 0;
}

// "150 Opening BINARY mode data connection for a.zip (1234 bytes).\r\n" -> 1234
// "150 Opening data connection (size in bytes not sent)\r\n"          -> 150
// "150 Opening data connection for BYTES.TXT (100 bytes)\r\n"           -> 150
// The digits nearest before the first "BYTE" are taken even when they are
// the reply code: that is what the servers' wording makes of it. A run that
// does not fit 64 bits, or no digit at all before "BYTE", gives 0.
std::int64_t ParseByteCount(const std::string& reply)
{
    const std::size_t word = FindByteWord(reply);
    if (word == std::string::npos)
        return 0;
    std::size_t end = word; // one past the last digit of the run
    while (end > 0 && !IsDigit(reply[end - 1]))
        --end;
    if (end == 0)
        return 0;
    std::size_t begin = end;
    while (begin > 0 && IsDigit(reply[begin - 1]))
        --begin;
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const int digit = reply[i] - '0';
        if (value > (kMax - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return value;
}

// "CWD /pub" -> ctChangeDir, "PWD" -> ctCurrentDir, "PWD " -> ctDoCommand,
// "cwd /pub" -> ctDoCommand (case counts), " CWD a" -> ctDoCommand.
TCmdType CommandCode(const std::string& command)
{
    const std::string firstWord = command.substr(0, command.find(' ')) + " ";
    if (firstWord == "CWD ")
        return TCmdType::ctChangeDir;
    if (firstWord == "DELE ")
        return TCmdType::ctDelete;
    if (firstWord == "MKD ")
        return TCmdType::ctMakeDir;
    if (firstWord == "RMD ")
        return TCmdType::ctRemoveDir;
    if (command == "PWD")
        return TCmdType::ctCurrentDir;
    return TCmdType::ctDoCommand;
}

} // namespace kivftp
