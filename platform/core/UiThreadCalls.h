#pragma once

#include <functional>

// The hand-over of calls from any thread to the UI thread. The calls wait in
// a queue under a std::mutex and an eventfd only wakes the UI thread: a call
// handed over through Qt's own event queue is synchronised by locks that
// thread checkers cannot see, so everything it carries would be reported as
// a race. The hand-over is a child of the application object and goes away
// with it; calls still queued then are destroyed unrun, on the UI thread.

/// Makes the hand-over if there is none. Only the UI thread can (anywhere
/// else, or without an application object, nothing happens): whoever will
/// hand calls over from other threads calls this first, on the UI thread.
void PrepareUiThreadCalls();

/// Whether the calling thread is the UI thread.
bool IsUiThread();

/// Queues `call` to run on the UI thread, after the calls queued before it
/// and one at a time (a call that runs a nested event loop does not hold
/// back those behind it). False when there is no hand-over (none was made,
/// or the application object went away): `call` is then destroyed unrun
/// before this returns. Any thread.
bool PostToUiThread(std::function<void()> call);
