#include "ftp/KivFtp.h"

#include "platform/Classes.h"
#include "platform/SysUtils.h"

#include <cstdint>
#include <string>

namespace kivftp {

namespace {

// How long UploadUnique waits for the server's final reply to begin
// arriving before it reports "226 Upload OK" and leaves the reply unread.
constexpr std::int64_t kUniqueReplyWaitMs = 950;

std::int64_t MeasureLocalFile(const std::string& fileName)
{
    platform::TFileStream file(fileName, platform::FileMode::OpenRead);
    return file.Size();
}

} // namespace

// Every exception that ends an Upload is offered to OnFailure once more,
// with code 9; a handler that sets Handled makes Upload return normally.
void TKivFTP::Upload(const std::string& LocalFile, const std::string& RemoteFile)
{
    try {
        RunUpload(UploadKind::Store, LocalFile, RemoteFile, 0);
    } catch (...) {
        if (!HandledByOnFailure(TCmdType::ctUpload))
            throw;
    }
}

void TKivFTP::UploadRestore(const std::string& LocalFile, const std::string& RemoteFile, std::int64_t StartPos)
{
    RunUpload(UploadKind::Restore, LocalFile, RemoteFile, StartPos);
}

void TKivFTP::UploadAppend(const std::string& LocalFile, const std::string& RemoteFile)
{
    RunUpload(UploadKind::Append, LocalFile, RemoteFile, 0);
}

void TKivFTP::UploadUnique(const std::string& LocalFile)
{
    RunUpload(UploadKind::Unique, LocalFile, std::string(), 0);
}

// Only Upload takes the lock; no upload sends ABOR.
void TKivFTP::RunUpload(UploadKind kind, const std::string& LocalFile, const std::string& RemoteFile,
                        std::int64_t StartPos)
{
    RefuseSecondTransfer();
    Canceled = false;
    CheckConnection();
    const bool locked = kind == UploadKind::Store;
    if (locked)
        m_lock.Enter();
    bool passed = false;
    try {
        DiscardStaleInput();
        CreateDataSocket();
        passed = RunUploadStages(kind, LocalFile, RemoteFile, StartPos);
    } catch (...) {
        EndDataOperation(false, locked);
        throw;
    }
    EndDataOperation(false, locked);
    if (passed)
        RaiseSuccess(kind == UploadKind::Append ? TCmdType::ctAppend : TCmdType::ctUpload);
}

bool TKivFTP::RunUploadStages(UploadKind kind, const std::string& LocalFile, const std::string& RemoteFile,
                              std::int64_t StartPos)
{
    const TCmdType code = kind == UploadKind::Append ? TCmdType::ctAppend : TCmdType::ctUpload;
    const std::string name = RemoteFile.empty() ? platform::ExtractFileName(LocalFile) : RemoteFile;
    const std::string shownName = RemoteFile.empty() ? LocalFile : RemoteFile;

    if (kind == UploadKind::Unique) {
        // Always active, whatever Passive says; the size is measured once
        // the listener is open.
        ListenForData();
        BytesTotal = MeasureLocalFile(LocalFile);
        if (!AnnouncePort(code, true, false))
            return false;
        m_dataSocket->OnPacketSent = ProgressKeepingTimer(OnPacketSent);
    } else {
        BytesTotal = MeasureLocalFile(LocalFile);
        m_dataSocket->OnPacketSent = ProgressKeepingTimer(OnPacketSent);
        if (!SetUpDataConnection(Passive, code))
            return false;
    }

    std::string reply;
    switch (kind) {
    case UploadKind::Store:
        StatusMessage(1, "STOR " + shownName);
        reply = Transaction("STOR " + name);
        break;
    case UploadKind::Restore: {
        const std::string rest = "REST " + std::to_string(StartPos);
        StatusMessage(1, rest + "STOR ");
        // A server that refuses REST would store what follows as the whole
        // file: the tail of the local file must not end up stored so.
        const std::string restReply = Transaction(rest);
        RequireReply(restReply);
        if (FailsTest(400, 599, code, restReply, true))
            return false;
        reply = Transaction("STOR " + name);
        break;
    }
    case UploadKind::Append:
        StatusMessage(1, "APPE " + shownName);
        reply = Transaction("APPE " + name);
        break;
    case UploadKind::Unique:
        StatusMessage(1, "STOU");
        reply = Transaction("STOU");
        break;
    }
    RequireReply(reply);
    // A resumed upload's STOR fails from 400 on, so a 350 passes.
    if (FailsTest(kind == UploadKind::Restore ? 400 : 301, 599, code, reply, true))
        return false;

    AcceptDataConnection(kind == UploadKind::Unique ? false : Passive);
    FireNotify(OnTransactionStart);

    if (kind == UploadKind::Restore) {
        // Opened, positioned and closed also when the data phase is skipped.
        platform::TFileStream file(LocalFile, platform::FileMode::OpenRead);
        file.SetPosition(StartPos);
        if (DataPhaseAllowed()) {
            WithDataTimer([&] { m_dataSocket->SendStream(file); });
            RaiseIfDataConnectionReset();
        }
    } else if (DataPhaseAllowed()) {
        WithDataTimer([&] { m_dataSocket->SendFile(LocalFile); });
        RaiseIfDataConnectionReset();
    }

    FireNotify(OnTransactionStop);
    // Every upload, STOU included, lets its queued data go out on close: an
    // abortive close would drop the end of the file in flight.
    CloseDataConnection(true);

    if (kind != UploadKind::Unique) {
        ReadFinalReply(reply);
        return true;
    }

    // The final reply of STOU is not read line by line: what has arrived is
    // dropped, and the status repeats the STOU reply. Waiting a moment for it
    // keeps a reply that comes just after the close from being taken for the
    // reply to the next command. Its continuation lines are not waited for:
    // they have been dropped with it, and a wait for them would never end.
    std::string text = reply;
    if (DataPhaseAllowed()) {
        if (WaitForControlData(kUniqueReplyWaitMs))
            Read(0);
        else
            text = "226 Upload OK";
    }
    StatusMessage(1, text);
    return true;
}

} // namespace kivftp
