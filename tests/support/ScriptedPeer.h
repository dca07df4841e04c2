#pragma once

// A scripted loopback FTP/TCP peer for wire-level tests.
//
// The peer listens on 127.0.0.1 on a free port. The test adds steps, calls
// Start(), then drives the client under test on its own thread (the client
// blocks that thread while it pumps messages); the steps run meanwhile on the
// peer's thread, in order, against the first connection accepted (the
// control connection).
//
// Every blocking step gives up after its time-out, records an error and ends
// the script; a mismatch in Expect is recorded and the script goes on, so the
// transcript shows what the client did next. Nothing the peer does waits
// without a bound, and the destructor stops the thread within 5 s whatever
// the script is doing.
//
// Connections stay open after the script ends, until the peer is destroyed.
// Received() holds the bytes read from the control connection(s), in order:
// those the steps read, and at the end of the script whatever had already
// arrived. AcceptControl closes the previous control connection gracefully.
//
//     testsupport::ScriptedPeer peer;
//     peer.Send("220 ready\r\n")
//         .ExpectAndReply("USER bob\r\n", "331 password\r\n")
//         .ExpectAndReply("PASS pw\r\n", "230 in\r\n");
//     peer.Start();
//     ... client.Connect() against peer.Port() ...
//     ASSERT_TRUE(peer.Finish());
//     EXPECT_THAT(peer.Errors(), testing::IsEmpty());

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();

    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    std::uint16_t Port() const;

    // Control connection steps. The control connection is accepted by the
    // first step that needs it.
    ScriptedPeer& Send(const std::string& bytes);
    ScriptedPeer& Expect(const std::string& line, int timeoutMs = 5000);
    ScriptedPeer& ExpectAndReply(const std::string& line, const std::string& reply);
    // Reads one line and records a mismatch unless it starts with `prefix`
    // (for lines whose tail the test cannot know, such as "PORT 127,0,0,1,").
    ScriptedPeer& ExpectPrefix(const std::string& prefix, int timeoutMs = 5000);
    ScriptedPeer& ExpectPrefixAndReply(const std::string& prefix, const std::string& reply);
    ScriptedPeer& ReadLine(int timeoutMs = 5000);
    ScriptedPeer& Sleep(int ms);
    ScriptedPeer& Close();
    ScriptedPeer& Reset();
    ScriptedPeer& WaitClientClose(int timeoutMs = 5000);
    ScriptedPeer& AcceptControl(int timeoutMs = 5000);

    // Data connections. PassiveListen opens its listener immediately, on the
    // caller's thread; SendPassiveReply and AcceptData steps added after it
    // use that listener, so a script may hold several transfers.
    ScriptedPeer& PassiveListen();
    std::uint16_t DataListenPort() const;
    ScriptedPeer& SendPassiveReply();
    ScriptedPeer& AcceptData(int timeoutMs = 5000);
    ScriptedPeer& ConnectData(int timeoutMs = 5000);
    ScriptedPeer& SendData(const std::string& bytes);
    ScriptedPeer& ReceiveData(int timeoutMs = 5000);
    ScriptedPeer& CloseData();
    ScriptedPeer& ResetData();

    // Runs `action` on the peer's thread at this point of the script. It must
    // not block without a bound.
    ScriptedPeer& Do(std::function<void()> action);

    // "227 Entering Passive Mode (127,0,0,1,p1,p2).\r\n" for `port`.
    static std::string PassiveReply(std::uint16_t port);

    void Start();
    bool Finish(int timeoutMs = 10000);
    std::string Received() const;
    std::string DataReceived() const;
    std::vector<std::string> Errors() const;

    struct State;

private:
    using Step = std::function<bool(State&)>;
    ScriptedPeer& Add(std::string name, Step step);

    std::shared_ptr<State> m_state;
};

}
