#pragma once

// The application object: dispatching waiting messages, the top-level
// exception report and termination.

#include <exception>
#include <functional>
#include <string>

namespace platform {

class TApplication {
public:
    // Dispatches every waiting message (socket notifications, timers, and the
    // window's events when a window exists) and returns.
    void ProcessMessages();

    // Reports an exception that escaped a dispatched message or a timer
    // event: through OnException when assigned, else on standard error.
    void HandleException(std::exception_ptr error);

    // Requests the end of Run().
    void Terminate() { m_terminated = true; }
    bool Terminated() const { return m_terminated; }

    // The headless message loop: pumps until Terminate().
    void Run();

    std::string Title;
    std::function<void(std::exception_ptr)> OnException;

private:
    bool m_terminated = false;
};

extern TApplication Application;

} // namespace platform
