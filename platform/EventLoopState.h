#pragma once

// Internal to the platform layer: the state shared by the event loop, the
// message targets, the timers and the sockets. Only platform/*.cpp include it.

#include "platform/Windows.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform::detail {

using Clock = std::chrono::steady_clock;

struct Message {
    HWND window = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    // A host look-up completion carries its addresses (network order).
    std::shared_ptr<std::vector<std::uint32_t>> addresses;
    bool isLookup = false;
};

struct Window {
    std::string className;
    WNDPROC proc = nullptr;
    void* owner = nullptr;
};

struct Timer {
    HWND window = 0;
    std::uintptr_t id = 0;
    UINT interval = 0;
    Clock::time_point due;
    bool posted = false; // a WM_TIMER of it waits in the queue
};

enum class SocketState { Fresh, Connecting, Connected, Listening, Failed };

struct Socket {
    HWND window = 0;
    UINT message = 0;
    long mask = 0;
    SocketState state = SocketState::Fresh;
    bool readArmed = true;   // the next arrival of data posts FD_READ
    bool acceptArmed = true; // the next pending connection posts FD_ACCEPT
    bool peerClosed = false; // end of stream or error seen
    int closeError = 0;      // desktop error number of a reset, else 0
    bool closePosted = false;
    bool wantWrite = false; // a send would have blocked: wake when writable
    std::uint32_t registered = 0; // epoll events currently registered
};

struct Lookup {
    HWND window = 0;
    char* buffer = nullptr;
    int bufferLength = 0;
};

class Loop {
public:
    static Loop& Instance();

    // Messages.
    bool Post(Message m);
    void PurgeMessages(const std::function<bool(const Message&)>& match);
    bool DispatchReady();
    void Pump();

    // Targets.
    std::unordered_map<std::string, WNDPROC> classes;
    std::unordered_map<HWND, Window> windows;
    HWND nextWindow = 1;

    // Timers.
    std::vector<Timer> timers;
    int MillisecondsToNextTimer() const;

    // Sockets.
    std::unordered_map<int, Socket> sockets;
    void UpdateRegistration(int fd, Socket& s);
    void Unregister(int fd, Socket& s);
    void MaybePostClose(int fd, Socket& s);
    void PostSocketEvent(int fd, const Socket& s, std::uint16_t event, int error);

    // Look-ups in flight, by handle.
    std::unordered_map<std::uintptr_t, Lookup> lookups;
    std::uintptr_t nextLookup = 1;

    int epollFd = -1;
    int wakeFd = -1;
    bool progress = false;
    std::function<void(int)> foreignPump;

private:
    Loop();
    bool CollectReadiness(int timeoutMs);
    void HandleSocketReadiness(int fd, std::uint32_t events);
    void FireDueTimers();
    void Dispatch(Message& m);

    std::mutex m_queueMutex;
    std::deque<Message> m_queue;
};

} // namespace platform::detail
