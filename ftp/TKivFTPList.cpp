#include "ftp/KivFtp.h"

#include "platform/Forms.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace kivftp {

namespace {

using Clock = std::chrono::steady_clock;

// How long List waits for the final reply once the data connection has
// closed, when TimeOut is 0 and so names no bound of its own.
constexpr std::int64_t kFinalReplyWaitMs = 30000;

struct VendorName {
    const char* text;
    std::int32_t vendor;
};

// Searched in this order; "VMS" comes before "VM" so that VMS is not taken
// for VM.
constexpr VendorName kVendorNames[] = {
    { "UNIX", 2400 },
    { "NETWARE", 2416 },
    { "DOS", 2401 },
    { "VMS", 2406 },
    { "MVS", 2408 },
    { "VM", 2402 },
    { "MACOS", 2404 },
    { "OS/400", 2414 },
};

constexpr std::int32_t kVendorOther = 2410;

// The Vendor values that select a listing parser.
bool HasParser(std::int32_t vendor)
{
    if (vendor == kVendorOther)
        return true;
    for (const VendorName& v : kVendorNames)
        if (v.vendor == vendor)
            return true;
    return false;
}

// "drwxr-xr-x 2 u g 512 Mar 3 09:15 docs\r\n" -> "drwxr-xr-x 2 u g 512 Mar 3 09:15 docs"
// "a.txt\n"                                  -> "a.txt"
// "\r\n", "x\n"                              -> unchanged: lines of one or two characters pass as they are
std::string WithoutLineEnd(const std::string& line)
{
    if (line.size() <= 2)
        return line;
    const std::size_t drop = line[line.size() - 2] == '\r' ? 2 : 1;
    return line.substr(0, line.size() - drop);
}

} // namespace

// "215 UNIX Type: L8\r\n" -> 2400; "215 Windows_NT\r\n" -> 2410;
// "215 Unix\r\n" -> 2410 (the search is case-sensitive).
std::int32_t VendorFromSystReply(const std::string& reply)
{
    for (const VendorName& v : kVendorNames)
        if (reply.find(v.text) != std::string::npos)
            return v.vendor;
    return kVendorOther;
}

void TKivFTP::List()
{
    if (m_listInProgress)
        throw platform::Exception("A list command is already being processed!");
    RefuseSecondTransfer();
    m_listInProgress = true;
    bool passed = false;
    m_lock.Enter();
    try {
        try {
            Canceled = false;
            CheckConnection();
            DiscardStaleInput();
            CreateDataSocket();
            if (ParseList)
                PrepareListParser();
            passed = RunListStages();
        } catch (...) {
            EndDataOperation(true, true);
            throw;
        }
        EndDataOperation(true, true);
        if (passed)
            RaiseSuccess(TCmdType::ctList);
    } catch (...) {
        m_listInProgress = false;
        throw;
    }
    m_listInProgress = false;
}

// Creates the parser on the first List after a connect, asking the server
// for its system when Vendor is not known yet. A Vendor that selects no
// parser leaves List without one: it then lists without parsing.
void TKivFTP::PrepareListParser()
{
    if (!m_directoryList) {
        if (Vendor == kVendorUnknown) {
            try {
                DoCommand("SYST");
            } catch (...) {
                // A refused or failed SYST never ends the listing.
            }
            Vendor = VendorFromSystReply(LastReply);
        }
        if (HasParser(Vendor))
            m_directoryList = std::make_unique<TFTPUnixList>();
    }
    if (m_directoryList)
        m_directoryList->Clear();
}

bool TKivFTP::RunListStages()
{
    if (!SetUpDataConnection(Passive, TCmdType::ctList))
        return false;
    StatusMessage(1, "LIST");
    std::string last = Transaction("LIST");
    RequireReply(last);
    if (FailsTest(301, 599, TCmdType::ctList, last, true))
        return false;
    AcceptDataConnection(Passive);
    FireNotify(OnTransactionStart);
    if (DataPhaseAllowed()) {
        last = ReceiveListing(last, false);
        RaiseIfDataConnectionReset();
    }
    FireNotify(OnTransactionStop);
    CloseDataConnection(false);
    ReadFinalReply(last);
    return true;
}

// Nlist always listens for the server's connection: it sends PORT whatever
// Passive says, and a refusal of PORT or NLST raises at once, without
// OnFailure.
void TKivFTP::Nlist()
{
    RefuseSecondTransfer();
    Canceled = false;
    CheckConnection();
    bool passed = false;
    try {
        CreateDataSocket();
        DiscardStaleInput();
        passed = RunNlistStages();
    } catch (...) {
        FreeDataSocket();
        if (Canceled)
            ReadLateReply();
        throw;
    }
    FreeDataSocket();
    if (passed)
        RaiseSuccess(TCmdType::ctNameList);
    if (Canceled)
        ReadLateReply();
}

bool TKivFTP::RunNlistStages()
{
    ListenForData();
    AnnouncePort(TCmdType::ctNameList, true, true);
    StatusMessage(1, "NLST");
    std::string last = Transaction("NLST");
    RequireReply(last);
    if (ReplyNumber > 300 && ReplyNumber < 600)
        throw FTPException(last);
    BytesTotal = ParseByteCount(last);
    AcceptDataConnection(false);
    FireNotify(OnTransactionStart);
    if (DataPhaseAllowed()) {
        last = ReceiveListing(last, true);
        RaiseIfDataConnectionReset();
    }
    FireNotify(OnTransactionStop);
    CloseDataConnection(false);
    BytesTotal = m_dataSocket->BytesRecvd;
    StatusMessage(1, "Received " + std::to_string(BytesTotal) + " Bytes");
    ReadFinalReply(last);
    return true;
}

// Counts the line's bytes as received (ReadLn itself counts nothing), hands
// it on without its line end and returns it so.
std::string TKivFTP::TakeListingLine(const std::string& raw, bool parse)
{
    m_dataSocket->BytesRecvd += static_cast<std::int64_t>(raw.size());
    const std::string line = WithoutLineEnd(raw);
    // The parser may be missing (a Vendor without one, or ParseList switched
    // on by a handler in the middle of a listing) or gone (a handler that
    // disconnected): then the line is not parsed.
    if (parse && ParseList && m_directoryList)
        m_directoryList->ParseLine(line);
    if (OnListItem)
        OnListItem(line);
    return line;
}

// Reads the listing line by line while it arrives, polling the data socket
// and pumping messages in between. Returns the last line handed on.
//
// Bounds added to the plain polling loop: an Abort ends the loop at once,
// also while no data arrives; with TimeOut set, an open data connection that
// stays silent for TimeOut milliseconds is cancelled the same way; and once
// the data connection has closed, List waits for the final reply at most
// TimeOut milliseconds (30 s when TimeOut is 0), then gives it up as timed
// out, so that the final reply is not waited for.
std::string TKivFTP::ReceiveListing(std::string lastLine, bool nameList)
{
    TVazadezuv& data = *m_dataSocket;
    const std::int64_t silenceMs = TimeOut > 0 ? TimeOut : 0;
    const std::int64_t replyWaitMs = TimeOut > 0 ? TimeOut : kFinalReplyWaitMs;
    auto lastProgress = Clock::now();
    bool closedSeen = false;
    auto closedSince = Clock::now();
    for (;;) {
        if (data.Canceled) {
            data.Canceled = false;
            throw doziz::EAbortError("Socket readln aborted");
        }
        if (data.DataAvailable()) {
            const std::string raw = data.ReadLn();
            // An empty result is the close of the data connection, never a
            // line: every line read keeps its line end.
            if (raw.empty()) {
                if (!nameList)
                    break;
            } else {
                lastLine = TakeListingLine(raw, !nameList);
                lastProgress = Clock::now();
            }
        } else {
            platform::Application.ProcessMessages();
        }

        const bool dataOpen = data.Connected;
        const bool dataWaiting = data.DataAvailable();
        const bool replyWaiting = DataAvailable();
        if (nameList) {
            if (!((dataOpen && !replyWaiting) || dataWaiting))
                break;
        } else if (!(dataOpen || !replyWaiting || dataWaiting)) {
            break;
        }

        const auto now = Clock::now();
        if (dataOpen && !dataWaiting) {
            if (silenceMs > 0 && now - lastProgress > std::chrono::milliseconds(silenceMs))
                data.Cancel();
        } else if (!dataOpen && !dataWaiting) {
            if (!closedSeen) {
                closedSeen = true;
                closedSince = now;
            } else if (now - closedSince > std::chrono::milliseconds(replyWaitMs)) {
                TimedOut = true;
                break;
            }
        }
    }
    return lastLine;
}

} // namespace kivftp
