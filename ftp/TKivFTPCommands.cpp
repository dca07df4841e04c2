#include "ftp/KivFtp.h"

#include <string>

namespace kivftp {

namespace {

char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The status text for a command: the command itself, except that a PASS
// (any case) is shown without its argument, as the login shows it.
std::string CommandStatusText(const std::string& command)
{
    const std::size_t blank = command.find(' ');
    if (blank != 4)
        return command;
    for (std::size_t i = 0; i < 4; ++i)
        if (AsciiUpper(command[i]) != "PASS"[i])
            return command;
    return command.substr(0, 5);
}

} // namespace

void TKivFTP::DoCommand(const std::string& Command)
{
    const TCmdType code = CommandCode(Command);
    Canceled = false;
    CheckConnection();
    StatusMessage(1, CommandStatusText(Command));
    DiscardStaleInput();
    const std::string reply = Transaction(Command);
    RequireReply(reply);
    if (ReplyNumber >= 400 && ReplyNumber < 600) {
        ReportFailure(code, reply, true);
        return; // handled: no OnSuccess
    }
    RaiseSuccess(code);
}

void TKivFTP::ChangeDir(const std::string& Directory)
{
    DoCommand("CWD " + Directory);
}

void TKivFTP::MakeDirectory(const std::string& Directory)
{
    DoCommand("MKD " + Directory);
}

void TKivFTP::Delete(const std::string& FileName)
{
    DoCommand("DELE " + FileName);
}

void TKivFTP::RemoveDir(const std::string& Directory)
{
    DoCommand("RMD " + Directory);
}

void TKivFTP::Reinitialize()
{
    DoCommand("REIN");
}

void TKivFTP::Rename(const std::string& FromName, const std::string& ToName)
{
    Canceled = false;
    CheckConnection();
    DiscardStaleInput();

    StatusMessage(1, "RNFR " + FromName);
    std::string reply = Transaction("RNFR " + FromName);
    RequireReply(reply);
    // 350 asks for RNTO; 351 passes as well. A handled refusal still goes on
    // to RNTO.
    if (ReplyNumber > 351 && ReplyNumber < 600)
        ReportFailure(TCmdType::ctRename, reply, false);

    StatusMessage(1, "RNTO " + ToName);
    reply = Transaction("RNTO " + ToName);
    RequireReply(reply);
    if (ReplyNumber > 300 && ReplyNumber < 600) {
        ReportFailure(TCmdType::ctRename, reply, true);
        return;
    }
    RaiseSuccess(TCmdType::ctRename);
}

} // namespace kivftp
