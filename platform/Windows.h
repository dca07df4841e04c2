#pragma once

// Hidden message targets ("windows") with a window procedure and one owner
// slot, posted messages, interval timers and a short sleep. Targets are named
// by id, never by pointer: a message for a destroyed target is dropped.
//
// Everything here runs on the user-interface thread (the thread that first
// used the event loop), except PostMessage, which any thread may call.

#include "platform/Messages.h"

#include <cstdint>
#include <string>

namespace platform {

using HWND = std::uint32_t; // 0 means no window
using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Whether a class of that name is registered.
bool GetClassInfo(const std::string& className);
// Registers a class once per process; false when the name is taken or empty.
bool RegisterClass(const std::string& className, WNDPROC windowProc);
// Creates a hidden target of a registered class; 0 when there is no such class.
HWND CreateHiddenWindow(const std::string& className);
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);

// The one owner slot of a target (index 0 of its extra bytes).
void SetWindowOwner(HWND window, void* owner);
void* GetWindowOwner(HWND window);

// Default handling of a message the target does not take: nothing, answer 0.
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Queues a message for the target; the pump dispatches it later. Thread-safe.
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Starts (or restarts) timer `id` of the target: WM_TIMER with wParam `id`
// is posted after each interval. At most one WM_TIMER of a timer waits in the
// queue at a time. Returns `id`, or 0 when the target does not exist or the
// interval is 0.
std::uintptr_t SetTimer(HWND window, std::uintptr_t id, UINT milliseconds);
// Stops the timer and withdraws its WM_TIMER if one is waiting.
bool KillTimer(HWND window, std::uintptr_t id);

void Sleep(UINT milliseconds);

} // namespace platform
