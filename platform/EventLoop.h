#pragma once

// The one event loop of the process.
//
// Contract:
// - Messages are queued in one FIFO and dispatched by the pump, one at a time,
//   to their target's window procedure, on the user-interface thread.
// - Pumps nest: a handler may call ProcessMessages inside a handler that a
//   pump dispatched; the inner pump takes the next messages of the same queue,
//   so their order holds across nesting.
// - Socket readiness never calls component code from inside poll: it becomes
//   a posted message, dispatched later like any other.
// - A pump pass that dispatched nothing and saw no socket move data blocks
//   until a watched socket is ready, a message is posted, a timer is due or
//   at most kIdleSliceMs have passed: a wait loop that polls and pumps costs
//   no CPU while it has nothing to do, and still re-tests its own conditions
//   at least that often.
// - When a foreign loop (the window's Qt loop) is attached, the pump also
//   runs its waiting events, and blocks inside it, so clicks and repaints
//   happen during every wait; that loop in turn watches PollFd() and calls
//   DispatchReady() when it is readable or a timer is due.

#include <functional>

namespace platform::loop {

constexpr int kIdleSliceMs = 50;

// Dispatches what is waiting; blocks as described above when nothing was.
void ProcessMessages();

// Without blocking: turns socket readiness and due timers into messages and
// dispatches every waiting message. Returns whether anything was dispatched.
bool DispatchReady();

// A descriptor that is readable when a socket or a posted message needs the
// pump (for a foreign loop to watch).
int PollFd();

// Milliseconds until the next timer is due; -1 when none runs.
int MillisecondsToNextTimer();

// Attaches the foreign loop: `pump(maxWaitMs)` runs its waiting events and,
// when maxWaitMs is above 0, may block up to that long for the next one.
void SetForeignPump(std::function<void(int maxWaitMs)> pump);

// Called by the socket layer when a call moved data, accepted a connection
// or otherwise made progress, so that the current pass does not block.
void NoteProgress();

} // namespace platform::loop
