#include "ftp/KivFtp.h"

#include "platform/Classes.h"

#include <cstdint>
#include <string>

namespace kivftp {

namespace {

// The size of an existing local file, the offset a resumed download starts
// from; 0 when the file cannot be opened.
std::int64_t LocalFileSize(const std::string& fileName)
{
    try {
        platform::TFileStream file(fileName, platform::FileMode::OpenRead);
        return file.Size();
    } catch (const platform::Exception&) {
        return 0;
    }
}

} // namespace

// Every exception that ends a Download is offered to OnFailure once more,
// with code 9; a handler that sets Handled makes Download return normally.
void TKivFTP::Download(const std::string& RemoteFile, const std::string& LocalFile)
{
    try {
        RunDownload(RemoteFile, LocalFile, false);
    } catch (...) {
        if (!HandledByOnFailure(TCmdType::ctUpload))
            throw;
    }
}

void TKivFTP::DownloadRestore(const std::string& RemoteFile, const std::string& LocalFile)
{
    RunDownload(RemoteFile, LocalFile, true);
}

// Download takes the lock, DownloadRestore does not; both send ABOR in the
// clean-up after a Cancel.
void TKivFTP::RunDownload(const std::string& RemoteFile, const std::string& LocalFile, bool restore)
{
    RefuseSecondTransfer();
    const TCmdType code = restore ? TCmdType::ctDownload : TCmdType::ctUpload;
    Canceled = false;
    CheckConnection();
    const bool locked = !restore;
    if (locked)
        m_lock.Enter();
    bool passed = false;
    try {
        DiscardStaleInput();
        CreateDataSocket();
        std::string localPath = LocalFile.empty() ? RemoteFile : LocalFile;
        if (restore)
            m_dataSocket->OnPacketRecvd = ProgressKeepingTimer(OnPacketRecvd);
        else if (OnPacketRecvd)
            m_dataSocket->OnPacketRecvd = OnPacketRecvd;
        passed = RunDownloadStages(RemoteFile, localPath, restore);
    } catch (...) {
        EndDataOperation(true, locked);
        throw;
    }
    EndDataOperation(true, locked);
    if (passed)
        RaiseSuccess(code);
}

// A resumed download tests the reply to REST: a server that refuses it would
// send the file from its first byte, and appending that to the local data
// would corrupt the file. The refusal goes to the failure report (code 8,
// with the unsupported test) and nothing is transferred.
bool TKivFTP::RunDownloadStages(const std::string& RemoteFile, const std::string& LocalFile, bool restore)
{
    const TCmdType code = restore ? TCmdType::ctDownload : TCmdType::ctUpload;
    if (!SetUpDataConnection(Passive, code))
        return false;
    std::int64_t offset = 0;
    if (restore)
        offset = LocalFileSize(LocalFile);
    StatusMessage(1, (restore ? "REST RETR " : "RETR ") + RemoteFile);
    BytesTotal = 0;
    if (restore) {
        const std::string restReply = TVazadezuv::Transaction("REST " + std::to_string(offset));
        RequireReply(restReply);
        if (FailsTest(400, 599, code, restReply, true))
            return false;
    }

    // Only the first line here: the continuation lines are read below, each
    // looked at for the announced size.
    std::string line = TVazadezuv::Transaction("RETR " + RemoteFile);
    RequireReply(line);
    if (FailsTest(301, 599, code, line, false))
        return false;
    BytesTotal = ParseByteCount(line);
    while (IsContinuationLine(line)) {
        line = ReadLn();
        StatusMessage(1, line);
        if (BytesTotal == 0)
            BytesTotal = ParseByteCount(line);
    }
    AcceptDataConnection(Passive);
    BytesTotal = ParseByteCount(line);
    FireNotify(OnTransactionStart);

    if (DataPhaseAllowed()) {
        if (restore) {
            WithDataTimer([&] { m_dataSocket->AppendFile(LocalFile); });
        } else {
            m_dataSocket->CaptureFile(LocalFile);
        }
        RaiseIfDataConnectionReset();
    }

    FireNotify(OnTransactionStop);
    CloseDataConnection(false);
    BytesTotal = m_dataSocket->BytesRecvd;
    StatusMessage(1, "Received " + std::to_string(BytesTotal) + " Bytes");
    ReadFinalReply(line);
    FireNotify(OnTransactionStop);
    return true;
}

} // namespace kivftp
