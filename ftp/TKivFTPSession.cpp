#include "ftp/KivFtp.h"

#include <exception>
#include <string>

namespace kivftp {

namespace {

bool StartsWithDigit(const std::string& line)
{
    return !line.empty() && line[0] >= '0' && line[0] <= '9';
}

} // namespace

void TKivFTP::Connect()
{
    Canceled = false;
    if (Connected)
        return;
    ClearInput();
    // A failure to make the TCP connection leaves from here: nothing was sent.
    TVazadezuv::Connect();
    try {
        Login();
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        try {
            Disconnect();
        } catch (const FTPException&) {
            // A refused QUIT replaces the login's exception; the connection
            // is closed all the same.
            throw;
        } catch (const doziz::ESockError&) {
            // The connection is broken (reset, closed); Disconnect has closed
            // our end. The login's exception says more than this one.
        }
        StatusMessage(1, "Disconnected");
        std::rethrow_exception(failure);
    }
}

void TKivFTP::Login()
{
    ReadGreeting();

    if (FWAuthenticate) {
        // The firewall's user name is not reported.
        LoginTransaction("USER " + FWUserID);
        if (ReplyNumber == 331) {
            StatusMessage(1, "PASS ");
            LoginTransaction("PASS " + FWPassword);
        }
    }

    if ((UserID.empty() || Password.empty()) && OnAuthenticationNeeded) {
        bool handled = false;
        OnAuthenticationNeeded(handled); // may fill in UserID and Password
    }

    ProxyDialogue();

    if (Proxy.empty() || FirewallType != TFirewallType::FTUser) {
        StatusMessage(1, "USER " + UserID);
        LoginTransaction("USER " + UserID);
    }
    if (ReplyNumber == 331) {
        // Never the password itself, at any report level.
        StatusMessage(1, "PASS ");
        LoginTransaction("PASS " + Password);
    }

    SetTransferTypeImage();
    if (OnConnect)
        OnConnect(this);
}

// "220-Welcome\r\n" " to the server\r\n" "220 Ready\r\n": the number and the
// text come from the first line, the rest is reported only.
void TKivFTP::ReadGreeting()
{
    ReplyNumber = 0;
    LastReply = ReadLn();
    if (!LastReply.empty()) {
        StatusMessage(1, LastReply);
        ReplyNumber = doziz::ParseReplyNumber(LastReply);
    }
    CheckLoginReply(LastReply, ReplyNumber > 400);
}

// A USER or PASS of the login.
void TKivFTP::LoginTransaction(const std::string& command)
{
    const std::string reply = TVazadezuv::Transaction(command);
    CheckLoginReply(reply, ReplyNumber > 400 && ReplyNumber < 600);
}

// An empty line (the server closed) and a line that is no reply at all fail
// the login as a refusal does: going on would report a login that never
// happened as a success. A line without a reply code is judged before any
// continuation line is read, since "SSH-2.0-..." would otherwise count as
// the start of a multi-line reply and wait for a line that never comes.
void TKivFTP::CheckLoginReply(const std::string& reply, bool refused)
{
    if (!StartsWithDigit(reply))
        FailLogin(reply);
    ReadContinuationLines(reply);
    if (m_replyCutShort)
        FailLogin({});
    if (refused)
        FailLogin(reply);
}

// The proxy is told where to go; its reply is not tested, but a proxy that
// closed the connection instead of answering ends the login.
void TKivFTP::ProxyDialogue()
{
    if (Proxy.empty())
        return;
    std::string reply;
    switch (FirewallType) {
    case TFirewallType::FTUser:
        reply = Transaction("USER " + UserID + "@" + Host);
        break;
    case TFirewallType::FtOpen:
        reply = Transaction("OPEN " + Host);
        break;
    case TFirewallType::FtSite:
        reply = Transaction("SITE " + Host);
        break;
    }
    if (reply.empty() || m_replyCutShort)
        FailLogin({});
}

void TKivFTP::FailLogin(const std::string& reply)
{
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (reply.empty())
        throw doziz::ESockError(kConnectionClosedText);
    throw FTPException(reply);
}

// Transfers run in image type: in the default ASCII type a server that
// translates line ends corrupts every binary file. The reply is not tested;
// a server that refuses keeps its default, and the login stands.
void TKivFTP::SetTransferTypeImage()
{
    StatusMessage(1, "TYPE I");
    Transaction("TYPE I");
}

void TKivFTP::Disconnect()
{
    Canceled = false;
    if (!Connected)
        return;
    StatusMessage(1, "QUIT");
    try {
        m_directoryList.reset();
        Vendor = kVendorUnknown;
        DiscardStaleInput();
        const std::string reply = Transaction("QUIT");
        if (ReplyNumber > 300 && ReplyNumber < 600)
            throw FTPException(reply);
    } catch (...) {
        TVazadezuv::Disconnect();
        throw;
    }
    TVazadezuv::Disconnect();
}

void TKivFTP::Abort()
{
    // Only the data connection: a time-out or a user's Abort never ends a
    // wait for a reply on the control connection.
    if (m_dataSocket)
        m_dataSocket->Cancel();
}

} // namespace kivftp
