#pragma once

// Unit KivFtp: the FTP client component TKivFTP, its exception FTPException
// and its listing parsers.
//
// TKivFTP is a TVazadezuv whose own socket is the FTP control connection.
// Every operation blocks until it ends while pumping messages, reports its
// outcome through OnSuccess / OnFailure / OnUnSupportedFunction with a
// TCmdType code, and raises FTPException for a refused reply. Listings and
// transfers run over a second TVazadezuv, the DataSocket, that exists only
// while they run.

#include "ftp/FTPDirectoryList.h"
#include "socket/Doziz.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kivftp {

using doziz::THandlerEvent;
using doziz::TVazadezuv;
using platform::TComponent;
using platform::TNotifyEvent;

// A refused reply; the message is the reply's first line with its line end.
class FTPException : public platform::Exception {
public:
    using platform::Exception::Exception;
};

enum class TCmdType : std::uint8_t {
    ctChangeDir,
    ctMakeDir,
    ctDelete,
    ctRemoveDir,
    ctList,
    ctRename,
    ctUploadRestore,
    ctDownloadRestore,
    ctDownload,
    ctUpload,
    ctAppend,
    ctReinitialize,
    ctCommandExchange,
    ctNameList,
    ctDoCommand,
    ctCurrentDir,
};

enum class TFirewallType : std::uint8_t {
    FTUser,
    FtOpen,
    FtSite,
};

using TFailureEvent = std::function<void(bool& Handled, TCmdType Trans_Type)>;
using TSuccessEvent = std::function<void(TCmdType Trans_Type)>;
using TUnsupportedEvent = std::function<void(TCmdType Trans_Type)>;
using TKivListItem = std::function<void(const std::string& Listing)>;

// Vendor value meaning "server system not yet determined".
constexpr std::int32_t kVendorUnknown = 2411;

class TKivFTP : public TVazadezuv {
public:
    explicit TKivFTP(TComponent* owner);
    ~TKivFTP() override;

    // Session.
    void Connect() override;
    void Disconnect() override;
    void Abort() override;

    // Replies.
    std::string Transaction(const std::string& Command) override;
    void ReadContinuationLines(std::string Line);
    void ReadLateReply();

    // Single-reply commands.
    void DoCommand(const std::string& Command);
    void ChangeDir(const std::string& Directory);
    void MakeDirectory(const std::string& Directory);
    void Delete(const std::string& FileName);
    void RemoveDir(const std::string& Directory);
    void Reinitialize();
    void Rename(const std::string& FromName, const std::string& ToName);

    // Listings.
    void List();
    void Nlist();

    // Downloads and uploads.
    void Download(const std::string& RemoteFile, const std::string& LocalFile);
    void DownloadRestore(const std::string& RemoteFile, const std::string& LocalFile);
    void Upload(const std::string& LocalFile, const std::string& RemoteFile);
    void UploadRestore(const std::string& LocalFile, const std::string& RemoteFile, std::int64_t StartPos);
    void UploadAppend(const std::string& LocalFile, const std::string& RemoteFile);
    void UploadUnique(const std::string& LocalFile);

    // Progress of the running transfer: the DataSocket's counters, 0 when
    // no transfer runs.
    std::int64_t BytesRecvd() const;
    std::int64_t BytesSent() const;

    // Published properties.
    std::string UserID;
    std::string Password;
    bool Passive = false;
    std::int32_t Vendor = kVendorUnknown;
    bool ParseList = false;
    TFirewallType FirewallType = TFirewallType::FTUser;
    std::string FWUserID;
    std::string FWPassword;
    bool FWAuthenticate = false;

    // Events (OnConnect hides the TCP-level event of the base).
    TNotifyEvent OnConnect;
    TNotifyEvent OnTransactionStart;
    TNotifyEvent OnTransactionStop;
    THandlerEvent OnAuthenticationNeeded;
    THandlerEvent OnAuthenticationFailed;
    TFailureEvent OnFailure;
    TSuccessEvent OnSuccess;
    TKivListItem OnListItem;
    TUnsupportedEvent OnUnSupportedFunction;

    // The listing parser of the last List with ParseList on; may be null.
    TFTPDirectoryList* DirectoryList() const { return m_directoryList.get(); }
    // The data connection of the running listing or transfer; may be null.
    TVazadezuv* DataSocket() const { return m_dataSocket; }

protected:
    // Reads and drops whatever waits on the control connection.
    void DiscardStaleInput();
    // The failure report for code `code` and reply text `reply`:
    // OnUnSupportedFunction (when `unsupportedTest` and ReplyNumber is 500 to
    // 502), then OnFailure; raises FTPException(reply) unless a handler set
    // Handled. Returns true when the failure was handled.
    bool ReportFailure(TCmdType code, const std::string& reply, bool unsupportedTest);
    void RaiseSuccess(TCmdType code);
    // ReadLn gives an empty line only when the server has closed the
    // connection. For an empty `reply` this closes our end as well (the
    // component is then disconnected with a fresh socket) and raises
    // ESockError(kConnectionClosedText); any other reply passes.
    void RequireReply(const std::string& reply);

    TVazadezuv* m_dataSocket = nullptr;
    std::unique_ptr<TFTPDirectoryList> m_directoryList;
    bool m_listInProgress = false;
    platform::TCriticalSection m_lock;

private:
    // Steps of Connect after the TCP connection is up.
    void Login();
    void ReadGreeting();
    void LoginTransaction(const std::string& command);
    void CheckLoginReply(const std::string& reply, bool refused);
    void ProxyDialogue();
    [[noreturn]] void FailLogin(const std::string& reply);
    void SetTransferTypeImage();

    // Set by ReadContinuationLines when the server closed the connection in
    // the middle of a multi-line reply.
    bool m_replyCutShort = false;

    // The data-connection frame shared by listings and transfers
    // (TKivFTPDataFrame.cpp).
    enum class UploadKind { Store, Restore, Append, Unique };
    void RefuseSecondTransfer() const;
    void CreateDataSocket();
    void FreeDataSocket() noexcept;
    bool SetUpDataConnection(bool passive, TCmdType code);
    bool SetUpPassive(TCmdType code);
    void ListenForData();
    bool AnnouncePort(TCmdType code, bool reportText, bool raiseAtOnce);
    bool FailsTest(std::int16_t low, std::int16_t high, TCmdType code, const std::string& reply, bool unsupportedTest);
    void AcceptDataConnection(bool passive);
    bool DataPhaseAllowed() const;
    void RaiseIfDataConnectionReset();
    void CloseDataConnection(bool lingerOff);
    void ReadFinalReply(const std::string& lastLine);
    void EndDataOperation(bool sendAbort, bool leaveLock);
    void FireNotify(const TNotifyEvent& event);
    void ArmDataTimer();
    void DisarmDataTimer();
    // Runs `wait` with the data socket's timer armed, and disarms it however
    // `wait` ends.
    template <typename Wait>
    void WithDataTimer(Wait&& wait)
    {
        ArmDataTimer();
        try {
            wait();
        } catch (...) {
            DisarmDataTimer();
            throw;
        }
        DisarmDataTimer();
    }
    TNotifyEvent ProgressKeepingTimer(TNotifyEvent handler);
    bool WaitForControlData(std::int64_t boundMs);
    bool HandledByOnFailure(TCmdType code);

    // Listings (TKivFTPList.cpp).
    bool RunListStages();
    void PrepareListParser();
    std::string ReceiveListing(std::string lastLine, bool nameList);
    std::string TakeListingLine(const std::string& raw, bool parse);
    bool RunNlistStages();

    // Downloads (TKivFTPDownload.cpp).
    void RunDownload(const std::string& RemoteFile, const std::string& LocalFile, bool restore);
    bool RunDownloadStages(const std::string& RemoteFile, const std::string& LocalFile, bool restore);

    // Uploads (TKivFTPUpload.cpp).
    void RunUpload(UploadKind kind, const std::string& LocalFile, const std::string& RemoteFile,
                   std::int64_t StartPos);
    bool RunUploadStages(UploadKind kind, const std::string& LocalFile, const std::string& RemoteFile,
                         std::int64_t StartPos);
};

// Message of the ESockError raised when the server closes the control
// connection instead of answering.
inline constexpr const char* kConnectionClosedText = "Connection closed by the server";

// Whether `line` continues a reply: it begins with a blank or has "-" as its
// fourth character. An empty line never does.
bool IsContinuationLine(const std::string& line);

// The expected size of a transfer from a reply text: the run of digits
// nearest before the first "BYTE" (any case); 0 when there is none.
std::int64_t ParseByteCount(const std::string& reply);

// The operation code of a command text sent through DoCommand.
TCmdType CommandCode(const std::string& command);

// The Vendor value for a SYST reply text.
std::int32_t VendorFromSystReply(const std::string& reply);

// The data port named by a PASV reply: low + high * 256 from the fifth and
// sixth comma-separated fields. Raises EConvertError when they hold no
// numbers or name no TCP port (1 to 65535).
std::int32_t ParsePassivePort(const std::string& reply);

} // namespace kivftp
