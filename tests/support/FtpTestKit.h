#pragma once

// What the FTP component's wire tests share: the code of an operation as a
// number, the queries of an event log, the outcome of a call as
// "type: message", and the plain login as the component makes it.

#include "ftp/KivFtp.h"
#include "support/ScriptedPeer.h"

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

inline int Code(kivftp::TCmdType code)
{
    return static_cast<int>(code);
}

// Events and status texts in the order raised: status texts as "S:<text>",
// events by name with their code ("OnFailure(5)"). Each test program
// attaches the events it follows.
struct EventRecord {
    std::vector<std::string> entries;

    // Entries that are not status texts.
    std::vector<std::string> Events() const
    {
        std::vector<std::string> out;
        for (const auto& e : entries)
            if (e.rfind("S:", 0) != 0)
                out.push_back(e);
        return out;
    }

    std::vector<std::string> Statuses() const
    {
        std::vector<std::string> out;
        for (const auto& e : entries)
            if (e.rfind("S:", 0) == 0)
                out.push_back(e.substr(2));
        return out;
    }

    bool Has(const std::string& entry) const { return IndexOf(entry) >= 0; }

    // Index of the first entry equal to `entry`, or -1.
    int IndexOf(const std::string& entry) const
    {
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i] == entry)
                return static_cast<int>(i);
        return -1;
    }

protected:
    // The outcome events every log follows.
    void AttachOutcomes(kivftp::TKivFTP& ftp)
    {
        ftp.OnStatus = [this](platform::TComponent*, const std::string& s) { entries.push_back("S:" + s); };
        ftp.OnSuccess = [this](kivftp::TCmdType c) { entries.push_back("OnSuccess(" + std::to_string(Code(c)) + ")"); };
        ftp.OnUnSupportedFunction = [this](kivftp::TCmdType c) {
            entries.push_back("OnUnSupportedFunction(" + std::to_string(Code(c)) + ")");
        };
        ftp.OnFailure = [this](bool&, kivftp::TCmdType c) {
            entries.push_back("OnFailure(" + std::to_string(Code(c)) + ")");
        };
    }
};

// What a call ended with: "ok", or the most derived known exception type and
// its message, e.g. "FTPException: 530 Login incorrect.\r\n".
inline std::string Outcome(const std::function<void()>& call)
{
    try {
        call();
    } catch (const kivftp::FTPException& e) {
        return "FTPException: " + e.Message;
    } catch (const doziz::EAbortError& e) {
        return "EAbortError: " + e.Message;
    } catch (const doziz::ESockError& e) {
        return "ESockError: " + e.Message;
    } catch (const platform::EConvertError& e) {
        return "EConvertError: " + e.Message;
    } catch (const platform::EStreamError& e) {
        return "EStreamError: " + e.Message;
    } catch (const platform::Exception& e) {
        return "Exception: " + e.Message;
    } catch (const std::exception& e) {
        return std::string("std::exception: ") + e.what();
    }
    return "ok";
}

// Points the component at the peer with a user and password.
inline void PointAt(kivftp::TKivFTP& ftp, const ScriptedPeer& peer, const std::string& user = "bob",
                    const std::string& password = "s3cret", std::int32_t timeOut = 5000)
{
    ftp.Host = "127.0.0.1";
    ftp.Port = peer.Port();
    ftp.TimeOut = timeOut;
    ftp.UserID = user;
    ftp.Password = password;
}

// The steps of a plain login as the component makes it.
inline ScriptedPeer& ScriptLogin(ScriptedPeer& peer, const std::string& user = "bob",
                                 const std::string& password = "s3cret")
{
    return peer.Send("220 Service ready\r\n")
        .ExpectAndReply("USER " + user + "\r\n", "331 Password required\r\n")
        .ExpectAndReply("PASS " + password + "\r\n", "230 Logged in\r\n")
        .ExpectAndReply("TYPE I\r\n", "200 Type set to I\r\n");
}

// The bytes that login sends.
inline std::string LoginBytes(const std::string& user = "bob", const std::string& password = "s3cret")
{
    return "USER " + user + "\r\nPASS " + password + "\r\nTYPE I\r\n";
}

} // namespace testsupport
