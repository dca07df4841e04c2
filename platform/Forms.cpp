#include "platform/Forms.h"

#include "platform/EventLoop.h"

#include <cstdio>

namespace platform {

TApplication Application;

void TApplication::ProcessMessages()
{
    loop::ProcessMessages();
}

void TApplication::HandleException(std::exception_ptr error)
{
    if (!error)
        return;
    if (OnException) {
        try {
            OnException(error);
        } catch (...) {
            // The report itself failed; nothing more can be said.
        }
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "unknown exception\n");
    }
}

void TApplication::Run()
{
    while (!m_terminated)
        loop::ProcessMessages();
}

} // namespace platform
